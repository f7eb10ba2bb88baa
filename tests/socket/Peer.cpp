#include "Peer.h"

#include <cstdio>
#include <stdexcept>

namespace peer {

namespace {
struct WinsockRef {
    WinsockRef() {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
    ~WinsockRef() { WSACleanup(); }
};
}  // namespace

Peer::Peer(const std::string& addr, uint16_t port, Script script, int connections) : script_(std::move(script)) {
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL yes = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = inet_addr(addr.c_str());
    sa.sin_port = htons(port);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(listener_, 4) != 0) {
        closesocket(listener_);
        WSACleanup();
        throw std::runtime_error("peer: cannot listen on " + addr + ":" + std::to_string(port));
    }
    int len = sizeof(sa);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this, connections] { Loop(connections); });
}

Peer::~Peer() {
    stop_ = true;
    thread_.join();
    closesocket(listener_);
    WSACleanup();
}

void Peer::Loop(int connections) {
    while (!stop_ && served_ < connections) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(listener_, &r);
        timeval tv = {0, 50000};
        if (select(0, &r, nullptr, nullptr, &tv) <= 0) continue;
        SOCKET c = accept(listener_, nullptr, nullptr);
        if (c == INVALID_SOCKET) continue;
        DWORD ms = 20000;  // a script never hangs a test for good
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms));
        try {
            script_(c);
        } catch (...) {
        }
        closesocket(c);
        ++served_;
    }
}

void SendAll(SOCKET s, const char* data, size_t n) {
    while (n > 0) {
        int k = send(s, data, static_cast<int>(n > 1 << 20 ? 1 << 20 : n), 0);
        if (k <= 0) return;
        data += k;
        n -= static_cast<size_t>(k);
    }
}

void SendAll(SOCKET s, const std::string& data) { SendAll(s, data.data(), data.size()); }

std::string RecvLine(SOCKET s) {
    std::string line;
    char c;
    while (recv(s, &c, 1, 0) == 1) {
        line += c;
        if (c == '\n') break;
    }
    return line;
}

uint64_t RecvUntilClosed(SOCKET s, const std::function<void(const char*, int)>& sink) {
    std::vector<char> buf(1 << 16);
    uint64_t total = 0;
    for (;;) {
        int k = recv(s, buf.data(), static_cast<int>(buf.size()), 0);
        if (k <= 0) break;
        sink(buf.data(), k);
        total += static_cast<uint64_t>(k);
    }
    return total;
}

uint64_t MakeFile(const std::string& path, uint64_t size, uint32_t seed) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    std::vector<char> buf(1 << 20);
    uint32_t x = seed | 1;
    Fnv h;
    for (uint64_t done = 0; done < size;) {
        size_t n = static_cast<size_t>(size - done < buf.size() ? size - done : buf.size());
        for (size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            buf[i] = static_cast<char>(x >> 11);
        }
        std::fwrite(buf.data(), 1, n, f);
        h.Add(buf.data(), n);
        done += n;
    }
    std::fclose(f);
    return h.h;
}

uint64_t HashFile(const std::string& path, uint64_t* size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + path);
    std::vector<char> buf(1 << 20);
    Fnv h;
    uint64_t total = 0;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        h.Add(buf.data(), n);
        total += n;
    }
    std::fclose(f);
    if (size) *size = total;
    return h.h;
}

std::string TempPath(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "norv_sock_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

uint16_t FreePort() {
    WinsockRef ws;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    int len = sizeof(sa);
    getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    closesocket(s);
    return ntohs(sa.sin_port);
}

}  // namespace peer
