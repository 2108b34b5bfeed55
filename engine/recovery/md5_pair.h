// Two MD5 digests over the same bytes at once: a part's and its slice's, which the PAR 2.0
// format both asks for. MD5 is one long chain of dependent steps, which leaves most of a
// processor's units idle; the steps of two digests interleaved keep twice as many busy, so the
// two cost little more than one (libcrypto's, or CNG's, one at a time cost two).
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/hash.h"

namespace splitter::par2 {

// One digest's state, fed by Md5Pair::Update (or alone by Update).
class Md5Stream {
public:
    void Update(const void* data, std::size_t n);
    // The digest of everything given; the stream starts again.
    Md5Digest Final();

private:
    friend void UpdateBoth(Md5Stream& a, Md5Stream& b, const void* data, std::size_t na,
                           std::size_t nb);
    // The next whole block of the stream from data[*pos, n), through its buffer where the stream
    // has bytes waiting or fewer than 64 are left; nullptr once none is whole.
    const std::uint8_t* NextBlock(const std::uint8_t* data, std::size_t n, std::size_t* pos);

    std::uint32_t h_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::uint8_t buffer_[64] = {};
    std::size_t waiting_ = 0;  // bytes in buffer_
    std::uint64_t length_ = 0;
};

// a takes the first `na` bytes of data, b the first `nb`, with their blocks interleaved.
void UpdateBoth(Md5Stream& a, Md5Stream& b, const void* data, std::size_t na, std::size_t nb);

// One stream's next bytes, for UpdateMany.
struct Md5Job {
    Md5Stream* stream;
    const void* data;
    std::size_t bytes;
};
// Feeds each job's bytes to its stream, exactly as stream->Update(data, bytes) would. A stream
// appears in at most one job of a call.
void UpdateMany(const Md5Job* jobs, std::size_t count);

}  // namespace splitter::par2
