// MD5 by Windows' own CNG (bcrypt.dll, Windows Vista and later).
#include "files/md5.h"

// clang-format off
#include "files/win32/windows_api.h"
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <climits>

#include "files/failure.h"

namespace splitter {
namespace {

[[noreturn]] void Fail() {
    throw Failure::Of(kDeviceIoError, "MD5");
}

// Opened once for the process and never closed: opening a provider is the slow part of CNG.
BCRYPT_ALG_HANDLE Algorithm() {
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&handle, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
            Fail();
        return handle;
    }();
    return algorithm;
}

}  // namespace

struct Md5::State {
    BCRYPT_HASH_HANDLE hash = nullptr;

    ~State() { Drop(); }
    void Start() {
        // CNG keeps the hash object itself when given none (Windows 7 and later).
        if (!BCRYPT_SUCCESS(BCryptCreateHash(Algorithm(), &hash, nullptr, 0, nullptr, 0, 0))) {
            hash = nullptr;
            Fail();
        }
    }
    void Drop() {
        if (hash != nullptr) BCryptDestroyHash(hash);
        hash = nullptr;
    }
};

Md5::Md5() : state_(std::make_unique<State>()) {
    state_->Start();
}

Md5::~Md5() = default;

void Md5::Update(const void* data, std::size_t n) {
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (n > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(n, ULONG_MAX));
        if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash, bytes, chunk, 0))) Fail();
        bytes += chunk;
        n -= chunk;
    }
}

Md5Digest Md5::Final() {
    Md5Digest digest{};
    // A finished CNG hash takes no more data: the next one is a new object.
    const NTSTATUS status =
        BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    state_->Drop();
    if (!BCRYPT_SUCCESS(status)) Fail();
    state_->Start();
    return digest;
}

}  // namespace splitter
