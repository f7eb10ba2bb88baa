// Uploads and listings of the FTP client against vsftpd in the test
// namespace: every way of storing a file (contents compared on the server's
// disk), a resumed download, LIST parsed as the UNIX kind, NLST, and the
// server kind asked for again after a new login.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <typeinfo>

#include "Driver.h"
#include "FtpTestSupport.h"
#include "Qvftp.h"

using namespace ftptest;

namespace {

std::string Root() { return drv::Env("NORV_FTP_ROOT"); }
std::string Incoming(const std::string& name) { return Root() + "\\incoming\\" + name; }

struct VsftpdStore : ::testing::Test {
    void SetUp() override {
        if (Root().empty()) GTEST_SKIP() << "NORV_FTP_ROOT not set: run through ctest in the test namespace";
        UseTestServer(ftp);
        ftp.UserID = "anonymous";
        ftp.Password = "norv@norv.com";
    }
    TQVFTP ftp{nullptr};
};

size_t Count(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<size_t>(std::count(v.begin(), v.end(), s));
}

TEST_F(VsftpdStore, UploadsStoreAppendAndRestartWithTheRightContents) {
    // An odd size, so that the last chunk is a short one.
    const std::string data = Pattern(0, 300001), more = Pattern(7, 70000);
    const std::string local = TempFile("upload source.bin"), local2 = TempFile("append.bin");
    WriteFile(local, data);
    WriteFile(local2, more);
    for (const char* n : {"stored.bin", "ftptest_upload source.bin", "restart.bin"}) DeleteFileA(Incoming(n).c_str());

    Recorder rec(ftp);
    int sent = 0;
    bool senderIsData = true;
    ftp.OnPacketSent = [&](TObject* sender) {
        ++sent;
        if (sender != ftp.DataSocket) senderIsData = false;
    };
    ftp.Connect();
    ftp.Mode(2);
    ftp.ChangeDir("incoming");

    ftp.Upload(local, "stored.bin");
    EXPECT_EQ(ReadFile(Incoming("stored.bin")), data);
    EXPECT_EQ(ftp.BytesTotal, 300001);
    EXPECT_GE(sent, 300001 / SocketChunk);
    EXPECT_TRUE(senderIsData);
    EXPECT_EQ(ftp.DataSocket, nullptr);

    // Without a remote name: stored under the local file's name, the
    // dialogue shows the local path.
    ftp.Upload(local, "");
    EXPECT_EQ(ReadFile(Incoming("ftptest_upload source.bin")), data);
    EXPECT_TRUE(rec.Saw("STOR " + local));

    ftp.UploadAppend(local2, "stored.bin");
    EXPECT_EQ(ReadFile(Incoming("stored.bin")), data + more);

    // A unique name chosen by the server, which it names in its reply.
    ftp.UploadUnique(local2);
    auto named = std::find_if(rec.status.begin(), rec.status.end(),
                              [](const std::string& s) { return s.rfind("150 FILE: ", 0) == 0; });
    ASSERT_NE(named, rec.status.end());
    const std::string unique = named->substr(10);
    EXPECT_EQ(ReadFile(Incoming(unique)), more);
    DeleteFileA(Incoming(unique).c_str());

    // A restart: the server has the first part, the rest is sent from there.
    const std::string part = TempFile("part.bin");
    WriteFile(part, data.substr(0, 123456));
    ftp.Upload(part, "restart.bin");
    ASSERT_EQ(ReadFile(Incoming("restart.bin")).size(), 123456u);
    ftp.UploadRestore(local, "restart.bin", 123456);
    EXPECT_EQ(ReadFile(Incoming("restart.bin")), data);
    EXPECT_TRUE(rec.Saw("REST 123456"));

    EXPECT_EQ(rec.successes, (std::vector<TCmdType>{cmdDoCommand, cmdChangeDir, cmdUpload, cmdUpload, cmdAppend,
                                                    cmdUpload, cmdUpload, cmdUpRestore}));
    // Every closing reply was read where it belongs: the next command gets
    // its own answer.
    EXPECT_EQ(ftp.GetCurrentDir(), "/incoming");
    ftp.Disconnect();
    for (const std::string& f : {local, local2, part}) DeleteFileA(f.c_str());
}

TEST_F(VsftpdStore, RefusedAndImpossibleUploadsLeaveTheConnectionUsable) {
    const std::string local = TempFile("refused.bin");
    WriteFile(local, "x");
    Recorder rec(ftp);
    ftp.Connect();

    // The top folder is not writable: the server's refusal, nothing stored.
    bool isFtp = false;
    const std::string text = RaisedAs<FTPException>([&] { ftp.Upload(local, "refused.bin"); }, &isFtp);
    EXPECT_TRUE(isFtp);
    EXPECT_EQ(text.substr(0, 4), "553 ");
    EXPECT_FALSE(FileExists(Root() + "\\refused.bin"));
    EXPECT_EQ(ftp.DataSocket, nullptr);

    // A missing local file: the file error before anything is sent.
    const size_t ports = std::count_if(rec.status.begin(), rec.status.end(),
                                       IsDataSetUp);
    bool isOpen = false;
    RaisedAs<EFOpenError>([&] { ftp.Upload(TempFile("no-such-file.bin"), "x.bin"); }, &isOpen);
    EXPECT_TRUE(isOpen);
    // A restart beyond the end of the local file is refused here too.
    EXPECT_EQ(RaisedAs<ESockError>([&] { ftp.UploadRestore(local, "x.bin", 2); }),
              "Restart offset beyond the end of the file");
    EXPECT_EQ(static_cast<size_t>(std::count_if(rec.status.begin(), rec.status.end(),
                                                IsDataSetUp)),
              ports);

    EXPECT_EQ(ftp.GetCurrentDir(), "/");
    ftp.Disconnect();
    DeleteFileA(local.c_str());
}

TEST_F(VsftpdStore, InterruptedDownloadIsResumedWhereItStopped) {
    const std::string local = TempFile("resumed.bin");
    const std::string whole = ReadFile(Root() + "\\big64.bin");
    ASSERT_EQ(whole.size(), 67108864u);
    WriteFile(local, whole.substr(0, 5000000));
    Recorder rec(ftp);
    ftp.Connect();
    ftp.Mode(2);
    ftp.DownloadRestore("big64.bin", local);
    EXPECT_TRUE(rec.Saw("REST RETR big64.bin"));
    EXPECT_EQ(ftp.BytesTotal, 67108864 - 5000000);
    EXPECT_TRUE(SameFiles(local, Root() + "\\big64.bin"));
    EXPECT_EQ(rec.successes.back(), cmdDownload);
    ftp.Disconnect();
    DeleteFileA(local.c_str());
}

TEST_F(VsftpdStore, ListParsesUnixLinesAndNlistGivesNames) {
    Recorder rec(ftp);
    std::vector<std::string> items;
    ftp.OnListItem = [&](TObject* sender, const std::string& line) {
        EXPECT_EQ(sender, &ftp);
        items.push_back(line);
    };
    ftp.ParseList = true;
    ftp.Connect();
    ftp.ChangeDir("list");

    ftp.List();
    EXPECT_EQ(Count(rec.status, "SYST"), 1u);
    EXPECT_EQ(ftp.Vendor, VendorUnix);
    ASSERT_NE(ftp.DirectoryList, nullptr);
    EXPECT_EQ(typeid(*ftp.DirectoryList), typeid(TFTPUnixList));
    TFTPDirectoryList& dir = *ftp.DirectoryList;
    // One entry per long listing line, in the order the lines came.
    ASSERT_EQ(dir.Names->Count(), 3);
    ASSERT_EQ(items.size(), 3u);
    std::set<std::string> names;
    for (int i = 0; i < 3; ++i) {
        names.insert((*dir.Names)[i]);
        EXPECT_EQ(items[static_cast<size_t>(i)].find('\n'), std::string::npos);
        const std::string& name = (*dir.Names)[i];
        EXPECT_EQ(items[static_cast<size_t>(i)].substr(items[static_cast<size_t>(i)].size() - name.size()), name);
        const std::string& size = (*dir.Sizes)[i];
        const std::string& attrs = (*dir.Attributes)[i];
        if (name == "alpha.txt") {
            EXPECT_EQ(size, "5");
        } else if (name == "beta.bin") {
            EXPECT_EQ(size, "1024");
        }
        EXPECT_EQ(attrs[0], name == "gamma" ? 'd' : '-') << attrs;
        EXPECT_EQ(attrs.size(), 10u);
        EXPECT_EQ(std::count((*dir.Dates)[i].begin(), (*dir.Dates)[i].end(), ' '), 2) << (*dir.Dates)[i];
    }
    EXPECT_EQ(names, (std::set<std::string>{"alpha.txt", "beta.bin", "gamma"}));
    EXPECT_GT(ftp.BytesTotal, 100);  // the listing's bytes

    // The kind is known now: no second SYST, and the lists start afresh.
    items.clear();
    ftp.List();
    EXPECT_EQ(Count(rec.status, "SYST"), 1u);
    EXPECT_EQ(ftp.DirectoryList->Names->Count(), 3);

    items.clear();
    ftp.Nlist();
    EXPECT_EQ(std::set<std::string>(items.begin(), items.end()),
              (std::set<std::string>{"alpha.txt", "beta.bin", "gamma"}));
    EXPECT_EQ(Count(rec.status, "SYST"), 1u);
    EXPECT_EQ(rec.successes, (std::vector<TCmdType>{cmdChangeDir, cmdDoCommand, cmdList, cmdList, cmdNList}));

    // A new login finds out the server's kind again.
    ftp.Disconnect();
    EXPECT_EQ(ftp.DirectoryList, nullptr);
    EXPECT_EQ(ftp.Vendor, NoVendor);
    ftp.Connect();
    ftp.List();
    EXPECT_EQ(Count(rec.status, "SYST"), 2u);
    EXPECT_EQ(ftp.Vendor, VendorUnix);
    ASSERT_NE(ftp.DirectoryList, nullptr);
    EXPECT_GE(ftp.DirectoryList->Names->Count(), 4);  // the top folder
    ftp.Disconnect();
}

}  // namespace
