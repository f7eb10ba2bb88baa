// Where the program takes its libraries from.
//
// The wizard runs elevated and is often started from a downloads folder, where
// anyone can leave a file named like a system library. So the search is cut
// down before anything else is loaded: system libraries come from the system
// folder only, our own companions by full path from the program's folder, and
// nothing ever from the current folder.
#pragma once
#include <windows.h>

#include <string>

// First thing in WinMain: the system folder alone as the default search
// (SetDefaultDllDirectories where the system has it), else at least not the
// current folder (SetDllDirectoryA with an empty text).
void RestrictLibrarySearch();

// A library of the system ("riched20.dll", "ICMP.DLL"), from the system folder.
HMODULE LoadSystemLibrary(const char* name);

// One of our companions ("unzip32.dll"), from the program's folder; a name
// that is already a full path is taken as it is.
HMODULE LoadCompanionLibrary(const char* name);

// The folder of the program file, with a trailing backslash (empty when the
// path has no backslash).
std::string ProgramFolder();
