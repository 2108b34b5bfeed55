#include "engine/plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

#include "engine/part_size.h"
#include "engine/progress_copier.h"

namespace splitter {
namespace {

using Sizes = std::vector<std::uint64_t>;

TEST(PlanTest, PartSizes) {
    struct Case {
        std::uint64_t length;
        int parts;
        Sizes sizes;
    };
    const Case cases[] = {
        {12, 4, {3, 3, 3, 3}},
        {10, 4, {3, 3, 3, 1}},
        {10, 6, {2, 2, 2, 2, 2, 0}},
        {10, 7, {2, 2, 2, 2, 2, 0, 0}},
        {4, 4, {1, 1, 1, 1}},
        {300, 4, {75, 75, 75, 75}},
        {5, 2, {3, 2}},
        {101, 10, {11, 11, 11, 11, 11, 11, 11, 11, 11, 2}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlanPartSizes(c.length, c.parts), c.sizes) << c.length << " in " << c.parts;
    }
}

TEST(PlanTest, PartSizesAddUpAndNeverExceedTheFirst) {
    for (std::uint64_t length = 0; length <= 400; ++length) {
        for (int parts = 2; parts <= 120; ++parts) {
            const Sizes sizes = PlanPartSizes(length, parts);
            ASSERT_EQ(sizes.size(), static_cast<std::size_t>(parts));
            ASSERT_EQ(std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0}), length);
            for (std::uint64_t s : sizes) ASSERT_LE(s, sizes[0]) << length << " in " << parts;
        }
    }
    const std::uint64_t big = (std::uint64_t{1} << 32) + 1;
    const Sizes sizes = PlanPartSizes(big, 8);
    EXPECT_EQ(sizes[0], big / 8 + 1);
    EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0}), big);
}

TEST(PlanTest, SizedParts) {
    constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
    struct Case {
        std::uint64_t length;
        std::uint64_t partSize;
        Sizes sizes;
    };
    const Case cases[] = {
        {10, 3, {3, 3, 3, 1}},
        {12, 3, {3, 3, 3, 3}},
        {10, 6, {6, 4}},  // not a split by count: that would be 5, 5
        {10, 10, {10}},
        {10, 11, {10}},
        {0, 5, {}},
        {9 * kGiB, kFat32PartSize, {kFat32PartSize, kFat32PartSize, 9 * kGiB - 2 * kFat32PartSize}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlanSizedParts(c.length, c.partSize), c.sizes)
            << c.length << " by " << c.partSize;
        EXPECT_EQ(SizedPartCount(c.length, c.partSize), c.sizes.size());
    }
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(SizedPartCount(max, 1), max);
    EXPECT_EQ(SizedPartCount(max, max - 1), 2u);
}

TEST(PlanTest, PartSizeText) {
    constexpr std::uint64_t kKi = 1024;
    struct Case {
        const char* text;
        std::optional<std::uint64_t> size;
    };
    const Case cases[] = {{"1", 1},
                          {"4096", 4096},
                          {"007", 7},
                          {"700MB", 700000000},
                          {"700mb", 700000000},
                          {"1K", kKi},
                          {"1k", kKi},
                          {"1KiB", kKi},
                          {"3M", 3 * kKi * kKi},
                          {"3MiB", 3 * kKi * kKi},
                          {"2G", 2 * kKi * kKi * kKi},
                          {"2gib", 2 * kKi * kKi * kKi},
                          {"25KB", 25000},
                          {"4GB", 4000000000},
                          {"fat32", 4294963200},
                          {"FAT32", 4294963200},
                          {"18446744073709551615", 18446744073709551615u},  // the largest
                          {"17179869183G", 17179869183 * kKi * kKi * kKi}};
    for (const Case& c : cases) EXPECT_EQ(ParsePartSize(c.text), c.size) << '"' << c.text << '"';
    // Refused: signs, fractions, spaces, other units, zero, 2^64 bytes (in digits or with a
    // unit), an Arabic-Indic digit one.
    const char* const refused[] = {
        "",
        "0",
        "0K",
        "-1",
        "+1",
        "1.5G",
        "1,5G",
        "1 M",
        " 1M",
        "1M ",
        "M",
        "1T",
        "1MBB",
        "1iB",
        "1B",
        "0x10",
        "1e6",
        "fat",
        "2fat32",
        "18446744073709551616",
        "99999999999999999999999",
        "17179869184G",
        "18446744073709551615K",
        "\xd9\xa1",
    };
    for (const char* bad : refused)
        EXPECT_EQ(ParsePartSize(bad), std::nullopt) << '"' << bad << '"';
}

TEST(PlanTest, PercentRoundsHalfToEven) {
    EXPECT_EQ(PercentAt(0, 200), 0);
    EXPECT_EQ(PercentAt(1, 200), 0);      // 0.5 goes to 0
    EXPECT_EQ(PercentAt(3, 200), 2);      // 1.5 goes to 2
    EXPECT_EQ(PercentAt(5, 200), 2);      // 2.5 goes to 2
    EXPECT_EQ(PercentAt(199, 200), 100);  // 99.5 goes to 100
    EXPECT_EQ(PercentAt(2, 3), 67);
    EXPECT_EQ(PercentAt(74, 300), 25);  // 24.67
}

// The steps found by bisection are exactly those of looking at every byte.
TEST(PlanTest, ProgressStepsMatchEveryByte) {
    for (std::uint64_t length = 1; length <= 3000; length += (length < 400 ? 1 : 37)) {
        std::vector<ProgressStep> expected;
        int last = 0;
        for (std::uint64_t p = 0; p < length; ++p) {
            const int percent = PercentAt(p, length);
            if (percent != last) expected.push_back({p, last = percent});
        }
        std::vector<ProgressStep> actual;
        const ProgressPlan plan(length);
        last = 0;
        for (ProgressStep step = plan.NextStep(0, 0); step.offset < length;
             step = plan.NextStep(step.offset + 1, last)) {
            actual.push_back(step);
            last = step.percent;
        }
        ASSERT_EQ(actual.size(), expected.size()) << length;
        for (std::size_t i = 0; i < actual.size(); ++i) {
            ASSERT_EQ(actual[i].offset, expected[i].offset) << length;
            ASSERT_EQ(actual[i].percent, expected[i].percent) << length;
        }
    }
}

TEST(PlanTest, ProgressStepsOfHugeFilesRiseByOne) {
    for (std::uint64_t length : {std::uint64_t{1} << 31, (std::uint64_t{1} << 32) + 1,
                                 std::uint64_t{1} << 40, std::uint64_t{999999999999}}) {
        const ProgressPlan plan(length);
        int last = 0;
        std::uint64_t previous = 0;
        for (ProgressStep step = plan.NextStep(0, 0); step.offset < length;
             step = plan.NextStep(step.offset + 1, last)) {
            ASSERT_EQ(step.percent, last + 1) << length;
            ASSERT_GT(step.offset, previous);
            ASSERT_NE(PercentAt(step.offset - 1, length), step.percent);
            previous = step.offset;
            last = step.percent;
        }
        EXPECT_EQ(last, 100) << length;
    }
}

TEST(PlanTest, ProgressText) {
    EXPECT_EQ(ProgressText("Splitting", 7), "Splitting... [ 7 % Completed. ]");
    EXPECT_EQ(ProgressText("Splitting", 100), "Splitting... [ 100 % Completed. ]");
    EXPECT_EQ(ProgressText("Joining", 42), "Joining... [ 42 % Completed. ]");
}

}  // namespace
}  // namespace splitter
