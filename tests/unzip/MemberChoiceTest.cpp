// The choice of the member to hand on, over listings as the library gives them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MemberChoice.h"

namespace {

struct Choice {
    std::string File = "C:\\TEMP\\pkg.zip";
    int Best = kNoMemberRank;
};

Choice Choose(const std::vector<std::string>& names) {
    Choice c;
    for (const auto& n : names) {
        std::vector<char> buf(n.begin(), n.end());
        buf.resize(260, '\0');
        OfferMember(buf.data(), c.Best, c.File, "C:\\TEMP\\");
    }
    return c;
}

}  // namespace

TEST(MemberChoice, RanksAndChangesTheNameInPlace) {
    struct Case {
        const char* name;
        int rank;
        const char* changed;
    };
    const Case cases[] = {
        {"BIOS/A1V1003.AWD", 0, "bios\\a1v1003.awd"},
        {"Setup.EXE", -1, "setup.exe"},
        {"disk1/SETUP.EXE", -1, "disk1\\setup.exe"},
        {"a/b/setup.exe.bak", -1, "a\\b\\setup.exe.bak"},  // the base name starts with it
        {"mysetup.exe", 0, "mysetup.exe"},
        {"x/y/mysetup.exe", 2, "x\\y\\mysetup.exe"},
        {"setup.exe/readme.txt", 1, "setup.exe\\readme.txt"},  // only a folder's name
        {"bios\\a.awd.txt", 0, "bios\\a.awd.txt"},                // ".awd" anywhere counts
        {"README/Notes.TXT", kNotCandidate, "readme/notes.txt"},   // lower-cased, slashes kept
        {"", kNotCandidate, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string buf = c.name;
        EXPECT_EQ(RankMember(&buf[0]), c.rank);
        EXPECT_STREQ(buf.c_str(), c.changed);
    }
}

TEST(MemberChoice, ChoosesOverAListing) {
    // An image in capitals under a folder, beside a text file.
    Choice c = Choose({"BIOS/", "BIOS/A1V1003.AWD", "readme.txt"});
    EXPECT_EQ(c.File, "C:\\TEMP\\bios\\a1v1003.awd");
    EXPECT_EQ(c.Best, 0);
    // A setup program in a folder beats an image at the top, whichever comes first.
    EXPECT_EQ(Choose({"a1v1003.awd", "disk1/setup.exe"}).File, "C:\\TEMP\\disk1\\setup.exe");
    EXPECT_EQ(Choose({"disk1/setup.exe", "a1v1003.awd"}).File, "C:\\TEMP\\disk1\\setup.exe");
    // Among equal ranks the last one listed wins.
    EXPECT_EQ(Choose({"old.awd", "new.awd"}).File, "C:\\TEMP\\new.awd");
    EXPECT_EQ(Choose({"mysetup.exe", "a.awd"}).File, "C:\\TEMP\\a.awd");
    EXPECT_EQ(Choose({"a.awd", "mysetup.exe"}).File, "C:\\TEMP\\mysetup.exe");
    // A deeper "setup.exe" folder loses to a shallower one, and to an image.
    EXPECT_EQ(Choose({"x/setup.exe/a.txt", "y/z/setup.exe/b.txt"}).File, "C:\\TEMP\\x\\setup.exe\\a.txt");
    EXPECT_EQ(Choose({"a.awd", "x/setup.exe/a.txt"}).File, "C:\\TEMP\\a.awd");
    // No candidate: the package itself stays named.
    Choice none = Choose({"readme.txt", "docs/"});
    EXPECT_EQ(none.File, "C:\\TEMP\\pkg.zip");
    EXPECT_EQ(none.Best, kNoMemberRank);
}
