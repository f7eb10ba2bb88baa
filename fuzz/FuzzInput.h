// Shared by the index fuzz targets: an input is a first line (the category or
// model name to look for) followed by the bytes of an index file.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "IndexReader.h"
#include "FuzzCheck.h"


// A file handed over open never gives the "cannot be opened" message.
struct NoMessages : TIndexMessageSink {
    void ShowIndexMessage(const std::string&) override { FUZZ_CHECK(!"no message for an open file"); }
};

struct FuzzInput {
    std::string Name;      // the first line, without its line feed
    std::string_view File;  // the rest
};

inline FuzzInput SplitFuzzInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t lf = all.find('\n');
    if (lf == std::string_view::npos || lf > 64) return {std::string(), all};
    return {std::string(all.substr(0, lf)), all.substr(lf + 1)};
}

// The index bytes as an open index file, read through the same stdio path as
// a file on disk.
inline bool OpenFuzzFile(TIndexFile& file, std::string_view bytes) {
    static char empty[1];
    std::FILE* f = bytes.empty() ? fmemopen(empty, 1, "r") : fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
    if (!f) return false;
    if (bytes.empty()) std::fgetc(f);  // a stream with nothing left to read
    file.Attach(f);
    return true;
}

// What text-mode reading makes of the bytes: carriage returns dropped, the
// rest cut at the first Ctrl-Z.
inline std::string TextModeBytes(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        if (c == 26) break;
        if (c != '\r') out += c;
    }
    return out;
}

// A stored field must be a plain slice of one line: at most 255 characters,
// and a line feed only at its end.
inline bool IsOneLine(std::string_view s) {
    const size_t lf = s.find('\n');
    return s.size() <= 255 && (lf == std::string_view::npos || lf == s.size() - 1);
}

inline bool IsTrimmedText(std::string_view s) {
    return s.empty() || (static_cast<unsigned char>(s.front()) > ' ' && static_cast<unsigned char>(s.back()) > ' ');
}
