// Arithmetic in GF(2^16), the field of the PAR 2.0 format's Reed-Solomon code: 16-bit words,
// added by XOR, multiplied as polynomials over GF(2) modulo x^16 + x^12 + x^3 + x + 1 (0x1100B),
// in which 2 generates every non-zero element.
#pragma once

#include <cstddef>
#include <cstdint>

namespace splitter::gf16 {

inline constexpr std::uint32_t kGenerator = 0x1100B;
inline constexpr std::uint32_t kOrder = 65535;  // of the multiplicative group

std::uint16_t Multiply(std::uint16_t a, std::uint16_t b);
// 2 to the power n.
std::uint16_t Exp(std::uint32_t n);
// The n with 2^n = a, 0 <= n < 65535; a must not be 0.
std::uint32_t Log(std::uint16_t a);
// a to the power n (0^0 is 1).
std::uint16_t Power(std::uint16_t a, std::uint32_t n);
// The b with a * b = 1; a must not be 0.
std::uint16_t Inverse(std::uint16_t a);

// Multiplies by one factor, fast: the inner loop of every Reed-Solomon sum. Its tables hold the
// products of the factor with every value of each nibble (for the processor's byte shuffles:
// AVX2 where there is one) and with every byte value (split tables, any processor).
class Multiplier {
public:
    explicit Multiplier(std::uint16_t factor = 0);
    std::uint16_t factor() const { return factor_; }

    // dst += factor * src over `bytes` bytes (an even count) read as little-endian 16-bit
    // words.
    void MultiplyAdd(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) const;

private:
    std::uint16_t factor_;
    // nibbles_[n][0][x]: low byte of factor * (x << 4n); [n][1][x]: its high byte.
    alignas(16) std::uint8_t nibbles_[4][2][16];
    std::uint16_t low_[256];   // factor * b
    std::uint16_t high_[256];  // factor * (b << 8)
};

// The same, once: dst += factor * src.
void MultiplyAdd(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                 std::uint16_t factor);

}  // namespace splitter::gf16
