// Text side of the FTP client: how a reply is framed (multi-line replies),
// the port a passive-mode reply names, what sizes a reply announces, which kind of command a command line is, and the
// verdict on a finished download. Portable: no Win32 here, so the native
// build tests it directly.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Kinds of command, as the outcome events report them.
enum TCmdType : uint8_t {
    cmdChangeDir,
    cmdMakeDir,
    cmdDelete,
    cmdRemoveDir,
    cmdList,
    cmdRename,
    cmdUpRestore,
    cmdDownRestore,
    cmdDownload,
    cmdUpload,
    cmdAppend,
    cmdReInit,
    cmdAllocate,
    cmdNList,
    cmdDoCommand,
    cmdCurrentDir,
};

// Where one reply ends, line by line. A reply whose line is "ddd-" goes on
// until the line that starts with the same code and a space; every line in
// between belongs to it, whatever it holds (indented text, plain text, other
// codes). Before a code is known (the greeting is read from a line that is a
// single space), an indented line goes on and a "ddd-" line opens the
// multi-line reply; any other line ends the reply, a short one included.
class TReplyFrame {
public:
    // Takes the next line of the reply; true when more lines follow it.
    bool Continues(const std::string& line);

private:
    char code_[3] = {0, 0, 0};
    bool open_ = false;  // inside a "ddd-" reply, waiting for "ddd "
};

// Most continuation lines one reply may have; a server that sends more is
// treated as broken instead of being read without end.
constexpr int MaxReplyLines = 4096;

// Reads the continuation lines that follow first: while the reply goes on,
// next() supplies the next line and report() is given it. Returns false when
// the reply had more than maxLines continuation lines (reading stops there).
// Exceptions from next() pass through.
bool ReadReplyLines(const std::string& first, const std::function<std::string()>& next,
                    const std::function<void(const std::string&)>& report, int maxLines = MaxReplyLines);

// The port of a 229 reply, "(|||port|)", any printable character other than
// a digit standing for "|". False when the reply holds no such part or the
// port is not 1..65535.
bool ParseEpsvReply(const std::string& reply, uint16_t& port);

// The address and port of a 227 reply: the first "h1,h2,h3,h4,p1,p2" after
// the code (parentheses or not; spaces may follow a comma), each number
// 0..255 in at most three digits.
// False when there is none or the port is 0.
struct TPasvReply {
    uint8_t host[4] = {0, 0, 0, 0};
    uint16_t port = 0;
};
bool ParsePasvReply(const std::string& reply, TPasvReply& out);

// The size a reply announces, the loose way: the first "BYTE" of the
// upper-cased line, then the run of digits nearest before it. 0 when there is
// no "BYTE" or no digit before it. Values beyond 32 bits give INT32_MAX.
int32_t ReplyBytesTotal(const std::string& reply);

// The size a reply announces, the strict way: the "(N bytes)" that closes the
// line (only a full stop and the line end may follow it), as servers put it
// after the file name. -1 when the line does not end so. A file name that
// contains "bytes" cannot be mistaken for the size.
int64_t AnnouncedSize(const std::string& reply);

// The command's kind from its first word: "CWD ", "DELE ", "MKD ", "RMD "
// (case-sensitive, with the space), the whole command "PWD"; else cmdDoCommand.
TCmdType CommandKind(const std::string& command);

// The line without its line end (CR LF, LF or a lone CR).
std::string StripLineEnd(const std::string& line);

// How a download ended, as the client saw it.
struct TDownloadEnd {
    std::string abortLine;    // a 421 or 426 line that ended the transfer, or empty
    std::string closingLine;  // the closing reply, empty when it was not read
    int closingCode = 0;      // its number
    int64_t announced = -1;   // AnnouncedSize of the transfer's replies, -1 when none
    int64_t received = 0;     // bytes that arrived in the local file
};

// Empty when the file arrived whole; otherwise the text of the failure: the
// server's line when one said so (421/426, or a closing code of 400 or more),
// else a text saying how many bytes of how many arrived.
std::string DownloadFailure(const TDownloadEnd& end);
