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

TEST(FtpReply, ReadingStartedOnASpaceReadsAtLeastOneLine) {
    LineSource src({"220 hello\r\n", "331 later\r\n"});
    EXPECT_TRUE(src.Read(" "));
    EXPECT_EQ(src.next, 1u);
}

TEST(FtpReply, SingleLineAndShortLinesEndTheReply) {
    for (const char* line : {"200 OK\r\n", "200\r\n", "ab\n", "\r\n", ""}) {
        LineSource src;
        EXPECT_TRUE(src.Read(line)) << line;
        EXPECT_EQ(src.next, 0u) << line;
    }
}

TEST(FtpReply, ContinuationWithoutSpaceOrCodeEndsEarly) {
    // The third line is neither indented nor "ddd-": reading stops after it,
    // and the real last line is left for the next command.
    LineSource src({"211-more\r\n", "Hello there\r\n", "211 End\r\n"});
    EXPECT_TRUE(src.Read("211-Features\r\n"));
    EXPECT_EQ(src.next, 2u);
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
