// Reply framing and the passive-mode replies: any bytes as the lines a server
// sends. The framing must agree with a plain model of where a reply ends, and
// a port or address taken from a reply must be one written in it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FtpReply.h"
#include "FuzzCheck.h"


namespace {

bool Digits3(const std::string& l) {
    return l.size() >= 4 && l[0] >= '0' && l[0] <= '9' && l[1] >= '0' && l[1] <= '9' && l[2] >= '0' && l[2] <= '9';
}

// Where the reply that starts at lines[0] ends (index of its last line), by
// the rule written out once more: a "ddd-" line opens a reply that only
// "ddd " closes; before that, indented lines go on; anything else ends it.
size_t ModelEnd(const std::vector<std::string>& lines, bool& complete) {
    std::string code;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (!code.empty()) {
            if (Digits3(l) && l.compare(0, 3, code) == 0 && l[3] == ' ') return complete = true, i;
            continue;
        }
        if (!l.empty() && l[0] == ' ') continue;
        if (Digits3(l) && l[3] == '-') {
            code = l.substr(0, 3);
            continue;
        }
        return complete = true, i;
    }
    complete = false;
    return lines.size();
}

std::string Decimal(unsigned v) { return std::to_string(v); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    for (size_t from = 0; from < text.size();) {
        const size_t lf = text.find('\n', from);
        const size_t end = lf == std::string::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(from, end - from));
        from = end;
    }

    // Framing: reading from each line as the first one of a reply.
    for (size_t start = 0; start < lines.size() && start < 64; ++start) {
        const std::vector<std::string> rest(lines.begin() + start, lines.end());
        bool complete = false;
        const size_t modelEnd = ModelEnd(rest, complete);
        for (int cap : {4, MaxReplyLines}) {
            size_t next = 1, reported = 0;
            bool pastEnd = false, whole = false;
            try {
                whole = ReadReplyLines(
                    rest[0],
                    [&]() -> std::string {
                        if (next >= rest.size()) {
                            pastEnd = true;
                            throw 0;  // the server sends no more
                        }
                        return rest[next++];
                    },
                    [&](const std::string& l) {
                        FUZZ_CHECK(l == rest[reported + 1]);
                        ++reported;
                    },
                    cap);
            } catch (int) {
                FUZZ_CHECK(pastEnd);
            }
            if (pastEnd) {
                FUZZ_CHECK(!complete && reported < static_cast<size_t>(cap) + 1);
            } else if (whole) {
                FUZZ_CHECK(complete && reported == modelEnd);
            } else {
                FUZZ_CHECK(reported == static_cast<size_t>(cap) && modelEnd > static_cast<size_t>(cap));
            }
        }
        // And line by line.
        TReplyFrame frame;
        size_t i = 0;
        while (i < rest.size() && frame.Continues(rest[i])) ++i;
        FUZZ_CHECK(i == modelEnd);
        FUZZ_CHECK(complete == (i < rest.size()));
    }

    // Passive replies: the whole input as one reply line.
    uint16_t port = 0;
    if (ParseEpsvReply(text, port)) {
        FUZZ_CHECK(port >= 1);
        FUZZ_CHECK(text.find(Decimal(port)) != std::string::npos);
    }
    TPasvReply pasv;
    if (ParsePasvReply(text, pasv)) {
        FUZZ_CHECK(pasv.port != 0);
        for (int k = 0; k < 4; ++k) FUZZ_CHECK(text.find(Decimal(pasv.host[k])) != std::string::npos);
        FUZZ_CHECK(text.find(Decimal(pasv.port / 256)) != std::string::npos);
        FUZZ_CHECK(text.find(Decimal(pasv.port % 256)) != std::string::npos);
    }
    return 0;
}
