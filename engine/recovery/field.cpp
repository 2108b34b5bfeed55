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

// The word at position j of the low (and of the high) half of 64 bytes in the kernels' order.
std::size_t WordAt(std::size_t j) {
    const std::size_t eighth = j / 8;
    return eighth == 1 ? j + 8 : eighth == 2 ? j - 8 : j;
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

// The products of 32 words whose low and high bytes lie apart in `low` and `high`: each byte
// split into nibbles, each nibble looked up in the tables of the products' low and high bytes
// by a byte shuffle.
struct Nibbles {
    __m256i table[4][2];
};

__attribute__((target("avx2"))) inline Nibbles LoadNibbles(const std::uint8_t (*t)[2][16]) {
    Nibbles n;
    for (int k = 0; k < 4; ++k)
        for (int h = 0; h < 2; ++h)
            n.table[k][h] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(t[k][h])));
    return n;
}

__attribute__((target("avx2"))) inline void Products(const Nibbles& t, __m256i low, __m256i high,
                                                     __m256i& pl, __m256i& ph) {
    const __m256i mask = _mm256_set1_epi8(0x0F);
    const __m256i n0 = _mm256_and_si256(low, mask);
    const __m256i n1 = _mm256_and_si256(_mm256_srli_epi16(low, 4), mask);
    const __m256i n2 = _mm256_and_si256(high, mask);
    const __m256i n3 = _mm256_and_si256(_mm256_srli_epi16(high, 4), mask);
    pl = _mm256_xor_si256(_mm256_shuffle_epi8(t.table[0][0], n0),
                          _mm256_shuffle_epi8(t.table[1][0], n1));
    ph = _mm256_xor_si256(_mm256_shuffle_epi8(t.table[0][1], n0),
                          _mm256_shuffle_epi8(t.table[1][1], n1));
    pl = _mm256_xor_si256(pl, _mm256_xor_si256(_mm256_shuffle_epi8(t.table[2][0], n2),
                                               _mm256_shuffle_epi8(t.table[3][0], n3)));
    ph = _mm256_xor_si256(ph, _mm256_xor_si256(_mm256_shuffle_epi8(t.table[2][1], n2),
                                               _mm256_shuffle_epi8(t.table[3][1], n3)));
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
    const Nibbles table = LoadNibbles(t);
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const __m256i a = _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)), gather);
        const __m256i b = _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32)), gather);
        __m256i pl;
        __m256i ph;
        Products(table, _mm256_unpacklo_epi64(a, b), _mm256_unpackhi_epi64(a, b), pl, ph);
        const __m256i pa = _mm256_shuffle_epi8(_mm256_unpacklo_epi64(pl, ph), scatter);
        const __m256i pb = _mm256_shuffle_epi8(_mm256_unpackhi_epi64(pl, ph), scatter);
        auto* da = reinterpret_cast<__m256i*>(dst + i);
        auto* db = reinterpret_cast<__m256i*>(dst + i + 32);
        _mm256_storeu_si256(da, _mm256_xor_si256(_mm256_loadu_si256(da), pa));
        _mm256_storeu_si256(db, _mm256_xor_si256(_mm256_loadu_si256(db), pb));
    }
    return i;
}

// The AVX2 gather above puts the low bytes of words 0-7, 16-23, 8-15 and 24-31 in that order:
// the kernels' order of the 32 words of 64 bytes.
__attribute__((target("avx2"))) void ToKernelOrderAvx2(std::uint8_t* data, std::size_t groups) {
    const __m256i gather = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0,
                                            2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    for (std::size_t g = 0; g < groups; ++g, data += 64) {
        auto* pa = reinterpret_cast<__m256i*>(data);
        auto* pb = reinterpret_cast<__m256i*>(data + 32);
        const __m256i a = _mm256_shuffle_epi8(_mm256_loadu_si256(pa), gather);
        const __m256i b = _mm256_shuffle_epi8(_mm256_loadu_si256(pb), gather);
        _mm256_storeu_si256(pa, _mm256_unpacklo_epi64(a, b));
        _mm256_storeu_si256(pb, _mm256_unpackhi_epi64(a, b));
    }
}

__attribute__((target("avx2"))) void FromKernelOrderAvx2(std::uint8_t* data, std::size_t groups) {
    const __m256i scatter = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15,
                                             0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    for (std::size_t g = 0; g < groups; ++g, data += 64) {
        auto* pa = reinterpret_cast<__m256i*>(data);
        auto* pb = reinterpret_cast<__m256i*>(data + 32);
        const __m256i low = _mm256_loadu_si256(pa);
        const __m256i high = _mm256_loadu_si256(pb);
        _mm256_storeu_si256(pa, _mm256_shuffle_epi8(_mm256_unpacklo_epi64(low, high), scatter));
        _mm256_storeu_si256(pb, _mm256_shuffle_epi8(_mm256_unpackhi_epi64(low, high), scatter));
    }
}

// MultiplyAddAvx2 without the gathering and scattering: the words are in the kernels' order.
__attribute__((target("avx2"))) std::size_t MultiplyAddOrderedAvx2(std::uint8_t* dst,
                                                                   const std::uint8_t* src,
                                                                   std::size_t bytes,
                                                                   const std::uint8_t (*t)[2][16]) {
    const Nibbles table = LoadNibbles(t);
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        __m256i pl;
        __m256i ph;
        Products(table, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)),
                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32)), pl, ph);
        auto* dl = reinterpret_cast<__m256i*>(dst + i);
        auto* dh = reinterpret_cast<__m256i*>(dst + i + 32);
        _mm256_storeu_si256(dl, _mm256_xor_si256(_mm256_loadu_si256(dl), pl));
        _mm256_storeu_si256(dh, _mm256_xor_si256(_mm256_loadu_si256(dh), ph));
    }
    return i;
}

// Each byte of the product is a GF(2)-linear function of the word's two bytes: four 8x8 bit
// matrices, one instruction each for 32 bytes.
__attribute__((target("avx2,gfni"))) std::size_t MultiplyAddOrderedGfni(
    std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const std::uint64_t (*a)[2]) {
    const __m256i ll = _mm256_set1_epi64x(static_cast<long long>(a[0][0]));
    const __m256i lh = _mm256_set1_epi64x(static_cast<long long>(a[0][1]));
    const __m256i hl = _mm256_set1_epi64x(static_cast<long long>(a[1][0]));
    const __m256i hh = _mm256_set1_epi64x(static_cast<long long>(a[1][1]));
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32));
        const __m256i pl = _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(low, ll, 0),
                                            _mm256_gf2p8affine_epi64_epi8(high, lh, 0));
        const __m256i ph = _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(low, hl, 0),
                                            _mm256_gf2p8affine_epi64_epi8(high, hh, 0));
        auto* dl = reinterpret_cast<__m256i*>(dst + i);
        auto* dh = reinterpret_cast<__m256i*>(dst + i + 32);
        _mm256_storeu_si256(dl, _mm256_xor_si256(_mm256_loadu_si256(dl), pl));
        _mm256_storeu_si256(dh, _mm256_xor_si256(_mm256_loadu_si256(dh), ph));
    }
    return i;
}

// Eight (or fewer) outputs at a time: their groups stay in registers while every input's group,
// loaded once, is multiplied into each of them. A group [low 32 | high 32] times the matrices
// [ll x4 | hh x4] gives the low bytes' share of the low half and the high bytes' of the high;
// the group with its halves swapped, times [lh x4 | hl x4], gives the rest.
// Inputs in the plain order are put in the kernels' order as they are loaded, by one byte
// permutation (`order`), which saves a copy of every input.
template <std::size_t G, bool Plain>
__attribute__((target("avx512f,avx512bw,avx512vbmi,gfni"))) void ManyGfni512(
    std::uint8_t* const* dst, std::size_t outputs, const std::uint8_t* const* src,
    std::size_t inputs, const std::uint64_t* wide, std::size_t groups, __m512i order) {
    for (std::size_t at = 0; at < groups * 64; at += 64) {
        // Unrolled, so that the outputs stay in registers.
        __m512i acc[G];
#pragma GCC unroll 8
        for (std::size_t k = 0; k < G; ++k) acc[k] = _mm512_loadu_si512(dst[k] + at);
        const std::uint64_t* w = wide;
        for (std::size_t i = 0; i < inputs; ++i, w += 16 * outputs) {
            __m512i x = _mm512_loadu_si512(src[i] + at);
            if constexpr (Plain) x = _mm512_maskz_permutexvar_epi8(~0ull, order, x);
            const __m512i swapped = _mm512_maskz_shuffle_i64x2(0xFF, x, x, 0x4E);
#pragma GCC unroll 8
            for (std::size_t k = 0; k < G; ++k) {
                const __m512i same =
                    _mm512_gf2p8affine_epi64_epi8(x, _mm512_loadu_si512(w + 16 * k), 0);
                const __m512i other =
                    _mm512_gf2p8affine_epi64_epi8(swapped, _mm512_loadu_si512(w + 16 * k + 8), 0);
                acc[k] = _mm512_ternarylogic_epi32(acc[k], same, other, 0x96);  // a ^ b ^ c
            }
        }
#pragma GCC unroll 8
        for (std::size_t k = 0; k < G; ++k) _mm512_storeu_si512(dst[k] + at, acc[k]);
    }
}

template <bool Plain>
__attribute__((target("avx512f,avx512bw,avx512vbmi,gfni"))) void ManyGfni512(
    std::uint8_t* const* dst, std::size_t outputs, const std::uint8_t* const* src,
    std::size_t inputs, const std::uint64_t* wide, std::size_t groups) {
    alignas(64) std::uint8_t index[64];
    for (std::size_t j = 0; j < 32; ++j) {
        index[j] = static_cast<std::uint8_t>(2 * WordAt(j));
        index[32 + j] = static_cast<std::uint8_t>(2 * WordAt(j) + 1);
    }
    const __m512i order = _mm512_load_si512(index);
    std::size_t o = 0;
    for (; o + 8 <= outputs; o += 8)
        ManyGfni512<8, Plain>(dst + o, outputs, src, inputs, wide + 16 * o, groups, order);
    for (; o + 4 <= outputs; o += 4)
        ManyGfni512<4, Plain>(dst + o, outputs, src, inputs, wide + 16 * o, groups, order);
    const std::size_t left = outputs - o;
    if (left == 3)
        ManyGfni512<3, Plain>(dst + o, outputs, src, inputs, wide + 16 * o, groups, order);
    if (left == 2)
        ManyGfni512<2, Plain>(dst + o, outputs, src, inputs, wide + 16 * o, groups, order);
    if (left == 1)
        ManyGfni512<1, Plain>(dst + o, outputs, src, inputs, wide + 16 * o, groups, order);
}
#endif

}  // namespace

bool Supports(Kernel kernel) {
#ifdef SPLITTER_GF16_AVX2
    static const bool gfni = HasAvx2() && __builtin_cpu_supports("gfni");
    static const bool wide = gfni && __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vbmi");
    if (kernel == Kernel::kGfni512) return wide;
    if (kernel == Kernel::kGfni) return gfni;
    if (kernel == Kernel::kAvx2) return HasAvx2();
#endif
    return kernel == Kernel::kTables;
}

Kernel BestKernel() {
    static const Kernel best = Supports(Kernel::kGfni512) ? Kernel::kGfni512
                               : Supports(Kernel::kGfni)  ? Kernel::kGfni
                               : Supports(Kernel::kAvx2)  ? Kernel::kAvx2
                                                          : Kernel::kTables;
    return best;
}

void ToKernelOrder(std::uint8_t* data, std::size_t bytes) {
    const std::size_t groups = bytes / 64;
#ifdef SPLITTER_GF16_AVX2
    if (HasAvx2()) return ToKernelOrderAvx2(data, groups);
#endif
    std::uint8_t ordered[64];
    for (std::size_t g = 0; g < groups; ++g, data += 64) {
        for (std::size_t j = 0; j < 32; ++j) {
            ordered[j] = data[2 * WordAt(j)];
            ordered[32 + j] = data[2 * WordAt(j) + 1];
        }
        std::memcpy(data, ordered, 64);
    }
}

void FromKernelOrder(std::uint8_t* data, std::size_t bytes) {
    const std::size_t groups = bytes / 64;
#ifdef SPLITTER_GF16_AVX2
    if (HasAvx2()) return FromKernelOrderAvx2(data, groups);
#endif
    std::uint8_t plain[64];
    for (std::size_t g = 0; g < groups; ++g, data += 64) {
        for (std::size_t j = 0; j < 32; ++j) {
            plain[2 * WordAt(j)] = data[j];
            plain[2 * WordAt(j) + 1] = data[32 + j];
        }
        std::memcpy(data, plain, 64);
    }
}

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
    // Row r of a matrix (its byte 7 - r) holds the bits of the input byte that make bit r of
    // the output byte.
    for (unsigned out = 0; out < 2; ++out) {
        for (unsigned in = 0; in < 2; ++in) {
            std::uint64_t matrix = 0;
            for (unsigned k = 0; k < 8; ++k) {
                const std::uint16_t product =
                    Multiply(factor, static_cast<std::uint16_t>(1u << (8 * in + k)));
                for (unsigned r = 0; r < 8; ++r)
                    if ((product >> (8 * out + r)) & 1u)
                        matrix |= std::uint64_t{1} << (8 * (7 - r) + k);
            }
            affine_[out][in] = matrix;
        }
    }
}

void Multiplier::MultiplyAddOrdered(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                                    [[maybe_unused]] Kernel kernel) const {
    if (factor_ == 0) return;
    std::size_t i = 0;
#ifdef SPLITTER_GF16_AVX2
    if (kernel == Kernel::kGfni || kernel == Kernel::kGfni512)
        i = MultiplyAddOrderedGfni(dst, src, bytes, affine_);
    if (kernel == Kernel::kAvx2) i = MultiplyAddOrderedAvx2(dst, src, bytes, nibbles_);
#endif
    for (; i + 64 <= bytes; i += 64) {
        for (std::size_t j = 0; j < 32; ++j) {
            const auto product =
                static_cast<std::uint16_t>(low_[src[i + j]] ^ high_[src[i + 32 + j]]);
            dst[i + j] = static_cast<std::uint8_t>(dst[i + j] ^ (product & 0xFF));
            dst[i + 32 + j] = static_cast<std::uint8_t>(dst[i + 32 + j] ^ (product >> 8));
        }
    }
    // The bytes past the last whole 64 are in the plain order, and fewer than a vector holds.
    MultiplyAdd(dst + i, src + i, bytes - i);
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

ManyProducts::ManyProducts(const std::vector<std::uint16_t>& factors, std::size_t outputs,
                           std::size_t inputs, Kernel kernel)
    : outputs_(outputs), inputs_(inputs), kernel_(kernel) {
    multipliers_.reserve(outputs * inputs);
    for (std::size_t k = 0; k < outputs * inputs; ++k) multipliers_.emplace_back(factors[k]);
    if (kernel_ != Kernel::kGfni512) return;
    wide_.resize(16 * outputs * inputs);
    for (std::size_t i = 0; i < inputs; ++i) {
        for (std::size_t o = 0; o < outputs; ++o) {
            const std::uint64_t(*a)[2] = multipliers_[o * inputs + i].affine_;
            std::uint64_t* w = &wide_[16 * (i * outputs + o)];
            for (std::size_t lane = 0; lane < 4; ++lane) {
                w[lane] = a[0][0];
                w[lane + 4] = a[1][1];
                w[8 + lane] = a[0][1];
                w[8 + lane + 4] = a[1][0];
            }
        }
    }
}

void ManyProducts::MultiplyAdd(std::uint8_t* const* dst, const std::uint8_t* const* src,
                               std::size_t bytes, bool plain) const {
    std::size_t done = 0;
#ifdef SPLITTER_GF16_AVX2
    if (kernel_ == Kernel::kGfni512) {
        done = bytes / 64 * 64;
        if (plain)
            ManyGfni512<true>(dst, outputs_, src, inputs_, wide_.data(), bytes / 64);
        else
            ManyGfni512<false>(dst, outputs_, src, inputs_, wide_.data(), bytes / 64);
    }
#endif
    const Multiplier* m = multipliers_.data();
    for (std::size_t o = 0; o < outputs_; ++o)
        for (std::size_t i = 0; i < inputs_; ++i, ++m)
            m->MultiplyAddOrdered(dst[o] + done, src[i] + done, bytes - done, kernel_);
}

void MultiplyAdd(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                 std::uint16_t factor) {
    Multiplier(factor).MultiplyAdd(dst, src, bytes);
}

}  // namespace splitter::gf16
