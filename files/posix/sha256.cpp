// SHA-256 by OpenSSL's libcrypto, through its EVP interface.
#include "files/sha256.h"

#include <openssl/evp.h>

#include "files/failure.h"

namespace splitter {
namespace {

[[noreturn]] void Fail() {
    throw Failure::Of(kDeviceIoError, "SHA-256");
}

}  // namespace

struct Sha256::State {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free};
    void Start() {
        if (EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) Fail();
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!state_->context) throw Failure::Of(kOutOfMemory);
    state_->Start();
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t n) {
    if (EVP_DigestUpdate(state_->context.get(), data, n) != 1) Fail();
}

Sha256Digest Sha256::Final() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 ||
        length != digest.size())
        Fail();
    state_->Start();
    return digest;
}

}  // namespace splitter
