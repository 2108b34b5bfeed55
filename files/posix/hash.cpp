// SHA-256 and MD5 by OpenSSL's libcrypto, through its EVP interface.
#include "files/hash.h"

#include <openssl/evp.h>

#include "files/failure.h"

namespace splitter {
namespace {

template <HashKind Kind>
[[noreturn]] void Fail() {
    throw Failure::Of(kDeviceIoError, Kind == HashKind::kSha256 ? "SHA-256" : "MD5");
}

}  // namespace

template <HashKind Kind, std::size_t Size>
struct Hash<Kind, Size>::State {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free};
    void Start() {
        const EVP_MD* algorithm = Kind == HashKind::kSha256 ? EVP_sha256() : EVP_md5();
        if (EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1) Fail<Kind>();
    }
};

template <HashKind Kind, std::size_t Size>
Hash<Kind, Size>::Hash() : state_(std::make_unique<State>()) {
    if (!state_->context) throw Failure::Of(kOutOfMemory);
    state_->Start();
}

template <HashKind Kind, std::size_t Size>
Hash<Kind, Size>::~Hash() = default;

template <HashKind Kind, std::size_t Size>
void Hash<Kind, Size>::Update(const void* data, std::size_t n) {
    if (EVP_DigestUpdate(state_->context.get(), data, n) != 1) Fail<Kind>();
}

template <HashKind Kind, std::size_t Size>
typename Hash<Kind, Size>::Digest Hash<Kind, Size>::Final() {
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 ||
        length != digest.size())
        Fail<Kind>();
    state_->Start();
    return digest;
}

template class Hash<HashKind::kSha256, 32>;
template class Hash<HashKind::kMd5, 16>;

}  // namespace splitter
