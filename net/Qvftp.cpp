#include "Qvftp.h"

#include <cstring>
#include <exception>

#include "Wait.h"
#include "WaitLimits.h"

namespace {

bool InRange(int code, int lo, int hi) { return code >= lo && code <= hi; }

// Size of a local file; -1 when it cannot be read.
int64_t LocalFileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return -1;
    return (static_cast<int64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

}  // namespace

TQVFTP::TQVFTP(TComponent* owner) : TPowersock(owner) {
    Port = 21;
    DataSocket = nullptr;
    DirectoryList = nullptr;
    Vendor = NoVendor;
    OnReadDone = [this](TObject* s) { CheckRead(s); };
}

TQVFTP::~TQVFTP() {
    Cancel();
    if (Connected) {
        try {
            Disconnect();
        } catch (...) {
            // Going away: a refused or unanswered QUIT changes nothing.
        }
    }
    delete DirectoryList;
    DirectoryList = nullptr;
    CloseDataConnection();
    OnReadDone = nullptr;
}

// ===========================================================================
// Bounded waits

int32_t TQVFTP::ServerWaitLimit() const { return WaitLimits::Server(TimeOut); }

void TQVFTP::Bounded(TPowersock* conn, bool idleOnly, const std::function<void()>& fn) {
    TDeadline* prevDeadline = waitDeadline_;
    TPowersock* prevTarget = waitTarget_;
    const bool prevIdle = waitIdleOnly_;
    TDeadline deadline = TDeadline::In(ServerWaitLimit());
    waitDeadline_ = &deadline;
    waitTarget_ = conn;
    waitIdleOnly_ = idleOnly;
    // Waiting for the server to connect back ends too when the server has gone.
    conn->BoundWaits(&deadline, conn == DataSocket && !idleOnly ? &Connected : nullptr);
    auto restore = [&] {
        conn->BoundWaits(nullptr);
        waitDeadline_ = prevDeadline;
        waitTarget_ = prevTarget;
        waitIdleOnly_ = prevIdle;
    };
    try {
        fn();
    } catch (const ESockError& e) {
        restore();
        if (e.Kind != TSockErrorKind::TimedOut || !deadline.Passed()) throw;
        StatusMessage(1, SockText::ServerTimedOut);
        // The server's view of the dialogue is unknown now: a late reply
        // would be taken for the answer to the next command. Start afresh.
        if (Connected) TPowersock::Disconnect();
        throw;
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

void TQVFTP::RestartIdleClock() {
    if (waitIdleOnly_ && waitDeadline_ && waitTarget_ && waitTarget_ == DataSocket) waitDeadline_->Restart();
}

void TQVFTP::PacketArrived() {
    RestartIdleClock();
    Fire(OnPacketRecvd, DataSocket);
}

std::string TQVFTP::ReadReplyLine() {
    std::string line;
    Bounded(this, false, [&] { line = ReadLn(); });
    return line;
}

std::string TQVFTP::SingleTransaction(const std::string& command) {
    std::string reply;
    Bounded(this, false, [&] { reply = TPowersock::Transaction(command); });
    return reply;
}

// ===========================================================================
// Replies

bool TQVFTP::ReadExtraLines(const std::string& line, const std::function<void(const std::string&)>& onLine) {
    bool any = false;
    const bool whole = ReadReplyLines(line, [this] { return ReadReplyLine(); },
                                      [&](const std::string& l) {
                                          any = true;
                                          StatusMessage(1, l);
                                          if (onLine) onLine(l);
                                      });
    if (whole) return any;
    // A reply without end: the server is broken.
    StatusMessage(1, "Reply too long");
    TPowersock::Disconnect();
    throw ESockError("Reply too long");
}

std::string TQVFTP::Transaction(const std::string& command) {
    std::string reply = SingleTransaction(command);
    ReadExtraLines(reply);
    return reply;
}

void TQVFTP::DiscardUnread() {
    if (Buffered() > 0) Read(0);
}

void TQVFTP::FailureRule(TCmdType kind, const std::string& reply, bool consultUnsupported) {
    const int code = LeadingReplyNumber(reply);
    if (consultUnsupported && OnUnSupportedFunction && InRange(code, 500, 502)) OnUnSupportedFunction(this, kind);
    if (!OnFailure) throw FTPException(reply);
    bool handled = false;
    OnFailure(this, handled, kind);
    if (!handled) throw FTPException(reply);
}

void TQVFTP::CheckRead(TObject*) {
    auto* m = dynamic_cast<TMemoryStream*>(InBuffer);
    if (!m || m->Bytes() < 4) return;
    if (std::memcmp(m->Memory(), "421", 3) != 0 && std::memcmp(m->Memory(), "426", 3) != 0) return;
    serverAbort_ = true;
    // The transfer is over whatever the data connection still does.
    if (DataSocket) DataSocket->Cancel();
    Cancel();
}

std::string TQVFTP::TakeAbortLine() {
    Canceled = false;
    std::string text = Read(0);
    const size_t lf = text.find('\n');
    if (lf != std::string::npos) text.resize(lf + 1);
    StatusMessage(1, text);
    return text;
}

void TQVFTP::Flush() {
    Canceled = false;
    std::string got;
    const TDeadline late = TDeadline::In(WaitLimits::LateLinesMs);
    WaitUntil(
        [&] {
            got = Read(0);
            return !got.empty();
        },
        nullptr, &late, PsockWaitPass);
    StatusMessage(1, got);
}

void TQVFTP::Abort() {
    if (DataSocket) DataSocket->Cancel();
    Cancel();
}

// ===========================================================================
// Login and logout

void TQVFTP::Connect() {
    Canceled = false;
    if (Connected) return;
    if (Buffered() > 0) Read(0);
    serverAbort_ = false;
    epsvRefused_ = false;
    TPowersock::Connect();
    try {
        ReadExtraLines(" ");
        if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
            bool handled = false;
            OnAuthenticationNeeded(handled);
        }
        StatusMessage(1, "USER " + UserID);
        std::string reply = Transaction(Proxy.empty() ? "USER " + UserID : "USER " + UserID + "@" + Host);
        if (ReplyNumber > 400 && ReplyNumber < 600) {
            Fire(OnConnectionFailed, this);
            throw FTPException(reply);
        }
        if (ReplyNumber == 331) {
            StatusMessage(1, "PASS ");
            reply = Transaction("PASS " + Password);
            if (ReplyNumber > 400 && ReplyNumber < 600) {
                Fire(OnConnectionFailed, this);
                throw FTPException(reply);
            }
        }
        Fire(OnConnect, this);
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // The login's own failure is the one to report.
        }
        StatusMessage(1, "Disconnected");
        throw;
    }
}

void TQVFTP::Disconnect() {
    Canceled = false;
    if (!Connected) return;
    StatusMessage(1, "QUIT");
    delete DirectoryList;
    DirectoryList = nullptr;
    Vendor = NoVendor;
    try {
        DiscardUnread();
        std::string reply = Transaction("QUIT");
        if (ReplyNumber > 300 && ReplyNumber < 600) throw FTPException(reply);
    } catch (...) {
        TPowersock::Disconnect();
        throw;
    }
    TPowersock::Disconnect();
}

// ===========================================================================
// Single commands

void TQVFTP::DoCommand(const std::string& command) {
    const TCmdType kind = CommandKind(command);
    Canceled = false;
    CertifyConnect();
    if (!Connected) return;
    StatusMessage(1, command);
    DiscardUnread();
    std::string reply = Transaction(command);
    if (ReplyNumber >= 400 && ReplyNumber < 600) {
        FailureRule(kind, reply);
        return;
    }
    Fire(OnSuccess, this, kind);
}

void TQVFTP::Rename(const std::string& from, const std::string& to) {
    Canceled = false;
    CertifyConnect();
    if (!Connected) return;
    DiscardUnread();
    StatusMessage(1, "RNFR " + from);
    std::string reply = Transaction("RNFR " + from);
    if (ReplyNumber > 351 && ReplyNumber < 600) FailureRule(cmdRename, reply, false);
    StatusMessage(1, "RNTO " + to);
    reply = Transaction("RNTO " + to);
    if (ReplyNumber > 300 && ReplyNumber < 600) {
        FailureRule(cmdRename, reply);
        return;
    }
    Fire(OnSuccess, this, cmdRename);
}

void TQVFTP::Mode(int kind) {
    switch (kind) {
    case 1: DoCommand("TYPE A"); break;
    case 2: DoCommand("TYPE I"); break;
    case 3: DoCommand("TYPE L 8"); break;
    default: break;
    }
}

std::string TQVFTP::GetCurrentDir() {
    DoCommand("PWD");
    return NthWord(LastReply, '"', 2);
}

// ===========================================================================
// Data connections

bool TQVFTP::OpenDataConnection(TCmdType kind, TRefusal refusal) {
    Canceled = false;
    serverAbort_ = false;
    CertifyConnect();
    if (!Connected) return false;
    CloseDataConnection();
    DataSocket = new TPowersock(this);
    passiveData_ = false;
    try {
        DiscardUnread();
        DataSocket->TimeOut = TimeOut;
        DataSocket->Port = 0;
        DataSocket->OnPacketRecvd = [this](TObject*) { PacketArrived(); };
        DataSocket->OnPacketSent = [this](TObject*) { PacketSent(); };
        if (Passive) {
            ConnectPassive();
            return true;
        }
        DataSocket->Listen(true);
        const std::string port = "PORT " + GetLocalAddress() + DataSocket->GetPortString();
        StatusMessage(1, port);
        std::string reply = Transaction(port);
        if (ReplyNumber > 300 && ReplyNumber < 600) {
            // A handled refusal ends the transfer: no connection would come.
            Refuse(kind, reply, refusal == TRefusal::Raise ? TRefusal::Raise : TRefusal::RuleNoUnsupported, false);
            CloseDataConnection();
            return false;
        }
    } catch (...) {
        CloseDataConnection();
        throw;
    }
    return true;
}

sockaddr_in TQVFTP::ControlPeer() {
    sockaddr_in peer = {};
    int len = sizeof(peer);
    if (getpeername(SocketHandle, reinterpret_cast<sockaddr*>(&peer), &len) != 0) peer = RemoteAddress;
    return peer;
}

void TQVFTP::ConnectPassive() {
    uint16_t port = 0;
    if (!epsvRefused_) {
        StatusMessage(1, "EPSV");
        const std::string reply = Transaction("EPSV");
        if (ReplyNumber == 229) {
            if (!ParseEpsvReply(reply, port)) throw EPassiveError("Malformed passive reply: " + StripLineEnd(reply));
        } else if (ReplyNumber == 500 || ReplyNumber == 502) {
            // Not known to this server: PASV from now on.
            epsvRefused_ = true;
        } else {
            throw EPassiveError(reply);
        }
    }
    if (port == 0) {
        StatusMessage(1, "PASV");
        const std::string reply = Transaction("PASV");
        if (ReplyNumber != 227) throw EPassiveError(reply);
        TPasvReply pasv;
        if (!ParsePasvReply(reply, pasv)) throw EPassiveError("Malformed passive reply: " + StripLineEnd(reply));
        port = pasv.port;
    }
    // The data connection goes where the control connection goes (the proxy
    // when there is one), whatever address a 227 names: a server must not be
    // able to send the client to another host.
    const sockaddr_in peer = ControlPeer();
    const std::string where = std::string(inet_ntoa(peer.sin_addr)) + ":" + std::to_string(port);
    DataSocket->Host = inet_ntoa(peer.sin_addr);
    DataSocket->Port = port;
    DataSocket->TimeOut = ServerWaitLimit();
    StatusMessage(1, "Data connection to " + where);
    // Nothing is read before the transfer's data phase: the server's data
    // waits in the socket (held back by flow control), not in memory.
    DataSocket->HoldReceive(true);
    try {
        DataSocket->Connect();
    } catch (const ESockError& e) {
        if (serverAbort_) throw FTPException(TakeAbortLine());
        if (e.Kind == TSockErrorKind::Cancelled) throw;
        throw EPassiveError("Passive data connection to " + where + " failed: " + e.Message);
    }
    passiveData_ = true;
}

void TQVFTP::TakeDataConnection() {
    if (passiveData_) {
        // Connected before the command went out; from now on it is read.
        DataSocket->HoldReceive(false);
        return;
    }
    // The address the data connection must come from: the control
    // connection's peer. With a proxy the data may come from elsewhere.
    const sockaddr_in peer = ControlPeer();
    Bounded(DataSocket, false, [&] {
        for (;;) {
            TSocketHandle accepted = DataSocket->Accept();
            const in_addr from = DataSocket->RemoteAddress.sin_addr;
            if (Proxy.empty() && from.s_addr != peer.sin_addr.s_addr) {
                StatusMessage(1, std::string("Refused data connection from ") + inet_ntoa(from));
                DataSocket->RefuseAccepted(accepted);
                continue;
            }
            DataSocket->TakeAcceptedSocket(accepted);
            return;
        }
    });
}

void TQVFTP::CloseDataConnection() {
    delete DataSocket;
    DataSocket = nullptr;
    passiveData_ = false;
}

// ===========================================================================
// The transfer skeleton

void TQVFTP::Refuse(TCmdType kind, const std::string& reply, TRefusal how, bool multiLine) {
    switch (how) {
    case TRefusal::Raise: throw FTPException(reply);
    case TRefusal::Rule: FailureRule(kind, reply, true); break;
    case TRefusal::RuleNoUnsupported: FailureRule(kind, reply, false); break;
    case TRefusal::RuleUnsupportedWhenMultiLine: FailureRule(kind, reply, multiLine); break;
    }
}

void TQVFTP::RunTransfer(const TTransfer& t) {
    if (!OpenDataConnection(t.kind, t.setupRefusal)) return;
    TTransferEnd outcome;
    Guarded(outcome, [&] {
        for (const TTransferCommand& c : t.commands) {
            if (!c.shown.empty()) StatusMessage(1, c.shown);
            const std::string reply = SingleTransaction(c.sent);
            const int code = ReplyNumber;
            if (c.onReplyLine) c.onReplyLine(reply, true);
            // The whole reply first, so that the dialogue stays in step
            // whatever its verdict.
            const bool multiLine = ReadExtraLines(reply, [&](const std::string& line) {
                if (c.onReplyLine) c.onReplyLine(line, false);
            });
            if (!InRange(code, c.refusedFrom, 599)) continue;
            Refuse(t.kind, reply, c.refusal, multiLine);
            // Handled: the server sends nothing, so the transfer ends here.
            outcome.refused = true;
            return;
        }

        outcome.closingDue = true;
        if (t.startBeforeData) Fire(OnTransactionStart, this);
        TakeDataConnection();
        if (!t.startBeforeData) Fire(OnTransactionStart, this);
        if (!Canceled && !TimedOut && t.data) Bounded(DataSocket, true, t.data);
        Fire(OnTransactionStop, this);
        // Linger off: the close lets the queued data go out instead of
        // resetting the connection under it.
        if (t.lingerOff) DataSocket->SetLinger(false);
        DataSocket->RequestCloseSocket();
        if (t.countReceived) {
            BytesTotal = DataSocket->BytesRcvd;
            StatusMessage(1, "Received " + std::to_string(BytesTotal) + " Bytes");
        }
        const std::string closing = ReadClosingReply(outcome);
        const std::string abortLine = serverAbort_ ? TakeAbortLine() : std::string();
        if (t.verdict) outcome.failureText = t.verdict(closing, abortLine);
        else if (!abortLine.empty()) outcome.failureText = abortLine;
    });
    outcome.onFailed = t.onFailed;
    EndTransfer(outcome, t.kind);
}

void TQVFTP::TakeTransferFailure(TTransferEnd& outcome, bool cancel) {
    outcome.cancelled = cancel;
    // A 421/426 from the server ended a wait: that line is the verdict.
    if (cancel && serverAbort_) outcome.failureText = TakeAbortLine();
    else outcome.failure = std::current_exception();
}

void TQVFTP::Guarded(TTransferEnd& outcome, const std::function<void()>& body) {
    try {
        body();
    } catch (const EAbortError&) {
        TakeTransferFailure(outcome, true);
    } catch (...) {
        TakeTransferFailure(outcome, false);
    }
}

void TQVFTP::EndTransfer(TTransferEnd& outcome, TCmdType kind) {
    CloseDataConnection();
    if (outcome.refused) return;  // handled: nothing more happens
    // The cancel is known by the outcome's kind; the control connection's
    // flag also tells of an Abort that ended only the data connection's wait.
    const bool cancelled = outcome.cancelled || Canceled;
    if (outcome.failure && outcome.closingDue && Connected && !cancelled && !serverAbort_) {
        // The transfer failed on this side (a local file error, say): the
        // server answers the closed data connection, and that reply must not
        // be taken for the answer to the next command.
        try {
            const std::string late = ReadReplyLine();
            StatusMessage(1, late);
            ReadExtraLines(late);
        } catch (...) {
            // Not answered in time: the connection has been closed.
        }
    }
    if (cancelled || serverAbort_) {
        try {
            Flush();
        } catch (...) {
            // Late lines are of no interest any more.
        }
    }
    serverAbort_ = false;
    if (outcome.failure || !outcome.failureText.empty()) {
        if (outcome.onFailed) outcome.onFailed();
        if (outcome.failure) std::rethrow_exception(outcome.failure);
        StatusMessage(1, outcome.failureText);
        throw FTPException(outcome.failureText);
    }
    Fire(OnSuccess, this, kind);
}

std::string TQVFTP::ReadClosingReply(TTransferEnd& outcome) {
    if (Canceled || TimedOut) {
        StatusMessage(1, LastReply);
        return std::string();
    }
    const std::string line = ReadReplyLine();
    outcome.closingDue = false;
    StatusMessage(1, line);
    ReadExtraLines(line);
    // The server's last word on the transfer: 4xx and 5xx say it failed.
    if (LeadingReplyNumber(line) >= 400) outcome.failureText = line;
    return line;
}

// ===========================================================================
// Downloads

void TQVFTP::Download(const std::string& remote, const std::string& local) { Retrieve(remote, local, false); }

void TQVFTP::DownloadRestore(const std::string& remote, const std::string& local) {
    Retrieve(remote, local.empty() ? remote : local, true);
}

void TQVFTP::Retrieve(const std::string& remote, const std::string& local, bool restore) {
    const std::string target = local.empty() ? remote : local;
    int64_t offset = 0;
    if (restore) {
        // The local file must exist; its size is where the server restarts.
        TFileStream existing(target, TFileStream::fmOpenRead);
        offset = existing.Size();
    }
    TDownloadEnd end;
    bool fileTouched = false;

    TTransfer t;
    t.kind = cmdDownload;
    t.setupRefusal = TRefusal::RuleNoUnsupported;
    if (restore)
        t.commands.push_back({"REST RETR " + remote, "REST " + std::to_string(offset), 400,
                              TRefusal::RuleNoUnsupported, nullptr});
    // The size the server announces, from the first line of the reply or,
    // when that has none, from a continuation line.
    t.commands.push_back({restore ? std::string() : "RETR " + remote, "RETR " + remote, restore ? 400 : 301,
                          restore ? TRefusal::RuleNoUnsupported : TRefusal::RuleUnsupportedWhenMultiLine,
                          [&](const std::string& line, bool first) {
                              if (first || BytesTotal == 0) BytesTotal = GetBytesTotal(line);
                              if (first || end.announced < 0) end.announced = AnnouncedSize(line);
                          }});
    t.data = [&] {
        fileTouched = true;
        if (!restore) {
            DataSocket->CaptureFile(target);
        } else {
            TFileStream file(target, TFileStream::fmAppend);
            DataSocket->CaptureStream(file, -1);
        }
    };
    t.countReceived = true;
    t.verdict = [&](const std::string& closing, const std::string& abortLine) {
        end.closingLine = closing;
        end.closingCode = LeadingReplyNumber(closing);
        end.abortLine = abortLine;
        end.received = LocalFileSize(target);
        return DownloadFailure(end);
    };
    // A file that did not arrive whole must not be mistaken for the file; a
    // restart keeps what arrived, which is what a later restart needs.
    if (!restore)
        t.onFailed = [&] {
            if (fileTouched) DeleteFileA(target.c_str());
        };
    BytesTotal = 0;
    RunTransfer(t);
}

// ===========================================================================
// Uploads

namespace {

// The file-name part of a local path.
std::string FileNamePart(const std::string& path) {
    const size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

void TQVFTP::Upload(const std::string& local, const std::string& remote) { Store(local, remote, TStore::Stor, 0); }

void TQVFTP::UploadUnique(const std::string& local) { Store(local, std::string(), TStore::Unique, 0); }

void TQVFTP::UploadAppend(const std::string& local, const std::string& remote) {
    Store(local, remote, TStore::Append, 0);
}

void TQVFTP::UploadRestore(const std::string& local, const std::string& remote, int32_t offset) {
    Store(local, remote, TStore::Restore, offset);
}

void TQVFTP::PacketSent() {
    RestartIdleClock();
    Fire(OnPacketSent, DataSocket);
}

void TQVFTP::Store(const std::string& local, const std::string& remote, TStore how, int64_t offset) {
    // The local file before anything is sent: a missing file raises the
    // file error, and a file the send could not finish is not started.
    int64_t size = 0;
    {
        TFileStream file(local, TFileStream::fmOpenRead);
        size = file.Size();
    }
    if (size > INT32_MAX) throw ESockError("File too large to send");
    if (offset < 0 || offset > size) throw ESockError("Restart offset beyond the end of the file");

    const std::string name = remote.empty() ? FileNamePart(local) : remote;
    const std::string shown = remote.empty() ? local : remote;
    TTransfer t;
    t.setupRefusal = TRefusal::RuleNoUnsupported;
    switch (how) {
    case TStore::Stor:
        t.kind = cmdUpload;
        t.commands.push_back({"STOR " + shown, "STOR " + name, 301, TRefusal::Rule, nullptr});
        break;
    case TStore::Unique:
        t.kind = cmdUpload;
        t.commands.push_back({"STOU", "STOU", 301, TRefusal::Rule, nullptr});
        break;
    case TStore::Append:
        t.kind = cmdAppend;
        t.setupRefusal = TRefusal::Raise;
        t.commands.push_back({"APPE " + shown, "APPE " + name, 301, TRefusal::Raise, nullptr});
        break;
    case TStore::Restore:
        t.kind = cmdUpRestore;
        t.commands.push_back({"REST " + std::to_string(offset), "REST " + std::to_string(offset), 400,
                              TRefusal::RuleNoUnsupported, nullptr});
        t.commands.push_back({"STOR " + shown, "STOR " + name, 301, TRefusal::RuleNoUnsupported, nullptr});
        break;
    }
    t.data = [&] { DataSocket->SendFile(local, how == TStore::Restore ? offset : 0); };
    t.lingerOff = true;
    BytesTotal = static_cast<int32_t>(size);
    RunTransfer(t);
}

// ===========================================================================
// Listings

void TQVFTP::List() { Listing(true); }

void TQVFTP::Nlist() { Listing(false); }

void TQVFTP::Listing(bool parsed) {
    Canceled = false;
    CertifyConnect();
    if (!Connected) return;
    if (parsed && ParseList && !DirectoryList) {
        if (Vendor == NoVendor) {
            try {
                DoCommand("SYST");
            } catch (const EAbortError&) {
                throw;  // a cancel, not a refused SYST
            } catch (const std::exception&) {
                // Without an answer the listing is read as "any other" kind.
            }
            Vendor = VendorFromSyst(LastReply);
        }
        DirectoryList = NewDirectoryList(Vendor);
    }
    TFTPDirectoryList* parser = parsed && ParseList ? DirectoryList : nullptr;
    if (parser) parser->Clear();

    TTransfer t;
    t.kind = parsed ? cmdList : cmdNList;
    t.setupRefusal = parsed ? TRefusal::RuleNoUnsupported : TRefusal::Raise;
    const std::string command = parsed ? "LIST" : "NLST";
    t.commands.push_back({command, command, 301, parsed ? TRefusal::Rule : TRefusal::Raise,
                          [this](const std::string& line, bool first) {
                              if (first) BytesTotal = GetBytesTotal(line);
                          }});
    t.startBeforeData = parsed;
    t.data = [&] {
        // Counting on: the bytes are counted (those that came before, too)
        // and every packet restarts the idle clock of the wait.
        DataSocket->CountReceived();
        std::string raw;
        while (DataSocket->ReadLnOrRest(raw)) {
            const std::string line = ListingLineText(raw);
            if (parser) parser->ParseLine(line);
            Fire(OnListItem, this, line);
        }
    };
    t.countReceived = true;
    RunTransfer(t);
}
