// SHA-256 and MD5 by Windows' own CNG (bcrypt.dll, Windows Vista and later).
#include "files/hash.h"

// clang-format off
#include "files/win32/windows_api.h"
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <climits>

#include "files/failure.h"

namespace splitter {
namespace {

template <HashKind Kind>
[[noreturn]] void Fail() {
    throw Failure::Of(kDeviceIoError, Kind == HashKind::kSha256 ? "SHA-256" : "MD5");
}

// Opened once for the process and never closed: opening a provider is the slow part of CNG.
template <HashKind Kind>
BCRYPT_ALG_HANDLE Algorithm() {
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        const wchar_t* name =
            Kind == HashKind::kSha256 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, name, nullptr, 0))) Fail<Kind>();
        return handle;
    }();
    return algorithm;
}

}  // namespace

template <HashKind Kind, std::size_t Size>
struct Hash<Kind, Size>::State {
    BCRYPT_HASH_HANDLE hash = nullptr;

    ~State() { Drop(); }
    void Start() {
        // CNG keeps the hash object itself when given none (Windows 7 and later).
        if (!BCRYPT_SUCCESS(
                BCryptCreateHash(Algorithm<Kind>(), &hash, nullptr, 0, nullptr, 0, 0))) {
            hash = nullptr;
            Fail<Kind>();
        }
    }
    void Drop() {
        if (hash != nullptr) BCryptDestroyHash(hash);
        hash = nullptr;
    }
};

template <HashKind Kind, std::size_t Size>
Hash<Kind, Size>::Hash() : state_(std::make_unique<State>()) {
    state_->Start();
}

template <HashKind Kind, std::size_t Size>
Hash<Kind, Size>::~Hash() = default;

template <HashKind Kind, std::size_t Size>
void Hash<Kind, Size>::Update(const void* data, std::size_t n) {
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (n > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(n, ULONG_MAX));
        if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash, bytes, chunk, 0))) Fail<Kind>();
        bytes += chunk;
        n -= chunk;
    }
}

template <HashKind Kind, std::size_t Size>
typename Hash<Kind, Size>::Digest Hash<Kind, Size>::Final() {
    Digest digest{};
    // A finished CNG hash takes no more data: the next one is a new object.
    const NTSTATUS status =
        BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    state_->Drop();
    if (!BCRYPT_SUCCESS(status)) Fail<Kind>();
    state_->Start();
    return digest;
}

template class Hash<HashKind::kSha256, 32>;
template class Hash<HashKind::kMd5, 16>;

}  // namespace splitter
