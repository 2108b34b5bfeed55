#include "engine/recovery/md5_pair.h"

#include <algorithm>
#include <cstring>

namespace splitter::par2 {
namespace {

// floor(2^32 * |sin(i + 1)|), and the rotations of each step.
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kRotation[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                               5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                               4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                               6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline std::uint32_t Rotate(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline std::uint32_t Word(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The compression of `Lanes` blocks into as many states, step by step side by side: the
// compiler interleaves the lanes' independent chains.
template <std::size_t Lanes>
void Compress(std::uint32_t* const (&h)[Lanes], const std::uint8_t* const (&block)[Lanes]) {
    std::uint32_t m[Lanes][16];
    std::uint32_t a[Lanes], b[Lanes], c[Lanes], d[Lanes];
    for (std::size_t l = 0; l < Lanes; ++l) {
        for (std::size_t i = 0; i < 16; ++i) m[l][i] = Word(block[l] + 4 * i);
        a[l] = h[l][0];
        b[l] = h[l][1];
        c[l] = h[l][2];
        d[l] = h[l][3];
    }
    // Unrolled whole, so that every rotation and message word is a constant.
#pragma GCC unroll 64
    for (std::size_t i = 0; i < 64; ++i) {
#pragma GCC unroll 2
        for (std::size_t l = 0; l < Lanes; ++l) {
            std::uint32_t f;
            std::size_t g;
            if (i < 16) {
                f = d[l] ^ (b[l] & (c[l] ^ d[l]));
                g = i;
            } else if (i < 32) {
                f = c[l] ^ (d[l] & (b[l] ^ c[l]));
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b[l] ^ c[l] ^ d[l];
                g = (3 * i + 5) % 16;
            } else {
                f = c[l] ^ (b[l] | ~d[l]);
                g = (7 * i) % 16;
            }
            const std::uint32_t next = b[l] + Rotate(a[l] + f + kSine[i] + m[l][g], kRotation[i]);
            a[l] = d[l];
            d[l] = c[l];
            c[l] = b[l];
            b[l] = next;
        }
    }
    for (std::size_t l = 0; l < Lanes; ++l) {
        h[l][0] += a[l];
        h[l][1] += b[l];
        h[l][2] += c[l];
        h[l][3] += d[l];
    }
}

}  // namespace

const std::uint8_t* Md5Stream::NextBlock(const std::uint8_t* data, std::size_t n,
                                         std::size_t* pos) {
    if (waiting_ == 0 && n - *pos >= 64) {
        const std::uint8_t* block = data + *pos;
        *pos += 64;
        length_ += 64;
        return block;
    }
    const std::size_t take = std::min(64 - waiting_, n - *pos);
    std::memcpy(buffer_ + waiting_, data + *pos, take);
    waiting_ += take;
    *pos += take;
    length_ += take;
    if (waiting_ < 64) return nullptr;
    waiting_ = 0;
    return buffer_;
}

void UpdateBoth(Md5Stream& a, Md5Stream& b, const void* data, std::size_t na, std::size_t nb) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t pa = 0;
    std::size_t pb = 0;
    for (;;) {
        const std::uint8_t* ba = a.NextBlock(bytes, na, &pa);
        const std::uint8_t* bb = b.NextBlock(bytes, nb, &pb);
        if (ba != nullptr && bb != nullptr) {
            Compress<2>({a.h_, b.h_}, {ba, bb});
        } else if (ba != nullptr) {
            Compress<1>({a.h_}, {ba});
        } else if (bb != nullptr) {
            Compress<1>({b.h_}, {bb});
        } else {
            return;
        }
    }
}

void Md5Stream::Update(const void* data, std::size_t n) {
    Md5Stream none;
    UpdateBoth(*this, none, data, n, 0);
}

Md5Digest Md5Stream::Final() {
    const std::uint64_t bits = length_ * 8;
    static const std::uint8_t kPadding[64] = {0x80};
    Update(kPadding, 1 + (119 - waiting_) % 64);
    std::uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    Update(tail, 8);
    Md5Digest digest;
    for (int i = 0; i < 16; ++i)
        digest[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(h_[i / 4] >> (8 * (i % 4)));
    *this = Md5Stream();
    return digest;
}

void UpdateMany(const Md5Job* jobs, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        if (k + 1 < count && jobs[k].data == jobs[k + 1].data) {
            UpdateBoth(*jobs[k].stream, *jobs[k + 1].stream, jobs[k].data, jobs[k].bytes,
                       jobs[k + 1].bytes);
            ++k;
        } else {
            jobs[k].stream->Update(jobs[k].data, jobs[k].bytes);
        }
    }
}

}  // namespace splitter::par2
