#include "engine/plan.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <numeric>

namespace splitter {
namespace {

// A count as PlanPartSizes takes it; no list of parts comes near the limit.
int ClampedToInt(std::size_t n) {
    return static_cast<int>(std::min<std::size_t>(n, std::numeric_limits<int>::max()));
}

}  // namespace

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

std::optional<SizeMisfit> FindSizeMisfit(const std::vector<std::uint64_t>& sizes) {
    if (sizes.empty()) return std::nullopt;
    const std::size_t n = sizes.size();
    const std::uint64_t total = std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0});

    struct Fit {
        std::size_t misfits = 0;
        SizeMisfit first{0, 0};
    };
    const auto fitTo = [&](std::uint64_t length) {
        const std::vector<std::uint64_t> plan = PlanPartSizes(length, ClampedToInt(n));
        Fit fit;
        for (std::size_t k = 0; k < n; ++k) {
            if (sizes[k] == plan[k]) continue;
            if (fit.misfits++ == 0) fit.first = {k, plan[k]};
        }
        return fit;
    };

    Fit best = fitTo(total);
    if (best.misfits == 0) return std::nullopt;

    // A split by size: every part but the last of one size, the last 1 to that size. The size
    // is that of the first part, or of the second when the first is the one changed.
    std::vector<Fit> bySize;
    for (const std::size_t i : {std::size_t{0}, std::size_t{1}}) {
        if (i + 1 >= n || sizes[i] == 0) continue;
        Fit fit;
        for (std::size_t k = 0; k < n; ++k) {
            const bool fits =
                k + 1 < n ? sizes[k] == sizes[i] : sizes[k] > 0 && sizes[k] <= sizes[i];
            if (!fits && fit.misfits++ == 0) fit.first = {k, sizes[i]};
        }
        if (fit.misfits == 0) return std::nullopt;
        bySize.push_back(fit);
    }

    // The plans of the totals there would be had one part kept its size: the size of another
    // part, or nothing (a trailing part of a small file), in place of its own. And the plan
    // where every part has the first one's size, for a last part that was cut or grown.
    const auto consider = [&](std::uint64_t length) {
        const Fit fit = fitTo(length);
        if (fit.misfits < best.misfits) best = fit;
    };
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    if (sizes[0] <= kMax / n) consider(sizes[0] * n);
    for (std::size_t j = 0; j < n && best.misfits > 1; ++j) {
        const std::uint64_t others = total - sizes[j];
        for (const std::size_t i : {std::size_t{0}, std::size_t{1}}) {
            if (i != j && i < n && sizes[i] <= kMax - others) consider(others + sizes[i]);
        }
        consider(others);
    }
    // On a tie, the blame of a split by count stands.
    for (const Fit& fit : bySize) {
        if (fit.misfits < best.misfits) best = fit;
    }
    return best.first;
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
