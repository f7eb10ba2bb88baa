// qvsock: one TPowersock connection from the command line, for scripts and the
// benchmark.
//
//   qvsock send HOST PORT FILE [options]   connect, SendFile, close the sending
//                                          side, wait for the peer to close
//   qvsock recv HOST PORT FILE [options]   connect, CaptureFile until the peer
//                                          closes
//   qvsock chat HOST PORT COUNT [options]  COUNT one-line Transactions against
//                                          an echoing peer (round trips)
//
// Prints one line of key=value pairs: bytes, seconds (connect to end), MB/s,
// the process's peak working set, and how regularly a 10 ms window timer fired
// meanwhile (ticks, longest gap): the user interface's view of the transfer;
// and the receive passes that found nothing to read (would_block).
// --sleep-wait makes every wait pass sleep a fixed 2 ms instead of waiting for
// the next message for up to 2 ms; --no-timer runs no timer (ticks 0).
// Exit code 0 on success, 1 on failure (one line: what failed, where, why),
// 2 for a bad command line; --help or -h prints the usage on stdout.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Forms.h"
#include "Psock.h"
#include "SockFailure.h"

namespace {

void SleepWaitPass() {
    Application->ProcessMessages();
    if (!Application->Terminated) Sleep(2);
}

const char kUsage[] = "usage: qvsock send|recv HOST PORT FILE | chat HOST PORT COUNT [--sleep-wait] [--no-timer]\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 5) return Usage();
    std::string op = argv[1];
    if (op != "send" && op != "recv" && op != "chat") return Usage();
    bool timer = true;
    for (int i = 5; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sleep-wait") == 0) {
            PsockWaitPass = SleepWaitPass;
        } else if (std::strcmp(argv[i], "--no-timer") == 0) {
            timer = false;
        } else {
            return Usage();
        }
    }
    Application->Initialize();

    DWORD last = 0, worst = 0;
    int ticks = 0;
    const DWORD started = GetTickCount();
    bool connected = false;
    try {
        TPowersock sock(nullptr);
        sock.Host = argv[2];
        sock.Port = std::atoi(argv[3]);
        sock.TimeOut = 10000;
        int wouldBlock = 0;
        sock.OnError = [&](TObject*, uint16_t no, const std::string&) { wouldBlock += no == WSAEWOULDBLOCK; };
        sock.OnConnect = [&](TObject*) { connected = true; };
        TThreadTimer tick(nullptr);
        tick.SetInterval(timer ? 10 : 0);

        LARGE_INTEGER f, t0, t1;
        QueryPerformanceFrequency(&f);
        QueryPerformanceCounter(&t0);
        sock.Connect();
        last = GetTickCount();
        tick.SetOnTimer([&](TObject*) {
            DWORD now = GetTickCount();
            worst = std::max(worst, now - last);
            last = now;
            ++ticks;
        });
        int64_t bytes;
        int roundTrips = 0;
        if (op == "send") {
            sock.SendFile(argv[4]);
            bytes = sock.BytesSent;
            // Queued data still goes out; the peer closes once it has it all.
            shutdown(sock.SocketHandle, SD_SEND);
            while (sock.Connected && !AppTerminating()) WaitPass();
        } else if (op == "recv") {
            sock.CaptureFile(argv[4]);
            bytes = sock.BytesRcvd;
        } else {
            int count = std::atoi(argv[4]);
            bytes = 0;
            for (int i = 0; i < count; ++i) {
                std::string cmd = "NOOP " + std::to_string(i);
                if (sock.Transaction(cmd) != cmd + "\r\n") throw ESockError("unexpected reply: " + sock.LastReply);
                bytes += static_cast<int64_t>(cmd.size()) + 2;
            }
            roundTrips = count;
        }
        QueryPerformanceCounter(&t1);
        tick.SetEnabled(false);
        double secs = double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof(pmc);
        GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
        if (roundTrips) std::printf("round_trips=%d per_second=%.0f ", roundTrips, roundTrips / secs);
        std::printf("op=%s bytes=%lld seconds=%.3f mbps=%.1f peak_kb=%llu timer_ticks=%d worst_gap_ms=%lu would_block=%d\n",
                    op.c_str(), static_cast<long long>(bytes), secs, bytes / 1048576.0 / secs,
                    static_cast<unsigned long long>(pmc.PeakWorkingSetSize / 1024), ticks, worst, wouldBlock);
        return 0;
    } catch (const ESockError& e) {
        std::string line = ConnectFailureLine(e, argv[2], std::atoi(argv[3]), GetTickCount() - started, connected);
        if (line.empty() && e.Kind == TSockErrorKind::StartupFailed) line = NoDisplayLine(e.Message);
        if (line.empty()) line = e.Message + " (" + op + " with " + argv[2] + " port " + argv[3] + ")";
        std::fprintf(stderr, "qvsock: %s\n", line.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvsock: %s (%s with %s port %s)\n", e.what(), op.c_str(), argv[2], argv[3]);
        return 1;
    }
}
