// TQVFTP: the FTP client. Its own connection (the TPowersock it derives from)
// is the control connection; every transfer runs over a fresh TPowersock as
// its data connection, opened in one of two ways: active (the client listens,
// announces the port with PORT and accepts the server's connection) or, with
// Passive, passive (EPSV, or PASV when the server does not know EPSV, and the
// client connects to the port the server names, at the control connection's
// peer address). Download, upload and listing share one transfer skeleton.
//
// Every wait for the server is bounded: a reply, the server connecting back,
// and a data connection on which nothing arrives each end after 60 seconds
// (or TimeOut, when it is set and shorter) with ESockError "Timed out waiting
// for the server"; the control connection is then closed, since the server's
// idea of the dialogue can no longer be trusted. A passive data connection
// that does not come up within the same bound raises EPassiveError and
// leaves the control connection in step (no transfer command was sent yet).
// A download that did not arrive whole raises FTPException and leaves no
// local file; an upload or a listing whose closing reply says it failed
// raises FTPException too.
#pragma once
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "FtpList.h"
#include "FtpReply.h"
#include "Psock.h"

// A command the server refused: the message is the server's reply line.
class FTPException : public Exception {
public:
    using Exception::Exception;
};

// A passive data connection could not be set up: the server refused EPSV and
// PASV, answered them with a reply that names no port, or the port it named
// could not be reached. Nothing of the transfer itself was sent, so the same
// login can go on (in active mode, say).
class EPassiveError : public FTPException {
public:
    using FTPException::FTPException;
};

using TSuccessEvent = std::function<void(TObject* Sender, TCmdType Trans_Type)>;
using TFailureEvent = std::function<void(TObject* Sender, bool& Handled, TCmdType Trans_Type)>;
using TQVListItem = std::function<void(TObject* Sender, const std::string& Listing)>;
using TUnsupportedEvent = std::function<void(TObject* Sender, TCmdType Trans_Type)>;

class TQVFTP : public TPowersock {
public:
    explicit TQVFTP(TComponent* owner);
    ~TQVFTP() override;

    std::string UserID;
    std::string Password;
    TPowersock* DataSocket = nullptr;  // the data connection of a running transfer
    TNotifyEvent OnTransactionStart, OnTransactionStop;
    TSuccessEvent OnSuccess;
    TFailureEvent OnFailure;
    THandlerEvent OnAuthenticationNeeded;
    THandlerEvent OnAuthenticationFailed;  // never fired
    TQVListItem OnListItem;
    // Fired after a successful login (the connection's own OnConnect fires
    // when the TCP connection is up).
    TNotifyEvent OnConnect;
    TUnsupportedEvent OnUnSupportedFunction;
    int32_t Vendor = NoVendor;
    TFTPDirectoryList* DirectoryList = nullptr;
    bool ParseList = false;
    // Data connections in passive mode (see above); off: active mode.
    bool Passive = false;

    // Connects and logs in: greeting (multi-line), USER (with "@Host" when a
    // proxy is used), PASS when asked for. Any failure after the connection
    // came up disconnects before it passes on.
    void Connect() override;
    // QUIT and close; does nothing when not connected.
    void Disconnect() override;
    // One command and its whole reply; returns the reply's first line.
    std::string Transaction(const std::string& command) override;
    // Cancels the data connection, then the control connection.
    void Abort() override;

    // Reads the continuation lines of a reply whose first line is given;
    // each is reported and handed to onLine. True when there were any.
    bool ReadExtraLines(const std::string& line, const std::function<void(const std::string&)>& onLine = nullptr);

    // Sends any command; a 4xx/5xx reply goes through the failure handling,
    // anything else fires OnSuccess.
    void DoCommand(const std::string& command);
    void ChangeDir(const std::string& directory) { DoCommand("CWD " + directory); }
    void Delete(const std::string& file) { DoCommand("DELE " + file); }
    void MakeDirectory(const std::string& directory) { DoCommand("MKD " + directory); }
    void RemoveDir(const std::string& directory) { DoCommand("RMD " + directory); }
    void Rename(const std::string& from, const std::string& to);
    // 1: TYPE A, 2: TYPE I, 3: TYPE L 8; other values do nothing.
    void Mode(int kind);
    // PWD; the quoted path of the reply (empty when it has none).
    std::string GetCurrentDir();
    void Reinitialize() { DoCommand("REIN"); }
    void Allocate(int32_t count) { DoCommand("ALLO " + std::to_string(count)); }

    // Installed as the connection's after-read hook: a 421 or 426 reply
    // cancels whatever waits.
    void CheckRead(TObject* Sender);
    // Swallows late control-connection data after an abort (about a second).
    void Flush();

    // Retrieves remote into local (the remote name when local is empty).
    void Download(const std::string& remote, const std::string& local);
    // Retrieves the rest of remote, restarting at the size of the existing
    // local file and appending to it.
    void DownloadRestore(const std::string& remote, const std::string& local);

    // Stores local as remote (the local file's name when remote is empty).
    void Upload(const std::string& local, const std::string& remote);
    // Stores local under a name the server chooses (STOU).
    void UploadUnique(const std::string& local);
    // Appends local to remote (APPE).
    void UploadAppend(const std::string& local, const std::string& remote);
    // Restarts an upload: the server is asked to continue remote at offset,
    // and local is sent from offset on.
    void UploadRestore(const std::string& local, const std::string& remote, int32_t offset);
    // LIST: every line to OnListItem and, with ParseList, into DirectoryList
    // (its parser chosen by Vendor, asked for with SYST when not known).
    void List();
    // NLST: every line to OnListItem.
    void Nlist();

    int32_t GetBytesRcvd() const { return DataSocket ? DataSocket->BytesRcvd : 0; }
    int32_t GetBytesSent() const { return DataSocket ? DataSocket->BytesSent : 0; }
    // The size a reply announces (the first "BYTE" and the digits before it).
    int32_t GetBytesTotal(const std::string& reply) const { return ReplyBytesTotal(reply); }

    // The bound of every wait for the server, in milliseconds.
    int32_t ServerWaitLimit() const;

protected:
    // The failure handling of a refused command: OnUnSupportedFunction for
    // 500..502 when consultUnsupported, then OnFailure, and FTPException with
    // the reply unless a handler set Handled. Returns when handled.
    void FailureRule(TCmdType kind, const std::string& reply, bool consultUnsupported = true);

    // How a refused transfer command (or PORT) is handled.
    enum class TRefusal {
        Rule,                         // FailureRule, OnUnSupportedFunction for 500..502
        RuleNoUnsupported,            // FailureRule without OnUnSupportedFunction
        RuleUnsupportedWhenMultiLine, // OnUnSupportedFunction only after continuation lines (RETR)
        Raise,                        // FTPException with the reply at once, no events
    };
    // Applies the refusal; returns when a handler set Handled.
    void Refuse(TCmdType kind, const std::string& reply, TRefusal how, bool multiLine);

    // First half of every transfer: a fresh DataSocket, then either (active)
    // listening on a free port and PORT with the control connection's local
    // address, or (Passive) EPSV/PASV and the connection to the named port.
    // False when not connected or a refused PORT was handled (nothing more
    // to do). A refused PORT goes through refusal (a rule never consults
    // OnUnSupportedFunction here); a failed passive set-up raises EPassiveError.
    bool OpenDataConnection(TCmdType kind, TRefusal refusal);
    // Passive: EPSV (PASV when EPSV is unknown to the server), then the
    // bounded connect to the control connection's peer at the named port.
    void ConnectPassive();
    // After the transfer command: active, waits (bounded) for the server's
    // data connection, from the control connection's peer only (when no proxy
    // is used), and the accepted socket becomes DataSocket's; passive, the
    // connection is there already.
    void TakeDataConnection();
    // Destroys DataSocket.
    void CloseDataConnection();
    // The address of the control connection's peer (the proxy when one is used).
    sockaddr_in ControlPeer();

    // Runs fn (a wait for the server on conn) under the wait bound, a
    // deadline of conn's waits. When the bound ends it, the control
    // connection is closed and ESockError "Timed out waiting for the server"
    // (kind TimedOut) raised. With idleOnly the clock restarts at every packet
    // that moves on conn; without, a wait on the data connection also ends
    // when the control connection goes.
    void Bounded(TPowersock* conn, bool idleOnly, const std::function<void()>& fn);
    // One line of the server's reply, bounded.
    std::string ReadReplyLine();
    // The base single-line Transaction, bounded.
    std::string SingleTransaction(const std::string& command);

private:
    // What a transfer's end has to know.
    struct TTransferEnd {
        std::exception_ptr failure;   // the exception that ended it
        std::string failureText;      // or the server's (or our) verdict
        bool closingDue = false;      // the server still owes the closing reply
        bool refused = false;         // a refusal that a handler let pass: the transfer just ends
        bool cancelled = false;       // ended by a cancel (EAbortError): late lines are swallowed
        std::function<void()> onFailed;  // clean-up of a failed transfer
    };
    // Runs a transfer's steps; the exception that ends them is kept in
    // outcome: a 421/426 that ended a wait becomes the verdict, anything else
    // the failure. (The steps run in a frame of their own: in the x86_64
    // build under Wine, the handler of the large transfer functions was
    // entered with a register of their frame lost.)
    void Guarded(TTransferEnd& outcome, const std::function<void()>& body);
    void TakeTransferFailure(TTransferEnd& outcome, bool cancel);
    // Every transfer ends here, also after a failure: the data connection
    // goes, a closing reply still owed is read, late lines after a cancel are
    // swallowed; then the failure passes on or OnSuccess(kind) fires.
    void EndTransfer(TTransferEnd& outcome, TCmdType kind);
    // The closing reply after the data phase (skipped after a cancel); a
    // 4xx/5xx becomes the verdict.
    std::string ReadClosingReply(TTransferEnd& outcome);

    // One command of a transfer, sent after the data connection is set up.
    struct TTransferCommand {
        std::string shown;  // reported at level 1 before sending ("" reports nothing)
        std::string sent;
        int refusedFrom;    // reply codes refusedFrom..599 refuse the command
        TRefusal refusal;
        // Sees the reply's first line (first = true), then each continuation line.
        std::function<void(const std::string& line, bool first)> onReplyLine;
    };
    // What tells one transfer from another; RunTransfer does the rest: the
    // data connection, the commands and their refusals, the data phase
    // (bounded, restarted by every packet; skipped after a cancel), the
    // close, the closing reply and the outcome.
    struct TTransfer {
        TCmdType kind = cmdDoCommand;  // of the outcome events
        TRefusal setupRefusal = TRefusal::RuleNoUnsupported;  // of a refused PORT
        std::vector<TTransferCommand> commands;
        bool startBeforeData = false;  // OnTransactionStart before the data connection is taken
        std::function<void()> data;    // the data phase, on DataSocket
        bool lingerOff = false;        // the close lets queued data go out (uploads)
        bool countReceived = false;    // BytesTotal := bytes received, reported
        // The verdict from the closing reply and a 421/426 line (either may be
        // empty): empty when the transfer succeeded. Without one, a 421/426 or
        // a 4xx/5xx closing reply fails the transfer.
        std::function<std::string(const std::string& closing, const std::string& abortLine)> verdict;
        std::function<void()> onFailed;  // clean-up of a failed transfer
    };
    void RunTransfer(const TTransfer& t);

    enum class TStore { Stor, Unique, Append, Restore };
    void Store(const std::string& local, const std::string& remote, TStore how, int64_t offset);
    void Listing(bool parsed);
    void PacketSent();
    void Retrieve(const std::string& remote, const std::string& local, bool restore);
    // The line of a 421/426 that CheckRead saw (reads it from the buffer).
    std::string TakeAbortLine();
    void DiscardUnread();
    // A packet moved on the data connection: an idle-only wait starts its
    // clock again.
    void RestartIdleClock();
    void PacketArrived();

    TDeadline* waitDeadline_ = nullptr;  // of the running bounded wait
    TPowersock* waitTarget_ = nullptr;
    bool waitIdleOnly_ = false;
    bool serverAbort_ = false;  // CheckRead saw 421/426
    bool passiveData_ = false;  // DataSocket was connected in passive mode
    bool epsvRefused_ = false;  // this login's server does not know EPSV
};
