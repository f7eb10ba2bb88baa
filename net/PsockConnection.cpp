// TPowersock's connection life: construction and Winsock start-up, status
// and errors, the wait with its cancel and time limits, name look-up,
// connect and close, and the addresses.
#include "Psock.h"

#include <cstring>

#include "Forms.h"
#include "PsockCounts.h"
#include "PsockInternal.h"
#include "Wait.h"
#include "WaitLimits.h"

static_assert(sizeof(sockaddr_in) == 16, "RemoteAddress is Winsock's 16-byte IPv4 address record");
static_assert(sizeof(TSocketHandle) == 2, "socket handles are kept in 16 bits");

int32_t ConnectionCount = 0;
void (*PsockWaitPass)() = WaitPass;

using namespace psock;

namespace {
std::string ByteVersion(WORD v) { return std::to_string(LOBYTE(v)) + "." + std::to_string(HIBYTE(v)); }
}  // namespace

// ===========================================================================
// TPowersock: construction, start-up, destruction

TPowersock::TPowersock(TComponent* owner) : TComponent(owner) {
    StatusMessage(8, "Create");
    PsockStartCounting();
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
        if (gatherDue_) {
            TCountTime t(PsockCounts.sleeps, PsockCounts.sleepSeconds);
            Sleep(kGatherMs);
        }
        ResumeDeferred();
        // What is pending (often the very pass that completes the wait) runs
        // first; the pass below then sleeps only if the wait goes on, and
        // not at all while a pass that gave way to input or paint is due.
        Application->ProcessMessages();
        if (PsockCounting) ++PsockCounts.waitPasses;
        if (Canceled || done() || readDeferred_ || sendDeferred_) return;
        TCountTime t(PsockCounts.sleeps, PsockCounts.sleepSeconds);
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
    connectError_ = 0;
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
        throw ESockError(SockText::ConnectFailed, TSockErrorKind::ConnectFailed, connectError_);
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

void TPowersock::RefuseAccepted(TSocketHandle accepted) {
    Close(accepted);
    AsyncDone = false;
    Connected = false;
}

void TPowersock::TakeAcceptedSocket(TSocketHandle accepted) {
    TSocketHandle listener = SocketHandle;
    SocketHandle = accepted;
    Close(listener);
    SelectAll(accepted);
}

void TPowersock::WidenSocketBuffer(int option) {
    // The system may grant less; what it grants is fine.
    int bytes = kTransferSocketBuffer;
    setsockopt(SocketHandle, SOL_SOCKET, option, reinterpret_cast<const char*>(&bytes), sizeof(bytes));
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

