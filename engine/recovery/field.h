// Arithmetic in GF(2^16), the field of the PAR 2.0 format's Reed-Solomon code: 16-bit words,
// added by XOR, multiplied as polynomials over GF(2) modulo x^16 + x^12 + x^3 + x + 1 (0x1100B),
// in which 2 generates every non-zero element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// The ways to multiply a run of words by one factor, the fastest the processor has chosen at
// run time: bit-matrix products of the low and high bytes (GFNI, on 512-bit vectors where the
// processor has them and their byte permutations), 4-bit tables looked up by byte shuffles (AVX2),
// or 8-bit tables (any processor).
enum class Kernel { kTables, kAvx2, kGfni, kGfni512 };
bool Supports(Kernel kernel);
Kernel BestKernel();

// The order the kernels read and write words in, where a slice is summed many times over: each
// whole 64 bytes of a run (from its start) holds the low bytes of its 32 words, then their high
// bytes, in the same order; the bytes past the last whole 64 stay as they are. The order costs
// a pass over the bytes each way, and saves one in every sum.
void ToKernelOrder(std::uint8_t* data, std::size_t bytes);
void FromKernelOrder(std::uint8_t* data, std::size_t bytes);

// Multiplies by one factor, fast: the inner loop of every Reed-Solomon sum. Its tables hold the
// products of the factor with every value of each nibble (for the byte shuffles), its bit
// matrices the product's bytes as functions of the word's bytes (for GFNI), and split tables
// of its products with every byte value (any processor).
class Multiplier {
public:
    explicit Multiplier(std::uint16_t factor = 0);
    std::uint16_t factor() const { return factor_; }

    // dst += factor * src over `bytes` bytes (an even count) read as little-endian 16-bit
    // words.
    void MultiplyAdd(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) const;

    // The same over runs in the kernels' order (ToKernelOrder), both from the same offset of
    // their slices modulo 64.
    void MultiplyAddOrdered(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                            Kernel kernel = BestKernel()) const;

private:
    friend class ManyProducts;
    std::uint16_t factor_;
    // affine_[o][i]: the bit matrix (as GFNI reads it) of the product's byte o (0 low, 1 high)
    // from the word's byte i.
    std::uint64_t affine_[2][2];
    // nibbles_[n][0][x]: low byte of factor * (x << 4n); [n][1][x]: its high byte.
    alignas(16) std::uint8_t nibbles_[4][2][16];
    std::uint16_t low_[256];   // factor * b
    std::uint16_t high_[256];  // factor * (b << 8)
};

// Many inputs times many factors summed into many outputs, out_o += sum over i of f_oi * in_i,
// over runs in the kernels' order: the whole of a Reed-Solomon sum for one block of bytes. With
// 512-bit vectors a 64-byte group is one register, each input's group is loaded once for eight
// outputs, and their groups stay in registers while every input is added into them (about 45
// GB/s of products a core here, against 32 for MultiplyAddOrdered on 256-bit vectors, which
// loads and stores the output for each input); elsewhere it is MultiplyAddOrdered for each
// pair.
class ManyProducts {
public:
    // factors[o * inputs + i]: the factor of input i in output o.
    ManyProducts(const std::vector<std::uint16_t>& factors, std::size_t outputs, std::size_t inputs,
                 Kernel kernel = BestKernel());

    // dst[o] += sum over i of f_oi * src[i], over `bytes` bytes of each run from the same offset
    // of their slices modulo 64. With `plain`, the inputs are in the plain order (only where
    // TakesPlain()).
    void MultiplyAdd(std::uint8_t* const* dst, const std::uint8_t* const* src, std::size_t bytes,
                     bool plain = false) const;
    bool TakesPlain() const { return kernel_ == Kernel::kGfni512; }

private:
    std::size_t outputs_;
    std::size_t inputs_;
    Kernel kernel_;
    std::vector<Multiplier> multipliers_;  // [o * inputs + i]
    // For kGfni512, by input then output: the bit matrices of the product's low and high bytes
    // from the same 32 bytes of the group (8 lanes), then from the other 32.
    std::vector<std::uint64_t> wide_;
};

// The same, once: dst += factor * src.
void MultiplyAdd(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                 std::uint16_t factor);

}  // namespace splitter::gf16
