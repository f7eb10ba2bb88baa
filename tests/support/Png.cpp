#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
void Put32(std::vector<unsigned char>& out, unsigned v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}

void Chunk(std::FILE* f, const char* type, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> buf;
    Put32(buf, static_cast<unsigned>(data.size()));
    buf.insert(buf.end(), type, type + 4);
    buf.insert(buf.end(), data.begin(), data.end());
    unsigned crc = static_cast<unsigned>(crc32(0, buf.data() + 4, static_cast<uInt>(buf.size() - 4)));
    Put32(buf, crc);
    std::fwrite(buf.data(), 1, buf.size(), f);
}
}  // namespace

bool WritePng(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb) {
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(height) * (static_cast<size_t>(width) * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        auto row = rgb.begin() + static_cast<long>(y) * width * 3;
        raw.insert(raw.end(), row, row + width * 3);
    }
    uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> z(zlen);
    if (compress(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) return false;
    z.resize(zlen);

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::fwrite(sig, 1, 8, f);
    std::vector<unsigned char> ihdr;
    Put32(ihdr, static_cast<unsigned>(width));
    Put32(ihdr, static_cast<unsigned>(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    Chunk(f, "IHDR", ihdr);
    Chunk(f, "IDAT", z);
    Chunk(f, "IEND", {});
    return std::fclose(f) == 0;
}
