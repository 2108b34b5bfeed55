#include "engine/progress_copier.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "engine/run_hashes.h"
#include "files/failure.h"

namespace splitter {
namespace {

// Bytes copied between two looks at the clock and the next progress point. Large enough that
// the kernel copy runs at full speed, small enough that the window is never kept waiting long.
constexpr std::uint64_t kMaxBlock = std::uint64_t{4} << 20;
// Blocks aligned to this in the part copy fastest: the page cache holds large files in folios
// of up to 64 KiB and more.
constexpr std::uint64_t kAlignment = std::uint64_t{64} << 10;  // divides kMaxBlock
// The block size of copy-on-write file systems on the usual machines; divides kAlignment.
constexpr std::uint64_t kFileSystemBlock = 4096;
constexpr auto kYieldInterval = std::chrono::milliseconds(100);

}  // namespace

std::string ProgressText(std::string_view verb, int percent) {
    return std::string(verb) + "... [ " + std::to_string(percent) + " % Completed. ]";
}

std::optional<int> ProgressPercent(std::string_view text) {
    constexpr std::string_view kOpen = "... [ ";
    constexpr std::string_view kClose = " % Completed. ]";
    const std::size_t open = text.find(kOpen);
    if (open == std::string_view::npos || !text.ends_with(kClose)) return std::nullopt;
    const std::string_view digits =
        text.substr(open + kOpen.size(), text.size() - kClose.size() - open - kOpen.size());
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return std::stoi(std::string(digits));
}

std::string RateAndTimeLeft(int percent, std::uint64_t total, double seconds) {
    if (percent <= 0 || seconds < 1) return {};
    std::string text = "  ";
    if (total > 0) {
        double rate = static_cast<double>(total) * percent / 100 / seconds;
        const char* unit = "B/s";
        for (const char* larger : {"kB/s", "MB/s", "GB/s"}) {
            if (rate < 1000) break;
            rate /= 1000;
            unit = larger;
        }
        char shown[32];
        std::snprintf(shown, sizeof shown, "%.1f %s, ", rate, unit);
        text += shown;
    }
    const auto left = static_cast<long long>(seconds * (100 - percent) / percent + 0.5);
    char shown[48];
    if (left >= 3600)
        std::snprintf(shown, sizeof shown, "%lld:%02lld:%02lld left", left / 3600, left / 60 % 60,
                      left % 60);
    else
        std::snprintf(shown, sizeof shown, "%lld:%02lld left", left / 60, left % 60);
    return text + shown;
}

ProgressCopier::ProgressCopier(std::uint64_t total, std::string_view verb, RunHost& host,
                               Hashing hashing)
    : plan_(total),
      verb_(verb),
      host_(host),
      next_(plan_.NextStep(0, lastShown_)),
      lastYield_(std::chrono::steady_clock::now()),
      partDigests_(hashing == Hashing::kPartsAndWhole) {
    if (hashing != Hashing::kNone) hashes_ = std::make_unique<RunHashes>(partDigests_);
}

ProgressCopier::~ProgressCopier() = default;

std::optional<Sha256Digest> ProgressCopier::CopyPart(ReadableFile& from, WritableFile& to,
                                                     std::uint64_t size) {
    const std::uint64_t start = offset_;
    const std::uint64_t end = offset_ + size;
    while (offset_ < end) {
        if (next_.offset < offset_) next_ = plan_.NextStep(offset_, lastShown_);
        const std::uint64_t stepEnd = next_.offset + 1;  // copy through the step's byte
        std::uint64_t blockEnd = std::min({end, stepEnd, offset_ + kMaxBlock});
        // Back into step after a progress point: first to the next file-system block, so that
        // a copy-on-write file system shares all but one, then to the next 64 KiB.
        if (const std::uint64_t into = offset_ - start; into % kAlignment != 0) {
            const std::uint64_t step = into % kFileSystemBlock != 0 ? kFileSystemBlock : kAlignment;
            blockEnd = std::min(blockEnd, start + (into / step + 1) * step);
        }
        CopyStretches(from, to, blockEnd - offset_);
        offset_ = blockEnd;
        if (blockEnd == stepEnd) {
            lastShown_ = next_.percent;
            Yield();
            host_.SetStatus(ProgressText(verb_, lastShown_));
        } else if (std::chrono::steady_clock::now() - lastYield_ >= kYieldInterval) {
            Yield();
        }
    }
    if (!partDigests_) return std::nullopt;
    return hashes_->FinishPart();
}

Sha256Digest ProgressCopier::WholeDigest() {
    return hashes_->Whole();
}

void ProgressCopier::CopyStretches(ReadableFile& from, WritableFile& to, std::uint64_t n) {
    while (n > 0) {
        const Stretch ahead = from.Ahead();
        const std::uint64_t length = std::min(n, ahead.length);
        if (ahead.hole) {
            SkipHole(from, to, length);
        } else {
            CopyBlock(from, to, length);
        }
        n -= length;
    }
}

void ProgressCopier::SkipHole(ReadableFile& from, WritableFile& to, std::uint64_t n) {
    from.SkipHole(n);
    to.WriteHole(n);
    if (!hashes_) return;
    // The digests are those of the zeros that a reader of the file (sha256sum) gets.
    static const std::array<char, RunHashes::kBufferSize> zeros{};
    while (n > 0) {
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(n, zeros.size()));
        hashes_->Update(zeros.data(), chunk);
        n -= chunk;
    }
}

void ProgressCopier::CopyBlock(ReadableFile& from, WritableFile& to, std::uint64_t n) {
    if (!hashes_) {
        to.CopyFrom(from, n);
        return;
    }
    while (n > 0) {
        char* buffer = hashes_->Buffer();
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(n, RunHashes::kBufferSize));
        const std::size_t got = from.Read(buffer, want);
        if (got == 0) throw Failure::Of(kDeviceIoError, from.Name());
        hashes_->Update(buffer, got);
        to.Write(buffer, got);
        n -= got;
    }
}

void ProgressCopier::Yield() {
    host_.Yield();
    lastYield_ = std::chrono::steady_clock::now();
}

}  // namespace splitter
