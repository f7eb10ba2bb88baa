#include "Digest.h"

#include <cstdio>

bool Sha256OfBytes(const void* data, size_t size, TSha256Digest& out) {
    TSha256 h;
    if (!h.Ok()) return false;
    h.Update(data, size);
    return h.Final(out);
}

bool Sha256OfFile(const std::string& path, TSha256Digest& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    TSha256 h;
    bool ok = h.Ok();
    std::vector<unsigned char> block(64 * 1024);
    while (ok) {
        const size_t n = std::fread(block.data(), 1, block.size(), f);
        if (n) h.Update(block.data(), n);
        if (n < block.size()) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    return ok && h.Final(out);
}

TSignatureCheck VerifyFileSignature(const std::string& path, const TBytes& signature, const TBytes& publicKeyDer) {
    TSha256Digest digest;
    if (!Sha256OfFile(path, digest)) return TSignatureCheck::Unreadable;
    return VerifySha256Signature(digest, signature, publicKeyDer);
}

std::string Sha256Hex(const TSha256Digest& digest) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

bool Sha256FromHex(std::string_view text, TSha256Digest& out) {
    if (text.size() != 2 * out.size()) return false;
    for (size_t i = 0; i < out.size(); ++i) {
        const int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    return true;
}

bool FileMatchesSha256(const std::string& path, std::string_view hexText) {
    TSha256Digest want, got;
    return Sha256FromHex(hexText, want) && Sha256OfFile(path, got) && got == want;
}

bool ReadSmallFile(const std::string& path, TBytes& out, size_t limit) {
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char block[4096];
    bool ok = true;
    for (;;) {
        const size_t n = std::fread(block, 1, sizeof block, f);
        out.insert(out.end(), block, block + n);
        if (out.size() > limit) ok = false;
        if (n < sizeof block || !ok) break;
    }
    if (std::ferror(f)) ok = false;
    std::fclose(f);
    return ok;
}

bool PublicKeyDer(const TBytes& file, TBytes& der) {
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    const std::string_view begin = "-----BEGIN PUBLIC KEY-----", end = "-----END PUBLIC KEY-----";
    const size_t b = text.find(begin);
    if (b == std::string_view::npos) {
        der = file;  // DER already: its first byte opens a SEQUENCE
        return !file.empty() && file[0] == 0x30;
    }
    const size_t e = text.find(end, b);
    if (e == std::string_view::npos) return false;
    der.clear();
    unsigned acc = 0;
    int bits = 0;
    for (char c : text.substr(b + begin.size(), e - b - begin.size())) {
        if (c == '=' || c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        const int v = Base64Value(c);
        if (v < 0) return false;
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            der.push_back(static_cast<unsigned char>((acc >> bits) & 0xFF));
        }
    }
    return !der.empty() && der[0] == 0x30;
}
