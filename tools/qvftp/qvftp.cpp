// qvftp: one FTP operation with the FTP client component, the way the wizard
// uses it (passive mode, or active with -A; the same waits and checks): a
// download (resumed with -c), an upload, a listing. For diagnosing a mirror and for the benchmarks.
// See QvftpUsage for the command line.
//
// stdout: the listing of ls and nlst. stderr: for get and put a progress line
// (bytes, the announced total, the rate), with -v the protocol dialogue; with NORV_QVFTP_STATS set, a last line with the peak
// working set of the process. Exit code 0 on success, 1 on failure, 2 for a
// bad command line.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Forms.h"
#include "PsockCounts.h"
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

void PrintStats(int64_t moved) {
    if (PsockCounting) std::fprintf(stderr, "%s\n", PsockCountsText(moved).c_str());
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
    int64_t moved = 0;  // bytes of the get or put, for the counters
    try {
        TQVFTP ftp(nullptr);
        ftp.Host = args.host;
        ftp.Port = args.port;
        ftp.UserID = args.user;
        ftp.Password = args.password;
        ftp.TimeOut = args.timeoutMs;
        ftp.Passive = !args.active;
        bool progressShown = false;
        if (args.verbose) {
            ftp.ReportLevel = 1;
            ftp.OnStatus = [&](TObject*, const std::string& s) {
                if (progressShown) std::fputc('\n', stderr);
                progressShown = false;
                std::fprintf(stderr, "%s\n", StripLineEnd(s).c_str());
            };
            std::fprintf(stderr, "%s\n", args.active ? "Data connections: active mode (PORT), as asked with -A"
                                                     : "Data connections: passive mode (EPSV/PASV); -A for active");
        }
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        DWORD lastShown = 0;
        auto progress = [&](int64_t bytes) {
            const DWORD now = GetTickCount();
            if (progressShown && now - lastShown < 250) return;
            lastShown = now;
            progressShown = true;
            std::fprintf(stderr, "\r%s   ", FormatProgress(bytes, ftp.BytesTotal, Seconds(start)).c_str());
        };
        int64_t had = 0;  // get -c: what the local file held before
        ftp.OnPacketRecvd = [&](TObject*) {
            if (args.command == "get") progress(had + ftp.GetBytesRcvd());
        };
        ftp.OnPacketSent = [&](TObject*) { progress(ftp.GetBytesSent()); };
        auto done = [&](int64_t bytes) {
            moved = bytes;
            std::fprintf(stderr, "\r%s   \n", FormatProgress(bytes, -1, Seconds(start)).c_str());
            progressShown = false;
        };

        ftp.Connect();
        ftp.Mode(2);  // binary: the file as it is on the server
        if (args.command == "get") {
            had = args.resume ? FileSize(args.local) : 0;
            const bool resume = args.resume && GetFileAttributesA(args.local.c_str()) != INVALID_FILE_ATTRIBUTES;
            QueryPerformanceCounter(&start);
            if (resume) ftp.DownloadRestore(args.remote, args.local);
            else ftp.Download(args.remote, args.local);
            done(FileSize(args.local) - had);
        } else if (args.command == "put") {
            QueryPerformanceCounter(&start);
            ftp.Upload(args.local, args.remote);
            done(FileSize(args.local));
        } else {
            if (!args.remote.empty()) ftp.ChangeDir(args.remote);
            std::vector<std::string> lines;
            ftp.OnListItem = [&](TObject*, const std::string& line) { lines.push_back(line); };
            if (args.command == "ls") {
                ftp.ParseList = true;
                ftp.List();
            } else {
                ftp.Nlist();
            }
            const TFTPDirectoryList* dir = ftp.DirectoryList;
            if (args.command == "ls" && dir && ftp.Vendor != VendorOther) {
                for (int i = 0; i < dir->Names->Count(); ++i)
                    std::printf("%s\n", FormatListEntry((*dir->Attributes)[i], (*dir->Sizes)[i], (*dir->Dates)[i],
                                                        (*dir->Names)[i]).c_str());
            } else {
                // A system the client cannot read: the lines as they came.
                for (const std::string& line : lines) std::printf("%s\n", StripLineEnd(line).c_str());
            }
            std::fflush(stdout);
        }
        try {
            ftp.Disconnect();
        } catch (const std::exception& e) {
            // The file is whole; a refused QUIT is only worth a word.
            std::fprintf(stderr, "qvftp: QUIT: %s\n", StripLineEnd(e.what()).c_str());
        }
    } catch (const EPassiveError& e) {
        std::fprintf(stderr, "\nqvftp: passive mode failed: %s (-A tries active mode)\n", StripLineEnd(e.what()).c_str());
        rc = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\nqvftp: %s\n", StripLineEnd(e.what()).c_str());
        rc = 1;
    }
    PrintStats(moved);
    return rc;
}
