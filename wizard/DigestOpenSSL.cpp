// SHA-256 and signature checks with OpenSSL's libcrypto (native builds).
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "Digest.h"

struct TSha256::Impl {
    EVP_MD_CTX* ctx = nullptr;
    bool ok = false;
};

TSha256::TSha256() : impl_(new Impl) {
    impl_->ctx = EVP_MD_CTX_new();
    impl_->ok = impl_->ctx && EVP_DigestInit_ex(impl_->ctx, EVP_sha256(), nullptr) == 1;
}

TSha256::~TSha256() { EVP_MD_CTX_free(impl_->ctx); }

bool TSha256::Ok() const { return impl_->ok; }

void TSha256::Update(const void* data, size_t size) {
    if (impl_->ok && EVP_DigestUpdate(impl_->ctx, data, size) != 1) impl_->ok = false;
}

bool TSha256::Final(TSha256Digest& out) {
    unsigned n = 0;
    const bool ok = impl_->ok && EVP_DigestFinal_ex(impl_->ctx, out.data(), &n) == 1 && n == out.size();
    impl_->ok = false;
    return ok;
}

TSignatureCheck VerifySha256Signature(const TSha256Digest& digest, const TBytes& signature, const TBytes& publicKeyDer) {
    const unsigned char* p = publicKeyDer.data();
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, static_cast<long>(publicKeyDer.size()));
    if (!key) return TSignatureCheck::BadKey;
    TSignatureCheck result = TSignatureCheck::BadKey;
    EVP_PKEY_CTX* ctx = nullptr;
    if (p == publicKeyDer.data() + publicKeyDer.size() && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA &&
        EVP_PKEY_get_bits(key) >= static_cast<int>(MinPublisherKeyBits)) {
        result = TSignatureCheck::Invalid;
        ctx = EVP_PKEY_CTX_new(key, nullptr);
        if (ctx && EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
            EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
            EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest.data(), digest.size()) == 1)
            result = TSignatureCheck::Valid;
    }
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return result;
}
