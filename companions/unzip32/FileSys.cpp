#include "FileSys.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

namespace fsys {

namespace {

#ifdef _WIN32
using StatBuf = struct _stat64;
// The C runtime's stat fails on a folder path that ends in a backslash, unless it is a drive root.
int StatPath(const std::string& p, StatBuf* st) {
    std::string q = p;
    while (q.size() > 1 && (q.back() == '\\' || q.back() == '/') && !(q.size() == 3 && q[1] == ':')) q.pop_back();
    return _stat64(q.c_str(), st);
}
int Seek(std::FILE* f, uint64_t off) { return _fseeki64(f, static_cast<__int64>(off), SEEK_SET); }
int64_t Tell(std::FILE* f) { return _ftelli64(f); }
int SeekEnd(std::FILE* f) { return _fseeki64(f, 0, SEEK_END); }
bool IsDirMode(unsigned mode) { return (mode & _S_IFDIR) != 0; }
#else
using StatBuf = struct stat;
int StatPath(const std::string& p, StatBuf* st) { return ::stat(p.c_str(), st); }
int Seek(std::FILE* f, uint64_t off) { return fseeko(f, static_cast<off_t>(off), SEEK_SET); }
int64_t Tell(std::FILE* f) { return ftello(f); }
int SeekEnd(std::FILE* f) { return fseeko(f, 0, SEEK_END); }
bool IsDirMode(unsigned mode) { return S_ISDIR(mode); }
#endif

}  // namespace

char Separator() {
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

bool IsDir(const std::string& path) {
    StatBuf st;
    return StatPath(path, &st) == 0 && IsDirMode(static_cast<unsigned>(st.st_mode));
}

bool Exists(const std::string& path) {
    StatBuf st;
    return StatPath(path, &st) == 0;
}

bool MakeDir(const std::string& path) {
#ifdef _WIN32
    if (_mkdir(path.c_str()) == 0) return true;
#else
    if (::mkdir(path.c_str(), 0777) == 0) return true;
#endif
    return IsDir(path);
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

InputFile::~InputFile() {
    if (f_) std::fclose(f_);
}

bool InputFile::Open(const std::string& path) {
    if (IsDir(path)) return false;
    f_ = std::fopen(path.c_str(), "rb");
    if (!f_) return false;
    // Reads are large or few; the library's own buffer would only copy them twice.
    std::setvbuf(f_, nullptr, _IONBF, 0);
    if (SeekEnd(f_) != 0) return false;
    int64_t size = Tell(f_);
    if (size < 0) return false;
    size_ = static_cast<uint64_t>(size);
    pos_ = size_;
    return true;
}

bool InputFile::ReadAt(uint64_t offset, void* buf, size_t n) {
    if (!f_ || offset > size_ || n > size_ - offset) return false;
    if (offset != pos_) {
        if (Seek(f_, offset) != 0) {
            pos_ = UINT64_MAX;
            return false;
        }
        pos_ = offset;
    }
    size_t got = n ? std::fread(buf, 1, n, f_) : 0;
    pos_ = got == n ? offset + n : UINT64_MAX;
    return got == n;
}

bool OutputFile::Create(const std::string& path) {
    Discard();
    f_ = std::fopen(path.c_str(), "wb");
    if (!f_) return false;
    path_ = path;
    return true;
}

bool OutputFile::Write(const void* data, size_t size) {
    return f_ && std::fwrite(data, 1, size, f_) == size;
}

bool OutputFile::Close() {
    if (!f_) return false;
    bool ok = std::ferror(f_) == 0;
    ok = std::fclose(f_) == 0 && ok;
    f_ = nullptr;
    if (!ok) RemoveFile(path_);
    path_.clear();
    return ok;
}

void OutputFile::Discard() {
    if (!f_) return;
    std::fclose(f_);
    f_ = nullptr;
    RemoveFile(path_);
    path_.clear();
}

}  // namespace fsys
