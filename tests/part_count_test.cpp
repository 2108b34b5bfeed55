#include "engine/part_count.h"

#include <gtest/gtest.h>

#include <string>

namespace splitter {
namespace {

TEST(PartCountTest, Table) {
    using V = PartCountVerdict;
    struct Case {
        std::string text;
        V verdict;
        int parts;
    };
    const Case cases[] = {
        {"", V::kEmpty, 0},
        {"   ", V::kEmpty, 0},
        {" 5", V::kInvalid, 0},
        {"5 ", V::kInvalid, 0},
        {"2.5", V::kInvalid, 0},
        {"-3", V::kInvalid, 0},
        {"+4", V::kInvalid, 0},
        {"1e3", V::kInvalid, 0},
        {"1,000", V::kInvalid, 0},
        {"\t5", V::kInvalid, 0},
        {"\xd9\xa5", V::kInvalid, 0},      // ARABIC-INDIC DIGIT FIVE
        {"\xef\xbc\x95", V::kInvalid, 0},  // FULLWIDTH DIGIT FIVE
        {"0", V::kInvalid, 0},
        {"1", V::kInvalid, 0},
        {"1000", V::kInvalid, 0},
        {"32767", V::kInvalid, 0},
        {"2", V::kOk, 2},
        {"999", V::kOk, 999},
        {"007", V::kOk, 7},
        {"0000000000000000000000000000000000000012", V::kOk, 12},
        {"32768", V::kOverflow, 0},
        {"40000", V::kOverflow, 0},
        {"1234567890123456789012345678901234567890", V::kOverflow, 0},
        {std::string(32767, '5'), V::kOverflow, 0},  // the value overflows
        {std::string(32767, 'x'), V::kInvalid, 0},   // just short enough to be walked
        {std::string(32768, 'x'), V::kOverflow, 0},  // too long to be walked at all
        {std::string(40000, ' '), V::kEmpty, 0},     // emptiness is checked first
        {std::string(32765, '0') + "12", V::kOk, 12},
    };
    for (const Case& c : cases) {
        const PartCount result = CheckPartCount(c.text);
        const std::string shown = c.text.size() > 50 ? c.text.substr(0, 50) + "..." : c.text;
        EXPECT_EQ(result.verdict, c.verdict) << '"' << shown << '"';
        if (c.verdict == V::kOk) {
            EXPECT_EQ(result.parts, c.parts) << '"' << shown << '"';
        }
    }
}

TEST(PartCountTest, LengthCountsCharactersNotBytes) {
    // 20000 two-byte characters: 40000 bytes but fewer than 32768 characters.
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "\xc3\xa9";
    EXPECT_EQ(CheckPartCount(text).verdict, PartCountVerdict::kInvalid);
}

}  // namespace
}  // namespace splitter
