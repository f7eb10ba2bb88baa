// Text side of the socket connection: the Winsock error table and its texts,
// field helpers for command and reply lines, reply numbers, line framing and
// the comma forms of addresses and ports used by PORT commands.
// Portable: no Win32 here, so the native build tests it directly.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "Classes.h"

// One row of the Winsock error table: the code and a text of at most 51
// characters (the array size makes a longer text a compile error).
struct TWinsockMessageRow {
    int32_t Code;
    char Text[52];
};

constexpr int WinsockMessageCount = 51;
// In table order; the last row (code 0) closes the table and is never matched.
extern const TWinsockMessageRow WinsockMessage[WinsockMessageCount];

// "10061:Connection refused" for a known code, "Unknown Error No. 12345" for
// an unknown one, and the empty text for 0.
std::string WinsockErrorText(uint16_t code);

// The n-th field (from 1) of text split at every delimiter; empty when the
// text has fewer fields. Adjacent delimiters make an empty field.
std::string NthWord(const std::string& text, char delimiter, int n);

// The 1-based position of the n-th delimiter; the text's length + 1 when there
// are fewer, and also when the n-th delimiter is the last character. 0 for n < 1.
int NthPos(const std::string& text, char delimiter, int n);

// Writes text followed by CR LF at the stream's position.
void StreamLn(TStream& stream, const std::string& text);

// The number a reply line starts with: its leading decimal digits (at most 10
// characters are looked at); 0 when there are none or the value does not fit
// a 16-bit signed number.
int16_t LeadingReplyNumber(const std::string& line);

// Longest line a reader accepts, its line feed included. A line that grows past
// this without a line feed is refused instead of buffered without end.
constexpr size_t MaxReplyLine = 65536;

// Length of the first line in data (up to and including its line feed), looking
// at no more than limit bytes; 0 when there is no line feed in them.
size_t FirstLineLength(const char* data, size_t size, size_t limit = MaxReplyLine);

// Longest host name that is looked up; longer names are refused.
constexpr size_t MaxHostName = 127;

// ",4,1" for port 1025: the high byte, then the low byte, each after a comma.
std::string CommaPort(uint16_t port);
// "192,168,0,5" for "192.168.0.5".
std::string CommaAddress(const std::string& dotted);

// The texts of the socket layer's own errors, word for word as callers and
// users have always seen them (one spelling, "Initializaton", included). Code
// never compares with them: it branches on the error's kind (Psock.h).
namespace SockText {
constexpr char StartupFailed[] = "Initializaton of windows sockets failed";
constexpr char AlreadyConnected[] = "Already connected";
constexpr char LookupTimedOut[] = "Host Lookup Timed Out";
constexpr char LookupCanceled[] = "Host Lookup Canceled";
constexpr char LookupFailed[] = "Host Lookup Failed";
constexpr char NullAddress[] = "Null Remote Address";
constexpr char ConnectTimedOut[] = "Connection Timed out";
constexpr char ConnectCanceled[] = "Connection Canceled";
constexpr char ConnectFailed[] = "Connection Failed";
constexpr char SendAborted[] = "Socket send aborted";  // reads and captures into a file too
constexpr char ReadLnAborted[] = "Socket readln aborted";
constexpr char CaptureAborted[] = "Socket capture aborted";
constexpr char AcceptCanceled[] = "Accepting Canceled";
constexpr char DataConnectionFailed[] = "Error creating Data Connection";
constexpr char PeerClosed[] = "Connection closed by peer";
constexpr char LineTooLong[] = "Reply line too long";
constexpr char NotConnected[] = "Not Connected";
constexpr char ServerTimedOut[] = "Timed out waiting for the server";
}  // namespace SockText
