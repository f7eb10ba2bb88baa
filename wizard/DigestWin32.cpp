// SHA-256 and signature checks with the Windows CryptoAPI. SHA-256 needs a
// provider of the type PROV_RSA_AES; the CryptoAPI takes signatures with the
// least significant byte first, the reverse of what openssl writes.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

#include "Digest.h"

// The headers declare SHA-256 only for Windows XP SP2 and later; the value is
// the same on every version that has it.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

namespace {
HCRYPTPROV AcquireProvider() {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return 0;
    return prov;
}
}  // namespace

struct TSha256::Impl {
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    bool ok = false;
};

TSha256::TSha256() : impl_(new Impl) {
    impl_->prov = AcquireProvider();
    impl_->ok = impl_->prov && CryptCreateHash(impl_->prov, CALG_SHA_256, 0, 0, &impl_->hash);
}

TSha256::~TSha256() {
    if (impl_->hash) CryptDestroyHash(impl_->hash);
    if (impl_->prov) CryptReleaseContext(impl_->prov, 0);
}

bool TSha256::Ok() const { return impl_->ok; }

void TSha256::Update(const void* data, size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    while (impl_->ok && size > 0) {
        const DWORD n = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!CryptHashData(impl_->hash, p, n, 0)) impl_->ok = false;
        p += n;
        size -= n;
    }
}

bool TSha256::Final(TSha256Digest& out) {
    DWORD n = static_cast<DWORD>(out.size());
    const bool ok = impl_->ok && CryptGetHashParam(impl_->hash, HP_HASHVAL, out.data(), &n, 0) && n == out.size();
    impl_->ok = false;
    return ok;
}

TSignatureCheck VerifySha256Signature(const TSha256Digest& digest, const TBytes& signature, const TBytes& publicKeyDer) {
    HCRYPTPROV prov = AcquireProvider();
    if (!prov) return TSignatureCheck::Invalid;
    TSignatureCheck result = TSignatureCheck::BadKey;
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    DWORD bits = 0, bitsSize = sizeof bits;
    if (!publicKeyDer.empty() &&
        CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, publicKeyDer.data(),
                            static_cast<DWORD>(publicKeyDer.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                            &infoSize) &&
        lstrcmpA(info->Algorithm.pszObjId, szOID_RSA_RSA) == 0 &&
        CryptImportPublicKeyInfo(prov, X509_ASN_ENCODING, info, &key) &&
        CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &bitsSize, 0) && bits >= MinPublisherKeyBits) {
        result = TSignatureCheck::Invalid;
        TBytes reversed(signature.rbegin(), signature.rend());
        if (signature.size() == (bits + 7) / 8 && CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash) &&
            CryptSetHashParam(hash, HP_HASHVAL, digest.data(), 0) &&
            CryptVerifySignatureA(hash, reversed.data(), static_cast<DWORD>(reversed.size()), key, nullptr, 0))
            result = TSignatureCheck::Valid;
    }
    if (hash) CryptDestroyHash(hash);
    if (key) CryptDestroyKey(key);
    if (info) LocalFree(info);
    CryptReleaseContext(prov, 0);
    return result;
}
