// The plan of a split and the progress percentages of a run: pure arithmetic, no files.
#pragma once

#include <cstdint>
#include <vector>

namespace splitter {

// Sizes of the parts of a `length`-byte file cut into `parts` parts (parts >= 1).
//
// Every part but the last gets S bytes, the quotient rounded up; the last gets the rest. When
// the rounded-up size runs past the end (10 bytes in 7 parts), each part takes what is left,
// at most S, so the trailing parts are empty (2,2,2,2,2,0,0). The sizes always add up to length.
std::vector<std::uint64_t> PlanPartSizes(std::uint64_t length, int parts);

// The number of parts of `partSize` bytes (partSize >= 1) that a `length`-byte file is cut
// into: the quotient rounded up, so 0 for an empty file.
std::uint64_t SizedPartCount(std::uint64_t length, std::uint64_t partSize);

// Sizes of a `length`-byte file cut into parts of `partSize` bytes (partSize >= 1): every part
// but the last holds partSize bytes, the last the rest, 1 to partSize bytes. SizedPartCount parts.
std::vector<std::uint64_t> PlanSizedParts(std::uint64_t length, std::uint64_t partSize);

// The whole-number percentage shown after copying the byte at zero-based offset `offset` of a
// `length`-byte file: (offset / length) * 100 in double precision, rounded half to even.
int PercentAt(std::uint64_t offset, std::uint64_t length);

// One status update of a run: after the byte at `offset` is copied, `percent` is shown.
struct ProgressStep {
    std::uint64_t offset;
    int percent;
};

// Walks the points where the shown percentage changes, in order, without visiting every byte.
// The percentage never falls as the offset grows, so each next point is found by bisection.
class ProgressPlan {
public:
    explicit ProgressPlan(std::uint64_t length) : length_(length) {}

    // The first step at or after `from` whose percentage differs from `lastShown`;
    // offset == length when there is none.
    ProgressStep NextStep(std::uint64_t from, int lastShown) const;

private:
    std::uint64_t length_;
};

}  // namespace splitter
