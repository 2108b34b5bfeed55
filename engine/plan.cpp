#include "engine/plan.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace splitter {
namespace {

// How well the sizes fit the plan of one total: how many parts differ, and the first of them.
struct Fit {
    std::size_t misfits = 0;
    SizeMisfit first{0, 0};
};

// The sizes, arranged so that their fit to the plan of any total is found in logarithmic time.
// A plan is S bytes for the first `full` parts, one part of what remains, then empty parts: so
// its misfits are counted from how often S and 0 occur in a range of parts, and the first one
// found from where the leading run of equal sizes ends and where the first non-empty part lies
// past the remainder. A hostile script lists half a million parts; comparing every candidate
// plan part by part would take minutes.
class SizeIndex {
public:
    explicit SizeIndex(const std::vector<std::uint64_t>& sizes) : sizes_(sizes) {
        const std::size_t n = sizes.size();
        byValue_.reserve(n);
        for (std::size_t k = 0; k < n; ++k) {
            byValue_.push_back({sizes[k], k});
            if (sizes[k] != 0) nonEmpty_.push_back(k);
        }
        std::sort(byValue_.begin(), byValue_.end());
        while (leadingRun_ < n && sizes[leadingRun_] == sizes[0]) ++leadingRun_;
    }

    // The fit to PlanPartSizes(length, n), without making the plan.
    Fit FitTo(std::uint64_t length) const {
        const std::size_t n = sizes_.size();
        const std::uint64_t size = length / n + (length % n != 0 ? 1 : 0);
        // Parts [0, full) hold `size` bytes, part `full` the remainder, the rest nothing; the
        // last part takes whatever is left, which is why `full` stops at n - 1.
        const std::size_t full =
            size == 0 ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(length / size, n - 1));
        const std::uint64_t remainder = length - full * size;

        Fit fit;
        fit.misfits = (full - CountIn(size, 0, full)) + (sizes_[full] != remainder ? 1 : 0) +
                      (n - 1 - full - CountIn(0, full + 1, n));
        if (fit.misfits == 0) return fit;
        if (full > 0 && sizes_[0] != size) {
            fit.first = {0, size};
        } else if (full > 0 && leadingRun_ < full) {
            fit.first = {leadingRun_, size};
        } else if (sizes_[full] != remainder) {
            fit.first = {full, remainder};
        } else {
            fit.first = {*std::upper_bound(nonEmpty_.begin(), nonEmpty_.end(), full), 0};
        }
        return fit;
    }

private:
    // How many of the parts [from, to) hold `value` bytes.
    std::size_t CountIn(std::uint64_t value, std::size_t from, std::size_t to) const {
        if (from >= to) return 0;
        const auto begin = std::lower_bound(byValue_.begin(), byValue_.end(), Entry{value, from});
        const auto end = std::lower_bound(begin, byValue_.end(), Entry{value, to});
        return static_cast<std::size_t>(end - begin);
    }

    using Entry = std::pair<std::uint64_t, std::size_t>;  // a size and its part
    const std::vector<std::uint64_t>& sizes_;
    std::vector<Entry> byValue_;         // sorted by size, then part
    std::vector<std::size_t> nonEmpty_;  // the parts that hold bytes, in order
    std::size_t leadingRun_ = 0;         // the first part whose size differs from the first's
};

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
    const SizeIndex index(sizes);

    Fit best = index.FitTo(total);
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
        const Fit fit = index.FitTo(length);
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
