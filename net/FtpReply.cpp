#include "FtpReply.h"

#include <cctype>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool HasCode(const std::string& line) {
    return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

}  // namespace

bool TReplyFrame::Continues(const std::string& line) {
    if (open_) return !(HasCode(line) && line.compare(0, 3, code_, 3) == 0 && line[3] == ' ');
    if (!line.empty() && line[0] == ' ') return true;
    if (HasCode(line) && line[3] == '-') {
        line.copy(code_, 3);
        open_ = true;
        return true;
    }
    return false;
}

bool ReadReplyLines(const std::string& first, const std::function<std::string()>& next,
                    const std::function<void(const std::string&)>& report, int maxLines) {
    TReplyFrame frame;
    std::string line = first;
    for (int n = 0; frame.Continues(line); ++n) {
        if (n >= maxLines) return false;
        line = next();
        if (report) report(line);
    }
    return true;
}

bool ParseEpsvReply(const std::string& reply, uint16_t& port) {
    const size_t open = reply.find('(');
    if (open == std::string::npos || reply.size() - open < 6) return false;
    const char d = reply[open + 1];
    if (d < 33 || d > 126 || IsDigit(d) || reply[open + 2] != d || reply[open + 3] != d) return false;
    size_t i = open + 4;
    uint32_t value = 0;
    const size_t begin = i;
    while (i < reply.size() && IsDigit(reply[i]) && i - begin < 5) value = value * 10 + (reply[i++] - '0');
    if (i == begin || i >= reply.size() || reply[i] != d || value == 0 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

namespace {

// Up to three digits at i, at most 255; i moves past them.
bool TakeByte(const std::string& s, size_t& i, uint8_t& out) {
    const size_t begin = i;
    unsigned value = 0;
    while (i < s.size() && IsDigit(s[i]) && i - begin < 3) value = value * 10 + (s[i++] - '0');
    if (i == begin || value > 255 || (i < s.size() && IsDigit(s[i]))) return false;
    out = static_cast<uint8_t>(value);
    return true;
}

}  // namespace

bool ParsePasvReply(const std::string& reply, TPasvReply& out) {
    const size_t from = HasCode(reply) ? 3 : 0;
    for (size_t start = from; start < reply.size(); ++start) {
        if (!IsDigit(reply[start]) || (start > from && IsDigit(reply[start - 1]))) continue;
        uint8_t n[6];
        size_t i = start;
        int got = 0;
        while (got < 6 && TakeByte(reply, i, n[got])) {
            ++got;
            if (got < 6) {
                if (i >= reply.size() || reply[i] != ',') break;
                ++i;
                while (i < reply.size() && reply[i] == ' ') ++i;  // "1, 2, 3" as some servers write it
            }
        }
        if (got < 6) continue;
        const uint16_t port = static_cast<uint16_t>(n[4] * 256 + n[5]);
        if (port == 0) return false;
        for (int k = 0; k < 4; ++k) out.host[k] = n[k];
        out.port = port;
        return true;
    }
    return false;
}

int32_t ReplyBytesTotal(const std::string& reply) {
    std::string upper(reply);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t at = upper.find("BYTE");
    if (at == std::string::npos) return 0;
    // Back to the nearest digit, then back over the run of digits.
    size_t end = at;
    while (end > 0 && !std::isdigit(static_cast<unsigned char>(upper[end - 1]))) --end;
    if (end == 0) return 0;
    size_t begin = end;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(upper[begin - 1]))) --begin;
    int64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        value = value * 10 + (upper[i] - '0');
        if (value > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

namespace {
bool IsSpace(char c) { return c == ' ' || c == '\t'; }
}  // namespace

int64_t AnnouncedSize(const std::string& reply) {
    // Walk back from the end: line end, an optional full stop, ")", "bytes"
    // (or "byte"), spaces, digits, "(".
    size_t i = reply.size();
    while (i > 0 && (reply[i - 1] == '\r' || reply[i - 1] == '\n' || IsSpace(reply[i - 1]))) --i;
    if (i > 0 && reply[i - 1] == '.') --i;
    if (i == 0 || reply[i - 1] != ')') return -1;
    --i;
    while (i > 0 && IsSpace(reply[i - 1])) --i;
    auto endsWithWord = [&](const char* word, size_t len) {
        if (i < len) return false;
        for (size_t k = 0; k < len; ++k)
            if (std::tolower(static_cast<unsigned char>(reply[i - len + k])) != word[k]) return false;
        return true;
    };
    if (endsWithWord("bytes", 5)) i -= 5;
    else if (endsWithWord("byte", 4)) i -= 4;
    else return -1;
    if (i == 0 || !IsSpace(reply[i - 1])) return -1;
    while (i > 0 && IsSpace(reply[i - 1])) --i;
    const size_t end = i;
    while (i > 0 && std::isdigit(static_cast<unsigned char>(reply[i - 1]))) --i;
    const size_t begin = i;
    if (begin == end || end - begin > 18) return -1;
    while (i > 0 && IsSpace(reply[i - 1])) --i;
    if (i == 0 || reply[i - 1] != '(') return -1;
    int64_t value = 0;
    for (size_t k = begin; k < end; ++k) value = value * 10 + (reply[k] - '0');
    return value;
}

TCmdType CommandKind(const std::string& command) {
    const size_t sp = command.find(' ');
    const std::string word = (sp == std::string::npos ? command : command.substr(0, sp)) + " ";
    if (word == "CWD ") return cmdChangeDir;
    if (word == "DELE ") return cmdDelete;
    if (word == "MKD ") return cmdMakeDir;
    if (word == "RMD ") return cmdRemoveDir;
    if (command == "PWD") return cmdCurrentDir;
    return cmdDoCommand;
}

std::string StripLineEnd(const std::string& line) {
    size_t n = line.size();
    if (n > 0 && line[n - 1] == '\n') --n;
    if (n > 0 && line[n - 1] == '\r') --n;
    return line.substr(0, n);
}

std::string DownloadFailure(const TDownloadEnd& end) {
    if (!end.abortLine.empty()) return end.abortLine;
    if (end.closingCode >= 400) return end.closingLine;
    if (end.announced >= 0 && end.received < end.announced)
        return "Transfer incomplete: " + std::to_string(end.received) + " of " + std::to_string(end.announced) +
               " bytes received";
    return std::string();
}
