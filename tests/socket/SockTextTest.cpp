// The text side of the socket connection: error table and texts, field
// helpers, reply numbers, line framing, comma forms for PORT.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "SockText.h"

namespace {

// The one place where the socket layer's own error texts are pinned word for
// word (users and callers have always seen them so, the misspelt start-up
// text included); other tests compare with the constants or the kinds.
TEST(SockText, ErrorTextsStayWordForWord) {
    const std::pair<const char*, const char*> rows[] = {
        {SockText::StartupFailed, "Initializaton of windows sockets failed"},
        {SockText::AlreadyConnected, "Already connected"},
        {SockText::LookupTimedOut, "Host Lookup Timed Out"},
        {SockText::LookupCanceled, "Host Lookup Canceled"},
        {SockText::LookupFailed, "Host Lookup Failed"},
        {SockText::NullAddress, "Null Remote Address"},
        {SockText::ConnectTimedOut, "Connection Timed out"},
        {SockText::ConnectCanceled, "Connection Canceled"},
        {SockText::ConnectFailed, "Connection Failed"},
        {SockText::SendAborted, "Socket send aborted"},
        {SockText::ReadLnAborted, "Socket readln aborted"},
        {SockText::CaptureAborted, "Socket capture aborted"},
        {SockText::AcceptCanceled, "Accepting Canceled"},
        {SockText::DataConnectionFailed, "Error creating Data Connection"},
        {SockText::PeerClosed, "Connection closed by peer"},
        {SockText::LineTooLong, "Reply line too long"},
        {SockText::NotConnected, "Not Connected"},
        {SockText::ServerTimedOut, "Timed out waiting for the server"},
    };
    for (const auto& r : rows) EXPECT_STREQ(r.first, r.second);
}

TEST(WinsockMessage, TableHasItsRowsInOrderWithShortTexts) {
    EXPECT_EQ(WinsockMessage[0].Code, 10004);
    EXPECT_STREQ(WinsockMessage[0].Text, "Interrupted system call");
    EXPECT_EQ(WinsockMessage[WinsockMessageCount - 2].Code, 11004);
    EXPECT_EQ(WinsockMessage[WinsockMessageCount - 1].Code, 0);
    EXPECT_STREQ(WinsockMessage[WinsockMessageCount - 1].Text, "Unrecognized error code");
    std::set<int32_t> codes;
    for (int i = 0; i < WinsockMessageCount; ++i) {
        EXPECT_LE(std::strlen(WinsockMessage[i].Text), 51u) << WinsockMessage[i].Code;
        EXPECT_GT(std::strlen(WinsockMessage[i].Text), 0u) << WinsockMessage[i].Code;
        if (i > 0 && i < WinsockMessageCount - 1) {
            EXPECT_GT(WinsockMessage[i].Code, WinsockMessage[i - 1].Code);
        }
        codes.insert(WinsockMessage[i].Code);
    }
    EXPECT_EQ(codes.size(), 51u) << "no code twice";
    EXPECT_EQ(WinsockErrorText(10047), "10047:Address family not supported by protocol family");
}

TEST(WinsockErrorText, KnownUnknownAndZero) {
    EXPECT_EQ(WinsockErrorText(10093), "10093:Successful WSAStartup not yet performed");
    EXPECT_EQ(WinsockErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(WinsockErrorText(10035), "10035:Operation would block");
    EXPECT_EQ(WinsockErrorText(11001), "11001:Host not found");
    EXPECT_EQ(WinsockErrorText(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(WinsockErrorText(12345), "Unknown Error No. 12345");
    EXPECT_EQ(WinsockErrorText(10072), "Unknown Error No. 10072") << "gap between 10071 and 10091";
    EXPECT_EQ(WinsockErrorText(65535), "Unknown Error No. 65535");
    EXPECT_EQ(WinsockErrorText(0), "") << "the closing row is never matched";
}

TEST(NthWord, FieldsCountFromOneAndAdjacentDelimitersMakeEmptyFields) {
    EXPECT_EQ(NthWord("CWD /pub/bios", ' ', 1), "CWD");
    EXPECT_EQ(NthWord("CWD /pub/bios", ' ', 2), "/pub/bios");
    EXPECT_EQ(NthWord("CWD /pub/bios", ' ', 3), "");
    EXPECT_EQ(NthWord("PWD", ' ', 1), "PWD");
    EXPECT_EQ(NthWord("PWD", ' ', 2), "");
    EXPECT_EQ(NthWord("257 \"/pub\" is current", '"', 2), "/pub");
    EXPECT_EQ(NthWord("257 no quotes", '"', 2), "");
    EXPECT_EQ(NthWord("a  b", ' ', 2), "");
    EXPECT_EQ(NthWord("a  b", ' ', 3), "b");
    EXPECT_EQ(NthWord("a ", ' ', 2), "");
    EXPECT_EQ(NthWord("", ' ', 1), "");
    EXPECT_EQ(NthWord("a b", ' ', 0), "");
    EXPECT_EQ(NthWord("a b", ' ', -1), "");
}

TEST(NthPos, PositionOfTheNthDelimiterOrLengthPlusOne) {
    EXPECT_EQ(NthPos("RETR a b", ' ', 1), 5);
    EXPECT_EQ(NthPos("RETR a b", ' ', 2), 7);
    EXPECT_EQ(NthPos("RETR a b", ' ', 3), 9) << "fewer delimiters";
    EXPECT_EQ(NthPos("abc ", ' ', 1), 5) << "the delimiter is the last character";
    EXPECT_EQ(NthPos("", ' ', 1), 1);
    EXPECT_EQ(NthPos("a,,b", ',', 2), 3);
    EXPECT_EQ(NthPos("a b", ' ', 0), 0);
}

TEST(LeadingReplyNumber, DigitsAtTheStartOnly) {
    EXPECT_EQ(LeadingReplyNumber("220 Service ready\r\n"), 220);
    EXPECT_EQ(LeadingReplyNumber("220-first line\r\n"), 220);
    EXPECT_EQ(LeadingReplyNumber("331"), 331);
    EXPECT_EQ(LeadingReplyNumber("hello 220\r\n"), 0);
    EXPECT_EQ(LeadingReplyNumber(" 220"), 0);
    EXPECT_EQ(LeadingReplyNumber(""), 0);
    EXPECT_EQ(LeadingReplyNumber("32767 x"), 32767);
    EXPECT_EQ(LeadingReplyNumber("32768 x"), 0) << "does not fit 16 bits";
    EXPECT_EQ(LeadingReplyNumber("99999999999999 x"), 0);
    EXPECT_EQ(LeadingReplyNumber("00000000000000220"), 0) << "only ten characters are looked at";
    EXPECT_EQ(LeadingReplyNumber("0000000220"), 220);
}

TEST(FirstLineLength, LineFeedWithinTheLimit) {
    const char two[] = "a\r\nb\r\n";
    EXPECT_EQ(FirstLineLength(two, 6), 3u);
    EXPECT_EQ(FirstLineLength("\n", 1), 1u);
    EXPECT_EQ(FirstLineLength("220 hel", 7), 0u);
    EXPECT_EQ(FirstLineLength(nullptr, 0), 0u);
    std::string longLine(MaxReplyLine - 1, 'x');
    longLine += '\n';
    EXPECT_EQ(FirstLineLength(longLine.data(), longLine.size()), MaxReplyLine) << "a line of the limit is taken";
    longLine.insert(0, "y");
    EXPECT_EQ(FirstLineLength(longLine.data(), longLine.size()), 0u) << "its line feed lies past the limit";
    EXPECT_EQ(FirstLineLength("abc\n", 4, 3), 0u);
}

TEST(CommaForms, PortHighByteFirstAndAddressWithoutDots) {
    EXPECT_EQ(CommaPort(21), ",0,21");
    EXPECT_EQ(CommaPort(1025), ",4,1");
    EXPECT_EQ(CommaPort(65535), ",255,255");
    EXPECT_EQ(CommaPort(0), ",0,0");
    EXPECT_EQ(CommaAddress("192.168.0.5"), "192,168,0,5");
    EXPECT_EQ(CommaAddress("127.0.0.1").find('.'), std::string::npos);
}

TEST(StreamLn, AppendsCrLf) {
    TMemoryStream m;
    StreamLn(m, "one");
    StreamLn(m, "");
    EXPECT_EQ(std::string(m.Memory(), m.Bytes()), "one\r\n\r\n");
}

}  // namespace
