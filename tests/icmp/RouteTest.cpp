// TQVTraceRt (and TQVPing) over a real route of three hops made of network
// namespaces (tests/icmp/route.sh): R1 198.18.1.2, R2 198.18.2.2, the
// destination 198.18.3.2; 198.18.9.0/24 is unreachable behind U 198.18.4.2
// (the second hop on that way).
#include <gtest/gtest.h>

#include "EventLog.h"

namespace {

const char kHop1[] = "198.18.1.2";
const char kHop2[] = "198.18.2.2";
const char kDest[] = "198.18.3.2";
const char kUnreachable[] = "198.18.9.1";
const char kUnreachableFrom[] = "198.18.4.2";

std::vector<std::string> S(std::initializer_list<std::string> v) { return v; }

}  // namespace

TEST(Trace, ThreeHopsThenComplete) {
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(t);
    t.Host = kDest;
    t.TimeOut = 2000;
    t.Trace();
    EXPECT_EQ(log.Events, S({"hop 1 " + std::string(kHop1), "status 11013 " + std::string(kHop1),
                             "hop 2 " + std::string(kHop2), "status 11013 " + std::string(kHop2),
                             "hop 3 " + std::string(kDest), "status 0 " + std::string(kDest), "complete"}));
    ASSERT_EQ(log.Times.size(), 9u);
    for (int time : log.Times) EXPECT_TRUE(time >= 0 && time < 2000) << time;
}

TEST(Trace, StopsAfterMaxHopsPlusOneWhenTheDestinationIsFarther) {
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(t);
    t.Host = kDest;
    t.MaxHops = 1;
    t.Trace();
    EXPECT_EQ(log.Events, S({"hop 1 " + std::string(kHop1), "status 11013 " + std::string(kHop1),
                             "hop 2 " + std::string(kHop2), "status 11013 " + std::string(kHop2)}));
}

TEST(Trace, AbortFromOnHopEndsTheTrace) {
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(t);
    t.Host = kDest;
    log.After = [&](const std::string& e) {
        if (e.rfind("hop 1", 0) == 0) t.Abort();
    };
    t.Trace();
    EXPECT_EQ(log.Events, S({"hop 1 " + std::string(kHop1), "status -1 Local Abort", "abort",
                             "status 11013 " + std::string(kHop1)}));
}

TEST(Unreachable, EndsTheTraceAtTheHopThatReportsIt) {
    TQVTraceRt t(nullptr);
    TEventLog log;
    log.Attach(t);
    t.Host = kUnreachable;
    t.TimeOut = 2000;
    t.Trace();
    EXPECT_EQ(log.Events, S({"hop 1 " + std::string(kHop1), "status 11013 " + std::string(kHop1),
                             "hop 2 " + std::string(kUnreachableFrom), "status 11013 " + std::string(kUnreachableFrom),
                             "unreachable " + std::string(kUnreachableFrom),
                             "status 11003 " + std::string(kUnreachableFrom)}));
}

TEST(Unreachable, PingReportsEachRequestAndGoesOn) {
    TQVPing p(nullptr);
    TEventLog log;
    log.Attach(p);
    p.Host = kUnreachable;
    p.Pings = 2;
    p.TimeOut = 2000;
    p.Ping();
    EXPECT_EQ(log.Events, Repeat({"unreachable " + std::string(kUnreachableFrom),
                                  "status 11003 " + std::string(kUnreachableFrom)},
                                 2));
}
