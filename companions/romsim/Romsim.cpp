// The simulated BIOS information library of the demo and the tests: the same
// entry points as Romscope.dll, the board identity read from "Romscope.sim"
// beside the library. Lines "key=value": model, rominfo, result (the entry
// point's return value). A missing file reads as a board "MODEL-A1".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
HMODULE self = nullptr;

struct Sim {
    std::string model = "MODEL-A1";
    std::string rominfo = "NORV Simulated BIOS 1002 2000/10/01";
    int result = 0;
};

Sim Load() {
    Sim s;
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, sizeof(path));
    std::string p = path;
    size_t slash = p.rfind('\\');
    p = (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + "Romscope.sim";
    std::FILE* f = std::fopen(p.c_str(), "r");
    if (!f) return s;
    char line[256];
    while (std::fgets(line, sizeof(line), f)) {
        std::string l = line;
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
        size_t eq = l.find('=');
        if (eq == std::string::npos) continue;
        std::string k = l.substr(0, eq), v = l.substr(eq + 1);
        if (k == "model") s.model = v;
        else if (k == "rominfo") s.rominfo = v;
        else if (k == "result") s.result = std::atoi(v.c_str());
    }
    std::fclose(f);
    return s;
}

void Copy(char* dst, size_t size, const std::string& s) {
    size_t n = s.size() < size - 1 ? s.size() : size - 1;
    std::memcpy(dst, s.data(), n);
    dst[n] = '\0';
}
}  // namespace

BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = inst;
    return TRUE;
}

extern "C" __declspec(dllexport) int WINAPI Romscope_GetBIOSROMInfo(char* model, char* romInfo, char* info3,
                                                                     char* info4, char* info5) {
    Sim s = Load();
    if (s.result != 0) return s.result;
    Copy(model, 30, s.model);
    Copy(romInfo, 60, s.rominfo);
    Copy(info3, 30, "NORV");
    Copy(info4, 34, "simulated");
    std::memset(info5, 0, 4);
    return 0;
}

extern "C" __declspec(dllexport) int WINAPI Romscope_GetBIOSFileInfo(const char*, char* info, int size) {
    if (info && size > 0) info[0] = '\0';
    return 0;
}
