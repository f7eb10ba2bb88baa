#include "Wait.h"

#include <windows.h>

#include "Forms.h"

void WaitPass() {
    Application->ProcessMessages();
    if (Application->Terminated) return;
    // Wakes as soon as input or a posted message arrives; 2 ms at most.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
}

bool AppTerminating() { return Application->Terminated; }

TWaitEnd WaitUntil(const std::function<bool()>& done, const bool* cancel) {
    for (;;) {
        if (done()) return TWaitEnd::Done;
        if (cancel && *cancel) return TWaitEnd::Canceled;
        if (Application->Terminated) return TWaitEnd::Terminated;
        WaitPass();
    }
}
