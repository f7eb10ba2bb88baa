// TPowersock: one TCP stream socket on Windows Sockets 1.1 whose notifications
// arrive as window messages on the user-interface thread, wrapped in operations
// that look blocking to the caller. Every operation waits in a loop that lets
// the application process its messages (so the notifications that complete it,
// and a user's Cancel, run inside the wait) and ends also when the application
// terminates, with the operation's cancel exception.
//
// TThreadTimer: a window timer owned by a component. ESockError /
// EAbortError: socket failures (with their kind) and cancels.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Exception.h"
#include "SockText.h"
#include "Wait.h"

// What went wrong, for the code that decides what to do about it; the
// message is for people and may be worded differently without changing any
// behaviour.
enum class TSockErrorKind {
    Other,
    StartupFailed,     // Winsock or the connection's socket could not be set up
    Winsock,           // a Winsock call failed: Code holds its error number
    AlreadyConnected,
    LookupTimedOut,
    LookupFailed,      // no address for the name (the null address included)
    ConnectFailed,
    Cancelled,         // Cancel/Abort or the application ending: always EAbortError
    TimedOut,          // a time limit passed (connect, or a bounded wait)
    PeerClosed,        // the peer closed before the operation could finish
    LineTooLong,
    DataConnection,    // the data connection could not be taken
};

class ESockError : public Exception {
public:
    explicit ESockError(std::string message, TSockErrorKind kind = TSockErrorKind::Other, int32_t code = 0)
        : Exception(std::move(message)), Kind(kind), Code(code) {}
    TSockErrorKind Kind;
    // The Winsock error number of a Winsock failure, and of the connect
    // notification of a failed connect (10061 refused, 10065 no route, ...); else 0.
    int32_t Code;
};
// Every cancel raises this, and the operation that raises it has cleared the
// connection's Canceled flag: the cancel is spent, the next operation runs.
class EAbortError : public ESockError {
public:
    explicit EAbortError(std::string message) : ESockError(std::move(message), TSockErrorKind::Cancelled) {}
};

// Messages of the connection's hidden window.
enum : UINT {
    MsgSocketEvent = WM_USER + 101,  // socket notification (WSAAsyncSelect)
    MsgAsyncDone = WM_USER + 102,    // host look-up answer, or accept after Listen(true)
    MsgSendMore = WM_USER + 103,     // run a send pass
    MsgReadMore = WM_USER + 104,     // run another receive pass
};

// Notifications a connection registers for: read, write, out-of-band, accept,
// connect, close.
constexpr long AllSocketEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

// One receive or send pass moves at most this many bytes.
constexpr int SocketChunk = 16383;

// Socket handles are kept in 16 bits; all ones means "no socket".
using TSocketHandle = uint16_t;
constexpr TSocketHandle NoSocket = 0xFFFF;

// Live connection objects that took part in Winsock start-up. The first one
// starts Winsock, the one that brings the count back to 0 cleans it up.
extern int32_t ConnectionCount;

// The wait loops' pass: WaitPass (messages, then up to 2 ms for the next one).
// Replaceable only to measure other strategies.
extern void (*PsockWaitPass)();

using TOnErrorEvent = std::function<void(TObject* Sender, uint16_t Errno, const std::string& Errmsg)>;
using TOnHostResolved = std::function<void(TObject* Sender)>;
using TOnStatus = std::function<void(TObject* Sender, const std::string& Status)>;

class TThreadTimer;
class TPowersock;

// Hidden tool windows of the connection and of the timer; nullptr when the
// window class cannot be registered.
HWND PsockAllocateHWnd(TPowersock* object);
HWND TmrAllocateHWnd(TThreadTimer* object);

class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* owner);
    ~TThreadTimer() override;

    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TNotifyEvent handler);
    HWND WindowHandle() const { return window_; }

    // WM_TIMER: fires OnTimer.
    void Timer();

private:
    // Kills platform timer 1; starts it again when there is an interval, the
    // timer is enabled and has a handler. Raises "No Timer" when refused.
    void UpdateTimer();

    uint32_t interval_ = 1000;
    HWND window_ = nullptr;
    TNotifyEvent onTimer_;
    bool enabled_ = true;
};

class TPowersock : public TComponent {
public:
    explicit TPowersock(TComponent* owner);
    ~TPowersock() override;

    // ---- events
    TNotifyEvent OnReadDone;  // after a receive pass that stored data (the FTP client's hook)
    TNotifyEvent OnAccept;    // accept notification as MsgSocketEvent
    TNotifyEvent OnConnect, OnDisconnect;
    TOnErrorEvent OnError;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    THandlerEvent OnConnectionRequired;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;

    // ---- state
    bool TransferActive = false;  // a file or stream transfer runs: count bytes, fire packet events
    bool InHandler = false;       // a receive or send pass runs
    TStringList WinsockInfo;      // six lines, filled by the first start-up only
    int32_t BytesSent = 0;
    bool Canceled = false;        // ends every wait of this connection
    bool ClosingDown = false;     // destructor: no replacement socket
    int32_t LastErrorNo = 0;
    int32_t TimeOut = 0;          // ms, look-up and connect; 0 = no limit
    int32_t ReportLevel = 0;      // status texts above this level are dropped
    std::string Status;           // last status text that passed the level
    std::string Proxy;            // connected to instead of Host when not empty
    int32_t ProxyPort = 0;
    TThreadTimer* Timer = nullptr;  // owned
    TStream* OutBuffer = nullptr;   // bytes not yet sent (a file or stream while one is sent)
    TMemoryStream* OutSpare = nullptr;
    TMemoryStream* InSpare = nullptr;
    bool EventOK = false;           // the last notification carried no error
    bool TimedOut = false;
    int32_t Port = 0;               // remote port (low 16 bits used)
    int32_t BytesTotal = 0, BytesRcvd = 0;
    TNotifyEvent OnPacketRecvd, OnPacketSent;
    bool AsyncDone = false;         // look-up answer or accept (Listen(true)) arrived
    WSADATA WinsockData = {};
    sockaddr_in RemoteAddress = {};
    std::string Host;
    std::string LastReply;
    int16_t ReplyNumber = 0;
    bool SendComplete = false;
    bool StreamFromFile = false;    // OutBuffer / InBuffer is a caller's file or stream
    TSocketHandle SocketHandle = NoSocket;
    HWND WindowHandle = nullptr;
    TStream* InBuffer = nullptr;    // received bytes not yet taken (a file during CaptureFile)
    bool Connected = false;

    // ---- virtual operations
    virtual TSocketHandle Accept();
    virtual void Connect();
    virtual void Disconnect();
    // Sends one command line, reads one reply line into LastReply (line end
    // included) and its leading number into ReplyNumber; returns the reply.
    virtual std::string Transaction(const std::string& command);
    virtual void Abort();

    // ---- connection
    void InitWinsock();
    void Cancel();
    void CertifyConnect();
    void ResolveRemoteHost();
    void RequestCloseSocket();
    void Wndproc(UINT msg, WPARAM wParam, LPARAM lParam);
    void TimerOn();
    void TimerOff();
    void TimerFired(TObject* Sender);
    void StatusMessage(uint8_t level, const std::string& text);
    std::string ErrorManager(uint16_t ignored);
    std::string SocketErrorStr(uint16_t code);
    void SetWSAError(uint16_t code, const std::string& text);
    int32_t GetLastErrorNo();
    void SetLastErrorNo(int32_t value);
    void Close(TSocketHandle socket);
    std::string GetRemoteIP();
    std::string GetLocalIP();
    std::string GetLocalAddress();
    std::string GetPortString();

    // Closes an accepted socket that is not wanted and goes on listening:
    // the next Accept waits for another connection.
    void RefuseAccepted(TSocketHandle accepted);
    // From now on received bytes are counted and OnPacketRecvd fires, the
    // bytes already buffered counted too (a reader that takes them itself).
    void CountReceived();
        // The accepted socket becomes this connection's socket: the listening one
    // is closed and all six notifications are registered as MsgSocketEvent.
    void TakeAcceptedSocket(TSocketHandle accepted);
    // Registers all six notifications of socket as MsgSocketEvent.
    void SelectAll(TSocketHandle socket);
    // Asks for a large socket buffer (SO_RCVBUF or SO_SNDBUF) for a file transfer.
    void WidenSocketBuffer(int option);
    // Linger on with 0 s: a close resets the connection; off: queued data goes out.
    void SetLinger(bool on);

    // ---- line and stream I/O
    void SendBuffer(const void* buffer, uint16_t length);
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    std::string Read(uint16_t count);
    std::string ReadLn();
    // One line, as ReadLn; when the peer has closed, what is left without a
    // line end is the last line. False when the peer has closed and nothing
    // is left.
    bool ReadLnOrRest(std::string& line);
    // Sends the file from offset (0: all of it) to its end.
    void SendFile(const std::string& fileName, int64_t offset = 0);
    void SendStream(TStream& stream);
    void CaptureFile(const std::string& fileName);
    void CaptureStream(TStream& stream, int32_t count);
    void CaptureString(std::string& text, int32_t count);
    void FilterHeader(TStream& fileStream);
    void Listen(bool acceptOnSecondMessage);
    void ReadToStream();
    void WriteFromStream();

    // While on, receive passes leave arriving data in the socket, so that the
    // peer is held back by the transport's flow control instead of filling
    // memory (a connection that is up before anyone reads from it); off
    // resumes them. A close still takes what is queued.
    void HoldReceive(bool on);

    // The waits of this connection end also when deadline passes (the caller
    // keeps it and may restart it), with ESockError "Timed out waiting for
    // the server" (kind TimedOut), and when *alive turns false, with
    // ESockError "Connection closed by peer" (kind PeerClosed). nullptr: none.
    void BoundWaits(const TDeadline* deadline, const bool* alive = nullptr);

    // Bytes received and not yet taken (memory buffer).
    int32_t Buffered() const { return static_cast<int32_t>(inMem_->Bytes()); }

private:
    // Every cancel ends here: Canceled is cleared (the cancel is spent) and
    // EAbortError carries it to the caller.
    [[noreturn]] void RaiseCancel(const char* text);
    // Every wait of the connection: WaitUntil with done(), Canceled, and the
    // look-up and connect limit while TimerOn holds (then TimedOut is set at
    // its end), else the bound of BoundWaits (which raises). An application
    // that terminates cancels the wait: Canceled is set, so the operation
    // raises its own cancel exception.
    void WaitFor(const std::function<bool()>& done);
    // A fresh socket registered for all notifications; NoSocket on failure.
    TSocketHandle OpenSocket(bool linger);
    // After a failed connect: a fresh socket so that the object can connect again.
    void ReplaceSocket();
    // Removes the queued notifications of a socket that has been closed.
    void DropSocketEvents();
    // Drops the running host look-up: its late answer is ignored and its
    // answer area is left to it.
    void AbandonLookup();
    // The loop of CaptureStream / CaptureString: moves buffered bytes to put()
    // until count (have() tells how many are there; -1: until the peer has
    // closed and nothing is left). True when the peer closed short of count.
    bool CaptureInto(int32_t count, const std::function<int64_t()>& have,
                     const std::function<void(const char*, size_t)>& put);
    // One recv: into the capture area during CaptureFile, else a chunk into
    // InBuffer. Returns recv's result; want is what it asked for.
    int ReceiveOnce(int& want);
    // Posts MsgReadMore unless one is on its way.
    void PostReadMore();
    // Posts a receive pass when read is set and a send pass when send is,
    // clearing them.
    void PostPasses(bool& read, bool& send);
    // SendFile and SendStream: source goes out from offset to size as
    // OutBuffer, and the wait for it; true when the peer closed first.
    bool SendOut(TStream& source, int64_t offset, int64_t size);
    // The end of a send: the cancel, a stream error or the peer's close.
    void RaiseSendOutcome(bool closed);
    // A file being sent is read a block at a time: makes sure the block holds
    // the byte at from. False when the file gives nothing there.
    bool NextSendBlock(int64_t from);
    // The bytes of a capture gathered since the last write go to the file.
    void FlushCaptureBlock();
    // Gives back the blocks of a file transfer (memory stays flat between them).
    void DropFileBlocks();
    // n more bytes moved: counted, and a packet event for each SocketChunk
    // of them (the granularity of progress stays that of the chunks).
    void CountPackets(int n, int32_t& count, const TNotifyEvent& event);
    void TakeFront(size_t n);
    void EndPass();
    // A pass that should give way is put off: it runs again from the next
    // wait pass, or from a window timer when none waits. Passes give way when
    // the waiting operation has what it waits for, when input is pending
    // (looked at every 5 ms), and at most every 50 ms when paint or timer
    // messages are.
    bool PutOff(bool& deferred, bool whenSatisfied);
    void ResumeDeferred();

    std::unique_ptr<TMemoryStream> in1_, in2_, out1_, out2_;
    TMemoryStream* inMem_ = nullptr;   // the memory stream that is InBuffer outside captures
    TMemoryStream* outMem_ = nullptr;  // the memory stream that is OutBuffer outside file sends
    char* HostEntryBuffer = nullptr;   // 1024 bytes, look-up answer
    std::unique_ptr<char[]> WriteArea; // 16385 bytes, the text Write sends
    HANDLE lookupTask_ = nullptr;
    bool readPending_ = false, sendPending_ = false;  // a pass was refused while another ran
    bool readDeferred_ = false, sendDeferred_ = false;  // a pass was put off (see PutOff)
    bool readMorePosted_ = false;  // a MsgReadMore is on its way
    bool holdReceive_ = false;     // HoldReceive is on
    bool receiveHeld_ = false;     // a receive pass was left for the end of the hold
    bool gather_ = false;          // a capture read drained the socket in a small bite
    bool gatherDue_ = false;       // the capture read put off for it waits kGatherMs
    size_t largestRead_ = 0;       // the largest single read of this capture
    bool waitSatisfied_ = false;  // a receive pass met the running wait's condition
    DWORD lastGiveWay_ = 0;       // tick count of the last pass put off for paint or timers
    DWORD lastQueueLook_ = 0;     // tick count of the last look at the message queue
    const std::function<bool()>* waitCondition_ = nullptr;  // of the running wait
    bool streamError_ = false;         // a file could not be read or written in a pass
    int64_t sendBase_ = 0;             // where in the file a SendFile started
    std::vector<char> sendBlock_;      // the block of the file being sent
    int64_t sendBlockFrom_ = 0;        // its offset in the file
    std::unique_ptr<char[]> captureBlock_;  // received bytes of CaptureFile not yet written (kCaptureArea)
    size_t captureFill_ = 0;                // how many
    bool captureToBlock_ = false;
    bool winsockStarted_ = false;
    int32_t connectError_ = 0;         // the error of the last connect notification
    TDeadline timeLimit_;              // look-up and connect, from TimerOn to TimerOff
    bool timeLimitOn_ = false;
    const TDeadline* bound_ = nullptr;  // see BoundWaits
    const bool* boundAlive_ = nullptr;
};
