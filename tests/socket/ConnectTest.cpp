// TPowersock against loopback peers: Winsock start-up, look-up, connect with
// time-out and cancel, close by the peer and reconnect, error texts, status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Driver.h"
#include "Forms.h"
#include "Peer.h"
#include "Psock.h"

namespace {

using peer::After;
using peer::Peer;
using peer::Raised;
using peer::Within;

std::string Silent() { return drv::Env("NORV_SILENT_ADDR"); }
bool InNamespace() { return !Silent().empty(); }

// Greets every client with one line and waits until it closes.
peer::Script Greeter(const std::string& line) {
    return [line](SOCKET s) {
        peer::SendAll(s, line);
        peer::RecvUntilClosed(s, [](const char*, int) {});
    };
}

TEST(PsockWinsock, TwoObjectsStartAndCleanUpWinsockOnce) {
    ASSERT_EQ(ConnectionCount, 0) << "no connection object may be alive here";
    auto* a = new TPowersock(nullptr);
    EXPECT_EQ(ConnectionCount, 1);
    ASSERT_EQ(a->WinsockInfo.Count(), 6);
    EXPECT_EQ(a->WinsockInfo[0], "Version= 1.1");
    EXPECT_EQ(a->WinsockInfo[1].rfind("High Version= ", 0), 0u);
    EXPECT_EQ(a->WinsockInfo[5].rfind("Max Udp pack size= ", 0), 0u);
    EXPECT_NE(a->SocketHandle, NoSocket);

    auto* b = new TPowersock(nullptr);
    EXPECT_EQ(ConnectionCount, 2);
    EXPECT_EQ(b->WinsockInfo.Count(), 0) << "only the first start-up describes Winsock";
    delete a;
    EXPECT_EQ(ConnectionCount, 1);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(probe, INVALID_SOCKET) << "Winsock must stay up while b lives";
    closesocket(probe);
    delete b;
    EXPECT_EQ(ConnectionCount, 0);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET) << "the last object cleans Winsock up";
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST(PsockErrors, TextsErrorManagerAndStatusLevels) {
    TPowersock s(nullptr);
    std::vector<std::string> status;
    s.OnStatus = [&](TObject*, const std::string& t) { status.push_back(t); };
    EXPECT_EQ(s.SocketErrorStr(10093), "10093:Successful WSAStartup not yet performed");
    EXPECT_EQ(s.SocketErrorStr(12345), "Unknown Error No. 12345");
    EXPECT_EQ(s.SocketErrorStr(0), "");
    EXPECT_TRUE(status.empty()) << "ReportLevel 0 reports nothing";

    s.ReportLevel = 16;
    std::vector<std::pair<int, std::string>> errors;
    s.OnError = [&](TObject*, uint16_t no, const std::string& m) { errors.push_back({no, m}); };
    WSASetLastError(WSAEWOULDBLOCK);
    EXPECT_EQ(s.ErrorManager(WSAEWOULDBLOCK), "") << "the ignored code is no error";
    WSASetLastError(WSAECONNREFUSED);
    EXPECT_EQ(Raised([&] { s.ErrorManager(WSAEWOULDBLOCK); }), "10061:Connection refused");
    EXPECT_EQ(s.LastErrorNo, 10061);
    s.SetWSAError(10093, "");
    EXPECT_EQ(WSAGetLastError(), 10093);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1], std::make_pair(10093, std::string("10093:Successful WSAStartup not yet performed")));
    EXPECT_NE(std::find(status.begin(), status.end(), "Checking Error In Error Manager"), status.end());
    EXPECT_EQ(s.Status, "Looking Up Error Message");

    s.ReportLevel = 1;
    status.clear();
    s.SocketErrorStr(10061);
    EXPECT_TRUE(status.empty()) << "level 8 is above ReportLevel 1";
}

TEST(PsockConnect, DottedAddressConnectsWithoutLookup) {
    std::string peerSide;
    Peer p("127.0.0.1", 0, [&](SOCKET c) {
        sockaddr_in a = {};
        int len = sizeof(a);
        getpeername(c, reinterpret_cast<sockaddr*>(&a), &len);
        peerSide = CommaPort(ntohs(a.sin_port));
        peer::SendAll(c, "220 ready\r\n");
        peer::RecvUntilClosed(c, [](const char*, int) {});
    });
    TPowersock s(nullptr);
    int resolved = 0, connected = 0;
    s.OnHostResolved = [&](TObject*) { ++resolved; };
    s.OnConnect = [&](TObject*) { ++connected; };
    s.Host = "127.0.0.1";
    s.Port = p.Port();
    s.TimeOut = 5000;
    s.Connect();
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(s.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(s.GetLocalAddress(), "127,0,0,1");
    std::string me = s.GetLocalIP();  // the machine's own name may not resolve here
    EXPECT_TRUE(me.empty() || inet_addr(me.c_str()) != INADDR_NONE) << me;
    EXPECT_EQ(s.ReadLn(), "220 ready\r\n");
    EXPECT_EQ(s.GetPortString(), peerSide);
    EXPECT_EQ(Raised([&] { s.Connect(); }), std::string(SockText::AlreadyConnected));
    s.Disconnect();
    EXPECT_FALSE(s.Connected);
}

TEST(PsockConnect, NamedHostResolvesThroughTheHostsFile) {
    if (!InNamespace()) GTEST_SKIP() << "needs the private hosts file of the test namespace";
    Peer p("127.0.0.11", 0, Greeter("220 mirror1\r\n"));
    TPowersock s(nullptr);
    int resolved = 0;
    s.OnHostResolved = [&](TObject*) { ++resolved; };
    s.Host = "mirror1.norv.test";
    s.Port = p.Port();
    s.TimeOut = 5000;
    s.Connect();
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(s.GetRemoteIP(), "127.0.0.11");
    EXPECT_EQ(s.ReadLn(), "220 mirror1\r\n");
}

TEST(PsockConnect, LookupErrorConsultsOnInvalidHostOnce) {
    if (!InNamespace()) GTEST_SKIP() << "needs the private hosts file of the test namespace";
    Peer p("127.0.0.12", 0, Greeter("220 mirror2\r\n"));
    TPowersock s(nullptr);
    s.Port = p.Port();
    s.TimeOut = 5000;

    s.Host = "unknown.norv.test";
    EXPECT_EQ(Raised([&] { s.Connect(); }), std::string(SockText::NullAddress)) << "no handler";

    int asked = 0;
    s.OnInvalidHost = [&](bool& handled) {
        ++asked;
        handled = true;  // but the host stays unresolvable
    };
    EXPECT_EQ(Raised([&] { s.Connect(); }), std::string(SockText::NullAddress));
    EXPECT_EQ(asked, 1);

    asked = 0;
    s.OnInvalidHost = [&](bool&) { ++asked; };
    EXPECT_EQ(Raised([&] { s.Connect(); }), std::string(SockText::NullAddress)) << "handler left Handled false";
    EXPECT_EQ(asked, 1);

    asked = 0;
    s.OnInvalidHost = [&](bool& handled) {
        ++asked;
        s.Host = "mirror2.norv.test";
        handled = true;
    };
    s.Connect();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(s.ReadLn(), "220 mirror2\r\n");
}

TEST(PsockConnect, HostNameLongerThan127IsRefused) {
    TPowersock s(nullptr);
    s.Host = std::string(120, 'a') + ".norv.test";
    EXPECT_EQ(Raised([&] { s.ResolveRemoteHost(); }), std::string(SockText::LookupFailed));
    EXPECT_EQ(s.RemoteAddress.sin_addr.s_addr, 0u);
    int asked = 0;
    s.OnInvalidHost = [&](bool&) { ++asked; };
    EXPECT_EQ(Raised([&] { s.Connect(); }), std::string(SockText::NullAddress));
    EXPECT_EQ(asked, 1) << "a refused name counts as a failed look-up";
    s.Proxy = std::string(200, 'b');
    s.Host = "127.0.0.1";
    EXPECT_EQ(Raised([&] { s.ResolveRemoteHost(); }), std::string(SockText::LookupFailed)) << "the proxy name is the one looked up";
}

TEST(PsockConnect, SilentAddressTimesOutThenTheObjectConnectsAgain) {
    if (!InNamespace()) GTEST_SKIP() << "needs the silent address of the test namespace";
    TPowersock s(nullptr);
    int failed = 0;
    s.OnConnectionFailed = [&](TObject*) { ++failed; };
    s.Host = Silent();
    s.Port = 21;
    s.TimeOut = 400;
    DWORD t0 = GetTickCount();
    EXPECT_EQ(Raised([&] { s.Connect(); }), std::string(SockText::ConnectTimedOut));
    DWORD took = GetTickCount() - t0;
    EXPECT_GE(took, 350u);
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(s.TimedOut);
    EXPECT_FALSE(s.Connected);

    Peer p("127.0.0.1", 0, Greeter("220 second try\r\n"));
    s.Host = "127.0.0.1";
    s.Port = p.Port();
    s.Connect();
    EXPECT_EQ(s.ReadLn(), "220 second try\r\n");
    s.Disconnect();
}

TEST(PsockConnect, TimeOutZeroWaitsUntilCancelFromATimerHandler) {
    if (!InNamespace()) GTEST_SKIP() << "needs the silent address of the test namespace";
    TPowersock s(nullptr);
    int failed = 0;
    s.OnConnectionFailed = [&](TObject*) { ++failed; };
    s.Host = Silent();
    s.Port = 21;
    s.TimeOut = 0;
    After cancel(700, [&] { s.Cancel(); });
    DWORD t0 = GetTickCount();
    EXPECT_EQ(Raised([&] { s.Connect(); }), std::string(SockText::ConnectCanceled));
    EXPECT_GE(GetTickCount() - t0, 650u) << "no time limit of its own";
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(s.TimedOut);
}

TEST(PsockConnect, RefusedConnectFailsAndTheObjectConnectsAgain) {
    TPowersock s(nullptr);
    int failed = 0;
    s.OnConnectionFailed = [&](TObject*) { ++failed; };
    s.Host = "127.0.0.1";
    s.Port = peer::FreePort();
    s.TimeOut = 5000;
    EXPECT_EQ(Raised([&] { s.Connect(); }), std::string(SockText::ConnectFailed));
    EXPECT_EQ(failed, 1);
    Peer p("127.0.0.1", 0, Greeter("220 up\r\n"));
    s.Port = p.Port();
    s.Connect();
    EXPECT_EQ(s.ReadLn(), "220 up\r\n");
    s.Disconnect();
}

TEST(PsockConnect, PeerCloseThenNewConnectOnTheSameObject) {
    int round = 0;
    Peer p("127.0.0.1", 0, [&](SOCKET c) {
        if (round++ == 0) {
            peer::SendAll(c, "bye\r\npartial");  // then closes at once
        } else {
            peer::SendAll(c, "again\r\n");
            peer::RecvUntilClosed(c, [](const char*, int) {});
        }
    }, 2);
    TPowersock s(nullptr);
    int disconnects = 0;
    s.OnDisconnect = [&](TObject*) { ++disconnects; };
    s.Host = "127.0.0.1";
    s.Port = p.Port();
    s.Connect();
    EXPECT_EQ(s.ReadLn(), "bye\r\n");
    EXPECT_TRUE(Within(5000, [&] { return !s.Connected; }));
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(Raised([&] { s.ReadLn(); }), std::string(SockText::PeerClosed)) << "no line can come any more";
    EXPECT_EQ(s.Read(0), "partial") << "what the peer sent before closing stays readable";
    EXPECT_EQ(Raised([&] { s.Writeln("x"); }), std::string(SockText::NotConnected));

    s.Connect();
    EXPECT_EQ(s.ReadLn(), "again\r\n");
    s.Disconnect();
    EXPECT_EQ(disconnects, 2);
}

TEST(PsockWait, TerminationEndsWaitsWithTheirCancelExceptions) {
    Peer p("127.0.0.1", 0, [](SOCKET c) { peer::RecvUntilClosed(c, [](const char*, int) {}); });
    TPowersock s(nullptr);
    s.Host = "127.0.0.1";
    s.Port = p.Port();
    s.Connect();
    {
        After quit(200, [] { Application->Terminate(); });
        EXPECT_EQ(Raised([&] { s.ReadLn(); }), std::string(SockText::ReadLnAborted));
    }
    Application->Terminated = false;
    s.Canceled = false;
    {
        After quit(200, [] { Application->Terminate(); });
        EXPECT_EQ(Raised([&] { s.Read(10); }), std::string(SockText::SendAborted));
        EXPECT_FALSE(s.Canceled) << "Read clears its cancel";
    }
    Application->Terminated = false;
    if (InNamespace()) {
        TPowersock t(nullptr);
        t.Host = Silent();
        t.Port = 21;
        After quit(200, [] { Application->Terminate(); });
        EXPECT_EQ(Raised([&] { t.Connect(); }), std::string(SockText::ConnectCanceled));
        Application->Terminated = false;
    }
}

// What code branches on: the kind of each failure, and that every cancel is
// an EAbortError that leaves the flag clear for the next operation.
TEST(PsockErrors, FailuresCarryTheirKindAndEveryCancelIsSpent) {
    Peer closer("127.0.0.1", 0, [](SOCKET c) { peer::SendAll(c, "no line end"); });
    Peer listening("127.0.0.1", 0, Greeter("hello\r\n"));
    TPowersock ended(nullptr), connected(nullptr), refused(nullptr), busy(nullptr), lonely(nullptr), named(nullptr);
    ended.Host = connected.Host = refused.Host = "127.0.0.1";
    ended.Port = closer.Port();
    ended.Connect();
    connected.Port = listening.Port();
    connected.Connect();
    refused.Port = peer::FreePort();
    busy.Port = listening.Port();
    named.Host = std::string(200, 'n');
    lonely.Port = 0;
    lonely.Listen(true);
    std::vector<std::pair<TPowersock*, std::function<void()>>> cancelled = {
        {&lonely, [&] { lonely.Accept(); }},
        {&connected, [&] { connected.ReadLn(); }},
        {&connected, [&] { connected.Read(100); }},
    };

    struct Case {
        const char* name;
        std::function<void()> fn;
        TSockErrorKind kind;
    };
    const std::vector<Case> cases = {
        {"refused connect", [&] { refused.Connect(); }, TSockErrorKind::ConnectFailed},
        {"connect while connected", [&] { connected.Connect(); }, TSockErrorKind::AlreadyConnected},
        {"address in use", [&] { busy.Listen(true); }, TSockErrorKind::Winsock},
        {"name too long", [&] { named.ResolveRemoteHost(); }, TSockErrorKind::LookupFailed},
        {"line cut by the close", [&] { ended.ReadLn(); }, TSockErrorKind::PeerClosed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSockErrorKind got = TSockErrorKind::Other;
        try {
            c.fn();
            ADD_FAILURE() << "nothing raised";
        } catch (const ESockError& e) {
            got = e.Kind;
            if (got == TSockErrorKind::Winsock) {
                EXPECT_EQ(e.Code, WSAEADDRINUSE);
            }
            // A failed connect carries the error of its notification.
            if (got == TSockErrorKind::ConnectFailed) {
                EXPECT_EQ(e.Code, WSAECONNREFUSED);
            }
        }
        EXPECT_EQ(got, c.kind);
    }
    EXPECT_EQ(connected.ReadLn(), "hello\r\n");
    for (auto& c : cancelled) {
        After cancel(100, [&] { c.first->Cancel(); });
        bool isAbort = false;
        try {
            c.second();
        } catch (const EAbortError& e) {
            isAbort = e.Kind == TSockErrorKind::Cancelled;
        } catch (...) {
        }
        EXPECT_TRUE(isAbort);
        EXPECT_FALSE(c.first->Canceled) << "the exception carries the cancel";
    }
}

}  // namespace
