#include "Wait.h"

#include <windows.h>

#include "Forms.h"

TDeadline TDeadline::In(int32_t ms) {
    TDeadline d;
    d.span_ = ms > 0 ? ms : 0;
    d.start_ = GetTickCount();
    return d;
}

// Differences of tick counts stay right across the 49-day wrap.
bool TDeadline::Passed() const { return span_ > 0 && GetTickCount() - start_ >= static_cast<uint32_t>(span_); }

void TDeadline::Restart() { start_ = GetTickCount(); }

void WaitPass() {
    Application->ProcessMessages();
    if (Application->Terminated) return;
    // Wakes as soon as input or a posted message arrives; 2 ms at most.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
}

bool AppTerminating() { return Application->Terminated; }

TWaitEnd WaitUntil(const std::function<bool()>& done, const bool* cancel, const TDeadline* deadline,
                   const std::function<void()>& pass) {
    for (;;) {
        if (done()) return TWaitEnd::Done;
        if (cancel && *cancel) return TWaitEnd::Canceled;
        if (deadline && deadline->Passed()) return TWaitEnd::TimedOut;
        if (Application->Terminated) return TWaitEnd::Terminated;
        if (pass) pass();
        else WaitPass();
    }
}
