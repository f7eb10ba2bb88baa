#include "SmbiosParse.h"

#include <cctype>

namespace {
// The n-th (1-based) string of the string set that follows a formatted area.
std::string StringAt(const unsigned char* strings, const unsigned char* end, unsigned n) {
    if (n == 0) return std::string();
    const unsigned char* p = strings;
    for (unsigned i = 1; p < end && *p; ++i) {
        const unsigned char* s = p;
        while (p < end && *p) ++p;
        if (i == n) return std::string(reinterpret_cast<const char*>(s), static_cast<size_t>(p - s));
        ++p;
    }
    return std::string();
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}
}  // namespace

TSmbiosIdentity ParseSmbios(const unsigned char* table, size_t size) {
    TSmbiosIdentity id;
    const unsigned char* p = table;
    const unsigned char* end = table + size;
    bool haveBios = false, haveBoard = false;
    while (p + 4 <= end) {
        const unsigned type = p[0], length = p[1];
        if (length < 4 || p + length > end) break;
        const unsigned char* strings = p + length;
        // The string set ends with two NUL bytes.
        const unsigned char* next = strings;
        while (next + 1 < end && !(next[0] == 0 && next[1] == 0)) ++next;
        if (next + 1 >= end) break;
        next += 2;
        if (type == 0 && !haveBios && length >= 9) {
            id.BiosVendor = Trim(StringAt(strings, next, p[4]));
            id.BiosVersion = Trim(StringAt(strings, next, p[5]));
            id.BiosDate = Trim(StringAt(strings, next, p[8]));
            haveBios = true;
        } else if (type == 2 && !haveBoard && length >= 6) {
            id.BoardMaker = Trim(StringAt(strings, next, p[4]));
            id.BoardProduct = Trim(StringAt(strings, next, p[5]));
            haveBoard = true;
        } else if (type == 127) {
            break;
        }
        p = next;
    }
    return id;
}

bool IsNorvMaker(const std::string& maker) {
    std::string m;
    for (char c : maker)
        if (c != ' ') m += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return m.find("NORV") != std::string::npos;
}
