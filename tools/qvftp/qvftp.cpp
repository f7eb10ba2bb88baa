// qvftp: downloads one file with the FTP client component, the way the wizard
// does (active mode, the same waits and checks), for diagnosing a mirror and
// for the benchmark. See QvftpUsage for the command line.
//
// stderr: a progress line (bytes, the announced total, the rate), with -v the
// protocol dialogue; with NORV_QVFTP_STATS set, a last line with the peak
// working set of the process. Exit code 0 on success, 1 on failure, 2 for a
// bad command line.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Forms.h"
#include "FtpReply.h"
#include "Qvftp.h"
#include "QvftpArgs.h"

namespace {

double Seconds(LARGE_INTEGER from) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(freq.QuadPart);
}

int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return 0;
    return (static_cast<int64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

void PrintStats() {
    if (!std::getenv("NORV_QVFTP_STATS")) return;
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)))
        std::fprintf(stderr, "peak_working_set=%llu\n", static_cast<unsigned long long>(pmc.PeakWorkingSetSize));
}

}  // namespace

int main(int argc, char** argv) {
    TQvftpArgs args;
    const std::string error = ParseQvftpArgs(std::vector<std::string>(argv + 1, argv + argc), args);
    if (!error.empty()) {
        std::fprintf(stderr, "qvftp: %s\n%s", error.c_str(), QvftpUsage().c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(QvftpUsage().c_str(), stdout);
        return 0;
    }
    Application->Initialize();

    int rc = 0;
    try {
        TQVFTP ftp(nullptr);
        ftp.Host = args.host;
        ftp.Port = args.port;
        ftp.UserID = args.user;
        ftp.Password = args.password;
        ftp.TimeOut = args.timeoutMs;
        bool progressShown = false;
        if (args.verbose) {
            ftp.ReportLevel = 1;
            ftp.OnStatus = [&](TObject*, const std::string& s) {
                if (progressShown) std::fputc('\n', stderr);
                progressShown = false;
                std::fprintf(stderr, "%s\n", StripLineEnd(s).c_str());
            };
        }
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        DWORD lastShown = 0;
        ftp.OnPacketRecvd = [&](TObject*) {
            const DWORD now = GetTickCount();
            if (progressShown && now - lastShown < 250) return;
            lastShown = now;
            progressShown = true;
            std::fprintf(stderr, "\r%s   ", FormatProgress(ftp.GetBytesRcvd(), ftp.BytesTotal, Seconds(start)).c_str());
        };

        ftp.Connect();
        ftp.Mode(2);  // binary: the file as it is on the server
        QueryPerformanceCounter(&start);
        ftp.Download(args.remote, args.local);
        const double took = Seconds(start);
        std::fprintf(stderr, "\r%s   \n", FormatProgress(FileSize(args.local), -1, took).c_str());
        progressShown = false;
        try {
            ftp.Disconnect();
        } catch (const std::exception& e) {
            // The file is whole; a refused QUIT is only worth a word.
            std::fprintf(stderr, "qvftp: QUIT: %s\n", StripLineEnd(e.what()).c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\nqvftp: %s\n", StripLineEnd(e.what()).c_str());
        rc = 1;
    }
    PrintStats();
    return rc;
}
