// qvtrace: the route to a host through TQVTraceRt, with the output of the
// system tracert tool (addresses only, no reverse look-ups). Exit code 0 when
// at least one hop answered, 1 otherwise.
#include <climits>
#include <cstdio>

#include "Options.h"
#include "Qvicmp.h"

namespace {

const char kUsage[] = "Usage: qvtrace HOST [-h max-hops] [-w timeout-ms]\n"
                      "       qvtrace --help (or -h alone)\n";

std::string TimeColumn(int time) {
    char text[16];
    if (time < 0)
        std::snprintf(text, sizeof text, "%6s   ", "*");
    else if (time < 1)
        std::snprintf(text, sizeof text, "%6s ms", "<1");
    else
        std::snprintf(text, sizeof text, "%6d ms", time);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    TToolOptions o = ParseToolOptions(argc, argv, "hw");
    if (o.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    int maxHops = 30, timeout = 4000;
    const bool understood = o.Error.empty() && ToolOptionValue(o, 'h', 1, 255, 30, maxHops) &&
                            ToolOptionValue(o, 'w', 0, INT_MAX, 4000, timeout);
    if (!understood) {
        std::fprintf(stderr, "%s\n%s", o.Error.c_str(), kUsage);
        return 1;
    }

    int hops = 0;        // hops reported so far
    int answered = 0;    // hops where something answered
    bool shown = false;  // the current hop has its line
    try {
        TQVTraceRt trace(nullptr);
        trace.Host = o.Host;
        trace.TimeOut = timeout;
        // The component probes MaxHops + 1 hops when the host never answers;
        // -h counts the hops probed, as the system tool does.
        trace.MaxHops = maxHops - 1;
        try {
            trace.ResolveAddresses();
        } catch (const EICMPError&) {
            std::printf("Unable to resolve target system name %s.\n", o.Host.c_str());
            return 1;
        }
        const std::string dest = DottedAddress(trace.DestAddress());
        if (dest == o.Host)
            std::printf("\nTracing route to %s over a maximum of %d hops\n\n", dest.c_str(), maxHops);
        else
            std::printf("\nTracing route to %s [%s]\nover a maximum of %d hops:\n\n", o.Host.c_str(), dest.c_str(),
                        maxHops);
        trace.Host = dest;

        trace.OnHop = [&](TObject*, const std::string& from, int t1, int t2, int t3, int hopNo) {
            const bool silent = t1 < 0 && t2 < 0 && t3 < 0;
            if (!silent) ++answered;
            std::printf("%3d %s %s %s  %s\n", hopNo, TimeColumn(t1).c_str(), TimeColumn(t2).c_str(),
                        TimeColumn(t3).c_str(), silent ? "Request timed out." : from.c_str());
            shown = true;
        };
        trace.OnHostUnreachable = [&](TObject*, const std::string&) { ++answered; };
        trace.OnStatus = [&](TObject*, int status, const std::string& from) {
            if (status == -1) return;
            ++hops;
            if (!shown) {
                if (status == 11002)
                    std::printf("%3d  %s  reports: Destination net unreachable.\n", hops, from.c_str());
                else if (status == 11003)
                    std::printf("%3d  %s  reports: Destination host unreachable.\n", hops, from.c_str());
                else
                    std::printf("%3d  %s  reports: IP status %d.\n", hops, from.c_str(), status);
            }
            shown = false;
            std::fflush(stdout);
        };
        trace.Trace();
    } catch (const Exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "qvtrace: %s: %s\n", o.Host.c_str(), e.Message.c_str());
        return 1;
    }
    std::printf("\nTrace complete.\n");
    return answered ? 0 : 1;
}
