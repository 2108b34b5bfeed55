// MD5 by OpenSSL's libcrypto, through its EVP interface.
#include "files/md5.h"

#include <openssl/evp.h>

#include "files/failure.h"

namespace splitter {
namespace {

[[noreturn]] void Fail() {
    throw Failure::Of(kDeviceIoError, "MD5");
}

}  // namespace

struct Md5::State {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free};
    void Start() {
        if (EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) Fail();
    }
};

Md5::Md5() : state_(std::make_unique<State>()) {
    if (!state_->context) throw Failure::Of(kOutOfMemory);
    state_->Start();
}

Md5::~Md5() = default;

void Md5::Update(const void* data, std::size_t n) {
    if (EVP_DigestUpdate(state_->context.get(), data, n) != 1) Fail();
}

Md5Digest Md5::Final() {
    Md5Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1 ||
        length != digest.size())
        Fail();
    state_->Start();
    return digest;
}

}  // namespace splitter
