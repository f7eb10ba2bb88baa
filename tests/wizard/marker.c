/* A library that says it was loaded: on process attach it writes an empty
   file NAME.loaded (NAME its own file name) into the folder NORV_MARKER_DIR
   names. Copied under the names of system libraries and of our companions
   into folders where the wizard must never take a library from. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char dir[MAX_PATH], path[MAX_PATH], mark[2 * MAX_PATH + 16];
    DWORD n = GetEnvironmentVariableA("NORV_MARKER_DIR", dir, sizeof(dir));
    if (n == 0 || n >= sizeof(dir)) return TRUE;
    if (!GetModuleFileNameA(self, path, sizeof(path))) return TRUE;
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    wsprintfA(mark, "%s\\%s.loaded", dir, name);
    HANDLE f = CreateFileA(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return TRUE;
}
