#include "Psock.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Forms.h"
#include "Wait.h"
#include "WaitLimits.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

static_assert(sizeof(sockaddr_in) == 16, "RemoteAddress is Winsock's 16-byte IPv4 address record");
static_assert(sizeof(TSocketHandle) == 2, "socket handles are kept in 16 bits");

int32_t ConnectionCount = 0;
void (*PsockWaitPass)() = WaitPass;

namespace {

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

bool FitsHandle(SOCKET s) { return s != INVALID_SOCKET && s < static_cast<SOCKET>(NoSocket); }

const char kPsockClass[] = "PsockWindowClass";
const char kTmrClass[] = "TmrWindowClass";

// Timer of the connection window that resumes passes put off (see PutOff).
const UINT_PTR kResumeTimer = 2;
const UINT kResumeDelay = 10;
// Paint and timer messages wait at most this long for a streaming connection.
const DWORD kGiveWayEvery = 50;
const DWORD kLookEvery = 5;
// Longest a receive or send pass runs while the socket keeps up.
const DWORD kPassSlice = 8;
// A captured file is written, and a sent file read, in blocks of this size.
const size_t kFileBlock = 1 << 20;

LRESULT CALLBACK PsockWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* obj = reinterpret_cast<TPowersock*>(GetWindowLongPtrA(hwnd, 0));
    if (obj && ((msg >= MsgSocketEvent && msg <= MsgReadMore) || (msg == WM_TIMER && wp == kResumeTimer))) {
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

std::string ByteVersion(WORD v) { return std::to_string(LOBYTE(v)) + "." + std::to_string(HIBYTE(v)); }

int32_t AddWrapping(int32_t a, int32_t b) {
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

// ===========================================================================
// TPowersock: construction, start-up, destruction

TPowersock::TPowersock(TComponent* owner) : TComponent(owner) {
    StatusMessage(8, "Create");
    WindowHandle = PsockAllocateHWnd(this);
    HostEntryBuffer = new char[1024]();
    WriteArea.reset(new char[16385]());
    try {
        Timer = new TThreadTimer(this);
        Timer->SetEnabled(false);
        Timer->SetOnTimer([this](TObject* s) { TimerFired(s); });
        in1_.reset(new TMemoryStream);
        in2_.reset(new TMemoryStream);
        out1_.reset(new TMemoryStream);
        out2_.reset(new TMemoryStream);
        inMem_ = in1_.get();
        InSpare = in2_.get();
        outMem_ = out1_.get();
        OutSpare = out2_.get();
        InBuffer = inMem_;
        OutBuffer = outMem_;
        InitWinsock();
    } catch (...) {
        if (WindowHandle) DestroyWindow(WindowHandle);
        delete[] HostEntryBuffer;
        throw;
    }
}

void TPowersock::InitWinsock() {
    StatusMessage(8, "Initializing Winsock");
    if (Designing()) return;
    ++ConnectionCount;
    winsockStarted_ = true;
    if (ConnectionCount == 1) {
        WSAStartup(0x0101, &WinsockData);
        WinsockInfo.Add("Version= " + ByteVersion(WinsockData.wVersion));
        WinsockInfo.Add("High Version= " + ByteVersion(WinsockData.wHighVersion));
        WinsockInfo.Add(std::string("Description= ") + WinsockData.szDescription);
        WinsockInfo.Add(std::string("System= ") + WinsockData.szSystemStatus);
        WinsockInfo.Add("Max Sockets= " + std::to_string(WinsockData.iMaxSockets));
        WinsockInfo.Add("Max Udp pack size= " + std::to_string(WinsockData.iMaxUdpDg));
    }
    SocketHandle = WindowHandle ? OpenSocket(true) : NoSocket;
    if (SocketHandle == NoSocket) {
        winsockStarted_ = false;
        if (--ConnectionCount == 0) WSACleanup();
        throw ESockError(SockText::StartupFailed, TSockErrorKind::StartupFailed);
    }
}

TSocketHandle TPowersock::OpenSocket(bool linger) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, linger ? IPPROTO_TCP : 0);
    if (s == INVALID_SOCKET) return NoSocket;
    if (!FitsHandle(s)) {
        closesocket(s);
        return NoSocket;
    }
    if (linger) {
        LINGER l = {1, 0};
        if (setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l)) != 0) {
            closesocket(s);
            return NoSocket;
        }
    }
    if (WSAAsyncSelect(s, WindowHandle, MsgSocketEvent, AllSocketEvents) != 0) {
        closesocket(s);
        return NoSocket;
    }
    return static_cast<TSocketHandle>(s);
}

TPowersock::~TPowersock() {
    StatusMessage(8, "Destroy");
    ComponentState |= csDestroying;
    try {
        Abort();
        Cancel();
    } catch (...) {
    }
    AbandonLookup();
    delete Timer;
    Timer = nullptr;
    delete[] HostEntryBuffer;
    HostEntryBuffer = nullptr;
    WriteArea.reset();
    if (WindowHandle) {
        SetWindowLongPtrA(WindowHandle, 0, 0);
        DestroyWindow(WindowHandle);
    }
    ClosingDown = true;
    if (!Designing() && winsockStarted_) {
        try {
            RequestCloseSocket();
        } catch (...) {
        }
        if (--ConnectionCount == 0) WSACleanup();
    }
    // The four streams go with the members.
}

// ===========================================================================
// Status and errors

void TPowersock::StatusMessage(uint8_t level, const std::string& text) {
    if (level > ReportLevel) return;
    Status = text;
    if (!Destroying()) Fire(OnStatus, this, Status);
}

std::string TPowersock::SocketErrorStr(uint16_t code) {
    StatusMessage(8, "Looking Up Error Message");
    return WinsockErrorText(code);
}

std::string TPowersock::ErrorManager(uint16_t ignored) {
    StatusMessage(16, "Checking Error In Error Manager");
    LastErrorNo = WSAGetLastError();
    if (LastErrorNo == ignored) return "";
    std::string text = SocketErrorStr(static_cast<uint16_t>(LastErrorNo));
    Fire(OnError, this, static_cast<uint16_t>(LastErrorNo), text);
    throw ESockError(text, TSockErrorKind::Winsock, LastErrorNo);
}

void TPowersock::SetWSAError(uint16_t code, const std::string& text) {
    StatusMessage(8, "Setting Winsock Error");
    LastErrorNo = code;
    std::string t = text.empty() ? SocketErrorStr(code) : text;
    WSASetLastError(code);
    Fire(OnError, this, code, t);
}

int32_t TPowersock::GetLastErrorNo() {
    StatusMessage(8, "Getting LastError Number");
    return LastErrorNo;
}

void TPowersock::SetLastErrorNo(int32_t value) {
    StatusMessage(8, "Setting LastError Number");
    LastErrorNo = value;
}

// ===========================================================================
// Waiting, cancel, time-out

void TPowersock::WaitFor(const std::function<bool()>& done) {
    const std::function<bool()>* outer = waitCondition_;
    waitCondition_ = &done;
    TAtExit restore([&] {
        waitCondition_ = outer;
        waitSatisfied_ = false;
    });
    const TDeadline* deadline = timeLimitOn_ ? &timeLimit_ : bound_;
    const bool* alive = boundAlive_;
    const TWaitEnd end = WaitUntil([&] { return done() || (alive && !*alive); }, &Canceled, deadline, [&] {
        ResumeDeferred();
        // What is pending (often the very pass that completes the wait) runs
        // first; the pass below then sleeps only if the wait goes on, and
        // not at all while a pass that gave way to input or paint is due.
        Application->ProcessMessages();
        if (Canceled || done() || readDeferred_ || sendDeferred_) return;
        PsockWaitPass();
    });
    switch (end) {
    case TWaitEnd::Done:
        if (alive && !*alive && !done()) throw ESockError(SockText::PeerClosed, TSockErrorKind::PeerClosed);
        break;
    case TWaitEnd::Canceled:
        break;
    case TWaitEnd::Terminated:
        Canceled = true;
        break;
    case TWaitEnd::TimedOut:
        if (deadline != &timeLimit_) throw ESockError(SockText::ServerTimedOut, TSockErrorKind::TimedOut);
        StatusMessage(8, "Timer Triggered");
        timeLimitOn_ = false;
        TimedOut = true;
        break;
    }
}

void TPowersock::BoundWaits(const TDeadline* deadline, const bool* alive) {
    bound_ = deadline;
    boundAlive_ = alive;
}

bool TPowersock::PutOff(bool& deferred, bool whenSatisfied) {
    // Posted messages come before input, paint and timers: a peer faster than
    // the passes would keep the queue full and starve them, and keep the wait
    // from ever seeing its condition.
    bool giveWay = whenSatisfied && waitSatisfied_;
    DWORD now = GetTickCount();
    // Looking at the queue costs a round trip to the window system: not more
    // often than every few milliseconds.
    if (!giveWay && now - lastQueueLook_ >= kLookEvery) {
        lastQueueLook_ = now;
        DWORD queued = HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT | QS_TIMER));
        giveWay = (queued & QS_INPUT) != 0 || (queued != 0 && now - lastGiveWay_ >= kGiveWayEvery);
        if (giveWay && !(queued & QS_INPUT)) lastGiveWay_ = now;
    }
    if (!giveWay) return false;
    deferred = true;
    SetTimer(WindowHandle, kResumeTimer, kResumeDelay, nullptr);
    return true;
}

void TPowersock::ResumeDeferred() {
    if (!readDeferred_ && !sendDeferred_) return;
    KillTimer(WindowHandle, kResumeTimer);
    waitSatisfied_ = false;
    if (readDeferred_) {
        readDeferred_ = false;
        if (!readMorePosted_) readMorePosted_ = PostMessageA(WindowHandle, MsgReadMore, 0, 0) != 0;
    }
    if (sendDeferred_) {
        sendDeferred_ = false;
        PostMessageA(WindowHandle, MsgSendMore, 0, 0);
    }
}

void TPowersock::RaiseCancel(const char* text) {
    Canceled = false;
    throw EAbortError(text);
}

void TPowersock::Cancel() {
    StatusMessage(8, "Canceling");
    Canceled = true;
}

void TPowersock::Abort() { Cancel(); }

// The look-up and connect limit is a deadline of the waits between TimerOn
// and TimerOff (Timer itself stays for whoever drives it by hand).
void TPowersock::TimerOn() {
    StatusMessage(8, "Timer On");
    TimedOut = false;
    timeLimit_ = TDeadline::In(WaitLimits::Connect(TimeOut));
    timeLimitOn_ = timeLimit_.Limited();
}

void TPowersock::TimerOff() {
    StatusMessage(8, "Timer Off");
    timeLimitOn_ = false;
    Timer->SetEnabled(false);
}

void TPowersock::TimerFired(TObject*) {
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    Abort();
}

void TPowersock::CertifyConnect() {
    bool second = false;
    while (!Connected) {
        if (second || !OnConnectionRequired) throw Exception(SockText::NotConnected);
        bool handled = false;
        OnConnectionRequired(handled);
        if (!handled) throw Exception(SockText::NotConnected);
        second = true;
    }
}

// ===========================================================================
// Name look-up, connect, close

void TPowersock::AbandonLookup() {
    if (!lookupTask_) return;
    WSACancelAsyncRequest(lookupTask_);
    lookupTask_ = nullptr;
    // The system may still write its answer into the area: leave it to it and
    // take a new one (1 KiB per abandoned look-up).
    HostEntryBuffer = ClosingDown || Destroying() ? nullptr : new char[1024]();
}

void TPowersock::ResolveRemoteHost() {
    StatusMessage(8, "Resolve Host");
    const std::string& name = Proxy.empty() ? Host : Proxy;
    if (name.size() > MaxHostName) {
        RemoteAddress.sin_addr.s_addr = 0;
        throw ESockError(SockText::LookupFailed, TSockErrorKind::LookupFailed);
    }
    unsigned long dotted = inet_addr(name.c_str());
    if (dotted != INADDR_NONE) {
        RemoteAddress.sin_addr.s_addr = dotted;
        return;
    }
    RemoteAddress.sin_addr.s_addr = 0;
    TimerOn();
    AsyncDone = false;
    EventOK = true;
    lookupTask_ = WSAAsyncGetHostByName(WindowHandle, MsgAsyncDone, name.c_str(), HostEntryBuffer, 1024);
    if (!lookupTask_) {
        TimerOff();
        throw ESockError(SockText::LookupFailed, TSockErrorKind::LookupFailed);
    }
    try {
        WaitFor([this] { return AsyncDone || TimedOut; });
    } catch (...) {
        timeLimitOn_ = false;
        AbandonLookup();
        throw;
    }
    TimerOff();
    if (!AsyncDone) AbandonLookup();
    lookupTask_ = nullptr;
    if (TimedOut) throw ESockError(SockText::LookupTimedOut, TSockErrorKind::LookupTimedOut);
    if (Canceled) RaiseCancel(SockText::LookupCanceled);
    if (!EventOK) throw ESockError(SockText::LookupFailed, TSockErrorKind::LookupFailed);
    auto* he = reinterpret_cast<hostent*>(HostEntryBuffer);
    if (he->h_addrtype != AF_INET || he->h_length != 4 || !he->h_addr_list || !he->h_addr_list[0])
        throw ESockError(SockText::LookupFailed, TSockErrorKind::LookupFailed);
    std::memcpy(&RemoteAddress.sin_addr, he->h_addr_list[0], 4);
    Fire(OnHostResolved, this);
}

void TPowersock::Connect() {
    StatusMessage(8, "Connecting");
    Canceled = false;
    if (Connected) throw ESockError(SockText::AlreadyConnected, TSockErrorKind::AlreadyConnected);

    for (bool second = false;; second = true) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError& e) {
            if (e.Kind == TSockErrorKind::LookupTimedOut || e.Kind == TSockErrorKind::Cancelled) throw;
            RemoteAddress.sin_addr.s_addr = 0;
        }
        if (RemoteAddress.sin_addr.s_addr != 0) break;
        if (second || !OnInvalidHost) throw ESockError(SockText::NullAddress, TSockErrorKind::LookupFailed);
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled) throw ESockError(SockText::NullAddress, TSockErrorKind::LookupFailed);
    }

    RemoteAddress.sin_family = AF_INET;
    int32_t port = Proxy.empty() ? Port : ProxyPort;
    RemoteAddress.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    std::memset(RemoteAddress.sin_zero, 0, sizeof(RemoteAddress.sin_zero));

    AsyncDone = false;
    EventOK = true;
    try {
        if (connect(SocketHandle, reinterpret_cast<sockaddr*>(&RemoteAddress), sizeof(RemoteAddress)) == SOCKET_ERROR)
            ErrorManager(WSAEWOULDBLOCK);
        TimerOn();
        WaitFor([this] { return Connected || TimedOut || !EventOK; });
        TimerOff();
        if (Connected && !TimedOut && !Canceled && EventOK) return;
        Fire(OnConnectionFailed, this);
        if (TimedOut) throw ESockError(SockText::ConnectTimedOut, TSockErrorKind::TimedOut);
        if (Canceled) RaiseCancel(SockText::ConnectCanceled);
        throw ESockError(SockText::ConnectFailed, TSockErrorKind::ConnectFailed);
    } catch (...) {
        timeLimitOn_ = false;
        // A socket whose connect failed cannot connect again: take a new one.
        ReplaceSocket();
        throw;
    }
}

void TPowersock::ReplaceSocket() {
    if (Connected) {
        RequestCloseSocket();
        return;
    }
    if (SocketHandle != NoSocket) closesocket(SocketHandle);
    DropSocketEvents();
    SocketHandle = ClosingDown ? NoSocket : OpenSocket(false);
}

void TPowersock::DropSocketEvents() {
    // Notifications of the socket just closed may still be queued, and the
    // next socket often gets the same handle value: a late FD_CLOSE would
    // then close the new connection. Nothing is posted for a closed socket,
    // so emptying the queue now is enough.
    if (!WindowHandle) return;
    MSG m;
    while (PeekMessageA(&m, WindowHandle, MsgSocketEvent, MsgSocketEvent, PM_REMOVE)) {
    }
}

void TPowersock::Disconnect() {
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    Connected = false;
    if (SocketHandle != NoSocket) {
        if (closesocket(SocketHandle) != 0) {
            ErrorManager(WSAEWOULDBLOCK);
            return;
        }
        SocketHandle = NoSocket;
        DropSocketEvents();
        if (!Destroying()) Fire(OnDisconnect, this);
    }
    if (!ClosingDown && SocketHandle == NoSocket) SocketHandle = OpenSocket(false);
}

void TPowersock::Close(TSocketHandle socket) {
    if (socket != NoSocket) closesocket(socket);
}

void TPowersock::SelectAll(TSocketHandle socket) {
    WSAAsyncSelect(socket, WindowHandle, MsgSocketEvent, AllSocketEvents);
}

void TPowersock::TakeAcceptedSocket(TSocketHandle accepted) {
    TSocketHandle listener = SocketHandle;
    SocketHandle = accepted;
    Close(listener);
    SelectAll(accepted);
}

void TPowersock::SetLinger(bool on) {
    LINGER l = {static_cast<u_short>(on ? 1 : 0), 0};
    setsockopt(SocketHandle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l));
}

// ===========================================================================
// Addresses

std::string TPowersock::GetRemoteIP() { return inet_ntoa(RemoteAddress.sin_addr); }

std::string TPowersock::GetLocalIP() {
    char name[200] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) return "";
    hostent* he = gethostbyname(name);
    if (!he || he->h_length != 4 || !he->h_addr_list || !he->h_addr_list[0]) return "";
    auto* b = reinterpret_cast<const unsigned char*>(he->h_addr_list[0]);
    char out[16];
    wsprintfA(out, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return out;
}

std::string TPowersock::GetLocalAddress() {
    sockaddr_in a = {};
    int len = sizeof(a);
    if (getsockname(SocketHandle, reinterpret_cast<sockaddr*>(&a), &len) != 0) return "0,0,0,0";
    return CommaAddress(inet_ntoa(a.sin_addr));
}

std::string TPowersock::GetPortString() {
    sockaddr_in a = {};
    int len = sizeof(a);
    if (getsockname(SocketHandle, reinterpret_cast<sockaddr*>(&a), &len) != 0) return CommaPort(0);
    return CommaPort(ntohs(a.sin_port));
}

// ===========================================================================
// The dispatcher

void TPowersock::Wndproc(UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        switch (msg) {
        case MsgSocketEvent: {
            // Notifications of a socket that has been replaced are stale.
            if (SocketHandle == NoSocket || wParam != static_cast<WPARAM>(SocketHandle)) return;
            EventOK = WSAGETSELECTERROR(lParam) == 0;
            switch (WSAGETSELECTEVENT(lParam)) {
            case FD_READ:
                ReadToStream();
                break;
            case FD_WRITE:
                WriteFromStream();
                break;
            case FD_ACCEPT:
                Connected = true;
                // An Accept that waits after Listen(false) ends here too.
                AsyncDone = true;
                Fire(OnAccept, this);
                break;
            case FD_CONNECT:
                if (EventOK) {
                    Connected = true;
                    Fire(OnConnect, this);
                }
                break;
            case FD_CLOSE: {
                // Everything still queued is taken now; nothing is put off any more.
                readDeferred_ = false;
                if (!sendDeferred_) KillTimer(WindowHandle, kResumeTimer);
                char area[SocketChunk];
                while (!Canceled) {
                    int n = recv(SocketHandle, area, sizeof(area), 0);
                    if (n <= 0) break;
                    AppendReceived(area, n);
                    if (TransferActive) BytesRcvd = AddWrapping(BytesRcvd, n);
                }
                Connected = false;
                RequestCloseSocket();
                break;
            }
            default:
                break;
            }
            break;
        }
        case MsgAsyncDone:
            if (lookupTask_ && wParam == reinterpret_cast<WPARAM>(lookupTask_)) {
                EventOK = WSAGETASYNCERROR(lParam) == 0;
                AsyncDone = true;
            } else if (SocketHandle != NoSocket && wParam == static_cast<WPARAM>(SocketHandle)) {
                EventOK = WSAGETSELECTERROR(lParam) == 0;
                AsyncDone = true;
                if (WSAGETSELECTEVENT(lParam) == FD_ACCEPT) Connected = true;
            }
            break;
        case MsgSendMore:
            WriteFromStream();
            break;
        case MsgReadMore:
            readMorePosted_ = false;
            ReadToStream();
            break;
        case WM_TIMER:
            ResumeDeferred();
            break;
        default:
            break;
        }
    } catch (...) {
        // A notification has no caller to report to.
    }
}

// ===========================================================================
// Receive and send passes

void TPowersock::AppendReceived(const char* data, int n) {
    if (n <= 0) return;
    if (captureToBlock_) {
        // A captured file is written in large blocks.
        if (captureBlock_.size() + static_cast<size_t>(n) > kFileBlock) FlushCaptureBlock();
        captureBlock_.insert(captureBlock_.end(), data, data + n);
        return;
    }
    InBuffer->Seek(0, TStream::soEnd);
    if (InBuffer->Write(data, n) != n) streamError_ = true;
}

void TPowersock::EndPass() {
    InHandler = false;
    // A pass refused meanwhile (a handler that processed messages) runs later.
    if (readPending_) {
        readPending_ = false;
        if (!readMorePosted_) readMorePosted_ = PostMessageA(WindowHandle, MsgReadMore, 0, 0) != 0;
    }
    if (sendPending_) {
        sendPending_ = false;
        PostMessageA(WindowHandle, MsgSendMore, 0, 0);
    }
}

void TPowersock::ReadToStream() {
    if (Canceled && SocketHandle != NoSocket) WSAAsyncSelect(SocketHandle, WindowHandle, 0, 0);
    if (holdReceive_) {
        // Left in the socket: the pass runs when the hold ends.
        receiveHeld_ = true;
        return;
    }
    if (InHandler) {
        readPending_ = true;
        return;
    }
    if (readDeferred_ || PutOff(readDeferred_, true)) return;
    InHandler = true;
    StatusMessage(8, "ReadToStream");
    // A pass takes what the socket has ready, a chunk at a time, for as long
    // as full chunks keep coming and the time slice lasts: each pass costs a
    // message round trip, which under Wine is worth more than the recv.
    const DWORD start = GetTickCount();
    bool stored = false;
    for (;;) {
        char area[SocketChunk];
        int n = recv(SocketHandle, area, sizeof(area), 0);
        if (n == SOCKET_ERROR) {
            LastErrorNo = WSAGetLastError();
            std::string text = SocketErrorStr(static_cast<uint16_t>(LastErrorNo));
            Fire(OnError, this, static_cast<uint16_t>(LastErrorNo), text);
            break;
        }
        AppendReceived(area, n);
        if (TransferActive) {
            BytesRcvd = AddWrapping(BytesRcvd, n);
            Fire(OnPacketRecvd, this);
        }
        stored = true;
        if (waitCondition_ && n > 0 && (*waitCondition_)()) waitSatisfied_ = true;
        // A short read has emptied the socket; Winsock notifies again when
        // more comes.
        if (n < SocketChunk) break;
        if (Canceled || waitSatisfied_ || GetTickCount() - start >= kPassSlice ||
            PutOff(readDeferred_, true)) {
            // The rest is read in a later pass. One MsgReadMore on its way
            // is enough: Winsock also re-posts its read notification after
            // every recv that leaves data, and one more message per chunk
            // would make the queue grow for as long as the data streams.
            if (!readDeferred_ && !readMorePosted_)
                readMorePosted_ = PostMessageA(WindowHandle, MsgReadMore, 0, 0) != 0;
            break;
        }
    }
    EndPass();
    if (stored) Fire(OnReadDone, this);
}

void TPowersock::HoldReceive(bool on) {
    holdReceive_ = on;
    if (on || !receiveHeld_) return;
    receiveHeld_ = false;
    if (!readMorePosted_) readMorePosted_ = PostMessageA(WindowHandle, MsgReadMore, 0, 0) != 0;
}

void TPowersock::WriteFromStream() {
    if (InHandler) {
        sendPending_ = true;
        return;
    }
    InHandler = true;
    StatusMessage(8, "WriteFromStream");
    int64_t size = OutBuffer->Size();
    bool work = StreamFromFile ? sendBase_ + BytesSent < size : size > 0;
    if (work && !Canceled && (sendDeferred_ || PutOff(sendDeferred_, false))) work = false;
    // Chunks of SocketChunk, several to a pass while the socket takes them
    // whole and the time slice lasts: each pass costs a message round trip,
    // which under Wine is worth more than the send itself. A file is read in
    // large blocks for the same reason.
    const DWORD start = GetTickCount();
    while (work && !Canceled) {
        int64_t from = StreamFromFile ? sendBase_ + BytesSent : 0;
        const char* data = nullptr;
        int32_t got = 0;
        if (StreamFromFile) {
            if (!NextSendBlock(from)) {
                streamError_ = true;
                EndPass();
                return;
            }
            data = sendBlock_.data() + (from - sendBlockFrom_);
            got = static_cast<int32_t>(std::min<int64_t>(SocketChunk, sendBlockFrom_ + static_cast<int64_t>(sendBlock_.size()) - from));
        } else {
            data = outMem_->Memory();
            got = static_cast<int32_t>(std::min<int64_t>(SocketChunk, size));
        }
        int sent = send(SocketHandle, data, got, 0);
        if (sent == SOCKET_ERROR) {
            LastErrorNo = WSAGetLastError();
            if (!StreamFromFile) OutBuffer->SetPosition(0);
            EndPass();
            return;  // the next write notification resumes the pump
        }
        bool more = false;
        if (from + sent >= size) {
            if (!StreamFromFile) outMem_->Clear();
            SendComplete = true;
        } else if (StreamFromFile) {
            more = sent == got && GetTickCount() - start < kPassSlice;
            if (!more) PostMessageA(WindowHandle, MsgSendMore, 0, 0);
        } else {
            OutSpare->Clear();
            OutSpare->Write(outMem_->Memory() + sent, static_cast<int32_t>(size - sent));
            outMem_->Clear();
            std::swap(outMem_, OutSpare);
            OutBuffer = outMem_;
            OutBuffer->SetPosition(0);
            PostMessageA(WindowHandle, MsgSendMore, 0, 0);
        }
        if (TransferActive) {
            BytesSent = AddWrapping(BytesSent, sent);
            Fire(OnPacketSent, this);
        }
        work = more;
    }
    EndPass();
}

bool TPowersock::NextSendBlock(int64_t from) {
    const int64_t have = static_cast<int64_t>(sendBlock_.size());
    if (from >= sendBlockFrom_ && from < sendBlockFrom_ + have) return true;
    sendBlock_.resize(kFileBlock);
    OutBuffer->SetPosition(from);
    int32_t got = OutBuffer->Read(sendBlock_.data(), static_cast<int32_t>(kFileBlock));
    sendBlock_.resize(got > 0 ? static_cast<size_t>(got) : 0);
    sendBlockFrom_ = from;
    return got > 0;
}

void TPowersock::DropFileBlocks() {
    std::vector<char>().swap(sendBlock_);
    std::vector<char>().swap(captureBlock_);
    sendBlockFrom_ = 0;
    captureToBlock_ = false;
}

void TPowersock::FlushCaptureBlock() {
    if (captureBlock_.empty()) return;
    InBuffer->Seek(0, TStream::soEnd);
    const int32_t n = static_cast<int32_t>(captureBlock_.size());
    if (InBuffer->Write(captureBlock_.data(), n) != n) streamError_ = true;
    captureBlock_.clear();
}

// ===========================================================================
// Sending

void TPowersock::SendBuffer(const void* buffer, uint16_t length) {
    StatusMessage(4, "Sending Buffer");
    if (Canceled) return;
    size_t n = length ? length : strnlen(static_cast<const char*>(buffer), 0xFFFF);
    if (n == 0) return;  // nothing to send: nothing would ever complete
    if (!Connected) throw ESockError(SockText::NotConnected);
    outMem_->Seek(0, TStream::soEnd);
    outMem_->Write(buffer, static_cast<int32_t>(n));
    SendComplete = false;
    PostMessageA(WindowHandle, MsgSendMore, 0, 0);
    WaitFor([this] { return SendComplete || !Connected; });
    if (Canceled) RaiseCancel(SockText::SendAborted);
    if (!SendComplete) {
        outMem_->Clear();
        throw ESockError(SockText::PeerClosed, TSockErrorKind::PeerClosed);
    }
}

void TPowersock::Write(const std::string& text) {
    StatusMessage(8, "Write");
    // At most 16384 characters, and only up to the first NUL.
    size_t n = std::min<size_t>(text.size(), 16384);
    std::memcpy(WriteArea.get(), text.data(), n);
    WriteArea[n] = '\0';
    SendBuffer(WriteArea.get(), 0);
}

void TPowersock::Writeln(const std::string& text) {
    StatusMessage(8, "Writeln");
    Write(text + "\r\n");
}

void TPowersock::SendFile(const std::string& fileName, int64_t offset) {
    StatusMessage(8, "SendFile");
    TStream* saved = OutBuffer;
    TransferActive = true;
    StreamFromFile = true;
    streamError_ = false;
    bool closed = false;
    {
        TAtExit restore([&] {
            DropFileBlocks();
            OutBuffer = saved;
            TransferActive = false;
            StreamFromFile = false;
            sendBase_ = 0;
        });
        TFileStream file(fileName, TFileStream::fmOpenRead);
        int64_t size = file.Size();
        if (size > INT32_MAX) throw ESockError("File too large to send");
        if (offset < 0 || offset > size) throw ESockError("Send offset beyond the end of the file");
        if (size > offset && !Connected) throw ESockError(SockText::NotConnected);
        OutBuffer = &file;
        file.SetPosition(offset);
        sendBase_ = offset;
        SendComplete = false;
        BytesSent = 0;
        BytesTotal = static_cast<int32_t>(size - offset);
        PostMessageA(WindowHandle, MsgSendMore, 0, 0);
        WaitFor([&] {
            if (SendComplete || BytesTotal <= 0 || streamError_) return true;
            closed = !Connected;
            return closed;
        });
    }
    if (Canceled) RaiseCancel(SockText::SendAborted);
    if (streamError_) throw Exception("Stream read error");
    if (closed) throw ESockError(SockText::PeerClosed, TSockErrorKind::PeerClosed);
}

void TPowersock::SendStream(TStream& stream) {
    StatusMessage(8, "SendStream");
    TransferActive = true;
    bool closed = false;
    {
        TStream* saved = OutBuffer;
        TAtExit restore([&] {
            DropFileBlocks();
            OutBuffer = saved;
            TransferActive = false;
            StreamFromFile = false;
        });
        if (!Canceled) {
            // Sent from the caller's stream in place, chunk by chunk, as a file
            // is: nothing is copied, and an empty stream is not waited for.
            StreamFromFile = true;
            streamError_ = false;
            stream.SetPosition(0);
            StatusMessage(8, "SendFile");
            BytesSent = 0;
            int64_t size = stream.Size();
            if (size > INT32_MAX) throw ESockError("Stream too large to send");
            BytesTotal = static_cast<int32_t>(size);
            if (size > 0 && !Connected) throw ESockError(SockText::NotConnected);
            OutBuffer = &stream;
            SendComplete = false;
            PostMessageA(WindowHandle, MsgSendMore, 0, 0);
            WaitFor([&] {
                if (SendComplete || BytesTotal <= 0 || streamError_) return true;
                closed = !Connected;
                return closed;
            });
        }
    }
    if (Canceled) RaiseCancel(SockText::SendAborted);
    if (streamError_) throw Exception("Stream read error");
    if (closed) throw ESockError(SockText::PeerClosed, TSockErrorKind::PeerClosed);
}

// ===========================================================================
// Reading

void TPowersock::TakeFront(size_t n) {
    size_t rest = inMem_->Bytes() - n;
    if (rest == 0) {
        inMem_->Clear();
        return;
    }
    InSpare->Clear();
    InSpare->Write(inMem_->Memory() + n, static_cast<int32_t>(rest));
    inMem_->Clear();
    std::swap(inMem_, InSpare);
    InBuffer = inMem_;
}

std::string TPowersock::Read(uint16_t count) {
    StatusMessage(8, "Read( " + std::to_string(count) + " )");
    if (count > 0) WaitFor([&] { return inMem_->Bytes() >= count; });
    if (Canceled) RaiseCancel(SockText::SendAborted);
    size_t n = count == 0 ? inMem_->Bytes() : count;
    std::string out(inMem_->Memory() ? inMem_->Memory() : "", n);
    TakeFront(n);
    return out;
}

std::string TPowersock::ReadLn() {
    StatusMessage(8, "ReadLn");
    size_t len = 0;
    bool tooLong = false, closed = false;
    WaitFor([&] {
        len = FirstLineLength(inMem_->Memory(), inMem_->Bytes());
        if (len) return true;
        tooLong = inMem_->Bytes() >= MaxReplyLine;
        closed = !Connected;
        return tooLong || closed;
    });
    if (Canceled) RaiseCancel(SockText::ReadLnAborted);
    if (tooLong) throw ESockError(SockText::LineTooLong, TSockErrorKind::LineTooLong);
    if (!len) throw ESockError(SockText::PeerClosed, TSockErrorKind::PeerClosed);
    std::string line(inMem_->Memory(), len);
    TakeFront(len);
    return line;
}

bool TPowersock::ReadLnOrRest(std::string& line) {
    StatusMessage(8, "ReadLn");
    size_t len = 0;
    bool tooLong = false;
    WaitFor([&] {
        len = FirstLineLength(inMem_->Memory(), inMem_->Bytes());
        if (len) return true;
        tooLong = inMem_->Bytes() >= MaxReplyLine;
        return tooLong || !Connected;
    });
    if (Canceled) RaiseCancel(SockText::ReadLnAborted);
    if (tooLong) throw ESockError(SockText::LineTooLong, TSockErrorKind::LineTooLong);
    if (!len) len = inMem_->Bytes();  // the peer has closed: the rest is the last line
    if (!len) return false;
    line.assign(inMem_->Memory(), len);
    TakeFront(len);
    return true;
}

std::string TPowersock::Transaction(const std::string& command) {
    StatusMessage(8, "Transaction");
    ReplyNumber = 0;
    Writeln(command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(1, LastReply);
        ReplyNumber = LeadingReplyNumber(LastReply);
    }
    return LastReply;
}

void TPowersock::CaptureFile(const std::string& fileName) {
    TransferActive = true;
    StreamFromFile = true;
    StatusMessage(8, "CaptureFile");
    streamError_ = false;
    {
        TAtExit restore([this] {
            DropFileBlocks();
            InBuffer = inMem_;
            TransferActive = false;
            StreamFromFile = false;
        });
        TFileStream file(fileName, TFileStream::fmCreate);
        BytesRcvd = 0;
        if (inMem_->Bytes() > 0) {
            if (file.Write(inMem_->Memory(), static_cast<int32_t>(inMem_->Bytes())) !=
                static_cast<int32_t>(inMem_->Bytes()))
                streamError_ = true;
            BytesRcvd = static_cast<int32_t>(inMem_->Bytes());
            inMem_->Clear();
        }
        InBuffer = &file;
        captureBlock_.reserve(kFileBlock);
        captureToBlock_ = true;
        WaitFor([this] { return !Connected || streamError_; });
        captureToBlock_ = false;
        FlushCaptureBlock();
    }
    if (Canceled) RaiseCancel(SockText::SendAborted);
    if (streamError_) throw Exception("Stream write error");
}

bool TPowersock::CaptureInto(int32_t count, const std::function<int64_t()>& have,
                             const std::function<void(const char*, size_t)>& put) {
    for (;;) {
        if (Canceled) return false;
        int64_t got = have();
        size_t buffered = inMem_->Bytes();
        if (count == -1 ? !(Connected || buffered) : got >= count) return false;
        if (buffered) {
            // With a count, only what is still missing; the rest stays buffered.
            size_t n = buffered;
            if (count >= 0) n = std::min<size_t>(n, static_cast<size_t>(count - got));
            put(inMem_->Memory(), n);
            TakeFront(n);
        } else if (!Connected) {
            return true;  // the count can never be reached
        } else {
            WaitFor([this] { return inMem_->Bytes() > 0 || !Connected; });
        }
    }
}

void TPowersock::CaptureStream(TStream& stream, int32_t count) {
    TransferActive = true;
    TAtExit restore([this] { TransferActive = false; });
    BytesRcvd = static_cast<int32_t>(inMem_->Bytes());
    StatusMessage(8, "Capture Stream");
    bool closed = CaptureInto(count, [&] { return stream.Size(); }, [&](const char* p, size_t n) {
        stream.Seek(0, TStream::soEnd);
        stream.Write(p, static_cast<int32_t>(n));
    });
    if (Canceled) RaiseCancel(SockText::CaptureAborted);
    if (closed) throw ESockError(SockText::PeerClosed, TSockErrorKind::PeerClosed);
}

void TPowersock::CaptureString(std::string& text, int32_t count) {
    TransferActive = true;
    TAtExit restore([this] { TransferActive = false; });
    text.clear();
    BytesRcvd = 0;
    StatusMessage(8, "Capture String");
    bool closed = CaptureInto(count, [&] { return static_cast<int64_t>(text.size()); },
                              [&](const char* p, size_t n) { text.append(p, n); });
    if (Canceled) RaiseCancel(SockText::CaptureAborted);
    if (closed) throw ESockError(SockText::PeerClosed, TSockErrorKind::PeerClosed);
}

void TPowersock::FilterHeader(TStream& fileStream) {
    StatusMessage(8, "FilterHeader");
    for (;;) {
        std::string line = ReadLn();
        fileStream.WriteText(line);
        if (line == "\n" || line == "\r\n" || line.empty()) return;
    }
}

// ===========================================================================
// Listening

void TPowersock::Listen(bool acceptOnSecondMessage) {
    StatusMessage(8, "Listening");
    RemoteAddress = {};
    RemoteAddress.sin_family = AF_INET;
    RemoteAddress.sin_addr.s_addr = htonl(INADDR_ANY);
    RemoteAddress.sin_port = htons(static_cast<u_short>(Port & 0xFFFF));
    AsyncDone = false;
    if (bind(SocketHandle, reinterpret_cast<sockaddr*>(&RemoteAddress), sizeof(RemoteAddress)) != 0) ErrorManager(0);
    WSAAsyncSelect(SocketHandle, WindowHandle, acceptOnSecondMessage ? MsgAsyncDone : MsgSocketEvent, FD_ACCEPT);
    if (listen(SocketHandle, 1) != 0) ErrorManager(0);
}

TSocketHandle TPowersock::Accept() {
    WaitFor([this] { return AsyncDone; });
    if (Canceled) RaiseCancel(SockText::AcceptCanceled);
    if (!EventOK) throw ESockError(SockText::DataConnectionFailed, TSockErrorKind::DataConnection);
    StatusMessage(4, "Accepting");
    int len = sizeof(RemoteAddress);
    SOCKET a = accept(SocketHandle, reinterpret_cast<sockaddr*>(&RemoteAddress), &len);
    if (a == INVALID_SOCKET) {
        ErrorManager(0);
        throw ESockError(SockText::DataConnectionFailed, TSockErrorKind::DataConnection);
    }
    if (!FitsHandle(a)) {
        closesocket(a);
        throw ESockError(SockText::DataConnectionFailed, TSockErrorKind::DataConnection);
    }
    return static_cast<TSocketHandle>(a);
}
