// SHA-256 and MD5 from the platform's own library: OpenSSL's libcrypto on POSIX systems, CNG
// (bcrypt) on Windows. A checksum is only worth what its implementation is, so none is written
// here. SHA-256 serves the checksum file (checksum.h); MD5 the PAR 2.0 recovery set
// (engine/recovery/), whose format is built on it. The engine makes two digests at once with
// the processor's own instructions where it can (engine/sha256_pair.h,
// engine/recovery/md5_pair.h), and its tests hold them to these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace splitter {

enum class HashKind { kSha256, kMd5 };

template <HashKind Kind, std::size_t Size>
class Hash {
public:
    using Digest = std::array<std::uint8_t, Size>;

    Hash();
    ~Hash();
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;

    void Update(const void* data, std::size_t n);

    // The digest of every byte given since the start or the last Final; the hash then starts
    // over, empty.
    Digest Final();

private:
    struct State;  // the backend's
    std::unique_ptr<State> state_;
};

// Both are made in the backends' hash.cpp.
using Sha256 = Hash<HashKind::kSha256, 32>;
using Sha256Digest = Sha256::Digest;
using Md5 = Hash<HashKind::kMd5, 16>;
using Md5Digest = Md5::Digest;

}  // namespace splitter
