// The BIOS service object: which board is installed, and having an image
// written by the maker's flashing tool.
#pragma once
#include <windows.h>

#include <string>

#include "RomscopeApi.h"

class THeldFile;

// How a flash ended: callers branch on the kind, never on a message.
enum class TFlashResult {
    Flashed,    // the tool reported success (530)
    Failed,     // the tool could not be started, or did not report success
    OnBattery,  // refused before the tool was started; the user has been told
};

class TUpdateBios {
public:
    // Makes the program's folder the current directory and loads the BIOS
    // information library; shows its messages when that fails (see Loaded).
    TUpdateBios();

    // Fills ModelName and RomInfo from the library.
    void ReadRomInfo();
    // True when a board of the maker was recognised.
    bool BoardFound();
    // Starts the flashing tool on ImagePath, waits for it, and reads its
    // outcome from the registry. On battery power it tells the user and
    // starts nothing. The image is held (no writing, replacing or deleting)
    // until the tool has ended: image, when the caller already holds it
    // (ImagePath names it), else opened here.
    TFlashResult Flash(const THeldFile* image = nullptr);
    // Flash, for callers that only need to know whether it was flashed.
    bool FlashImage();

    // False when the library or an entry point was missing: the program ends.
    bool Loaded() const;

    std::string ModelName;
    std::string RomInfo;
    std::string ImagePath;
};

extern TUpdateBios* UpdateBios;

// Process-wide state beside the object.
extern HMODULE RomscopeHandle;
extern TRomscopeGetBIOSFileInfo Romscope_GetBIOSFileInfo;
extern TRomscopeGetBIOSROMInfo Romscope_GetBIOSROMInfo;
extern TRomInfoRecord RomInfoRecord;

// Where the flashing tool reports: HKEY_LOCAL_MACHINE, this key, this value.
const char kNorvKey[] = "SOFTWARE\\NORV\\NORVUpdate";
const char kErrorCodeValue[] = "Error Code";
const DWORD kFlashSucceeded = 530;

// The folder FlashImage takes the tool from (the update-method page's AppPath).
std::string FlashToolFolder();
