#include "ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace zipr {

namespace {

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kLocator64Sig = 0x07064b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
constexpr size_t kEndSize = 22;
constexpr size_t kLocatorSize = 20;
constexpr size_t kEnd64Size = 56;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr uint16_t kZip64Tag = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr size_t kChunk = 256 * 1024;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

// Finds the Zip64 extended-information block in an extra field; false when absent.
bool FindZip64(const uint8_t* extra, size_t len, const uint8_t*& data, size_t& size) {
    size_t pos = 0;
    while (pos + 4 <= len) {
        uint16_t tag = Get16(extra + pos);
        uint16_t n = Get16(extra + pos + 2);
        if (pos + 4 + n > len) return false;  // a damaged tail of the extra field is ignored
        if (tag == kZip64Tag) {
            data = extra + pos + 4;
            size = n;
            return true;
        }
        pos += 4u + n;
    }
    return false;
}

// Takes the next 64-bit value of a Zip64 block for a field that is saturated.
bool Take64(const uint8_t* data, size_t size, size_t& pos, uint64_t& value) {
    if (pos + 8 > size) return false;
    value = Get64(data + pos);
    pos += 8;
    return true;
}

bool EqualNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != b[i]) return false;
    }
    return true;
}

bool DeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* d : fixed)
        if (EqualNoCase(base, d)) return true;
    if (base.size() == 4 && base[3] >= '0' && base[3] <= '9') {
        std::string stem = base.substr(0, 3);
        if (EqualNoCase(stem, "COM") || EqualNoCase(stem, "LPT")) return true;
    }
    return false;
}

// A component that names the parent folder, or that Windows trims to it.
bool ParentLike(const std::string& component) {
    size_t dots = 0;
    for (char c : component) {
        if (c == '.') ++dots;
        else if (c != ' ') return false;
    }
    return dots >= 2;
}

}  // namespace

const char* ResultText(int code) {
    switch (code) {
    case kOk: return "no errors";
    case kWarning: return "some members were skipped";
    case kDamaged: return "a member is damaged";
    case kSevere: return "the archive is damaged";
    case kNoMemory: return "out of memory";
    case kNotZip: return "not a zip archive";
    case kBadOptions: return "invalid options";
    case kNoMatch: return "no member matched";
    case kOutputLimit: return "output cannot be written or exceeds the limit";
    case kUnexpectedEnd: return "unexpected end of archive";
    case kAborted: return "aborted";
    case kUnsupported: return "unsupported compression method";
    case kEncrypted: return "encrypted member";
    default: return "unknown error";
    }
}

bool MemorySource::ReadAt(uint64_t offset, void* buf, size_t n) {
    if (offset > size_ || n > size_ - offset) return false;
    if (n) std::memcpy(buf, data_ + offset, n);
    return true;
}

bool SafeName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f || c == ':') return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        std::string component = name.substr(start, end - start);
        if (ParentLike(component) || DeviceName(component)) return false;
        start = end + 1;
    }
    return true;
}

const char* MethodName(const Member& m) {
    switch (m.Method) {
    case kStored: return "Stored";
    case kDeflated: return "Defl:N";
    case 9: return "Defl64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 93: return "Zstd";
    case 99: return "AES";
    default: return "Unknown";
    }
}

ZipReader::ZipReader(Source& source) : src_(source) {}

int ZipReader::Fail(int code, std::string why) {
    error_ = std::move(why);
    return code;
}

int ZipReader::Open() {
    members_.clear();
    comment_.clear();
    error_.clear();
    uint64_t end = 0, entries = 0, cdSize = 0, cdOffset = 0;
    int r = FindEnd(end, entries, cdSize, cdOffset);
    if (r != kOk) return r;
    r = ReadCentral(entries, cdSize, cdOffset);
    if (r != kOk) return r;

    // Every member's span (header, data, descriptor), the central directory and
    // the end records must lie apart: overlapping members are the stuff of
    // zip bombs, and no honest writer produces them.
    struct Span {
        uint64_t begin, end;
        size_t member;  // members_.size() for the directory and the end records
    };
    std::vector<Span> spans;
    spans.reserve(members_.size() + 2);
    for (size_t i = 0; i < members_.size(); ++i) {
        uint64_t spanEnd = 0;
        r = CheckLocal(members_[i], spanEnd);
        if (r != kOk) return r;
        spans.push_back({members_[i].LocalOffset, spanEnd, i});
    }
    spans.push_back({cdOffset, cdOffset + cdSize, members_.size()});
    spans.push_back({end, src_.Size(), members_.size()});
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
        return a.begin < b.begin || (a.begin == b.begin && a.end < b.end);
    });
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].begin < spans[i - 1].end) {
            const Span& s = spans[i].member < members_.size() ? spans[i] : spans[i - 1];
            std::string who = s.member < members_.size() ? members_[s.member].Name : "?";
            return Fail(kSevere, "member \"" + who + "\" overlaps another member or the central directory");
        }
    }
    return kOk;
}

int ZipReader::FindEnd(uint64_t& end, uint64_t& entries, uint64_t& cdSize, uint64_t& cdOffset) {
    const uint64_t size = src_.Size();
    if (size < kEndSize) return Fail(kNotZip, "no end-of-central-directory record (file too short)");
    // The end record is the last thing in the file but for a comment of up to 65535 bytes.
    const uint64_t window = std::min<uint64_t>(size, kEndSize + 0xFFFF);
    std::vector<uint8_t> tail(static_cast<size_t>(window));
    if (!src_.ReadAt(size - window, tail.data(), tail.size())) return Fail(kNotZip, "cannot read the archive");
    size_t at = SIZE_MAX;
    for (size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
        if (Get32(&tail[i]) != kEndSig) continue;
        if (Get16(&tail[i + 20]) <= tail.size() - i - kEndSize) {
            at = i;
            break;
        }
    }
    if (at == SIZE_MAX) return Fail(kNotZip, "no end-of-central-directory record");
    const uint8_t* e = &tail[at];
    const uint64_t endPos = size - window + at;
    uint32_t disk = Get16(e + 4), cdDisk = Get16(e + 6);
    uint64_t diskEntries = Get16(e + 8);
    entries = Get16(e + 10);
    cdSize = Get32(e + 12);
    cdOffset = Get32(e + 16);
    comment_.assign(reinterpret_cast<const char*>(e + kEndSize), Get16(e + 20));
    end = endPos;

    // Zip64: a locator right before the end record points at the 64-bit end record.
    uint8_t loc[kLocatorSize];
    if (endPos >= kLocatorSize && src_.ReadAt(endPos - kLocatorSize, loc, sizeof loc) && Get32(loc) == kLocator64Sig) {
        uint64_t at64 = Get64(loc + 8);
        if (Get32(loc + 4) != 0 || Get32(loc + 16) > 1) return Fail(kSevere, "multi-part archives are not supported");
        if (at64 > endPos - kLocatorSize || endPos - kLocatorSize - at64 < kEnd64Size)
            return Fail(kSevere, "Zip64 end record outside the archive");
        uint8_t e64[kEnd64Size];
        if (!src_.ReadAt(at64, e64, sizeof e64) || Get32(e64) != kEnd64Sig)
            return Fail(kSevere, "Zip64 end record not found where its locator says");
        disk = Get32(e64 + 16);
        cdDisk = Get32(e64 + 20);
        diskEntries = Get64(e64 + 24);
        entries = Get64(e64 + 32);
        cdSize = Get64(e64 + 40);
        cdOffset = Get64(e64 + 48);
        end = at64;
    }
    if (disk != 0 || cdDisk != 0 || diskEntries != entries) return Fail(kSevere, "multi-part archives are not supported");
    if (cdOffset > end || cdSize > end - cdOffset)
        return Fail(kUnexpectedEnd, "the central directory extends past the end of the archive");
    return kOk;
}

int ZipReader::ReadCentral(uint64_t entries, uint64_t cdSize, uint64_t cdOffset) {
    if (entries > cdSize / kCentralSize) return Fail(kSevere, "the central directory is too small for its entries");
    std::vector<uint8_t> cd(static_cast<size_t>(cdSize));
    if (!src_.ReadAt(cdOffset, cd.data(), cd.size())) return Fail(kUnexpectedEnd, "cannot read the central directory");
    members_.reserve(static_cast<size_t>(entries));
    size_t pos = 0;
    for (uint64_t i = 0; i < entries; ++i) {
        if (cd.size() - pos < kCentralSize || Get32(&cd[pos]) != kCentralSig)
            return Fail(kSevere, "central directory entry " + std::to_string(i + 1) + " is damaged");
        const uint8_t* h = &cd[pos];
        Member m;
        m.VersionMadeBy = Get16(h + 4);
        m.Flags = Get16(h + 8);
        m.Method = Get16(h + 10);
        m.DosTime = Get16(h + 12);
        m.DosDate = Get16(h + 14);
        m.Crc = Get32(h + 16);
        m.CompressedSize = Get32(h + 20);
        m.Size = Get32(h + 24);
        size_t nameLen = Get16(h + 28), extraLen = Get16(h + 30), commentLen = Get16(h + 32);
        uint32_t diskStart = Get16(h + 34);
        m.ExternalAttributes = Get32(h + 38);
        m.LocalOffset = Get32(h + 42);
        size_t total = kCentralSize + nameLen + extraLen + commentLen;
        if (cd.size() - pos < total) return Fail(kSevere, "central directory entry " + std::to_string(i + 1) + " is cut short");
        m.Name.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLen);
        if (m.Size == 0xFFFFFFFF || m.CompressedSize == 0xFFFFFFFF || m.LocalOffset == 0xFFFFFFFF || diskStart == 0xFFFF) {
            const uint8_t* z = nullptr;
            size_t zlen = 0, zpos = 0;
            bool ok = FindZip64(h + kCentralSize + nameLen, extraLen, z, zlen);
            if (ok && m.Size == 0xFFFFFFFF) ok = Take64(z, zlen, zpos, m.Size);
            if (ok && m.CompressedSize == 0xFFFFFFFF) ok = Take64(z, zlen, zpos, m.CompressedSize);
            if (ok && m.LocalOffset == 0xFFFFFFFF) ok = Take64(z, zlen, zpos, m.LocalOffset);
            if (ok && diskStart == 0xFFFF) {
                ok = zpos + 4 <= zlen;
                if (ok) diskStart = Get32(z + zpos);
            }
            if (!ok) return Fail(kSevere, "member \"" + m.Name + "\" lacks its Zip64 sizes");
        }
        if (diskStart != 0) return Fail(kSevere, "multi-part archives are not supported");
        members_.push_back(std::move(m));
        pos += total;
    }
    if (pos != cd.size()) return Fail(kSevere, "the central directory holds more than its entries");
    return kOk;
}

int ZipReader::CheckLocal(Member& m, uint64_t& spanEnd) {
    const uint64_t size = src_.Size();
    uint8_t h[kLocalSize];
    if (m.LocalOffset > size || size - m.LocalOffset < kLocalSize || !src_.ReadAt(m.LocalOffset, h, sizeof h))
        return Fail(kUnexpectedEnd, "local header of \"" + m.Name + "\" is past the end of the archive");
    if (Get32(h) != kLocalSig) return Fail(kSevere, "local header of \"" + m.Name + "\" not found");
    uint16_t flags = Get16(h + 6);
    uint16_t method = Get16(h + 8);
    uint32_t crc = Get32(h + 14);
    uint64_t csize = Get32(h + 18), usize = Get32(h + 22);
    size_t nameLen = Get16(h + 26), extraLen = Get16(h + 28);
    uint64_t varEnd = m.LocalOffset + kLocalSize + nameLen + extraLen;
    if (varEnd > size) return Fail(kUnexpectedEnd, "local header of \"" + m.Name + "\" is cut short");
    std::vector<uint8_t> var(nameLen + extraLen);
    if (!src_.ReadAt(m.LocalOffset + kLocalSize, var.data(), var.size()))
        return Fail(kUnexpectedEnd, "local header of \"" + m.Name + "\" is cut short");
    auto mismatch = [&](const char* what) {
        return Fail(kSevere, std::string("local header of \"") + m.Name + "\" disagrees with the central directory (" + what + ")");
    };
    if (nameLen != m.Name.size() || std::memcmp(var.data(), m.Name.data(), nameLen) != 0) return mismatch("name");
    if (method != m.Method) return mismatch("method");
    if ((flags & 0x0049) != (m.Flags & 0x0049)) return mismatch("flags");
    bool zip64 = false;
    if (csize == 0xFFFFFFFF || usize == 0xFFFFFFFF) {
        const uint8_t* z = nullptr;
        size_t zlen = 0, zpos = 0;
        bool ok = FindZip64(var.data() + nameLen, extraLen, z, zlen);
        if (ok && usize == 0xFFFFFFFF) ok = Take64(z, zlen, zpos, usize);
        if (ok && csize == 0xFFFFFFFF) ok = Take64(z, zlen, zpos, csize);
        if (!ok) return mismatch("Zip64 sizes missing");
        zip64 = true;
    }
    if (!(flags & kFlagDescriptor)) {
        if (crc != m.Crc) return mismatch("CRC");
        if (csize != m.CompressedSize || usize != m.Size) return mismatch("sizes");
    }
    m.DataOffset = varEnd;
    if (m.CompressedSize > size - m.DataOffset)
        return Fail(kUnexpectedEnd, "data of \"" + m.Name + "\" extends past the end of the archive");
    spanEnd = m.DataOffset + m.CompressedSize;
    if (flags & kFlagDescriptor) {
        // The data descriptor after the data: optional signature, CRC, two sizes.
        const uint8_t* dummy = nullptr;
        size_t dummyLen = 0;
        if (!zip64) zip64 = FindZip64(var.data() + nameLen, extraLen, dummy, dummyLen);
        uint8_t d[24];
        size_t sizes = zip64 ? 16 : 8;
        if (size - spanEnd < 4 + sizes || !src_.ReadAt(spanEnd, d, 4 + sizes))
            return Fail(kUnexpectedEnd, "data descriptor of \"" + m.Name + "\" is missing");
        size_t off = 0;
        if (Get32(d) == kDescriptorSig) {
            if (size - spanEnd < 8 + sizes || !src_.ReadAt(spanEnd, d, 8 + sizes))
                return Fail(kUnexpectedEnd, "data descriptor of \"" + m.Name + "\" is missing");
            off = 4;
        }
        if (Get32(d + off) != m.Crc) return mismatch("CRC in the data descriptor");
        spanEnd += off + 4 + sizes;
    }
    return kOk;
}

int ZipReader::Read(const Member& m, const Chunk& out) {
    if (m.Encrypted()) return Fail(kEncrypted, "\"" + m.Name + "\" is encrypted");
    if (!m.Supported())
        return Fail(kUnsupported, "\"" + m.Name + "\" uses compression method " + std::to_string(m.Method));
    if (in_.empty()) in_.resize(kChunk);
    uint32_t crc = 0;
    int r = m.Method == kStored ? ReadStored(m, out, crc) : ReadDeflated(m, out, crc);
    if (r != kOk) return r;
    if (crc != m.Crc) return Fail(kDamaged, "\"" + m.Name + "\": CRC error");
    return kOk;
}

int ZipReader::ReadStored(const Member& m, const Chunk& out, uint32_t& crc) {
    if (m.CompressedSize != m.Size) return Fail(kDamaged, "\"" + m.Name + "\": stored sizes differ");
    uint64_t pos = m.DataOffset, left = m.Size;
    while (left > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, in_.size()));
        if (!src_.ReadAt(pos, in_.data(), n)) return Fail(kUnexpectedEnd, "\"" + m.Name + "\": unexpected end of archive");
        crc = static_cast<uint32_t>(crc32(crc, in_.data(), static_cast<uInt>(n)));
        if (!out(in_.data(), n)) return Fail(kOutputLimit, "\"" + m.Name + "\": cannot write");
        pos += n;
        left -= n;
    }
    return kOk;
}

int ZipReader::ReadDeflated(const Member& m, const Chunk& out, uint32_t& crc) {
    if (out_.empty()) out_.resize(2 * kChunk);
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return Fail(kNoMemory, "cannot start inflating");
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } guard{&zs};
    uint64_t pos = m.DataOffset, left = m.CompressedSize, total = 0;
    int zr = Z_OK;
    while (zr != Z_STREAM_END) {
        if (zs.avail_in == 0) {
            if (left == 0) return Fail(kDamaged, "\"" + m.Name + "\": compressed data ends early");
            size_t n = static_cast<size_t>(std::min<uint64_t>(left, in_.size()));
            if (!src_.ReadAt(pos, in_.data(), n)) return Fail(kUnexpectedEnd, "\"" + m.Name + "\": unexpected end of archive");
            pos += n;
            left -= n;
            zs.next_in = in_.data();
            zs.avail_in = static_cast<uInt>(n);
        }
        zs.next_out = out_.data();
        zs.avail_out = static_cast<uInt>(out_.size());
        zr = inflate(&zs, Z_NO_FLUSH);
        if (zr == Z_MEM_ERROR) return Fail(kNoMemory, "out of memory while inflating");
        if (zr != Z_OK && zr != Z_STREAM_END && zr != Z_BUF_ERROR)
            return Fail(kDamaged, "\"" + m.Name + "\": bad compressed data");
        size_t got = out_.size() - zs.avail_out;
        if (got > m.Size - total) return Fail(kDamaged, "\"" + m.Name + "\": more data than its declared size");
        if (got) {
            crc = static_cast<uint32_t>(crc32(crc, out_.data(), static_cast<uInt>(got)));
            total += got;
            if (!out(out_.data(), got)) return Fail(kOutputLimit, "\"" + m.Name + "\": cannot write");
        }
    }
    if (total != m.Size) return Fail(kDamaged, "\"" + m.Name + "\": less data than its declared size");
    return kOk;
}

}  // namespace zipr
