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

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The local file's name, as the component stores it when no remote path is given.
std::string BaseName(const std::string& path) {
    const size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool LooksLikeUrl(const std::string& text) {
    const size_t colon = text.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alpha && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
    }
    return true;
}

bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            c = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        }
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return false;
        out += c;
    }
    return true;
}

std::string ParseFtpUrl(const std::string& text, TFtpUrl& url) {
    url = TFtpUrl();
    const size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string::npos) return "not a URL: " + text;
    std::string scheme = text.substr(0, schemeEnd);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (scheme != "ftp") return "only ftp:// URLs are understood, not " + scheme + "://";
    // The fragment and the query are no part of the path, as for curl.
    std::string rest = text.substr(schemeEnd + 3);
    rest = rest.substr(0, rest.find_first_of("?#"));
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    const std::string rawPath = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string info = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const size_t colon = info.find(':');
        url.hasUser = true;
        if (!PercentDecode(info.substr(0, colon), url.user)) return "control character in the URL's user name";
        if (colon != std::string::npos) {
            url.hasPassword = true;
            if (!PercentDecode(info.substr(colon + 1), url.password))
                return "control character in the URL's password";
        }
    }
    if (!authority.empty() && authority[0] == '[') return "IPv6 addresses are not supported: " + authority;
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos) {
        long long port = 0;
        if (!ParseNumber(authority.substr(colon + 1), 1, 65535, port))
            return "bad port in the URL: " + authority.substr(colon + 1);
        url.port = static_cast<int>(port);
        authority.resize(colon);
    }
    if (authority.empty()) return "the URL names no host: " + text;
    url.host = authority;
    if (!PercentDecode(rawPath, url.path)) return "control character in the URL's path";
    return std::string();
}

std::string LocalNameFor(const std::string& remote) {
    const size_t cut = remote.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? remote : remote.substr(cut + 1);
    if (name.empty() || name == "." || name == ".." || name.find(':') != std::string::npos) return std::string();
    return name;
}

std::string QvftpUsage() {
    return "usage: qvftp get [options] [-c] HOST REMOTE-PATH LOCAL-FILE\n"
           "       qvftp get [options] [-c] URL [LOCAL-FILE]\n"
           "       qvftp put [options] HOST LOCAL-FILE [REMOTE-PATH]\n"
           "       qvftp put [options] URL LOCAL-FILE\n"
           "       qvftp ls [options] HOST [DIR]   or   qvftp ls [options] URL\n"
           "       qvftp nlst [options] HOST [DIR]   or   qvftp nlst [options] URL\n"
           "  URL   ftp://[user[:password]@]host[:port]/path, percent-encoded; the path is\n"
           "        taken from the login folder (%2F at its start: from the root); what the\n"
           "        URL gives wins over -u, -p and -P. get without LOCAL-FILE writes the\n"
           "        file's own name into the current folder; put to a URL ending in \"/\"\n"
           "        keeps the local file's name there\n"
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
           "  -v            print the protocol dialogue (and which mode is used)\n"
           "  -q            no progress meter and no summary line\n"
           "  -h, --help    this text\n"
           "get and put show a progress meter when standard error is a console, and one\n"
           "summary line at the end. Exit code 0 on success, 1 on failure (one line on\n"
           "standard error: what failed, with which host and port, and why), 2 for a bad\n"
           "command line.\n";
}

namespace {

// The forms with a URL: get URL [LOCAL-FILE], put URL LOCAL-FILE, ls URL,
// nlst URL. What the URL gives (user, password, port) wins over -u, -p, -P.
std::string TakeUrlArgs(const std::vector<std::string>& positional, TQvftpArgs& args) {
    const std::string& text = positional[1];
    const size_t n = positional.size() - 1;
    TFtpUrl url;
    const std::string bad = ParseFtpUrl(text, url);
    if (!bad.empty()) return bad;
    args.url = true;
    args.host = url.host;
    if (url.port) args.port = url.port;
    if (url.hasUser) args.user = url.user;
    if (url.hasPassword) args.password = url.password;
    if (args.command == "get") {
        if (n > 2) return "get needs URL and maybe LOCAL-FILE";
        if (LocalNameFor(url.path).empty()) return "the URL names no file to get: " + text;
        args.remote = url.path;
        args.local = n == 2 ? positional[2] : LocalNameFor(url.path);
        if (args.local.empty()) return "empty LOCAL-FILE";
    } else if (args.command == "put") {
        if (n != 2) return "put needs URL and LOCAL-FILE";
        args.local = positional[2];
        if (args.local.empty()) return "empty LOCAL-FILE";
        // A URL that ends in "/" names a folder: the file keeps its name there (as with curl -T).
        args.remote = url.path;
        if (!args.remote.empty() && args.remote.back() == '/') args.remote += BaseName(args.local);
    } else {
        if (n != 1) return args.command + " needs URL only";
        args.remote = url.path;
        if (args.remote.size() > 1 && args.remote.back() == '/') args.remote.pop_back();
    }
    return std::string();
}

}  // namespace

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
        if (a == "-q") {
            args.quiet = true;
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
    if (args.command != "get" && args.command != "put" && args.command != "ls" && args.command != "nlst")
        return "unknown command " + args.command;
    if (args.resume && args.command != "get") return "-c is for get only";
    if (positional.size() > 1 && LooksLikeUrl(positional[1])) return TakeUrlArgs(positional, args);
    const size_t n = positional.size() - 1;  // after the command
    if (args.command == "get") {
        if (n != 3) return "get needs HOST, REMOTE-PATH and LOCAL-FILE (or URL [LOCAL-FILE])";
        args.remote = positional[2];
        args.local = positional[3];
        if (args.remote.empty() || args.local.empty()) return "empty REMOTE-PATH or LOCAL-FILE";
    } else if (args.command == "put") {
        if (n < 2 || n > 3) return "put needs HOST, LOCAL-FILE and maybe REMOTE-PATH (or URL LOCAL-FILE)";
        args.local = positional[2];
        if (n == 3) args.remote = positional[3];
        if (args.local.empty()) return "empty LOCAL-FILE";
    } else {
        if (n < 1 || n > 2) return args.command + " needs HOST and maybe DIR (or URL)";
        if (n == 2) args.remote = positional[2];
    }
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

namespace {

// Bytes in the unit that suits them: "512 B", "1.5 KiB", "3.2 MiB", "1.1 GiB".
std::string Size(double bytes, const char* unit) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", bytes, unit);
    return buf;
}

const char* UnitFor(int64_t bytes, double& scale) {
    if (bytes >= (1LL << 30)) {
        scale = 1.0 / (1LL << 30);
        return "GiB";
    }
    if (bytes >= (1LL << 20)) {
        scale = 1.0 / (1LL << 20);
        return "MiB";
    }
    scale = 1.0 / 1024;
    return "KiB";
}

}  // namespace

std::string FormatMeter(int64_t bytes, int64_t total, double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
    char rateText[32] = "";
    if (rate > 0) std::snprintf(rateText, sizeof rateText, "  %.1f MB/s", rate / 1e6);
    std::string line;
    if (total > 0) {
        const int64_t shown = bytes > total ? total : bytes;
        double scale = 1;
        const char* unit = UnitFor(total, scale);
        char head[64];
        std::snprintf(head, sizeof head, "%3d%%  %.1f of ", static_cast<int>(shown * 100 / total),
                      static_cast<double>(shown) * scale);
        line = head + Size(static_cast<double>(total) * scale, unit) + rateText;
        if (rate > 0 && shown < total) {
            const long long left = static_cast<long long>(static_cast<double>(total - shown) / rate + 0.5);
            char eta[64];
            std::snprintf(eta, sizeof eta, "  %lld:%02lld:%02lld left", left / 3600, left / 60 % 60, left % 60);
            line += eta;
        }
    } else {
        double scale = 1;
        const char* unit = UnitFor(bytes, scale);
        line = Size(static_cast<double>(bytes) * scale, unit) + rateText;
    }
    return line;
}
