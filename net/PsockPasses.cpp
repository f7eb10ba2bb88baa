// TPowersock's message-driven core: the dispatcher of the hidden window's
// messages, and the receive and send passes they run (with when a pass gives
// way to input, paint and timers).
#include "Psock.h"

#include <algorithm>
#include <cstring>

#include "Forms.h"
#include "PsockCounts.h"
#include "PsockInternal.h"

using namespace psock;

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
                connectError_ = WSAGETSELECTERROR(lParam);
                if (EventOK) {
                    Connected = true;
                    Fire(OnConnect, this);
                }
                break;
            case FD_CLOSE: {
                // Everything still queued is taken now; nothing is put off any more.
                readDeferred_ = false;
                if (!sendDeferred_) KillTimer(WindowHandle, kResumeTimer);
                while (!Canceled) {
                    int want = 0;
                    const int n = ReceiveOnce(want);
                    if (n <= 0) break;
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
// Giving way

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
    gatherDue_ = false;
    if (!readDeferred_ && !sendDeferred_) return;
    KillTimer(WindowHandle, kResumeTimer);
    waitSatisfied_ = false;
    PostPasses(readDeferred_, sendDeferred_);
}

// ===========================================================================
// Receive and send passes

void TPowersock::PostReadMore() {
    // One MsgReadMore on its way is enough.
    if (!readMorePosted_) readMorePosted_ = PostMessageA(WindowHandle, MsgReadMore, 0, 0) != 0;
}

void TPowersock::EndPass() {
    InHandler = false;
    // A pass refused meanwhile (a handler that processed messages) runs later.
    PostPasses(readPending_, sendPending_);
}

void TPowersock::PostPasses(bool& read, bool& send) {
    if (read) {
        read = false;
        PostReadMore();
    }
    if (send) {
        send = false;
        PostMessageA(WindowHandle, MsgSendMore, 0, 0);
    }
}

int TPowersock::ReceiveOnce(int& want) {
    // Into a file: straight into the capture area, up to kCaptureRecv at a
    // time; the area goes to the file once it holds a block. Else a chunk,
    // appended to the buffer.
    char area[SocketChunk];
    char* into = area;
    want = SocketChunk;
    if (captureToBlock_) {
        if (captureFill_ >= kFileBlock) FlushCaptureBlock();
        into = captureBlock_.get() + captureFill_;
        want = static_cast<int>(kCaptureRecv);
    }
    int n;
    {
        TCountTime t(PsockCounts.recvCalls, PsockCounts.recvSeconds);
        n = recv(SocketHandle, into, want, 0);
    }
    if (n <= 0) return n;
    if (into != area) {
        captureFill_ += static_cast<size_t>(n);
        if (static_cast<size_t>(n) > largestRead_) largestRead_ = static_cast<size_t>(n);
        return n;
    }
    InBuffer->Seek(0, TStream::soEnd);
    if (InBuffer->Write(area, n) != n) streamError_ = true;
    return n;
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
    if (gather_ && captureToBlock_ && !Canceled) {
        // Put off like a pass that gives way; the wait resumes it after
        // kGatherMs (the timer, when no wait runs).
        gather_ = false;
        gatherDue_ = true;
        readDeferred_ = true;
        SetTimer(WindowHandle, kResumeTimer, kResumeDelay, nullptr);
        return;
    }
    InHandler = true;
    StatusMessage(8, "ReadToStream");
    // A pass takes what the socket has ready (a chunk at a time, or up to
    // kCaptureRecv into a file), for as long as full reads keep coming and
    // the time slice lasts: each pass costs a message round trip, which under
    // Wine is worth more than the recv.
    const DWORD start = GetTickCount();
    bool stored = false;
    for (;;) {
        int want = 0;
        const int n = ReceiveOnce(want);
        if (n == SOCKET_ERROR) {
            LastErrorNo = WSAGetLastError();
            if (PsockCounting && LastErrorNo == WSAEWOULDBLOCK) ++PsockCounts.recvWouldBlock;
            std::string text = SocketErrorStr(static_cast<uint16_t>(LastErrorNo));
            Fire(OnError, this, static_cast<uint16_t>(LastErrorNo), text);
            break;
        }
        if (TransferActive) CountPackets(n, BytesRcvd, OnPacketRecvd);
        stored = true;
        if (waitCondition_ && n > 0 && (*waitCondition_)()) waitSatisfied_ = true;
        // A short read has emptied the socket; Winsock notifies again when
        // more comes.
        if (n < want) {
            gather_ = captureToBlock_ && largestRead_ >= kGatherAfterRead && static_cast<size_t>(n) < kGatherBelow;
            break;
        }
        if (Canceled || waitSatisfied_ || GetTickCount() - start >= kPassSlice ||
            PutOff(readDeferred_, true)) {
            // The rest is read in a later pass. One MsgReadMore on its way
            // is enough: Winsock also re-posts its read notification after
            // every recv that leaves data, and one more message per chunk
            // would make the queue grow for as long as the data streams.
            if (!readDeferred_) PostReadMore();
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
    PostReadMore();
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
            // A file goes out more than a chunk at a time.
            got = static_cast<int32_t>(std::min<int64_t>(
                kFileSend, sendBlockFrom_ + static_cast<int64_t>(sendBlock_.size()) - from));
        } else {
            data = outMem_->Memory();
            got = static_cast<int32_t>(std::min<int64_t>(SocketChunk, size));
        }
        int sent;
        {
            TCountTime t(PsockCounts.sendCalls, PsockCounts.sendSeconds);
            sent = send(SocketHandle, data, got, 0);
        }
        if (PsockCounting && sent != got) ++PsockCounts.sendShort;
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
        if (TransferActive) CountPackets(sent, BytesSent, OnPacketSent);
        work = more;
    }
    EndPass();
}

void TPowersock::CountPackets(int n, int32_t& count, const TNotifyEvent& event) {
    TCountTime t(PsockCounts.eventSeconds);
    if (PsockCounting) PsockCounts.packetEvents += n == 0 ? 1 : (n + SocketChunk - 1) / SocketChunk;
    if (n == 0) {
        Fire(event, this);
        return;
    }
    while (n > 0) {
        const int part = std::min(n, SocketChunk);
        count = AddWrapping(count, part);
        n -= part;
        Fire(event, this);
    }
}

bool TPowersock::NextSendBlock(int64_t from) {
    const int64_t have = static_cast<int64_t>(sendBlock_.size());
    if (from >= sendBlockFrom_ && from < sendBlockFrom_ + have) return true;
    sendBlock_.resize(kFileBlock);
    TCountTime t(PsockCounts.fileReads, PsockCounts.fileSeconds);
    OutBuffer->SetPosition(from);
    int32_t got = OutBuffer->Read(sendBlock_.data(), static_cast<int32_t>(kFileBlock));
    sendBlock_.resize(got > 0 ? static_cast<size_t>(got) : 0);
    sendBlockFrom_ = from;
    return got > 0;
}

void TPowersock::DropFileBlocks() {
    gather_ = false;
    std::vector<char>().swap(sendBlock_);
    captureBlock_.reset();
    captureFill_ = 0;
    sendBlockFrom_ = 0;
    captureToBlock_ = false;
}

void TPowersock::FlushCaptureBlock() {
    if (captureFill_ == 0) return;
    TCountTime t(PsockCounts.fileWrites, PsockCounts.fileSeconds);
    InBuffer->Seek(0, TStream::soEnd);
    const int32_t n = static_cast<int32_t>(captureFill_);
    if (InBuffer->Write(captureBlock_.get(), n) != n) streamError_ = true;
    captureFill_ = 0;
}

