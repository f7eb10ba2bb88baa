// Records the events of an echo component as short texts, in the order they
// fire, so a test can compare the whole sequence at once. Round-trip times are
// kept apart (they vary from run to run).
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Qvicmp.h"

struct TEventLog {
    std::vector<std::string> Events;
    std::vector<int> Times;  // OnPing times, then the three times of each OnHop
    std::function<void(const std::string&)> After;  // runs after each record

    void Add(const std::string& e) {
        Events.push_back(e);
        if (After) After(e);
    }

    void Attach(TQVICMP& c) {
        c.OnAbort = [this](TObject*) { Add("abort"); };
        c.OnInvalidHost = [this](TObject*) { Add("invalid"); };
        c.OnTimeOut = [this](TObject*) { Add("timeout"); };
        c.OnHostUnreachable = [this](TObject*, const std::string& h) { Add("unreachable " + h); };
        c.OnStatus = [this](TObject*, int s, const std::string& h) { Add("status " + std::to_string(s) + " " + h); };
    }
    void Attach(TQVPing& p) {
        Attach(static_cast<TQVICMP&>(p));
        p.OnPing = [this](TObject*, const std::string& h, int size, int time) {
            Times.push_back(time);
            Add("ping " + h + " " + std::to_string(size));
        };
    }
    void Attach(TQVTraceRt& t) {
        Attach(static_cast<TQVICMP&>(t));
        t.OnHop = [this](TObject*, const std::string& h, int t1, int t2, int t3, int hop) {
            Times.insert(Times.end(), {t1, t2, t3});
            Add("hop " + std::to_string(hop) + " " + h);
        };
        t.OnTraceComplete = [this](TObject*) { Add("complete"); };
    }
};

// The same texts repeated n times.
inline std::vector<std::string> Repeat(const std::vector<std::string>& v, int n) {
    std::vector<std::string> r;
    for (int i = 0; i < n; ++i) r.insert(r.end(), v.begin(), v.end());
    return r;
}

// Runs fn from the message loop after ms milliseconds (a thread timer, so it
// fires inside whatever wait of the component is pumping messages).
inline std::map<UINT_PTR, std::function<void()>>& PendingTimers() {
    static std::map<UINT_PTR, std::function<void()>> pending;
    return pending;
}
inline void CALLBACK TimerFired(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    auto it = PendingTimers().find(id);
    if (it == PendingTimers().end()) return;
    std::function<void()> f = std::move(it->second);
    PendingTimers().erase(it);
    f();
}
inline void After(UINT ms, std::function<void()> fn) {
    PendingTimers()[SetTimer(nullptr, 0, ms, TimerFired)] = std::move(fn);
}

// An EICMPError's message, or "" when fn raised none.
template <class F>
std::string RaisedMessage(F&& fn) {
    try {
        fn();
    } catch (const EICMPError& e) {
        return e.Message;
    }
    return "";
}

inline uint32_t Addr(const char* dotted) {
    unsigned a, b, c, d;
    if (std::sscanf(dotted, "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return 0;
    const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                    static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    uint32_t r;
    std::memcpy(&r, bytes, 4);
    return r;
}
