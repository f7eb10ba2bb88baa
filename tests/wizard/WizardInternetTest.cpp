// The Internet methods from start to end against real FTP servers (vsftpd on
// the test namespace's mirror addresses), driven from outside like a user.
#include <gtest/gtest.h>

#include <string>

#include "WizardSteps.h"

using namespace drv;
using namespace e2e;

namespace {

const char kDownloadFailed[] = "Can't download driver/bios,please choose another site.";

std::string ItemText(HWND combo, int i) { return ComboText(combo, i); }

// Commands a mirror received, as its protocol log quotes them ("EPSV", "PORT ...").
int Commands(int mirror, const std::string& verb) {
    const std::string log = ReadFile(State() + "\\mirror" + std::to_string(mirror) + "\\vsftpd.log");
    const std::string quoted = "\"" + verb;
    int n = 0;
    for (size_t p = 0; (p = log.find(quoted, p)) != std::string::npos; ++p) ++n;
    return n;
}

TEST(InternetUpdate, AutoSelectSkipsTheSilentMirrorAndTheNewestVersionIsFlashed) {
    WizardRun r(1);
    ASSERT_NE(r.server, nullptr);
    EXPECT_EQ(ItemText(r.list, 0), "silent.norv.test");
    EXPECT_EQ(SendMessageA(r.list, CB_GETCURSEL, 0, 0), 0) << "the first site is preselected";
    Screenshot(r.server, ScreenshotDir() + "\\server-page.png");
    HWND autoSelect = Child(r.server, "Button", "&AutoSelect");
    ASSERT_NE(autoSelect, nullptr);
    Click(autoSelect);
    ASSERT_TRUE(WaitFor(2000, [&] { return WindowText(autoSelect) == "Stop"; }));
    ASSERT_TRUE(WaitFor(30000, [&] { return WindowText(autoSelect) == "AutoSelect"; }));
    // The second site answers first in list order, although the third answers too.
    EXPECT_EQ(SendMessageA(r.list, CB_GETCURSEL, 0, 0), kMirror2);
    const int epsv = Commands(2, "EPSV");
    Click(Child(r.server, "Button", "&Next"));

    ASSERT_NE(r.WaitVersionPage(), nullptr);
    Sleep(300);
    Screenshot(r.version, ScreenshotDir() + "\\version-page.png");
    ASSERT_EQ(SendMessageA(r.versions, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(ItemText(r.versions, 0), "Version 1001");
    EXPECT_EQ(SendMessageA(r.versions, CB_GETCURSEL, 0, 0), 2) << "the last version is selected";
    HWND desc = ChildAt(r.version, "RichEdit20A", 208, 104);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(WindowText(desc), "Supports new processors.\r\nFixes the clock setting.");
    EXPECT_EQ(WindowText(Child(r.version, "Button", "&Next")), "&Next");
    for (HWND page : {r.work, r.server, r.version}) ExpectTitleWholeAndClear(page);

    Click(Child(r.version, "Button", "&Next"));
    EXPECT_EQ(r.p->Wait(60000), 0);
    EXPECT_EQ(ReadErrorCode(), 530);
    const std::string image = NewestImage();
    EXPECT_FALSE(image.empty());
    EXPECT_TRUE(ReadFile(r.app.Path + "Flashpart.bin") == image);
    EXPECT_TRUE(r.NewInTemp().empty()) << "the run's work folder, package and image included, is gone";
    // Mirror 2 has passive mode only: the index, the version index and the
    // package each came over a passive data connection.
    EXPECT_EQ(Commands(2, "EPSV"), epsv + 3);
    EXPECT_EQ(Commands(2, "PORT"), 0);
}

TEST(InternetUpdate, ABareImageChosenByHandIsFlashedWithoutUnpacking) {
    WizardRun r(1);
    ASSERT_NE(r.server, nullptr);
    const int epsv = Commands(3, "EPSV"), port = Commands(3, "PORT");
    r.Next(kMirror3);
    ASSERT_NE(r.WaitVersionPage(), nullptr);
    SelectItem(r.versions, 0);
    Sleep(200);
    EXPECT_EQ(WindowText(ChildAt(r.version, "RichEdit20A", 208, 104)), "First release.\r\nSupports the 440BX chipset.");
    Click(Child(r.version, "Button", "&Next"));
    EXPECT_EQ(r.p->Wait(60000), 0);
    EXPECT_TRUE(ReadFile(r.app.Path + "Flashpart.bin") == ReadFile(SiteFile("pub\\norv\\bios\\a1\\a1v1001.awd")));
    // Mirror 3 refuses passive mode: the first download asked for it once,
    // then the login went on in active mode (index, version index, image).
    EXPECT_EQ(Commands(3, "EPSV"), epsv + 1);
    EXPECT_EQ(Commands(3, "PORT"), port + 3);
}

TEST(DownloadOnly, SaveDialogOpensInTheProgramFolderWithThePackageName) {
    WizardRun r(2);
    ASSERT_NE(r.server, nullptr);
    r.Next(kMirror2);
    ASSERT_NE(r.WaitVersionPage(), nullptr);
    EXPECT_EQ(WindowText(Child(r.version, "Button", "&Save")), "&Save");
    SelectItem(r.versions, 0);
    Click(Child(r.version, "Button", "&Save"));
    HWND dlg = WaitForFileDialog(r.p->Pid(), 30000);
    ASSERT_NE(dlg, nullptr);
    Sleep(300);
    HWND name = GetDlgItem(dlg, 0x480);
    if (!name) name = GetDlgItem(dlg, 0x47c);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(WindowText(name), "a1v1001.awd");
    EXPECT_TRUE(FileExists(r.WorkFolder() + "a1v1001.awd")) << "downloaded into the run's work folder first";
    // A bare name lands in the dialog's folder: the program's own.
    ASSERT_NE(AnswerFileDialog(r.p->Pid(), "kept 1001.awd", 5000), "");
    EXPECT_EQ(r.p->Wait(30000), 0);
    EXPECT_TRUE(ReadFile(r.app.Path + "kept 1001.awd") == ReadFile(SiteFile("pub\\norv\\bios\\a1\\a1v1001.awd")));
    EXPECT_TRUE(r.NewInTemp().empty()) << "the temporary copy is gone";
}

TEST(DownloadOnly, ACancelledSaveShowsThePageAgainAndKeepsTheDownload) {
    WizardRun r(2);
    ASSERT_NE(r.server, nullptr);
    r.Next(kMirror2);
    ASSERT_NE(r.WaitVersionPage(), nullptr);
    Click(Child(r.version, "Button", "&Save"));
    HWND dlg = WaitForFileDialog(r.p->Pid(), 30000);
    ASSERT_NE(dlg, nullptr);
    Sleep(200);
    CancelFileDialog(dlg);
    EXPECT_NE(WaitForPage(r.p->Pid(), kVersionTitle, 10000), nullptr);
    EXPECT_TRUE(FileExists(r.WorkFolder() + "a1v1003.zip"));
    EXPECT_TRUE(IsWindowEnabled(Child(r.version, "Button", "&Save")));
    Click(Child(r.version, "Button", "&Cancel"));
    EXPECT_EQ(r.p->Wait(15000), 0);
}

TEST(ServerPage, DeadMirrorShowsErrorTextUntilTheSelectionChanges) {
    WizardRun r(1);
    ASSERT_NE(r.server, nullptr);
    EXPECT_FALSE(r.ErrorTextVisible());
    r.Next(kDead);
    ASSERT_TRUE(WaitFor(60000, [&] { return r.ErrorTextVisible(); }));
    EXPECT_TRUE(IsWindowEnabled(Child(r.server, "Button", "&Next")));
    EXPECT_TRUE(IsWindowEnabled(Child(r.server, "Button", "&Back")));
    Screenshot(r.server, ScreenshotDir() + "\\server-page-error.png");
    SelectItem(r.list, kMirror2);
    ASSERT_TRUE(WaitFor(5000, [&] { return !r.ErrorTextVisible(); }));
}

TEST(ServerPage, BackAndNextWithoutAChangeNeedNoNewLogin) {
    WizardRun r(1);
    ASSERT_NE(r.server, nullptr);
    const int before = Logins(2);
    r.Next(kMirror2);
    ASSERT_NE(r.WaitVersionPage(), nullptr);
    ASSERT_TRUE(WaitFor(5000, [&] { return Logins(2) == before + 1; }));
    Click(Child(r.version, "Button", "&Back"));
    ASSERT_NE(WaitForPage(r.p->Pid(), kServerTitle, 10000), nullptr);
    Click(Child(r.server, "Button", "&Next"));
    ASSERT_NE(WaitForPage(r.p->Pid(), kVersionTitle, 10000), nullptr);
    Sleep(500);
    EXPECT_EQ(Logins(2), before + 1) << "no new login and no new index fetch";
    Click(Child(r.version, "Button", "&Cancel"));
    EXPECT_EQ(r.p->Wait(15000), 0);
}

TEST(VersionPage, IndexFailuresGiveTheirMessages) {
    struct Case {
        int site;
        const char* text;
        bool ends;
    };
    for (Case c : {Case{kNoPath, kDownloadFailed, false},
                   Case{kNoCategory, "Can't find update infomation on this server.", false},
                   Case{kUnsafe, kDownloadFailed, false},
                   Case{kNoBoard, "Can't find update infomation on the server.", true}}) {
        SCOPED_TRACE(c.text);
        WizardRun r(1);
        ASSERT_NE(r.server, nullptr);
        r.Next(c.site);
        MessageBoxInfo box;
        ASSERT_TRUE(NextMessageBox(r.p->Pid(), 60000, &box));
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.title, "NORV Update");
        if (c.ends) {
            EXPECT_EQ(r.p->Wait(15000), 0) << "no entry for the board ends the program";
        } else {
            EXPECT_NE(WaitForPage(r.p->Pid(), kServerTitle, 5000), nullptr) << "the server page stays";
            Click(Child(r.server, "Button", "&Cancel"));
            EXPECT_EQ(r.p->Wait(15000), 0);
        }
    }
}

TEST(VersionPage, APackageWhoseChoiceIsASetupProgramStartsNothing) {
    WizardRun r(1);
    ASSERT_NE(r.server, nullptr);
    r.Next(kSetup);
    ASSERT_NE(r.WaitVersionPage(), nullptr);
    const std::string work = r.WorkFolder();
    ASSERT_NE(work, "");
    Click(Child(r.version, "Button", "&Next"));
    HWND next = Child(r.version, "Button", "&Next");
    ASSERT_TRUE(WaitFor(30000, [&] { return FileExists(work + "setup.exe") && IsWindowEnabled(next); }));
    EXPECT_TRUE(IsWindowVisible(r.version));
    EXPECT_TRUE(r.p->Running());
    EXPECT_EQ(ReadErrorCode(), -1) << "nothing was flashed";
    Click(Child(r.version, "Button", "&Cancel"));
    EXPECT_EQ(r.p->Wait(15000), 0);
}

// What the wizard must never leave behind in its work folder when it
// refuses a site: the index files, their signatures, the package, its image.
const char* const kDownloads[] = {"Path.idx", "Path.idx.sig", "board.idx", "board.idx.sig", "a1v1003.zip",
                                  "bios\\a1v1003.awd"};

TEST(VerifiedUpdate, OnlyWhatThePublisherSignedAndChecksummedIsFlashedOrSaved) {
    const char kNotSigned[] = "The update information on the server is not signed correctly.";
    const char kNoChecksum[] = "The update information on the server has no valid checksum for this version.";
    const char kDamaged[] = "The downloaded file is damaged. Nothing was flashed.";
    const char kDamagedSave[] = "The downloaded file is damaged. Nothing was saved.";
    struct Case {
        const char* library;
        int site;
        int method;
        const char* message;  // nullptr: flashed
        bool atVersionPage;   // refused on Next of the version page, not while loading the index
    };
    const Case cases[] = {
        {"signed", kSigned, 1, nullptr, true},
        {"signed", kPackageByte, 1, kDamaged, true},
        {"signed", kPackageByte, 2, kDamagedSave, true},
        {"signed", kVersionIndexByte, 1, kNotSigned, false},
        {"signed", kSiteIndexByte, 1, kNotSigned, false},
        {"signed", kNoSig, 1, kNotSigned, false},
        {"signed", kOtherKey, 1, kNotSigned, false},
        {"signed", kNoSha, 1, kNoChecksum, true},
        {"signed", kBadSha, 1, kNoChecksum, true},
        // Without a key the signatures are not asked for, but a checksum given is checked.
        {"e2e", kWrongSha, 1, kDamaged, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.library) + " site " + std::to_string(c.site) + " method " +
                     std::to_string(c.method));
        WizardRun r(c.method, "real", c.library);
        ASSERT_NE(r.server, nullptr);
        r.Next(c.site);
        if (c.atVersionPage) {
            ASSERT_NE(r.WaitVersionPage(), nullptr);
            ASSERT_EQ(SendMessageA(r.versions, CB_GETCURSEL, 0, 0), 2) << "version 1003 is chosen";
            Click(Child(r.version, "Button", c.method == 2 ? "&Save" : "&Next"));
        }
        if (!c.message) {
            EXPECT_EQ(r.p->Wait(60000), 0);
            EXPECT_EQ(ReadErrorCode(), 530);
            EXPECT_TRUE(ReadFile(r.app.Path + "Flashpart.bin") == NewestImage());
            continue;
        }
        MessageBoxInfo box;
        ASSERT_TRUE(NextMessageBox(r.p->Pid(), 60000, &box));
        EXPECT_EQ(box.text, c.message);
        EXPECT_EQ(box.title, "NORV Update");
        HWND stays = c.atVersionPage ? r.version : r.server;
        ASSERT_TRUE(WaitFor(10000, [&] { return IsWindowVisible(stays) && IsWindowEnabled(Child(stays, "Button", "&Back")); }))
            << "the page stays, ready for another choice";
        EXPECT_EQ(WaitForFileDialog(r.p->Pid(), 300), nullptr) << "no save dialog";
        EXPECT_EQ(ReadErrorCode(), -1) << "nothing was flashed";
        EXPECT_FALSE(FileExists(r.app.Path + "Flashpart.bin"));
        const std::string work = r.WorkFolder();
        ASSERT_NE(work, "");
        for (const char* f : kDownloads) EXPECT_FALSE(FileExists(work + f)) << f;
        Click(Child(stays, "Button", "&Cancel"));
        EXPECT_EQ(r.p->Wait(15000), 0);
    }
}

// Behind a masquerading router (tests/wizard/nat-e2e.sh runs this test, and
// the whole of Wine, in its client namespace): the server cannot connect back
// to the client, so only passive transfers get through.
TEST(BehindNat, TheUpdateFromTheInternetWorks) {
    const std::string site = Env("NORV_NAT_SITE");
    if (site.empty()) GTEST_SKIP() << "run by tests/wizard/nat-e2e.sh in its client namespace";
    WizardRun r(1, "real", "nat");
    ASSERT_NE(r.server, nullptr);
    r.Next(0);
    ASSERT_NE(r.WaitVersionPage(), nullptr);
    ASSERT_EQ(SendMessageA(r.versions, CB_GETCOUNT, 0, 0), 3);
    SelectItem(r.versions, 0);
    Sleep(200);
    Click(Child(r.version, "Button", "&Next"));
    EXPECT_EQ(r.p->Wait(60000), 0);
    EXPECT_EQ(ReadErrorCode(), 530);
    EXPECT_TRUE(ReadFile(r.app.Path + "Flashpart.bin") == ReadFile(site + "\\pub\\norv\\bios\\a1\\a1v1001.awd"));
}

}  // namespace

