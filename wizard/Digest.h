// Checksums and publisher signatures of update files.
//
// SHA-256 of bytes and files, and RSA PKCS#1 v1.5 signatures over SHA-256
// checked against a publisher key given as a DER SubjectPublicKeyInfo. One
// interface, two implementations: the Windows CryptoAPI in the wizard
// (DigestWin32.cpp) and OpenSSL's libcrypto in native builds
// (DigestOpenSSL.cpp). Everything else here is portable.
#pragma once
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using TSha256Digest = std::array<unsigned char, 32>;
using TBytes = std::vector<unsigned char>;

// Publisher keys shorter than this are refused.
constexpr unsigned MinPublisherKeyBits = 2048;

// A running SHA-256. Ok() is false when the platform gave no hash at all.
class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    bool Ok() const;
    void Update(const void* data, size_t size);
    // The digest of everything given so far; call once.
    bool Final(TSha256Digest& out);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

enum class TSignatureCheck {
    Valid,       // made by the key's owner over exactly these bytes
    Invalid,     // any other signature, or none
    BadKey,      // the key is not a readable RSA key of 2048 bits or more
    Unreadable,  // the signed file could not be read
};

// The signature over a SHA-256 digest: PKCS#1 v1.5, big-endian as openssl
// writes it.
TSignatureCheck VerifySha256Signature(const TSha256Digest& digest, const TBytes& signature, const TBytes& publicKeyDer);

bool Sha256OfBytes(const void* data, size_t size, TSha256Digest& out);
bool Sha256OfFile(const std::string& path, TSha256Digest& out);
TSignatureCheck VerifyFileSignature(const std::string& path, const TBytes& signature, const TBytes& publicKeyDer);

std::string Sha256Hex(const TSha256Digest& digest);  // 64 small hex digits
// Exactly 64 hex digits, either case; anything else is false.
bool Sha256FromHex(std::string_view text, TSha256Digest& out);
// A file whose whole content is a checksum's hex text must match it.
bool FileMatchesSha256(const std::string& path, std::string_view hexText);

// A whole small file (a signature, a key); false when it cannot be read or is
// larger than the limit.
bool ReadSmallFile(const std::string& path, TBytes& out, size_t limit = 64 * 1024);

// A key file in PEM ("-----BEGIN PUBLIC KEY-----") or DER form, as DER.
bool PublicKeyDer(const TBytes& file, TBytes& der);
