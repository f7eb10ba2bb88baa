#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "IndexReader.h"

namespace fs = std::filesystem;

namespace {

struct RecordedMessages : TIndexMessageSink {
    void ShowIndexMessage(const std::string& text) override { Shown.push_back(text); }
    std::vector<std::string> Shown;
};

class IndexFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / (std::string("norv_index_") + info->test_suite_name() + "_" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    bool Exists(const std::string& path) const { return fs::exists(path); }

    TIndexContext Ctx(const std::string& model = "MODEL-A1") { return TIndexContext{model, current, messages, list}; }

    bool Site(const std::string& content, const std::string& category) {
        TIndexContext ctx = Ctx();
        return FindIndexPath(ctx, Write("Path.idx", content), category);
    }
    bool Versions(const std::string& content, const std::string& model = "MODEL-A1") {
        TIndexContext ctx = Ctx(model);
        return ParseVersionIndex(ctx, Write("board.idx", content));
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const auto& i : list.Items) out.push_back(i.Text);
        return out;
    }
    std::vector<std::string> Desc(size_t item) const {
        std::vector<std::string> out;
        const auto& d = list.Items.at(item).Entry->DescLines;
        if (d)
            for (int i = 0; i < d->Count(); ++i) out.push_back((*d)[i]);
        return out;
    }
    const VersionInfo& Entry(size_t item) const { return *list.Items.at(item).Entry; }

    fs::path dir_;
    RecordedMessages messages;
    TVersionEntries list;
    std::unique_ptr<VersionInfo> current;
};

const char kSiteExample[] =
    "-- site index\n"
    "<product> Graphics\n"
    "<path> vga/vga.idx\n"
    "<~product>\n"
    "<product> MOTHERBOARD all models\n"
    "<path> bios/board.idx\n";

const char kVersionExample[] =
    "-- version index\n"
    "<product> MODEL-B2\n"
    "<version> 1001\n"
    "<~product>\n"
    "<product> model-a1\n"
    "<version> 1003\n"
    "<release-date> 2000/11/20\n"
    "<description> Supports new processors.\n"
    "\n"
    "Fixes the clock setting.\n"
    "<~description>\n"
    "<path> /pub/bios/a1/a1v1003.zip\n"
    "<~version>\n"
    "<version> 1004\n"
    "<path> /pub/bios/a1/a1v1004.zip\n"
    "<~product>\n";

// ---- site index ----

TEST_F(IndexFiles, SiteIndex_WorkedExampleFindsTheCategoryAndKeepsTheFile) {
    ASSERT_TRUE(Site(kSiteExample, "Motherboard"));
    ASSERT_TRUE(current);
    EXPECT_EQ(current->FilePath, "bios/board.idx");
    EXPECT_TRUE(Exists((dir_ / "Path.idx").string()));
    EXPECT_FALSE(Site(kSiteExample, "Default"));
    ASSERT_TRUE(current);  // a fresh entry, nothing found
    EXPECT_EQ(current->FilePath, "");
    EXPECT_TRUE(messages.Shown.empty());
}

TEST_F(IndexFiles, SiteIndex_FirstBlockOfTheCategoryWinsAndAPathAfterItsEndStillBelongsToIt) {
    const std::string twoBlocks =
        "<product> Motherboard\n"
        "<~product>\n"
        "<path> \t first/board.idx \r\n"  // after "<~product>", trimmed at both ends
        "<product> motherboard\n"
        "<path> second/board.idx\n";
    ASSERT_TRUE(Site(twoBlocks, "Motherboard"));
    EXPECT_EQ(current->FilePath, "first/board.idx");

    // A later "<product>" of another category ends the match.
    ASSERT_FALSE(Site("<product> Motherboard\n<product> Graphics\n<path> vga.idx\n", "Motherboard"));
}

// ---- version index ----

TEST_F(IndexFiles, VersionIndex_WorkedExampleListsOneVersionAndDeletesTheFile) {
    ASSERT_TRUE(Versions(kVersionExample));
    ASSERT_EQ(Texts(), std::vector<std::string>{"Version 1003"});
    EXPECT_EQ(Entry(0).ReleaseDate, "2000/11/20\n");
    EXPECT_EQ(Entry(0).FilePath, "/pub/bios/a1/a1v1003.zip");
    EXPECT_EQ(Desc(0), (std::vector<std::string>{"Supports new processors.\n", "", "Fixes the clock setting.\n"}));
    EXPECT_FALSE(Exists((dir_ / "board.idx").string()));
    EXPECT_FALSE(current);  // the open "Version 1004" was dropped
}

TEST_F(IndexFiles, VersionIndex_KeepLeavesTheFileInPlace) {
    TIndexContext ctx = Ctx();
    const std::string path = Write("keep.idx", kVersionExample);
    ASSERT_TRUE(ParseVersionIndex(ctx, path, TIndexFileAfterReading::Keep));
    EXPECT_TRUE(Exists(path));
}

TEST_F(IndexFiles, VersionIndex_OnlyOpenVersionsListNothingButTheOldListIsClearedAndTheFileDeleted) {
    list.Add("stale", std::make_unique<VersionInfo>());
    EXPECT_FALSE(Versions("<product> MODEL-A1\n<version> 1003\n<path> a.zip\n"));
    EXPECT_TRUE(list.Items.empty());
    EXPECT_FALSE(Exists((dir_ / "board.idx").string()));
}

TEST_F(IndexFiles, Readers_UnreadableFileShowsTheMessageAndChangesNothing) {
    list.Add("kept", std::make_unique<VersionInfo>());
    current = std::make_unique<VersionInfo>();
    current->FilePath = "bios/board.idx";
    TIndexContext ctx = Ctx();
    const std::string missing = (dir_ / "missing.idx").string();
    EXPECT_FALSE(FindIndexPath(ctx, missing, "Motherboard"));
    EXPECT_FALSE(ParseVersionIndex(ctx, missing));
    EXPECT_FALSE(ParseVersionIndex(ctx, dir_.string()));  // a directory cannot be read either
    EXPECT_EQ(messages.Shown, std::vector<std::string>(3, "Index file opened error"));
    EXPECT_EQ(Texts(), std::vector<std::string>{"kept"});
    ASSERT_TRUE(current);
    EXPECT_EQ(current->FilePath, "bios/board.idx");
}

TEST_F(IndexFiles, VersionIndex_TagsIgnoreCaseButAValueGluedToATagIsNoTag) {
    ASSERT_TRUE(Versions(
        "<PRODUCT> Model-A1\n"
        "<Version> 1\n<~VERSION>\n"
        "<version>2\n"                       // no tag: ignored while no version is open
        "<version> 3\n<DESCRIPTION> d\n"
        "<path>/x.zip\n"                    // no tag: description text
        "<~Description>\n<~version>\n"));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Version 1", "Version 3"}));
    EXPECT_EQ(Desc(1), (std::vector<std::string>{"d\n", "<path>/x.zip\n"}));
    EXPECT_EQ(Entry(1).FilePath, "");
}

TEST_F(IndexFiles, VersionIndex_ProductValueMatchesAsAWholeWithItsBlanks) {
    EXPECT_FALSE(Versions("<product> MODEL-A1 \n<version> 1\n<~version>\n"));
    EXPECT_FALSE(Versions("<product> MODEL-A1 rev 2\n<version> 1\n<~version>\n"));
    EXPECT_FALSE(Versions("<product>  MODEL-A1\n<version> 1\n<~version>\n"));
    EXPECT_TRUE(Versions("<product> MODEL-A1 \n<version> 1\n<~version>\n", "model-a1 "));
}

TEST_F(IndexFiles, VersionIndex_ValueStartsAfterExactlyOneSeparator) {
    ASSERT_TRUE(Versions(
        "<product> MODEL-A1\n"
        "<version>\t1003\n<~version>\n"
        "<version>  1003\n<~version>\n"
        "<version>\n<~version>\n"
        "<version> 1005 beta \n<~version>\n"));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Version 1003", "Version  1003", "Version ", "Version 1005 beta "}));
}

TEST_F(IndexFiles, VersionIndex_PathAndDateInsideAnUnclosedDescriptionAreLost) {
    ASSERT_TRUE(Versions(
        "<product> MODEL-A1\n<version> 1\n"
        "<path> early.zip\n<release-date> 2001/01/01\n"
        "<description> text\n"
        "<path> late.zip\n<release-date> 2002/02/02\n"
        "<~version>\n"));  // closes the description and commits
    EXPECT_EQ(Entry(0).FilePath, "early.zip");
    EXPECT_EQ(Entry(0).ReleaseDate, "2001/01/01\n");
    EXPECT_EQ(Desc(0), std::vector<std::string>{"text\n"});
}

TEST_F(IndexFiles, VersionIndex_IndentedCommentIsIgnoredOutsideButIsTextInsideADescription) {
    ASSERT_TRUE(Versions(
        " -- indented, outside\n"
        "<product> MODEL-A1\n<version> 1\n"
        " -- not a comment\n"
        "<description> a\n"
        "-- a real comment\n"
        " -- indented comment\n"
        "<~version>\n"));
    EXPECT_EQ(Desc(0), (std::vector<std::string>{"a\n", "-- indented comment\n"}));
}

TEST_F(IndexFiles, VersionIndex_DescriptionLines) {
    ASSERT_TRUE(Versions(
        "<product> MODEL-A1\n"
        "<version> 1\n\n<path> p.zip\n\n"  // empty lines outside a description: nothing
        "<description>\n"                   // an empty first line
        "\n"
        "  \t indented  \n"
        "   \n"
        "<~description>\n"
        "<~version>\n"
        "<version> 2\n"
        "<description> first\n"
        "<description>   second\n"          // replaces the list
        "<version> 3\n"                     // commits 2 from inside its description
        "<~version>\n"
        "<version> 4\n<description> last line without line feed\n"
        "no line feed"));
    ASSERT_EQ(Texts(), (std::vector<std::string>{"Version 1", "Version 2", "Version 3"}));
    EXPECT_EQ(Desc(0), (std::vector<std::string>{"", "", "indented  \n", ""}));
    EXPECT_EQ(Entry(0).FilePath, "p.zip");
    EXPECT_EQ(Desc(1), std::vector<std::string>{"second\n"});
    EXPECT_FALSE(Entry(2).DescLines);  // no description: no list at all

    ASSERT_TRUE(Versions("<product> MODEL-A1\n<version> 9\n<description> x\nend"
                         "\n<~version>"));  // last line without a line feed still counts
    EXPECT_EQ(Desc(0), (std::vector<std::string>{"x\n", "end\n"}));
}

TEST_F(IndexFiles, VersionIndex_AbandonedEntryLeavesItsFieldsToTheNextVersion) {
    ASSERT_TRUE(Versions(
        "<product> MODEL-A1\n"
        "<version> 1004\n<release-date> 2001/05/05\n<path> old.zip\n<description> old text\n<~description>\n"
        "<~product>\n"
        "<product> MODEL-B2\n<version> 7\n<path> other.zip\n<~version>\n<~product>\n"  // another board: no effect
        "<product> MODEL-A1\n"
        "<version> 1005\n<~version>\n"  // takes over what 1004 left
        "<version> 1006\n<~version>\n"  // after a commit nothing carries over
        "<~product>\n"));
    ASSERT_EQ(Texts(), (std::vector<std::string>{"Version 1005", "Version 1006"}));
    EXPECT_EQ(Entry(0).FilePath, "old.zip");
    EXPECT_EQ(Entry(0).ReleaseDate, "2001/05/05\n");
    EXPECT_EQ(Desc(0), std::vector<std::string>{"old text\n"});
    EXPECT_EQ(Entry(1).FilePath, "");
    EXPECT_EQ(Entry(1).ReleaseDate, "");
    EXPECT_FALSE(Entry(1).DescLines);
}

TEST_F(IndexFiles, VersionIndex_BlocksOfTheBoardAddUpAndUnknownBracketedTagsAreIgnored) {
    ASSERT_TRUE(Versions(
        "<product> MODEL-A1\n"
        "<version> ignored-before\n<~version>\n"  // commits 1: "<version>" acts in state 1
        "<notes>\n"                                // an unlisted block, never closed
        "<version> 2\n<description> a\n<notes> text inside\n<~description>\n<~version>\n"
        "<~product>\n"
        "<product> MODEL-A1\n<release-date> ignored before a version\n<version> 3\n<~version>\n"));
    ASSERT_EQ(Texts(), (std::vector<std::string>{"Version ignored-before", "Version 2", "Version 3"}));
    EXPECT_EQ(Desc(1), (std::vector<std::string>{"a\n", "<notes> text inside\n"}));
    EXPECT_EQ(Entry(2).ReleaseDate, "");
}

TEST_F(IndexFiles, VersionIndex_Sha256IsKeptInItsVersionAndIsTextInsideADescription) {
    const std::string sum(64, 'a');
    ASSERT_TRUE(Versions(
        "<product> MODEL-A1\n"
        "<sha256> " + sum + "\n"                 // no version open: ignored
        "<version> 1\n<SHA256>\t " + sum + " \r\n<~version>\n"  // trimmed, any case
        "<version> 2\n<description> d\n<sha256> " + sum + "\n<~description>\n<~version>\n"
        "<version> 3\n<sha256>" + sum + "\n<~version>\n"  // glued: no tag
        "<version> 4\n<sha256> not-hex\n<~version>\n"));
    ASSERT_EQ(Texts(), (std::vector<std::string>{"Version 1", "Version 2", "Version 3", "Version 4"}));
    EXPECT_EQ(Entry(0).Sha256, sum);
    EXPECT_EQ(Entry(1).Sha256, "");
    EXPECT_EQ(Desc(1), (std::vector<std::string>{"d\n", "<sha256> " + sum + "\n"}));
    EXPECT_EQ(Entry(2).Sha256, "");
    EXPECT_EQ(Entry(3).Sha256, "not-hex") << "kept as written; the wizard judges it";
    EXPECT_TRUE(IsSha256Text(sum));
    EXPECT_TRUE(IsSha256Text(std::string(32, 'F') + std::string(32, '0')));
    EXPECT_FALSE(IsSha256Text(std::string(63, 'a')));
    EXPECT_FALSE(IsSha256Text(std::string(65, 'a')));
    EXPECT_FALSE(IsSha256Text(std::string(63, 'a') + "g"));
}

// A <sha256> line after any line of the worked example changes nothing else:
// the same entries, in the same order, with the same texts.
TEST_F(IndexFiles, VersionIndex_Sha256LinesLeaveEntriesOrderAndTextsAsTheyWere) {
    auto snapshot = [&] {
        std::vector<std::vector<std::string>> out;
        for (size_t i = 0; i < list.Items.size(); ++i) {
            std::vector<std::string> row{Entry(i).VersionText, Entry(i).ReleaseDate, Entry(i).FilePath};
            for (auto& d : Desc(i)) row.push_back(d);
            row.push_back(Entry(i).DescLines ? "desc" : "no desc");
            out.push_back(row);
        }
        return out;
    };
    ASSERT_TRUE(Versions(kVersionExample));
    const auto plain = snapshot();
    const std::string text = kVersionExample;
    const std::string sha = "<sha256> " + std::string(64, '0') + "\n";
    int inserted = 0;
    for (size_t p = text.find('\n'); p != std::string::npos; p = text.find('\n', p + 1), ++inserted) {
        std::string changed = text;
        changed.insert(p + 1, sha);
        SCOPED_TRACE(changed);
        // Inside the description (after its first and empty lines) the line is text.
        const size_t descStart = text.find("<description>"), descEnd = text.find("<~description>");
        if (p > descStart && p < descEnd) continue;
        ASSERT_TRUE(Versions(changed));
        EXPECT_EQ(snapshot(), plain);
    }
    EXPECT_GT(inserted, 10);
}

// ---- reading lines ----

TEST_F(IndexFiles, LineReader_CarriageReturnsVanishAndCtrlZEndsTheFile) {
    ASSERT_TRUE(Versions(
        "<product> MODEL-A1\r\n"
        "<ver\rsion> 1\r\r\n"  // a carriage return inside a word vanishes too
        "<path> a.zip\r\n"
        "<~version>\r\n"
        "<version> 2\r\n"
        "<~ver\x1a"
        "sion>\r\n"));  // the Ctrl-Z cuts the tag: "<~ver" is no tag
    EXPECT_EQ(Texts(), std::vector<std::string>{"Version 1"});
    EXPECT_EQ(Entry(0).FilePath, "a.zip");
}

TEST_F(IndexFiles, LineReader_ALongLineIsCutAt255AndItsRestIsALineOfItsOwn) {
    const std::string text255(255 - 1, 'x');
    const std::string body = "<product> MODEL-A1\n<version> 1\n<description> d\n";
    // 300 characters: 255, then 45 that begin with a tag and act as one.
    const std::string rest = "<~version> and the rest of the 300-byte line.";
    ASSERT_EQ(rest.size(), 300u - 255u);
    ASSERT_TRUE(Versions(body + "y" + text255 + rest + "\n"));
    ASSERT_EQ(Texts(), std::vector<std::string>{"Version 1"});
    EXPECT_EQ(Desc(0), (std::vector<std::string>{"d\n", "y" + text255}));

    // Exactly 255 characters and a line feed: the line feed alone is the next
    // line, an empty description line.
    ASSERT_TRUE(Versions(body + "y" + text255 + "\n<~version>\n"));
    EXPECT_EQ(Desc(0), (std::vector<std::string>{"d\n", "y" + text255, ""}));
    // 254 and a line feed fit.
    ASSERT_TRUE(Versions(body + text255 + "\n<~version>\n"));
    EXPECT_EQ(Desc(0), (std::vector<std::string>{"d\n", text255 + "\n"}));
}

// The reader works through file blocks; its lines must not depend on where a
// block ends. Compare with a plain character-at-a-time splitter.
std::vector<std::string> ReferenceLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : bytes) {
        if (c == '\r') continue;
        if (c == 26) break;
        cur += c;
        if (c == '\n' || cur.size() == 255) {
            lines.push_back(cur);
            cur.clear();
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

TEST_F(IndexFiles, LineReader_LinesDoNotDependOnBlockBoundaries) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 40; ++round) {
        std::string bytes;
        const size_t size = 1 + rng() % 20000;
        while (bytes.size() < size) {
            const unsigned r = rng() % 100;
            if (r < 6) bytes += '\n';
            else if (r < 9) bytes += '\r';
            else if (r < 10 && round % 4 == 0) bytes += '\x1a';
            else if (r < 12) bytes += std::string(200 + rng() % 400, 'L');
            else bytes += static_cast<char>('a' + r % 26);
        }
        const std::string path = Write("lines.idx", bytes);
        TIndexFile file;
        ASSERT_TRUE(file.Open(path));
        TIndexLineBuffer buffer;
        std::vector<std::string> got;
        while (auto line = ReadIndexLine(buffer, file)) {
            ASSERT_EQ(buffer[line->size()], '\0');
            got.emplace_back(*line);
        }
        ASSERT_EQ(got, ReferenceLines(bytes)) << "round " << round;
        EXPECT_FALSE(ReadIndexLine(buffer, file));  // stays at the end
    }
}

}  // namespace
