#include "engine/part_count.h"

#include <algorithm>

namespace splitter {
namespace {

constexpr std::size_t kMaxTextLength = 32767;
constexpr int kMaxInt16 = 32767;

// Characters, not bytes: UTF-8 continuation bytes don't start a character.
std::size_t CharacterCount(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace

PartCount CheckPartCount(std::string_view text) {
    if (text.find_first_not_of(' ') == std::string_view::npos) return {PartCountVerdict::kEmpty};
    if (CharacterCount(text) > kMaxTextLength) return {PartCountVerdict::kOverflow};
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {PartCountVerdict::kInvalid};
    int value = 0;
    for (const char c : text) {
        value = value * 10 + (c - '0');
        if (value > kMaxInt16) return {PartCountVerdict::kOverflow};
    }
    if (value < kMinParts || value > kMaxParts) return {PartCountVerdict::kInvalid};
    return {PartCountVerdict::kOk, static_cast<std::int16_t>(value)};
}

}  // namespace splitter
