// The FTP client against the scripted server: what a real server will not do
// on request (multi-line and split replies, 421/426, short transfers, never
// connecting back, stalls, foreign data connections, over-long replies).
// Each test loads a reply table, runs the client, and reads back the
// commands the server received.
#include <gtest/gtest.h>

#include <memory>
#include <typeinfo>

#include "FtpTestSupport.h"
#include "Qvftp.h"
#include "Wait.h"

using namespace ftptest;

namespace {

// A RETR that sends n bytes of the pattern and ends well.
std::string GoodRetr(int n) {
    return R"(["150 Opening BINARY mode data connection for f.bin ()" + std::to_string(n) +
           R"( bytes).", {"connect": {}}, {"data": {"size": )" + std::to_string(n) +
           R"(}}, {"data_close": true}, "226 Transfer complete."])";
}

struct Scripted : ::testing::Test {
    void SetUp() override {
        ftp = std::make_unique<TQVFTP>(nullptr);
        ftp->Host = kScriptedAddr;
        ftp->Port = kScriptedPort;
        ftp->UserID = "anonymous";
        ftp->Password = "norv@norv.com";
    }
    // Loads the scenario (replies: a JSON object of the reply table; more: other keys).
    void Script(const std::string& replies, const std::string& more = "") {
        std::string json = "{\"replies\": " + replies + (more.empty() ? "" : ", " + more) + "}";
        ASSERT_TRUE(LoadScenario(json)) << json;
    }
    // Ends the client's session (as the client's destructor would) and
    // returns what the server received. The client itself lives on until the
    // test ends, so a Recorder on it can still take its handlers off.
    std::vector<std::string> Finish() {
        ftp->Cancel();
        try {
            ftp->Disconnect();
        } catch (...) {
            // A refused or unanswered QUIT: the connection is closed anyway.
        }
        EXPECT_TRUE(WaitIdle(10));
        return ServerLog();
    }
    std::unique_ptr<TQVFTP> ftp;
};

TEST_F(Scripted, MultiLineGreetingSplitAcrossPacketsIsReadWholeBeforeUser) {
    Script(R"({"USER": "230 Welcome, no password needed."})",
           R"("greeting": [{"send": "220-Welcome to"}, {"sleep": 0.2}, {"send": " the mirror\r\n   of NORV\r\n220"},
                           {"sleep": 0.2}, {"send": " ready\r\n"}])");
    Recorder rec(*ftp);
    ftp->Connect();
    EXPECT_TRUE(ftp->Connected);
    // USER was answered by its own reply, not by a greeting line.
    EXPECT_EQ(ftp->LastReply, "230 Welcome, no password needed.\r\n");
    EXPECT_EQ(ftp->ReplyNumber, 230);
    EXPECT_TRUE(rec.Saw("   of NORV"));
    EXPECT_TRUE(rec.Saw("220 ready"));
    auto log = Finish();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "USER anonymous");
    // 230 after USER: no PASS.
    EXPECT_FALSE(Logged(log, "PASS norv@norv.com"));
    EXPECT_TRUE(Logged(log, "QUIT"));
}

TEST_F(Scripted, RefusedLoginClosesTheConnection) {
    Script(R"({"PASS": "530 Login incorrect."})");
    bool failedEvent = false, loggedIn = false;
    ftp->OnConnectionFailed = [&](TObject*) { failedEvent = true; };
    ftp->OnConnect = [&](TObject*) { loggedIn = true; };
    bool isFtp = false;
    EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->Connect(); }, &isFtp), "530 Login incorrect.\r\n");
    EXPECT_TRUE(isFtp);
    EXPECT_FALSE(ftp->Connected);
    EXPECT_TRUE(failedEvent);
    EXPECT_FALSE(loggedIn);
    auto log = Finish();
    EXPECT_TRUE(Logged(log, "PASS norv@norv.com"));
    EXPECT_TRUE(Logged(log, "QUIT"));
}

TEST_F(Scripted, ProxyGetsTheRealHostInTheUserName) {
    Script("{}");
    ftp->Host = "ftp.norv.test";  // never looked up: the proxy is
    ftp->Port = 21;
    ftp->Proxy = kScriptedAddr;
    ftp->ProxyPort = kScriptedPort;
    ftp->Connect();
    EXPECT_TRUE(ftp->Connected);
    auto log = Finish();
    EXPECT_TRUE(Logged(log, "USER anonymous@ftp.norv.test"));
}

TEST_F(Scripted, A421WhileACommandWaitsEndsIt) {
    Script(R"({"CWD": [{"sleep": 0.2}, "421 Service not available, closing control connection.", {"close": true}]})");
    ftp->Connect();
    bool isAbort = false;
    EXPECT_EQ(RaisedAs<EAbortError>([&] { ftp->ChangeDir("pub"); }, &isAbort), std::string(SockText::ReadLnAborted));
    EXPECT_TRUE(isAbort);
    // The server has gone: the client notices and a new command says so.
    for (int i = 0; i < 500 && ftp->Connected; ++i) WaitPass();
    EXPECT_FALSE(ftp->Connected);
    EXPECT_EQ(RaisedAs<Exception>([&] { ftp->ChangeDir("pub"); }), std::string(SockText::NotConnected));
}

TEST_F(Scripted, CommandsRepliesAndOutcomeEvents) {
    Script(R"({"PWD": "257 no quotes here", "PWD#2": "257-first\n 257 \"/in/side\" is here\n257 end",
               "SITE": "502 SITE not implemented.", "RNFR": "350 Ready.", "RNTO": "553 Not allowed.",
               "ALLO": "202 Not needed."})");
    Recorder rec(*ftp);
    ftp->Connect();
    EXPECT_EQ(ftp->GetCurrentDir(), "");
    // A multi-line reply: the first line is the reply, the rest is read and
    // reported, and the next command gets its own reply.
    EXPECT_EQ(ftp->GetCurrentDir(), "");
    EXPECT_TRUE(rec.Saw("257 end"));
    ftp->Mode(2);
    ftp->Mode(7);  // nothing
    ftp->Allocate(1000);
    EXPECT_EQ(ftp->LastReply, "202 Not needed.\r\n");

    // 502: OnUnSupportedFunction, then OnFailure; handled, nothing raised.
    rec.handleFailures = true;
    ftp->DoCommand("SITE CHMOD 644 x");
    EXPECT_EQ(rec.unsupported, std::vector<TCmdType>{cmdDoCommand});
    EXPECT_EQ(rec.failures, std::vector<TCmdType>{cmdDoCommand});
    rec.handleFailures = false;
    EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->Rename("a", "b"); }), "553 Not allowed.\r\n");
    EXPECT_EQ(rec.failures.back(), cmdRename);
    auto log = Finish();
    for (const char* cmd : {"TYPE I", "ALLO 1000", "SITE CHMOD 644 x", "RNFR a", "RNTO b"})
        EXPECT_TRUE(Logged(log, cmd)) << cmd;
    EXPECT_FALSE(Logged(log, "TYPE A"));
}

TEST_F(Scripted, DownloadSendsPortWithTheControlConnectionsAddress) {
    Script(R"({"RETR": )" + GoodRetr(100000) + "}");
    Recorder rec(*ftp);
    ftp->Connect();
    const std::string local = TempFile("good.bin");
    ftp->Download("f.bin", local);
    EXPECT_EQ(ReadFile(local), Pattern(0, 100000));
    EXPECT_EQ(ftp->BytesTotal, 100000);
    EXPECT_GT(rec.packets, 0);
    EXPECT_EQ(rec.successes.back(), cmdDownload);
    auto log = Finish();
    auto connect = LoggedStarting(log, "CONNECT ");
    auto port = LoggedStarting(log, "PORT ");
    ASSERT_EQ(connect.size(), 1u);
    ASSERT_EQ(port.size(), 1u);
    // The client's address as the server saw it, in the PORT form.
    std::string addr = connect[0].substr(8);
    for (char& c : addr)
        if (c == '.') c = ',';
    EXPECT_EQ(port[0].substr(5, addr.size() + 1), addr + ",");
    DeleteFileA(local.c_str());
}

TEST_F(Scripted, TransfersThatDoNotArriveWholeFailAndLeaveNoFile) {
    struct Case {
        const char* name;
        std::string retr;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"426 after 150",
         R"(["150 Opening BINARY mode data connection for f.bin (1000 bytes).", {"connect": {}}, {"data": {"size": 400}},
             {"sleep": 0.3}, "426 Connection closed; transfer aborted.", {"sleep": 0.3}, {"data_close": true}])",
         "426 Connection closed; transfer aborted.\r\n"},
        {"426 as the closing reply",
         R"(["150 Opening BINARY mode data connection for f.bin (1000 bytes).", {"connect": {}}, {"data": {"size": 1000}},
             {"data_close": true}, {"sleep": 0.2}, "426 Failure writing network stream."])",
         "426 Failure writing network stream.\r\n"},
        {"short transfer",
         R"(["150 Opening BINARY mode data connection for bytes.bin (1000 bytes).", {"connect": {}},
             {"data": {"size": 400}}, {"data_close": true}, "226 Transfer complete."])",
         "Transfer incomplete: 400 of 1000 bytes received"},
        {"closing reply 451",
         R"(["150 Opening data connection.", {"connect": {}}, {"data": {"size": 400}}, {"data_close": true},
             "451 Local error in processing."])",
         "451 Local error in processing.\r\n"},
        {"421 mid-transfer",
         R"(["150 Opening BINARY mode data connection for f.bin (1000 bytes).", {"connect": {}}, {"data": {"size": 100}},
             {"sleep": 0.3}, "421 Timeout.", {"close": true}])",
         "421 Timeout.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script(R"({"RETR": )" + c.retr + "}");
        ftp->Connect();
        const std::string local = TempFile("partial.bin");
        bool isFtp = false;
        EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->Download("f.bin", local); }, &isFtp), c.expected);
        EXPECT_TRUE(isFtp);
        EXPECT_FALSE(FileExists(local));
        EXPECT_EQ(ftp->DataSocket, nullptr);
        Finish();
        SetUp();
    }
}

TEST_F(Scripted, AfterA426TheConnectionGoesOn) {
    Script(R"({"RETR": ["150 Opening BINARY mode data connection for f.bin (1000 bytes).", {"connect": {}},
                        {"data": {"size": 10}}, {"sleep": 0.2}, "426 Transfer aborted.", {"data_close": true}],
               "RETR#2": )" + GoodRetr(5000) + "}");
    ftp->Connect();
    const std::string local = TempFile("again.bin");
    EXPECT_NE(RaisedAs<FTPException>([&] { ftp->Download("f.bin", local); }), "");
    EXPECT_TRUE(ftp->Connected);
    ftp->Download("f.bin", local);
    EXPECT_EQ(ReadFile(local), Pattern(0, 5000));
    DeleteFileA(local.c_str());
}

TEST_F(Scripted, WaitsForTheServerAreBounded) {
    struct Case {
        const char* name;
        std::string replies;
        bool download;
    };
    const std::vector<Case> cases = {
        {"reply never comes", R"({"CWD": [{"hang": true}]})", false},
        {"never connects back", R"({"RETR": ["150 Opening BINARY mode data connection for f.bin (10 bytes).", {"hang": true}]})", true},
        {"stalls mid-transfer",
         R"({"RETR": ["150 Opening BINARY mode data connection for f.bin (100000 bytes).", {"connect": {}},
                      {"data": {"size": 30000}}, {"data_stall": true}]})",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script(c.replies);
        ftp->TimeOut = 1500;
        EXPECT_EQ(ftp->ServerWaitLimit(), 1500);
        ftp->Connect();
        const std::string local = TempFile("stalled.bin");
        const uint32_t start = Now();
        bool isSock = false;
        std::string text = RaisedAs<ESockError>(
            [&] {
                if (c.download) ftp->Download("f.bin", local);
                else ftp->ChangeDir("pub");
            },
            &isSock);
        const uint32_t took = Now() - start;
        EXPECT_EQ(text, std::string(SockText::ServerTimedOut));
        EXPECT_TRUE(isSock);
        EXPECT_GE(took, 1400u);
        EXPECT_LT(took, 4000u);
        // Closed cleanly: nothing half-done is left to confuse the next command.
        EXPECT_FALSE(ftp->Connected);
        EXPECT_FALSE(FileExists(local));
        EXPECT_EQ(ftp->DataSocket, nullptr);
        auto log = Finish();
        EXPECT_TRUE(Logged(log, "CLOSED-BY-CLIENT"));
        SetUp();
    }
    // Without TimeOut the bound is a minute; a longer TimeOut does not lengthen it.
    EXPECT_EQ(ftp->ServerWaitLimit(), 60000);
    ftp->TimeOut = 120000;
    EXPECT_EQ(ftp->ServerWaitLimit(), 60000);
}

TEST_F(Scripted, ServerThatGoesWhileTheClientWaitsForTheDataConnection) {
    Script(R"({"RETR": ["150 Opening BINARY mode data connection for f.bin (10 bytes).", {"close": true}]})");
    ftp->Connect();  // no TimeOut: only the control connection's end can stop the wait early
    const std::string local = TempFile("gone.bin");
    const uint32_t start = Now();
    EXPECT_EQ(RaisedAs<ESockError>([&] { ftp->Download("f.bin", local); }), std::string(SockText::PeerClosed));
    EXPECT_LT(Now() - start, 5000u);
    EXPECT_FALSE(FileExists(local));
}

TEST_F(Scripted, DataConnectionFromAnotherAddressIsRefused) {
    Script(R"({"RETR": ["150 Opening BINARY mode data connection for f.bin (2000 bytes).",
                        {"connect": {"from": ")" + std::string(kOtherAddr) + R"("}}, {"data": {"text": "forged content"}},
                        {"wait_data_closed": 5}, {"connect": {}}, {"data": {"size": 2000}}, {"data_close": true},
                        "226 Transfer complete."]})");
    Recorder rec(*ftp);
    ftp->Connect();
    const std::string local = TempFile("right.bin");
    ftp->Download("f.bin", local);
    EXPECT_EQ(ReadFile(local), Pattern(0, 2000));
    EXPECT_TRUE(rec.Saw(std::string("Refused data connection from ") + kOtherAddr));
    auto log = Finish();
    EXPECT_TRUE(Logged(log, std::string("DATA-CONNECT ") + kOtherAddr));
    EXPECT_TRUE(Logged(log, "DATA-CLOSED-BY-CLIENT"));
    EXPECT_TRUE(Logged(log, std::string("DATA-CONNECT ") + kScriptedAddr));
    DeleteFileA(local.c_str());
}

TEST_F(Scripted, OverLongAndEndlessRepliesEndInAnError) {
    Script("{}", R"("greeting": [{"long": 200000}])");
    EXPECT_EQ(RaisedAs<ESockError>([&] { ftp->Connect(); }), std::string(SockText::LineTooLong));
    EXPECT_FALSE(ftp->Connected);
    Finish();
    SetUp();

    std::string endless = R"(["220-)" + std::string(10, 'x') + R"(")";
    for (int i = 0; i < 5000; ++i) endless += R"(, "220-again")";
    endless += R"(, "220 end"])";
    Script("{}", R"("greeting": )" + endless);
    EXPECT_EQ(RaisedAs<ESockError>([&] { ftp->Connect(); }), "Reply too long");
    EXPECT_FALSE(ftp->Connected);
}

TEST_F(Scripted, ServerClosingEarlyFailsTheDownload) {
    Script(R"({"RETR": [{"close": true}]})");
    ftp->Connect();
    const std::string local = TempFile("early.bin");
    EXPECT_EQ(RaisedAs<ESockError>([&] { ftp->Download("f.bin", local); }), std::string(SockText::PeerClosed));
    EXPECT_FALSE(FileExists(local));
}

TEST_F(Scripted, AbortDuringTheCaptureRemovesThePartialFile) {
    Script(R"({"RETR": ["150 Opening BINARY mode data connection for f.bin (100000 bytes).", {"connect": {}},
                        {"data": {"size": 20000}}, {"data_stall": true}, "426 Aborted."],
               "PWD#1": "257 \"/\" after abort"})");
    ftp->Connect();
    ftp->OnPacketRecvd = [&](TObject*) { ftp->Abort(); };
    const std::string local = TempFile("aborted.bin");
    bool isAbort = false;
    EXPECT_EQ(RaisedAs<EAbortError>([&] { ftp->Download("f.bin", local); }, &isAbort), std::string(SockText::SendAborted));
    EXPECT_TRUE(isAbort);
    EXPECT_FALSE(FileExists(local));
    EXPECT_EQ(ftp->DataSocket, nullptr);
    EXPECT_TRUE(ftp->Connected);
    ftp->OnPacketRecvd = nullptr;
    EXPECT_EQ(ftp->GetCurrentDir(), "/");
}

TEST_F(Scripted, CancelWhileWaitingForTheDataConnectionIsACancel) {
    // The server answers RETR and never connects back; it goes on reading
    // commands after a while.
    Script(R"({"RETR": ["150 Opening BINARY mode data connection for f.bin (10 bytes).", {"sleep": 1.5}],
               "PWD#1": "257 \"/\" after the cancel"})");
    ftp->Connect();
    TThreadTimer user(nullptr);  // the user's Cancel, while the client waits for the connection
    user.SetInterval(400);
    user.SetOnTimer([&](TObject*) {
        user.SetEnabled(false);
        ftp->Abort();
    });
    const std::string local = TempFile("never.bin");
    bool isAbort = false;
    RaisedAs<EAbortError>([&] { ftp->Download("f.bin", local); }, &isAbort);
    EXPECT_TRUE(isAbort) << "the FTP client's cancel path, not a failed data connection";
    EXPECT_EQ(ftp->DataSocket, nullptr);
    EXPECT_FALSE(FileExists(local));
    EXPECT_TRUE(ftp->Connected);
    EXPECT_EQ(ftp->GetCurrentDir(), "/") << "the next command works";
}

TEST_F(Scripted, DownloadRestoreAppendsFromTheLocalSize) {
    Script(R"({"RETR": ["150 Opening BINARY mode data connection for f.bin (1000 bytes).", {"connect": {}},
                        {"data": {"size": 700, "offset": 300}}, {"data_close": true}, "226 Transfer complete."],
               "REST#2": "502 REST not implemented."})");
    Recorder rec(*ftp);
    ftp->Connect();
    const std::string local = TempFile("restore.bin");
    // The local file must exist.
    EXPECT_NE(RaisedAs<EFOpenError>([&] { ftp->DownloadRestore("f.bin", local); }), "");
    WriteFile(local, Pattern(0, 300));
    ftp->DownloadRestore("f.bin", local);
    EXPECT_EQ(ReadFile(local), Pattern(0, 1000));
    EXPECT_TRUE(rec.Saw("REST RETR f.bin"));
    EXPECT_EQ(rec.successes.back(), cmdDownload);
    // A server without restarts: the failure, and the file is left as it was.
    EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->DownloadRestore("f.bin", local); }), "502 REST not implemented.\r\n");
    EXPECT_EQ(ReadFile(local).size(), 1000u);
    auto log = Finish();
    EXPECT_TRUE(Logged(log, "REST 300"));
    EXPECT_TRUE(Logged(log, "RETR f.bin"));
    EXPECT_TRUE(Logged(log, "REST 1000"));
    DeleteFileA(local.c_str());
}

TEST_F(Scripted, RefusedPortEndsTheTransfer) {
    Script(R"({"PORT": "500 Illegal PORT command."})");
    Recorder rec(*ftp);
    ftp->OnFailure = nullptr;
    ftp->Connect();
    const std::string local = TempFile("port.bin");
    EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->Download("f.bin", local); }), "500 Illegal PORT command.\r\n");
    // PORT does not consult OnUnSupportedFunction.
    EXPECT_TRUE(rec.unsupported.empty());
    EXPECT_FALSE(FileExists(local));
    auto log = Finish();
    EXPECT_FALSE(Logged(log, "RETR f.bin"));
}

TEST_F(Scripted, PlainTextContinuationLinesKeepTheDialogueInStep) {
    // Lines that are neither indented nor "ddd-" still belong to the reply
    // until its own code and a space come.
    Script(R"({"CWD": "250-Directory changed.\nWelcome to the BIOS area.\n226 is not our code\n250 Done.",
               "PWD": "257 \"/bios\" is the current directory"})",
           R"("greeting": "220-NORV mirror\nPlease be gentle.\n220 Ready.")");
    Recorder rec(*ftp);
    ftp->Connect();
    EXPECT_EQ(ftp->ReplyNumber, 230);
    ftp->ChangeDir("bios");
    EXPECT_EQ(ftp->LastReply, "250-Directory changed.\r\n");
    EXPECT_EQ(ftp->GetCurrentDir(), "/bios");
    EXPECT_TRUE(rec.Saw("Please be gentle."));
    EXPECT_TRUE(rec.Saw("250 Done."));
    Finish();
}

// ---------------------------------------------------------------------------
// Passive mode

// An EPSV or PASV reply on a fresh passive port of the scripted server.
std::string PassiveReply(const std::string& text, const std::string& more = "") {
    return R"([{"passive": {"reply": ")" + text + "\"" + more + "}}]";
}
const char kEpsvOk[] = "229 Entering Extended Passive Mode (|||{port}|)";

TEST_F(Scripted, PassiveConnectsToTheControlPeerWhateverThe227Names) {
    const struct {
        const char* name;
        std::string replies;
        std::vector<std::string> setUp;  // the set-up commands of each transfer, in order
    } cases[] = {
        {"EPSV", R"({"EPSV": )" + PassiveReply(kEpsvOk) + "}", {"EPSV", "EPSV"}},
        // EPSV unknown: PASV, and from then on PASV only. The 227 names
        // another address, where nothing listens.
        {"PASV naming another host",
         R"({"EPSV": "500 'EPSV': command not understood.", "PASV": )" +
             PassiveReply("227 Entering Passive Mode ({h},{p1},{p2}).", R"(, "host": "127.0.0.41")") + "}",
         {"EPSV", "PASV", "PASV"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script(c.replies.substr(0, c.replies.size() - 1) + R"(, "RETR": )" + GoodRetr(70000) + "}");
        ftp->Passive = true;
        ftp->Connect();
        const std::string local = TempFile("passive.bin");
        ftp->Download("f.bin", local);
        EXPECT_EQ(ReadFile(local), Pattern(0, 70000));
        EXPECT_EQ(ftp->BytesTotal, 70000);
        ftp->Download("f.bin", local);
        auto log = Finish();
        std::vector<std::string> setUp;
        for (const auto& e : log)
            if (e == "EPSV" || e == "PASV" || e.rfind("PORT", 0) == 0) setUp.push_back(e);
        EXPECT_EQ(setUp, c.setUp);
        // Both data connections reached the server's own address, from the
        // client's.
        const auto connect = LoggedStarting(log, "CONNECT ");
        ASSERT_EQ(connect.size(), 1u);
        EXPECT_EQ(LoggedStarting(log, "DATA-ACCEPT"), std::vector<std::string>(2, "DATA-ACCEPT " + connect[0].substr(8)));
        DeleteFileA(local.c_str());
        SetUp();
    }
}

TEST_F(Scripted, PassiveSetUpFailuresAreCleanAndTheLoginGoesOn) {
    const struct {
        const char* name;
        std::string replies;
        std::string text;  // the start of the message
        bool pasvSent;
    } cases[] = {
        {"EPSV refused otherwise", R"({"EPSV": "550 Permission denied."})", "550 Permission denied.", false},
        {"both refused", R"({"EPSV": "502 No.", "PASV": "502 No."})", "502 No.", true},
        {"229 without a port", R"J({"EPSV": "229 Entering Extended Passive Mode (|||x|)"})J",
         "Malformed passive reply: 229 Entering", false},
        {"227 with garbage", R"J({"EPSV": "500 ?", "PASV": "227 Entering Passive Mode (127,0,0,1,999,1)"})J",
         "Malformed passive reply: 227 Entering", true},
        {"port closed", R"({"EPSV": )" + PassiveReply(kEpsvOk, R"(, "closed": true)") + "}",
         "Passive data connection to 127.0.0.40:", false},
        {"port never accepts", R"({"EPSV": )" + PassiveReply(kEpsvOk, R"(, "full": true)") + "}",
         "Passive data connection to 127.0.0.40:", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script(c.replies);
        ftp->Passive = true;
        ftp->TimeOut = 1500;
        ftp->Connect();
        const std::string local = TempFile("nopassive.bin");
        const uint32_t start = Now();
        bool isPassive = false;
        const std::string text = RaisedAs<EPassiveError>([&] { ftp->Download("f.bin", local); }, &isPassive);
        EXPECT_TRUE(isPassive) << text;
        EXPECT_EQ(text.substr(0, c.text.size()), c.text);
        EXPECT_LT(Now() - start, 4000u);
        EXPECT_FALSE(FileExists(local));
        EXPECT_EQ(ftp->DataSocket, nullptr);
        // Nothing of the transfer went out: the login is still in step.
        EXPECT_TRUE(ftp->Connected);
        ftp->DoCommand("NOOP");
        EXPECT_EQ(ftp->LastReply, "200 NOOP ok.\r\n");
        auto log = Finish();
        EXPECT_EQ(Logged(log, "PASV"), c.pasvSent);
        EXPECT_FALSE(Logged(log, "RETR f.bin"));
        SetUp();
    }
}

// ---------------------------------------------------------------------------
// Listings and uploads

// A LIST that sends text and closes the data connection.
std::string ListReply(const std::string& jsonText) {
    return R"(["150 Here comes the directory listing.", {"connect": {}}, {"data": {"text": )" + jsonText +
           R"(}}, {"data_close": true}, "226 Directory send OK."])";
}

TEST_F(Scripted, ServerKindFromSystChoosesTheListingParser) {
    const struct {
        const char* syst;  // JSON text of the SYST reply
        int32_t vendor;
        const std::type_info& type;
        const char* listing;  // JSON text of the listing
        std::vector<std::string> names;
    } cases[] = {
        {R"("215 UNIX Type: L8")", VendorUnix, typeid(TFTPUnixList),
         R"("total 2\r\n-rw-r--r-- 1 ftp ftp 1024 Jan 5 12:00 a.zip\r\n\r\n-rw-r--r-- 1 ftp ftp 9 Jan 5 12:00 last.zip")",
         {"a.zip", "last.zip"}},
        {R"("215 NETWARE Type: L8")", VendorNetware, typeid(TFTPNETWAREList),
         R"("Total of 1 file\r\n- [RWCEAFMS] admin 52 3301 Jan 05 2026 readme.txt 1\r\n")", {"readme.txt"}},
        {R"("215 OS/400 is the remote operating system.")", VendorAs400, typeid(TFTPAS400List),
         R"("QSYS 18944 02/03/06 11:46:44 *DIR QOpenSys/\r\nQSYS *FILE X\r\n")", {"*DIR"}},
        {R"("215 Windows_NT")", VendorOther, typeid(TFTPOTHERList),
         R"("-rwxrwxrwx 1 owner group 77 Dec 1 10:00 nt.txt\r\n")", {"nt.txt"}},
        // A refused SYST does not stop the listing: any other kind.
        {R"("500 SYST not understood.")", VendorOther, typeid(TFTPOTHERList),
         R"("-rw-r--r-- 1 ftp ftp 5 Jan 5 12:00 x.txt\n")", {"x.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.syst);
        Script(std::string(R"({"SYST": )") + c.syst + R"(, "LIST": )" + ListReply(c.listing) + "}");
        ftp = std::make_unique<TQVFTP>(nullptr);
        ftp->Host = kScriptedAddr;
        ftp->Port = kScriptedPort;
        ftp->ParseList = true;
        std::vector<std::string> items;
        ftp->OnListItem = [&](TObject*, const std::string& line) { items.push_back(line); };
        ftp->Connect();
        ftp->List();
        EXPECT_EQ(ftp->Vendor, c.vendor);
        ASSERT_NE(ftp->DirectoryList, nullptr);
        EXPECT_EQ(typeid(*ftp->DirectoryList), c.type);
        std::vector<std::string> names;
        for (int i = 0; i < ftp->DirectoryList->Names->Count(); ++i) names.push_back((*ftp->DirectoryList->Names)[i]);
        EXPECT_EQ(names, c.names);
        if (c.vendor == VendorUnix) {
            // "total" skipped; a line of just CR LF delivered as it is; a
            // last line without a line feed delivered when the data closed.
            EXPECT_EQ(items, (std::vector<std::string>{"total 2", "-rw-r--r-- 1 ftp ftp 1024 Jan 5 12:00 a.zip", "\r\n",
                                                       "-rw-r--r-- 1 ftp ftp 9 Jan 5 12:00 last.zip"}));
            EXPECT_EQ((*ftp->DirectoryList->Sizes)[1], "9");
        }
        auto log = Finish();
        EXPECT_TRUE(Logged(log, "SYST"));
        EXPECT_TRUE(Logged(log, "LIST"));
    }
}

TEST_F(Scripted, RefusalsOfTheStoreAndListingCommands) {
    Script(R"({"APPE": "553 Could not create file.", "NLST": "550 No files found.", "LIST": "502 LIST not here.",
               "STOR": "452 Insufficient storage space."})");
    Recorder rec(*ftp);
    rec.handleFailures = true;
    const std::string local = TempFile("refusals.bin");
    WriteFile(local, Pattern(0, 100));
    ftp->Connect();
    // APPE and NLST raise at once, whatever the handlers would say.
    EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->UploadAppend(local, "a.bin"); }), "553 Could not create file.\r\n");
    EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->Nlist(); }), "550 No files found.\r\n");
    EXPECT_TRUE(rec.failures.empty());
    // LIST and STOR go through the handlers; handled, the transfer just ends.
    ftp->List();
    EXPECT_EQ(rec.unsupported, std::vector<TCmdType>{cmdList});
    ftp->Upload(local, "s.bin");
    EXPECT_EQ(rec.failures, (std::vector<TCmdType>{cmdList, cmdUpload}));
    EXPECT_TRUE(rec.successes.empty());
    EXPECT_EQ(ftp->DataSocket, nullptr);
    auto log = Finish();
    EXPECT_FALSE(Logged(log, "DATA-CONNECT " + std::string(kScriptedAddr)));
    DeleteFileA(local.c_str());
}

TEST_F(Scripted, UploadsReadTheirClosingReplyAndTrustIt) {
    Script(R"({"STOR#1": ["150 Ok to send data.", {"connect": {}}, {"wait_data_closed": 10},
                          "452 Insufficient storage space."],
               "STOR": ["150 Ok to send data.", {"connect": {}}, {"wait_data_closed": 10}, "226 Transfer complete."],
               "STOU": ["150 FILE: u.1", {"connect": {}}, {"wait_data_closed": 10}, {"sleep": 0.3},
                        "226 Transfer complete."]})");
    Recorder rec(*ftp);
    const std::string local = TempFile("closing.bin");
    WriteFile(local, Pattern(0, 100000));
    ftp->Connect();

    // The server took the data and then said it could not keep it.
    bool isFtp = false;
    EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->Upload(local, "full.bin"); }, &isFtp),
              "452 Insufficient storage space.\r\n");
    EXPECT_TRUE(isFtp);
    EXPECT_TRUE(rec.successes.empty());

    // A late closing reply is waited for, not left to be taken for the
    // answer to the next command.
    ftp->UploadUnique(local);
    ftp->DoCommand("NOOP");
    EXPECT_EQ(ftp->LastReply, "200 NOOP ok.\r\n");

    // A restart sends only the rest of the file.
    ftp->UploadRestore(local, "part.bin", 60000);
    EXPECT_EQ(rec.successes, (std::vector<TCmdType>{cmdUpload, cmdDoCommand, cmdUpRestore}));
    auto log = Finish();
    const auto received = LoggedStarting(log, "DATA-RECEIVED ");
    EXPECT_EQ(received, (std::vector<std::string>{"DATA-RECEIVED 100000", "DATA-RECEIVED 100000",
                                                  "DATA-RECEIVED 40000"}));
    EXPECT_TRUE(Logged(log, "REST 60000"));
    EXPECT_TRUE(Logged(log, "STOR part.bin"));
    DeleteFileA(local.c_str());
}

TEST_F(Scripted, A426DuringAnUploadEndsItAsAFailure) {
    // The server reads nothing, so the send stalls until the 426 comes.
    Script(R"({"STOR": ["150 Ok to send data.", {"connect": {}}, {"sleep": 0.5},
                        "426 Connection closed; transfer aborted."]})");
    Recorder rec(*ftp);
    const std::string local = TempFile("aborted.bin");
    WriteFile(local, Pattern(0, 32 << 20));
    ftp->Connect();
    EXPECT_EQ(RaisedAs<FTPException>([&] { ftp->Upload(local, "big.bin"); }),
              "426 Connection closed; transfer aborted.\r\n");
    EXPECT_TRUE(rec.successes.empty());
    EXPECT_EQ(ftp->DataSocket, nullptr);
    // The control connection is still in step.
    ftp->DoCommand("NOOP");
    EXPECT_EQ(ftp->LastReply, "200 NOOP ok.\r\n");
    Finish();
    DeleteFileA(local.c_str());
}

}  // namespace
