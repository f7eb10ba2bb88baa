// A DNS server on 127.0.0.1:53 that the tests play themselves (the suite runs
// with a resolver configuration that names it): it answers A queries for the
// names it was given, or holds every answer back until Release, so a test
// can make a look-up take as long as it likes and decide when it ends.
#pragma once
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TDnsStub {
public:
    TDnsStub() = default;
    TDnsStub(const TDnsStub&) = delete;
    TDnsStub& operator=(const TDnsStub&) = delete;
    ~TDnsStub() { Stop(); }

    // False when port 53 on loopback cannot be had.
    bool Start() {
        WSADATA wsa;
        if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
        started_ = true;
        sock_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (sock_ == INVALID_SOCKET || bind(sock_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        DWORD ms = 20;
        setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
        thread_ = std::thread([this] { Loop(); });
        return true;
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (sock_ != INVALID_SOCKET) closesocket(sock_);
        sock_ = INVALID_SOCKET;
        if (started_) WSACleanup();
        started_ = false;
    }

    // Answers for name (lower case, no trailing dot) from now on.
    void Answer(const std::string& name, const std::string& dotted) {
        std::lock_guard<std::mutex> g(lock_);
        names_[name] = inet_addr(dotted.c_str());
    }
    void Hold(bool on) { hold_ = on; }
    // Sends the answers held back so far.
    void Release() {
        std::vector<Pending> held;
        {
            std::lock_guard<std::mutex> g(lock_);
            held.swap(held_);
        }
        for (const Pending& p : held) Reply(p);
    }
    int Queries() const { return queries_; }

private:
    struct Pending {
        std::vector<char> query;
        size_t questionEnd;
        std::string name;
        uint16_t type;
        sockaddr_in from;
    };

    void Loop() {
        while (!stop_) {
            char buf[512];
            sockaddr_in from = {};
            int fromLen = sizeof from;
            const int n = recvfrom(sock_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 12) continue;
            Pending p;
            p.query.assign(buf, buf + n);
            p.from = from;
            if (!Parse(p)) continue;
            ++queries_;
            if (hold_) {
                std::lock_guard<std::mutex> g(lock_);
                held_.push_back(p);
            } else {
                Reply(p);
            }
        }
    }

    // The question's name and type; false for anything but one question.
    static bool Parse(Pending& p) {
        const std::vector<char>& q = p.query;
        if (q[4] != 0 || q[5] != 1) return false;
        size_t i = 12;
        while (i < q.size() && q[i] != 0) {
            const size_t len = static_cast<unsigned char>(q[i]);
            if (len > 63 || i + 1 + len >= q.size()) return false;
            if (!p.name.empty()) p.name += '.';
            for (size_t k = 0; k < len; ++k) p.name += static_cast<char>(tolower(static_cast<unsigned char>(q[i + 1 + k])));
            i += 1 + len;
        }
        if (i + 5 > q.size()) return false;
        p.type = static_cast<uint16_t>((static_cast<unsigned char>(q[i + 1]) << 8) | static_cast<unsigned char>(q[i + 2]));
        p.questionEnd = i + 5;
        return true;
    }

    void Reply(const Pending& p) {
        uint32_t addr = 0;
        bool known;
        {
            std::lock_guard<std::mutex> g(lock_);
            auto it = names_.find(p.name);
            known = it != names_.end();
            if (known) addr = it->second;
        }
        std::vector<char> r(p.query.begin(), p.query.begin() + static_cast<long>(p.questionEnd));
        const bool answer = known && p.type == 1;
        r[2] = static_cast<char>(0x81);                 // answer, recursion desired
        r[3] = static_cast<char>(known ? 0x80 : 0x83);  // recursion available; no such name
        r[6] = 0;
        r[7] = answer ? 1 : 0;
        std::memset(&r[8], 0, 4);
        if (answer) {
            const unsigned char rr[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4};
            r.insert(r.end(), rr, rr + sizeof rr);
            const char* a = reinterpret_cast<const char*>(&addr);
            r.insert(r.end(), a, a + 4);
        }
        sendto(sock_, r.data(), static_cast<int>(r.size()), 0, reinterpret_cast<const sockaddr*>(&p.from),
               sizeof p.from);
    }

    SOCKET sock_ = INVALID_SOCKET;
    bool started_ = false;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> hold_{false};
    std::atomic<int> queries_{0};
    std::mutex lock_;
    std::map<std::string, uint32_t> names_;
    std::vector<Pending> held_;
};
