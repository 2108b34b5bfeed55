#include "engine/sha256_pair.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace splitter {
namespace {

#if defined(__x86_64__) || defined(__i386__)
#define SPLITTER_SHA256_PAIR 1
#define SPLITTER_SHA __attribute__((target("sha,sse4.1")))

alignas(16) constexpr std::uint32_t kRounds[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The message's 16 words of a block, four to a register, big-endian as SHA-256 reads them.
SPLITTER_SHA inline __m128i LoadWords(const std::uint8_t* p) {
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap);
}

// The next four words of the schedule from the four registers before them (w[0] the oldest).
SPLITTER_SHA inline __m128i NextWords(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
    return _mm_sha256msg2_epu32(
        _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4)), w3);
}

// Four rounds of one state (abef, cdgh) with four words of its schedule.
SPLITTER_SHA inline void Rounds(__m128i& abef, __m128i& cdgh, __m128i words, std::size_t group) {
    const __m128i k =
        _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(kRounds + 4 * group)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0E));
}

// `blocks` blocks of `ps[i]` into state `hs[i]`, for N states side by side, each round of one
// next to the same round of the others. With `kShared`, every state reads the first's blocks
// and their schedule is made once.
template <std::size_t N, bool kShared>
SPLITTER_SHA void Blocks(std::uint32_t* const (&hs)[N], const std::uint8_t* const (&ps)[N],
                         std::size_t blocks) {
    __m128i abef[N], cdgh[N];
    for (std::size_t i = 0; i < N; ++i) {
        abef[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hs[i]));
        cdgh[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hs[i] + 4));
    }
    constexpr std::size_t kSchedules = kShared ? 1 : N;
    for (std::size_t b = 0; b < blocks; ++b) {
        __m128i saved[2][N];
        __m128i w[kSchedules][4];
        for (std::size_t i = 0; i < N; ++i) {
            saved[0][i] = abef[i];
            saved[1][i] = cdgh[i];
        }
        for (std::size_t s = 0; s < kSchedules; ++s)
            for (std::size_t j = 0; j < 4; ++j) w[s][j] = LoadWords(ps[s] + 64 * b + 16 * j);
#pragma GCC unroll 16
        for (std::size_t g = 0; g < 16; ++g) {
            // Group g's words replace those of group g - 4, made from them and the three after.
            if (g >= 4)
                for (std::size_t s = 0; s < kSchedules; ++s)
                    w[s][g % 4] = NextWords(w[s][g % 4], w[s][(g + 1) % 4], w[s][(g + 2) % 4],
                                            w[s][(g + 3) % 4]);
            for (std::size_t i = 0; i < N; ++i)
                Rounds(abef[i], cdgh[i], w[kShared ? 0 : i][g % 4], g);
        }
        for (std::size_t i = 0; i < N; ++i) {
            abef[i] = _mm_add_epi32(abef[i], saved[0][i]);
            cdgh[i] = _mm_add_epi32(cdgh[i], saved[1][i]);
        }
    }
    for (std::size_t i = 0; i < N; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hs[i]), abef[i]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hs[i] + 4), cdgh[i]);
    }
}

void Blocks1(std::uint32_t* h, const std::uint8_t* p, std::size_t blocks) {
    if (blocks > 0) Blocks<1, false>({h}, {p}, blocks);
}

void Blocks2(std::uint32_t* ha, const std::uint8_t* pa, std::uint32_t* hb, const std::uint8_t* pb,
             std::size_t blocks) {
    if (blocks == 0) return;
    if (pa == pb)
        Blocks<2, true>({ha, hb}, {pa, pb}, blocks);
    else
        Blocks<2, false>({ha, hb}, {pa, pb}, blocks);
}
#else
[[noreturn]] void Unsupported() {
    throw std::logic_error("SHA-256 pair without the processor's SHA instructions");
}
void Blocks1(std::uint32_t*, const std::uint8_t*, std::size_t) {
    Unsupported();
}
void Blocks2(std::uint32_t*, const std::uint8_t*, std::uint32_t*, const std::uint8_t*,
             std::size_t) {
    Unsupported();
}
#endif

}  // namespace

bool HasSha256Pair() {
#ifdef SPLITTER_SHA256_PAIR
    // The SHA extensions are bit 29 of EBX in leaf 7 (not every compiler's
    // __builtin_cpu_supports knows them by name).
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __builtin_cpu_supports("sse4.1") && __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 &&
               (b & (1u << 29)) != 0;
    }();
    return has;
#else
    return false;
#endif
}

std::size_t Sha256Stream::TopUp(const std::uint8_t* data, std::size_t n) {
    if (waiting_ == 0) return 0;
    const std::size_t take = std::min(n, sizeof buffer_ - waiting_);
    std::memcpy(buffer_ + waiting_, data, take);
    waiting_ += take;
    return take;
}

void Sha256Stream::Keep(const std::uint8_t* data, std::size_t n) {
    std::memcpy(buffer_, data, n);
    waiting_ = n;
}

void Sha256Stream::Update(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    length_ += n;
    const std::size_t at = TopUp(p, n);
    if (waiting_ == sizeof buffer_) {
        Blocks1(h_, buffer_, 1);
        waiting_ = 0;
    }
    if (waiting_ != 0) return;  // every byte waits in the buffer
    const std::size_t blocks = (n - at) / 64;
    Blocks1(h_, p + at, blocks);
    Keep(p + at + 64 * blocks, n - at - 64 * blocks);
}

void UpdateBoth(Sha256Stream& a, Sha256Stream& b, const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    a.length_ += n;
    b.length_ += n;
    // Each stream first fills the block it has begun; the two such blocks go side by side.
    const std::size_t atA = a.TopUp(p, n), atB = b.TopUp(p, n);
    const bool fullA = a.waiting_ == sizeof a.buffer_, fullB = b.waiting_ == sizeof b.buffer_;
    if (fullA && fullB) {
        Blocks2(a.h_, a.buffer_, b.h_, b.buffer_, 1);
    } else if (fullA) {
        Blocks1(a.h_, a.buffer_, 1);
    } else if (fullB) {
        Blocks1(b.h_, b.buffer_, 1);
    }
    if (fullA) a.waiting_ = 0;
    if (fullB) b.waiting_ = 0;
    // Then the blocks each reads where they are (none for a stream whose begun block is still
    // short): as many as both have side by side, the rest of the one that has more alone.
    const std::size_t blocksA = a.waiting_ == 0 ? (n - atA) / 64 : 0;
    const std::size_t blocksB = b.waiting_ == 0 ? (n - atB) / 64 : 0;
    const std::size_t both = std::min(blocksA, blocksB);
    Blocks2(a.h_, p + atA, b.h_, p + atB, both);
    Blocks1(a.h_, p + atA + 64 * both, blocksA - both);
    Blocks1(b.h_, p + atB + 64 * both, blocksB - both);
    if (a.waiting_ == 0) a.Keep(p + atA + 64 * blocksA, n - atA - 64 * blocksA);
    if (b.waiting_ == 0) b.Keep(p + atB + 64 * blocksB, n - atB - 64 * blocksB);
}

Sha256Digest Sha256Stream::Final() {
    // The padding: a one bit, zeros, and the length in bits, to the end of one or two blocks.
    std::uint8_t last[128] = {};
    std::memcpy(last, buffer_, waiting_);
    last[waiting_] = 0x80;
    const std::size_t size = waiting_ + 1 + 8 <= 64 ? 64 : 128;
    const std::uint64_t bits = length_ * 8;
    for (std::size_t i = 0; i < 8; ++i)
        last[size - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    Blocks1(h_, last, size / 64);
    // A B C D E F G H from where the instructions keep them.
    const std::uint32_t words[8] = {h_[3], h_[2], h_[7], h_[6], h_[1], h_[0], h_[5], h_[4]};
    Sha256Digest digest{};
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[static_cast<std::size_t>(4 * i + j)] =
                static_cast<std::uint8_t>(words[i] >> (24 - 8 * j));
    *this = Sha256Stream();
    return digest;
}

}  // namespace splitter
