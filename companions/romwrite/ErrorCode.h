// Where the flashing tool leaves its outcome: HKLM\SOFTWARE\NORV\NORVUpdate,
// value "Error Code" (a 4-byte number; 530 means flashed).
#pragma once
#include <windows.h>

inline void ReportErrorCode(DWORD code) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NORV\\NORVUpdate", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Error Code", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&code), sizeof(code));
        RegCloseKey(key);
    }
}
