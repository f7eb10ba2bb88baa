#include "HeldFile.h"

#include <vector>

#include "ZipReader.h"

bool THeldFile::Open(const std::string& path) {
    Close();
    handle_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    path_ = path;
    return true;
}

void THeldFile::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    path_.clear();
}

unsigned long long THeldFile::Size() const {
    LARGE_INTEGER size = {};
    if (!IsOpen() || !GetFileSizeEx(handle_, &size)) return 0;
    return static_cast<unsigned long long>(size.QuadPart);
}

bool THeldFile::ReadAt(unsigned long long offset, void* buf, size_t size) const {
    if (!IsOpen()) return false;
    char* out = static_cast<char*>(buf);
    while (size > 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(handle_, out, want, &got, &at) || got == 0) return false;
        out += got;
        offset += got;
        size -= got;
    }
    return true;
}

bool THeldFile::Sha256(TSha256Digest& out) const {
    TSha256 hash;
    if (!IsOpen() || !hash.Ok()) return false;
    std::vector<char> block(1u << 20);
    const unsigned long long size = Size();
    for (unsigned long long at = 0; at < size;) {
        const size_t n = size - at < block.size() ? static_cast<size_t>(size - at) : block.size();
        if (!ReadAt(at, block.data(), n)) return false;
        hash.Update(block.data(), n);
        at += n;
    }
    return hash.Final(out);
}

namespace {
class THeldSource : public zipr::Source {
public:
    explicit THeldSource(const THeldFile& file) : file_(file), size_(file.Size()) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buf, size_t n) override { return file_.ReadAt(offset, buf, n); }

private:
    const THeldFile& file_;
    uint64_t size_;
};
}  // namespace

bool ZipMemberSha256(const THeldFile& archive, const std::string& member, TSha256Digest& out) {
    THeldSource source(archive);
    zipr::ZipReader zip(source);
    if (zip.Open() != zipr::kOk) return false;
    TSha256 hash;
    if (!hash.Ok()) return false;
    // Unpacking writes members in their order, so of two of one name the
    // last is the file on disk.
    const zipr::Member* found = nullptr;
    for (const zipr::Member& m : zip.Members())
        if (m.Name == member) found = &m;
    if (!found) return false;
    const int r = zip.Read(*found, [&](const uint8_t* data, size_t size) {
        hash.Update(data, size);
        return true;
    });
    return r == zipr::kOk && hash.Final(out);
}
