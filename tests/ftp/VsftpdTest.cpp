// The FTP client against a real server (vsftpd, anonymous read) in the test
// namespace: login, directories, downloads small, empty and large, refusals.
#include <gtest/gtest.h>

#include "Driver.h"
#include "FtpTestSupport.h"
#include "Qvftp.h"

using namespace ftptest;

namespace {

std::string Root() { return drv::Env("NORV_FTP_ROOT"); }

struct Vsftpd : ::testing::Test {
    void SetUp() override {
        if (Root().empty()) GTEST_SKIP() << "NORV_FTP_ROOT not set: run through ctest in the test namespace";
        UseTestServer(ftp);
        ftp.UserID = "anonymous";
        ftp.Password = "norv@norv.com";
    }
    TQVFTP ftp{nullptr};
};

TEST_F(Vsftpd, LoginDirectoriesAndQuit) {
    Recorder rec(ftp);
    bool loggedIn = false;
    ftp.OnConnect = [&](TObject*) { loggedIn = true; };
    ftp.Connect();
    EXPECT_TRUE(ftp.Connected);
    EXPECT_TRUE(loggedIn);
    EXPECT_TRUE(rec.Saw("USER anonymous"));
    EXPECT_TRUE(rec.Saw("230 Login successful."));

    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    ftp.ChangeDir("sub");
    EXPECT_EQ(ftp.GetCurrentDir(), "/sub");
    ftp.ChangeDir("..");
    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    EXPECT_EQ(rec.successes, (std::vector<TCmdType>{cmdCurrentDir, cmdChangeDir, cmdCurrentDir, cmdChangeDir, cmdCurrentDir}));

    // A refused CWD: handled, nothing raised; unhandled, the server's line.
    rec.handleFailures = true;
    ftp.ChangeDir("no-such-dir");
    EXPECT_EQ(rec.failures, std::vector<TCmdType>{cmdChangeDir});
    ftp.OnFailure = nullptr;
    bool isFtp = false;
    std::string text = RaisedAs<FTPException>([&] { ftp.ChangeDir("no-such-dir"); }, &isFtp);
    EXPECT_TRUE(isFtp);
    EXPECT_EQ(text.substr(0, 4), "550 ");
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

    ftp.Disconnect();
    EXPECT_FALSE(ftp.Connected);
    EXPECT_TRUE(rec.Saw("QUIT"));
    EXPECT_TRUE(rec.Saw("221 Goodbye."));
    // Not connected any more: operations say so.
    EXPECT_EQ(RaisedAs<Exception>([&] { ftp.ChangeDir("sub"); }), std::string(SockText::NotConnected));
    // And the same object logs in again.
    ftp.Connect();
    EXPECT_TRUE(ftp.Connected);
}

TEST_F(Vsftpd, SmallEmptyAndLargeDownloadsOnOneConnection) {
    Recorder rec(ftp);
    ftp.Connect();
    const std::string small = TempFile("small.txt"), empty = TempFile("empty.bin"), big = TempFile("big64.bin");

    const std::string smallText = ReadFile(Root() + "\\small.txt");
    ASSERT_FALSE(smallText.empty());
    ftp.Download("small.txt", small);
    EXPECT_EQ(ReadFile(small), smallText);
    EXPECT_EQ(ftp.BytesTotal, static_cast<int32_t>(smallText.size()));
    EXPECT_TRUE(rec.Saw("Received " + std::to_string(smallText.size()) + " Bytes"));
    EXPECT_EQ(ftp.DataSocket, nullptr);
    EXPECT_EQ(ftp.GetBytesRcvd(), 0);

    ftp.Download("empty.bin", empty);
    EXPECT_TRUE(FileExists(empty));
    EXPECT_EQ(ReadFile(empty), "");
    EXPECT_EQ(ftp.BytesTotal, 0);
    EXPECT_TRUE(rec.Saw("Received 0 Bytes"));

    // 64 MB, with progress: the total is announced before the data comes.
    int32_t announcedSeen = 0, lastRcvd = 0;
    bool monotonic = true;
    ftp.OnPacketRecvd = [&](TObject* sender) {
        EXPECT_EQ(sender, ftp.DataSocket);
        announcedSeen = ftp.BytesTotal;
        if (ftp.GetBytesRcvd() < lastRcvd) monotonic = false;
        lastRcvd = ftp.GetBytesRcvd();
    };
    ftp.Mode(2);
    ftp.Download("/big64.bin", big);
    EXPECT_EQ(announcedSeen, 67108864);
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(ftp.BytesTotal, 67108864);
    EXPECT_TRUE(SameFiles(big, Root() + "\\big64.bin"));
    EXPECT_EQ(std::count(rec.successes.begin(), rec.successes.end(), cmdDownload), 3);

    // The connection is still good for commands.
    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    ftp.Disconnect();
    DeleteFileA(small.c_str());
    DeleteFileA(empty.c_str());
    DeleteFileA(big.c_str());
}

TEST_F(Vsftpd, MissingFileLeavesNoLocalFile) {
    Recorder rec(ftp);
    ftp.Connect();
    const std::string local = TempFile("missing.bin");

    ftp.OnFailure = nullptr;
    bool isFtp = false;
    std::string text = RaisedAs<FTPException>([&] { ftp.Download("missing.bin", local); }, &isFtp);
    EXPECT_TRUE(isFtp);
    EXPECT_EQ(text, "550 Failed to open file.\r\n");
    EXPECT_FALSE(FileExists(local));
    EXPECT_EQ(ftp.DataSocket, nullptr);

    // Handled: no exception, no file, no success; the next download works.
    Recorder handled(ftp);
    handled.handleFailures = true;
    ftp.Download("missing.bin", local);
    EXPECT_EQ(handled.failures, std::vector<TCmdType>{cmdDownload});
    EXPECT_TRUE(handled.successes.empty());
    EXPECT_FALSE(FileExists(local));

    ftp.Download("small.txt", local);
    EXPECT_EQ(ReadFile(local), ReadFile(Root() + "\\small.txt"));
    ftp.Disconnect();
    DeleteFileA(local.c_str());
}

TEST_F(Vsftpd, EmptyLocalNameUsesTheRemoteNameAndBadLocalPathFails) {
    ftp.Connect();
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    SetCurrentDirectoryA(dir);
    DeleteFileA("small.txt");
    ftp.Download("small.txt", "");
    EXPECT_EQ(ReadFile(std::string(dir) + "small.txt"), ReadFile(Root() + "\\small.txt"));
    DeleteFileA("small.txt");
    SetCurrentDirectoryA(cwd);

    // A local file that cannot be created: the file error, and the control
    // connection stays usable.
    bool isCreate = false;
    RaisedAs<EFCreateError>([&] { ftp.Download("small.txt", std::string(dir) + "no\\such\\dir\\x.txt"); }, &isCreate);
    EXPECT_TRUE(isCreate);
    EXPECT_TRUE(ftp.Connected);
    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    ftp.Disconnect();
}

TEST_F(Vsftpd, QuitIsSentWhenTheClientGoes) {
    const std::string log = drv::Env("NORV_FTP_LOG");
    if (log.empty()) GTEST_SKIP() << "NORV_FTP_LOG not set";
    {
        TQVFTP gone(nullptr);
        UseTestServer(gone);
        gone.UserID = "anonymous";
        gone.Password = "x@y.z";
        gone.Connect();
        gone.ChangeDir("sub");
    }  // the destructor disconnects
    Sleep(300);
    const std::string text = ReadFile(log);
    const size_t cwd = text.rfind("\"CWD sub\"");
    ASSERT_NE(cwd, std::string::npos);
    EXPECT_NE(text.find("\"QUIT\"", cwd), std::string::npos);
}

}  // namespace
