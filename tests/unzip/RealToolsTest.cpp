// The unpacker against archives written by real tools: Info-ZIP zip (plain,
// stored, Zip64, streamed with data descriptors, encrypted) and Python's zipfile.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "Unzip.h"

using namespace ziptest;

namespace {

int Sh(const std::string& cmd) {
    int r = std::system(cmd.c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

std::string Capture(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int r = pclose(p);
    if (status) *status = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
    return out;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

// A tree with capitals, nested and empty folders, an empty file, and files
// larger than the unpacker's buffers.
void MakeTree(const std::string& root) {
    WriteFile(root + "/readme.txt", "Read me first.\n");
    WriteFile(root + "/BIOS/A1V1003.AWD", Text(700 * 1024, 7));
    WriteFile(root + "/BIOS/empty.bin", "");
    WriteFile(root + "/tools/flash/SETUP.EXE", Text(3000, 9));
    std::string noise;
    for (int i = 0; i < 600 * 1024; ++i) noise += static_cast<char>((i * 7919u + (i >> 9)) * 2654435761u >> 24);
    WriteFile(root + "/tools/noise.dat", noise);
    fs::create_directories(root + "/empty/dir");
}

int Extract(const std::string& archive, const std::string& folder) {
    zipr::Job job;
    job.Archive = archive;
    job.Folder = folder;
    job.Quiet = 1;
    return zipr::Run(job);
}

std::vector<std::string> ListNames(const std::string& archive, int* result = nullptr) {
    std::vector<std::string> names;
    zipr::Job job;
    job.Archive = archive;
    job.Action = zipr::Mode::List;
    job.OnMember = [&](const zipr::Member& m) { names.push_back(m.Name); };
    int r = zipr::Run(job);
    if (result) *result = r;
    return names;
}

}  // namespace

TEST(RealTools, InfoZipArchivesInEveryModeUnpackToTheSameTree) {
    ScratchDir d;
    MakeTree(d / "src");
    const Snapshot want = Snap(d / "src");
    const std::vector<std::pair<std::string, std::string>> modes = {
        {"deflated", "zip -q -r ../a.zip ."},
        {"stored", "zip -q -0 -r ../a.zip ."},
        {"zip64", "zip -q -fz -r ../a.zip ."},
        {"streamed", "zip -q -r - . > ../a.zip"},
        {"best", "zip -q -9 -r ../a.zip ."},
    };
    for (const auto& [mode, cmd] : modes) {
        SCOPED_TRACE(mode);
        fs::remove(d / "a.zip");
        ASSERT_EQ(Sh("cd " + Q(d / "src") + " && " + cmd), 0);
        fs::remove_all(d / "out");
        EXPECT_EQ(Extract(d / "a.zip", d / "out"), 0);
        EXPECT_EQ(Snap(d / "out"), want);
        // The listing reports exactly what Info-ZIP's own listing shows, in order.
        std::string theirs = Capture("unzip -Z1 " + Q(d / "a.zip"));
        std::string ours;
        for (const auto& n : ListNames(d / "a.zip")) ours += n + "\n";
        EXPECT_EQ(ours, theirs);
    }
}

TEST(RealTools, PythonZipfileStoredDeflatedAndZip64) {
    ScratchDir d;
    MakeTree(d / "src");
    const std::string members = "BIOS/ BIOS/A1V1003.AWD=" + Q(d / "src/BIOS/A1V1003.AWD") +
                                " BIOS/empty.bin=" + Q(d / "src/BIOS/empty.bin") +
                                " readme.txt=" + Q(d / "src/readme.txt") +
                                " tools/noise.dat=" + Q(d / "src/tools/noise.dat");
    for (const char* mode : {"stored", "deflated", "zip64"}) {
        SCOPED_TRACE(mode);
        const std::string zip = d / (std::string(mode) + ".zip");
        ASSERT_EQ(Sh("python3 " NORV_TEST_SOURCE_DIR "/make_zip.py " + Q(zip) + " " + mode + " " + members), 0);
        fs::remove_all(d / "out");
        ASSERT_EQ(Extract(zip, d / "out"), 0);
        EXPECT_EQ(ReadFile(d / "out/BIOS/A1V1003.AWD"), ReadFile(d / "src/BIOS/A1V1003.AWD"));
        EXPECT_EQ(ReadFile(d / "out/tools/noise.dat"), ReadFile(d / "src/tools/noise.dat"));
        EXPECT_TRUE(fs::is_regular_file(d / "out/BIOS/empty.bin"));
        EXPECT_EQ(ReadFile(d / "out/readme.txt"), "Read me first.\n");
        EXPECT_EQ(ListNames(zip), (std::vector<std::string>{"BIOS/", "BIOS/A1V1003.AWD", "BIOS/empty.bin",
                                                             "readme.txt", "tools/noise.dat"}));
    }
}

TEST(RealTools, ExistingFilesAreOverwrittenAndFoldersReused) {
    ScratchDir d;
    MakeTree(d / "src");
    ASSERT_EQ(Sh("cd " + Q(d / "src") + " && zip -q -r ../a.zip ."), 0);
    WriteFile(d / "out/readme.txt", std::string(100000, 'x'));  // longer than the new one
    WriteFile(d / "out/BIOS/other.txt", "stays");
    ASSERT_EQ(Extract(d / "a.zip", d / "out"), 0);
    EXPECT_EQ(ReadFile(d / "out/readme.txt"), "Read me first.\n");
    EXPECT_EQ(ReadFile(d / "out/BIOS/other.txt"), "stays");
    ASSERT_EQ(Extract(d / "a.zip", d / "out"), 0);  // and once more over itself
    EXPECT_EQ(ReadFile(d / "out/BIOS/A1V1003.AWD"), ReadFile(d / "src/BIOS/A1V1003.AWD"));
}

TEST(RealTools, EncryptedAndUnsupportedMembersWriteNothing) {
    ScratchDir d;
    MakeTree(d / "src");
    ASSERT_EQ(Sh("cd " + Q(d / "src") + " && zip -q ../plain.zip readme.txt && zip -q -P secret ../e.zip BIOS/A1V1003.AWD"), 0);
    EXPECT_EQ(Extract(d / "e.zip", d / "out"), zipr::kEncrypted);
    int r = -1;
    EXPECT_TRUE(ListNames(d / "e.zip", &r).empty());
    EXPECT_EQ(r, zipr::kEncrypted);
    if (Sh("cd " + Q(d / "src") + " && zip -q -Z bzip2 ../b.zip BIOS/A1V1003.AWD 2>/dev/null") == 0) {
        EXPECT_EQ(Extract(d / "b.zip", d / "out"), zipr::kUnsupported);
    }
    EXPECT_FALSE(fs::exists(d / "out"));
    // Not a zip at all, and no file at all.
    EXPECT_EQ(Extract(d / "src/readme.txt", d / "out"), zipr::kNotZip);
    EXPECT_EQ(Extract(d / "missing.zip", d / "out"), zipr::kNotZip);
    EXPECT_FALSE(fs::exists(d / "out"));
}

TEST(NorvUnzipTool, ListsNamesAsReceivedMarksTheChoiceAndExitsWithTheResult) {
    ScratchDir d;
    MakeTree(d / "src");
    ASSERT_EQ(Sh("cd " + Q(d / "src") + " && zip -q ../a.zip BIOS/A1V1003.AWD readme.txt"), 0);
    int status = -1;
    EXPECT_EQ(Capture(NORVUNZIP_EXE " list " + Q(d / "a.zip"), &status),
              "BIOS/A1V1003.AWD\nreadme.txt\n=> bios\\a1v1003.awd\n");
    EXPECT_EQ(status, 0);
    ASSERT_EQ(Sh("cd " + Q(d / "src") + " && zip -q ../b.zip readme.txt tools/flash/SETUP.EXE BIOS/A1V1003.AWD"), 0);
    EXPECT_EQ(Capture(NORVUNZIP_EXE " list " + Q(d / "b.zip"), &status),
              "readme.txt\ntools/flash/SETUP.EXE\nBIOS/A1V1003.AWD\n=> tools\\flash\\setup.exe\n");
    EXPECT_EQ(Capture(NORVUNZIP_EXE " list " + Q(d / "src/readme.txt") + " 2>/dev/null", &status), "");
    EXPECT_EQ(status, zipr::kNotZip);
    EXPECT_EQ(Sh(NORVUNZIP_EXE " extract " + Q(d / "b.zip") + " " + Q(d / "out")), 0);
    EXPECT_EQ(ReadFile(d / "out/tools/flash/SETUP.EXE"), ReadFile(d / "src/tools/flash/SETUP.EXE"));
    ASSERT_EQ(Sh("cd " + Q(d / "src") + " && zip -q -P pw ../e.zip readme.txt"), 0);
    EXPECT_EQ(Sh(NORVUNZIP_EXE " extract " + Q(d / "e.zip") + " " + Q(d / "out2") + " 2>/dev/null"), zipr::kEncrypted);
    EXPECT_EQ(Sh(NORVUNZIP_EXE " frobnicate 2>/dev/null"), zipr::kBadOptions);
}
