#include "PsockCounts.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

TPsockCounts PsockCounts;
bool PsockCounting = false;

namespace {

int64_t Ticks() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double TickSeconds() {
    static const double s = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return 1.0 / static_cast<double>(f.QuadPart);
    }();
    return s;
}

}  // namespace

void PsockStartCounting() {
    static bool looked = false;
    if (looked) return;
    looked = true;
    PsockCounting = std::getenv("NORV_PSOCK_COUNTS") != nullptr;
}

TCountTime::TCountTime(double& into) : into_(PsockCounting ? &into : nullptr) {
    if (into_) start_ = Ticks();
}

TCountTime::TCountTime(uint64_t& calls, double& into) : TCountTime(into) {
    if (into_) ++calls;
}

TCountTime::~TCountTime() {
    if (into_) *into_ += static_cast<double>(Ticks() - start_) * TickSeconds();
}

std::string PsockCountsText(int64_t bytes) {
    const TPsockCounts& c = PsockCounts;
    const double mib = bytes > 0 ? static_cast<double>(bytes) / 1048576.0 : 1.0;
    char buf[640];
    std::snprintf(buf, sizeof buf,
                  "per_MiB: messages=%.1f read_msgs=%.1f send_msgs=%.1f recv=%.1f recv_wouldblock=%.1f send=%.1f "
                  "send_short=%.1f file_reads=%.2f file_writes=%.2f packet_events=%.1f wait_passes=%.1f sleeps=%.1f; "
                  "seconds: recv=%.3f send=%.3f file=%.3f events=%.3f sleep=%.3f",
                  c.messages / mib, c.readMessages / mib, c.sendMessages / mib, c.recvCalls / mib,
                  c.recvWouldBlock / mib, c.sendCalls / mib, c.sendShort / mib, c.fileReads / mib,
                  c.fileWrites / mib, c.packetEvents / mib, c.waitPasses / mib, c.sleeps / mib, c.recvSeconds,
                  c.sendSeconds, c.fileSeconds, c.eventSeconds, c.sleepSeconds);
    return buf;
}
