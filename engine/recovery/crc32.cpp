#include "engine/recovery/crc32.h"

#include <algorithm>
#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace splitter::par2 {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;  // x^32 + ... + 1, reflected, x^32 implied

std::uint32_t Load32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

// table[k][b]: the CRC of byte b followed by k zero bytes, so that 16 bytes take 16 look-ups
// that do not wait on each other.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 16>;
const CrcTables& Tables() {
    static const CrcTables tables = [] {
        CrcTables t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (std::size_t k = 1; k < t.size(); ++k)
            for (std::size_t n = 0; n < 256; ++n)
                t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
        return t;
    }();
    return tables;
}

// The kernels take and give the running state: the CRC inverted.
std::uint32_t ByTables(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
    const CrcTables& t = Tables();
    for (; n >= 16; p += 16, n -= 16) {
        const std::uint32_t a = crc ^ Load32(p), b = Load32(p + 4), c = Load32(p + 8),
                            d = Load32(p + 12);
        crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    }
    for (; n > 0; ++p, --n) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if defined(__x86_64__) || defined(__i386__)
#define SPLITTER_CRC_CLMUL 1

// The carry-less products work on the bit-reflected polynomials, in which the first byte's low
// bit is the highest power. Folding a 128-bit remainder d bits further on multiplies its first
// half by x^(d+64) and its second by x^d; the constants are those powers modulo the polynomial,
// each taken x^32 lower and shifted one bit up, for the product of two reflected halves comes
// out one bit short and 32 bits up.
constexpr std::uint64_t Power(unsigned n) {
    std::uint32_t r = 0x80000000u;  // x^0
    for (unsigned i = 0; i < n; ++i) r = (r & 1) ? (r >> 1) ^ kPolynomial : r >> 1;
    return std::uint64_t{r} << 1;
}

// The polynomial with its x^32 (33 bits, reflected) and the quotient x^64 / polynomial in the
// same form: Barrett's reduction of the last 64 bits to 32.
constexpr std::uint64_t kPolynomial33 = (std::uint64_t{kPolynomial} << 1) | 1;
constexpr std::uint64_t QuotientOf() {
    // x^64 divided by 0x104C11DB7 bit by bit, then reflected over its 33 bits.
    constexpr std::uint64_t divisor = 0x104C11DB7u;
    std::uint64_t remainder = std::uint64_t{1} << 32;  // x^64's top: x^32, then shifted in
    std::uint64_t quotient = 0;
    for (int i = 32; i >= 0; --i) {
        quotient <<= 1;
        if (remainder & (std::uint64_t{1} << 32)) {
            quotient |= 1;
            remainder ^= divisor;
        }
        remainder <<= 1;
    }
    std::uint64_t reflected = 0;
    for (int i = 0; i < 33; ++i) reflected |= ((quotient >> i) & 1) << (32 - i);
    return reflected;
}
constexpr std::uint64_t kQuotient = QuotientOf();
constexpr std::uint64_t kPower64 = Power(64);

template <unsigned D>
__attribute__((target("pclmul,sse4.1"))) inline __m128i Constants() {
    constexpr std::uint64_t first = Power(D + 32), second = Power(D - 32);
    return _mm_set_epi64x(static_cast<long long>(second), static_cast<long long>(first));
}

// `x` carried `d` bits on (the distance its `k` was made for) and added to the bytes there.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The four remainders of the last 64 bytes read (x0 first) folded into one, the rest of the
// whole 16 bytes folded in, the 128 bits reduced to the 32 of the state, and the last bytes
// taken by the tables. Inlined, so that the 512-bit kernel's copy is in its own encoding: a
// call to the plain SSE one with the upper halves of the registers in use costs more than the
// whole fold.
__attribute__((target("pclmul,sse4.1"), always_inline)) inline std::uint32_t Finish(
    const std::uint8_t* p, std::size_t n, __m128i x0, __m128i x1, __m128i x2, __m128i x3) {
    const __m128i k128 = Constants<128>();
    __m128i x = Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3);
    for (; n >= 16; p += 16, n -= 16) x = Fold(x, k128, Load(p));
    // 128 bits to 64, with the 32 zero bits the CRC appends.
    const __m128i mask = _mm_set_epi32(0, 0, 0, -1);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, k128, 0x10));
    x = _mm_xor_si128(
        _mm_srli_si128(x, 4),
        _mm_clmulepi64_si128(_mm_and_si128(x, mask),
                             _mm_set_epi64x(0, static_cast<long long>(kPower64)), 0x00));
    // Barrett: the quotient by the polynomial from the top 32 bits, then its product subtracted.
    const __m128i barrett =
        _mm_set_epi64x(static_cast<long long>(kQuotient), static_cast<long long>(kPolynomial33));
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, mask), barrett, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, mask), barrett, 0x00);
    const auto crc = static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, q), 1));
    return ByTables(p, n, crc);
}

// Four 128-bit remainders, each folded 512 bits on at every step.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t ByPclmul(const std::uint8_t* p,
                                                                std::size_t n, std::uint32_t crc) {
    if (n < 64) return ByTables(p, n, crc);
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
    const __m128i k512 = Constants<512>();
    for (p += 64, n -= 64; n >= 64; p += 64, n -= 64) {
        x0 = Fold(x0, k512, Load(p));
        x1 = Fold(x1, k512, Load(p + 16));
        x2 = Fold(x2, k512, Load(p + 32));
        x3 = Fold(x3, k512, Load(p + 48));
    }
    return Finish(p, n, x0, x1, x2, x3);
}

#if defined(__x86_64__)
#define SPLITTER_CRC_VPCLMUL 1

#define SPLITTER_CRC_AVX512 __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

SPLITTER_CRC_AVX512 __attribute__((always_inline)) inline __m512i Load512(const std::uint8_t* p) {
    return _mm512_loadu_si512(p);
}

SPLITTER_CRC_AVX512 __attribute__((always_inline)) inline __m512i Fold(__m512i z, __m512i k,
                                                                       __m512i next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(z, k, 0x00),
                                     _mm512_clmulepi64_epi128(z, k, 0x11), next, 0x96);
}

template <unsigned D>
SPLITTER_CRC_AVX512 __attribute__((always_inline)) inline __m512i Constants512() {
    constexpr auto first = static_cast<long long>(Power(D + 32));
    constexpr auto second = static_cast<long long>(Power(D - 32));
    return _mm512_set_epi64(second, first, second, first, second, first, second, first);
}

// Four 512-bit remainders, 16 of 128 bits side by side, each folded 2048 bits on at every step.
// Everything stays in registers (the helpers are inlined): a 512-bit value on the stack of a
// Windows build would not be aligned.
SPLITTER_CRC_AVX512 std::uint32_t ByVpclmul(const std::uint8_t* p, std::size_t n,
                                            std::uint32_t crc) {
    if (n < 512) return ByPclmul(p, n, crc);
    __m512i z0 = _mm512_xor_si512(
        Load512(p), _mm512_maskz_broadcast_i32x4(1, _mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i z1 = Load512(p + 64), z2 = Load512(p + 128), z3 = Load512(p + 192);
    const __m512i k2048 = Constants512<2048>();
    for (p += 256, n -= 256; n >= 256; p += 256, n -= 256) {
        z0 = Fold(z0, k2048, Load512(p));
        z1 = Fold(z1, k2048, Load512(p + 64));
        z2 = Fold(z2, k2048, Load512(p + 128));
        z3 = Fold(z3, k2048, Load512(p + 192));
    }
    const __m512i k512 = Constants512<512>();
    z3 = Fold(Fold(Fold(z0, k512, z1), k512, z2), k512, z3);
    const __m128i x0 = _mm512_maskz_extracti32x4_epi32(0xF, z3, 0);
    const __m128i x1 = _mm512_maskz_extracti32x4_epi32(0xF, z3, 1);
    const __m128i x2 = _mm512_maskz_extracti32x4_epi32(0xF, z3, 2);
    const __m128i x3 = _mm512_maskz_extracti32x4_epi32(0xF, z3, 3);
    // The upper halves cleared, or the caller's plain SSE code would pay for them.
    _mm256_zeroupper();
    return Finish(p, n, x0, x1, x2, x3);
}
#endif
#endif

}  // namespace

bool Supports(CrcKernel kernel) {
    switch (kernel) {
        case CrcKernel::kTables: return true;
#ifdef SPLITTER_CRC_CLMUL
        case CrcKernel::kPclmul: {
            static const bool has =
                __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
            return has;
        }
#endif
#ifdef SPLITTER_CRC_VPCLMUL
        case CrcKernel::kVpclmul: {
            static const bool has = Supports(CrcKernel::kPclmul) &&
                                    __builtin_cpu_supports("avx512f") &&
                                    __builtin_cpu_supports("vpclmulqdq");
            return has;
        }
#endif
        default: return false;
    }
}

CrcKernel BestCrcKernel() {
    static const CrcKernel best = Supports(CrcKernel::kVpclmul)  ? CrcKernel::kVpclmul
                                  : Supports(CrcKernel::kPclmul) ? CrcKernel::kPclmul
                                                                 : CrcKernel::kTables;
    return best;
}

std::uint32_t Crc32(const void* data, std::size_t n, std::uint32_t crc, CrcKernel kernel) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    switch (kernel) {
#ifdef SPLITTER_CRC_VPCLMUL
        case CrcKernel::kVpclmul: return ~ByVpclmul(p, n, ~crc);
#endif
#ifdef SPLITTER_CRC_CLMUL
        case CrcKernel::kPclmul: return ~ByPclmul(p, n, ~crc);
#endif
        default: return ~ByTables(p, n, ~crc);
    }
}

std::uint32_t Crc32(const void* data, std::size_t n, std::uint32_t crc) {
    return Crc32(data, n, crc, BestCrcKernel());
}

std::uint32_t Crc32Zeros(std::size_t n, std::uint32_t crc) {
    static const char zeros[4096] = {};
    while (n > 0) {
        const std::size_t chunk = std::min(n, sizeof zeros);
        crc = Crc32(zeros, chunk, crc);
        n -= chunk;
    }
    return crc;
}

}  // namespace splitter::par2
