// The wizard's UnpackPackage over our unzip32.dll: the member handed on, the
// messages, and the library loaded once.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "Unpack.h"
#include "ZipBuilder.h"

using namespace ziptest;

namespace {

const char kFormatError[] = "Compression format error,please try again.";

class UnpackPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        UnpackMessage = [this](const char* text) { Shown.push_back(text); };
        Temp = Dir.Str() + "\\";
    }
    void TearDown() override { UnzipLibraryName = "unzip32.dll"; }

    bool Unpack(const Builder& b) { return Unpack(b.Build()); }
    bool Unpack(const std::string& zip) {
        Downloaded = Temp + "a1v1003.zip";
        WriteFile(Downloaded, zip);
        TUnpackContext context{Downloaded, Temp};
        return UnpackPackage(context);
    }
    // Forgets the loaded library, as a fresh process would have it.
    static void Forget() {
        UnzipHandle = nullptr;
        UnzipEntry = nullptr;
    }

    ScratchDir Dir;
    std::string Temp, Downloaded;
    std::vector<std::string> Shown;
};

}  // namespace

TEST_F(UnpackPackageTest, ImageInCapitalsUnderAFolderIsHandedOnInSmallLetters) {
    Builder b;
    b.Add("BIOS/A1V1003.AWD", Text(100000, 3));
    b.Add("README.TXT", "notes", 0);
    ASSERT_TRUE(Unpack(b));
    EXPECT_EQ(Downloaded, Temp + "bios\\a1v1003.awd");
    EXPECT_EQ(ReadFile(Downloaded), Text(100000, 3));  // the target compares names without case
    EXPECT_EQ(ReadFile(Temp + "README.TXT"), "notes");
    EXPECT_TRUE(Shown.empty());
    EXPECT_EQ(BestRank, 0);
}

TEST_F(UnpackPackageTest, SetupInAFolderBeatsAnImageAtTheTop) {
    Builder b;
    b.Add("a1v1003.awd", "image");
    b.Add("Disk1/Setup.exe", "MZ program");
    ASSERT_TRUE(Unpack(b));
    EXPECT_EQ(Downloaded, Temp + "disk1\\setup.exe");
    EXPECT_EQ(ReadFile(Temp + "a1v1003.awd"), "image");
    EXPECT_EQ(BestRank, -1);
}

TEST_F(UnpackPackageTest, TheLastOfTwoImagesWinsAndNoCandidateKeepsThePackage) {
    Builder two;
    two.Add("first.awd", "1");
    two.Add("second.awd", "2");
    ASSERT_TRUE(Unpack(two));
    EXPECT_EQ(Downloaded, Temp + "second.awd");
    Builder none;
    none.Add("readme.txt", "no image here");
    ASSERT_TRUE(Unpack(none));
    EXPECT_EQ(Downloaded, Temp + "a1v1003.zip");
    EXPECT_EQ(ReadFile(Temp + "readme.txt"), "no image here");
    EXPECT_TRUE(Shown.empty());
}

TEST_F(UnpackPackageTest, DamagedArchiveShowsOneMessageAndWritesNothing) {
    Builder b;
    b.Add("bios/a.awd", "image");
    b.Add("bios/b.awd", "image");
    std::string zip = b.Build();
    zip[zip.size() - 22 - 10] ^= 0x20;  // a name in the central directory no longer matches
    const std::string pkg = Temp + "a1v1003.zip";
    WriteFile(pkg, zip);
    const Snapshot before = Snap(Dir.Path());
    EXPECT_FALSE(Unpack(zip));
    EXPECT_EQ(Shown, std::vector<std::string>{kFormatError});
    EXPECT_EQ(Snap(Dir.Path()), before);
    EXPECT_EQ(Downloaded, pkg);
}

TEST_F(UnpackPackageTest, FailedExtractionShowsTheSameMessageAndKeepsWhatCameOut) {
    Builder b;
    b.Add("first.txt", "unpacked before the damage");
    Entry& bad = b.Add("bios/a.awd", Text(5000));
    bad.SetCrc = true;  // listed fine, fails its CRC when unpacked
    EXPECT_FALSE(Unpack(b));
    EXPECT_EQ(Shown, std::vector<std::string>{kFormatError});
    EXPECT_EQ(ReadFile(Temp + "first.txt"), "unpacked before the damage");
    EXPECT_FALSE(fs::exists(Temp + "bios\\a.awd"));
}

TEST_F(UnpackPackageTest, HostileMembersAreNeverChosen) {
    Builder b;
    b.Add("..\\..\\evil.awd", "evil");
    b.Add("C:\\evil.awd", "evil");
    b.Add("notes.txt", "notes");
    ASSERT_TRUE(Unpack(b));  // a warning result is no failure
    EXPECT_EQ(Downloaded, Temp + "a1v1003.zip");
    EXPECT_EQ(Snap(Dir.Path()), (Snapshot{{"a1v1003.zip", b.Build()}, {"notes.txt", "notes"}}));
}

TEST_F(UnpackPackageTest, SecondUnpackDoesNotLoadAgainAndStartsFromRank255) {
    Builder setup;
    setup.Add("setup.exe", "MZ");
    ASSERT_TRUE(Unpack(setup));
    ASSERT_EQ(BestRank, -1);
    HMODULE loaded = UnzipHandle;
    ASSERT_NE(loaded, nullptr);
    UnzipLibraryName = "no-such-unzip32.dll";  // a new load would fail now
    Builder image;
    image.Add("bios/a.awd", "image");
    ASSERT_TRUE(Unpack(image));
    EXPECT_EQ(Downloaded, Temp + "bios\\a.awd");  // rank 0 beats the restarted 255, not the old -1
    EXPECT_EQ(UnzipHandle, loaded);
    EXPECT_TRUE(Shown.empty());
}

TEST_F(UnpackPackageTest, LoadFailuresShowTheirMessagesAndTheNextUnpackTriesAgain) {
    Builder b;
    b.Add("bios/a.awd", "image");
    Forget();
    UnzipLibraryName = "no-such-unzip32.dll";
    EXPECT_FALSE(Unpack(b));
    EXPECT_EQ(Shown, std::vector<std::string>{"Can't load unzip32.dll"});
    EXPECT_EQ(UnzipHandle, nullptr);
    // Loads (a full path is taken as it is), but has no windll_unzip.
    static std::string kernel;
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, sizeof(dir));
    kernel = std::string(dir) + "\\kernel32.dll";
    UnzipLibraryName = kernel.c_str();
    EXPECT_FALSE(Unpack(b));
    EXPECT_EQ(Shown.back(), "Unzip32.dll is incorrect");
    EXPECT_FALSE(fs::exists(Temp + "bios"));
    Forget();
    UnzipLibraryName = "unzip32.dll";
    EXPECT_TRUE(Unpack(b));
    EXPECT_EQ(Shown.size(), 2u);
    EXPECT_EQ(Downloaded, Temp + "bios\\a.awd");
}

TEST_F(UnpackPackageTest, PathsTooLongForTheBuffersAreRefused) {
    Builder b;
    b.Add("a.awd", "image");
    std::string longName = Temp + std::string(300, 'p') + ".zip";
    TUnpackContext tooLong{longName, Temp};
    EXPECT_FALSE(UnpackPackage(tooLong));
    ASSERT_EQ(Shown.size(), 1u);
    std::string pkg = Temp + "pkg.zip";
    WriteFile(pkg, b.Build());
    TUnpackContext deepFolder{pkg, Temp + std::string(260, 'f') + "\\"};
    EXPECT_FALSE(UnpackPackage(deepFolder));
    EXPECT_EQ(Shown.size(), 2u);
    EXPECT_EQ(pkg, Temp + "pkg.zip");
}
