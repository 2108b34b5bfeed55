#include "engine/split.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "engine/join_script.h"
#include "engine/plan.h"
#include "platform/failure.h"
#include "platform/script_encoding.h"

namespace splitter {
namespace {

// Bytes copied between two looks at the clock and the next progress point. Large enough that
// the kernel copy runs at full speed, small enough that the window is never kept waiting long.
constexpr std::uint64_t kMaxBlock = std::uint64_t{4} << 20;
constexpr std::uint64_t kAlignment = std::uint64_t{64} << 10;  // divides kMaxBlock
constexpr auto kYieldInterval = std::chrono::milliseconds(100);

class SplitRun {
public:
    SplitRun(std::int16_t parts, std::string path, std::string title, SplitHost& host,
             FileSystem& files)
        : parts_(parts),
          path_(std::move(path)),
          title_(std::move(title)),
          host_(host),
          files_(files) {}

    SplitResult Go() {
        host_.SetStatus(kSplittingText);
        source_ = files_.OpenRead(path_);
        length_ = source_->Length();
        if (static_cast<std::uint64_t>(parts_) > length_) {
            host_.SetStatus(kUnableText);
            source_.reset();
            host_.FocusPartCount();
            return SplitResult::kUnableToSplit;
        }
        // Everything the script needs is known now: refuse a name it cannot carry before any
        // file is written.
        const std::string script = CommandScriptBytes(JoinScriptText(title_, parts_), title_);

        const std::vector<std::uint64_t> sizes = PlanPartSizes(length_, parts_);
        progress_ = ProgressPlan(length_);
        nextStep_ = progress_.NextStep(0, lastShown_);
        lastYield_ = std::chrono::steady_clock::now();
        for (int k = 0; k < parts_; ++k) {
            auto part = files_.Create(path_ + "." + std::to_string(k), source_.get());
            CopyPart(*part, sizes[static_cast<std::size_t>(k)]);
            part->Close();
        }

        auto scriptFile = files_.Create(JoinScriptPath(path_), source_.get());
        scriptFile->Write(script.data(), script.size());
        scriptFile->Close();
        source_.reset();
        host_.SetStatus(kDoneText);
        return SplitResult::kDone;
    }

private:
    // Copies `size` bytes in blocks that end exactly at the bytes after which the percentage
    // changes, so the status texts appear at the same points as with a byte-by-byte copy.
    void CopyPart(WritableFile& part, std::uint64_t size) {
        const std::uint64_t end = offset_ + size;
        while (offset_ < end) {
            if (nextStep_.offset < offset_) nextStep_ = progress_.NextStep(offset_, lastShown_);
            const std::uint64_t stepEnd = nextStep_.offset + 1;  // copy through the step's byte
            // A block that starts between two alignment boundaries (after a progress point)
            // stops at the next one, so that the blocks after it are aligned: the kernel copies
            // aligned ranges a third faster.
            std::uint64_t blockEnd = std::min({end, stepEnd, offset_ + kMaxBlock});
            if (offset_ % kAlignment != 0)
                blockEnd = std::min(blockEnd, (offset_ / kAlignment + 1) * kAlignment);
            part.CopyFrom(*source_, blockEnd - offset_);
            offset_ = blockEnd;
            if (blockEnd == stepEnd) {
                lastShown_ = nextStep_.percent;
                Yield();
                host_.SetStatus(ProgressText(lastShown_));
            } else if (std::chrono::steady_clock::now() - lastYield_ >= kYieldInterval) {
                Yield();
            }
        }
    }

    void Yield() {
        host_.Yield();
        lastYield_ = std::chrono::steady_clock::now();
    }

    const std::int16_t parts_;
    const std::string path_;
    const std::string title_;
    SplitHost& host_;
    FileSystem& files_;

    std::unique_ptr<ReadableFile> source_;
    std::uint64_t length_ = 0;
    std::uint64_t offset_ = 0;  // of the next byte to copy
    int lastShown_ = 0;
    ProgressPlan progress_{0};
    ProgressStep nextStep_{0, 0};
    std::chrono::steady_clock::time_point lastYield_;
};

}  // namespace

SplitResult SplitFile(std::int16_t iNoOfParts, const std::string& sFilePath,
                      const std::string& sFileTitle, SplitHost& host, FileSystem& files) {
    // The run's error trap: any failure ends the run here, with every file it opened closed.
    try {
        return SplitRun(iNoOfParts, sFilePath, sFileTitle, host, files).Go();
    } catch (...) {
        host.ReportError(CurrentFailure().Message());
    }
    return SplitResult::kFailed;
}

}  // namespace splitter
