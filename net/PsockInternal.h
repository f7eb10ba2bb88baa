// What the parts of TPowersock share and nobody else needs: the pace of the
// passes, the transfer blocks, and two small helpers.
#pragma once
#include "Psock.h"

#include <functional>
#include <utility>

namespace psock {

inline bool FitsHandle(SOCKET s) { return s != INVALID_SOCKET && s < static_cast<SOCKET>(NoSocket); }

// Timer of the connection window that resumes passes put off (see PutOff).
constexpr UINT_PTR kResumeTimer = 2;
constexpr UINT kResumeDelay = 10;
// Paint and timer messages wait at most this long for a streaming connection.
constexpr DWORD kGiveWayEvery = 50;
constexpr DWORD kLookEvery = 5;
// Longest a receive or send pass runs while the socket keeps up.
constexpr DWORD kPassSlice = 8;
// A captured file is written, and a sent file read, in blocks of this size.
constexpr size_t kFileBlock = 4 << 20;
// Most bytes one recv takes into a captured file, and one send takes from a
// file: fewer calls, each of which under Wine is a round trip to the server
// whatever its size; a recv takes what the socket holds, a send what its
// buffer has room for. A capture asks for as much as a file block: with the
// wide receive buffer below, a reader that comes late finds several MiB
// waiting, and taking them in one call measured faster than in MiB bites
// (active-mode downloads of the 32-bit build most of all).
constexpr size_t kCaptureRecv = 4 << 20;
constexpr int32_t kFileSend = 1 << 20;
// A capture receives into an area of a block and one more recv, so that
// every recv may ask for kCaptureRecv; the area is written once it holds a
// block or more.
constexpr size_t kCaptureArea = kFileBlock + kCaptureRecv;
// A capture read that drained the socket with less than kGatherBelow lets
// the socket gather for kGatherMs before the next read: on a fast link the
// next notification comes at once, and reading every small bite costs a
// round trip each. The wait is worth it only while the socket's buffer holds
// far more than arrives meanwhile. The system may grant much less than asked
// (Linux caps the buffer at net.core.rmem_max, 208 KiB by default, and Wine
// still reports the size asked for): then a fast sender fills it within the
// wait and stalls for the rest of it, every time. So a capture gathers only
// once one read has taken kGatherAfterRead or more, which shows the buffer
// is wide.
constexpr size_t kGatherBelow = 512 << 10;
constexpr size_t kGatherAfterRead = 2 << 20;
constexpr DWORD kGatherMs = 1;
// Receive buffer asked for while a file is captured: with the default the
// sender waits for the window whenever a pass comes late. (Sends keep the
// default: a larger send buffer measured no faster.)
constexpr int kTransferSocketBuffer = 4 << 20;

inline int32_t AddWrapping(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Runs its clean-up however the scope is left: transfers clear their flags
// and give back the connection's own buffer on every path.
class TAtExit {
public:
    explicit TAtExit(std::function<void()> f) : f_(std::move(f)) {}
    TAtExit(const TAtExit&) = delete;
    TAtExit& operator=(const TAtExit&) = delete;
    ~TAtExit() { f_(); }

private:
    std::function<void()> f_;
};

}  // namespace psock
