// MD5 from the platform's own library: OpenSSL's libcrypto on POSIX systems, CNG (bcrypt) on
// Windows, for the PAR 2.0 recovery set (recovery.h), whose format is built on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace splitter {

using Md5Digest = std::array<std::uint8_t, 16>;

class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void Update(const void* data, std::size_t n);

    // The digest of every byte given since the start or the last Final; the hash then starts
    // over, empty.
    Md5Digest Final();

private:
    struct State;  // the backend's
    std::unique_ptr<State> state_;
};

}  // namespace splitter
