// Whether a tool's standard error is a console (a progress meter belongs
// there) or redirected to a file or a pipe (where a meter is only noise).
#pragma once

#ifdef _WIN32
#include <windows.h>

// A console handle is a character device that answers GetConsoleMode; a
// character device that does not (NUL, a serial port) is no console. Under
// Wine a Unix terminal is given to the program as a console, a pipe or a file
// as a handle of that kind.
inline bool StderrIsConsole() {
    const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return h && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode) != 0;
}
#else
#include <unistd.h>

inline bool StderrIsConsole() { return isatty(STDERR_FILENO) == 1; }
#endif
