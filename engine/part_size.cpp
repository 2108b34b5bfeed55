#include "engine/part_size.h"

#include <limits>
#include <string>

#include "files/file_system.h"

namespace splitter {
namespace {

struct Unit {
    std::string_view name;  // lower case
    std::uint64_t bytes;
};

constexpr std::uint64_t kKi = 1024;
constexpr Unit kUnits[] = {
    {"", 1},
    {"k", kKi},
    {"m", kKi* kKi},
    {"g", kKi* kKi* kKi},
    {"kib", kKi},
    {"mib", kKi* kKi},
    {"gib", kKi* kKi* kKi},
    {"kb", 1000},
    {"mb", 1000 * 1000},
    {"gb", 1000 * 1000 * 1000},
};

}  // namespace

std::optional<std::uint64_t> ParsePartSize(std::string_view text) {
    const std::string lower = AsciiLower(text);
    if (lower == "fat32") return kFat32PartSize;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t count = 0;
    std::size_t digits = 0;
    for (; digits < lower.size() && lower[digits] >= '0' && lower[digits] <= '9'; ++digits) {
        const auto digit = static_cast<std::uint64_t>(lower[digits] - '0');
        if (count > (kMax - digit) / 10) return std::nullopt;
        count = count * 10 + digit;
    }
    if (digits == 0 || count == 0) return std::nullopt;
    const std::string_view unit = std::string_view(lower).substr(digits);
    for (const Unit& u : kUnits) {
        if (u.name != unit) continue;
        if (count > kMax / u.bytes) return std::nullopt;
        return count * u.bytes;
    }
    return std::nullopt;
}

}  // namespace splitter
