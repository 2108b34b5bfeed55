// The plan of a split and the progress percentages of a run: pure arithmetic, no files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

// A part whose size does not fit: part `part` was expected to hold `expected` bytes.
struct SizeMisfit {
    std::size_t part;
    std::uint64_t expected;
};

// The parts carry no header, so without a checksum file their sizes are the only check there
// is: they must be those of a split by count, PlanPartSizes(their total, their count), or of a
// split by size, PlanSizedParts(their total, the first part's size). When they are neither,
// names the part to blame: the first that differs from the plan, of either kind, that fits the
// most parts (one part cut short or grown leaves all the others fitting the plan of the
// original). nullopt when the sizes fit.
//
// What this cannot see: a change that leaves the sizes those of another split. A last part cut
// short (but not emptied) fits a split by size of a shorter file; with many parts, a last part
// cut by fewer bytes than there are parts also fits a split by count of a shorter file.
std::optional<SizeMisfit> FindSizeMisfit(const std::vector<std::uint64_t>& sizes);

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
