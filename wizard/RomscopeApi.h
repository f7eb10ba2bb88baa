// Entry points of the BIOS information library "Romscope.dll".
#pragma once
#include <windows.h>

// Fills the five caller-owned buffers of the ROM information record; 0 when
// they are filled, anything else when the BIOS cannot be read on this system.
typedef int(WINAPI* TRomscopeGetBIOSROMInfo)(char* model, char* romInfo, char* info3, char* info4, char* info5);
// Exported by every library; the wizard never calls it.
typedef int(WINAPI* TRomscopeGetBIOSFileInfo)(const char* imagePath, char* info, int size);

// The ROM information record: one static, zero-initialised area of 158 bytes.
struct TRomInfoRecord {
    char ModelName[30];  // board model name, NUL-terminated; empty: no board of the maker
    char RomInfo[60];    // a second NUL-terminated text
    char Info3[30];      // library-defined
    char Info4[34];      // library-defined
    char Info5[4];       // library-defined
};
static_assert(sizeof(TRomInfoRecord) == 158, "the ROM information record is 158 bytes");
