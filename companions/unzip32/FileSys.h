// The few file-system services the unpacker needs, for the host and for
// Windows alike (the Windows half uses the C runtime, not <windows.h>).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "ZipReader.h"

namespace fsys {

// The separator of the platform's paths: '\\' on Windows, '/' elsewhere.
char Separator();

// Creates one directory; true when it exists as a directory afterwards.
bool MakeDir(const std::string& path);
bool IsDir(const std::string& path);
bool Exists(const std::string& path);
bool RemoveFile(const std::string& path);

// An archive on disk, read at 64-bit offsets.
class InputFile : public zipr::Source {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() override;
    bool Open(const std::string& path);
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buf, size_t n) override;

private:
    std::FILE* f_ = nullptr;
    uint64_t size_ = 0;
    uint64_t pos_ = UINT64_MAX;  // where the next read starts without a seek
};

// A file being written: created (or truncated), written, then kept or discarded.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { Discard(); }
    bool Create(const std::string& path);
    bool Write(const void* data, size_t size);
    // Flushes and closes; false when anything failed (the file is then removed).
    bool Close();
    // Closes and removes the file, if one is open.
    void Discard();

private:
    std::FILE* f_ = nullptr;
    std::string path_;
};

}  // namespace fsys
