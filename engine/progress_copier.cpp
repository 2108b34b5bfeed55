#include "engine/progress_copier.h"

#include <algorithm>

namespace splitter {
namespace {

// Bytes copied between two looks at the clock and the next progress point. Large enough that
// the kernel copy runs at full speed, small enough that the window is never kept waiting long.
constexpr std::uint64_t kMaxBlock = std::uint64_t{4} << 20;
constexpr std::uint64_t kAlignment = std::uint64_t{64} << 10;  // divides kMaxBlock
constexpr auto kYieldInterval = std::chrono::milliseconds(100);

}  // namespace

std::string ProgressText(std::string_view verb, int percent) {
    return std::string(verb) + "... [ " + std::to_string(percent) + " % Completed. ]";
}

ProgressCopier::ProgressCopier(std::uint64_t total, std::string_view verb, RunHost& host)
    : plan_(total),
      verb_(verb),
      host_(host),
      next_(plan_.NextStep(0, lastShown_)),
      lastYield_(std::chrono::steady_clock::now()) {}

void ProgressCopier::CopyPart(ReadableFile& from, WritableFile& to, std::uint64_t size) {
    const std::uint64_t start = offset_;
    const std::uint64_t end = offset_ + size;
    while (offset_ < end) {
        if (next_.offset < offset_) next_ = plan_.NextStep(offset_, lastShown_);
        const std::uint64_t stepEnd = next_.offset + 1;  // copy through the step's byte
        std::uint64_t blockEnd = std::min({end, stepEnd, offset_ + kMaxBlock});
        if (const std::uint64_t into = offset_ - start; into % kAlignment != 0)
            blockEnd = std::min(blockEnd, start + (into / kAlignment + 1) * kAlignment);
        to.CopyFrom(from, blockEnd - offset_);
        offset_ = blockEnd;
        if (blockEnd == stepEnd) {
            lastShown_ = next_.percent;
            Yield();
            host_.SetStatus(ProgressText(verb_, lastShown_));
        } else if (std::chrono::steady_clock::now() - lastYield_ >= kYieldInterval) {
            Yield();
        }
    }
}

void ProgressCopier::Yield() {
    host_.Yield();
    lastYield_ = std::chrono::steady_clock::now();
}

}  // namespace splitter
