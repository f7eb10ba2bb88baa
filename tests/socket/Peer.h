// Loopback peers for the connection tests: a listening socket served by a
// thread of its own with blocking Winsock, running a script for each accepted
// connection. The test's thread meanwhile waits inside the component.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Psock.h"
#include "Wait.h"

namespace peer {

using Script = std::function<void(SOCKET)>;

class Peer {
public:
    // Listens on addr:port (0: a free port); serves `connections` clients, one
    // after the other, each with the script, then closes them.
    Peer(const std::string& addr, uint16_t port, Script script, int connections = 1);
    ~Peer();  // waits for the scripts to end
    uint16_t Port() const { return port_; }
    // Connections served so far.
    int Served() const { return served_.load(); }

private:
    void Loop(int connections);
    SOCKET listener_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    Script script_;
    std::atomic<bool> stop_{false};
    std::atomic<int> served_{0};
    std::thread thread_;
};

void SendAll(SOCKET s, const std::string& data);
void SendAll(SOCKET s, const char* data, size_t n);
// Reads up to and including the next line feed ("" when the connection ends first).
std::string RecvLine(SOCKET s);
// Reads until the client closes; calls sink for every piece.
uint64_t RecvUntilClosed(SOCKET s, const std::function<void(const char*, int)>& sink);

// 64-bit FNV-1a, for comparing large contents.
struct Fnv {
    uint64_t h = 1469598103934665603ull;
    void Add(const char* p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
    }
};

// A file of `size` pseudo-random bytes (seeded); returns its FNV hash.
uint64_t MakeFile(const std::string& path, uint64_t size, uint32_t seed);
uint64_t HashFile(const std::string& path, uint64_t* size = nullptr);
// A fresh path in the temporary folder.
std::string TempPath(const std::string& name);
// A loopback port on which nothing listens (just closed).
uint16_t FreePort();

// ---- helpers for the test's own thread

// The exception text of fn, or "" when it raised none.
template <class F>
std::string Raised(F&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// A timer that runs fn once after ms.
struct After {
    After(uint32_t ms, std::function<void()> fn) : timer(nullptr) {
        timer.SetInterval(ms);
        timer.SetOnTimer([this, fn](TObject*) {
            timer.SetEnabled(false);
            fn();
        });
    }
    TThreadTimer timer;
};

// Processes messages until cond holds; false after ms.
inline bool Within(DWORD ms, const std::function<bool()>& cond) {
    DWORD t0 = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - t0 > ms) return false;
        WaitPass();
    }
    return true;
}

}  // namespace peer
