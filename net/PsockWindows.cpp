// TPowersock's hidden window and TThreadTimer: the window classes, their
// procedures (which hand the connection's messages to its Wndproc) and the
// window timer.
#include "Psock.h"

#include "Forms.h"
#include "PsockCounts.h"
#include "PsockInternal.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

using namespace psock;

namespace {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

const char kPsockClass[] = "PsockWindowClass";
const char kTmrClass[] = "TmrWindowClass";

LRESULT CALLBACK PsockWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* obj = reinterpret_cast<TPowersock*>(GetWindowLongPtrA(hwnd, 0));
    if (obj && ((msg >= MsgSocketEvent && msg <= MsgReadMore) || (msg == WM_TIMER && wp == kResumeTimer))) {
        if (PsockCounting) {
            ++PsockCounts.messages;
            const UINT event = msg == MsgSocketEvent ? WSAGETSELECTEVENT(lp) : 0;
            if (msg == MsgReadMore || event == FD_READ) ++PsockCounts.readMessages;
            if (msg == MsgSendMore || event == FD_WRITE) ++PsockCounts.sendMessages;
        }
        obj->Wndproc(msg, wp, lp);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK TmrWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* obj = reinterpret_cast<TThreadTimer*>(GetWindowLongPtrA(hwnd, 0));
    if (obj && msg == WM_TIMER) {
        Guarded([&] { obj->Timer(); });
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// Registers the class once per process, then makes a hidden tool window whose
// first data slot holds the object.
HWND AllocateHWnd(const char* cls, WNDPROC proc, void* object) {
    WNDCLASSA wc;
    if (!GetClassInfoA(ThisModule(), cls, &wc)) {
        wc = {};
        wc.lpfnWndProc = proc;
        wc.cbWndExtra = sizeof(LONG_PTR);
        wc.hInstance = ThisModule();
        wc.lpszClassName = cls;
        if (!RegisterClassA(&wc)) return nullptr;
    }
    HWND w = CreateWindowExA(WS_EX_TOOLWINDOW, cls, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, ThisModule(), nullptr);
    if (w) SetWindowLongPtrA(w, 0, reinterpret_cast<LONG_PTR>(object));
    return w;
}

}  // namespace

HWND PsockAllocateHWnd(TPowersock* object) { return AllocateHWnd(kPsockClass, PsockWindowProc, object); }
HWND TmrAllocateHWnd(TThreadTimer* object) { return AllocateHWnd(kTmrClass, TmrWindowProc, object); }

// ===========================================================================
// TThreadTimer

TThreadTimer::TThreadTimer(TComponent* owner) : TComponent(owner) { window_ = TmrAllocateHWnd(this); }

TThreadTimer::~TThreadTimer() {
    enabled_ = false;
    try {
        UpdateTimer();
    } catch (...) {
    }
    if (window_) DestroyWindow(window_);
}

void TThreadTimer::SetInterval(uint32_t ms) {
    if (ms == interval_) return;
    interval_ = ms;
    UpdateTimer();
}

void TThreadTimer::SetEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    if (!window_) {
        if (interval_ != 0 && enabled_ && onTimer_) throw Exception("No Timer");
        return;
    }
    KillTimer(window_, 1);
    if (interval_ != 0 && enabled_ && onTimer_) {
        if (SetTimer(window_, 1, interval_, nullptr) == 0) throw Exception("No Timer");
    }
}

void TThreadTimer::Timer() { Fire(onTimer_, this); }

