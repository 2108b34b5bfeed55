// SHA-256 from the platform's own library: OpenSSL's libcrypto on POSIX systems, CNG (bcrypt) on
// Windows. A checksum is only worth what its implementation is, so none is written here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace splitter {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t n);

    // The digest of every byte given since the start or the last Final; the hash then starts
    // over, empty.
    Sha256Digest Final();

private:
    struct State;  // the backend's
    std::unique_ptr<State> state_;
};

}  // namespace splitter
