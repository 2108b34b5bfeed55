#include "engine/split.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "engine/background_sync.h"
#include "engine/checksum.h"
#include "engine/join_script.h"
#include "engine/part_count.h"
#include "engine/plan.h"
#include "engine/progress_copier.h"
#include "engine/recovery/layout.h"
#include "engine/recovery/writer.h"
#include "engine/run_hashes.h"
#include "engine/temporary_file.h"
#include "engine/work_progress.h"
#include "files/failure.h"
#include "files/script_encoding.h"

namespace splitter {
namespace {

// "data.bin has 5000 bytes: parts of 10 bytes would make 500 parts; a split makes 2 to 999."
std::string BadPartCountText(const std::string& title, std::uint64_t length,
                             std::uint64_t partSize) {
    const std::uint64_t count = SizedPartCount(length, partSize);
    return ShownName(title) + " has " + std::to_string(length) + " bytes: parts of " +
           std::to_string(partSize) + " bytes would make " + std::to_string(count) +
           (count == 1 ? " part" : " parts") + "; a split makes " + std::to_string(kMinParts) +
           " to " + std::to_string(kMaxParts) + ".";
}

class SplitRun {
public:
    SplitRun(const SplitPlan& plan, std::string path, std::string title, SplitHost& host,
             const SplitOptions& options, FileSystem& files)
        : plan_(plan),
          options_(options),
          path_(std::move(path)),
          title_(std::move(title)),
          host_(host),
          files_(files) {}

    SplitResult Go() {
        host_.SetStatus(kSplittingText);
        source_ = files_.OpenRead(path_);
        length_ = source_->Length();
        const FileStamp stamp = source_->Stamp();
        std::vector<std::uint64_t> sizes;
        if (plan_.partSize == 0) {
            if (static_cast<std::uint64_t>(plan_.parts) > length_) {
                host_.SetStatus(kUnableText);
                return SplitResult::kUnableToSplit;
            }
            sizes = PlanPartSizes(length_, plan_.parts);
        } else {
            const std::uint64_t count = SizedPartCount(length_, plan_.partSize);
            if (count < kMinParts || count > kMaxParts) {
                source_.reset();
                host_.ReportError(BadPartCountText(title_, length_, plan_.partSize));
                return SplitResult::kBadPartCount;
            }
            sizes = PlanSizedParts(length_, plan_.partSize);
        }
        const int parts = static_cast<int>(sizes.size());
        // Everything the script needs is known now: refuse a name it cannot carry before any
        // file is written.
        const ScriptBytes script = CommandScriptBytes(JoinScriptText(title_, parts), title_);
        for (int k = 0; k < parts; ++k) CheckOutput(path_ + "." + std::to_string(k));
        const bool checksumCanExist = CheckScriptAndChecksum();

        const std::string folder = FolderOf(path_);
        const std::string fileTitle = FileTitleOf(path_);
        // Sets of an earlier split of this file's parts go, whatever their names: their volumes
        // would be read against the new parts. Anyone else's set stays, and a split that would
        // write over one of its files is refused.
        const SetFiles sets = FindSetFiles(folder, fileTitle, files_);
        if (options_.recoveryPercent > 0) {
            const RecoveryPlan recovery = PlanRecovery(sizes, options_.recoveryPercent);
            if (!CheckSetNames(sets, RecoveryFileTitles(fileTitle, recovery.count))) {
                source_.reset();
                return SplitResult::kRefused;
            }
        }

        // The script and checksum file of an earlier split go before any part is touched: a
        // run that stops half way must leave no script that lists parts of two versions.
        RemoveEarlier(JoinScriptPath(path_));
        if (checksumCanExist) RemoveEarlier(ChecksumPath(path_));
        for (const std::string& name : sets.ours) files_.Remove(folder + name);
        std::vector<std::string> partTitles;
        for (int k = 0; k < parts; ++k) partTitles.push_back(PartTitle(fileTitle, k));
        // The recovery set is worked out from the source beside the copy, when it can be.
        std::unique_ptr<EarlyRecoverySet> early;
        if (options_.recoveryPercent > 0 && EarlyRecoverySet::Fits(sizes, options_.recoveryPercent))
            early = std::make_unique<EarlyRecoverySet>(
                partTitles, sizes, options_.recoveryPercent, [&](std::size_t k) {
                    auto file = files_.OpenRead(path_);
                    std::uint64_t at = 0;
                    for (std::size_t before = 0; before < k; ++before) at += sizes[before];
                    file->SkipHole(at);
                    return file;
                });
        std::atomic<std::uint64_t> made{0};
        std::atomic<bool> stop{false};
        std::future<void> making;
        if (early) making = std::async(std::launch::async, [&] { early->Make(made, stop); });
        // A copy that fails stops the set's making before it goes.
        const auto stopMaking = [&] {
            stop = true;
            if (making.valid()) making.wait();
        };
        std::string checksums;
        try {
            ProgressCopier copier(length_, "Splitting", host_,
                                  options_.checksum ? Hashing::kPartsAndWhole : Hashing::kNone);
            // Each part on the disk before anything that points at it takes its name (the
            // checksum file, the recovery set, the script), flushed while the next ones are
            // copied.
            BackgroundSync synced;
            for (int k = 0; k < parts; ++k) {
                auto part = files_.Create(path_ + "." + std::to_string(k), source_.get());
                const auto digest =
                    copier.CopyPart(*source_, *part, sizes[static_cast<std::size_t>(k)]);
                synced.Add(std::move(part));
                if (digest) checksums += ChecksumLine(*digest, PartTitle(title_, k));
            }
            synced.Finish();
            if (options_.checksum) checksums += ChecksumLine(copier.WholeDigest(), title_);
        } catch (...) {
            stopMaking();
            throw;
        }
        if (making.valid()) {
            WorkProgress progress("Making recovery volumes", early->Total(), host_);
            std::uint64_t shown = 0;
            while (making.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
                const std::uint64_t now = made;
                progress.Add(now - shown);
                shown = now;
            }
            making.get();
            progress.Add(early->Total() - shown);
        }
        // Parts of a file that changed under the run are of no version of it: no script.
        if (source_->Stamp() != stamp || stamp.length != length_)
            throw Failure(kDeviceIoError,
                          "File changed during the split (" + ShownName(title_) + ")");

        if (options_.checksum) WriteWhole(ChecksumPath(path_), checksums, "sha256");
        std::optional<RecoveryPlan> recovery;
        if (options_.recoveryPercent > 0) {
            // Checked again: a link planted during the run is refused here too.
            for (const std::string& name :
                 RecoveryFileTitles(fileTitle, PlanRecovery(sizes, options_.recoveryPercent).count))
                CheckOutput(folder + name);
            recovery =
                early ? early->Write(folder, fileTitle, source_->Permissions(), files_)
                      : WriteRecoverySet(folder, fileTitle, partTitles, options_.recoveryPercent,
                                         source_->Permissions(), host_, files_);
        }
        // The script last: it names what is there.
        WriteWhole(JoinScriptPath(path_), script.bytes, "script");
        source_.reset();
        host_.SetStatus(kDoneText);
        if (recovery) host_.Note(RebuildsText(*recovery, parts));
        if (script.unspelledIn != 0) host_.Warn(UnspelledText(script.unspelledIn));
        return SplitResult::kDone;
    }

    // A stream's length is known only at its end: it is cut into parts of plan_.partSize as it
    // comes, each name checked just before its part is made, and what needs the count (the
    // script, the set) follows the last part. One part is enough: a backup need not be large.
    SplitResult GoStream(std::unique_ptr<ReadableFile> input) {
        host_.SetStatus(kSplittingText);
        source_ = std::move(input);
        const std::uint64_t partSize = plan_.partSize;
        // The name is refused now when no script could carry it, whatever the count; so is one
        // too long for the last part a stream may have.
        CommandScriptBytes(JoinScriptText(title_, kMaxParts), title_);
        const std::string longest = path_ + "." + std::to_string(kMaxParts - 1);
        if (const auto limit = files_.NameLimit(longest))
            throw Failure(kBadFileName, *limit + " (" + ShownName(FileTitleOf(longest)) + ")");
        const bool checksumCanExist = CheckScriptAndChecksum();
        const std::string folder = FolderOf(path_);
        const std::string fileTitle = FileTitleOf(path_);
        const SetFiles sets = FindSetFiles(folder, fileTitle, files_);
        // The set's count is not known yet, its index's name is.
        if (options_.recoveryPercent > 0 && !CheckSetNames(sets, {RecoveryIndexTitle(fileTitle)}))
            return SplitResult::kRefused;

        RemoveEarlier(JoinScriptPath(path_));
        if (checksumCanExist) RemoveEarlier(ChecksumPath(path_));
        for (const std::string& name : sets.ours) files_.Remove(folder + name);
        std::unique_ptr<RunHashes> hashes;
        if (options_.checksum) hashes = std::make_unique<RunHashes>(/*parts=*/true);
        // Without hashing, blocks as large as a pipe holds at most.
        std::vector<char> own(hashes ? 0 : std::size_t{1} << 20);
        const std::size_t block = hashes ? RunHashes::kBufferSize : own.size();
        const auto next = [&](std::uint64_t room, std::size_t& wanted) {
            char* buffer = hashes ? hashes->Buffer() : own.data();
            wanted = static_cast<std::size_t>(std::min<std::uint64_t>(room, block));
            return std::make_pair(buffer, ReadFull(*source_, buffer, wanted));
        };
        std::vector<std::uint64_t> sizes;
        std::string checksums;
        std::future<void> closing;
        for (bool end = false; !end;) {
            // A part's first bytes come before its file: a stream that ends at a part's edge
            // makes no empty part after it.
            std::size_t wanted = 0;
            auto [buffer, got] = next(partSize, wanted);
            if (got == 0 && !sizes.empty()) break;
            if (sizes.size() == static_cast<std::size_t>(kMaxParts)) {
                host_.ReportError(ShownName(PartTitle(title_, kMaxParts - 1)) +
                                  " is written and the stream goes on: it holds more than " +
                                  std::to_string(kMaxParts) + " parts of " +
                                  std::to_string(partSize) +
                                  " bytes, the most a split makes. No join script was written; "
                                  "a larger --size makes fewer parts.");
                return SplitResult::kFailed;
            }
            const std::string partPath = path_ + "." + std::to_string(sizes.size());
            CheckOutput(partPath);
            auto part = files_.Create(partPath, source_.get());
            std::uint64_t size = 0;
            while (true) {
                if (hashes) hashes->Update(buffer, got);
                part->Write(buffer, got);
                size += got;
                host_.Yield();
                if (got < wanted) end = true;
                if (end || size == partSize) break;
                std::tie(buffer, got) = next(partSize - size, wanted);
            }
            // On the disk before the script names it; the stream reads on meanwhile, with one
            // part at most on its way, whose failure ends the run here or after the loop.
            if (closing.valid()) closing.get();
            closing = std::async(std::launch::async, [file = std::move(part)] {
                file->Sync();
                file->Close();
            });
            if (hashes)
                checksums += ChecksumLine(hashes->FinishPart(),
                                          PartTitle(title_, static_cast<int>(sizes.size())));
            sizes.push_back(size);
        }

        closing.get();
        const int parts = static_cast<int>(sizes.size());
        const ScriptBytes script = CommandScriptBytes(JoinScriptText(title_, parts), title_);
        if (hashes) {
            checksums += ChecksumLine(hashes->Whole(), title_);
            WriteWhole(ChecksumPath(path_), checksums, "sha256");
        }
        std::optional<RecoveryPlan> recovery;
        if (options_.recoveryPercent > 0) {
            std::vector<std::string> partTitles;
            for (int k = 0; k < parts; ++k) partTitles.push_back(PartTitle(fileTitle, k));
            if (!CheckSetNames(
                    sets, RecoveryFileTitles(fileTitle,
                                             PlanRecovery(sizes, options_.recoveryPercent).count)))
                return SplitResult::kFailed;  // the parts are written: no refusal any more
            recovery = WriteRecoverySet(folder, fileTitle, partTitles, options_.recoveryPercent,
                                        source_->Permissions(), host_, files_);
        }
        WriteWhole(JoinScriptPath(path_), script.bytes, "script");
        host_.SetStatus(kDoneText);
        if (recovery) host_.Note(RebuildsText(*recovery, parts));
        if (script.unspelledIn != 0) host_.Warn(UnspelledText(script.unspelledIn));
        return SplitResult::kDone;
    }

private:
    // Whether the set's files `names` may be written: none of them is another's (par2's own of
    // the whole file), which the split would replace, and none a link. Says why not.
    bool CheckSetNames(const SetFiles& sets, const std::vector<std::string>& names) {
        const std::string folder = FolderOf(path_);
        for (const std::string& name : names) {
            if (std::find(sets.others.begin(), sets.others.end(), name) != sets.others.end()) {
                host_.ReportError(
                    ShownName(name) +
                    " is not a recovery volume of this split's parts (it "
                    "may be par2's own, of the whole file): a split with --recovery would "
                    "replace it. Move it away, or split without --recovery.");
                return false;
            }
            CheckOutput(folder + name);
        }
        return true;
    }

    // The script and the checksum file appear whole or not at all, in place of any file of that
    // name (a cut `copy` line would make cmd append parts into the first part and say it copied
    // them).
    void WriteWhole(const std::string& path, const std::string& bytes, const char* kind) {
        // The name is given to the new file, never written through; what it names now is
        // checked again, for a link put there during the run.
        CheckOutput(path);
        TemporaryFile file(files_, path, kind, source_->Permissions());
        file.file().Write(bytes.data(), bytes.size());
        file.Finish();
        file.Rename(/*replace=*/true);
    }

    // "data.bin.par2 and its volumes rebuild any 2 of the 8 parts (77 recovery slices)."
    std::string RebuildsText(const RecoveryPlan& plan, int parts) const {
        const std::string what =
            ShownName(RecoveryIndexTitle(FileTitleOf(path_))) + " and its volumes rebuild ";
        const std::string slices = std::to_string(plan.count) +
                                   (plan.count == 1 ? " recovery slice" : " recovery slices") +
                                   " of " + std::to_string(plan.sliceSize) + " bytes";
        if (plan.rebuildsParts == 0)
            return what + "damaged slices of the parts, but no whole part (" + slices + ").";
        return what + "any " + std::to_string(plan.rebuildsParts) + " of the " +
               std::to_string(parts) + " parts (" + slices + ").";
    }

    // The parts are fine, and splitter-cli join reads the script (on Linux and on Windows);
    // cmd would not find them.
    std::string UnspelledText(int codePage) const {
        return "Warning: cmd on Windows reads join scripts in code page " +
               std::to_string(codePage) + " here, which cannot spell " + ShownName(title_) + ": " +
               ShownName(FileTitleOf(JoinScriptPath(path_))) +
               " names the parts in UTF-8, and cmd will not find them. splitter-cli join (on "
               "Linux or Windows) joins them; or rename the file with letters of code page " +
               std::to_string(codePage) + " and split again.";
    }

    const SplitPlan plan_;
    const SplitOptions options_;

    // Refuses, before anything is written, an output name that is a link (it would lead the
    // run out of the folder, or onto a file nobody meant), that names something other than a
    // file, or that is the source by another name. Create refuses them all again, for what
    // appears while the run goes on.
    void CheckOutput(const std::string& path) {
        if (const auto limit = files_.NameLimit(path))
            throw Failure(kBadFileName, *limit + " (" + ShownName(FileTitleOf(path)) + ")");
        if (!files_.IsLink(path)) {
            const auto status = files_.Status(path);
            if (!status || (status->regular && status->id != source_->Id())) return;
        }
        throw Failure::Of(kPathFileAccessError, FileTitleOf(path));
    }

    // Refuses, before anything is written, a script or checksum file that the run could not
    // write; says whether a checksum file can be there at all (without --checksum it is only
    // looked at, to be removed: a name that cannot exist holds no file).
    bool CheckScriptAndChecksum() {
        CheckOutput(JoinScriptPath(path_));
        if (options_.checksum) CheckOutput(ChecksumPath(path_));
        // As a name that no file can have (CheckOutput): that of a temporary file too.
        CheckTemporary(JoinScriptPath(path_), "script");
        if (options_.checksum) CheckTemporary(ChecksumPath(path_), "sha256");
        return !files_.NameLimit(ChecksumPath(path_));
    }

    // Refuses an output whose temporary file could not lie beside it.
    void CheckTemporary(const std::string& path, const char* kind) {
        if (const auto limit = TemporaryFile::NameLimit(files_, path, kind))
            throw Failure(kBadFileName, *limit + " (" + ShownName(FileTitleOf(path)) + ")");
    }

    // Removes the file at path, or a link of that name; leaves anything else, which no join
    // reads as a script or checksum file.
    void RemoveEarlier(const std::string& path) {
        const auto status = files_.Status(path);
        if ((status && status->regular) || files_.IsLink(path)) files_.Remove(path);
    }

    const std::string path_;
    const std::string title_;
    SplitHost& host_;
    FileSystem& files_;

    std::unique_ptr<ReadableFile> source_;
    std::uint64_t length_ = 0;
};

}  // namespace

SplitResult SplitFile(const std::string& path, const std::string& title, const SplitPlan& plan,
                      SplitHost& host, const SplitOptions& options, FileSystem& files) {
    // The run's error trap: any failure ends the run here, with every file it opened closed.
    try {
        return SplitRun(plan, path, title, host, options, files).Go();
    } catch (...) {
        host.ReportError(CurrentFailure().Message());
    }
    return SplitResult::kFailed;
}

SplitResult SplitStream(std::unique_ptr<ReadableFile> input, const std::string& path,
                        std::uint64_t partSize, SplitHost& host, const SplitOptions& options,
                        FileSystem& files) {
    // The same trap as SplitFile's.
    try {
        return SplitRun(SplitPlan::Size(partSize), path, FileTitleOf(path), host, options, files)
            .GoStream(std::move(input));
    } catch (...) {
        host.ReportError(CurrentFailure().Message());
    }
    return SplitResult::kFailed;
}

}  // namespace splitter
