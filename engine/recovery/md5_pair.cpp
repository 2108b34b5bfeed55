#include "engine/recovery/md5_pair.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/recovery/crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SPLITTER_MD5_LANES 1
#endif

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

// The message word each step takes.
constexpr std::size_t WordOf(std::size_t i) {
    return i < 16 ? i : i < 32 ? (5 * i + 1) % 16 : i < 48 ? (3 * i + 5) % 16 : (7 * i) % 16;
}

// The states of up to kMaxLanes digests and each one's next block, as a kernel takes and leaves
// them: state[0][l] is lane l's a, state[1][l] its b and so on, so that a vector loads a word of
// many lanes at once.
constexpr std::size_t kMaxLanes = 16;
struct Lanes {
    alignas(64) std::uint32_t state[4][kMaxLanes];
    const std::uint8_t* block[kMaxLanes];
};

// Compresses `blocks` blocks in each of the kernel's lanes, each lane's from its block on, and
// leaves each block pointer past them.
using LaneBlocks = void (*)(Lanes& lanes, std::size_t blocks);

void PairBlocks(Lanes& lanes, std::size_t blocks) {
    std::uint32_t h[2][4];
    for (std::size_t i = 0; i < 4; ++i) h[0][i] = lanes.state[i][0], h[1][i] = lanes.state[i][1];
    for (std::size_t n = 0; n < blocks; ++n)
        Compress<2>({h[0], h[1]}, {lanes.block[0] + 64 * n, lanes.block[1] + 64 * n});
    for (std::size_t i = 0; i < 4; ++i) lanes.state[i][0] = h[0][i], lanes.state[i][1] = h[1][i];
    lanes.block[0] += 64 * blocks;
    lanes.block[1] += 64 * blocks;
}

#ifdef SPLITTER_MD5_LANES
// Step I of G groups of 8 lanes: a = b + (a + F(b, c, d) + word + sine) <<< rotation, with the
// roles of the four registers turning one place each step.
template <std::size_t I, std::size_t G>
__attribute__((target("avx2"))) inline void StepAvx2(__m256i (*s)[4], const __m256i (*m)[16]) {
    constexpr std::size_t r = I % 4;
    const __m256i sine = _mm256_set1_epi32(static_cast<int>(kSine[I]));
    for (std::size_t g = 0; g < G; ++g) {
        __m256i& a = s[g][(4 - r) % 4];
        const __m256i b = s[g][(5 - r) % 4];
        const __m256i c = s[g][(6 - r) % 4];
        const __m256i d = s[g][(7 - r) % 4];
        __m256i f;
        if constexpr (I < 16) {
            f = _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
        } else if constexpr (I < 32) {
            f = _mm256_xor_si256(c, _mm256_and_si256(d, _mm256_xor_si256(b, c)));
        } else if constexpr (I < 48) {
            f = _mm256_xor_si256(_mm256_xor_si256(b, c), d);
        } else {
            f = _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
        }
        a = _mm256_add_epi32(_mm256_add_epi32(a, f), _mm256_add_epi32(m[g][WordOf(I)], sine));
        a = _mm256_or_si256(_mm256_slli_epi32(a, kRotation[I]),
                            _mm256_srli_epi32(a, 32 - kRotation[I]));
        a = _mm256_add_epi32(a, b);
    }
}

template <std::size_t G, std::size_t... I>
__attribute__((target("avx2"))) inline void StepsAvx2(__m256i (*s)[4], const __m256i (*m)[16],
                                                      std::index_sequence<I...>) {
    (StepAvx2<I, G>(s, m), ...);
}

// Word w of 8 lanes' blocks in m[w]: the blocks' halves transposed as 8 x 8 words.
__attribute__((target("avx2"))) inline void LoadAvx2(__m256i* m, const std::uint8_t* const* p,
                                                     std::size_t offset) {
    for (std::size_t half = 0; half < 2; ++half) {
        __m256i t[8];
        for (std::size_t l = 0; l < 8; l += 2) {
            const __m256i x =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p[l] + offset + 32 * half));
            const __m256i y =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p[l + 1] + offset + 32 * half));
            t[l] = _mm256_unpacklo_epi32(x, y);
            t[l + 1] = _mm256_unpackhi_epi32(x, y);
        }
        __m256i u[8];
        for (std::size_t q = 0; q < 8; q += 4) {
            u[q] = _mm256_unpacklo_epi64(t[q], t[q + 2]);
            u[q + 1] = _mm256_unpackhi_epi64(t[q], t[q + 2]);
            u[q + 2] = _mm256_unpacklo_epi64(t[q + 1], t[q + 3]);
            u[q + 3] = _mm256_unpackhi_epi64(t[q + 1], t[q + 3]);
        }
        for (std::size_t w = 0; w < 4; ++w) {
            m[8 * half + w] = _mm256_permute2x128_si256(u[w], u[w + 4], 0x20);
            m[8 * half + w + 4] = _mm256_permute2x128_si256(u[w], u[w + 4], 0x31);
        }
    }
}

// G groups of 8 lanes, their steps interleaved: one group's chain of dependent steps leaves the
// vector units idle much of the time (two groups ran a third faster than one).
template <std::size_t G>
__attribute__((target("avx2"))) void BlocksAvx2(Lanes& lanes, std::size_t blocks) {
    __m256i s[G][4];
    for (std::size_t g = 0; g < G; ++g)
        for (std::size_t i = 0; i < 4; ++i)
            s[g][i] = _mm256_load_si256(reinterpret_cast<const __m256i*>(&lanes.state[i][8 * g]));
    for (std::size_t n = 0; n < blocks; ++n) {
        __m256i m[G][16];
        __m256i start[G][4];
        for (std::size_t g = 0; g < G; ++g) {
            LoadAvx2(m[g], lanes.block + 8 * g, 64 * n);
            for (std::size_t i = 0; i < 4; ++i) start[g][i] = s[g][i];
        }
        StepsAvx2<G>(s, m, std::make_index_sequence<64>{});
        for (std::size_t g = 0; g < G; ++g)
            for (std::size_t i = 0; i < 4; ++i) s[g][i] = _mm256_add_epi32(s[g][i], start[g][i]);
    }
    for (std::size_t g = 0; g < G; ++g)
        for (std::size_t i = 0; i < 4; ++i)
            _mm256_store_si256(reinterpret_cast<__m256i*>(&lanes.state[i][8 * g]), s[g][i]);
    for (std::size_t l = 0; l < 8 * G; ++l) lanes.block[l] += 64 * blocks;
}

// GCC 12's AVX-512 intrinsics pass an undefined vector where no lane is masked, and take it for
// an uninitialized one.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The same in 16 lanes, each step's function one vpternlogd and its rotation one vprold.
template <std::size_t I>
__attribute__((target("avx512f"))) inline void StepAvx512(__m512i* s, const __m512i* m) {
    constexpr std::size_t r = I % 4;
    // F = b ? c : d, G = d ? b : c, H = b ^ c ^ d, I = c ^ (b | ~d), as truth tables of b, c, d.
    constexpr int kTable = I < 16 ? 0xCA : I < 32 ? 0xE4 : I < 48 ? 0x96 : 0x39;
    constexpr int kBy = kRotation[I];  // an immediate even where nothing is optimized
    __m512i& a = s[(4 - r) % 4];
    const __m512i b = s[(5 - r) % 4];
    const __m512i f = _mm512_ternarylogic_epi32(b, s[(6 - r) % 4], s[(7 - r) % 4], kTable);
    const __m512i sine = _mm512_set1_epi32(static_cast<int>(kSine[I]));
    a = _mm512_add_epi32(_mm512_add_epi32(a, f), _mm512_add_epi32(m[WordOf(I)], sine));
    a = _mm512_add_epi32(_mm512_rol_epi32(a, kBy), b);
}

template <std::size_t... I>
__attribute__((target("avx512f"))) inline void StepsAvx512(__m512i* s, const __m512i* m,
                                                           std::index_sequence<I...>) {
    (StepAvx512<I>(s, m), ...);
}

// Word w of 16 lanes' blocks in m[w]: the blocks transposed as 16 x 16 words, in four rounds
// of shuffles: faster here than 32 gathers of 8 words each, which some processors' microcode
// slows further.
__attribute__((target("avx512f"))) inline void LoadAvx512(__m512i* m, const std::uint8_t* const* p,
                                                          std::size_t offset) {
    __m512i t[16];
    for (std::size_t l = 0; l < 16; l += 2) {
        const __m512i x = _mm512_loadu_si512(p[l] + offset);
        const __m512i y = _mm512_loadu_si512(p[l + 1] + offset);
        t[l] = _mm512_unpacklo_epi32(x, y);
        t[l + 1] = _mm512_unpackhi_epi32(x, y);
    }
    // u[4q + w] holds word 4j + w of lanes 4q to 4q + 3 in its quarter j.
    __m512i u[16];
    for (std::size_t q = 0; q < 16; q += 4) {
        u[q] = _mm512_unpacklo_epi64(t[q], t[q + 2]);
        u[q + 1] = _mm512_unpackhi_epi64(t[q], t[q + 2]);
        u[q + 2] = _mm512_unpacklo_epi64(t[q + 1], t[q + 3]);
        u[q + 3] = _mm512_unpackhi_epi64(t[q + 1], t[q + 3]);
    }
    for (std::size_t w = 0; w < 4; ++w) {
        const __m512i v0 = _mm512_shuffle_i32x4(u[w], u[w + 4], 0x44);
        const __m512i v1 = _mm512_shuffle_i32x4(u[w], u[w + 4], 0xEE);
        const __m512i v2 = _mm512_shuffle_i32x4(u[w + 8], u[w + 12], 0x44);
        const __m512i v3 = _mm512_shuffle_i32x4(u[w + 8], u[w + 12], 0xEE);
        m[w] = _mm512_shuffle_i32x4(v0, v2, 0x88);
        m[w + 4] = _mm512_shuffle_i32x4(v0, v2, 0xDD);
        m[w + 8] = _mm512_shuffle_i32x4(v1, v3, 0x88);
        m[w + 12] = _mm512_shuffle_i32x4(v1, v3, 0xDD);
    }
}

// One group of lanes, which runs at its chain's latency (four cycles a step, where the units
// could take a step in three and a half): a second group interleaved gained 7 % where 32 jobs
// filled both, and lost two fifths where 16 left one idle.
__attribute__((target("avx512f"))) void BlocksAvx512(Lanes& lanes, std::size_t blocks) {
    __m512i s[4];
    for (std::size_t i = 0; i < 4; ++i) s[i] = _mm512_load_si512(lanes.state[i]);
    for (std::size_t n = 0; n < blocks; ++n) {
        __m512i m[16];
        LoadAvx512(m, lanes.block, 64 * n);
        const __m512i start[4] = {s[0], s[1], s[2], s[3]};
        StepsAvx512(s, m, std::make_index_sequence<64>{});
        for (std::size_t i = 0; i < 4; ++i) s[i] = _mm512_add_epi32(s[i], start[i]);
    }
    for (std::size_t i = 0; i < 4; ++i) _mm512_store_si512(lanes.state[i], s[i]);
    for (std::size_t l = 0; l < 16; ++l) lanes.block[l] += 64 * blocks;
}
#pragma GCC diagnostic pop
#endif

// A kernel's lanes and the fewest busy lanes, with none waiting, it is still worth running
// for; below that the pair finishes.
struct LaneKernel {
    LaneBlocks blocks;
    std::size_t width;
    std::size_t fewest;
};
constexpr LaneKernel kPairLanes = {PairBlocks, 2, 2};

// One stream's whole blocks, for the lanes.
struct Work {
    std::uint32_t* h;
    const std::uint8_t* data;
    std::size_t blocks;
};

void RunLanes(std::vector<Work>& work, const LaneKernel& kernel) {
    // The longest first, so that the lanes finish together as near as may be.
    std::stable_sort(work.begin(), work.end(),
                     [](const Work& x, const Work& y) { return x.blocks > y.blocks; });
    Lanes lanes;
    Work lane[kMaxLanes] = {};  // blocks 0: idle
    std::size_t next = 0;
    std::size_t busy = 0;
    const auto start = [&](std::size_t l) {
        lane[l] = work[next++];
        for (std::size_t i = 0; i < 4; ++i) lanes.state[i][l] = lane[l].h[i];
        lanes.block[l] = lane[l].data;
        ++busy;
    };
    for (std::size_t l = 0; l < kernel.width && next < work.size(); ++l) start(l);
    while (busy > 0 && (next < work.size() || busy >= kernel.fewest)) {
        std::size_t step = SIZE_MAX;
        std::size_t some = 0;
        for (std::size_t l = 0; l < kernel.width; ++l)
            if (lane[l].blocks > 0) step = std::min(step, lane[l].blocks), some = l;
        // An idle lane repeats a busy one's blocks, to no effect: cheaper than a mask per step.
        for (std::size_t l = 0; l < kernel.width; ++l)
            if (lane[l].blocks == 0) lanes.block[l] = lanes.block[some];
        kernel.blocks(lanes, step);
        for (std::size_t l = 0; l < kernel.width; ++l) {
            if (lane[l].blocks == 0 || (lane[l].blocks -= step) > 0) continue;
            for (std::size_t i = 0; i < 4; ++i) lane[l].h[i] = lanes.state[i][l];
            --busy;
            if (next < work.size()) start(l);
        }
    }
    std::vector<Work> rest;
    for (std::size_t l = 0; l < kernel.width; ++l) {
        if (lane[l].blocks == 0) continue;
        for (std::size_t i = 0; i < 4; ++i) lane[l].h[i] = lanes.state[i][l];
        rest.push_back({lane[l].h, lanes.block[l], lane[l].blocks});
    }
    if (kernel.width > 2) return RunLanes(rest, kPairLanes);
    for (const Work& w : rest)
        for (std::size_t n = 0; n < w.blocks; ++n) Compress<1>({w.h}, {w.data + 64 * n});
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

bool Supports(Md5Kernel kernel) {
#ifdef SPLITTER_MD5_LANES
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    if (kernel == Md5Kernel::kAvx512) return avx512;
    if (kernel == Md5Kernel::kAvx2) return avx2;
#endif
    return kernel == Md5Kernel::kPair;
}

Md5Kernel BestMd5Kernel() {
    static const Md5Kernel best = Supports(Md5Kernel::kAvx512) ? Md5Kernel::kAvx512
                                  : Supports(Md5Kernel::kAvx2) ? Md5Kernel::kAvx2
                                                               : Md5Kernel::kPair;
    return best;
}

void UpdateMany(const Md5Job* jobs, std::size_t count, Md5Kernel kernel) {
    std::vector<Work> work;
    work.reserve(count);
    for (std::size_t j = 0; j < count; ++j) {
        Md5Stream& stream = *jobs[j].stream;
        const auto* data = static_cast<const std::uint8_t*>(jobs[j].data);
        const std::size_t n = jobs[j].bytes;
        std::size_t pos = 0;
        // The block the stream has begun is finished here, alone.
        if (stream.waiting_ > 0 && n > 0) {
            if (const std::uint8_t* block = stream.NextBlock(data, n, &pos))
                Compress<1>({stream.h_}, {block});
        }
        stream.length_ += n - pos;
        const std::size_t blocks = (n - pos) / 64;
        if (blocks > 0) work.push_back({stream.h_, data + pos, blocks});
        pos += 64 * blocks;
        // The tail waits in the buffer, which the lanes do not read. (A job of no bytes may come
        // with no data, which memcpy must not be given even for nothing.)
        if (n > pos) std::memcpy(stream.buffer_ + stream.waiting_, data + pos, n - pos);
        stream.waiting_ += n - pos;
    }
    LaneKernel lanes = kPairLanes;
#ifdef SPLITTER_MD5_LANES
    // A block in all 16 lanes of AVX-512 takes about as long as the pair takes over two blocks,
    // in AVX2's 16 lanes as long as the pair over four: with fewer busy and none waiting, the
    // pair finishes.
    if (kernel == Md5Kernel::kAvx512 && Supports(kernel)) lanes = {BlocksAvx512, 16, 2};
    if (kernel == Md5Kernel::kAvx2 && Supports(kernel)) lanes = {BlocksAvx2<2>, 16, 4};
#endif
    RunLanes(work, lanes);
}

void SliceChecksums(std::vector<Md5Stream>& wholes, const std::vector<SliceJob>& jobs,
                    std::size_t slice) {
    // A step of 16 slices fits the second-level cache.
    constexpr std::size_t kStep = std::size_t{64} << 10;
    std::vector<Md5Job> run;
    std::vector<Md5Stream> slices(jobs.size());
    std::vector<std::uint32_t> crcs(jobs.size(), 0);
    std::size_t from = 0;  // the first job of the run
    const auto flush = [&](std::size_t to) {
        std::vector<Md5Job> step;
        for (std::size_t at = 0; at < slice; at += kStep) {
            step.clear();
            for (const Md5Job& job : run)
                if (job.bytes > at)
                    step.push_back({job.stream, static_cast<const char*>(job.data) + at,
                                    std::min(kStep, job.bytes - at)});
            UpdateMany(step.data(), step.size());
            for (std::size_t k = from; k < to; ++k)
                if (jobs[k].crc != nullptr)
                    crcs[k] = Crc32(jobs[k].data + at, std::min(kStep, slice - at), crcs[k]);
        }
        for (std::size_t k = from; k < to; ++k) {
            *jobs[k].md5 = slices[k].Final();
            if (jobs[k].crc != nullptr) *jobs[k].crc = crcs[k];
        }
        run.clear();
        from = to;
    };
    for (std::size_t k = 0; k < jobs.size(); ++k) {
        for (std::size_t j = from; j < k; ++j)
            if (jobs[j].file == jobs[k].file) {
                flush(k);
                break;
            }
        run.push_back({&wholes[jobs[k].file], jobs[k].data, jobs[k].bytes});
        run.push_back({&slices[k], jobs[k].data, slice});
    }
    flush(jobs.size());
}

}  // namespace splitter::par2
