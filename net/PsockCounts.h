// Counters of where a transfer's time goes, for finding the cost of the
// message-driven passes against a plain blocking loop: window messages to
// the connections' windows, recv and send calls, file reads and writes, wait
// passes and the sleeps in them, and the time spent in each. Off unless the
// environment variable NORV_PSOCK_COUNTS is set when the first connection is
// made; off, each counting point costs one test of a flag.
#pragma once
#include <cstdint>
#include <string>

struct TPsockCounts {
    uint64_t messages = 0;      // dispatched to a connection's window
    uint64_t readMessages = 0;  // of them: read notifications and MsgReadMore
    uint64_t sendMessages = 0;  // of them: write notifications and MsgSendMore
    uint64_t recvCalls = 0, recvWouldBlock = 0, sendCalls = 0, sendShort = 0;
    uint64_t fileReads = 0, fileWrites = 0;
    uint64_t packetEvents = 0;
    uint64_t waitPasses = 0, sleeps = 0;
    double recvSeconds = 0, sendSeconds = 0, fileSeconds = 0, sleepSeconds = 0, eventSeconds = 0;
};

extern TPsockCounts PsockCounts;
extern bool PsockCounting;

// Reads NORV_PSOCK_COUNTS once.
void PsockStartCounting();

// The counters per MiB of bytes moved, and the times, as one line of
// name=value pairs.
std::string PsockCountsText(int64_t bytes);

// Adds the time of its scope to a counter while counting is on.
class TCountTime {
public:
    explicit TCountTime(double& into);
    // The same, and one more call counted in calls.
    TCountTime(uint64_t& calls, double& into);
    ~TCountTime();
    TCountTime(const TCountTime&) = delete;
    TCountTime& operator=(const TCountTime&) = delete;

private:
    double* into_;
    int64_t start_ = 0;
};
