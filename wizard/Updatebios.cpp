#include "Updatebios.h"

#include "Forms.h"
#include "HeldFile.h"
#include "LibraryLoad.h"
#include "PowerSource.h"
#include "Selectwork.h"
#include "WorkFolder.h"

TUpdateBios* UpdateBios = nullptr;
HMODULE RomscopeHandle = nullptr;
TRomscopeGetBIOSFileInfo Romscope_GetBIOSFileInfo = nullptr;
TRomscopeGetBIOSROMInfo Romscope_GetBIOSROMInfo = nullptr;
TRomInfoRecord RomInfoRecord = {};

TUpdateBios::TUpdateBios() {
    const std::string folder = ProgramFolder();
    if (!folder.empty()) SetCurrentDirectoryA(folder.c_str());

    RomscopeHandle = LoadCompanionLibrary("Romscope.dll");
    if (!RomscopeHandle) MessageBoxA(nullptr, "Can't load Romscope.dll", "Error", MB_OK);
    if (RomscopeHandle) {
        Romscope_GetBIOSFileInfo =
            reinterpret_cast<TRomscopeGetBIOSFileInfo>(GetProcAddress(RomscopeHandle, "Romscope_GetBIOSFileInfo"));
        Romscope_GetBIOSROMInfo =
            reinterpret_cast<TRomscopeGetBIOSROMInfo>(GetProcAddress(RomscopeHandle, "Romscope_GetBIOSROMInfo"));
    }
    if (!Romscope_GetBIOSFileInfo || !Romscope_GetBIOSROMInfo)
        MessageBoxA(nullptr, "Romscope is error", "Error", MB_OK);
}

bool TUpdateBios::Loaded() const { return Romscope_GetBIOSFileInfo && Romscope_GetBIOSROMInfo; }

void TUpdateBios::ReadRomInfo() {
    TRomInfoRecord& r = RomInfoRecord;
    int result = Romscope_GetBIOSROMInfo(r.ModelName, r.RomInfo, r.Info3, r.Info4, r.Info5);
    if (result != 0) {
        ModelName.clear();
        RomInfo.clear();
        MessageBoxA(nullptr, "The program can't be executed in Windows NT.", "NORV Update", MB_OK);
        return;
    }
    // The library must terminate both texts inside their buffers; a library
    // that does not still cannot make us read past them.
    ModelName.assign(r.ModelName, strnlen(r.ModelName, sizeof(r.ModelName)));
    RomInfo.assign(r.RomInfo, strnlen(r.RomInfo, sizeof(r.RomInfo)));
}

bool TUpdateBios::BoardFound() {
    ReadRomInfo();
    return !ModelName.empty();
}

std::string FlashToolFolder() {
    if (SelectWork) return SelectWork->AppPath;
    // Without the page (component tests): the program's folder.
    return ProgramFolder();
}

bool TUpdateBios::FlashImage() { return Flash() == TFlashResult::Flashed; }

TFlashResult TUpdateBios::Flash(const THeldFile* image) {
    // A flash that loses power half way leaves the board without firmware:
    // on battery nothing is started and nothing is touched, so a later try
    // with the adapter connected starts from the same state.
    if (!PowerAllowsFlash(SystemPowerSource())) {
        MessageBoxA(nullptr, kOnBatteryMessage, "NORV Update", MB_OK);
        return TFlashResult::OnBattery;
    }
    // From here until the tool has ended nobody can change the image.
    THeldFile opened;
    if (!image) {
        if (!opened.Open(ImagePath)) return TFlashResult::Failed;
        image = &opened;
    }
    HKEY key = nullptr;
    DWORD disposition = 0;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNorvKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                    &disposition);
    // Only a value that this run of the tool writes may count: an earlier
    // run's 530 must not turn a silent failure into a success.
    if (key) RegDeleteValueA(key, kErrorCodeValue);

    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
#if !defined(_WIN64)
    static_assert(sizeof(STARTUPINFOA) == 68, "the process start-up record is 68 bytes");
#endif
    const std::string tool = FlashToolFolder() + "Romwrite.exe";
    // Both paths quoted: temporary folders and image paths often hold blanks.
    std::string cmd = "\"" + tool + "\" \"" + ImagePath + "\"";
    // The tool works in the run's own folder, not in the one we were started from.
    const char* folder = RunWorkFolder && !RunWorkFolder->Path().empty() ? RunWorkFolder->Path().c_str() : nullptr;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(tool.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi)) {
        if (key) RegCloseKey(key);
        return TFlashResult::Failed;
    }
    DWORD code = STILL_ACTIVE;
    do {
        Sleep(100);
        if (!GetExitCodeProcess(pi.hProcess, &code)) break;
    } while (code == STILL_ACTIVE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    bool ok = false;
    if (key) {
        DWORD value = 0, size = sizeof(value);
        if (RegQueryValueExA(key, kErrorCodeValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
                ERROR_SUCCESS &&
            size == sizeof(value))
            ok = value == kFlashSucceeded;
        RegCloseKey(key);
    }
    return ok ? TFlashResult::Flashed : TFlashResult::Failed;
}
