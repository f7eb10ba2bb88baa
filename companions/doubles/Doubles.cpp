// Stand-ins for the failure cases of the BIOS information library and the
// flashing tool; each is built as its own file under bin/doubles/.
#include <windows.h>

#include "../romwrite/ErrorCode.h"

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
    ReportErrorCode(531);  // refuses the image
#endif
    // The silent one writes nothing at all and ends with exit code 0.
    return 0;
}
#endif
