// What the components hand to the ICMP service, seen through a stand-in
// "ICMP.DLL" (FakeIcmp.cpp) beside this program: the request data, the
// reply buffer's size, the time-to-live of each request, and how scripted
// answers turn into events. Calls that the script does not answer are passed
// on to the system's service, so loopback echoes still really happen.
#include <gtest/gtest.h>

#include "LibraryLoad.h"

#include "EventLog.h"
#include "FakeIcmp.h"

namespace {

struct Fake {
    TFakeIcmpReset Reset;
    TFakeIcmpScript Script;
    TFakeIcmpCallCount CallCount;
    TFakeIcmpCall Call;
};

// The stand-in, loaded once and kept (the components load and release it
// each; this reference keeps its record between them).
const Fake& Service() {
    static Fake f = [] {
        Fake r = {};
        // The components take the system's ICMP.DLL from the system folder
        // only; the stand-in beside this program is named by full path.
        static const std::string path = ProgramFolder() + "icmp.dll";
        IcmpLibraryName = path.c_str();
        HMODULE m = LoadLibraryA(path.c_str());
        if (!m) return r;
        r.Reset = reinterpret_cast<TFakeIcmpReset>(GetProcAddress(m, "FakeIcmpReset"));
        r.Script = reinterpret_cast<TFakeIcmpScript>(GetProcAddress(m, "FakeIcmpScript"));
        r.CallCount = reinterpret_cast<TFakeIcmpCallCount>(GetProcAddress(m, "FakeIcmpCallCount"));
        r.Call = reinterpret_cast<TFakeIcmpCall>(GetProcAddress(m, "FakeIcmpCall"));
        return r;
    }();
    return f;
}

std::vector<FakeEchoCall> Calls() {
    std::vector<FakeEchoCall> v;
    for (int i = 0; i < Service().CallCount(); ++i) {
        FakeEchoCall c;
        Service().Call(i, &c);
        v.push_back(c);
    }
    return v;
}

FakeEchoAnswer Answer(uint32_t status, const char* from, uint32_t rtt = 1, uint32_t size = 0) {
    FakeEchoAnswer a = {};
    a.Status = status;
    a.Address = Addr(from);
    a.RoundTripTime = rtt;
    a.DataSize = size;
    a.Result = status == 0 || status == 11013 ? 1 : 0;
    a.LastError = status;
    a.WriteRecord = 1;
    return a;
}

// Answers that never leave the process; the destination is the silent test
// address all the same, should a call ever get past the script.
const char kDest[] = "198.18.0.2";

class Seam : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Service().Reset && Service().Script && Service().CallCount && Service().Call)
            << "ICMP.DLL is not the stand-in: the test needs WINEDLLOVERRIDES=icmp=n and FakeIcmp's icmp.dll "
               "beside it";
        Service().Reset(0);
    }
    void Script(const std::vector<FakeEchoAnswer>& a) { Service().Script(a.data(), static_cast<int>(a.size())); }
};

}  // namespace

TEST_F(Seam, PingSendsHashDataWithTheReplyBufferOfRecordDataAndSixteenBytes) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = "127.0.0.1";
    p.Pings = 2;
    p.TimeOut = 1500;
    p.Ping();  // passed on to the real service
    EXPECT_EQ(log.Events, Repeat({"ping 127.0.0.1 32", "status 0 127.0.0.1"}, 2));
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const FakeEchoCall& c : calls) {
        EXPECT_EQ(c.Dest, Addr("127.0.0.1"));
        EXPECT_EQ(c.RequestSize, 32u);
        EXPECT_EQ(c.HashBytes, 32u);
        EXPECT_EQ(c.EchoedHashBytes, 32u);  // what came back is what went out
        EXPECT_EQ(c.ReplySize, sizeof(icmpapi::ICMP_ECHO_REPLY) + 16 + 32);
#if !defined(_WIN64)
        EXPECT_EQ(c.ReplySize, 76u);
#endif
        EXPECT_EQ(c.Timeout, 1500u);
        EXPECT_EQ(c.Ttl, 255);
        EXPECT_EQ(c.Tos, 0);
        EXPECT_EQ(c.Flags, 0);
        EXPECT_EQ(c.OptionsSize, 0);
        EXPECT_EQ(c.HasOptionsData, 0u);
    }
}

TEST_F(Seam, PacketSizesAtTheEdgesOfSixteenBitsAndBeyond) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = kDest;
    p.Pings = 1;
    for (int size : {0, 65535}) {
        Service().Reset(0);
        Script({Answer(0, kDest, 1, static_cast<uint32_t>(size))});
        p.PacketSize = size;
        p.Ping();
        const auto calls = Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].RequestSize, static_cast<uint32_t>(size));
        EXPECT_EQ(calls[0].HashBytes, static_cast<uint32_t>(size));
        EXPECT_EQ(calls[0].ReplySize, sizeof(icmpapi::ICMP_ECHO_REPLY) + 16 + static_cast<uint32_t>(size));
    }
    // Sizes the service cannot be told are refused before anything is sent.
    Service().Reset(0);
    log.Events.clear();
    TQVTraceRt t(nullptr);
    log.Attach(t);
    t.Host = kDest;
    for (int size : {-1, 65536, 100000, INT32_MIN}) {
        p.PacketSize = size;
        t.PacketSize = size;
        EXPECT_EQ(RaisedMessage([&] { p.Ping(); }), "Invalid packet size") << size;
        EXPECT_EQ(RaisedMessage([&] { t.Trace(); }), "Invalid packet size") << size;
    }
    EXPECT_EQ(Service().CallCount(), 0);
    EXPECT_TRUE(log.Events.empty());
}

TEST_F(Seam, PingTellsTheStatusesApart) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = kDest;
    p.Pings = 6;
    Script({Answer(0, "198.18.0.7", 3, 32), Answer(11002, "198.18.0.8"), Answer(11003, "198.18.0.9"),
            Answer(11010, "0.0.0.0"), Answer(11013, "198.18.0.10"), Answer(11050, "0.0.0.0")});
    p.Ping();
    EXPECT_EQ(log.Events, (std::vector<std::string>{
                              "ping 198.18.0.7 32", "status 0 198.18.0.7",                        //
                              "unreachable 198.18.0.8", "status 11002 198.18.0.8",                //
                              "unreachable 198.18.0.9", "status 11003 198.18.0.9",                //
                              "timeout", "status 11010 0.0.0.0",                                  //
                              "status 11013 198.18.0.10", "status 11050 0.0.0.0"}));
    EXPECT_EQ(log.Times, std::vector<int>{3});
}

// A call that fails without writing the reply record must not be read as
// the previous request's answer, nor as a success.
TEST_F(Seam, AFailedCallWithoutAReplyRecordIsNoAnswer) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = kDest;
    p.Pings = 3;
    FakeEchoAnswer silentFailure = {};  // returns 0, writes nothing, no error code
    FakeEchoAnswer timedOut = {};
    timedOut.LastError = 11010;  // the error only in the last-error value
    Script({Answer(0, "198.18.0.7", 2, 32), silentFailure, timedOut});
    p.Ping();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"ping 198.18.0.7 32", "status 0 198.18.0.7",
                                                    "status 11050 0.0.0.0", "timeout", "status 11010 0.0.0.0"}));
}

TEST_F(Seam, WithoutAServiceHandlePingAndTraceRaise) {
    Service().Reset(1);  // IcmpCreateFile fails
    TQVPing p(nullptr);
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(p);
    log.Attach(t);
    p.Host = t.Host = "127.0.0.1";
    EXPECT_EQ(RaisedMessage([&] { p.Ping(); }), "Error initializing ICMP Handle");
    EXPECT_EQ(RaisedMessage([&] { t.Trace(); }), "Error initializing ICMP Handle");
    EXPECT_EQ(Service().CallCount(), 0);
    EXPECT_TRUE(log.Events.empty());
}

TEST_F(Seam, TraceProbesThreeTimesPerHopWithRisingTimeToLive) {
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(t);
    t.Host = kDest;
    t.TimeOut = 700;
    Script({Answer(11013, "198.18.1.2", 1), Answer(11013, "198.18.1.2", 2), Answer(11013, "198.18.1.2", 3),
            // a time-out fills its slot with -1; a status other than 0, 11010
            // and 11013 leaves the slot as the hop before left it
            Answer(11010, "0.0.0.0"), Answer(11050, "0.0.0.0"), Answer(11013, "198.18.2.2", 7),
            Answer(0, kDest, 4), Answer(0, kDest, 5), Answer(0, kDest, 6)});
    t.Trace();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"hop 1 198.18.1.2", "status 11013 198.18.1.2", "timeout",
                                                    "hop 2 198.18.2.2", "status 11013 198.18.2.2",
                                                    "hop 3 198.18.0.2", "status 0 198.18.0.2", "complete"}));
    EXPECT_EQ(log.Times, (std::vector<int>{1, 2, 3, -1, 2, 7, 4, 5, 6}));
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 9u);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].Ttl, i / 3 + 1) << i;
        EXPECT_EQ(calls[i].Timeout, 700u);
        EXPECT_EQ(calls[i].RequestSize, 32u);
        EXPECT_EQ(calls[i].HashBytes, 32u);
    }
}

TEST_F(Seam, TraceJudgesAHopByItsThirdAnswer) {
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(t);
    t.Host = kDest;
    t.MaxHops = 3;
    // hop 1: success from another address is a hop, not the end; hop 2: the
    // third answer times out; hop 3: unreachable in the third answer ends it,
    // whatever the first two said
    Script({Answer(0, "198.18.0.9", 1), Answer(0, "198.18.0.9", 1), Answer(0, "198.18.0.9", 1),
            Answer(11013, "198.18.1.2", 2), Answer(11013, "198.18.1.2", 2), Answer(11010, "0.0.0.0"),
            Answer(0, kDest, 3), Answer(0, kDest, 3), Answer(11003, "198.18.1.2")});
    t.Trace();
    EXPECT_EQ(log.Events,
              (std::vector<std::string>{"hop 1 198.18.0.9", "status 0 198.18.0.9", "timeout", "hop 2 0.0.0.0",
                                        "status 11010 0.0.0.0", "unreachable 198.18.1.2",
                                        "status 11003 198.18.1.2"}));
    EXPECT_EQ(Service().CallCount(), 9);
}

TEST_F(Seam, TraceThatNeverArrivesProbesMaxHopsPlusOne) {
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(t);
    t.Host = kDest;
    t.MaxHops = 2;
    std::vector<FakeEchoAnswer> script(9, Answer(11010, "0.0.0.0"));
    Script(script);
    t.Trace();
    EXPECT_EQ(Service().CallCount(), 9);
    std::vector<std::string> expected;
    for (int hop = 1; hop <= 3; ++hop)
        expected.insert(expected.end(), {"timeout", "timeout", "timeout", "hop " + std::to_string(hop) + " 0.0.0.0",
                                         "status 11010 0.0.0.0"});
    EXPECT_EQ(log.Events, expected);
    EXPECT_EQ(log.Times, std::vector<int>(9, -1));

    // MaxHops 0 still probes the first hop; a negative MaxHops probes nothing.
    Service().Reset(0);
    Script(script);
    t.MaxHops = 0;
    t.Trace();
    EXPECT_EQ(Service().CallCount(), 3);
    Service().Reset(0);
    t.MaxHops = -1;
    t.Trace();
    EXPECT_EQ(Service().CallCount(), 0);
}

TEST_F(Seam, AbortInsideAHopStopsTheTraceAtOnce) {
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(t);
    t.Host = kDest;
    Script(std::vector<FakeEchoAnswer>(9, Answer(11010, "0.0.0.0")));
    log.After = [&](const std::string& e) {
        if (e == "timeout" && log.Events.size() == 2) t.Abort();
    };
    t.Trace();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"timeout", "timeout", "status -1 Local Abort", "abort"}));
    EXPECT_EQ(Service().CallCount(), 2);
}
