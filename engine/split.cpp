#include "engine/split.h"

#include <memory>
#include <vector>

#include "engine/join_script.h"
#include "engine/plan.h"
#include "engine/progress_copier.h"
#include "engine/temporary_file.h"
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

        const std::vector<std::uint64_t> sizes = PlanPartSizes(length_, parts_);
        ProgressCopier copier(length_, "Splitting", host_);
        for (int k = 0; k < parts_; ++k) {
            auto part = files_.Create(path_ + "." + std::to_string(k), source_.get());
            copier.CopyPart(*source_, *part, sizes[static_cast<std::size_t>(k)]);
            part->Close();
        }

        WriteScript(script);
        source_.reset();
        host_.SetStatus(kDoneText);
        return SplitResult::kDone;
    }

private:
    // The script appears whole or not at all, in place of any script of that name (a cut
    // `copy` line would make cmd append parts into the first part and say it copied them).
    void WriteScript(const std::string& bytes) {
        const std::string path = JoinScriptPath(path_);
        // The name is given to the new script, never written through: what it names now may
        // not be the source, nor anything but a file.
        if (const auto status = files_.Status(path);
            status && (status->id == source_->Id() || !status->regular))
            throw Failure::Of(kPathFileAccessError, FileTitleOf(path));
        TemporaryFile script(files_, path, "script");
        script.file().Write(bytes.data(), bytes.size());
        script.Finish();
        script.Rename(/*replace=*/true);
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
