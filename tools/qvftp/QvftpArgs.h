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
    bool quiet = false;   // -q: no progress meter and no summary line
    bool help = false;
    bool url = false;     // the server was given as an ftp:// URL
};

// What an ftp://[user[:password]@]host[:port]/path URL names. The user, the
// password and the path are percent-decoded; the path is the part after the
// host's "/" (so "ftp://h/pub/a" names "pub/a" in the login folder, and
// "ftp://h/%2Fpub/a" the absolute "/pub/a").
struct TFtpUrl {
    std::string user, password;
    bool hasUser = false, hasPassword = false;
    std::string host;
    int port = 0;  // 0: none given
    std::string path;
};

// True when text looks like a URL (a scheme followed by "://").
bool LooksLikeUrl(const std::string& text);

// Parses an ftp:// URL. Returns the empty text on success, else why the URL
// cannot be used (another scheme, no host, a bad port, an escape that decodes
// to a control character, which would end a command line early).
std::string ParseFtpUrl(const std::string& text, TFtpUrl& url);

// %XX escapes turned into their bytes; a "%" not followed by two hex digits
// stays as it is. False when the result holds a control character (below
// 0x20, or 0x7F).
bool PercentDecode(const std::string& text, std::string& out);

// The name a download of remote gets in the current folder: the part after
// the last "/" (or backslash). Empty when that is empty, "." or "..", or holds a ":"
// (a drive or a stream on Windows): such a name is refused, not guessed.
std::string LocalNameFor(const std::string& remote);

// Parses the arguments after the program name. Returns the empty text on
// success (args filled), else what is wrong with them.
std::string ParseQvftpArgs(const std::vector<std::string>& argv, TQvftpArgs& args);

std::string QvftpUsage();

// One parsed listing entry as ls prints it: attributes, size (right-aligned)
// and date in columns, then the name.
std::string FormatListEntry(const std::string& attributes, const std::string& size, const std::string& date,
                            const std::string& name);

// "1048576 of 4194304 bytes (25%)  12.5 MB/s": bytes so far, the announced
// total when there is one (total < 0: none), and the rate over seconds. The
// summary line at the end of a transfer.
std::string FormatProgress(int64_t bytes, int64_t total, double seconds);

// The progress meter on a console: "  25%  1.0 of 4.0 MiB  2.1 MB/s  0:00:02 left",
// or without a known total (total <= 0) "  1.0 MiB  2.1 MB/s". The rate is
// bytes over seconds; no rate or time left before there is one.
std::string FormatMeter(int64_t bytes, int64_t total, double seconds);
