// Choice of the member of a package to hand on: a setup program before a BIOS
// image, and among equals the one listed last. Portable: the Win32 call-back
// of the unzip library feeds it one member name after the other.
#pragma once
#include <climits>
#include <string>

// Rank that no member reaches: the start of every choice.
constexpr int kNoMemberRank = 255;
// What RankMember gives for a name that is no candidate.
constexpr int kNotCandidate = INT_MAX;

// Ranks one member name, changing it in place: ASCII letters become small;
// for a candidate (a name holding "setup.exe" or ".awd") every '/' becomes '\'.
// Returns the rank (lower is better): -1 for a base name starting with
// "setup.exe"; the number of backslashes for another name holding "setup.exe";
// 0 for an image. Returns kNotCandidate for a name that is no candidate.
int RankMember(char* name);

// Offers one member to the choice: when its rank is not worse than bestRank,
// downloadedFile := tempPath + the changed name and bestRank := its rank.
// Returns true when the member became the choice.
bool OfferMember(char* name, int& bestRank, std::string& downloadedFile, const std::string& tempPath);
