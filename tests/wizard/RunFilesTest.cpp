// What a run of the wizard reads and writes on the disk: libraries only from
// where they belong, its files in a work folder of its own that no other run
// touches and that is gone after any end, and the image that was checked
// held unchangeable until the flashing tool has ended.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "WizardSteps.h"

using namespace drv;
using namespace e2e;

namespace {

const char kLock[] = "in-use.lock";

// An environment variable of this process (and so of the wizards it starts)
// for the life of the object.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value) : name_(name), old_(Env(name)) {
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableA(name_, old_.empty() ? nullptr : old_.c_str()); }
    const char* name_;
    std::string old_;
};

// Presses Next on the version page with the newest version, or the given one.
void NextOnVersion(WizardRun& r, int version = 2) {
    ASSERT_NE(r.WaitVersionPage(), nullptr);
    SelectItem(r.versions, version);
    Sleep(200);
    Click(Child(r.version, "Button", "&Next"));
}

void CancelOn(WizardRun& r, HWND page) {
    ASSERT_TRUE(WaitFor(30000, [&] { return IsWindowVisible(page) && IsWindowEnabled(Child(page, "Button", "&Back")); }));
    Click(Child(page, "Button", "&Cancel"));
}

TEST(RunFiles, NothingIsLeftInTheTemporaryFolderAfterAnyEnd) {
    Images images;
    const std::string fileImage = images.Add("a1 v1003.awd", RandomImage(32 * 1024, 7));
    struct Case {
        const char* name;
        int method;
        const char* romwrite;
        std::function<void(WizardRun&)> run;
        long errorCode;  // what the flashing tool left: -1 nothing
    };
    const Case cases[] = {
        {"flashed from the Internet", 1, "real", [](WizardRun& r) { r.Next(kMirror2); NextOnVersion(r); }, 530},
        {"the flash fails", 1, "fail",
         [](WizardRun& r) {
             r.Next(kMirror2);
             NextOnVersion(r);
             CancelOn(r, r.version);
         },
         531},
        {"a setup program, unpacked and left", 1, "real",
         [](WizardRun& r) {
             r.Next(kSetup);
             NextOnVersion(r, 0);
             Sleep(2000);
             CancelOn(r, r.version);
         },
         -1},
        {"a damaged package", 1, "real",
         [](WizardRun& r) {
             r.Next(kWrongSha);
             NextOnVersion(r);
             MessageBoxInfo box;
             EXPECT_TRUE(NextMessageBox(r.p->Pid(), 60000, &box));
             CancelOn(r, r.version);
         },
         -1},
        {"saved for later", 2, "real",
         [&](WizardRun& r) {
             r.Next(kMirror2);
             ASSERT_NE(r.WaitVersionPage(), nullptr);
             Click(Child(r.version, "Button", "&Save"));
             EXPECT_NE(AnswerFileDialog(r.p->Pid(), r.app.Path + "kept.zip", 30000), "");
         },
         -1},
        {"flashed from a file", 0, "real", [&](WizardRun& r) { FlashFromFile(*r.p, r.work, fileImage); }, 530},
        {"closed on the server page", 1, "real", [](WizardRun& r) { Click(Child(r.server, "Button", "&Cancel")); }, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WizardRun r(c.method, c.romwrite);
        ASSERT_NE(r.work, nullptr);
        const std::string work = r.WorkFolder();
        ASSERT_NE(work, "") << "the run has a work folder of its own";
        EXPECT_EQ(r.NewInTemp().size(), 1u) << "and nothing else in the temporary folder";
        c.run(r);
        EXPECT_EQ(r.p->Wait(60000), 0);
        EXPECT_EQ(ReadErrorCode(), c.errorCode);
        EXPECT_TRUE(r.NewInTemp().empty()) << *r.NewInTemp().begin();
    }
}

TEST(RunFiles, WhatAKilledRunLeftGoesAtTheNextStartAndNothingElse) {
    const std::set<std::string> before = FolderNames(TempDir());
    // A folder of our name that is no work folder's, and a file of the user's.
    const std::string others = TempDir() + "NorvUpdate-notes.txt";
    WriteFile(others, "mine");
    std::string killed;
    {
        WizardRun r(1);
        ASSERT_NE(r.server, nullptr);
        r.Next(kMirror2);
        ASSERT_NE(r.WaitVersionPage(), nullptr);
        killed = r.WorkFolder();
        ASSERT_NE(killed, "");
        r.p.reset();  // killed
    }
    ASSERT_TRUE(FileExists(killed + kLock)) << "a killed run cannot clean up";
    {
        WizardRun next(0);
        ASSERT_NE(next.work, nullptr);
        EXPECT_FALSE(FileExists(killed + kLock)) << "the next start removes it";
        Click(Child(next.work, "Button", "&Cancel"));
        EXPECT_EQ(next.p->Wait(15000), 0);
    }
    EXPECT_EQ(ReadFile(others), "mine");
    DeleteFileA(others.c_str());
    EXPECT_EQ(FolderNames(TempDir()), before);
}

TEST(RunFiles, TwoWizardsAtOnceKeepTheirOwnFiles) {
    WizardRun first(1);
    ASSERT_NE(first.server, nullptr);
    first.Next(kMirror2);
    ASSERT_NE(first.WaitVersionPage(), nullptr);
    const std::string firstWork = first.WorkFolder();
    ASSERT_NE(firstWork, "");
    {
        // A second wizard starts (and removes abandoned folders), updates and ends.
        WizardRun second(1);
        ASSERT_NE(second.server, nullptr);
        const std::string secondWork = second.WorkFolder();
        EXPECT_NE(secondWork, "");
        EXPECT_NE(secondWork, firstWork);
        EXPECT_TRUE(FileExists(firstWork + kLock)) << "the running wizard's folder stays";
        second.Next(kMirror2);
        NextOnVersion(second);
        EXPECT_EQ(second.p->Wait(60000), 0);
        EXPECT_EQ(ReadErrorCode(), 530);
        EXPECT_TRUE(FileExists(firstWork + kLock));
    }
    SetErrorCode(-1);
    NextOnVersion(first);
    EXPECT_EQ(first.p->Wait(60000), 0);
    EXPECT_EQ(ReadErrorCode(), 530);
    EXPECT_TRUE(ReadFile(first.app.Path + "Flashpart.bin") == NewestImage());
    EXPECT_TRUE(first.NewInTemp().empty());
}

TEST(RunFiles, TheImageCannotBeChangedBetweenItsCheckAndTheEndOfTheFlash) {
    Images images;
    const std::string fileBytes = RandomImage(48 * 1024, 9);
    const std::string hold = images.Add("hold", "");
    ScopedEnv holdEnv("NORV_ROMWRITE_HOLD", hold);
    struct Case {
        const char* name;
        int method;
        std::function<std::string(WizardRun&)> start;  // returns the image path
        std::function<std::string()> image;           // what must be flashed
    };
    const std::string fileImage = images.Add("a1 v1003.awd", fileBytes);
    const Case cases[] = {
        {"unpacked from the package", 1,
         [](WizardRun& r) {
             r.Next(kMirror2);
             NextOnVersion(r);
             return r.WorkFolder() + "bios\\a1v1003.awd";
         },
         [] { return NewestImage(); }},
        {"a bare image", 1,
         [](WizardRun& r) {
             r.Next(kMirror2);
             NextOnVersion(r, 0);
             return r.WorkFolder() + "a1v1001.awd";
         },
         [] { return ReadFile(SiteFile("pub\\norv\\bios\\a1\\a1v1001.awd")); }},
        {"the user's file", 0,
         [&](WizardRun& r) {
             FlashFromFile(*r.p, r.work, fileImage);
             return fileImage;
         },
         [&] { return fileBytes; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFile(hold, ""));
        WizardRun r(c.method);
        ASSERT_NE(r.work, nullptr);
        const std::string image = c.start(r);
        ASSERT_TRUE(WaitFor(60000, [] { return FindWindowA("RomwriteWindow", nullptr) != nullptr; }))
            << "the flashing tool did not start";
        const std::string replacement = images.Add("other.awd", RandomImage(48 * 1024, 10));
        HANDLE w = CreateFileA(image.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(w, INVALID_HANDLE_VALUE) << "the image could be opened for writing";
        if (w != INVALID_HANDLE_VALUE) {
            DWORD n = 0;
            WriteFile(w, "x", 1, &n, nullptr);
            CloseHandle(w);
        }
        EXPECT_FALSE(DeleteFileA(image.c_str())) << "the image could be deleted";
        EXPECT_FALSE(MoveFileExA(image.c_str(), (image + ".old").c_str(), 0)) << "the image could be renamed";
        EXPECT_FALSE(MoveFileExA(replacement.c_str(), image.c_str(), MOVEFILE_REPLACE_EXISTING))
            << "the image could be replaced";
        DeleteFileA(hold.c_str());
        EXPECT_EQ(r.p->Wait(60000), 0);
        EXPECT_EQ(ReadErrorCode(), 530);
        EXPECT_TRUE(ReadFile(r.app.Path + "Flashpart.bin") == c.image()) << "the part holds another image";
    }
}

TEST(RunFiles, PlantedLibrariesAreNeverLoaded) {
    Images planted;  // the markers' record, and the folder the wizard is started in
    const std::string marks = planted.Folder + "marks\\", cwd = planted.Folder + "cwd\\";
    CreateDirectoryA(marks.c_str(), nullptr);
    CreateDirectoryA(cwd.c_str(), nullptr);
    ScopedEnv markEnv("NORV_MARKER_DIR", marks.substr(0, marks.size() - 1));
    // Where Wine prefers its own copy, search for a library as Windows does
    // (its per-program overrides; WINEDLLOVERRIDES does not reach a program
    // started from a Windows process). Not for version.dll: Wine's own user32
    // imports it (Windows' does not), so with that override every program
    // under Wine loads a planted copy before its first line runs. Its marker
    // stays planted, for whatever else might look for it.
    struct WineOverrides {
        explicit WineOverrides(const std::vector<std::string>& programs) : programs_(programs) {
            for (const std::string& p : programs_) {
                HKEY key = nullptr;
                if (RegCreateKeyExA(HKEY_CURRENT_USER, Key(p).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr) != ERROR_SUCCESS)
                    continue;
                for (const char* dll : {"riched20", "icmp", "msimg32", "comctl32", "comdlg32", "crypt32"})
                    RegSetValueExA(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"), 15);
                RegCloseKey(key);
            }
        }
        ~WineOverrides() {
            for (const std::string& p : programs_) RegDeleteKeyA(HKEY_CURRENT_USER, Key(p).c_str());
        }
        static std::string Key(const std::string& program) {
            return "Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides";
        }
        std::vector<std::string> programs_;
    } overrides({"NorvUpdate.exe", "Romwrite.exe"});
    const char* const system[] = {"riched20.dll", "ICMP.DLL", "msimg32.dll", "version.dll"};
    const char* const companions[] = {"Romscope.dll", "NorvSite.dll", "unzip32.dll"};
    for (const char* name : system) ASSERT_TRUE(CopyInto(BinDir() + "marker.dll", cwd, name));
    for (const char* name : companions) ASSERT_TRUE(CopyInto(BinDir() + "marker.dll", cwd, name));

    WizardRun r(1, "real", "e2e", cwd);
    for (const char* name : system) ASSERT_TRUE(CopyInto(BinDir() + "marker.dll", r.app.Path, name));
    ASSERT_NE(r.server, nullptr);
    HWND autoSelect = Child(r.server, "Button", "&AutoSelect");
    Click(autoSelect);
    ASSERT_TRUE(WaitFor(2000, [&] { return WindowText(autoSelect) == "Stop"; }));
    ASSERT_TRUE(WaitFor(30000, [&] { return WindowText(autoSelect) == "AutoSelect"; }));
    Click(Child(r.server, "Button", "&Next"));
    ASSERT_NE(r.WaitVersionPage(), nullptr);
    Click(Child(r.version, "Button", "&Next"));
    EXPECT_EQ(r.p->Wait(60000), 0);
    EXPECT_EQ(ReadErrorCode(), 530) << "the update went through";
    EXPECT_TRUE(FolderNames(marks).empty()) << "loaded: " << *FolderNames(marks).begin();
}

TEST(RunFiles, AFullTemporaryFolderFailsTheUpdateAndLeavesNothing) {
    const std::string full = Env("NORV_FULL_TEMP");
    if (full.empty()) GTEST_SKIP() << "run by full-temp.sh, which mounts the small temporary folders";
    struct Case {
        const char* folder;   // under NORV_FULL_TEMP
        const char* message;  // the wizard's, for the step that ran out of room
    };
    const Case cases[] = {
        {"unpack", "Compression format error,please try again."},
        {"download", "Can't download driver/bios,please choose another site."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        ScopedEnv temp("NORV_WIZARD_TEMP", full + "\\" + c.folder + "\\");
        WizardRun r(1);
        ASSERT_NE(r.server, nullptr);
        ASSERT_EQ(r.temp, Env("NORV_WIZARD_TEMP")) << "the wizard runs in the small folder";
        const std::string work = r.WorkFolder();
        ASSERT_NE(work, "");
        r.Next(kMirror2);
        NextOnVersion(r);
        MessageBoxInfo box;
        ASSERT_TRUE(NextMessageBox(r.p->Pid(), 60000, &box));
        EXPECT_EQ(box.text, c.message);
        // What the failed step wrote, and the package, went before the message.
        EXPECT_EQ(FolderNames(work), std::set<std::string>{kLock});
        CancelOn(r, r.version);
        EXPECT_EQ(r.p->Wait(15000), 0);
        EXPECT_EQ(ReadErrorCode(), -1) << "nothing was flashed";
        EXPECT_TRUE(r.NewInTemp().empty());
    }
}

}  // namespace
