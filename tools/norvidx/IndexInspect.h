// What the index inspector adds to the readers: the JSON form of a version
// list and the lint of a version index. Portable, like the readers.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "IndexReader.h"

// A JSON string literal holding exactly the given bytes: quotes, backslashes
// and control characters escaped, and every byte from 0x7F up written as
// \u007f..\u00ff, so the output is plain ASCII and a reader gets the bytes
// back by encoding the string as Latin-1.
std::string JsonString(std::string_view bytes);

// The entries as a JSON array, one object per entry, in list order.
std::string VersionsJson(const TVersionEntries& list);

struct TIndexWarning {
    int Line;  // 1-based line number in the file
    std::string Text;
};

// Reads a version index and reports each line that the reader would drop or
// misread, in line order. With a model name the board checks are made for
// that board; without one, for every board that the file names. False when
// the file cannot be opened.
bool LintVersionIndex(const std::string& path, const std::string* model, std::vector<TIndexWarning>& out);
void LintVersionIndex(TIndexFile& file, const std::string* model, std::vector<TIndexWarning>& out);
