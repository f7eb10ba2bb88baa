// Stand-ins for the failure cases of the BIOS information library and the
// flashing tool; each is built as its own file under bin/doubles/.
#include <windows.h>

#ifdef NORV_ROMSCOPE_NO_ENTRY
// A library that lacks Romscope_GetBIOSFileInfo.
extern "C" __declspec(dllexport) int WINAPI Romscope_GetBIOSROMInfo(char* model, char*, char*, char*, char*) {
    lstrcpyA(model, "MODEL-A1");
    return 0;
}
#endif

#if defined(NORV_ROMWRITE_FAIL) || defined(NORV_ROMWRITE_SILENT)
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#ifdef NORV_ROMWRITE_FAIL
    // Refuses the image: writes 531.
    HKEY key = nullptr;
    DWORD code = 531;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NORV\\NORVUpdate", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Error Code", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&code), sizeof(code));
        RegCloseKey(key);
    }
#endif
    // The silent one writes nothing at all and ends with exit code 0.
    return 0;
}
#endif
