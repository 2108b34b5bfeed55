// The rule for a part count, as typed into the part-count box or given on the command line:
// the window and the command line check it alike.
#pragma once

#include <cstdint>
#include <string_view>

namespace splitter {

inline constexpr int kMinParts = 2;
inline constexpr int kMaxParts = 999;

inline constexpr const char* kEnterPartsText = "Please Enter Number of Parts.";
inline constexpr const char* kInvalidPartsText = "Please Enter valid number of Parts.";

enum class PartCountVerdict {
    kOk,        // `parts` holds the count, 2 to 999
    kEmpty,     // "Please Enter Number of Parts."
    kInvalid,   // "Please Enter valid number of Parts."
    kOverflow,  // the error box "Error 6: Overflow"
};

struct PartCount {
    PartCountVerdict verdict;
    std::int16_t parts = 0;
};

// Checks `text` (UTF-8) exactly as typed, in this order:
// 1. empty once leading and trailing spaces are removed: kEmpty;
// 2. more than 32767 characters: kOverflow;
// 3. any character other than the ASCII digits 0 to 9 (spaces, signs, points, separators,
//    letters, other scripts' digits): kInvalid;
// 4. a value above 32767: kOverflow;
// 5. a value below 2 or above 999: kInvalid.
PartCount CheckPartCount(std::string_view text);

}  // namespace splitter
