// Measures the version-index reader on a large generated index.
//
//   index_bench generate FILE MEGABYTES   write a version index of that size
//   index_bench compare FILE MODEL [N]    reader and a plain fgets loop, best of N
//   index_bench parse FILE MODEL          the reader alone; prints its peak memory
//
// The list sink counts the committed entries and releases each at once, so
// the memory figure is the reader's own.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "IndexReader.h"

namespace {

struct CountingList : TVersionListSink {
    void Clear() override { Count = 0; }
    void Add(const std::string&, std::unique_ptr<VersionInfo>) override { ++Count; }
    long Count = 0;
};

struct StderrMessages : TIndexMessageSink {
    void ShowIndexMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

constexpr int kBoards = 50;

// Blocks for 50 boards in turn, each with a few versions, written with CR LF
// as index files made on Windows are.
int Generate(const char* path, long megabytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 2;
    const long target = megabytes * 1024L * 1024L;
    long written = 0, block = 0;
    auto put = [&](const std::string& s) {
        std::fwrite(s.data(), 1, s.size(), f);
        written += static_cast<long>(s.size());
    };
    put("-- version index of the benchmark\r\n");
    while (written < target) {
        const int board = static_cast<int>(block % kBoards);
        put("<product> MODEL-" + std::to_string(board) + "\r\n");
        for (int v = 0; v < 4 && written < target; ++v) {
            const std::string n = std::to_string(1000 + block * 4 + v);
            put("<version> " + n + "\r\n");
            put("<release-date> 2001/0" + std::to_string(1 + v) + "/1" + std::to_string(v) + "\r\n");
            put("<description> Release " + n + " of the BIOS for this board.\r\n");
            for (int l = 0; l < 3 + v; ++l)
                put("  Fixes issue " + std::to_string(l) + ": the clock setting after a warm start is kept now.\r\n");
            put("\r\n<~description>\r\n");
            put("<path> /pub/bios/model" + std::to_string(board) + "/v" + n + ".zip\r\n");
            put("<~version>\r\n");
        }
        put("<~product>\r\n");
        ++block;
    }
    std::fclose(f);
    std::printf("generated %s: %ld bytes\n", path, written);
    return 0;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The plain loop: the same file, line by line through a 256-byte buffer.
double PlainLoop(const char* path, long& lines) {
    const auto t0 = std::chrono::steady_clock::now();
    std::FILE* f = std::fopen(path, "rb");
    if (!f) std::exit(2);
    char buffer[256];
    lines = 0;
    while (std::fgets(buffer, sizeof buffer, f)) ++lines;
    std::fclose(f);
    return Seconds(std::chrono::steady_clock::now() - t0);
}

double Reader(const char* path, const std::string& model, long& entries) {
    const auto t0 = std::chrono::steady_clock::now();
    StderrMessages messages;
    CountingList list;
    std::unique_ptr<VersionInfo> current;
    TIndexContext ctx{model, current, messages, list};
    ParseVersionIndex(ctx, path, TIndexFileAfterReading::Keep);
    entries = list.Count;
    return Seconds(std::chrono::steady_clock::now() - t0);
}

long FileSize(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) std::exit(2);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

long PeakKilobytes() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "generate" && argc == 4) return Generate(argv[2], std::atol(argv[3]));
    if (cmd == "compare" && (argc == 4 || argc == 5)) {
        const int rounds = argc == 5 ? std::atoi(argv[4]) : 5;
        const double mb = FileSize(argv[2]) / (1024.0 * 1024.0);
        long lines = 0, entries = 0;
        PlainLoop(argv[2], lines);  // warms the page cache
        double plain = 1e9, reader = 1e9;
        for (int r = 0; r < rounds; ++r) {
            plain = std::min(plain, PlainLoop(argv[2], lines));
            reader = std::min(reader, Reader(argv[2], argv[3], entries));
        }
        std::printf("file: %.1f MB, %ld lines; entries listed for %s: %ld\n", mb, lines, argv[3], entries);
        std::printf("plain loop: %.3f s, %.0f MB/s\n", plain, mb / plain);
        std::printf("reader:     %.3f s, %.0f MB/s\n", reader, mb / reader);
        std::printf("ratio (reader speed / plain loop speed): %.2f\n", plain / reader);
        return 0;
    }
    if (cmd == "parse" && argc == 4) {
        long entries = 0;
        const double t = Reader(argv[2], argv[3], entries);
        std::printf("parsed %s for %s: %ld entries in %.3f s; peak memory %ld kB\n", argv[2], argv[3], entries, t,
                    PeakKilobytes());
        return 0;
    }
    std::fprintf(stderr,
                 "usage: index_bench generate FILE MEGABYTES\n"
                 "       index_bench compare FILE MODEL [ROUNDS]\n"
                 "       index_bench parse FILE MODEL\n");
    return 2;
}
