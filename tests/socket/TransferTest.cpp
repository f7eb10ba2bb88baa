// TPowersock's data path against loopback peers: lines, reads, transactions,
// buffers with NULs, files and streams both ways (64 MB with content
// compared), cancels, listen/accept.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "Forms.h"
#include "Peer.h"
#include "Psock.h"

namespace {

using peer::After;
using peer::Peer;
using peer::Raised;
using peer::Within;

// Reads lines and answers each through reply(); ends when the client closes.
peer::Script LineServer(std::function<std::string(const std::string&)> reply) {
    return [reply](SOCKET c) {
        for (;;) {
            std::string line = peer::RecvLine(c);
            if (line.empty()) return;
            peer::SendAll(c, reply(line));
        }
    };
}

// Echoes every byte back until the client closes.
void Echo(SOCKET c) {
    peer::RecvUntilClosed(c, [c](const char* p, int n) { peer::SendAll(c, p, static_cast<size_t>(n)); });
}

struct Client {
    explicit Client(uint16_t port) : s(nullptr) {
        s.Host = "127.0.0.1";
        s.Port = port;
        s.TimeOut = 5000;
        s.Connect();
    }
    TPowersock s;
};

TEST(PsockLines, ReplySplitOverTwoPacketsAndTwoLinesInOnePacket) {
    Peer p("127.0.0.1", 0, [](SOCKET c) {
        peer::SendAll(c, "220 hel");
        Sleep(150);
        peer::SendAll(c, "lo\r\n");
        Sleep(50);
        peer::SendAll(c, "first\r\nsecond\n");
        peer::RecvUntilClosed(c, [](const char*, int) {});
    });
    Client c(p.Port());
    EXPECT_EQ(c.s.ReadLn(), "220 hello\r\n");
    EXPECT_EQ(c.s.ReadLn(), "first\r\n");
    EXPECT_EQ(c.s.Buffered(), 7) << "the second line is already here";
    EXPECT_EQ(c.s.ReadLn(), "second\n");
    EXPECT_EQ(c.s.Buffered(), 0);
}

TEST(PsockLines, TransactionReplyNumbers) {
    std::vector<std::string> got;
    Peer p("127.0.0.1", 0, LineServer([&](const std::string& cmd) -> std::string {
        got.push_back(cmd);
        if (cmd == "USER anonymous\r\n") return "331 Password please\r\n";
        if (cmd == "NOOP\r\n") return "no digits here\r\n";
        if (cmd == "BIG\r\n") return "99999 too big\r\n";
        return "220-more follows\r\n";
    }));
    Client c(p.Port());
    c.s.ReportLevel = 1;
    std::vector<std::string> status;
    c.s.OnStatus = [&](TObject*, const std::string& t) { status.push_back(t); };
    EXPECT_EQ(c.s.Transaction("USER anonymous"), "331 Password please\r\n");
    EXPECT_EQ(c.s.ReplyNumber, 331);
    EXPECT_EQ(c.s.LastReply, "331 Password please\r\n");
    c.s.Transaction("NOOP");
    EXPECT_EQ(c.s.ReplyNumber, 0);
    c.s.Transaction("BIG");
    EXPECT_EQ(c.s.ReplyNumber, 0);
    c.s.Transaction("X");
    EXPECT_EQ(c.s.ReplyNumber, 220);
    EXPECT_EQ(got.size(), 4u);
    ASSERT_EQ(status.size(), 4u) << "each reply at level 1, nothing else";
    EXPECT_EQ(status[0], "331 Password please\r\n");
}

TEST(PsockLines, WriteSendsUpToTheFirstNul) {
    Peer p("127.0.0.1", 0, Echo);
    Client c(p.Port());
    c.s.Write(std::string("ab\0cd", 5));
    c.s.Write(std::string("\0zz", 3));  // nothing to send: returns at once
    c.s.Write("");
    c.s.Writeln("X");
    EXPECT_EQ(c.s.ReadLn(), "abX\r\n");
    c.s.Write(std::string(20000, 'w') + "\n");  // more than the write area takes
    c.s.Writeln("");
    std::string back = c.s.ReadLn();
    EXPECT_EQ(back.size(), 16384u + 2u) << "16384 characters, then the next line's CR LF";
}

TEST(PsockLines, ReadCountsAndAll) {
    Peer p("127.0.0.1", 0, [](SOCKET c) {
        peer::SendAll(c, "12345");
        Sleep(100);
        peer::SendAll(c, "67890abc");
        peer::RecvUntilClosed(c, [](const char*, int) {});
    });
    Client c(p.Port());
    EXPECT_EQ(c.s.Read(7), "1234567");
    EXPECT_EQ(c.s.Read(3), "890");
    EXPECT_TRUE(Within(2000, [&] { return c.s.Buffered() == 3; }));
    EXPECT_EQ(c.s.Read(0), "abc");
    EXPECT_EQ(c.s.Read(0), "");
}

TEST(PsockLines, LineLengthLimitAndCancelIsSpentByItsException) {
    Peer p("127.0.0.1", 0, [](SOCKET c) {
        peer::SendAll(c, std::string(MaxReplyLine - 1, 'x') + "\n");
        peer::SendAll(c, std::string(MaxReplyLine + 10, 'y'));
        peer::RecvUntilClosed(c, [](const char*, int) {});
    });
    Client c(p.Port());
    EXPECT_EQ(c.s.ReadLn().size(), MaxReplyLine) << "a line of 64 KiB with its LF is accepted";
    EXPECT_EQ(Raised([&] { c.s.ReadLn(); }), std::string(SockText::LineTooLong));
    c.s.Read(0);
    After cancel(100, [&] { c.s.Cancel(); });
    EXPECT_EQ(Raised([&] { c.s.ReadLn(); }), std::string(SockText::ReadLnAborted));
    // As every cancel: the exception carries it, the flag is clear again.
    EXPECT_FALSE(c.s.Canceled);
    EXPECT_EQ(c.s.Read(0), "") << "the next take runs";
}

TEST(PsockLines, FullChunkPostsAnotherPassWhoseWouldBlockIsOnlyReported) {
    Peer p("127.0.0.1", 0, [](SOCKET c) {
        peer::SendAll(c, std::string(SocketChunk, 'k'));
        peer::RecvUntilClosed(c, [](const char*, int) {});
    });
    TPowersock s(nullptr);
    std::vector<int> errors;
    s.OnError = [&](TObject*, uint16_t no, const std::string&) { errors.push_back(no); };
    s.Host = "127.0.0.1";
    s.Port = p.Port();
    s.Connect();
    Sleep(300);  // the whole chunk is waiting before the first pass
    EXPECT_EQ(s.Read(SocketChunk).size(), static_cast<size_t>(SocketChunk));
    EXPECT_TRUE(Within(1000, [&] { return !errors.empty(); }));
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0], WSAEWOULDBLOCK);
    EXPECT_EQ(s.LastErrorNo, WSAEWOULDBLOCK);
    EXPECT_TRUE(s.Connected);
}

TEST(PsockStreams, SendFileEmptyReturnsAtOnceAndSendStreamBothSizes) {
    Peer p("127.0.0.1", 0, Echo);
    Client c(p.Port());
    std::string empty = peer::TempPath("empty.bin");
    std::fclose(std::fopen(empty.c_str(), "wb"));
    DWORD t0 = GetTickCount();
    c.s.SendFile(empty);
    EXPECT_LT(GetTickCount() - t0, 200u);
    EXPECT_EQ(c.s.BytesTotal, 0);
    EXPECT_FALSE(c.s.TransferActive);
    EXPECT_FALSE(c.s.StreamFromFile);
    std::remove(empty.c_str());

    TMemoryStream none;
    c.s.SendStream(none);  // an empty stream must not wait either
    TMemoryStream m;
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
    m.WriteText(text);
    int packets = 0;
    c.s.OnPacketSent = [&](TObject*) { ++packets; };
    c.s.SendStream(m);
    EXPECT_EQ(c.s.BytesSent, static_cast<int32_t>(text.size()));
    EXPECT_GE(packets, 2) << "more than one chunk";
    std::string back;
    c.s.CaptureString(back, static_cast<int32_t>(text.size()));
    EXPECT_EQ(back, text);
    EXPECT_EQ(Raised([&] { c.s.SendFile(peer::TempPath("missing.bin")); }).rfind("Cannot open file", 0), 0u);
    EXPECT_FALSE(c.s.TransferActive);
}

TEST(PsockStreams, SendFile64MBArrivesWhole) {
    const uint64_t size = 64ull << 20;
    std::string path = peer::TempPath("send64.bin");
    uint64_t want = peer::MakeFile(path, size, 7);
    uint64_t gotSize = 0, gotHash = 0;
    Peer p("127.0.0.1", 0, [&](SOCKET c) {
        peer::Fnv h;
        uint64_t n = 0;
        std::vector<char> buf(1 << 16);
        while (n < size) {
            int k = recv(c, buf.data(), static_cast<int>(buf.size()), 0);
            if (k <= 0) break;
            h.Add(buf.data(), static_cast<size_t>(k));
            n += static_cast<uint64_t>(k);
        }
        gotSize = n;
        gotHash = h.h;
        peer::SendAll(c, "226 done\r\n");
        peer::RecvUntilClosed(c, [](const char*, int) {});
    });
    Client c(p.Port());
    int packets = 0;
    c.s.OnPacketSent = [&](TObject*) { ++packets; };
    c.s.SendFile(path);
    EXPECT_EQ(c.s.BytesSent, static_cast<int32_t>(size));
    EXPECT_EQ(c.s.BytesTotal, static_cast<int32_t>(size));
    EXPECT_EQ(c.s.ReadLn(), "226 done\r\n");
    EXPECT_EQ(gotSize, size);
    EXPECT_EQ(gotHash, want);
    EXPECT_GE(packets, static_cast<int>(size / SocketChunk));
    std::remove(path.c_str());
}

TEST(PsockStreams, CaptureFile64MBAfterALineMatchesTheSource) {
    const uint64_t size = 64ull << 20;
    std::string src = peer::TempPath("src64.bin");
    std::string dst = peer::TempPath("dst64.bin");
    uint64_t want = peer::MakeFile(src, size, 11);
    Peer p("127.0.0.1", 0, [&](SOCKET c) {
        std::FILE* f = std::fopen(src.c_str(), "rb");
        std::vector<char> buf(1 << 20);
        // The header and the first data go in one packet.
        size_t n = std::fread(buf.data() + 8, 1, buf.size() - 8, f);
        std::memcpy(buf.data(), "150 go\r\n", 8);
        peer::SendAll(c, buf.data(), n + 8);
        while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) peer::SendAll(c, buf.data(), n);
        std::fclose(f);
    });
    Client c(p.Port());
    int packets = 0;
    c.s.OnPacketRecvd = [&](TObject*) { ++packets; };
    EXPECT_EQ(c.s.ReadLn(), "150 go\r\n");
    EXPECT_LT(c.s.Buffered(), 4 * SocketChunk) << "reading stops once the line is there";
    // A timer keeps firing while the data streams in: the passes give way.
    DWORD last = GetTickCount(), worst = 0;
    int ticks = 0;
    TThreadTimer tick(nullptr);
    tick.SetInterval(20);
    tick.SetOnTimer([&](TObject*) {
        DWORD now = GetTickCount();
        worst = std::max(worst, now - last);
        last = now;
        ++ticks;
    });
    DWORD t0 = GetTickCount();
    c.s.CaptureFile(dst);
    DWORD took = GetTickCount() - t0;
    tick.SetEnabled(false);
    std::printf("capture: %lu ms, %d timer ticks, longest gap %lu ms\n", took, ticks, worst);
    EXPECT_LT(worst, 1000u) << "the user interface must stay responsive (a starved timer waits the whole transfer)";
    EXPECT_FALSE(c.s.Connected);
    EXPECT_FALSE(c.s.TransferActive);
    EXPECT_EQ(c.s.BytesRcvd, static_cast<int32_t>(size)) << "every byte counted, the drained ones too";
    EXPECT_GT(packets, 100);
    uint64_t gotSize = 0;
    EXPECT_EQ(peer::HashFile(dst, &gotSize), want);
    EXPECT_EQ(gotSize, size);
    std::remove(src.c_str());
    std::remove(dst.c_str());
}

TEST(PsockStreams, CaptureFileOfAnOddSizeInOddPiecesArrivesWhole) {
    // Neither a multiple of the blocks a capture writes nor of what one recv
    // takes, sent in pieces of yet another size, and the peer closes right
    // after the last one: the bytes that the close notification drains land
    // in the file after the last whole block.
    const uint64_t size = (9ull << 20) + 4321;
    std::string src = peer::TempPath("odd-src.bin");
    std::string dst = peer::TempPath("odd-dst.bin");
    uint64_t want = peer::MakeFile(src, size, 5);
    Peer p("127.0.0.1", 0, [&](SOCKET c) {
        std::FILE* f = std::fopen(src.c_str(), "rb");
        std::vector<char> buf(777777);
        size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) peer::SendAll(c, buf.data(), n);
        std::fclose(f);
    });
    Client c(p.Port());
    Sleep(200);  // the first pieces wait in the socket before the capture starts
    c.s.CaptureFile(dst);
    EXPECT_EQ(c.s.BytesRcvd, static_cast<int32_t>(size));
    uint64_t gotSize = 0;
    EXPECT_EQ(peer::HashFile(dst, &gotSize), want);
    EXPECT_EQ(gotSize, size);
    std::remove(src.c_str());
    std::remove(dst.c_str());
}

TEST(PsockStreams, CancelFromAPacketHandlerEndsSendFileAndClearsTheFlags) {
    std::string path = peer::TempPath("cancel.bin");
    peer::MakeFile(path, 8u << 20, 3);
    Peer p("127.0.0.1", 0, [](SOCKET c) { peer::RecvUntilClosed(c, [](const char*, int) {}); });
    Client c(p.Port());
    c.s.OnPacketSent = [&](TObject*) {
        if (c.s.BytesSent > 100000) c.s.Cancel();
    };
    EXPECT_EQ(Raised([&] { c.s.SendFile(path); }), std::string(SockText::SendAborted));
    EXPECT_FALSE(c.s.Canceled);
    EXPECT_FALSE(c.s.TransferActive);
    EXPECT_FALSE(c.s.StreamFromFile);
    EXPECT_LT(c.s.BytesSent, 8 << 20);
    std::remove(path.c_str());
}

TEST(PsockStreams, CaptureStreamCountsAndUntilCloseAndFilterHeader) {
    Peer p("127.0.0.1", 0, [](SOCKET c) {
        peer::SendAll(c, "Type: x\r\nSize: 3\r\n\r\nabcdefgh");
        Sleep(100);
        peer::SendAll(c, "ij");
    });
    Client c(p.Port());
    TMemoryStream header;
    c.s.FilterHeader(header);
    EXPECT_EQ(std::string(header.Memory(), header.Bytes()), "Type: x\r\nSize: 3\r\n\r\n");
    TMemoryStream three;
    c.s.CaptureStream(three, 3);
    EXPECT_EQ(std::string(three.Memory(), three.Bytes()), "abc") << "no more than the count";
    TMemoryStream rest;
    c.s.CaptureStream(rest, -1);
    EXPECT_EQ(std::string(rest.Memory(), rest.Bytes()), "defghij");
    EXPECT_FALSE(c.s.Connected);
    std::string more;
    EXPECT_EQ(Raised([&] { c.s.CaptureString(more, 5); }), std::string(SockText::PeerClosed));
}

TEST(PsockStreams, PacketHandlerThatProcessesMessagesLosesNoNotification) {
    std::string sent;
    for (int i = 0; i < 300; ++i) sent += std::string(997, static_cast<char>('a' + i % 26)) + "\n";
    Peer p("127.0.0.1", 0, [&](SOCKET c) {
        for (size_t at = 0; at < sent.size(); at += 998) {
            peer::SendAll(c, sent.data() + at, 998);
            if (at % 8 == 0) Sleep(1);
        }
        peer::RecvLine(c);  // stays open until the client has everything
    });
    Client c(p.Port());
    c.s.OnPacketRecvd = [](TObject*) { Application->ProcessMessages(); };
    After guard(15000, [&] { c.s.Cancel(); });
    TMemoryStream got;
    c.s.CaptureStream(got, static_cast<int32_t>(sent.size()));
    EXPECT_EQ(std::string(got.Memory(), got.Bytes()), sent);
    c.s.Writeln("done");
}

TEST(PsockListen, ListenAcceptBothWaysAndCancel) {
    TPowersock server(nullptr);
    server.Port = 0;
    server.Listen(true);
    std::string ports = server.GetPortString();
    int hi = std::stoi(NthWord(ports, ',', 2)), lo = std::stoi(NthWord(ports, ',', 3));
    ASSERT_GT(hi * 256 + lo, 0) << "the system chose a port";

    TPowersock client(nullptr);
    client.Host = "127.0.0.1";
    client.Port = hi * 256 + lo;
    client.Connect();
    TSocketHandle accepted = server.Accept();
    ASSERT_NE(accepted, NoSocket);
    EXPECT_EQ(server.GetRemoteIP(), "127.0.0.1");
    server.TakeAcceptedSocket(accepted);
    server.Writeln("hello client");
    EXPECT_EQ(client.ReadLn(), "hello client\r\n");
    client.Writeln("hello server");
    EXPECT_EQ(server.ReadLn(), "hello server\r\n");
    client.Disconnect();
    EXPECT_TRUE(Within(3000, [&] { return !server.Connected; })) << "the close reaches the accepted socket";

    TPowersock listener(nullptr);
    listener.Port = 0;
    int accepts = 0;
    listener.OnAccept = [&](TObject*) { ++accepts; };
    listener.Listen(false);
    std::string lp = listener.GetPortString();
    TPowersock second(nullptr);
    second.Host = "127.0.0.1";
    second.Port = std::stoi(NthWord(lp, ',', 2)) * 256 + std::stoi(NthWord(lp, ',', 3));
    second.Connect();
    TSocketHandle a2 = listener.Accept();  // after the notification came as a socket event
    EXPECT_EQ(accepts, 1);
    listener.Close(a2);

    TPowersock busy(nullptr);
    busy.Port = second.Port;
    EXPECT_EQ(Raised([&] { busy.Listen(true); }), "10048:Address already in use");

    TPowersock lonely(nullptr);
    lonely.Port = 0;
    lonely.Listen(true);
    After cancel(100, [&] { lonely.Cancel(); });
    EXPECT_EQ(Raised([&] { lonely.Accept(); }), std::string(SockText::AcceptCanceled));
}

}  // namespace
