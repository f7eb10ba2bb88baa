// The qvftp tool's command line and progress line.
#include <gtest/gtest.h>

#include "QvftpArgs.h"

namespace {

std::string Parse(std::vector<std::string> argv, TQvftpArgs& a) { return ParseQvftpArgs(argv, a); }

TEST(QvftpArgs, DefaultsAndPositionals) {
    TQvftpArgs a;
    ASSERT_EQ(Parse({"get", "ftp.norv.test", "/pub/a.zip", "a.zip"}, a), "");
    EXPECT_EQ(a.command, "get");
    EXPECT_EQ(a.host, "ftp.norv.test");
    EXPECT_EQ(a.remote, "/pub/a.zip");
    EXPECT_EQ(a.local, "a.zip");
    EXPECT_EQ(a.port, 21);
    EXPECT_EQ(a.user, "anonymous");
    EXPECT_FALSE(a.password.empty());
    EXPECT_EQ(a.timeoutMs, 0);
    EXPECT_FALSE(a.verbose);
    EXPECT_FALSE(a.active);
}

TEST(QvftpArgs, OptionsAnywhereAndDoubleDash) {
    TQvftpArgs a;
    ASSERT_EQ(Parse({"-v", "get", "-P", "2121", "h", "-u", "bob", "r", "-A", "-p", "secret", "-t", "1500", "l"}, a), "");
    EXPECT_TRUE(a.verbose);
    EXPECT_TRUE(a.active);
    EXPECT_EQ(a.port, 2121);
    EXPECT_EQ(a.user, "bob");
    EXPECT_EQ(a.password, "secret");
    EXPECT_EQ(a.timeoutMs, 1500);
    EXPECT_EQ(a.local, "l");
    TQvftpArgs b;
    ASSERT_EQ(Parse({"get", "h", "--", "-odd-name", "-"}, b), "");
    EXPECT_EQ(b.remote, "-odd-name");
    EXPECT_EQ(b.local, "-");
}

TEST(QvftpArgs, PutListingsAndResume) {
    TQvftpArgs a;
    ASSERT_EQ(Parse({"put", "h", "C:\\dir\\a.bin"}, a), "");
    EXPECT_EQ(a.local, "C:\\dir\\a.bin");
    EXPECT_EQ(a.remote, "");
    TQvftpArgs b;
    ASSERT_EQ(Parse({"put", "-v", "h", "a.bin", "incoming/b.bin"}, b), "");
    EXPECT_EQ(b.remote, "incoming/b.bin");
    TQvftpArgs c;
    ASSERT_EQ(Parse({"ls", "h"}, c), "");
    EXPECT_EQ(c.command, "ls");
    EXPECT_EQ(c.remote, "");
    TQvftpArgs d;
    ASSERT_EQ(Parse({"nlst", "-P", "2121", "h", "/pub"}, d), "");
    EXPECT_EQ(d.remote, "/pub");
    EXPECT_EQ(d.port, 2121);
    TQvftpArgs e;
    ASSERT_EQ(Parse({"get", "-c", "h", "r", "l"}, e), "");
    EXPECT_TRUE(e.resume);
    TQvftpArgs f;
    ASSERT_EQ(Parse({"get", "h", "r", "l"}, f), "");
    EXPECT_FALSE(f.resume);
}

TEST(QvftpArgs, ListEntryColumns) {
    EXPECT_EQ(FormatListEntry("-rw-r--r--", "1024", "Jan 5 12:00", "file.zip"),
              "-rw-r--r--         1024 Jan 5 12:00  file.zip");
    // Wide values push the columns on; nothing is cut.
    const std::string wide(300, 'x');
    EXPECT_EQ(FormatListEntry("a", "1", "d", wide), "a                     1 d            " + wide);
    EXPECT_EQ(FormatListEntry("a", wide, "d", "n").size(), 10 + 1 + 300 + 1 + 12 + 1 + 1u);
}

TEST(QvftpArgs, Refusals) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"send", "h", "r", "l"},
        {"put", "h", "l", "r", "extra"},
        {"put", "h"},
        {"put", "h", ""},
        {"put", "-c", "h", "l"},
        {"ls"},
        {"ls", "h", "d", "extra"},
        {"nlst", "-c", "h"},
        {"ls", ""},
        {"get", "h", "r"},
        {"get", "h", "r", "l", "extra"},
        {"get", "-P", "0", "h", "r", "l"},
        {"get", "-P", "65536", "h", "r", "l"},
        {"get", "-P", "21x", "h", "r", "l"},
        {"get", "-t", "-5", "h", "r", "l"},
        {"get", "-t", "99999999999", "h", "r", "l"},
        {"get", "h", "r", "l", "-t"},
        {"get", "-x", "h", "r", "l"},
        {"get", "", "r", "l"},
    };
    for (const auto& argv : bad) {
        TQvftpArgs a;
        std::string joined;
        for (const auto& s : argv) joined += "[" + s + "]";
        EXPECT_NE(Parse(argv, a), "") << joined;
    }
    TQvftpArgs h;
    EXPECT_EQ(Parse({"-h"}, h), "");
    EXPECT_TRUE(h.help);
}

TEST(QvftpArgs, ProgressLine) {
    EXPECT_EQ(FormatProgress(1048576, 4194304, 0.5), "1048576 of 4194304 bytes (25%)  2.1 MB/s");
    EXPECT_EQ(FormatProgress(300, -1, 0), "300 bytes  0.0 MB/s");
    EXPECT_EQ(FormatProgress(0, 0, 1), "0 bytes  0.0 MB/s");
    // More than announced: the percentage stops at 100.
    EXPECT_EQ(FormatProgress(12, 10, 1), "12 of 10 bytes (100%)  0.0 MB/s");
    // Sizes beyond 32 bits.
    EXPECT_EQ(FormatProgress(5000000000LL, 10000000000LL, 10), "5000000000 of 10000000000 bytes (50%)  500.0 MB/s");
}

// The URL forms, each as get/put/ls would take it, and the refusals.
TEST(QvftpArgs, UrlForms) {
    struct Case {
        std::vector<std::string> argv;
        std::string host;
        int port;
        std::string user, password, remote, local;
    };
    const Case cases[] = {
        {{"get", "ftp://mirror2.norv.test/pub/norv/Path.idx"}, "mirror2.norv.test", 21, "anonymous",
         "qvftp@norv.test", "pub/norv/Path.idx", "Path.idx"},
        {{"get", "-P", "99", "-u", "x", "FTP://bob:s%3Ac%40t@h:2121/a%20b.zip", "C:\\d\\l"}, "h", 2121, "bob",
         "s:c@t", "a b.zip", "C:\\d\\l"},
        // The last "@" ends the user part; a user without password keeps -p's.
        {{"get", "-p", "pw", "ftp://u@x@h/%2Fabs/f"}, "h", 21, "u@x", "pw", "/abs/f", "f"},
        {{"get", "ftp://h/dir/f?type=i#frag"}, "h", 21, "anonymous", "qvftp@norv.test", "dir/f", "f"},
        {{"get", "ftp://h/f%"}, "h", 21, "anonymous", "qvftp@norv.test", "f%", "f%"},
        {{"put", "ftp://h:2100/incoming/", "C:\\d\\up.bin"}, "h", 2100, "anonymous", "qvftp@norv.test",
         "incoming/up.bin", "C:\\d\\up.bin"},
        {{"put", "ftp://:@h/incoming/n.bin", "up.bin"}, "h", 21, "", "", "incoming/n.bin", "up.bin"},
        {{"ls", "ftp://h/list/"}, "h", 21, "anonymous", "qvftp@norv.test", "list", ""},
        {{"nlst", "ftp://h"}, "h", 21, "anonymous", "qvftp@norv.test", "", ""},
        {{"nlst", "ftp://h/"}, "h", 21, "anonymous", "qvftp@norv.test", "", ""},
    };
    for (const Case& c : cases) {
        TQvftpArgs a;
        ASSERT_EQ(Parse(c.argv, a), "") << c.argv[1];
        EXPECT_TRUE(a.url);
        EXPECT_EQ(a.host, c.host) << c.argv[1];
        EXPECT_EQ(a.port, c.port) << c.argv[1];
        EXPECT_EQ(a.user, c.user) << c.argv[1];
        EXPECT_EQ(a.password, c.password) << c.argv[1];
        EXPECT_EQ(a.remote, c.remote) << c.argv[1];
        EXPECT_EQ(a.local, c.local) << c.argv[1];
    }
    const std::vector<std::vector<std::string>> bad = {
        {"get", "http://h/f"},          // another scheme
        {"get", "sftp://h/f"},
        {"get", "ftp:///f"},            // no host
        {"get", "ftp://u:p@/f"},
        {"get", "ftp://h:/f"},          // bad ports
        {"get", "ftp://h:0/f"},
        {"get", "ftp://h:65536/f"},
        {"get", "ftp://[::1]/f"},       // IPv6: the client has IPv4 only
        {"get", "ftp://h"},             // no file name
        {"get", "ftp://h/"},
        {"get", "ftp://h/dir/"},
        {"get", "ftp://h/dir/.."},
        {"get", "ftp://h/."},
        {"get", "ftp://h/dir%5C..%5C.."},  // a backslash is a folder on Windows
        {"get", "ftp://h/C:evil"},
        {"get", "ftp://h/f%0d%0aDELE%20x"},  // a second command smuggled into RETR
        {"get", "ftp://u%0aSITE@h/f"},
        {"get", "ftp://u:p%00@h/f"},
        {"get", "ftp://h/f", "l", "extra"},
        {"put", "ftp://h/f"},
        {"ls", "ftp://h/d", "d2"},
    };
    for (const auto& argv : bad) {
        TQvftpArgs a;
        EXPECT_NE(Parse(argv, a), "") << argv[1];
    }
    // The host form is unchanged: without LOCAL-FILE it stays a bad command line.
    TQvftpArgs old;
    EXPECT_NE(Parse({"get", "h", "ftp://x/y"}, old), "");
    TQvftpArgs q;
    ASSERT_EQ(Parse({"get", "-q", "h", "r", "l"}, q), "");
    EXPECT_TRUE(q.quiet);
    EXPECT_FALSE(q.url);
}

TEST(QvftpArgs, Meter) {
    EXPECT_EQ(FormatMeter(1048576, 4194304, 0.5), " 25%  1.0 of 4.0 MiB  2.1 MB/s  0:00:02 left");
    EXPECT_EQ(FormatMeter(0, 4194304, 0), "  0%  0.0 of 4.0 MiB");
    EXPECT_EQ(FormatMeter(4194304, 4194304, 2), "100%  4.0 of 4.0 MiB  2.1 MB/s");
    EXPECT_EQ(FormatMeter(5000, 2000, 1), "100%  2.0 of 2.0 KiB  0.0 MB/s");
    EXPECT_EQ(FormatMeter(3LL << 30, 6LL << 30, 3000), " 50%  3.0 of 6.0 GiB  1.1 MB/s  0:50:00 left");
    EXPECT_EQ(FormatMeter(1536, -1, 1), "1.5 KiB  0.0 MB/s");
    EXPECT_EQ(FormatMeter(5LL << 20, 0, 0), "5.0 MiB");
}

}  // namespace
