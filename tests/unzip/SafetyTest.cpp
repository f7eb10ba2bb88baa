// The unpacker against hostile and damaged archives: names that leave the
// folder, overlapping members, wrong CRCs and sizes, output limits, and every
// truncation, deletion and flip of a small archive.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "Unzip.h"
#include "ZipBuilder.h"

using namespace ziptest;

namespace {

struct Outcome {
    int Result = -1;
    std::vector<std::string> Listed;
    std::string Text;
};

Outcome Unpack(const std::string& archive, const std::string& folder, zipr::Mode mode = zipr::Mode::Extract,
               zipr::Job job = {}) {
    Outcome o;
    zipr::MemorySource src(archive.data(), archive.size());
    job.Archive = "test.zip";
    job.Folder = folder;
    job.Action = mode;
    job.Text = [&](const std::string& t) { o.Text += t; };
    job.OnMember = [&](const zipr::Member& m) { o.Listed.push_back(m.Name); };
    o.Result = zipr::Run(src, job);
    return o;
}

}  // namespace

TEST(Traversal, NamesLeavingTheFolderAreNeitherListedNorWritten) {
    ScratchDir d;
    const std::string out = d / "pkg/out";
    WriteFile(d / "pkg/keep.txt", "sibling");
    const Snapshot before = Snap(d.Path());
    const std::vector<std::string> hostile = {
        "../x", "..\\x", "a/../../x", "a\\..\\..\\x", "/abs", d / "abs", "\\abs", "C:\\x", "C:x", "c:/x",
        "\\\\srv\\share\\x", "//srv/share/x", "a:b", "..", "a/..", "x/.. /y", "x/.../y", "bios/con.awd",
        "NUL", "lpt1.txt", "Com3", "a\tb", std::string("nul\0x", 5),
    };
    for (const std::string& name : hostile) {
        SCOPED_TRACE(name);
        Builder b;
        b.Add("good.txt", "fine");
        b.Add(name, "evil " + name);
        b.Add("sub/late.awd", "after the bad one", 0);
        const std::string zip = b.Build();
        Outcome list = Unpack(zip, out, zipr::Mode::List);
        EXPECT_EQ(list.Result, zipr::kWarning);
        EXPECT_EQ(list.Listed, (std::vector<std::string>{"good.txt", "sub/late.awd"}));
        Outcome ex = Unpack(zip, out);
        EXPECT_EQ(ex.Result, zipr::kWarning);
        Snapshot after = Snap(d.Path());
        // Inside the folder exactly the two good members; outside, nothing changed.
        EXPECT_EQ(after["pkg/out/good.txt"], "fine");
        EXPECT_EQ(after["pkg/out/sub/late.awd"], "after the bad one");
        for (const char* rel : {"pkg/out", "pkg/out/good.txt", "pkg/out/sub", "pkg/out/sub/late.awd"}) after.erase(rel);
        EXPECT_EQ(after, before);
        fs::remove_all(out);
    }
}

TEST(Traversal, HarmlessLookalikesAreUnpacked) {
    ScratchDir d;
    Builder b;
    for (const char* name : {"a..b/x", "..x", "x..", "./dot", "console.txt", "com10", "lpt/auxiliary.awd"}) b.Add(name, name);
    Outcome o = Unpack(b.Build(), d.Str());
    EXPECT_EQ(o.Result, 0) << o.Text;
    EXPECT_EQ(ReadFile(d / "a..b/x"), "a..b/x");
    EXPECT_EQ(ReadFile(d / "dot"), "./dot");
    EXPECT_EQ(ReadFile(d / "lpt/auxiliary.awd"), "lpt/auxiliary.awd");
}

TEST(Overlap, OverlappingMembersAreRefusedBeforeAnythingIsWritten) {
    ScratchDir d;
    const std::string big(4 << 20, '\0');
    // A bomb in the classic shape: many entries, one local header and one body.
    Builder shared;
    shared.Add("k0", big);
    for (int i = 1; i < 50; ++i) {
        Entry& e = shared.Add("k0", big);
        e.SharesLocalOf = 0;
    }
    // A first member whose data runs over the second member's header and data.
    Builder covering;
    covering.Add("first", "abc", 0);
    covering.Add("second", "second member's data", 0);
    {
        Entry& e = covering.Entries[0];
        e.SetRaw = true;
        e.Raw = "abc";
        e.SetCompressedSize = e.SetSize = true;
        e.CompressedSize = e.Size = 3 + 30 + 6 + 20;
    }
    // A member whose data runs into the central directory.
    Builder intoCd;
    intoCd.Add("a", "1234", 0);
    Entry& e = intoCd.Entries[0];
    e.SetCompressedSize = e.SetSize = true;
    e.CompressedSize = e.Size = 20;
    for (const Builder* b : {&shared, &covering, &intoCd}) {
        Outcome o = Unpack(b->Build(), d / "out");
        EXPECT_EQ(o.Result, zipr::kSevere) << o.Text;
        EXPECT_FALSE(fs::exists(d / "out"));
        EXPECT_NE(o.Text.find("overlaps"), std::string::npos) << o.Text;
        o = Unpack(b->Build(), d / "out", zipr::Mode::List);
        EXPECT_EQ(o.Result, zipr::kSevere);
        EXPECT_TRUE(o.Listed.empty());
    }
}

TEST(Damage, BadCrcRemovesThePartialFileAndStops) {
    ScratchDir d;
    Builder b;
    b.Add("one.txt", "first");
    Entry& bad = b.Add("BIOS/two.awd", Text(900 * 1024));
    bad.SetCrc = true;
    bad.Crc = Crc32(bad.Data) ^ 1;
    b.Add("three.txt", "never reached");
    Outcome o = Unpack(b.Build(), d.Str());
    EXPECT_EQ(o.Result, zipr::kDamaged);
    EXPECT_NE(o.Text.find("CRC"), std::string::npos) << o.Text;
    EXPECT_EQ(ReadFile(d / "one.txt"), "first");
    EXPECT_FALSE(fs::exists(d / "BIOS/two.awd"));
    EXPECT_FALSE(fs::exists(d / "three.txt"));
}

TEST(Damage, DataBeyondOrShortOfTheDeclaredSizeIsAnError) {
    ScratchDir d;
    for (uint64_t declared : {uint64_t(100), uint64_t(300000)}) {
        SCOPED_TRACE(declared);
        Builder b;
        Entry& e = b.Add("big.bin", std::string(200000, 'z'));
        e.SetSize = true;
        e.Size = declared;
        Outcome o = Unpack(b.Build(), d.Str());
        EXPECT_EQ(o.Result, zipr::kDamaged) << o.Text;
        EXPECT_FALSE(fs::exists(d / "big.bin"));
    }
    // Stored members must have equal sizes; deflated data must end with its stream.
    Builder stored;
    Entry& s = stored.Add("s.bin", "abcdef", 0);
    s.SetSize = true;
    s.Size = 5;
    EXPECT_EQ(Unpack(stored.Build(), d.Str()).Result, zipr::kDamaged);
    Builder cut;
    Entry& c = cut.Add("c.bin", Text(50000));
    c.SetRaw = true;
    c.Raw = Deflate(c.Data).substr(0, 1000);
    EXPECT_EQ(Unpack(cut.Build(), d.Str()).Result, zipr::kDamaged);
    Builder garbage;
    Entry& g = garbage.Add("g.bin", "whatever");
    g.SetRaw = true;
    g.Raw = std::string("\xff\xff\xff\xff\xff\xff", 6);
    EXPECT_EQ(Unpack(garbage.Build(), d.Str()).Result, zipr::kDamaged);
    EXPECT_TRUE(Snap(d.Path()).empty());
}

TEST(Damage, DeclaredOutputAboveTheLimitIsRefusedBeforeWriting) {
    ScratchDir d;
    Builder b;
    for (int i = 0; i < 3; ++i) {
        Entry& e = b.Add("part" + std::to_string(i), "tiny");
        e.SetSize = true;
        e.Size = 400u << 20;  // three times 400 MiB: above 1 GiB together
    }
    Outcome o = Unpack(b.Build(), d / "out");
    EXPECT_EQ(o.Result, zipr::kOutputLimit);
    EXPECT_FALSE(fs::exists(d / "out"));
    // A smaller limit, honestly declared sizes.
    Builder small;
    small.Add("a", std::string(600, 'a'));
    small.Add("b", std::string(600, 'b'));
    zipr::Job job;
    job.MaxTotal = 1000;
    EXPECT_EQ(Unpack(small.Build(), d / "out", zipr::Mode::Extract, job).Result, zipr::kOutputLimit);
    job.MaxTotal = 1200;
    EXPECT_EQ(Unpack(small.Build(), d / "out", zipr::Mode::Extract, job).Result, 0);
}

TEST(Damage, EncryptedUnknownMethodAndDisagreeingHeaders) {
    ScratchDir d;
    struct Case {
        const char* what;
        int want;
        void (*craft)(Entry&);
    };
    const Case cases[] = {
        {"encrypted", zipr::kEncrypted, [](Entry& e) { e.Flags = 1; }},
        {"strong encryption", zipr::kEncrypted, [](Entry& e) { e.Flags = 0x41; }},
        {"bzip2", zipr::kUnsupported, [](Entry& e) { e.Method = 12; }},
        {"deflate64", zipr::kUnsupported, [](Entry& e) { e.Method = 9; }},
        {"local name differs", zipr::kSevere, [](Entry& e) { e.LocalName = "other.txt"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Builder b;
        b.Add("first.txt", "first");
        c.craft(b.Add("second.txt", "second"));
        Outcome o = Unpack(b.Build(), d / "out");
        EXPECT_EQ(o.Result, c.want) << o.Text;
        EXPECT_FALSE(fs::exists(d / "out"));
    }
}

TEST(Damage, OverlongNamesAndPathsAreSkippedWithAMessage) {
    ScratchDir d;
    Builder b;
    b.Add(std::string(260, 'n'), "too long a name");
    b.Add("deep/" + std::string(200, 'p'), "too long a path below this folder");
    b.Add("ok.awd", "fits");
    zipr::Job job;
    job.MaxPath = d.Str().size() + 1 + 100;
    Outcome o = Unpack(b.Build(), d.Str(), zipr::Mode::List, job);
    EXPECT_EQ(o.Result, zipr::kWarning);
    EXPECT_EQ(o.Listed, std::vector<std::string>{"ok.awd"});
    EXPECT_NE(o.Text.find("too long"), std::string::npos);
    o = Unpack(b.Build(), d.Str(), zipr::Mode::Extract, job);
    EXPECT_EQ(o.Result, zipr::kWarning);
    EXPECT_EQ(Snap(d.Path()), (Snapshot{{"ok.awd", "fits"}}));
}

TEST(Messages, QuietLevelsFilterTheText) {
    ScratchDir d;
    Builder b;
    b.Add("../bad", "x");
    b.Add("good.txt", "y");
    std::string zip = b.Build();
    zipr::Job job;
    job.Quiet = 0;
    Outcome all = Unpack(zip, d.Str(), zipr::Mode::Extract, job);
    EXPECT_NE(all.Text.find("inflating: "), std::string::npos);
    EXPECT_NE(all.Text.find("warning: skipped \"../bad\""), std::string::npos);
    job.Quiet = 1;
    Outcome some = Unpack(zip, d.Str(), zipr::Mode::Extract, job);
    EXPECT_EQ(some.Text.find("inflating"), std::string::npos);
    EXPECT_NE(some.Text.find("warning"), std::string::npos);
    job.Quiet = 2;
    EXPECT_EQ(Unpack(zip, d.Str(), zipr::Mode::Extract, job).Text, "");
    EXPECT_EQ(Unpack("PK\5\6", d.Str(), zipr::Mode::Extract, job).Text, "");
}

TEST(Selection, IncludeAndExcludePatterns) {
    ScratchDir d;
    Builder b;
    b.Add("BIOS/A.AWD", "a");
    b.Add("docs/readme.txt", "r");
    b.Add("setup.exe", "s");
    zipr::Job job;
    job.Include = {"*.awd", "setup.*"};
    job.IgnoreCase = true;
    job.Exclude = {"setup.exe"};
    EXPECT_EQ(Unpack(b.Build(), d.Str(), zipr::Mode::List, job).Listed, std::vector<std::string>{"BIOS/A.AWD"});
    job.Include = {"nothing*"};
    EXPECT_EQ(Unpack(b.Build(), d.Str(), zipr::Mode::List, job).Result, zipr::kNoMatch);
    EXPECT_TRUE(zipr::Matches("a*b?c*", "aXXbYcZZ", false));
    EXPECT_FALSE(zipr::Matches("a*b?c", "aXXbYcZ", false));
}

TEST(Structure, Zip64EndRecordDescriptorsAndComment) {
    ScratchDir d;
    Builder b;
    b.Zip64End = true;
    b.Comment = "a comment";
    b.Add("plain", Text(5000));
    Entry& z = b.Add("zip64", Text(70000, 3));
    z.Zip64 = true;
    Entry& dd = b.Add("descr", Text(9000, 4), 0);
    dd.Descriptor = true;
    Entry& both = b.Add("both", Text(9000, 5));
    both.Descriptor = both.Zip64 = true;
    const std::string zip = b.Build();
    Outcome o = Unpack(zip, d.Str());
    ASSERT_EQ(o.Result, 0) << o.Text;
    EXPECT_EQ(ReadFile(d / "zip64"), Text(70000, 3));
    EXPECT_EQ(ReadFile(d / "both"), Text(9000, 5));
    zipr::MemorySource mem(zip.data(), zip.size());
    zipr::ZipReader r(mem);
    ASSERT_EQ(r.Open(), 0);
    EXPECT_EQ(r.Comment(), "a comment");
    // A descriptor whose CRC disagrees with the central directory.
    Builder bad;
    Entry& e = bad.Add("x", "data", 0);
    e.Descriptor = true;
    std::string broken = bad.Build();
    broken[30 + 1 + 4 + 4] ^= 0x55;  // first CRC byte after the descriptor's signature
    EXPECT_EQ(Unpack(broken, d / "o2").Result, zipr::kSevere);
}

// Every prefix, every one-byte deletion and every one-byte flip of a small
// archive: never a crash, and never success unless every member came out whole.
TEST(Truncation, EveryCutDeletionAndFlipFailsOrUnpacksEverything) {
    ScratchDir d;
    Builder b;
    b.Add("dir/", "", 0);
    b.Add("dir/stored.txt", "stored member text", 0);
    b.Add("deflated.awd", Text(700, 2));
    Entry& desc = b.Add("descr.bin", "with descriptor", 8);
    desc.Descriptor = true;
    const std::string zip = b.Build();
    const Snapshot whole = {{"dir", "<dir>"},
                            {"dir/stored.txt", "stored member text"},
                            {"deflated.awd", Text(700, 2)},
                            {"descr.bin", "with descriptor"}};
    const std::string out = d / "out";
    size_t successes = 0;
    auto check = [&](const std::string& variant, const char* kind, size_t at) {
        fs::remove_all(out);
        zipr::Job quiet;
        quiet.Quiet = 2;
        Outcome o = Unpack(variant, out, zipr::Mode::Extract, quiet);
        if (o.Result == 0 || o.Result == 1) {
            ++successes;
            EXPECT_EQ(o.Result, 0) << kind << " at " << at;
            EXPECT_EQ(Snap(out), whole) << kind << " at " << at;
        } else {
            EXPECT_GE(o.Result, 2) << kind << " at " << at;
            EXPECT_LE(o.Result, 82) << kind << " at " << at;
        }
    };
    check(zip, "none", 0);
    ASSERT_EQ(successes, 1u);
    for (size_t i = 0; i < zip.size(); ++i) {
        check(zip.substr(0, i), "cut", i);
        check(zip.substr(0, i) + zip.substr(i + 1), "deletion", i);
        std::string flipped = zip;
        flipped[i] = static_cast<char>(flipped[i] ^ 0xFF);
        check(flipped, "flip", i);
        if (i < zip.size() - 22) check(zip.substr(0, i) + zip.substr(zip.size() - 22), "cut before the end record", i);
    }
    // Flips of dates, attributes and the like still unpack; of the rest, none.
    EXPECT_GT(successes, 1u);
    EXPECT_LT(successes, zip.size() / 2);
}
