// qvping: echo requests to one host through TQVPing, with the output of the
// system ping tool. Exit code 0 when at least one answer came, 1 otherwise.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "Options.h"
#include "Qvicmp.h"

namespace {

const char kUsage[] = "Usage: qvping HOST [-n count] [-w timeout-ms] [-l size]\n";

const char* StatusText(int status) {
    switch (status) {
    case 11002: return "Destination net unreachable.";
    case 11003: return "Destination host unreachable.";
    case 11004: return "Destination protocol unreachable.";
    case 11005: return "Destination port unreachable.";
    case 11013: return "TTL expired in transit.";
    default: return nullptr;
    }
}

}  // namespace

int main(int argc, char** argv) {
    TToolOptions o = ParseToolOptions(argc, argv, "nwl");
    if (o.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    int count = 4, timeout = 4000, size = 32;
    const bool understood = o.Error.empty() && ToolOptionValue(o, 'n', 1, INT_MAX, 4, count) &&
                            ToolOptionValue(o, 'w', 0, INT_MAX, 4000, timeout) &&
                            ToolOptionValue(o, 'l', 0, 65535, 32, size);
    if (!understood) {
        std::fprintf(stderr, "%s\n%s", o.Error.c_str(), kUsage);
        return 1;
    }

    int sent = 0, received = 0, minTime = INT_MAX, maxTime = 0;
    long long total = 0;
    try {
        TQVPing ping(nullptr);
        ping.Host = o.Host;
        ping.TimeOut = timeout;
        ping.PacketSize = size;
        ping.Pings = count;
        try {
            ping.ResolveAddresses();
        } catch (const EICMPError&) {
            std::printf("Ping request could not find host %s. Please check the name and try again.\n",
                        o.Host.c_str());
            return 1;
        }
        const std::string dest = DottedAddress(ping.DestAddress());
        if (dest == o.Host)
            std::printf("\nPinging %s with %d bytes of data:\n", dest.c_str(), size);
        else
            std::printf("\nPinging %s [%s] with %d bytes of data:\n", o.Host.c_str(), dest.c_str(), size);
        // Probe the address just found: no second look-up.
        ping.Host = dest;

        ping.OnPing = [&](TObject*, const std::string& from, int bytes, int time) {
            ++received;
            minTime = std::min(minTime, time);
            maxTime = std::max(maxTime, time);
            total += time;
            if (time < 1)
                std::printf("Reply from %s: bytes=%d time<1ms\n", from.c_str(), bytes);
            else
                std::printf("Reply from %s: bytes=%d time=%dms\n", from.c_str(), bytes, time);
        };
        ping.OnStatus = [&](TObject*, int status, const std::string& from) {
            if (status == -1) return;
            ++sent;
            if (status == 0) return;
            if (status == 11010) {
                std::printf("Request timed out.\n");
            } else if (const char* text = StatusText(status)) {
                std::printf("Reply from %s: %s\n", from.c_str(), text);
            } else {
                std::printf("General failure (IP status %d).\n", status);
            }
            std::fflush(stdout);
        };
        ping.Ping();
    } catch (const Exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "qvping: %s: %s\n", o.Host.c_str(), e.Message.c_str());
        return 1;
    }

    const int lost = sent - received;
    std::printf("\nPing statistics for %s:\n", o.Host.c_str());
    std::printf("    Packets: Sent = %d, Received = %d, Lost = %d (%d%% loss),\n", sent, received, lost,
                sent ? lost * 100 / sent : 0);
    if (received)
        std::printf("Approximate round trip times in milli-seconds:\n"
                    "    Minimum = %dms, Maximum = %dms, Average = %dms\n",
                    minTime, maxTime, static_cast<int>(total / received));
    return received ? 0 : 1;
}
