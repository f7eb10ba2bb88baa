// qvftp: one FTP operation with the FTP client component, the way the wizard
// uses it (passive mode, or active with -A; the same waits and checks): a
// download (resumed with -c), an upload, a listing. For diagnosing a mirror and for the benchmarks.
// See QvftpUsage for the command line.
//
// stdout: the listing of ls and nlst. stderr: for get and put a progress
// meter while standard error is a console, then one summary line (bytes,
// the rate); with -v the protocol dialogue; on failure one line that says
// what failed, at which host and port, and why; with NORV_QVFTP_STATS set, a
// last line with the peak working set of the process. Exit code 0 on
// success, 1 on failure, 2 for a bad command line.
#include <windows.h>
#include <psapi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Forms.h"
#include "FtpReply.h"
#include "Qvftp.h"
#include "QvftpArgs.h"
#include "SockFailure.h"
#include "ToolConsole.h"

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

// What the client was doing, as far as the tool follows it: whether the
// control connection came up, and the last command it sent.
struct TTrail {
    std::string host;
    int port = 0;
    DWORD started = 0;       // tick count before the look-up
    bool connected = false;  // the TCP connection to the server came up
    std::string command;     // the last command sent, "" before the first

    std::string Where() const { return host + " port " + std::to_string(port); }
    std::string After() const { return command.empty() ? std::string() : ", after " + command; }
    DWORD Elapsed() const { return GetTickCount() - started; }
};

// A status line of the client that is a command it sends ("RETR x", "PASS "):
// its first word is three or four capital letters.
bool IsCommandLine(const std::string& line) {
    size_t n = 0;
    while (n < line.size() && line[n] >= 'A' && line[n] <= 'Z') ++n;
    return (n == 3 || n == 4) && (n == line.size() || line[n] == ' ');
}

bool StartsWithReplyCode(const std::string& text) {
    return text.size() >= 3 && std::isdigit(static_cast<unsigned char>(text[0])) &&
           std::isdigit(static_cast<unsigned char>(text[1])) && std::isdigit(static_cast<unsigned char>(text[2]));
}

// The one failure line (without "qvftp: "): what failed, where and why. It
// branches on the exception's type and the socket error's kind; the texts
// are the components' own and are only shown.
std::string DescribeFailure(const std::exception& failure, const TTrail& trail, const TQvftpArgs& args,
                            int32_t serverWaitMs) {
    const std::string text = StripLineEnd(failure.what());
    const std::string where = trail.Where();
    if (dynamic_cast<const EPassiveError*>(&failure)) {
        const std::string context = StartsWithReplyCode(text) ? "the answer to " + trail.command + " from " + where
                                                               : where;
        return "passive mode failed: " + text + " (" + context + "; -A tries active mode)";
    }
    if (dynamic_cast<const FTPException*>(&failure)) {
        if (!StartsWithReplyCode(text)) return text + " (" + trail.command + " at " + where + ")";
        std::string context = "the answer to " + (trail.command.empty() ? "the greeting" : trail.command) + " from " + where;
        if (trail.command.rfind("USER", 0) == 0 || trail.command.rfind("PASS", 0) == 0)
            context += ", logging in as " + args.user;
        return text + " (" + context + ")";
    }
    if (dynamic_cast<const EFCreateError*>(&failure))
        return "cannot write the local file " + args.local + ": " + text + " (" + trail.command + " from " + where + ")";
    if (dynamic_cast<const EFOpenError*>(&failure))
        return "cannot read the local file " + args.local + ": " + text;
    const auto* sock = dynamic_cast<const ESockError*>(&failure);
    if (!sock) return text + " (" + where + trail.After() + ")";
    if (sock->Kind == TSockErrorKind::StartupFailed) {
        const std::string noDisplay = NoDisplayLine(text);
        return noDisplay.empty() ? text : noDisplay;
    }
    const std::string early = ConnectFailureLine(*sock, trail.host, trail.port, trail.Elapsed(), trail.connected);
    if (!early.empty()) return early;
    const std::string waiting = trail.command.empty() ? "waiting for the greeting" : "waiting after " + trail.command;
    switch (sock->Kind) {
    case TSockErrorKind::TimedOut:
        return "Operation timed out: nothing from " + where + " for " + std::to_string(serverWaitMs) + " ms, " +
               waiting + " (" + text + ")";
    case TSockErrorKind::PeerClosed:
        return where + " closed the connection, " + waiting + " (" + text + ")";
    default:
        return text + " (" + where + trail.After() + ")";
    }
}

}  // namespace

int main(int argc, char** argv) {
    TQvftpArgs args;
    const std::string error = ParseQvftpArgs(std::vector<std::string>(argv + 1, argv + argc), args);
    if (!error.empty()) {
        const std::string usage = QvftpUsage();
        // The forms only; --help gives the rest.
        std::fprintf(stderr, "qvftp: %s\n%s(qvftp --help tells more)\n", error.c_str(),
                     usage.substr(0, usage.find("\n  URL")+1).c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(QvftpUsage().c_str(), stdout);
        return 0;
    }
    Application->Initialize();

    TTrail trail;
    trail.host = args.host;
    trail.port = args.port;
    trail.started = GetTickCount();
    // The meter only on a console; the summary line unless -q.
    const bool meter = !args.quiet && StderrIsConsole();
    bool progressShown = false;  // a meter line is on the screen, without its line end
    size_t meterWidth = 0;
    auto endMeterLine = [&] {
        if (progressShown) std::fputc('\n', stderr);
        progressShown = false;
    };
    int32_t serverWaitMs = 0;
    int rc = 0;
    try {
        TQVFTP ftp(nullptr);
        ftp.Host = args.host;
        ftp.Port = args.port;
        ftp.UserID = args.user;
        ftp.Password = args.password;
        ftp.TimeOut = args.timeoutMs;
        ftp.Passive = !args.active;
        // The dialogue at level 1 shows what the client is doing: the last
        // command sent is what a failure answers. Printed only with -v.
        ftp.ReportLevel = 1;
        ftp.OnStatus = [&](TObject*, const std::string& s) {
            std::string line = StripLineEnd(s);
            // A failed login or transfer ends with the client's QUIT: the
            // failure answered the command before it.
            if (IsCommandLine(line) && line != "QUIT") trail.command = line.substr(0, line.find_last_not_of(' ') + 1);
            if (!args.verbose) return;
            endMeterLine();
            std::fprintf(stderr, "%s\n", line.c_str());
        };
        // The connection's own connect event: the TCP connection is up (the
        // client's OnConnect comes after the login).
        ftp.TPowersock::OnConnect = [&](TObject*) { trail.connected = true; };
        if (args.verbose)
            std::fprintf(stderr, "%s\n", args.active ? "Data connections: active mode (PORT), as asked with -A"
                                                     : "Data connections: passive mode (EPSV/PASV); -A for active");
        serverWaitMs = ftp.ServerWaitLimit();
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        DWORD lastShown = 0;
        int64_t total = -1;  // the size the transfer will have, when known
        auto progress = [&](int64_t bytes) {
            if (!meter) return;
            const DWORD now = GetTickCount();
            if (progressShown && now - lastShown < 250) return;
            lastShown = now;
            std::string line = FormatMeter(bytes, total > 0 ? total : ftp.BytesTotal, Seconds(start));
            const size_t width = line.size();
            // Blanks over what a longer line before left.
            if (width < meterWidth) line += std::string(meterWidth - width, ' ');
            meterWidth = width;
            std::fprintf(stderr, "\r%s", line.c_str());
            std::fflush(stderr);
            progressShown = true;
        };
        int64_t had = 0;  // get -c: what the local file held before
        ftp.OnPacketRecvd = [&](TObject*) {
            if (args.command == "get") {
                if (total < 0 && ftp.BytesTotal > 0) total = had + ftp.BytesTotal;
                progress(had + ftp.GetBytesRcvd());
            }
        };
        ftp.OnPacketSent = [&](TObject*) { progress(ftp.GetBytesSent()); };
        auto done = [&](int64_t bytes) {
            if (progressShown) std::fprintf(stderr, "\r%s\r", std::string(meterWidth, ' ').c_str());
            progressShown = false;
            if (!args.quiet) std::fprintf(stderr, "%s\n", FormatProgress(bytes, -1, Seconds(start)).c_str());
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
            total = FileSize(args.local);
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
            std::fprintf(stderr, "qvftp: QUIT: %s (%s)\n", StripLineEnd(e.what()).c_str(), trail.Where().c_str());
        }
    } catch (const std::exception& e) {
        endMeterLine();
        std::fprintf(stderr, "qvftp: %s\n", DescribeFailure(e, trail, args, serverWaitMs).c_str());
        rc = 1;
    }
    PrintStats();
    return rc;
}
