// ftploop: the fastest an FTP transfer gets under Wine, as the yardstick for
// qvftp. A bare console client with plain blocking Winsock: the least dialogue
// (USER, PASS, TYPE I, EPSV or PORT, RETR or STOR), recv and send of up to
// 4 MiB a call (larger calls measured faster, so the bar takes them), the file
// written and read with WriteFile/ReadFile in 4 MiB blocks, nothing else: no
// window, no messages, no events.
//
//   ftploop get|put [-A] HOST REMOTE-PATH LOCAL-FILE
//
// -A: active mode (PORT), else passive (EPSV). stderr gets the same last line
// as qvftp ("N bytes  R MB/s", timed from the data connection's set-up to the
// closing reply), its recv or send calls and file writes or reads per MiB,
// and the seconds spent in each kind of call. Exit code 0 on success, 1 on
// failure, 2 for a bad command line.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kSocketCall = 4 << 20;     // bytes per recv/send
constexpr DWORD kFileBlock = 4u << 20;   // bytes per ReadFile/WriteFile
constexpr int kSocketBuffer = 4 << 20;   // SO_RCVBUF / SO_SNDBUF asked for

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "ftploop: %s (%d)\n", what.c_str(), WSAGetLastError());
    std::exit(1);
}

// The control connection: lines in, commands out.
class TControl {
public:
    explicit TControl(SOCKET s) : s_(s) {}
    std::string Line() {
        for (;;) {
            const size_t lf = in_.find('\n');
            if (lf != std::string::npos) {
                std::string line = in_.substr(0, lf + 1);
                in_.erase(0, lf + 1);
                return line;
            }
            char b[4096];
            const int n = recv(s_, b, sizeof b, 0);
            if (n <= 0) Fail("control connection closed");
            in_.append(b, n);
        }
    }
    // A whole reply (continuation lines skipped); returns its code, its first line in text.
    int Reply(std::string* text = nullptr) {
        std::string first = Line();
        if (text) *text = first;
        if (first.size() >= 4 && first[3] == '-') {
            const std::string end = first.substr(0, 3) + " ";
            for (std::string l = Line(); l.compare(0, 4, end) != 0; l = Line()) {
            }
        }
        return std::atoi(first.c_str());
    }
    int Command(const std::string& c, std::string* text = nullptr) {
        const std::string line = c + "\r\n";
        if (send(s_, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size()))
            Fail("send " + c);
        return Reply(text);
    }
    SOCKET Socket() const { return s_; }

private:
    SOCKET s_;
    std::string in_;
};

SOCKET Open(int bufferOption) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) Fail("socket");
    if (bufferOption) setsockopt(s, SOL_SOCKET, bufferOption, reinterpret_cast<const char*>(&kSocketBuffer), sizeof kSocketBuffer);
    return s;
}

double Now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// Calls f and adds the time it took to into: the time in socket and file
// calls, as qvftp's counters take it.
template <typename F>
auto Timed(double& into, F f) {
    const double t = Now();
    auto result = f();
    into += Now() - t;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    bool active = false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] == "-A") {
            active = true;
            a.erase(a.begin() + static_cast<long>(i));
            break;
        }
    if (a.size() != 4 || (a[0] != "get" && a[0] != "put")) {
        std::fprintf(stderr, "usage: ftploop get|put [-A] HOST REMOTE-PATH LOCAL-FILE\n");
        return 2;
    }
    const bool get = a[0] == "get";
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) Fail("WSAStartup");

    sockaddr_in server = {};
    server.sin_family = AF_INET;
    server.sin_port = htons(21);
    server.sin_addr.s_addr = inet_addr(a[1].c_str());
    if (server.sin_addr.s_addr == INADDR_NONE) Fail("HOST must be a dotted address");
    TControl ctl(Open(0));
    if (connect(ctl.Socket(), reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) Fail("connect");
    if (ctl.Reply() != 220) Fail("greeting");
    int code = ctl.Command("USER anonymous");
    if (code == 331) code = ctl.Command("PASS ftploop@");
    if (code != 230) Fail("login");
    if (ctl.Command("TYPE I") != 200) Fail("TYPE I");

    const double start = Now();
    const int option = get ? SO_RCVBUF : SO_SNDBUF;
    SOCKET data = Open(option);
    SOCKET listener = INVALID_SOCKET;
    std::string reply;
    if (active) {
        listener = Open(option);  // the accepted socket inherits the buffer size
        sockaddr_in here = {};
        int len = sizeof here;
        getsockname(ctl.Socket(), reinterpret_cast<sockaddr*>(&here), &len);
        here.sin_port = 0;
        if (bind(listener, reinterpret_cast<sockaddr*>(&here), sizeof here) != 0 || listen(listener, 1) != 0)
            Fail("listen");
        len = sizeof here;
        getsockname(listener, reinterpret_cast<sockaddr*>(&here), &len);
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&here.sin_addr);
        const unsigned port = ntohs(here.sin_port);
        char cmd[64];
        std::snprintf(cmd, sizeof cmd, "PORT %u,%u,%u,%u,%u,%u", b[0], b[1], b[2], b[3], port >> 8, port & 255);
        if (ctl.Command(cmd) != 200) Fail("PORT");
    } else {
        if (ctl.Command("EPSV", &reply) != 229) Fail("EPSV");
        const size_t bars = reply.find("|||");
        if (bars == std::string::npos) Fail("EPSV reply");
        sockaddr_in to = server;
        to.sin_port = htons(static_cast<u_short>(std::atoi(reply.c_str() + bars + 3)));
        if (connect(data, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) Fail("data connect");
    }
    code = ctl.Command((get ? "RETR " : "STOR ") + a[2]);
    if (code < 100 || code >= 200) Fail("transfer refused");
    if (active) {
        closesocket(data);
        data = accept(listener, nullptr, nullptr);
        if (data == INVALID_SOCKET) Fail("accept");
        closesocket(listener);
    }

    HANDLE file = get ? CreateFileA(a[3].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                      : CreateFileA(a[3].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("cannot open " + a[3]);
    std::vector<char> block(kFileBlock);
    long long moved = 0, socketCalls = 0, fileCalls = 0;
    double socketSeconds = 0, fileSeconds = 0;
    if (get) {
        DWORD fill = 0;
        for (;;) {
            const int want = static_cast<int>(std::min<DWORD>(kSocketCall, kFileBlock - fill));
            const int n = Timed(socketSeconds, [&] { return recv(data, block.data() + fill, want, 0); });
            ++socketCalls;
            if (n < 0) Fail("recv");
            fill += static_cast<DWORD>(n);
            moved += n;
            if (fill == kFileBlock || (n == 0 && fill > 0)) {
                DWORD put = 0;
                if (!Timed(fileSeconds, [&] { return WriteFile(file, block.data(), fill, &put, nullptr); }) || put != fill)
                    Fail("WriteFile");
                ++fileCalls;
                fill = 0;
            }
            if (n == 0) break;
        }
    } else {
        for (;;) {
            DWORD got = 0;
            if (!Timed(fileSeconds, [&] { return ReadFile(file, block.data(), kFileBlock, &got, nullptr); }))
                Fail("ReadFile");
            ++fileCalls;
            if (got == 0) break;
            for (DWORD off = 0; off < got;) {
                const int n = Timed(socketSeconds, [&] {
                    return send(data, block.data() + off, static_cast<int>(std::min<DWORD>(kSocketCall, got - off)), 0);
                });
                if (n <= 0) Fail("send");
                ++socketCalls;
                off += static_cast<DWORD>(n);
            }
            moved += got;
        }
        shutdown(data, SD_SEND);
    }
    CloseHandle(file);
    closesocket(data);
    if (ctl.Reply(&reply) != 226) Fail("closing reply: " + reply);
    const double seconds = Now() - start;
    const double mib = moved > 0 ? moved / 1048576.0 : 1.0;
    std::fprintf(stderr, "%lld bytes  %.1f MB/s  per MiB: %s=%.1f file_%s=%.2f; seconds: %s=%.3f file=%.3f\n", moved,
                 seconds > 0 ? moved / seconds / 1e6 : 0.0, get ? "recv" : "send", socketCalls / mib,
                 get ? "writes" : "reads", fileCalls / mib, get ? "recv" : "send", socketSeconds, fileSeconds);
    ctl.Command("QUIT");
    closesocket(ctl.Socket());
    WSACleanup();
    return 0;
}
