// unzip32.dll as the wizard meets it: loaded by name, entered through
// windll_unzip with a DCL and a USERFUNCTIONS record.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "UnzipApi.h"
#include "ZipBuilder.h"

using namespace ziptest;

namespace {

struct Reported {
    unsigned long Size, CompressedSize;
    unsigned Ratio, Month, Day, Year, Hour, Minute, Second;
    std::string Name, Method;
    unsigned long Crc;
    char Encrypted;
};
std::vector<Reported> Members;
std::string Printed;
int ReplaceAnswer = 1;
std::vector<std::string> ReplaceAsked;

void WINAPI Record(unsigned long size, unsigned long csize, unsigned ratio, unsigned month, unsigned day,
                   unsigned year, unsigned hour, unsigned minute, unsigned second, LPSTR name, LPCSTR method,
                   unsigned long crc, char encrypted) {
    Members.push_back({size, csize, ratio, month, day, year, hour, minute, second, name, method, crc, encrypted});
    // The buffer is the call-back's to change; the library must not care.
    std::strcpy(name, "CHANGED.TXT");
}
int WINAPI Print(LPSTR text, unsigned long length) {
    EXPECT_EQ(std::strlen(text), length);
    Printed.append(text, length);
    return static_cast<int>(length);
}
int WINAPI Replace(LPSTR name) {
    ReplaceAsked.push_back(name);
    return ReplaceAnswer;
}

// The release's unzip32.dll when NORV_PRODUCT_DIR names a release folder.
std::string ProductLibrary() {
    char dir[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("NORV_PRODUCT_DIR", dir, sizeof(dir))) return std::string();
    std::string path = dir;
    if (path.back() != '\\') path += '\\';
    return path + "unzip32.dll";
}

class Unzip32 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // By name, as the wizard loads it; the release's own copy when the
        // product stage names the unpacked release folder.
        const std::string product = ProductLibrary();
        Library = LoadLibraryA(product.empty() ? "unzip32.dll" : product.c_str());
        ASSERT_NE(Library, nullptr);
        Unzip = reinterpret_cast<WindllUnzipFn>(reinterpret_cast<void*>(GetProcAddress(Library, "windll_unzip")));
        ASSERT_NE(Unzip, nullptr);
    }
    void SetUp() override {
        Members.clear();
        Printed.clear();
        ReplaceAsked.clear();
        ReplaceAnswer = 1;
        Folder = Dir.Str() + "\\out\\";
        std::memset(&Dcl, 0, sizeof Dcl);
        std::memset(&Uf, 0, sizeof Uf);
        Dcl.Quiet = 2;
        Dcl.KeepDirectories = 1;
        Dcl.OverwriteAll = 1;
        Dcl.ExtractDir = &Folder[0];
        Uf.Print = Print;
        Uf.Replace = Replace;
        Uf.SendMember = Record;
    }
    int Call(const std::string& zip, bool list) {
        ZipPath = Dir / "pkg.zip";
        WriteFile(ZipPath, zip);
        Dcl.ZipFileName = &ZipPath[0];
        Dcl.ListOnly = list ? 1 : 0;
        return Unzip(0, nullptr, 0, nullptr, &Dcl, &Uf);
    }

    static HMODULE Library;
    static WindllUnzipFn Unzip;
    ScratchDir Dir;
    std::string Folder, ZipPath;
    DCL Dcl;
    USERFUNCTIONS Uf;
};
HMODULE Unzip32::Library = nullptr;
WindllUnzipFn Unzip32::Unzip = nullptr;

std::string Package() {
    Builder b;
    b.Add("BIOS/", "", 0);
    b.Add("BIOS/A1V1003.AWD", Text(300000, 5));
    b.Add("readme.txt", "hello", 0);
    return b.Build();
}

}  // namespace

TEST_F(Unzip32, ListingReportsEveryMemberOnceAndWritesNothing) {
    ASSERT_EQ(Call(Package(), true), 0);
    ASSERT_EQ(Members.size(), 3u);
    EXPECT_EQ(Members[0].Name, "BIOS/");
    const Reported& awd = Members[1];
    EXPECT_EQ(awd.Name, "BIOS/A1V1003.AWD");
    EXPECT_EQ(awd.Size, 300000u);
    EXPECT_LT(awd.CompressedSize, 300000u);
    EXPECT_EQ(awd.Ratio, static_cast<unsigned>((300000 - awd.CompressedSize) * 1000.0 / 300000));
    EXPECT_EQ(awd.Method, "Defl:N");
    EXPECT_EQ(awd.Crc, Crc32(Text(300000, 5)));
    EXPECT_EQ(awd.Encrypted, 0);
    EXPECT_EQ(std::vector<unsigned>({awd.Year, awd.Month, awd.Day, awd.Hour, awd.Minute, awd.Second}),
              std::vector<unsigned>({2024, 1, 1, 12, 0, 0}));
    EXPECT_EQ(Members[2].Method, "Stored");
    EXPECT_EQ(Uf.NumMembers, 3u);
    EXPECT_EQ(Uf.TotalSize, 300005u);
    EXPECT_EQ(Uf.TotalSizeComp, awd.CompressedSize + 5);
    EXPECT_FALSE(fs::exists(Folder));
    EXPECT_EQ(Printed, "");
}

TEST_F(Unzip32, ExtractionKeepsFoldersAndOverwrites) {
    WriteFile(Folder + "readme.txt", std::string(5000, 'o'));
    ASSERT_EQ(Call(Package(), true), 0);  // the listing renames its copies only
    ASSERT_EQ(Call(Package(), false), 0);
    EXPECT_EQ(ReadFile(Folder + "BIOS\\A1V1003.AWD"), Text(300000, 5));
    EXPECT_EQ(ReadFile(Folder + "readme.txt"), "hello");
    EXPECT_FALSE(fs::exists(Folder + "CHANGED.TXT"));
    EXPECT_TRUE(ReplaceAsked.empty());
    // Without stored folders every file lands in the folder itself.
    Dcl.KeepDirectories = 0;
    ASSERT_EQ(Call(Package(), false), 0);
    EXPECT_EQ(ReadFile(Folder + "A1V1003.AWD"), Text(300000, 5));
}

TEST_F(Unzip32, WithoutOverwriteTheReplaceCallBackDecides) {
    WriteFile(Folder + "readme.txt", "old");
    Dcl.OverwriteAll = 0;
    ReplaceAnswer = 0;
    ASSERT_EQ(Call(Package(), false), 0);
    EXPECT_EQ(ReadFile(Folder + "readme.txt"), "old");
    ASSERT_EQ(ReplaceAsked.size(), 1u);
    EXPECT_EQ(ReplaceAsked[0], Folder + "readme.txt");
    ReplaceAnswer = 1;
    ASSERT_EQ(Call(Package(), false), 0);
    EXPECT_EQ(ReadFile(Folder + "readme.txt"), "hello");
}

TEST_F(Unzip32, HostileNamesAreNeitherReportedNorWritten) {
    Builder b;
    for (const char* name : {"..\\up.awd", "a/../../up2.awd", "C:\\x.awd", "C:x.awd", "\\\\srv\\share\\x.awd",
                             "\\abs.awd", "/abs2.awd", "a:b.awd", "bios/aux.awd"})
        b.Add(name, name);
    b.Add("ok.awd", "ok");
    const Snapshot before = Snap(Dir.Path());
    EXPECT_EQ(Call(b.Build(), true), 1);
    ASSERT_EQ(Members.size(), 1u);
    EXPECT_EQ(Members[0].Name, "ok.awd");
    EXPECT_EQ(Call(b.Build(), false), 1);
    Snapshot after = Snap(Dir.Path());
    EXPECT_EQ(after["out/ok.awd"], "ok");
    after.erase("out/ok.awd");
    after.erase("out");
    after.erase("pkg.zip");
    EXPECT_EQ(after, before);
}

TEST_F(Unzip32, ErrorsComeAsCodesAndWriteNothing) {
    const std::string good = Package();
    Builder crc;
    crc.Add("x.awd", "data").SetCrc = true;
    Builder enc;
    enc.Add("x.awd", "data").Flags = 1;
    struct Case {
        const char* what;
        std::string zip;
        int want;
    };
    const Case cases[] = {
        {"not a zip", "just some text, no archive", 9},
        {"cut in the directory", good.substr(0, good.size() - 40), 9},
        {"directory moved", good.substr(0, 100) + good.substr(good.size() - 22), 51},
        {"bad crc", crc.Build(), 2},
        {"encrypted", enc.Build(), 82},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Call(c.zip, true) == 0 ? Call(c.zip, false) : Call(c.zip, true), c.want);
        EXPECT_TRUE(Snap(Folder).empty());
    }
    EXPECT_EQ(Unzip(0, nullptr, 0, nullptr, nullptr, &Uf), 10);
    Dcl.ToStdout = 1;
    EXPECT_EQ(Call(good, false), 10);
}

TEST_F(Unzip32, QuietLevelGovernsTheTextOutput) {
    Builder b;
    b.Add("../bad.txt", "x");
    b.Add("good.txt", "y");
    Dcl.Quiet = 0;
    EXPECT_EQ(Call(b.Build(), false), 1);
    EXPECT_NE(Printed.find("inflating: "), std::string::npos) << Printed;
    EXPECT_NE(Printed.find("warning"), std::string::npos) << Printed;
    Printed.clear();
    Dcl.Quiet = 1;
    EXPECT_EQ(Call(b.Build(), false), 1);
    EXPECT_EQ(Printed.find("inflating"), std::string::npos) << Printed;
    EXPECT_NE(Printed.find("warning"), std::string::npos) << Printed;
    Printed.clear();
    Dcl.Quiet = 2;
    EXPECT_EQ(Call(b.Build(), false), 1);
    EXPECT_EQ(Call("garbage", false), 9);
    EXPECT_EQ(Printed, "");
}

TEST_F(Unzip32, PathsBeyondMaxPathAreSkipped) {
    // A folder of about 200 characters, a member name that takes the path past 259.
    std::string deep = Dir.Str();
    while (deep.size() < 200) deep += "\\deeper";
    fs::create_directories(deep);
    Folder = deep + "\\";
    Dcl.ExtractDir = &Folder[0];
    Builder b;
    b.Add("short.awd", "s");
    b.Add(std::string(80, 'L') + ".awd", "l");
    EXPECT_EQ(Call(b.Build(), true), 1);
    ASSERT_EQ(Members.size(), 1u);
    EXPECT_EQ(Members[0].Name, "short.awd");
    EXPECT_EQ(Call(b.Build(), false), 1);
    EXPECT_EQ(Snap(deep), (Snapshot{{"short.awd", "s"}}));
}
