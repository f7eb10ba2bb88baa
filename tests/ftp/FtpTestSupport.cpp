#include "FtpTestSupport.h"

#include <cstdio>
#include <cstring>

#include "FtpReply.h"

namespace ftptest {

namespace {

// One request to the admin port; the answer lines (up to "." for LOG).
std::vector<std::string> Admin(const std::string& request, bool multi) {
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
    std::vector<std::string> out;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(kScriptedAdmin));
    sa.sin_addr.s_addr = inet_addr(kScriptedAddr);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0) {
        std::string req = request + "\n";
        send(s, req.data(), static_cast<int>(req.size()), 0);
        std::string buf;
        char chunk[4096];
        for (;;) {
            size_t lf;
            while ((lf = buf.find('\n')) != std::string::npos) {
                std::string line = buf.substr(0, lf);
                buf.erase(0, lf + 1);
                if (multi && line == ".") goto done;
                out.push_back(line);
                if (!multi) goto done;
            }
            int n = recv(s, chunk, sizeof(chunk), 0);
            if (n <= 0) break;
            buf.append(chunk, static_cast<size_t>(n));
        }
    }
done:
    closesocket(s);
    WSACleanup();
    return out;
}

}  // namespace

bool LoadScenario(const std::string& json) {
    std::string flat = json;
    for (char& c : flat)
        if (c == '\n' || c == '\r') c = ' ';
    auto r = Admin("SCENARIO " + flat, false);
    return !r.empty() && r[0] == "OK";
}

bool WaitIdle(double seconds) {
    char req[64];
    std::snprintf(req, sizeof req, "WAIT %.1f", seconds);
    auto r = Admin(req, false);
    return !r.empty() && r[0] == "OK";
}

std::vector<std::string> ServerLog() { return Admin("LOG", true); }

bool Logged(const std::vector<std::string>& log, const std::string& entry) {
    for (const auto& e : log)
        if (e == entry) return true;
    return false;
}

std::vector<std::string> LoggedStarting(const std::vector<std::string>& log, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : log)
        if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
}

std::string Pattern(size_t offset, size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((offset + i) % 251);
    return s;
}

std::string ReadFile(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteFile(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

std::string TempFile(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string path = std::string(dir) + "ftptest_" + name;
    DeleteFileA(path.c_str());
    return path;
}

bool SameFiles(const std::string& a, const std::string& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    static char ba[1 << 16], bb[1 << 16];
    while (same) {
        size_t na = std::fread(ba, 1, sizeof ba, fa), nb = std::fread(bb, 1, sizeof bb, fb);
        if (na != nb || std::memcmp(ba, bb, na) != 0) same = false;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

Recorder::Recorder(TQVFTP& f) : ftp(f) {
    ftp.ReportLevel = 1;
    ftp.OnStatus = [this](TObject*, const std::string& s) { status.push_back(StripLineEnd(s)); };
    ftp.OnSuccess = [this](TObject*, TCmdType k) { successes.push_back(k); };
    ftp.OnFailure = [this](TObject*, bool& handled, TCmdType k) {
        failures.push_back(k);
        handled = handleFailures;
    };
    ftp.OnUnSupportedFunction = [this](TObject*, TCmdType k) { unsupported.push_back(k); };
    ftp.OnPacketRecvd = [this](TObject*) { ++packets; };
}

Recorder::~Recorder() {
    ftp.OnStatus = nullptr;
    ftp.OnSuccess = nullptr;
    ftp.OnFailure = nullptr;
    ftp.OnUnSupportedFunction = nullptr;
    ftp.OnPacketRecvd = nullptr;
}

bool Recorder::Saw(const std::string& text) const {
    for (const auto& s : status)
        if (s == text) return true;
    return false;
}

namespace {
std::string EnvText(const char* name) {
    char buf[512];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}
}  // namespace

void UseTestServer(TQVFTP& ftp) {
    const std::string host = EnvText("NORV_FTP_HOST");
    ftp.Host = host.empty() ? "ftp.norv.test" : host;
    ftp.Passive = EnvText("NORV_FTP_PASSIVE") == "1";
}

bool IsDataSetUp(const std::string& status) {
    return status.rfind("PORT ", 0) == 0 || status == "EPSV" || status == "PASV";
}

}  // namespace ftptest
