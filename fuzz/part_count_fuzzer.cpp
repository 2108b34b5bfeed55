// The part-count rule on any bytes. Besides never crashing, its verdict must agree with the rule
// worked out a second way: the value is read from the digits left once leading zeros are gone,
// not accumulated digit by digit, so a slip in the overflow or range checks of either shows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "engine/part_count.h"

namespace {

using splitter::PartCount;
using splitter::PartCountVerdict;

PartCount Expected(std::string_view text) {
    if (text.find_first_not_of(' ') == std::string_view::npos) return {PartCountVerdict::kEmpty};
    std::size_t characters = 0;  // UTF-8: continuation bytes start no character
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (characters > 32767) return {PartCountVerdict::kOverflow};
    if (text.find_first_not_of("0123456789") != std::string_view::npos)
        return {PartCountVerdict::kInvalid};
    const std::size_t first = text.find_first_not_of('0');
    const std::string_view digits = first == std::string_view::npos ? "" : text.substr(first);
    if (digits.size() > 5) return {PartCountVerdict::kOverflow};
    long value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    if (value > 32767) return {PartCountVerdict::kOverflow};
    if (value < 2 || value > 999) return {PartCountVerdict::kInvalid};
    return {PartCountVerdict::kOk, static_cast<std::int16_t>(value)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const PartCount got = splitter::CheckPartCount(text);
    const PartCount expected = Expected(text);
    if (got.verdict != expected.verdict ||
        (got.verdict == PartCountVerdict::kOk && got.parts != expected.parts)) {
        std::fprintf(stderr,
                     "CheckPartCount: verdict %d, parts %d; expected verdict %d, parts %d\n",
                     static_cast<int>(got.verdict), got.parts, static_cast<int>(expected.verdict),
                     expected.parts);
        std::abort();
    }
    return 0;
}
