// The CRC-32 of ISO 3309 (zlib's, PAR 2.0's slice checksum): the reflected polynomial
// 0xEDB88320, started from all ones and inverted at the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace splitter::par2 {

// The ways to compute it, the fastest the processor has chosen at run time: carry-less products
// of four 512-bit registers at a step (VPCLMULQDQ with AVX-512), of four 128-bit registers
// (PCLMULQDQ with SSE4.1), or tables of 16 bytes at a step (any processor).
enum class CrcKernel { kTables, kPclmul, kVpclmul };
bool Supports(CrcKernel kernel);
CrcKernel BestCrcKernel();

// The CRC-32 of `n` bytes, continued from `crc` (0 to start): Crc32(b, m, Crc32(a, n)) is the
// CRC-32 of a followed by b.
std::uint32_t Crc32(const void* data, std::size_t n, std::uint32_t crc = 0);
std::uint32_t Crc32(const void* data, std::size_t n, std::uint32_t crc, CrcKernel kernel);
// The CRC-32 of `n` zero bytes appended to data whose CRC-32 is `crc`.
std::uint32_t Crc32Zeros(std::size_t n, std::uint32_t crc);

}  // namespace splitter::par2
