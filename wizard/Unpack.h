// Unpacking of a downloaded .zip package into the temporary folder through
// unzip32.dll, choosing on the way the member to hand on.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "UnzipApi.h"

// What one unpack works on. DownloadedFile names the package on entry and the
// chosen member afterwards (or still the package when none was a candidate);
// TempPath is the extraction folder, ending with a backslash.
// ChosenMember is the chosen member's name as the archive stores it.
struct TUnpackContext {
    std::string& DownloadedFile;
    std::string TempPath;
    std::string ChosenMember = std::string();
};

// Process-wide state: the library, loaded at the first unpack that finds it
// and never released, and its entry point, looked up once it is found.
extern HMODULE UnzipHandle;
extern WindllUnzipFn UnzipEntry;
// Rank of the member chosen so far in the running unpack (lower is better).
extern int BestRank;
// The file name the library is loaded by from the program's folder:
// "unzip32.dll" (a full path is taken as it is).
extern const char* UnzipLibraryName;
// Shows one failure to the user. Default: a message box without owner, titled
// "NORV Update", with one OK button and no icon.
extern std::function<void(const char* text)> UnpackMessage;

// Lists the package (choosing the member), then extracts it into TempPath.
// False when a message has been shown; the caller then deletes the package.
bool UnpackPackage(TUnpackContext& context);

// The library's per-member call-back of the listing pass; uses only name.
void WINAPI ChooseMember(unsigned long size, unsigned long compressedSize, unsigned ratio,
                         unsigned month, unsigned day, unsigned year,
                         unsigned hour, unsigned minute, unsigned second,
                         LPSTR name, LPCSTR method, unsigned long crc, char encrypted);
