// The one wait of the program. Every operation that looks blocking to its
// caller (socket, FTP, echo) waits in WaitUntil: each pass processes the
// pending window messages, then sleeps until a new message arrives or 2 ms
// have passed. A wait ends when its condition holds, when its cancel flag is
// set, when its deadline passes, or when the application is terminating (so
// closing the program never hangs on a wait); it reports which one ended it.
#pragma once
#include <cstdint>
#include <functional>

enum class TWaitEnd { Done, Canceled, TimedOut, Terminated };

// A point in time a wait may not pass, on the millisecond tick count. A span
// of 0 or less is no limit. Restart starts the same span again from now (a
// limit on idleness: the clock restarts whenever something moves).
class TDeadline {
public:
    TDeadline() = default;
    static TDeadline In(int32_t ms);
    bool Limited() const { return span_ > 0; }
    bool Passed() const;
    void Restart();

private:
    uint32_t start_ = 0;
    int32_t span_ = 0;
};

// One pass: process pending messages, then wait up to 2 ms for the next one.
void WaitPass();

// Runs pass (WaitPass when empty) until done() holds (checked first), *cancel
// is set, deadline (when given) has passed or the application terminates.
TWaitEnd WaitUntil(const std::function<bool()>& done, const bool* cancel = nullptr,
                   const TDeadline* deadline = nullptr, const std::function<void()>& pass = nullptr);

// True once the application has been asked to end.
bool AppTerminating();
