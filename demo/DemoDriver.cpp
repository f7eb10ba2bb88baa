// Walks the wizard through "Update BIOS from the Internet" on the demo's
// mirrors, as a user would: AutoSelect, the newest version, the flash. Takes a
// screenshot of each page and prints what happened.
#include <cstdio>
#include <string>

#include "PowerSource.h"
#include "Program.h"

using namespace drv;

namespace {
int Fail(const char* what) {
    std::printf("demo: FAILED: %s\n", what);
    return 1;
}

std::string Shot(HWND w, const char* name) {
    std::string path = ScreenshotDir() + "\\" + name;
    Screenshot(w, path);
    return path;
}

// Whether a site library carries the publisher's key: then the wizard takes
// only signed index files and checksummed packages.
bool LibraryHoldsKey(const std::string& path) {
    HMODULE lib = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!lib) return false;
    const bool found = FindResourceA(lib, "#1", "PublicKey") != nullptr;
    FreeLibrary(lib);
    return found;
}

}  // namespace

int main() {
    AppFolder app("sim", "real");
    CopyInto(BinDir() + "sites\\demo\\NorvSite.dll", app.Path);
    const bool keyed = LibraryHoldsKey(app.Path + "NorvSite.dll");
    std::printf("demo: the site library %s the publisher's public key\n", keyed ? "holds" : "does not hold");
    SetErrorCode(-1);
    Program p(app.Path + "NorvUpdate.exe", app.Path);

    HWND work = WaitForPage(p.Pid(), "Select the Update Method", 30000);
    if (!work) return Fail("the update-method page did not appear");
    Sleep(300);
    Shot(work, "1-update-method.png");
    SelectItem(Child(work, "ComboBox"), 1);
    Click(Child(work, "Button", "&Next"));

    HWND server = WaitForPage(p.Pid(), "Select the NORV Update Server", 15000);
    if (!server) return Fail("the server page did not appear");
    Sleep(300);
    HWND list = Child(server, "ComboBox");
    HWND autoSelect = Child(server, "Button", "&AutoSelect");
    if (!autoSelect) return Fail("no AutoSelect button");
    Shot(server, "2-server.png");
    std::printf("demo: AutoSelect probes the mirrors one after the other (the first is silent)\n");
    Click(autoSelect);
    if (!WaitFor(30000, [&] { return WindowText(autoSelect) == "AutoSelect"; }))
        return Fail("AutoSelect chose no mirror");
    const int chosen = static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0));
    std::printf("demo: chosen mirror: %s (entry %d)\n", ComboText(list, chosen).c_str(), chosen + 1);
    Shot(server, "2-server-chosen.png");
    Click(Child(server, "Button", "&Next"));

    HWND version = WaitForPage(p.Pid(), "Select the Version ", 60000);
    if (!version) return Fail("the version page did not appear");
    Sleep(300);
    HWND versions = Child(version, "ComboBox");
    const int sel = static_cast<int>(SendMessageA(versions, CB_GETCURSEL, 0, 0));
    std::printf("demo: versions for the board: %d; chosen: %s\n",
                static_cast<int>(SendMessageA(versions, CB_GETCOUNT, 0, 0)), ComboText(versions, sel).c_str());
    Shot(version, "3-version.png");
    // The wizard asks the same question just before it starts the flashing tool.
    const TPowerSource power = SystemPowerSource();
    std::printf("demo: power source: %s\n", PowerSourceName(power));
    Click(Child(version, "Button", "&Next"));
    if (!PowerAllowsFlash(power)) {
        MessageBoxInfo box;
        if (NextMessageBox(p.Pid(), 60000, &box)) std::printf("demo: the wizard says: %s\n", box.text.c_str());
        Click(Child(version, "Button", "&Cancel"));
    }

    const long code = p.Wait(120000);
    if (code < 0) return Fail("the wizard did not end after the flash");
    const long result = ReadErrorCode();
    const std::string part = ReadFile(app.Path + "Flashpart.bin");
    std::printf("demo: flash result: %ld (%s); the emulated part holds %u bytes; exit code %ld\n", result,
                result == 530 ? "flashed" : "not flashed", static_cast<unsigned>(part.size()), code);
    if (result == 530 && keyed)
        std::printf("demo: verified before flashing: the signatures of Path.idx and board.idx (RSA, SHA-256) "
                    "and the package's SHA-256 checksum\n");
    return result == 530 && code == 0 ? 0 : 1;
}
