// One run of the unpacker over an archive: list, test or extract its members.
// This is what unzip32.dll's entry point and the norvunzip tool both call.
// Portable: files are written through FileSys, never through Win32 directly.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ZipReader.h"

namespace zipr {

enum class Mode { Extract, List, Test };

struct Job {
    std::string Archive;
    std::string Folder;  // extraction folder (created when missing); empty: current folder
    Mode Action = Mode::Extract;
    int Quiet = 0;          // 0: every message; 1: warnings and errors only; 2: none
    bool KeepPaths = true;  // false: members land in Folder under their base names
    bool Overwrite = true;  // false: Replace decides per existing file (no Replace: skip)
    std::vector<std::string> Include;  // members to work on (patterns with * and ?); empty: all
    std::vector<std::string> Exclude;  // members to leave out
    bool IgnoreCase = false;           // of the patterns
    uint64_t MaxTotal = uint64_t(1) << 30;  // bytes all members may unpack to together
    size_t MaxName = 259;                   // longest stored name that is reported or unpacked
    size_t MaxPath = 0;                     // longest output path (folder + name); 0: no limit
    std::function<void(const std::string& text)> Text;     // messages, as Quiet allows
    std::function<void(const Member& m)> OnMember;         // List: once per member to unpack
    std::function<bool(const std::string& path)> Replace;  // overwrite this existing file?
};

struct Totals {
    uint64_t Compressed = 0;
    uint64_t Size = 0;
    uint32_t Members = 0;
    std::string Comment;
};

// Opens job.Archive and runs the job over it. Every check that does not need
// the members' data (structure, overlaps, names, methods, encryption, the
// output limit) is made before anything is written. Members with names that
// would land outside the folder are skipped and never reported (result 1).
// Returns a result code of ZipReader.h.
int Run(const Job& job, Totals* totals = nullptr);
int Run(Source& archive, const Job& job, Totals* totals = nullptr);

// Output path of a member below folder, with the platform's separators.
std::string OutputPath(const std::string& folder, const std::string& name, bool keepPaths);

// Matches a name against a pattern of literal characters, '*' and '?'.
bool Matches(const std::string& pattern, const std::string& name, bool ignoreCase);

}  // namespace zipr
