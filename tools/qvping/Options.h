// Command-line options in the style of the system ping and tracert tools:
// "-x value" or "/x value", given before or after the host.
#pragma once
#include <cstdlib>
#include <map>
#include <string>

struct TToolOptions {
    std::string Host;
    std::map<char, long long> Values;
    std::string Error;  // empty when the command line was understood
    bool Help = false;  // --help, /?, or -h where -h is no option of the tool (or stands alone)
};

// known: the option letters that take a number; range checks are the caller's.
inline TToolOptions ParseToolOptions(int argc, char** argv, const std::string& known) {
    TToolOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "/?" || ((a == "-h" || a == "/h") && (known.find('h') == std::string::npos || argc == 2))) {
            o.Help = true;
            return o;
        }
        if (a.size() == 2 && (a[0] == '-' || a[0] == '/') && a != "--") {
            const char key = a[1];
            if (known.find(key) == std::string::npos) {
                o.Error = "Bad option " + a + ".";
                return o;
            }
            if (i + 1 >= argc) {
                o.Error = "Value must be supplied for option " + a + ".";
                return o;
            }
            const std::string v = argv[++i];
            char* end = nullptr;
            const long long n = std::strtoll(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0') {
                o.Error = "Bad value for option " + a + ".";
                return o;
            }
            o.Values[key] = n;
        } else if (o.Host.empty()) {
            o.Host = a;
        } else {
            o.Error = "Bad parameter " + a + ".";
            return o;
        }
    }
    if (o.Error.empty() && o.Host.empty()) o.Error = "A host must be given.";
    return o;
}

// The value of an option, or fallback; false (with Error set) when the value
// lies outside lo..hi.
inline bool ToolOptionValue(TToolOptions& o, char key, long long lo, long long hi, long long fallback, int& out) {
    auto it = o.Values.find(key);
    const long long v = it == o.Values.end() ? fallback : it->second;
    if (v < lo || v > hi) {
        o.Error = "Bad value for option -" + std::string(1, key) + ", valid range is from " + std::to_string(lo) +
                  " to " + std::to_string(hi) + ".";
        return false;
    }
    out = static_cast<int>(v);
    return true;
}
