// Reply framing, announced sizes, command kinds and the download verdict.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "FtpReply.h"

namespace {

// Feeds the given lines one by one, as ReadLn would, and records the reports.
struct LineSource {
    LineSource() = default;
    explicit LineSource(std::vector<std::string> l) : lines(std::move(l)) {}
    std::vector<std::string> lines;
    size_t next = 0;
    std::vector<std::string> reported;
    std::string Next() {
        if (next >= lines.size()) throw std::runtime_error("read past the reply");
        return lines[next++];
    }
    bool Read(const std::string& first, int maxLines = MaxReplyLines) {
        return ReadReplyLines(first, [this] { return Next(); },
                              [this](const std::string& l) { reported.push_back(l); }, maxLines);
    }
};

TEST(FtpReply, MultiLineGreetingIsReadToItsLastLine) {
    LineSource src({" second line\r\n", "220 ready\r\n", "331 next reply\r\n"});
    EXPECT_TRUE(src.Read("220-Welcome\r\n"));
    EXPECT_EQ(src.next, 2u);
    ASSERT_EQ(src.reported.size(), 2u);
    EXPECT_EQ(src.reported[1], "220 ready\r\n");
}

TEST(FtpReply, SingleLineAndShortLinesEndTheReply) {
    for (const char* line : {"200 OK\r\n", "200\r\n", "ab\n", "\r\n", ""}) {
        LineSource src;
        EXPECT_TRUE(src.Read(line)) << line;
        EXPECT_EQ(src.next, 0u) << line;
    }
}

TEST(FtpReply, AMultiLineReplyEndsOnlyAtItsOwnCodeAndASpace) {
    // Each case: the first line, the lines the server sends after it, and
    // how many of them belong to the reply (the rest is the next reply).
    const struct {
        const char* name;
        const char* first;
        std::vector<std::string> lines;
        size_t taken;
    } cases[] = {
        {"plain text lines", "211-Features\r\n", {"Hello there\r\n", "MDTM\r\n", "211 End\r\n", "200 next\r\n"}, 3},
        {"another code with a space", "250-Status\r\n", {"226 inner\r\n", "250 done\r\n", "200 next\r\n"}, 2},
        {"indented and dashed", "220-a\r\n", {"  b\r\n", "220-c\r\n", "220 d\r\n", "331 next\r\n"}, 3},
        {"code without a space", "230-a\r\n", {"230\r\n", "230-b\r\n", "230 ok\n", "200 next\r\n"}, 3},
        {"empty and short lines", "257-a\r\n", {"\r\n", "ab\n", "257 \"/\"\r\n"}, 3},
        {"greeting from a space", " ", {"220-Welcome\r\n", "plain\r\n", "220 ready\r\n", "331 next\r\n"}, 3},
        {"greeting, single line", " ", {"220 hello\r\n", "331 later\r\n"}, 1},
        {"indented before the code", " ", {" x\r\n", "220 hello\r\n", "331 later\r\n"}, 2},
        {"text before any code ends it", " ", {"Hello\r\n", "220 hello\r\n"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LineSource src(c.lines);
        EXPECT_TRUE(src.Read(c.first));
        EXPECT_EQ(src.next, c.taken);
        EXPECT_EQ(src.reported.size(), c.taken);
    }
}

TEST(FtpReply, PassiveRepliesGiveTheirPort) {
    const struct {
        const char* reply;
        bool ok;
        uint16_t port;
    } epsv[] = {
        {"229 Entering Extended Passive Mode (|||6446|)\r\n", true, 6446},
        {"229 Entering Extended Passive Mode (!!!1!)", true, 1},
        {"229 ok (|||65535|)", true, 65535},
        {"229 ok (|||65536|)", false, 0},
        {"229 ok (|||0|)", false, 0},
        {"229 ok (|||123456|)", false, 0},
        {"229 ok (||6446|)", false, 0},
        {"229 ok (|||6446)", false, 0},
        {"229 ok (|||6446", false, 0},
        {"229 ok (1116461)", false, 0},
        {"229 ok (|||-5|)", false, 0},
        {"229 Entering Extended Passive Mode", false, 0},
        {"(", false, 0},
        {"", false, 0},
    };
    for (const auto& c : epsv) {
        SCOPED_TRACE(c.reply);
        uint16_t port = 0;
        EXPECT_EQ(ParseEpsvReply(c.reply, port), c.ok);
        if (c.ok) {
            EXPECT_EQ(port, c.port);
        }
    }

    const struct {
        const char* reply;
        bool ok;
        std::vector<int> host;
        uint16_t port;
    } pasv[] = {
        {"227 Entering Passive Mode (127,0,0,20,195,80).\r\n", true, {127, 0, 0, 20}, 50000},
        {"227 Entering Passive Mode 10,1,2,3,0,21\r\n", true, {10, 1, 2, 3}, 21},
        {"227 =192,168,0,1,255,255", true, {192, 168, 0, 1}, 65535},
        // The first run that is not an address is passed over.
        {"227 Mode 1,2 then (1,2,3,4,5,6)", true, {1, 2, 3, 4}, 1286},
        {"227 Entering Passive Mode (127,0,0,1,0,0)", false, {}, 0},
        {"227 Entering Passive Mode (127,0,0,1,256,1)", false, {}, 0},
        {"227 Entering Passive Mode (127,0,0,1,0001,1)", false, {}, 0},
        {"227 Entering Passive Mode (127,0,0,1,4)", false, {}, 0},
        {"227 Entering Passive Mode (127, 0, 0, 1, 4, 5)", true, {127, 0, 0, 1}, 1029},
        {"227 Entering Passive Mode (127 ,0,0,1,4,5)", false, {}, 0},
        {"227 Entering Passive Mode", false, {}, 0},
        {"227", false, {}, 0},
        {"", false, {}, 0},
    };
    for (const auto& c : pasv) {
        SCOPED_TRACE(c.reply);
        TPasvReply r;
        EXPECT_EQ(ParsePasvReply(c.reply, r), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(std::vector<int>(r.host, r.host + 4), c.host);
        EXPECT_EQ(r.port, c.port);
    }
}

TEST(FtpReply, EndlessReplyIsRefused) {
    LineSource src;
    for (int i = 0; i < 20; ++i) src.lines.push_back("220-again\r\n");
    EXPECT_FALSE(src.Read("220-start\r\n", 10));
    EXPECT_EQ(src.next, 10u);
}

TEST(FtpReply, LooseSizeTakesTheDigitsNearestTheFirstByte) {
    EXPECT_EQ(ReplyBytesTotal("150 Opening BINARY mode data connection for a.zip (34816 bytes).\r\n"), 34816);
    EXPECT_EQ(ReplyBytesTotal("150 Opening data connection (12 BYTES)"), 12);
    EXPECT_EQ(ReplyBytesTotal("150 Opening data connection\r\n"), 0);
    EXPECT_EQ(ReplyBytesTotal("150 bytes follow"), 150);
    EXPECT_EQ(ReplyBytesTotal("bytes"), 0);
    // The first BYTE wins, even inside a file name.
    EXPECT_EQ(ReplyBytesTotal("150 Opening for bytes.bin (100 bytes)"), 150);
    EXPECT_EQ(ReplyBytesTotal("150 x (99999999999999999999 bytes)"), INT32_MAX);
}

TEST(FtpReply, StrictSizeIsTheClosingParenthesis) {
    EXPECT_EQ(AnnouncedSize("150 Opening BINARY mode data connection for a.zip (34816 bytes).\r\n"), 34816);
    EXPECT_EQ(AnnouncedSize("150 Opening ASCII mode data connection for x (0 bytes)\r\n"), 0);
    EXPECT_EQ(AnnouncedSize("150 Here (1 byte)\n"), 1);
    EXPECT_EQ(AnnouncedSize("150 big ( 4294967296  Bytes )"), 4294967296LL);
    // A file name mentioning bytes is not a size.
    EXPECT_EQ(AnnouncedSize("150 Opening for bytes.bin (100 bytes).\r\n"), 100);
    EXPECT_EQ(AnnouncedSize("150 Opening for (7 bytes).txt\r\n"), -1);
    EXPECT_EQ(AnnouncedSize("150 Opening data connection\r\n"), -1);
    EXPECT_EQ(AnnouncedSize("150 (bytes)"), -1);
    EXPECT_EQ(AnnouncedSize("150 (12bytes)"), -1);
    EXPECT_EQ(AnnouncedSize("150 12 bytes)"), -1);
    EXPECT_EQ(AnnouncedSize("(1 bytes)"), 1);
    EXPECT_EQ(AnnouncedSize(""), -1);
    EXPECT_EQ(AnnouncedSize(")"), -1);
}

TEST(FtpReply, CommandKindFromTheFirstWord) {
    EXPECT_EQ(CommandKind("CWD /pub"), cmdChangeDir);
    EXPECT_EQ(CommandKind("CWD"), cmdChangeDir);
    EXPECT_EQ(CommandKind("DELE a"), cmdDelete);
    EXPECT_EQ(CommandKind("MKD a"), cmdMakeDir);
    EXPECT_EQ(CommandKind("RMD a"), cmdRemoveDir);
    EXPECT_EQ(CommandKind("PWD"), cmdCurrentDir);
    EXPECT_EQ(CommandKind("PWD x"), cmdDoCommand);
    EXPECT_EQ(CommandKind("cwd /pub"), cmdDoCommand);
    EXPECT_EQ(CommandKind("CWDX /pub"), cmdDoCommand);
    EXPECT_EQ(CommandKind(""), cmdDoCommand);
}

TEST(FtpReply, DownloadVerdict) {
    TDownloadEnd whole;
    whole.closingLine = "226 Transfer complete.\r\n";
    whole.closingCode = 226;
    whole.announced = 27;
    whole.received = 27;
    EXPECT_EQ(DownloadFailure(whole), "");

    TDownloadEnd unannounced = whole;
    unannounced.announced = -1;
    unannounced.received = 3;
    EXPECT_EQ(DownloadFailure(unannounced), "");

    TDownloadEnd shortOne = whole;
    shortOne.received = 5;
    EXPECT_EQ(DownloadFailure(shortOne), "Transfer incomplete: 5 of 27 bytes received");

    TDownloadEnd aborted = whole;
    aborted.abortLine = "426 Connection closed; transfer aborted.\r\n";
    EXPECT_EQ(DownloadFailure(aborted), aborted.abortLine);

    TDownloadEnd refused = whole;
    refused.closingLine = "451 Local error\r\n";
    refused.closingCode = 451;
    EXPECT_EQ(DownloadFailure(refused), refused.closingLine);
}

TEST(FtpReply, StripLineEnd) {
    EXPECT_EQ(StripLineEnd("226 ok\r\n"), "226 ok");
    EXPECT_EQ(StripLineEnd("226 ok\n"), "226 ok");
    EXPECT_EQ(StripLineEnd("226 ok"), "226 ok");
    EXPECT_EQ(StripLineEnd(""), "");
}

}  // namespace
