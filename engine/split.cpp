#include "engine/split.h"

#include <memory>
#include <vector>

#include "engine/join_script.h"
#include "engine/plan.h"
#include "engine/progress_copier.h"
#include "files/failure.h"
#include "files/script_encoding.h"

namespace splitter {
namespace {

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
        for (int k = 0; k < parts_; ++k) CheckOutput(path_ + "." + std::to_string(k));
        CheckOutput(JoinScriptPath(path_));

        const std::vector<std::uint64_t> sizes = PlanPartSizes(length_, parts_);
        ProgressCopier copier(length_, "Splitting", host_);
        for (int k = 0; k < parts_; ++k) {
            auto part = files_.Create(path_ + "." + std::to_string(k), source_.get());
            copier.CopyPart(*source_, *part, sizes[static_cast<std::size_t>(k)]);
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
    // Refuses, before anything is written, an output name that is a link (it would lead the
    // run out of the folder, or onto a file nobody meant), that names something other than a
    // file, or that is the source by another name. Create refuses them all again, for what
    // appears while the run goes on.
    void CheckOutput(const std::string& path) {
        if (!files_.IsLink(path)) {
            const auto status = files_.Status(path);
            if (!status || (status->regular && status->id != source_->Id())) return;
        }
        throw Failure::Of(kPathFileAccessError, FileTitleOf(path));
    }

    const std::int16_t parts_;
    const std::string path_;
    const std::string title_;
    SplitHost& host_;
    FileSystem& files_;

    std::unique_ptr<ReadableFile> source_;
    std::uint64_t length_ = 0;
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
