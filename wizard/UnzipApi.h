// Interface of unzip32.dll: the option record DCL, the call-back record
// USERFUNCTIONS, the call-backs' signatures and the entry point windll_unzip.
// Shared by the library itself and by the wizard, which looks the entry up by
// name. Everything is __stdcall (WINAPI), as Windows libraries of this kind
// are; on 64-bit Windows there is only one calling convention anyway.
#pragma once
#include <windows.h>

extern "C" {

// Text output: one message, length bytes (also NUL-terminated). Returns the count it took.
typedef int(WINAPI* UzpPrintFn)(LPSTR text, unsigned long length);
typedef void(WINAPI* UzpSoundFn)(void);
// Asked before an existing file is overwritten when DCL::OverwriteAll is 0: 1 replaces it, 0 keeps it.
typedef int(WINAPI* UzpReplaceFn)(LPSTR fileName);
// Never called: encrypted members are refused with result 82.
typedef int(WINAPI* UzpPasswordFn)(LPSTR password, int size, LPCSTR prompt, LPCSTR name);
// Once per member in a listing. The name (10th) is a 260-byte buffer that the
// call-back may change; the change does not affect the unpacking. Sizes above
// 4 GiB - 1 are given as 0xFFFFFFFF. ratio: space saved, in tenths of a percent.
typedef void(WINAPI* UzpMemberFn)(unsigned long size, unsigned long compressedSize, unsigned ratio,
                                  unsigned month, unsigned day, unsigned year,
                                  unsigned hour, unsigned minute, unsigned second,
                                  LPSTR name, LPCSTR method, unsigned long crc, char encrypted);

// Options of one call. Fields 1 to 15 are 32-bit integers; then two texts.
typedef struct {
    int OnlyNewer;          // 1  extract only newer files (not supported: result 10 when set)
    int SpaceToUnderscore;  // 2  (ignored)
    int PromptToOverwrite;  // 3  (ignored: see OverwriteAll)
    int Quiet;              // 4  0 every message, 1 warnings and errors, 2 none
    int ToStdout;           // 5  (not supported: result 10 when set)
    int TestOnly;           // 6  check every member's data, write nothing
    int ListOnly;           // 7  list: one UzpMemberFn call per member, write nothing
    int FreshenOnly;        // 8  (not supported: result 10 when set)
    int ShowComment;        // 9  give the archive comment to the text output
    int KeepDirectories;    // 10 1: members land under their stored paths; 0: base names only
    int OverwriteAll;       // 11 1: overwrite existing files; 0: ask UzpReplaceFn
    int TranslateEol;       // 12 (not supported: result 10 when set)
    int InfoListing;        // 13 (not supported: result 10 when set)
    int IgnoreCase;         // 14 case-insensitive matching of the name lists
    int RestoreRights;      // 15 (ignored)
    LPSTR ZipFileName;      // 16 the archive
    LPSTR ExtractDir;       // 17 the extraction folder (NULL or "": the current folder)
} DCL, *LPDCL;

typedef struct {
    UzpPrintFn Print;
    UzpSoundFn Sound;
    UzpReplaceFn Replace;
    UzpPasswordFn Password;
    UzpMemberFn SendMember;
    // Filled by the library in a listing; the caller neither sets nor reads them.
    unsigned long TotalSizeComp;
    unsigned long TotalSize;
    unsigned long CompFactor;  // space saved over all members, percent
    unsigned long NumMembers;
    unsigned long CommentLength;
} USERFUNCTIONS, *LPUSERFUNCTIONS;

#if !defined(_WIN64)
static_assert(sizeof(DCL) == 68, "DCL is 68 bytes on 32-bit Windows");
static_assert(sizeof(USERFUNCTIONS) == 40, "USERFUNCTIONS is 40 bytes on 32-bit Windows");
#endif

// Lists, tests or extracts the archive of dcl. includeCount names in include
// (patterns with * and ?) restrict the members, excludeCount names in exclude
// leave members out; with none, every member. Returns 0, 1 (warning: something
// skipped) or an error code from 2 to 82.
typedef int(WINAPI* WindllUnzipFn)(int includeCount, char** include, int excludeCount, char** exclude,
                                   LPDCL dcl, LPUSERFUNCTIONS functions);

#ifdef UNZIP32_BUILD
__declspec(dllexport) int WINAPI windll_unzip(int includeCount, char** include, int excludeCount, char** exclude,
                                              LPDCL dcl, LPUSERFUNCTIONS functions);
#endif

}  // extern "C"
