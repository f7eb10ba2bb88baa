// TQVPing and the look-ups of TQVICMP against real ICMP inside the test
// namespace: loopback and the mirror names of the private hosts file answer,
// the silent address swallows every request, and look-ups of names outside the
// hosts file go to the suite's own DNS server on loopback (TDnsStub), which
// fails them at once when no test plays it.
#include "DnsStub.h"  // before <windows.h>
#include "EventLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "Forms.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

std::string SilentAddr() {
    const char* s = std::getenv("NORV_SILENT_ADDR");
    return s ? s : "";
}

// The look-up tests play the DNS server themselves; they need the suite's
// resolver configuration, which the test's wrapper script sets up.
#define REQUIRE_PRIVATE_RESOLVER()                                                              \
    if (!std::getenv("NORV_PRIVATE_RESOLVER"))                                                  \
    GTEST_SKIP() << "needs the suite's resolver (run through tests/icmp/private-resolver.sh)"

}  // namespace

TEST(Ping, LoopbackAnswersWithAddressSizeAndTimeThenStatus) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = "127.0.0.1";
    p.Pings = 3;
    p.TimeOut = 2000;
    p.Ping();
    EXPECT_EQ(log.Events, Repeat({"ping 127.0.0.1 32", "status 0 127.0.0.1"}, 3));
    ASSERT_EQ(log.Times.size(), 3u);
    for (int t : log.Times) EXPECT_TRUE(t >= 0 && t < 1000) << t;

    // Data sizes travel unchanged, none and large included.
    for (int size : {0, 1, 1000, 8000}) {
        log.Events.clear();
        p.PacketSize = size;
        p.Pings = 1;
        p.Ping();
        EXPECT_EQ(log.Events, (std::vector<std::string>{"ping 127.0.0.1 " + std::to_string(size),
                                                        "status 0 127.0.0.1"}));
    }
}

TEST(Ping, ReportsTheAnsweringAddressNotTheHostText) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = "mirror1.norv.test";  // from the private hosts file
    p.Pings = 2;
    p.Ping();
    EXPECT_EQ(log.Events, Repeat({"ping 127.0.0.11 32", "status 0 127.0.0.11"}, 2));
    EXPECT_EQ(p.DestAddress(), Addr("127.0.0.11"));
}

TEST(Ping, ZeroOrNegativePingsResolveAndSendNothing) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    for (int n : {0, -3}) {
        p.Host = n == 0 ? "mirror2.norv.test" : "mirror3.norv.test";
        p.Pings = n;
        p.Ping();
    }
    EXPECT_TRUE(log.Events.empty());
    EXPECT_EQ(p.DestAddress(), Addr("127.0.0.13"));
}

TEST(Ping, SilentAddressTimesOutAfterTimeOutAndTheNextRequestFollows) {
    const std::string silent = SilentAddr();
    if (silent.empty()) GTEST_SKIP() << "NORV_SILENT_ADDR is not set (run inside scripts/run-tests.sh)";
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    std::vector<long long> at;
    const auto start = Clock::now();
    log.After = [&](const std::string& e) {
        if (e == "timeout") at.push_back(MsSince(start));
    };
    p.Host = silent;
    p.Pings = 2;
    p.TimeOut = 400;
    p.Ping();
    EXPECT_EQ(log.Events, Repeat({"timeout", "status 11010 0.0.0.0"}, 2));
    ASSERT_EQ(at.size(), 2u);
    EXPECT_GE(at[0], 350);
    EXPECT_LT(at[0], 1400);
    EXPECT_GE(at[1] - at[0], 350);
    EXPECT_LT(at[1] - at[0], 1400);
}

TEST(Ping, UnknownNameFiresInvalidHostAndRaisesWithoutStatus) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = "127.0.0.12";
    p.Pings = 0;
    p.Ping();  // a first resolution to see it survive a failed one
    p.Host = "nosuch.norv.test";
    p.Pings = 1;
    const auto start = Clock::now();
    EXPECT_EQ(RaisedMessage([&] { p.Ping(); }), "Host lookup failed");
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_EQ(log.Events, std::vector<std::string>{"invalid"});
    EXPECT_EQ(p.DestAddress(), Addr("127.0.0.12"));

    // The component stays usable.
    log.Events.clear();
    p.Host = "127.0.0.1";
    p.Ping();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"ping 127.0.0.1 32", "status 0 127.0.0.1"}));
}

// With an abort already requested, a look-up by name ends at once with
// "Operation aborted" while a dotted address needs none: this tells the two
// paths apart without sending anything.
TEST(Resolve, DottedAddressesAreUsedUnchangedButAllOnesIsLookedUpAsAName) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Abort();
    log.Events.clear();
    p.Host = "127.0.0.1";
    EXPECT_EQ(RaisedMessage([&] { p.ResolveAddresses(); }), "");
    EXPECT_EQ(p.DestAddress(), Addr("127.0.0.1"));
    p.Host = "198.18.0.99";
    EXPECT_EQ(RaisedMessage([&] { p.ResolveAddresses(); }), "");
    EXPECT_EQ(p.DestAddress(), Addr("198.18.0.99"));
    p.Host = "255.255.255.255";
    EXPECT_EQ(RaisedMessage([&] { p.ResolveAddresses(); }), "Operation aborted");
    EXPECT_EQ(p.DestAddress(), Addr("198.18.0.99"));
    EXPECT_TRUE(log.Events.empty());
}

TEST(Resolve, HostTextOf128CharactersOrMoreIsNoHost) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Abort();
    log.Events.clear();
    // 127 characters still fit the look-up buffer: looked up (and aborted).
    p.Host = std::string(127, 'a');
    EXPECT_EQ(RaisedMessage([&] { p.ResolveAddresses(); }), "Operation aborted");
    EXPECT_TRUE(log.Events.empty());
    for (size_t n : {128u, 129u, 5000u}) {
        log.Events.clear();
        p.Host = std::string(n, 'a');
        EXPECT_EQ(RaisedMessage([&] { p.ResolveAddresses(); }), "Host lookup failed") << n;
        EXPECT_EQ(log.Events, std::vector<std::string>{"invalid"}) << n;
    }
    // The same through Ping, whose start forgets the earlier abort.
    log.Events.clear();
    p.Host = std::string(200, '1');
    EXPECT_EQ(RaisedMessage([&] { p.Ping(); }), "Host lookup failed");
    EXPECT_EQ(log.Events, std::vector<std::string>{"invalid"});
}

TEST(Abort, FromOnPingDuringTheFirstOfFourRequests) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = "127.0.0.1";
    p.OnPing = [&](TObject*, const std::string& h, int size, int) {
        log.Add("ping " + h + " " + std::to_string(size));
        p.Abort();
    };
    EXPECT_EQ(RaisedMessage([&] { p.Ping(); }), "");
    EXPECT_EQ(log.Events, (std::vector<std::string>{"ping 127.0.0.1 32", "status -1 Local Abort", "abort",
                                                    "status 0 127.0.0.1"}));

    // The abort was honoured and forgotten: the next Ping runs in full, and so
    // does one after an abort requested while nothing ran.
    log.Attach(p);
    log.Events.clear();
    p.Ping();
    EXPECT_EQ(log.Events, Repeat({"ping 127.0.0.1 32", "status 0 127.0.0.1"}, 4));
    p.Abort();
    log.Events.clear();
    p.Pings = 2;
    p.Ping();
    EXPECT_EQ(log.Events, Repeat({"ping 127.0.0.1 32", "status 0 127.0.0.1"}, 2));
}

TEST(Abort, FromAnotherHandlerBetweenRequests) {
    if (SilentAddr().empty()) GTEST_SKIP() << "NORV_SILENT_ADDR is not set (run inside scripts/run-tests.sh)";
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = SilentAddr();
    p.Pings = 4;
    p.TimeOut = 300;
    // A timer (a user's click) that comes while the first request is out is
    // handled before the second: that one is never sent.
    After(50, [&] { p.Abort(); });
    const auto start = Clock::now();
    p.Ping();
    EXPECT_LT(MsSince(start), 1000);
    ASSERT_FALSE(log.Events.empty());
    EXPECT_EQ(log.Events.back(), "abort");
    EXPECT_EQ(log.Events, (std::vector<std::string>{"timeout", "status 11010 0.0.0.0", "status -1 Local Abort",
                                                    "abort"}));
}

TEST(Lookup, AbortDuringASlowLookUpRaisesOperationAborted) {
    REQUIRE_PRIVATE_RESOLVER();
    TDnsStub dns;
    ASSERT_TRUE(dns.Start());
    dns.Hold(true);  // a server that never answers: the resolver waits
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = "slow.norv.test";
    After(300, [&] { p.Abort(); });
    const auto start = Clock::now();
    EXPECT_EQ(RaisedMessage([&] { p.Ping(); }), "Operation aborted");
    const long long took = MsSince(start);
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 1500);  // the resolver alone would wait 3 s
    EXPECT_GE(dns.Queries(), 1);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"status -1 Local Abort", "abort"}));

    // The component goes on working while the abandoned look-up is still out.
    log.Events.clear();
    p.Host = "127.0.0.1";
    p.Pings = 1;
    p.Ping();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"ping 127.0.0.1 32", "status 0 127.0.0.1"}));
}

TEST(Lookup, NameFromDnsResolves) {
    REQUIRE_PRIVATE_RESOLVER();
    TDnsStub dns;
    ASSERT_TRUE(dns.Start());
    dns.Answer("far.norv.test", "127.0.0.21");
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = "far.norv.test";
    p.Pings = 1;
    p.Ping();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"ping 127.0.0.21 32", "status 0 127.0.0.21"}));
}

TEST(Lookup, AnAbandonedLookUpsLateAnswerDoesNotCompleteTheNextOne) {
    REQUIRE_PRIVATE_RESOLVER();
    TDnsStub dns;
    ASSERT_TRUE(dns.Start());
    dns.Answer("first.norv.test", "127.0.0.13");
    dns.Answer("second.norv.test", "127.0.0.12");
    dns.Hold(true);
    TQVPing p(nullptr);
    p.Host = "first.norv.test";
    After(200, [&] { p.Abort(); });
    EXPECT_EQ(RaisedMessage([&] { p.ResolveAddresses(); }), "Operation aborted");

    // The first answer arrives now and waits in the queue (nothing pumps)
    // until the next look-up's wait takes it, well before that look-up's own
    // answer, which the server holds back a while longer.
    dns.Release();
    Sleep(300);
    After(300, [&] { dns.Release(); });
    p.Host = "second.norv.test";
    p.Pings = 0;  // a Ping forgets the abort, and resolves only
    EXPECT_EQ(RaisedMessage([&] { p.Ping(); }), "");
    EXPECT_EQ(p.DestAddress(), Addr("127.0.0.12"));
}

TEST(Lookup, UnrelatedMessagesToTheHiddenWindowLeaveAPendingLookUpAlone) {
    REQUIRE_PRIVATE_RESOLVER();
    TDnsStub dns;
    ASSERT_TRUE(dns.Start());
    dns.Answer("third.norv.test", "127.0.0.13");
    dns.Hold(true);
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = "third.norv.test";
    const HWND w = p.WindowHandle();
    ASSERT_NE(w, nullptr);
    After(100, [&] {
        PostMessageA(w, WM_USER + 5, 1, 2);
        // a look-up answer that no look-up of this component asked for, good and failed
        PostMessageA(w, WM_ICMP_LOOKUP, 0x77, MAKELONG(0, 11001));
        PostMessageA(w, WM_ICMP_LOOKUP, 0x78, 0);
        SendMessageA(w, WM_ICMP_LOOKUP, 0, MAKELONG(0, 11001));
    });
    After(400, [&] { dns.Release(); });
    dns.Hold(true);
    p.Pings = 1;
    p.Ping();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"ping 127.0.0.13 32", "status 0 127.0.0.13"}));
}

TEST(Lookup, GetHostNameReturnsTheOfficialNameOrEmpty) {
    TQVPing p(nullptr);
    EXPECT_EQ(p.GetHostName(Addr("127.0.0.11")), "mirror1.norv.test");
    EXPECT_EQ(p.GetHostName(Addr("127.0.0.20")), "ftp.norv.test");
    EXPECT_EQ(p.GetHostName(Addr("198.18.0.77")), "");  // no name anywhere
    p.Abort();
    EXPECT_EQ(RaisedMessage([&] { p.GetHostName(Addr("127.0.0.11")); }), "Operation aborted");
}

// The server page probes its sites one after the other, each component made
// without owner, and a handler may start another component's Ping.
TEST(Components, WorkSideBySideAndInsideEachOthersHandlers) {
    TQVPing a(nullptr), b(nullptr);
    EXPECT_NE(a.WindowHandle(), b.WindowHandle());
    TEventLog la, lb;
    la.Attach(a);
    lb.Attach(b);
    a.Host = "mirror1.norv.test";
    b.Host = "mirror2.norv.test";
    a.Pings = 2;
    b.Pings = 1;
    la.After = [&](const std::string& e) {
        if (e.rfind("ping", 0) == 0) b.Ping();
    };
    a.Ping();
    EXPECT_EQ(la.Events, Repeat({"ping 127.0.0.11 32", "status 0 127.0.0.11"}, 2));
    EXPECT_EQ(lb.Events, Repeat({"ping 127.0.0.12 32", "status 0 127.0.0.12"}, 2));
}

TEST(Components, AWaitEndsWhenTheApplicationTerminates) {
    REQUIRE_PRIVATE_RESOLVER();
    TDnsStub dns;
    ASSERT_TRUE(dns.Start());
    dns.Hold(true);
    TQVPing p(nullptr);
    p.Host = "never.norv.test";
    After(200, [] { Application->Terminate(); });
    const auto start = Clock::now();
    const std::string raised = RaisedMessage([&] { p.Ping(); });
    Application->Terminated = false;
    EXPECT_EQ(raised, "Operation aborted");
    EXPECT_LT(MsSince(start), 1500);
}
