// TPowersock's blocking-looking reads and writes: sends of buffers, texts,
// files and streams, line and count reads, captures into a file, stream or
// text, and listen/accept. Each is a thin wrapper around WaitFor.
#include "Psock.h"

#include <algorithm>
#include <cstring>

#include "PsockInternal.h"

using namespace psock;

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
        closed = SendOut(file, offset, size);
    }
    RaiseSendOutcome(closed);
}

bool TPowersock::SendOut(TStream& source, int64_t offset, int64_t size) {
    OutBuffer = &source;
    source.SetPosition(offset);
    sendBase_ = offset;
    SendComplete = false;
    BytesSent = 0;
    BytesTotal = static_cast<int32_t>(size - offset);
    PostMessageA(WindowHandle, MsgSendMore, 0, 0);
    bool closed = false;
    WaitFor([&] {
        if (SendComplete || BytesTotal <= 0 || streamError_) return true;
        closed = !Connected;
        return closed;
    });
    return closed;
}

void TPowersock::RaiseSendOutcome(bool closed) {
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
            closed = SendOut(stream, 0, size);
        }
    }
    RaiseSendOutcome(closed);
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

void TPowersock::CountReceived() {
    TransferActive = true;
    BytesRcvd = Buffered();
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
        WidenSocketBuffer(SO_RCVBUF);
        captureBlock_.reset(new char[kCaptureArea]);
        captureFill_ = 0;
        largestRead_ = 0;
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
