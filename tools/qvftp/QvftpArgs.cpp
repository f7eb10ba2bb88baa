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
    return "usage: qvftp get [options] [-c] HOST REMOTE-PATH LOCAL-FILE\n"
           "       qvftp put [options] HOST LOCAL-FILE [REMOTE-PATH]\n"
           "       qvftp ls [options] HOST [DIR]\n"
           "       qvftp nlst [options] HOST [DIR]\n"
           "  get   downloads REMOTE-PATH into LOCAL-FILE; with -c an existing LOCAL-FILE\n"
           "        is continued from its size (REST), else the download starts afresh\n"
           "  put   uploads LOCAL-FILE as REMOTE-PATH (default: the local file's name)\n"
           "  ls    lists DIR (default: the login folder) in long form; when the server's\n"
           "        system is one the client knows, as columns: attributes, size, date, name\n"
           "  nlst  lists the names in DIR\n"
           "  Transfers are binary, in passive mode (EPSV, or PASV when the server does not\n"
           "  know EPSV) unless -A asks for active mode (PORT).\n"
           "options:\n"
           "  -P port       control port (default 21)\n"
           "  -u user       user name (default anonymous)\n"
           "  -p password   password (default qvftp@norv.test)\n"
           "  -t ms         time limit for look-up, connect and every wait for the server\n"
           "                (default: none for look-up and connect, 60 s for the waits)\n"
           "  -A            active mode: the server connects back to this machine\n"
           "  -v            print the protocol dialogue (and which mode is used)\n";
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
        if (a == "-c") {
            args.resume = true;
            continue;
        }
        if (a == "-A") {
            args.active = true;
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
    const size_t n = positional.size() - 1;  // after the command
    if (args.command == "get") {
        if (n != 3) return "get needs HOST, REMOTE-PATH and LOCAL-FILE";
        args.remote = positional[2];
        args.local = positional[3];
        if (args.remote.empty() || args.local.empty()) return "empty REMOTE-PATH or LOCAL-FILE";
    } else if (args.command == "put") {
        if (n < 2 || n > 3) return "put needs HOST, LOCAL-FILE and maybe REMOTE-PATH";
        args.local = positional[2];
        if (n == 3) args.remote = positional[3];
        if (args.local.empty()) return "empty LOCAL-FILE";
    } else if (args.command == "ls" || args.command == "nlst") {
        if (n < 1 || n > 2) return args.command + " needs HOST and maybe DIR";
        if (n == 2) args.remote = positional[2];
    } else {
        return "unknown command " + args.command;
    }
    if (args.resume && args.command != "get") return "-c is for get only";
    args.host = positional[1];
    if (args.host.empty()) return "empty HOST";
    return std::string();
}

std::string FormatListEntry(const std::string& attributes, const std::string& size, const std::string& date,
                            const std::string& name) {
    auto padded = [](const std::string& text, size_t width, bool right) {
        if (text.size() >= width) return text;
        const std::string fill(width - text.size(), ' ');
        return right ? fill + text : text + fill;
    };
    return padded(attributes, 10, false) + " " + padded(size, 12, true) + " " + padded(date, 12, false) + " " + name;
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
