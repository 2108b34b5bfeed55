#include "engine/recovery/field.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace splitter::gf16 {
namespace {

struct Tables {
    std::array<std::uint16_t, 2 * kOrder> exp;  // doubled: exp[log a + log b] needs no modulo
    std::array<std::uint32_t, 65536> log;
    Tables() {
        std::uint32_t x = 1;
        for (std::uint32_t n = 0; n < kOrder; ++n) {
            exp[n] = exp[n + kOrder] = static_cast<std::uint16_t>(x);
            log[x] = n;
            x <<= 1;
            if (x & 0x10000) x ^= kGenerator;
        }
        log[0] = 0;
    }
};

const Tables& T() {
    static const Tables tables;
    return tables;
}

std::uint16_t LoadWord(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

#if defined(__x86_64__) || defined(__i386__)
#define SPLITTER_GF16_AVX2 1

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// 32 words at a time: the low and the high bytes of the words are gathered apart (within each
// 128-bit lane, in an order that the way back undoes), each byte split into nibbles, and each
// nibble looked up in the tables of the products' low and high bytes by a byte shuffle.
__attribute__((target("avx2"))) std::size_t MultiplyAddAvx2(std::uint8_t* dst,
                                                            const std::uint8_t* src,
                                                            std::size_t bytes,
                                                            const std::uint8_t (*t)[2][16]) {
    const __m256i gather = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0,
                                            2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    const __m256i scatter = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15,
                                             0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    const __m256i mask = _mm256_set1_epi8(0x0F);
    __m256i table[4][2];
    for (int n = 0; n < 4; ++n)
        for (int h = 0; h < 2; ++h)
            table[n][h] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(t[n][h])));
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const __m256i a = _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)), gather);
        const __m256i b = _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32)), gather);
        const __m256i low = _mm256_unpacklo_epi64(a, b);
        const __m256i high = _mm256_unpackhi_epi64(a, b);
        const __m256i n0 = _mm256_and_si256(low, mask);
        const __m256i n1 = _mm256_and_si256(_mm256_srli_epi16(low, 4), mask);
        const __m256i n2 = _mm256_and_si256(high, mask);
        const __m256i n3 = _mm256_and_si256(_mm256_srli_epi16(high, 4), mask);
        __m256i pl = _mm256_xor_si256(_mm256_shuffle_epi8(table[0][0], n0),
                                      _mm256_shuffle_epi8(table[1][0], n1));
        __m256i ph = _mm256_xor_si256(_mm256_shuffle_epi8(table[0][1], n0),
                                      _mm256_shuffle_epi8(table[1][1], n1));
        pl = _mm256_xor_si256(pl, _mm256_xor_si256(_mm256_shuffle_epi8(table[2][0], n2),
                                                   _mm256_shuffle_epi8(table[3][0], n3)));
        ph = _mm256_xor_si256(ph, _mm256_xor_si256(_mm256_shuffle_epi8(table[2][1], n2),
                                                   _mm256_shuffle_epi8(table[3][1], n3)));
        const __m256i pa = _mm256_shuffle_epi8(_mm256_unpacklo_epi64(pl, ph), scatter);
        const __m256i pb = _mm256_shuffle_epi8(_mm256_unpackhi_epi64(pl, ph), scatter);
        auto* da = reinterpret_cast<__m256i*>(dst + i);
        auto* db = reinterpret_cast<__m256i*>(dst + i + 32);
        _mm256_storeu_si256(da, _mm256_xor_si256(_mm256_loadu_si256(da), pa));
        _mm256_storeu_si256(db, _mm256_xor_si256(_mm256_loadu_si256(db), pb));
    }
    return i;
}
#endif

}  // namespace

std::uint16_t Multiply(std::uint16_t a, std::uint16_t b) {
    if (a == 0 || b == 0) return 0;
    const Tables& t = T();
    return t.exp[t.log[a] + t.log[b]];
}

std::uint16_t Exp(std::uint32_t n) {
    return T().exp[n % kOrder];
}

std::uint32_t Log(std::uint16_t a) {
    return T().log[a];
}

std::uint16_t Power(std::uint16_t a, std::uint32_t n) {
    if (n == 0) return 1;
    if (a == 0) return 0;
    return Exp(static_cast<std::uint32_t>((std::uint64_t{Log(a)} * n) % kOrder));
}

std::uint16_t Inverse(std::uint16_t a) {
    return Exp(kOrder - Log(a));
}

Multiplier::Multiplier(std::uint16_t factor) : factor_(factor) {
    for (unsigned n = 0; n < 4; ++n) {
        for (unsigned x = 0; x < 16; ++x) {
            const std::uint16_t product =
                Multiply(factor, static_cast<std::uint16_t>(x << (4 * n)));
            nibbles_[n][0][x] = static_cast<std::uint8_t>(product & 0xFF);
            nibbles_[n][1][x] = static_cast<std::uint8_t>(product >> 8);
        }
    }
    for (unsigned b = 0; b < 256; ++b) {
        low_[b] = Multiply(factor, static_cast<std::uint16_t>(b));
        high_[b] = Multiply(factor, static_cast<std::uint16_t>(b << 8));
    }
}

void Multiplier::MultiplyAdd(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) const {
    if (factor_ == 0) return;
    std::size_t i = 0;
#ifdef SPLITTER_GF16_AVX2
    if (HasAvx2()) i = MultiplyAddAvx2(dst, src, bytes, nibbles_);
#endif
    // Four words at a time through the split tables.
    for (; i + 8 <= bytes; i += 8) {
        std::uint64_t in;
        std::uint64_t out;
        std::memcpy(&in, src + i, 8);
        std::memcpy(&out, dst + i, 8);
        std::uint64_t product = 0;
        for (int w = 0; w < 4; ++w) {
            const auto word = static_cast<std::uint16_t>(in >> (16 * w));
            product |= static_cast<std::uint64_t>(low_[word & 0xFF] ^ high_[word >> 8]) << (16 * w);
        }
        // Little-endian words on a little-endian machine, the only kind this builds for.
        out ^= product;
        std::memcpy(dst + i, &out, 8);
    }
    for (; i + 2 <= bytes; i += 2) {
        const std::uint16_t word = LoadWord(src + i);
        const auto product = static_cast<std::uint16_t>(low_[word & 0xFF] ^ high_[word >> 8]);
        dst[i] = static_cast<std::uint8_t>(dst[i] ^ (product & 0xFF));
        dst[i + 1] = static_cast<std::uint8_t>(dst[i + 1] ^ (product >> 8));
    }
}

void MultiplyAdd(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                 std::uint16_t factor) {
    Multiplier(factor).MultiplyAdd(dst, src, bytes);
}

}  // namespace splitter::gf16
