// The test environment itself: a real FTP server, a silent address and the
// private host names are there for the suites that need them.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <string>

#include "Driver.h"

namespace {

struct Winsock {
    Winsock() {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
    ~Winsock() { WSACleanup(); }
};

// Connects without blocking; true when the connection completed in time.
bool ConnectWithin(const char* addr, int port, int ms, SOCKET* out = nullptr) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nb = 1;
    ioctlsocket(s, FIONBIO, &nb);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(port));
    sa.sin_addr.s_addr = inet_addr(addr);
    connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    fd_set w, e;
    FD_ZERO(&w);
    FD_ZERO(&e);
    FD_SET(s, &w);
    FD_SET(s, &e);
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    int r = select(0, nullptr, &w, &e, &tv);
    bool ok = r > 0 && FD_ISSET(s, &w);
    if (ok && out) {
        nb = 0;
        ioctlsocket(s, FIONBIO, &nb);
        *out = s;
    } else {
        closesocket(s);
    }
    return ok;
}

TEST(Harness, VsftpdFixtureGreetsAWin32Client) {
    Winsock ws;
    SOCKET s = INVALID_SOCKET;
    ASSERT_TRUE(ConnectWithin("127.0.0.1", 2121, 5000, &s));
    char buf[256] = {};
    int n = recv(s, buf, sizeof(buf) - 1, 0);
    closesocket(s);
    ASSERT_GT(n, 3);
    EXPECT_EQ(std::string(buf, 3), "220");
}

TEST(Harness, SilentAddressSwallowsConnects) {
    Winsock ws;
    std::string silent = drv::Env("NORV_SILENT_ADDR");
    if (silent.empty()) GTEST_SKIP() << "not inside the test namespace (NORV_SILENT_ADDR unset)";
    DWORD start = GetTickCount();
    EXPECT_FALSE(ConnectWithin(silent.c_str(), 21, 1500));
    EXPECT_GE(GetTickCount() - start, 1400u) << "the connect must neither succeed nor be refused";
}

TEST(Harness, PrivateHostNamesResolve) {
    Winsock ws;
    if (drv::Env("NORV_SILENT_ADDR").empty()) GTEST_SKIP() << "not inside the test namespace";
    hostent* h = gethostbyname("mirror2.norv.test");
    ASSERT_NE(h, nullptr);
    in_addr a;
    memcpy(&a, h->h_addr_list[0], 4);
    EXPECT_STREQ(inet_ntoa(a), "127.0.0.12");
    EXPECT_EQ(gethostbyname("unknown.norv.test"), nullptr);
}

}  // namespace
