#include "QvftpArgs.h"

#include <cstdio>

namespace {

// A decimal number within [lo, hi]; false for anything else.
bool ParseNumber(const std::string& text, long long lo, long long hi, long long& out) {
    if (text.empty() || text.size() > 10) return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

std::string QvftpUsage() {
    return "usage: qvftp get [-P port] [-u user] [-p password] [-t timeout-ms] [-v] HOST REMOTE-PATH LOCAL-FILE\n"
           "  downloads REMOTE-PATH from the FTP server HOST (active mode) into LOCAL-FILE\n"
           "  -P port       control port (default 21)\n"
           "  -u user       user name (default anonymous)\n"
           "  -p password   password (default qvftp@norv.test)\n"
           "  -t ms         time limit for look-up, connect and every wait for the server\n"
           "                (default: none for look-up and connect, 60 s for the waits)\n"
           "  -v            print the protocol dialogue\n";
}

std::string ParseQvftpArgs(const std::vector<std::string>& argv, TQvftpArgs& args) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            args.help = true;
            return std::string();
        }
        if (a == "-v") {
            args.verbose = true;
            continue;
        }
        if (a != "-P" && a != "-u" && a != "-p" && a != "-t") return "unknown option " + a;
        if (i + 1 >= argv.size()) return "option " + a + " needs a value";
        const std::string& value = argv[++i];
        long long n = 0;
        if (a == "-P") {
            if (!ParseNumber(value, 1, 65535, n)) return "bad port: " + value;
            args.port = static_cast<int>(n);
        } else if (a == "-t") {
            if (!ParseNumber(value, 0, INT32_MAX, n)) return "bad time-out: " + value;
            args.timeoutMs = static_cast<int32_t>(n);
        } else if (a == "-u") {
            args.user = value;
        } else {
            args.password = value;
        }
    }
    if (positional.empty()) return "no command given";
    args.command = positional[0];
    if (args.command != "get") return "unknown command " + args.command;
    if (positional.size() != 4) return "get needs HOST, REMOTE-PATH and LOCAL-FILE";
    args.host = positional[1];
    args.remote = positional[2];
    args.local = positional[3];
    if (args.host.empty() || args.remote.empty() || args.local.empty()) return "empty HOST, REMOTE-PATH or LOCAL-FILE";
    return std::string();
}

std::string FormatProgress(int64_t bytes, int64_t total, double seconds) {
    char buf[160];
    const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0;
    if (total > 0) {
        const int64_t shown = bytes > total ? total : bytes;
        std::snprintf(buf, sizeof buf, "%lld of %lld bytes (%d%%)  %.1f MB/s", static_cast<long long>(bytes),
                      static_cast<long long>(total), static_cast<int>(shown * 100 / total), rate);
    } else {
        std::snprintf(buf, sizeof buf, "%lld bytes  %.1f MB/s", static_cast<long long>(bytes), rate);
    }
    return buf;
}
