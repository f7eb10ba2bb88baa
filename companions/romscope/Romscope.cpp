// The BIOS information library: the board identity from the SMBIOS tables.
// Buffer 1 gets the base board's product name when the base board's maker is
// NORV (empty otherwise); buffer 2 the BIOS vendor, version and date.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "SmbiosParse.h"

namespace {
typedef UINT(WINAPI* GetFirmwareTableFn)(DWORD, DWORD, PVOID, DWORD);

// The raw SMBIOS data as GetSystemFirmwareTable('RSMB') gives it: an 8-byte
// header (calling method, major, minor, revision, 32-bit length), then the
// structure table.
bool ReadSmbios(std::vector<unsigned char>& table) {
    auto get = reinterpret_cast<GetFirmwareTableFn>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemFirmwareTable"));
    if (!get) return false;
    const DWORD rsmb = 'R' << 24 | 'S' << 16 | 'M' << 8 | 'B';
    UINT size = get(rsmb, 0, nullptr, 0);
    if (size < 8) return false;
    std::vector<unsigned char> raw(size);
    if (get(rsmb, 0, raw.data(), size) != size) return false;
    DWORD length = 0;
    std::memcpy(&length, raw.data() + 4, 4);
    if (length > size - 8) return false;
    table.assign(raw.begin() + 8, raw.begin() + 8 + length);
    return true;
}

void Copy(char* dst, size_t size, const std::string& s) {
    size_t n = s.size() < size - 1 ? s.size() : size - 1;
    std::memcpy(dst, s.data(), n);
    dst[n] = '\0';
}
}  // namespace

extern "C" __declspec(dllexport) int WINAPI Romscope_GetBIOSROMInfo(char* model, char* romInfo, char* info3,
                                                                     char* info4, char* info5) {
    std::vector<unsigned char> table;
    if (!ReadSmbios(table)) return 1;
    TSmbiosIdentity id = ParseSmbios(table.data(), table.size());
    Copy(model, 30, IsNorvMaker(id.BoardMaker) ? id.BoardProduct : std::string());
    Copy(romInfo, 60, id.BiosVendor + " " + id.BiosVersion + " " + id.BiosDate);
    Copy(info3, 30, id.BoardMaker);
    Copy(info4, 34, id.BiosVersion);
    std::memset(info5, 0, 4);
    return 0;
}

// Reports the size of an image file in info ("<bytes>"); 0 when it can be read.
extern "C" __declspec(dllexport) int WINAPI Romscope_GetBIOSFileInfo(const char* imagePath, char* info, int size) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!imagePath || !GetFileAttributesExA(imagePath, GetFileExInfoStandard, &a)) return 1;
    if (info && size > 0) Copy(info, static_cast<size_t>(size), std::to_string(a.nFileSizeLow));
    return 0;
}
