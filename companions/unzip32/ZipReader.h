// Zip container reader: end record, central directory, local headers, and the
// data of stored and deflated members with their CRC-32 checked.
// Portable: no Win32 here; the native tool, the tests and the fuzzer use it as
// it is, and unzip32.dll wraps it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zipr {

// Result codes, numbered as the unzip tools number them.
enum Result : int {
    kOk = 0,
    kWarning = 1,         // something was skipped, the rest is done
    kDamaged = 2,         // a member is damaged (CRC, sizes, compressed data)
    kSevere = 3,          // the archive's structure is damaged or inconsistent
    kNoMemory = 4,
    kNotZip = 9,          // cannot be opened, or no end record found
    kBadOptions = 10,
    kNoMatch = 11,        // names were asked for and none matched
    kOutputLimit = 50,    // output limit reached, or a file cannot be written
    kUnexpectedEnd = 51,  // the archive ends before the data it declares
    kAborted = 80,
    kUnsupported = 81,    // compression method not handled
    kEncrypted = 82,
};

// Short English text for a result code.
const char* ResultText(int code);

// Random-access input.
class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly n bytes at offset; false when they are not all there.
    virtual bool ReadAt(uint64_t offset, void* buf, size_t n) = 0;
};

class MemorySource : public Source {
public:
    MemorySource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buf, size_t n) override;

private:
    const uint8_t* data_;
    size_t size_;
};

enum Method : uint16_t { kStored = 0, kDeflated = 8 };

struct Member {
    std::string Name;  // exactly as stored in the central directory
    uint16_t VersionMadeBy = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t DosTime = 0;
    uint16_t DosDate = 0;
    uint32_t Crc = 0;
    uint64_t CompressedSize = 0;
    uint64_t Size = 0;
    uint64_t LocalOffset = 0;  // local header
    uint64_t DataOffset = 0;   // first byte of the member's data
    uint32_t ExternalAttributes = 0;

    bool Encrypted() const { return (Flags & 0x0041) != 0; }  // traditional or strong encryption
    bool Directory() const {
        return !Name.empty() && (Name.back() == '/' || Name.back() == '\\');
    }
    bool Supported() const { return Method == kStored || Method == kDeflated; }
};

// True when the stored name can be unpacked below an extraction folder:
// not empty, relative (no leading slash or backslash, so no UNC prefix either),
// no drive letter or any other ':', no ".." component (nor one that Windows
// would read as "..", like ".. " or "..."), no control characters, and no
// component that Windows opens as a device (CON, NUL, COM1, LPT1.txt, ...).
bool SafeName(const std::string& name);

// Name of a compression method as listings show it ("Stored", "Defl:N", ...).
const char* MethodName(const Member& m);

class ZipReader {
public:
    explicit ZipReader(Source& source);

    // Reads the end record (Zip64 too) and the central directory, checks each
    // local header against its central entry, and checks that no member's
    // header and data overlap another member or the central directory.
    // Reads no member data. Returns kOk or an error code; Error() says why.
    int Open();

    const std::vector<Member>& Members() const { return members_; }
    const std::string& Comment() const { return comment_; }
    const std::string& Error() const { return error_; }

    // Decompresses one member of Members(), handing the data on in pieces.
    // Never hands on more than the member's declared size; checks the size
    // and the CRC-32 at the end. A false return from out stops the member
    // with kOutputLimit. Returns kOk or an error code.
    using Chunk = std::function<bool(const uint8_t* data, size_t size)>;
    int Read(const Member& m, const Chunk& out);

private:
    int Fail(int code, std::string why);
    int FindEnd(uint64_t& end, uint64_t& entries, uint64_t& cdSize, uint64_t& cdOffset);
    int ReadCentral(uint64_t entries, uint64_t cdSize, uint64_t cdOffset);
    int CheckLocal(Member& m, uint64_t& spanEnd);
    int ReadStored(const Member& m, const Chunk& out, uint32_t& crc);
    int ReadDeflated(const Member& m, const Chunk& out, uint32_t& crc);

    Source& src_;
    std::vector<Member> members_;
    std::string comment_;
    std::string error_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
};

}  // namespace zipr
