#include "SockText.h"

#include <cstring>

const TWinsockMessageRow WinsockMessage[WinsockMessageCount] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
    {0, "Unrecognized error code"},
};

std::string WinsockErrorText(uint16_t code) {
    if (code == 0) return "";
    // The closing row is left out of the search.
    for (int i = 0; i < WinsockMessageCount - 1; ++i) {
        if (WinsockMessage[i].Code == code) return std::to_string(code) + ":" + WinsockMessage[i].Text;
    }
    return "Unknown Error No. " + std::to_string(code);
}

std::string NthWord(const std::string& text, char delimiter, int n) {
    if (n < 1) return "";
    size_t start = 0;
    for (int field = 1; field < n; ++field) {
        size_t d = text.find(delimiter, start);
        if (d == std::string::npos) return "";
        start = d + 1;
    }
    size_t end = text.find(delimiter, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int NthPos(const std::string& text, char delimiter, int n) {
    if (n < 1) return 0;
    const int none = static_cast<int>(text.size()) + 1;
    size_t at = std::string::npos;
    size_t from = 0;
    for (int i = 0; i < n; ++i) {
        at = text.find(delimiter, from);
        if (at == std::string::npos) return none;
        from = at + 1;
    }
    if (at + 1 == text.size()) return none;
    return static_cast<int>(at) + 1;
}

void StreamLn(TStream& stream, const std::string& text) {
    stream.WriteText(text);
    stream.WriteText("\r\n");
}

int16_t LeadingReplyNumber(const std::string& line) {
    int32_t value = 0;
    size_t i = 0;
    for (; i < line.size() && i < 10; ++i) {
        char c = line[i];
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > 32767) return 0;
    }
    return static_cast<int16_t>(value);
}

size_t FirstLineLength(const char* data, size_t size, size_t limit) {
    if (!data || size == 0) return 0;
    size_t n = size < limit ? size : limit;
    const void* lf = std::memchr(data, '\n', n);
    if (!lf) return 0;
    return static_cast<size_t>(static_cast<const char*>(lf) - data) + 1;
}

std::string CommaPort(uint16_t port) {
    return "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

std::string CommaAddress(const std::string& dotted) {
    std::string s = dotted;
    for (char& c : s) {
        if (c == '.') c = ',';
    }
    return s;
}
