#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "Digest.h"

namespace {

std::string Key(const std::string& name) { return std::string(NORV_KEYS) + name; }

TBytes Read(const std::string& name) {
    TBytes b;
    EXPECT_TRUE(ReadSmallFile(Key(name), b, 1 << 20)) << name;
    return b;
}

std::string HexOf(const std::string& bytes) {
    TSha256Digest d{};
    EXPECT_TRUE(Sha256OfBytes(bytes.data(), bytes.size(), d));
    return Sha256Hex(d);
}

TEST(Sha256, KnownAnswersAndTheStreamingFormGiveTheSameDigests) {
    EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million "a", given in uneven pieces.
    TSha256 h;
    ASSERT_TRUE(h.Ok());
    const std::string piece(997, 'a');
    size_t left = 1000000;
    while (left) {
        const size_t n = std::min(left, piece.size());
        h.Update(piece.data(), n);
        left -= n;
    }
    TSha256Digest d{};
    ASSERT_TRUE(h.Final(d));
    EXPECT_EQ(Sha256Hex(d), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, AFileHashesAsOpensslSaysAndChecksAgainstItsHexText) {
    const TBytes want = Read("vector.sha256");
    const std::string hex(want.begin(), want.begin() + 64);
    TSha256Digest d{};
    ASSERT_TRUE(Sha256OfFile(Key("vector.bin"), d));
    EXPECT_EQ(Sha256Hex(d), hex);
    EXPECT_TRUE(FileMatchesSha256(Key("vector.bin"), hex));
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(FileMatchesSha256(Key("vector.bin"), upper));
    std::string other = hex;
    other[10] = other[10] == '0' ? '1' : '0';
    EXPECT_FALSE(FileMatchesSha256(Key("vector.bin"), other));
    for (const std::string& bad : {hex.substr(1), hex + "0", hex.substr(1) + "g", std::string()})
        EXPECT_FALSE(FileMatchesSha256(Key("vector.bin"), bad)) << bad;
    EXPECT_FALSE(FileMatchesSha256(Key("missing.bin"), hex));
    EXPECT_FALSE(Sha256OfFile(Key("missing.bin"), d));
}

TEST(Signature, EachChangeToDataSignatureOrKeyIsRefused) {
    const TBytes data = Read("vector.bin");
    const TBytes sig = Read("vector.bin.sig");
    const TBytes publisher = Read("publisher.der");
    TBytes pemAsDer;
    ASSERT_TRUE(PublicKeyDer(Read("publisher.pub.pem"), pemAsDer));
    EXPECT_EQ(pemAsDer, publisher);

    auto flip = [](TBytes b, size_t at) {
        b.at(at) ^= 0x01;
        return b;
    };
    TBytes truncated(sig.begin(), sig.end() - 1);
    TBytes garbageKey(publisher.begin(), publisher.begin() + publisher.size() / 2);
    struct Case {
        const char* name;
        TBytes data, sig, key;
        TSignatureCheck want;
    };
    const Case cases[] = {
        {"valid", data, sig, publisher, TSignatureCheck::Valid},
        {"first byte of the data", flip(data, 0), sig, publisher, TSignatureCheck::Invalid},
        {"last byte of the data", flip(data, data.size() - 1), sig, publisher, TSignatureCheck::Invalid},
        {"a byte of the signature", data, flip(sig, sig.size() / 2), publisher, TSignatureCheck::Invalid},
        {"signature cut short", data, truncated, publisher, TSignatureCheck::Invalid},
        {"no signature", data, TBytes(), publisher, TSignatureCheck::Invalid},
        {"another key's signature", data, Read("vector.bin.other.sig"), publisher, TSignatureCheck::Invalid},
        {"checked with the other key", data, Read("vector.bin.other.sig"), Read("other.der"), TSignatureCheck::Valid},
        {"a key of 1024 bits", data, Read("vector.bin.short.sig"), Read("short.der"), TSignatureCheck::BadKey},
        {"half a key", data, sig, garbageKey, TSignatureCheck::BadKey},
        {"no key", data, sig, TBytes(), TSignatureCheck::BadKey},
    };
    for (const Case& c : cases) {
        TSha256Digest d{};
        ASSERT_TRUE(Sha256OfBytes(c.data.data(), c.data.size(), d));
        EXPECT_EQ(VerifySha256Signature(d, c.sig, c.key), c.want) << c.name;
    }
    EXPECT_EQ(VerifyFileSignature(Key("vector.bin"), sig, publisher), TSignatureCheck::Valid);
    EXPECT_EQ(VerifyFileSignature(Key("missing.bin"), sig, publisher), TSignatureCheck::Unreadable);
}

TEST(Signature, KeyFilesInPemOrDerForm) {
    TBytes der;
    EXPECT_TRUE(PublicKeyDer(Read("other.der"), der));
    EXPECT_EQ(der, Read("other.der"));
    const std::string notKey = "-----BEGIN PUBLIC KEY-----\n!!!!\n-----END PUBLIC KEY-----\n";
    EXPECT_FALSE(PublicKeyDer(TBytes(notKey.begin(), notKey.end()), der));
    const std::string text = "hello";
    EXPECT_FALSE(PublicKeyDer(TBytes(text.begin(), text.end()), der));
}

}  // namespace
