// Steps that the wizard's end-to-end tests share: the test images, the update
// from a file up to the dialog's answer, and a wizard run with the test site
// library up to the server page.
#pragma once
#include <memory>
#include <set>
#include <string>

#include "Program.h"

namespace e2e {

extern const char kWorkTitle[];
extern const char kServerTitle[];
extern const char kVersionTitle[];

// Entries of tests/wizard/sites.txt.
enum Site { kSilent, kMirror2, kMirror3, kNoPath, kNoCategory, kNoBoard, kSetup, kDead, kUnsafe, kWrongSha };
// Entries of tests/wizard/sites-signed.txt (the library with the publisher's key).
enum SignedSite { kSigned, kPackageByte, kVersionIndexByte, kSiteIndexByte, kNoSig, kOtherKey, kNoSha, kBadSha };

// The state folder of the e2e_sites fixture (NORV_E2E_STATE), and files of its site.
std::string State();
std::string SiteFile(const std::string& rel);
// From a mirror's protocol log: logins, and downloads of files whose path ends in name.
int Logins(int mirror);
int Downloads(int mirror, const std::string& name);

std::string RandomImage(size_t size, unsigned seed);
// The data of one member of a zip archive ("" when it cannot be read).
std::string ZipMember(const std::string& zip, const std::string& name);
// The names in a folder (with a trailing backslash), "." and ".." left out.
std::set<std::string> FolderNames(const std::string& folder);
// The image the newest version's package holds, as the site stores it.
std::string NewestImage();

// A folder of the user's images (its name holds a blank), removed at the end.
struct Images {
    Images();
    ~Images();
    std::string Add(const std::string& name, const std::string& bytes);
    std::string Folder;
};

// The page's title is whole on one line (its label is as wide and as high as
// the text in the title's font, measured here with the same fonts) and its
// label stays clear of the description below.
void ExpectTitleWholeAndClear(HWND page);

// Picks "Update BIOS from a file", presses Next and answers the dialog.
void FlashFromFile(drv::Program& p, HWND page, const std::string& image);

// A wizard run with a test site library (bin/sites/LIBRARY): method 0 stops on
// the first page, the Internet methods go on to the server page.
struct WizardRun {
    // cwd: the folder the wizard is started in (empty: its own folder).
    explicit WizardRun(int method, const std::string& romwrite = "real", const std::string& library = "e2e",
                       const std::string& cwd = "");
    // Chooses a site by hand and presses Next.
    void Next(int site);
    HWND WaitVersionPage(int ms = 60000);
    bool ErrorTextVisible();
    // The run's work folder in the temporary folder (with a trailing
    // backslash): the one that came after the start; "" when none came.
    std::string WorkFolder(int ms = 10000);
    // What is in the temporary folder now that was not there at the start.
    std::set<std::string> NewInTemp() const;

    // The wizard's temporary folder: the test's own, or NORV_WIZARD_TEMP
    // (with a trailing backslash), given to the wizard as TMP and TEMP.
    std::string temp;
    std::set<std::string> tempBefore;

    drv::AppFolder app;
    std::unique_ptr<drv::Program> p;
    HWND work = nullptr, server = nullptr, list = nullptr, version = nullptr, versions = nullptr;
};

}  // namespace e2e
