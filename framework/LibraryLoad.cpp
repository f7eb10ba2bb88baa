#include "LibraryLoad.h"

namespace {
// Set once the system search alone is the default for this process.
bool searchRestricted = false;

bool IsFullPath(const char* name) {
    return name[0] == '\\' || (name[0] && name[1] == ':');
}

std::string SystemFolder() {
    char dir[MAX_PATH] = {};
    UINT n = GetSystemDirectoryA(dir, sizeof(dir));
    if (n == 0 || n >= sizeof(dir)) return std::string();
    std::string s(dir, n);
    if (s.back() != '\\') s += '\\';
    return s;
}

// A library by full path; its own imports from the system folder when the
// system can restrict them, else from the library's own folder first.
HMODULE LoadByFullPath(const std::string& path) {
    if (searchRestricted) return LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
}  // namespace

void RestrictLibrarySearch() {
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDefault = kernel ? reinterpret_cast<TSetDefaultDllDirectories>(
                                   reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                             : nullptr;
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        searchRestricted = true;
        return;
    }
    SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* name) {
    if (!name || !*name) return nullptr;
    if (searchRestricted && !IsFullPath(name)) return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const std::string folder = SystemFolder();
    if (folder.empty()) return nullptr;
    return LoadByFullPath(IsFullPath(name) ? std::string(name) : folder + name);
}

HMODULE LoadCompanionLibrary(const char* name) {
    if (!name || !*name) return nullptr;
    if (IsFullPath(name)) return LoadByFullPath(name);
    const std::string folder = ProgramFolder();
    if (folder.empty()) return nullptr;
    return LoadByFullPath(folder + name);
}

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    if (n == 0 || n >= sizeof(path)) return std::string();
    std::string folder(path, n);
    size_t slash = folder.rfind('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}
