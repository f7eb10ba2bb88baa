#include "FtpReply.h"

#include <cctype>

bool ReplyContinues(const std::string& line) {
    if (line.empty()) return false;
    return line[0] == ' ' || (line.size() >= 4 && line[3] == '-');
}

bool ReadReplyLines(const std::string& first, const std::function<std::string()>& next,
                    const std::function<void(const std::string&)>& report, int maxLines) {
    std::string line = first;
    for (int n = 0; ReplyContinues(line); ++n) {
        if (n >= maxLines) return false;
        line = next();
        if (report) report(line);
    }
    return true;
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
