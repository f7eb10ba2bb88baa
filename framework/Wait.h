// The one wait loop of the program. Every operation that looks blocking to its
// caller (socket, FTP, echo) waits here: each pass processes the pending window
// messages, then sleeps until a new message arrives or 2 ms have passed.
// A wait ends when its condition holds, when its cancel flag is set, or when
// the application is terminating, so closing the program never hangs on a wait.
#pragma once
#include <functional>

enum class TWaitEnd { Done, Canceled, Terminated };

// One pass: process pending messages, then wait up to 2 ms for the next one.
void WaitPass();

// Repeats WaitPass until done() holds (checked first), *cancel is set or the
// application terminates; reports which of the three ended the wait.
TWaitEnd WaitUntil(const std::function<bool()>& done, const bool* cancel = nullptr);

// True once the application has been asked to end.
bool AppTerminating();
