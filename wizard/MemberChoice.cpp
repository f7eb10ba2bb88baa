#include "MemberChoice.h"

#include <cstring>

int RankMember(char* name) {
    for (char* p = name; *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    const bool setup = std::strstr(name, "setup.exe") != nullptr;
    if (!setup && std::strstr(name, ".awd") == nullptr) return kNotCandidate;
    int backslashes = 0;
    for (char* p = name; *p; ++p) {
        if (*p == '/') *p = '\\';
        if (*p == '\\') ++backslashes;
    }
    if (!setup) return 0;
    const char* base = std::strrchr(name, '\\');
    base = base ? base + 1 : name;
    return std::strncmp(base, "setup.exe", 9) == 0 ? -1 : backslashes;
}

bool OfferMember(char* name, int& bestRank, std::string& downloadedFile, const std::string& tempPath) {
    int rank = RankMember(name);
    if (rank == kNotCandidate || rank > bestRank) return false;
    downloadedFile = tempPath + name;
    bestRank = rank;
    return true;
}
