// The BIOS service object: which board is installed, and having an image
// written by the maker's flashing tool.
#pragma once
#include <windows.h>

#include <string>

#include "RomscopeApi.h"

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
    // outcome from the registry; true when it reported success (530).
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
