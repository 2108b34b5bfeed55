#include "engine/join.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <set>
#include <string_view>

#include "engine/checksum.h"
#include "engine/join_script.h"
#include "engine/plan.h"
#include "engine/progress_copier.h"
#include "engine/recovery/layout.h"
#include "engine/recovery/repair.h"
#include "engine/run_hashes.h"
#include "engine/temporary_file.h"
#include "engine/work_progress.h"
#include "files/failure.h"

namespace splitter {
namespace {

class JoinRun {
public:
    // What a run makes of the parts: the joined file (or stream), or only their check
    // (check), or their repair (repair).
    enum class Mode { kJoin, kCheck, kRepair };

    JoinRun(const std::string& scriptPath, const JoinOptions& options, RunHost& host,
            FileSystem& files, Mode mode = Mode::kJoin)
        : scriptPath_(scriptPath), options_(options), host_(host), files_(files), mode_(mode) {}

    // With Mode::kCheck: whether the parts are lost or damaged but the set rebuilds them.
    bool repairable() const { return repairable_; }

    JoinResult Go() {
        host_.SetStatus(mode_ == Mode::kJoin ? kJoiningText : kCheckingText);
        list_ = ReadJoinScript(scriptPath_, files_);
        folder_.emplace(scriptPath_, files_);
        for (const std::string& name : list_.parts) {
            if (const auto [entry, first] = looked_.try_emplace(name); first)
                entry->second = folder_->Look(name);
        }
        // Every check before any write: the set's verdict is read first, since the parts it
        // rebuilds need not be there yet, and acted on last.
        PartsRepair repair(*folder_, list_.destination, list_.parts, host_);
        bool repairs = repair.verdict() == PartsRepair::Verdict::kRepairable;
        // The parts the set cannot rebuild either are named with it, below.
        bool tooFew = repair.verdict() == PartsRepair::Verdict::kTooFew;
        if (const auto result = CheckParts(repairs || tooFew ? &repair : nullptr);
            result != JoinResult::kDone)
            return result;
        if (const auto result = ReadChecksums(); result != JoinResult::kDone) return result;
        if (mode_ == Mode::kJoin && options_.stream == nullptr) {
            if (const auto result = CheckDestination(); result != JoinResult::kDone) return result;
        }
        if (options_.streamFile) {
            for (std::size_t k = 0; k < ids_.size(); ++k) {
                if (ids_[k] != *options_.streamFile) continue;
                host_.ReportError("Standard output is one of the parts: " +
                                  ShownName(list_.parts[k]));
                return JoinResult::kRefused;
            }
        }
        // A part that its checksum line calls right is not to be rebuilt: the set is of other
        // bytes (an earlier split's volumes beside new parts).
        if (repairs || tooFew) {
            if (const auto right = RightByChecksum(repair.damaged())) {
                host_.Note("The recovery volumes of " + ShownName(list_.destination + ".par2") +
                           " are not used (" + ShownName(*right) +
                           " matches its SHA-256 but not the volumes): the parts are joined as "
                           "they are");
                if (const auto result = CheckParts(nullptr); result != JoinResult::kDone)
                    return result;
                repairs = tooFew = false;
            }
        }
        if (tooFew) {
            host_.ReportError(repair.problem());
            return JoinResult::kCannotRepair;
        }
        if (repairs && mode_ == Mode::kCheck) {
            host_.Note(ListedParts(repair.damaged()) +
                       (repair.damaged().size() == 1 ? " is" : " are") +
                       " missing or damaged; the recovery volumes of " +
                       ShownName(RecoveryIndexTitle(list_.destination)) + " can rebuild " +
                       (repair.damaged().size() == 1 ? "it" : "them"));
            repairable_ = true;
            return JoinResult::kDone;
        }
        if (repairs) {
            permissions_ &= repair.permissions();
            repaired_ = true;
            for (const RebuiltPart& part : repair.Rebuild(permissions_))
                looked_[part.part] = folder_->Look(part.part);
            if (const auto result = CheckParts(nullptr); result != JoinResult::kDone) return result;
        }
        if (mode_ != Mode::kJoin) {
            // What the set checked, or rebuilt and checked, needs no other read.
            if (repair.verdict() == PartsRepair::Verdict::kNoSet) {
                if (const auto result = CheckByChecksums(); result != JoinResult::kDone)
                    return result;
            }
            host_.Note(list_.parts.size() == 1
                           ? "The part of " + ShownName(list_.destination) + " is intact"
                           : "The " + std::to_string(list_.parts.size()) + " parts of " +
                                 ShownName(list_.destination) + " are intact");
            return JoinResult::kDone;
        }

        // The destination's bytes go to a new file beside it, which takes its name once whole
        // and on the disk: a power loss cannot leave the name on bytes that never got there.
        std::optional<TemporaryFile> temporary;
        if (options_.stream == nullptr)
            temporary.emplace(files_, DestinationPath(), "join", permissions_);
        WritableFile& out = temporary ? temporary->file() : *options_.stream;
        // With a line for the whole file, the copy hashes only the whole, one hash pass; the
        // parts are hashed again only when it differs, to name the part that changed.
        const Hashing hashing = !checksums_         ? Hashing::kNone
                                : checksums_->whole ? Hashing::kWhole
                                                    : Hashing::kPartsAndWhole;
        ProgressCopier copier(total_, "Joining", host_, hashing);
        for (std::size_t k = 0; k < list_.parts.size(); ++k) {
            auto part = files_.OpenRead(folder_->PathOf(list_.parts[k]));
            // Another file under the name (a link put there since the check) is caught here.
            if (part->Length() != sizes_[k] || part->Id() != ids_[k])
                throw Failure(kDeviceIoError,
                              "Part changed during the join (" + ShownName(part->Name()) + ")");
            // Sent bytes cannot be taken back: a part is checked before it goes.
            if (options_.stream != nullptr && checksums_ && checksums_->parts[k] &&
                HashOf(list_.parts[k]) != *checksums_->parts[k])
                return Mismatch("Part " + ShownName(list_.parts[k]), "it changed since the split");
            const auto digest = copier.CopyPart(*part, out, sizes_[k]);
            if (digest && checksums_->parts[k] && digest != checksums_->parts[k])
                return Mismatch("Part " + ShownName(list_.parts[k]), "it changed since the split");
        }
        if (checksums_ && checksums_->whole && copier.WholeDigest() != checksums_->whole) {
            if (const auto changed = ChangedParts(); !changed.empty()) {
                std::string names;
                for (std::size_t i = 0; i < changed.size(); ++i)
                    names += (i == 0                    ? ""
                              : i + 1 == changed.size() ? " and "
                                                        : ", ") +
                             ShownName(changed[i]);
                if (changed.size() == 1)
                    return Mismatch("Part " + names, "it changed since the split");
                host_.ReportError("Parts " + names + " do not match their SHA-256 in " +
                                  ShownName(checksums_->fileName) +
                                  ": they changed since the split");
                return JoinResult::kChecksumMismatch;
            }
            return Mismatch("The joined file " + ShownName(list_.destination),
                            "the parts are not those of the split, or not in its order");
        }
        if (!temporary) {
            options_.stream->Close();
            host_.SetStatus(kDoneText);
            return JoinResult::kDone;
        }
        temporary->Finish();
        const auto written = files_.Status(temporary->path());
        if (!written || written->length != total_)
            throw Failure(kDeviceIoError, "Joined file is not the size of its parts (" +
                                              ShownName(list_.destination) + ")");
        temporary->Rename(options_.force);
        host_.SetStatus(kDoneText);
        return JoinResult::kDone;
    }

    // Whether the repair may have written parts: what comes after is no refusal with nothing
    // written.
    bool repaired() const { return repaired_; }

private:
    // Every part is there, is a regular file and lies in the script's folder, and their sizes
    // fit a split. Each name was looked at once, however often the script lists it. The parts
    // that `repair` is to rebuild count as the set describes them.
    JoinResult CheckParts(const PartsRepair* repair) {
        sizes_.clear();
        ids_.clear();
        total_ = 0;
        const auto rebuilt = [&](const std::string& name) -> std::optional<std::uint64_t> {
            if (repair == nullptr) return std::nullopt;
            const auto& damaged = repair->damaged();
            if (std::find(damaged.begin(), damaged.end(), name) == damaged.end())
                return std::nullopt;
            return repair->LengthOf(name);
        };
        std::set<std::string_view> told;
        bool missing = false;
        bool outside = false;
        for (const std::string& name : list_.parts) {
            const ScriptFolder::Entry& part = looked_.at(name);
            if (const auto length = rebuilt(name)) {
                sizes_.push_back(*length);
                ids_.push_back(part.where == ScriptFolder::Where::kInside ? part.status.id
                                                                          : FileId{});
            } else if (part.where == ScriptFolder::Where::kInside && part.status.regular) {
                sizes_.push_back(part.status.length);
                ids_.push_back(part.status.id);
                permissions_ &= part.status.permissions;
            } else if (told.insert(name).second) {
                if (part.where == ScriptFolder::Where::kOutside) {
                    host_.ReportError("Part is a link out of the script's folder: " +
                                      ShownName(name));
                    outside = true;
                } else {
                    host_.ReportError((part.where == ScriptFolder::Where::kNothing
                                           ? "Missing part: "
                                           : "Part is not a regular file: ") +
                                      ShownName(name));
                    missing = true;
                }
            }
        }
        if (outside) return JoinResult::kRefused;
        if (missing) return JoinResult::kMissingParts;
        // No file holds more than 2^63 - 1 bytes (a signed 64-bit offset); summed unchecked,
        // four parts of 2^62 bytes would come to 0 and the copy would never end.
        constexpr std::uint64_t kMaxFile = std::numeric_limits<std::int64_t>::max();
        for (const std::uint64_t size : sizes_) {
            if (size > kMaxFile - total_) {
                host_.ReportError("The parts add up to more bytes than a file can hold (" +
                                  std::to_string(kMaxFile) + ")");
                return JoinResult::kRefused;
            }
            total_ += size;
        }
        if (options_.anySizes) return JoinResult::kDone;
        if (const auto misfit = FindSizeMisfit(sizes_)) {
            host_.ReportError("Part " + ShownName(list_.parts[misfit->part]) + " has " +
                              std::to_string(sizes_[misfit->part]) + " bytes where " +
                              std::to_string(misfit->expected) +
                              " were expected: it was cut short or grown since the split");
            return JoinResult::kSizesDoNotFit;
        }
        return JoinResult::kDone;
    }

    // The checksum file, when there is one, can be read and belongs to this split.
    JoinResult ReadChecksums() {
        // Read only where it lies in the script's folder, as the parts are. A name that no file
        // can have (the destination's name is near the limit) holds no checksum file.
        const std::string title = ChecksumPath(list_.destination);
        if (files_.NameLimit(folder_->PathOf(title))) return JoinResult::kDone;
        if (folder_->Look(title).where == ScriptFolder::Where::kOutside) {
            host_.ReportError("The checksum file is a link out of the script's folder: " +
                              ShownName(title));
            return JoinResult::kRefused;
        }
        try {
            checksums_ = ReadJoinChecksums(folder_->PathOf(""), list_, files_);
        } catch (const FormatError& error) {
            host_.ReportError(error.Message(ChecksumPath(list_.destination)));
            return JoinResult::kBadChecksums;
        }
        return JoinResult::kDone;
    }

    // The SHA-256 of a part, read again.
    Sha256Digest HashOf(const std::string& part) {
        std::vector<char> buffer(std::size_t{1} << 20);
        const auto file = files_.OpenRead(folder_->PathOf(part));
        Sha256 hash;
        while (const std::size_t n = file->Read(buffer.data(), buffer.size())) {
            hash.Update(buffer.data(), n);
            host_.Yield();
        }
        return hash.Final();
    }

    // The parts whose bytes, read again, differ from their lines in the checksum file.
    std::vector<std::string> ChangedParts() {
        std::vector<std::string> changed;
        for (std::size_t k = 0; k < list_.parts.size(); ++k)
            if (checksums_->parts[k] && HashOf(list_.parts[k]) != *checksums_->parts[k])
                changed.push_back(list_.parts[k]);
        return changed;
    }

    // The first of `parts` that is there and matches its line in the checksum file.
    std::optional<std::string> RightByChecksum(const std::vector<std::string>& parts) {
        if (!checksums_) return std::nullopt;
        for (std::size_t k = 0; k < list_.parts.size(); ++k) {
            const std::string& name = list_.parts[k];
            if (checksums_->parts[k] &&
                std::find(parts.begin(), parts.end(), name) != parts.end() &&
                looked_.at(name).where == ScriptFolder::Where::kInside &&
                looked_.at(name).status.regular && HashOf(name) == *checksums_->parts[k])
                return name;
        }
        return std::nullopt;
    }

    // check and repair with no set: each part with a line in the checksum file read once, its
    // digest and the whole's made on the side as a split makes them; every part that differs
    // is named.
    JoinResult CheckByChecksums() {
        if (!checksums_) return JoinResult::kDone;
        RunHashes hashes(/*parts=*/true);
        WorkProgress progress("Checking parts", total_, host_);
        std::vector<std::string> changed;
        for (std::size_t k = 0; k < list_.parts.size(); ++k) {
            const auto file = files_.OpenRead(folder_->PathOf(list_.parts[k]));
            while (true) {
                char* buffer = hashes.Buffer();
                const std::size_t n = file->Read(buffer, RunHashes::kBufferSize);
                if (n == 0) break;
                hashes.Update(buffer, n);
                progress.Add(n);
            }
            if (checksums_->parts[k] && hashes.FinishPart() != *checksums_->parts[k])
                changed.push_back(list_.parts[k]);
        }
        for (const std::string& name : changed)
            Mismatch("Part " + ShownName(name), "it changed since the split");
        if (changed.empty() && checksums_->whole && hashes.Whole() != *checksums_->whole)
            Mismatch("The joined file " + ShownName(list_.destination),
                     "the parts are not those of the split, or not in its order");
        else if (changed.empty())
            return JoinResult::kDone;
        return JoinResult::kChecksumMismatch;
    }

    JoinResult Mismatch(const std::string& what, const std::string& why) {
        host_.ReportError(what + " does not match its SHA-256 in " +
                          ShownName(checksums_->fileName) + ": " + why);
        return JoinResult::kChecksumMismatch;
    }

    // The destination is new, or may be replaced, and is none of the parts by any name.
    JoinResult CheckDestination() {
        const std::string path = DestinationPath();
        for (const auto& limit :
             {files_.NameLimit(path), TemporaryFile::NameLimit(files_, path, "join")}) {
            if (limit)
                throw Failure(kBadFileName, *limit + " (" + ShownName(list_.destination) + ")");
        }
        const ScriptFolder::Entry destination = folder_->Look(list_.destination);
        if (destination.where == ScriptFolder::Where::kNothing) {
            // A link that leads nowhere still holds the name, and the rename into place would
            // replace it: as any destination that is there, only when asked to.
            if (options_.force || !files_.IsLink(path)) return JoinResult::kDone;
            host_.ReportError("The destination exists: " + ShownName(list_.destination));
            return JoinResult::kDestinationExists;
        }
        if (destination.where == ScriptFolder::Where::kOutside) {
            host_.ReportError("The destination is a link out of the script's folder: " +
                              ShownName(list_.destination));
            return JoinResult::kRefused;
        }
        const FileStatus& status = destination.status;
        if (std::find(ids_.begin(), ids_.end(), status.id) != ids_.end()) {
            host_.ReportError("The destination is one of the parts: " +
                              ShownName(list_.destination));
            return JoinResult::kRefused;
        }
        if (!status.regular) {
            host_.ReportError("The destination exists and is not a regular file: " +
                              ShownName(list_.destination));
            return JoinResult::kRefused;
        }
        if (!options_.force) {
            host_.ReportError("The destination exists: " + ShownName(list_.destination));
            return JoinResult::kDestinationExists;
        }
        return JoinResult::kDone;
    }

    std::string DestinationPath() const { return folder_->PathOf(list_.destination); }

    const std::string scriptPath_;
    const JoinOptions options_;
    RunHost& host_;
    FileSystem& files_;

    JoinList list_;
    std::optional<ScriptFolder> folder_;  // once the script is read
    LookedParts looked_;
    std::vector<std::uint64_t> sizes_;
    std::vector<FileId> ids_;
    std::uint64_t total_ = 0;
    std::uint32_t permissions_ = kAllPermissions;  // those every part has
    std::optional<JoinChecksums> checksums_;
    bool repaired_ = false;
    const Mode mode_;
    bool repairable_ = false;
};

}  // namespace

namespace {

// How well sizes fit a plan: how many parts differ, and the first of them.
struct Fit {
    std::size_t misfits = 0;
    SizeMisfit first{0, 0};
};

Fit FitTo(const std::vector<std::uint64_t>& sizes, const std::vector<std::uint64_t>& plan) {
    Fit fit;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        if (sizes[k] != plan[k] && fit.misfits++ == 0) fit.first = {k, plan[k]};
    }
    return fit;
}

}  // namespace

std::optional<SizeMisfit> FindSizeMisfit(const std::vector<std::uint64_t>& sizes) {
    if (sizes.empty()) return std::nullopt;
    const std::size_t n = sizes.size();
    const auto count = static_cast<int>(n);
    const std::uint64_t total = std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0});
    Fit best = FitTo(sizes, PlanPartSizes(total, count));
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
        const Fit fit = FitTo(sizes, PlanPartSizes(length, count));
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

JoinResult Join(const std::string& scriptPath, const JoinOptions& options, RunHost& host,
                FileSystem& files) {
    // The join's one error trap; the run's temporary file is removed by then.
    JoinRun run(scriptPath, options, host, files);
    try {
        const JoinResult result = run.Go();
        return result != JoinResult::kDone && run.repaired() ? JoinResult::kFailed : result;
    } catch (const FormatError& error) {
        host.ReportError(error.Message(FileTitleOf(scriptPath)));
        return JoinResult::kBadScript;
    } catch (...) {
        host.ReportError(CurrentFailure().Message());
    }
    return JoinResult::kFailed;
}

PartsVerdict CheckSplitParts(const std::string& scriptPath, bool repair, RunHost& host,
                             FileSystem& files) {
    // The run's one error trap, as the join's.
    try {
        JoinRun run(scriptPath, {}, host, files,
                    repair ? JoinRun::Mode::kRepair : JoinRun::Mode::kCheck);
        if (run.Go() != JoinResult::kDone) return PartsVerdict::kBroken;
        return run.repairable() ? PartsVerdict::kRepairable : PartsVerdict::kIntact;
    } catch (const FormatError& error) {
        host.ReportError(error.Message(FileTitleOf(scriptPath)));
        return PartsVerdict::kBroken;
    } catch (...) {
        host.ReportError(CurrentFailure().Message());
    }
    return PartsVerdict::kFailed;
}

}  // namespace splitter
