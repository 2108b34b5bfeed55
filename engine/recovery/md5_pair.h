// Two MD5 digests over the same bytes at once: a part's and its slice's, which the PAR 2.0
// format both asks for. MD5 is one long chain of dependent steps, which leaves most of a
// processor's units idle; the steps of two digests interleaved keep twice as many busy, so the
// two cost little more than one (libcrypto's, or CNG's, one at a time cost two). Many digests
// over different bytes (UpdateMany) go further: each in a lane of the processor's vectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/hash.h"

namespace splitter::par2 {

struct Md5Job;
enum class Md5Kernel;

// One digest's state, fed alone by Update, or beside others by UpdateBoth and UpdateMany.
class Md5Stream {
public:
    void Update(const void* data, std::size_t n);
    // The digest of everything given; the stream starts again.
    Md5Digest Final();

private:
    friend void UpdateBoth(Md5Stream& a, Md5Stream& b, const void* data, std::size_t na,
                           std::size_t nb);
    friend void UpdateMany(const Md5Job* jobs, std::size_t count, Md5Kernel kernel);
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

// The ways to run many digests side by side, the fastest the processor has chosen at run time:
// 16 lanes of 32 bits in AVX-512's vectors, 8 in AVX2's, or two at a time (UpdateBoth's).
enum class Md5Kernel { kPair, kAvx2, kAvx512 };
bool Supports(Md5Kernel kernel);
Md5Kernel BestMd5Kernel();

// One stream's next bytes, for UpdateMany.
struct Md5Job {
    Md5Stream* stream;
    const void* data;
    std::size_t bytes;
};

// Feeds each job's bytes to its stream, exactly as stream->Update(data, bytes) would, the
// streams' whole blocks side by side in the lanes of the processor's vectors. A stream appears
// in at most one job of a call. The lanes stay full while jobs wait, so the jobs may differ in
// length; a kernel the processor lacks is taken as kPair.
void UpdateMany(const Md5Job* jobs, std::size_t count, Md5Kernel kernel = BestMd5Kernel());

// Slices read in turns from several files, for SliceChecksums: `bytes` of file `file`'s,
// zero-padded to the slice size (data holds the whole slice).
struct SliceJob {
    std::size_t file;
    const char* data;
    std::size_t bytes;
    Md5Digest* md5;                // the slice's MD5 goes here
    std::uint32_t* crc = nullptr;  // and its CRC-32 here, when given
};

// Each file's MD5 (wholes[file], its bytes) and each slice's MD5 and CRC-32 (over `slice`
// bytes), side by side: runs of slices of different files, two streams each, at a time, a step
// of every slice after the other, each step's CRC-32s made while its bytes are in the caches.
void SliceChecksums(std::vector<Md5Stream>& wholes, const std::vector<SliceJob>& jobs,
                    std::size_t slice);

}  // namespace splitter::par2
