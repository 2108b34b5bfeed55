// Two SHA-256 digests over the same bytes at once, by the processor's SHA instructions: a
// part's and the whole run's, which a checked split and join both ask for. Each round of one
// digest waits on the one before, which leaves the SHA unit idle most of the time; the rounds
// of two digests interleaved keep it busy, and where the two digests' blocks line up (a part
// that starts at a multiple of 64 bytes into the run) one message schedule serves both. The two
// then cost little more than one, and take one thread where the library's took two.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/hash.h"

namespace splitter {

// Whether this processor has the instructions (x86's SHA extensions with SSE4.1). Nothing
// below may be used where it has not.
bool HasSha256Pair();

// One digest's state, fed by UpdateBoth (or alone by Update).
class Sha256Stream {
public:
    void Update(const void* data, std::size_t n);
    // The digest of everything given; the stream starts again.
    Sha256Digest Final();

private:
    friend void UpdateBoth(Sha256Stream& a, Sha256Stream& b, const void* data, std::size_t n);
    // Where bytes wait in the buffer, more taken until it holds a block or the bytes end: the
    // count taken.
    std::size_t TopUp(const std::uint8_t* data, std::size_t n);
    // The last bytes, fewer than a block, kept for later.
    void Keep(const std::uint8_t* data, std::size_t n);

    // The state as the instructions hold it: A B E F, then C D G H, each from its last word.
    std::uint32_t h_[8] = {0x9b05688c, 0x510e527f, 0xbb67ae85, 0x6a09e667,
                           0x5be0cd19, 0x1f83d9ab, 0xa54ff53a, 0x3c6ef372};
    std::uint8_t buffer_[64] = {};
    std::size_t waiting_ = 0;  // bytes in buffer_
    std::uint64_t length_ = 0;
};

// Both streams take the same `n` bytes, their blocks interleaved.
void UpdateBoth(Sha256Stream& a, Sha256Stream& b, const void* data, std::size_t n);

}  // namespace splitter
