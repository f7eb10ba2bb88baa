// The time limits of the socket and FTP waits, all computed here. Each is a
// span in milliseconds; 0 is no limit.
#pragma once
#include <cstdint>

namespace WaitLimits {

// A server's reply, the server connecting back, a data connection on which
// nothing moves.
constexpr int32_t ServerMs = 60000;
// Lines a server may still send after a cancel, swallowed before the next command.
constexpr int32_t LateLinesMs = 950;

// Host look-up and connect: the connection's TimeOut (0 or less: none).
inline int32_t Connect(int32_t timeOut) { return timeOut > 0 ? timeOut : 0; }
// Waits for a server: ServerMs, or TimeOut when it is set and shorter.
inline int32_t Server(int32_t timeOut) { return timeOut > 0 && timeOut < ServerMs ? timeOut : ServerMs; }

}  // namespace WaitLimits
