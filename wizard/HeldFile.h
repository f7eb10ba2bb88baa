// A file held from its check to its use.
//
// The file is opened for reading with read sharing alone: while the handle
// is open nobody can write it, replace it, rename it or delete it, and its
// checksum is read through that same handle. The package is held from its
// checksum through the unpacking, the image from its checksum until the
// flashing tool has ended.
#pragma once
#include <windows.h>

#include <string>

#include "Digest.h"

class THeldFile {
public:
    THeldFile() = default;
    THeldFile(const THeldFile&) = delete;
    THeldFile& operator=(const THeldFile&) = delete;
    ~THeldFile() { Close(); }

    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    const std::string& Path() const { return path_; }
    HANDLE Handle() const { return handle_; }

    // Reads exactly size bytes at offset; false when they are not all there.
    bool ReadAt(unsigned long long offset, void* buf, size_t size) const;
    unsigned long long Size() const;
    // The SHA-256 of the whole file.
    bool Sha256(TSha256Digest& out) const;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string path_;
};

// The SHA-256 of the data of the member stored under the name member (as the
// archive's directory gives it), read from the held archive and unpacked
// here; false when the archive or the member cannot be read whole.
bool ZipMemberSha256(const THeldFile& archive, const std::string& member, TSha256Digest& out);
