// The part size of a split by size, as given on the command line (`--size SIZE`).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace splitter {

// The largest multiple of 4096 below 4 GiB: the largest part a FAT32 volume holds (no file of
// 4 GiB or more) whose size keeps blocks aligned.
inline constexpr std::uint64_t kFat32PartSize = (std::uint64_t{1} << 32) - 4096;

// Reads SIZE: a whole number of bytes, digits only, followed right away by an optional unit:
// K, M, G or KiB, MiB, GiB (powers of 1024), KB, MB, GB (powers of 1000), in any letter case;
// or the word fat32 alone (kFat32PartSize). nullopt for anything else: an empty text, a sign, a
// fraction, a space, another unit, zero, or more bytes than 64 bits hold.
std::optional<std::uint64_t> ParsePartSize(std::string_view text);

}  // namespace splitter
