#include "engine/plan.h"

#include <algorithm>
#include <cmath>

namespace splitter {

std::vector<std::uint64_t> PlanPartSizes(std::uint64_t length, int parts) {
    const auto n = static_cast<std::uint64_t>(parts);
    std::uint64_t size = length / n;
    if (length % n != 0) ++size;
    std::vector<std::uint64_t> sizes;
    sizes.reserve(static_cast<std::size_t>(parts));
    std::uint64_t left = length;
    for (std::uint64_t k = 0; k < n; ++k) {
        const std::uint64_t take = k + 1 == n ? left : std::min(size, left);
        sizes.push_back(take);
        left -= take;
    }
    return sizes;
}

std::uint64_t SizedPartCount(std::uint64_t length, std::uint64_t partSize) {
    return length / partSize + (length % partSize != 0 ? 1 : 0);
}

std::vector<std::uint64_t> PlanSizedParts(std::uint64_t length, std::uint64_t partSize) {
    const std::uint64_t count = SizedPartCount(length, partSize);
    std::vector<std::uint64_t> sizes(static_cast<std::size_t>(count), partSize);
    if (count > 0) sizes.back() = length - partSize * (count - 1);
    return sizes;
}

int PercentAt(std::uint64_t offset, std::uint64_t length) {
    const double ratio = static_cast<double>(offset) / static_cast<double>(length);
    // nearbyint rounds in the current mode, which is to nearest with ties to even by default.
    return static_cast<int>(std::nearbyint(ratio * 100.0));
}

ProgressStep ProgressPlan::NextStep(std::uint64_t from, int lastShown) const {
    if (from >= length_ || PercentAt(length_ - 1, length_) == lastShown)
        return {length_, lastShown};
    if (PercentAt(from, length_) != lastShown) return {from, PercentAt(from, length_)};
    // PercentAt(lo) == lastShown, PercentAt(hi) != lastShown.
    std::uint64_t lo = from;
    std::uint64_t hi = length_ - 1;
    while (hi - lo > 1) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (PercentAt(mid, length_) == lastShown) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return {hi, PercentAt(hi, length_)};
}

}  // namespace splitter
