#include "engine/gf16.h"

#include <array>
#include <cstring>

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

// The products of `factor` with every byte value, as the low byte of a word and as the high
// byte: a word's product is lowTable[w & 0xFF] ^ highTable[w >> 8].
struct SplitTables {
    std::uint16_t low[256];
    std::uint16_t high[256];
    explicit SplitTables(std::uint16_t factor) {
        for (unsigned b = 0; b < 256; ++b) {
            low[b] = Multiply(factor, static_cast<std::uint16_t>(b));
            high[b] = Multiply(factor, static_cast<std::uint16_t>(b << 8));
        }
    }
};

std::uint16_t LoadWord(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Four words at a time through the split tables: any processor.
void MultiplyAddPlain(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                      std::uint16_t factor) {
    const SplitTables t(factor);
    std::size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        std::uint64_t in;
        std::uint64_t out;
        std::memcpy(&in, src + i, 8);
        std::memcpy(&out, dst + i, 8);
        std::uint64_t product = 0;
        for (int w = 0; w < 4; ++w) {
            const auto word = static_cast<std::uint16_t>(in >> (16 * w));
            product |= static_cast<std::uint64_t>(t.low[word & 0xFF] ^ t.high[word >> 8])
                       << (16 * w);
        }
        // Little-endian words on a little-endian machine, the only kind this builds for.
        out ^= product;
        std::memcpy(dst + i, &out, 8);
    }
    for (; i + 2 <= bytes; i += 2) {
        const std::uint16_t word = LoadWord(src + i);
        const auto product = static_cast<std::uint16_t>(t.low[word & 0xFF] ^ t.high[word >> 8]);
        dst[i] = static_cast<std::uint8_t>(dst[i] ^ (product & 0xFF));
        dst[i + 1] = static_cast<std::uint8_t>(dst[i + 1] ^ (product >> 8));
    }
}

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

void MultiplyAdd(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                 std::uint16_t factor) {
    if (factor == 0) return;
    MultiplyAddPlain(dst, src, bytes, factor);
}

}  // namespace splitter::gf16
