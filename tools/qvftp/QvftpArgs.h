// Command line, progress line and listing format of the qvftp tool.
// Portable, so the native build tests them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TQvftpArgs {
    std::string command;  // "get", "put", "ls" or "nlst"
    std::string host;
    std::string remote;   // get: REMOTE-PATH; put: REMOTE-PATH or empty; ls, nlst: DIR or empty
    std::string local;    // get, put: LOCAL-FILE
    bool resume = false;  // get -c
    int port = 21;
    std::string user = "anonymous";
    std::string password = "qvftp@norv.test";
    int32_t timeoutMs = 0;  // 0: the client's own bounds
    bool verbose = false;
    bool active = false;  // -A: active-mode data connections (default passive)
    bool help = false;
};

// Parses the arguments after the program name. Returns the empty text on
// success (args filled), else what is wrong with them.
std::string ParseQvftpArgs(const std::vector<std::string>& argv, TQvftpArgs& args);

std::string QvftpUsage();

// One parsed listing entry as ls prints it: attributes, size (right-aligned)
// and date in columns, then the name.
std::string FormatListEntry(const std::string& attributes, const std::string& size, const std::string& date,
                            const std::string& name);

// "1048576 of 4194304 bytes (25%)  12.5 MB/s": bytes so far, the announced
// total when there is one (total < 0: none), and the rate over seconds.
std::string FormatProgress(int64_t bytes, int64_t total, double seconds);
