#include "engine/recovery/repair.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>

#include "engine/join_script.h"
#include "engine/recovery/md5_pair.h"
#include "engine/temporary_file.h"
#include "engine/work_progress.h"
#include "files/failure.h"
#include "files/hash.h"
#include "files/slice_reader.h"

namespace splitter {
namespace {

// The most slices a join rebuilds: the elimination's work grows as their cube. A split's set
// has at most 256 + 999 slices in all.
constexpr std::size_t kMaxRebuilt = 2048;

// Writes a file from its first byte, leaving as holes the blocks of kHoleBlock bytes, aligned in
// the file, that hold only zeros; the rest goes out in writes of up to kRun bytes.
class SparseWriter {
public:
    explicit SparseWriter(WritableFile& out) : out_(out) {}

    void Write(const char* data, std::size_t n) {
        while (n > 0) {
            const std::size_t take = std::min(n, kHoleBlock - block_.size());
            block_.append(data, take);
            data += take;
            n -= take;
            if (block_.size() == kHoleBlock) Block();
        }
    }

    // Writes what is pending; the file then has every byte given.
    void Finish() {
        Block();
        Flush();
    }

private:
    static constexpr std::size_t kHoleBlock = 4096;
    static constexpr std::size_t kRun = std::size_t{1} << 20;

    void Block() {
        if (std::all_of(block_.begin(), block_.end(), [](char c) { return c == 0; })) {
            if (!run_.empty()) Flush();
            hole_ += block_.size();
        } else {
            if (hole_ > 0) Flush();
            run_ += block_;
            if (run_.size() >= kRun) Flush();
        }
        block_.clear();
    }

    void Flush() {
        if (hole_ > 0) out_.WriteHole(hole_);
        hole_ = 0;
        if (!run_.empty()) out_.Write(run_.data(), run_.size());
        run_.clear();
    }

    WritableFile& out_;
    std::string block_;       // the block being filled
    std::string run_;         // data to write
    std::uint64_t hole_ = 0;  // zeros to leave as a hole, before run_ (one is always empty)
};

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Reads recovery slices from the set's files, keeping the last file open for the next slice.
class VolumeReader {
public:
    VolumeReader(FileSystem& files, const std::vector<std::string>& sources)
        : files_(files), sources_(sources) {}

    void Read(const par2::Packets::Recovery& slice, char* buffer) {
        if (!file_ || source_ != slice.source || at_ > slice.offset) {
            file_ = files_.OpenRead(sources_[slice.source]);
            source_ = slice.source;
            at_ = 0;
        }
        file_->SkipHole(slice.offset - at_);
        const auto n = static_cast<std::size_t>(slice.size);
        if (ReadFull(*file_, buffer, n) != n)
            throw Failure(kDeviceIoError, "Recovery volume changed during the join (" +
                                              ShownName(FileTitleOf(sources_[slice.source])) + ")");
        at_ = slice.offset + slice.size;
    }

private:
    FileSystem& files_;
    const std::vector<std::string>& sources_;
    std::unique_ptr<ReadableFile> file_;
    std::size_t source_ = 0;
    std::uint64_t at_ = 0;
};

}  // namespace

std::string ListedParts(const std::vector<std::string>& names) {
    constexpr std::size_t kNamed = 10;
    const std::size_t named = names.size() > kNamed ? kNamed : names.size();
    std::string text;
    for (std::size_t i = 0; i < named; ++i) {
        if (i > 0) text += i + 1 == named && named == names.size() ? " and " : ", ";
        text += ShownName(names[i]);
    }
    if (named < names.size())
        text += " and " + std::to_string(names.size() - named) + " more parts";
    return text;
}

PartsRepair::PartsRepair(const ScriptFolder& folder, const std::string& destination,
                         const std::vector<std::string>& parts, RunHost& host, std::size_t memory)
    : folder_(folder),
      destination_(destination),
      host_(host),
      files_(folder.files()),
      memory_(memory),
      indexTitle_(RecoveryIndexTitle(destination)) {
    if (!ReadSet(parts)) return;
    const bool ahead = PlanAhead();
    if (!CheckParts(ahead)) return;
    Judge();
}

std::optional<std::uint64_t> PartsRepair::LengthOf(const std::string& part) const {
    for (const par2::FileEntry& f : set_.files)
        if (f.name == part) return f.length;
    return std::nullopt;
}

void PartsRepair::NotUsed(const std::string& why) {
    host_.Note("The recovery volumes of " + ShownName(indexTitle_) + " are not used (" + why +
               "): the parts are joined as they are");
}

// The set files beside the script, the index first, read for what they protect.
bool PartsRepair::ReadSet(const std::vector<std::string>& parts) {
    std::vector<std::string> names;
    for (const std::string& name : files_.Names(folder_.PathOf("")))
        if (IsRecoveryFileTitle(destination_, name)) names.push_back(name);
    if (names.empty()) return false;
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return std::make_pair(a != indexTitle_, a) < std::make_pair(b != indexTitle_, b);
    });
    par2::Packets packets;
    std::optional<Md5Digest> id;
    for (const std::string& name : names) {
        const ScriptFolder::Entry file = folder_.Look(name);
        if (file.where != ScriptFolder::Where::kInside || !file.status.regular) continue;
        const std::string path = folder_.PathOf(name);
        const std::size_t before = packets.mains.size();
        try {
            par2::Scan([&] { return files_.OpenRead(path); }, sources_.size(), packets,
                       /*recoveryBodies=*/false);
        } catch (const Failure& failure) {
            // A volume that cannot be read is damage the others may make up for.
            host_.Note("Skipped " + ShownName(name) + ": " + failure.Message());
            continue;
        }
        sources_.push_back(path);
        permissions_ &= file.status.permissions;
        largest_ = std::max(largest_, file.status.length);
        if (name == indexTitle_ && packets.mains.size() > before) id = packets.mains[before].setId;
    }
    unchecked_ = std::move(packets.unchecked);
    scanned_.resize(sources_.size());
    skipped_.resize(sources_.size());
    par2::Assembled assembled = par2::Assemble(packets, id);
    if (!assembled.set) {
        if (!sources_.empty()) NotUsed(assembled.problem);
        return false;
    }
    set_ = std::move(*assembled.set);

    // The set protects the split's own parts, each once: DEST.k, the script's k-th part. A set
    // of other files (par2's own of the whole file, or one that names a file of the folder to
    // have it overwritten) is none of the join's.
    for (std::size_t k = 0; k < parts.size(); ++k)
        if (parts[k] == PartTitle(destination_, static_cast<int>(k))) place_.emplace(parts[k], k);
    for (const par2::FileEntry& f : set_.files) {
        if (!place_.contains(f.name)) {
            NotUsed("it protects " + ShownName(f.name) + ", which is not a part of " +
                    ShownName(destination_));
            return false;
        }
    }
    for (const par2::FileEntry& f : set_.files) {
        const ScriptFolder::Entry part = folder_.Look(f.name);
        // A part the join refuses anyway (a link out of the folder, a folder) is not read.
        if (part.where == ScriptFolder::Where::kOutside ||
            (part.where == ScriptFolder::Where::kInside && !part.status.regular))
            return false;
        if (part.where == ScriptFolder::Where::kInside) {
            permissions_ &= part.status.permissions;
            largest_ = std::max(largest_, part.status.length);
        }
    }
    // A slice is never larger than the largest file of a split or of its set (a volume holds a
    // whole recovery slice): a larger one is not worth the memory it asks for.
    if (set_.sliceSize > largest_ + 4) {
        NotUsed("slices larger than any file");
        return false;
    }
    logs_ = rs::InputConstantLogs(set_.sliceCount);
    return true;
}

// Parts that are not there at all have lost every slice before any part is read. When the
// volumes rebuild those slices in one group, the check works them out from the recovery slices
// and the slices it reads anyway, so that a join that rebuilds them reads the parts once; they
// are used only when the check finds nothing else missing.
bool PartsRepair::PlanAhead() {
    std::vector<std::size_t> lost;
    std::size_t index = 0;
    for (const par2::FileEntry& f : set_.files) {
        if (folder_.Look(f.name).where != ScriptFolder::Where::kInside)
            for (std::size_t s = 0; s < f.slices.size(); ++s) lost.push_back(index + s);
        index += f.slices.size();
    }
    const std::size_t fits = memory_ / static_cast<std::size_t>(set_.sliceSize);
    if (lost.empty() || lost.size() > kMaxRebuilt || lost.size() + 1 > fits) return false;
    // The recovery slices the headers promise, their packets checked by the check as it reads
    // them.
    const std::vector<par2::Packets::Recovery> available =
        par2::RecoveryOf(unchecked_, set_.id, set_.sliceSize);
    if (available.size() < lost.size()) return false;
    std::vector<std::uint32_t> lostLogs;
    std::vector<std::uint32_t> exponents;
    for (const std::size_t k : lost) lostLogs.push_back(logs_[k]);
    for (std::size_t i = 0; i < lost.size(); ++i) exponents.push_back(available[i].exponent);
    solution_ = rs::Solution::For(lostLogs, exponents);
    if (!solution_) return false;
    used_.assign(available.begin(), available.begin() + static_cast<long>(lost.size()));
    aheadMissing_ = std::move(lost);
    return true;
}

// Reads every part against its slice checksums. The parts are read in turns, the next slice of
// each of up to 16 parts at a time, so that their MD5s and their slices' go side by side
// (md5_pair.h); while the next batch is read, the last one's checksums are worked out on a
// thread of its own, and the slices rebuilt ahead, if any, on that one and another.
bool PartsRepair::CheckParts(bool ahead) {
    constexpr std::size_t kTurn = 16;
    const auto slice = static_cast<std::size_t>(set_.sliceSize);
    std::uint64_t total = 0;
    for (const par2::FileEntry& f : set_.files) total += f.length;
    WorkProgress progress("Checking parts", total, host_);
    const std::size_t count = set_.files.size();
    std::vector<std::size_t> firsts(count + 1, 0);
    for (std::size_t f = 0; f < count; ++f) firsts[f + 1] = firsts[f] + set_.files[f].slices.size();
    std::vector<par2::Md5Stream> wholes(count);
    std::vector<char> intact(count, 0);
    std::vector<char> read(set_.sliceCount, 0);
    std::vector<par2::SliceCheck> checks(set_.sliceCount);
    present_.assign(set_.sliceCount, false);
    // What each input of the sums is: a part's slice (its file, the bytes read) or a recovery
    // slice (no file).
    struct Input {
        std::size_t file;
        std::size_t k;  // over the set; of a recovery slice, its place in used_
        std::size_t bytes;
    };
    constexpr std::size_t kRecovery = static_cast<std::size_t>(-1);
    const std::size_t m = ahead ? aheadMissing_.size() : 0;
    // Sized once: the adding thread reads what a batch's inputs were while the next ones are
    // set down.
    std::vector<Input> inputs(m + set_.sliceCount);
    std::size_t given = 0;
    ahead_.assign(m, std::vector<char>(slice, '\0'));
    bool aheadRead = ahead;
    // Whether the recovery slices read for them are those their packets' MD5s describe: the
    // headers alone said which they are. Set on the adding thread, read once it is done.
    bool recoveryHolds = true;
    {
        const std::size_t held = m * slice;
        rs::Accumulator sums(slice, ahead_, memory_ > held ? memory_ - held : 0);
        sums.OnEachBatch([&](std::size_t first, const std::vector<const char*>& batch) {
            std::vector<par2::SliceJob> jobs;
            std::vector<par2::Packets::Recovery> recovery;
            std::vector<const char*> recoveryBytes;
            for (std::size_t b = 0; b < batch.size(); ++b) {
                const Input& in = inputs[first + b];
                if (in.file == kRecovery) {
                    recovery.push_back(used_[in.k]);
                    recoveryBytes.push_back(batch[b]);
                    continue;
                }
                jobs.push_back({in.file, batch[b], in.bytes, &checks[in.k].md5, &checks[in.k].crc});
            }
            par2::SliceChecksums(wholes, jobs, slice);
            for (const bool holds : par2::RecoverySlicesHold(recovery, recoveryBytes))
                if (!holds) recoveryHolds = false;
        });
        VolumeReader volumes(files_, sources_);
        for (std::size_t i = 0; i < m; ++i) {
            std::vector<std::uint16_t> factors(m);
            for (std::size_t j = 0; j < m; ++j) factors[j] = solution_->recover(j)[i];
            inputs[given++] = {kRecovery, i, 0};
            try {
                volumes.Read(used_[i], sums.Next(std::move(factors)));
            } catch (const Failure&) {
                aheadRead = false;  // the rebuild reads it again, and says what is wrong
            }
        }
        for (std::size_t group = 0; group < count; group += kTurn) {
            const std::size_t end = std::min(count, group + kTurn);
            std::vector<std::unique_ptr<ReadableFile>> open(end - group);
            std::vector<std::optional<SliceReader>> readers(end - group);
            for (std::size_t f = group; f < end; ++f) {
                const par2::FileEntry& entry = set_.files[f];
                if (folder_.Look(entry.name).where != ScriptFolder::Where::kInside) continue;
                open[f - group] = files_.OpenRead(folder_.PathOf(entry.name));
                intact[f] = open[f - group]->Length() == entry.length;
                readers[f - group].emplace(*open[f - group], entry.length, slice);
            }
            for (std::size_t s = 0, more = 1; more > 0; ++s) {
                more = 0;
                for (std::size_t f = group; f < end; ++f) {
                    if (!readers[f - group] || s >= set_.files[f].slices.size()) continue;
                    ++more;
                    const std::size_t k = firsts[f] + s;
                    char* buffer = sums.Next(ahead ? solution_->Present(logs_[k], 0, m)
                                                   : std::vector<std::uint16_t>{});
                    const SliceReader::Slice got = readers[f - group]->Next(buffer);
                    inputs[given++] = {f, k, got.bytes};
                    read[k] = got.whole;
                    progress.Add(got.bytes);
                }
            }
        }
        sums.Finish();
    }
    if (!aheadRead || !recoveryHolds) ahead_.clear();
    for (std::size_t f = 0; f < count; ++f) {
        const par2::FileEntry& entry = set_.files[f];
        for (std::size_t k = firsts[f]; k < firsts[f + 1]; ++k) {
            present_[k] = read[k] && checks[k] == entry.slices[k - firsts[f]];
            if (!present_[k]) intact[f] = 0;
        }
        if (wholes[f].Final() != entry.hash) intact[f] = 0;
        if (!intact[f]) rewrite_.push_back(f);
        for (std::size_t k = firsts[f]; k < firsts[f + 1]; ++k)
            if (!present_[k]) missing_.push_back(k);
    }
    // Rebuilt ahead, they stand only for what they were worked out for.
    if (missing_ != aheadMissing_) ahead_.clear();
    return true;
}

// Reads the set's files for their recovery slices and checks them, a file at a time, on
// whichever threads call it.
void PartsRepair::ScanVolumes() {
    for (std::size_t source; (source = nextScan_.fetch_add(1)) < sources_.size();) {
        try {
            par2::Scan([&] { return files_.OpenRead(sources_[source]); }, source, scanned_[source]);
        } catch (const Failure& failure) {
            skipped_[source] = failure.Message();
        }
    }
}

// The set's recovery slices whose checksums hold, the volumes scanned on two threads.
const std::vector<par2::Packets::Recovery>& PartsRepair::Available() {
    if (available_) return *available_;
    scanning_ = std::async(std::launch::async, [this] { ScanVolumes(); });
    ScanVolumes();
    scanning_.get();
    std::vector<par2::Packets::Recovery> recovery;
    for (std::size_t source = 0; source < sources_.size(); ++source) {
        if (!skipped_[source].empty())
            host_.Note("Skipped " + ShownName(FileTitleOf(sources_[source])) + ": " +
                       skipped_[source]);
        recovery.insert(recovery.end(), scanned_[source].recovery.begin(),
                        scanned_[source].recovery.end());
    }
    available_ = par2::RecoveryOf(recovery, set_.id, set_.sliceSize);
    return *available_;
}

// What the recovery slices can do for what is missing.
void PartsRepair::Judge() {
    if (rewrite_.empty()) {
        verdict_ = Verdict::kIntact;
        return;
    }
    for (const std::size_t f : rewrite_) damaged_.push_back(set_.files[f].name);
    std::sort(damaged_.begin(), damaged_.end(), [&](const std::string& a, const std::string& b) {
        return place_.at(a) < place_.at(b);
    });
    // The slices rebuilt ahead from recovery slices checked as they were read: nothing else is
    // missing, and those recovery slices rebuild it.
    if (!ahead_.empty()) {
        verdict_ = Verdict::kRepairable;
        return;
    }
    // Only now are the recovery slices read, and only their checksums.
    const std::vector<par2::Packets::Recovery>& available = Available();
    const std::string lost = ListedParts(damaged_) + (damaged_.size() == 1 ? " is" : " are") +
                             " missing or damaged (" +
                             Plural(missing_.size(), "slice", "slices") + "), and the recovery "
                             "volumes of " + ShownName(indexTitle_) + " hold " +
                             Plural(available.size(), "recovery slice", "recovery slices");
    verdict_ = Verdict::kTooFew;
    if (available.size() < missing_.size()) {
        problem_ = lost + ": too few to rebuild them";
        return;
    }
    if (missing_.size() > kMaxRebuilt) {
        problem_ = lost + ": more slices than the join rebuilds (" + std::to_string(kMaxRebuilt) +
                   "); par2 repair " + ShownName(indexTitle_) + " may";
        return;
    }
    used_.assign(available.begin(), available.begin() + static_cast<long>(missing_.size()));
    std::vector<std::uint32_t> lostLogs;
    std::vector<std::uint32_t> exponents;
    for (const std::size_t k : missing_) lostLogs.push_back(logs_[k]);
    for (const par2::Packets::Recovery& r : used_) exponents.push_back(r.exponent);
    solution_ = rs::Solution::For(lostLogs, exponents);
    if (!solution_) {
        problem_ = lost + ", which cannot rebuild these slices together";
        return;
    }
    verdict_ = Verdict::kRepairable;
}

std::vector<RebuiltPart> PartsRepair::Rebuild(std::uint32_t permissions) {
    const auto slice = static_cast<std::size_t>(set_.sliceSize);
    const std::size_t m = missing_.size();
    // The first slice of each file of the set.
    std::vector<std::size_t> firsts(set_.files.size() + 1, 0);
    for (std::size_t f = 0; f < set_.files.size(); ++f)
        firsts[f + 1] = firsts[f] + set_.files[f].slices.size();
    std::uint64_t rewritten = 0;
    for (const std::size_t f : rewrite_) rewritten += set_.files[f].length;
    // The rebuilt slices, less the one a part's slices are read into, as the split holds them.
    const std::size_t fits = memory_ / slice;
    const std::size_t group =
        std::clamp<std::size_t>(fits > 1 ? fits - 1 : 1, 1, std::max<std::size_t>(m, 1));
    std::uint64_t present = 0;
    for (const bool p : present_) present += p ? 1 : 0;
    const std::size_t groups = m == 0 ? 0 : (m + group - 1) / group;
    // Slices the check rebuilt already are not worked out again (one group, as PlanAhead saw).
    const bool ahead = !ahead_.empty() && ahead_.size() == m && group >= m;
    WorkProgress progress("Rebuilding parts",
                          (ahead ? 0 : groups * (m + present) * set_.sliceSize) + rewritten, host_);

    // The parts are written one after the other, in the set's order, as far as the slices
    // rebuilt so far reach.
    struct Writing {
        std::size_t r = 0;  // in rewrite_
        std::size_t s = 0;  // slice of that file
        std::unique_ptr<TemporaryFile> out;
        std::unique_ptr<SparseWriter> sparse;
        std::unique_ptr<ReadableFile> old;
        std::unique_ptr<SliceReader> reader;
        Md5 whole;
        // The part's MD5 is worked out on a thread of its own while the next slice is read and
        // written: two buffers in turn, the slice being hashed and the next.
        std::vector<char> buffers[2];
        std::size_t turn = 0;
        std::future<void> hashing;  // last: waited for before the buffers go
        void Settle() {
            if (hashing.valid()) hashing.get();
        }
    } w;
    w.buffers[0].resize(slice);
    w.buffers[1].resize(slice);
    std::vector<RebuiltPart> rebuilt;
    const auto writeUpTo = [&](const std::vector<std::vector<char>>& slices, std::size_t g0) {
        // However it ends, the hash is done with the group's slices before they go.
        struct Waits {
            std::future<void>& hashing;
            ~Waits() {
                if (hashing.valid()) hashing.wait();
            }
        } waits{w.hashing};
        for (; w.r < rewrite_.size(); ++w.r, w.s = 0) {
            const par2::FileEntry& entry = set_.files[rewrite_[w.r]];
            const std::string path = folder_.PathOf(entry.name);
            if (!w.out) {
                w.out = std::make_unique<TemporaryFile>(files_, path, "repair", permissions);
                w.sparse = std::make_unique<SparseWriter>(w.out->file());
                w.old.reset();
                if (folder_.Look(entry.name).where == ScriptFolder::Where::kInside)
                    w.old = files_.OpenRead(path);
                w.reader =
                    w.old ? std::make_unique<SliceReader>(*w.old, entry.length, slice) : nullptr;
            }
            for (; w.s < entry.slices.size(); ++w.s) {
                const std::size_t k = firsts[rewrite_[w.r]] + w.s;
                char* buffer = w.buffers[w.turn].data();
                const char* bytes = buffer;
                if (present_[k]) {
                    if (!w.reader || !w.reader->Next(buffer).whole)
                        throw Failure(kDeviceIoError, "Part changed during the join (" +
                                                          ShownName(entry.name) + ")");
                } else {
                    const auto at = static_cast<std::size_t>(
                        std::lower_bound(missing_.begin(), missing_.end(), k) - missing_.begin());
                    if (at < g0 || at >= g0 + slices.size()) return;  // in a later group
                    bytes = slices[at - g0].data();
                    if (w.reader) w.reader->Skip();
                }
                const auto n = static_cast<std::size_t>(
                    std::min<std::uint64_t>(set_.sliceSize, entry.length - w.s * set_.sliceSize));
                w.sparse->Write(bytes, n);
                w.Settle();
                w.hashing =
                    std::async(std::launch::async, [&w, bytes, n] { w.whole.Update(bytes, n); });
                w.turn ^= 1;
                progress.Add(n);
            }
            w.Settle();
            if (w.whole.Final() != entry.hash)
                throw Failure(kDeviceIoError,
                              "Recovery failed: the rebuilt part does not match "
                              "its MD5 in " +
                                  ShownName(indexTitle_) + " (" + ShownName(entry.name) + ")");
            w.reader.reset();
            w.old.reset();
            w.sparse->Finish();
            w.out->Finish();
            RebuiltPart done{entry.name, {}};
            if (folder_.Look(entry.name).where != ScriptFolder::Where::kNothing ||
                files_.IsLink(path)) {
                // What was there keeps its bytes, under the first free name that says what it is.
                for (int n = 1;; ++n) {
                    done.keptAs = entry.name + ".damaged" + (n == 1 ? "" : "." + std::to_string(n));
                    if (files_.NameLimit(folder_.PathOf(done.keptAs)))
                        throw Failure(kBadFileName,
                                      "No name to keep " + ShownName(entry.name) + " under");
                    try {
                        files_.Rename(path, folder_.PathOf(done.keptAs), /*replace=*/false);
                        break;
                    } catch (const Failure& failure) {
                        if (failure.code() != kPathFileAccessError || n == 99) throw;
                    }
                }
            }
            w.out->Rename(/*replace=*/false);
            w.out.reset();
            host_.Note("Rebuilt " + ShownName(entry.name) + " from the recovery volumes of " +
                       ShownName(indexTitle_) +
                       (done.keptAs.empty()
                            ? ""
                            : "; the bytes it replaced are kept as " + ShownName(done.keptAs)));
            rebuilt.push_back(std::move(done));
        }
    };

    VolumeReader volumes(files_, sources_);
    for (std::size_t g0 = 0; g0 < m; g0 += group) {
        const std::size_t n = std::min(group, m - g0);
        std::vector<std::vector<char>> slices;
        if (ahead) slices = std::move(ahead_);
        if (!ahead) {
            slices.assign(n, std::vector<char>(slice, '\0'));
            const std::size_t held = n * slice;
            rs::Accumulator sums(slice, slices, memory_ > held ? memory_ - held : 0);
            for (std::size_t i = 0; i < m; ++i) {
                std::vector<std::uint16_t> factors(n);
                for (std::size_t j = 0; j < n; ++j) factors[j] = solution_->recover(g0 + j)[i];
                volumes.Read(used_[i], sums.Next(std::move(factors)));
                progress.Add(set_.sliceSize);
            }
            std::size_t index = 0;
            for (const par2::FileEntry& entry : set_.files) {
                const std::size_t first = index;
                index += entry.slices.size();
                if (std::none_of(present_.begin() + static_cast<long>(first),
                                 present_.begin() + static_cast<long>(index),
                                 [](bool p) { return p; }))
                    continue;
                auto file = files_.OpenRead(folder_.PathOf(entry.name));
                SliceReader reader(*file, entry.length, slice);
                for (std::size_t k = first; k < index; ++k) {
                    if (!present_[k]) {
                        reader.Skip();
                        continue;
                    }
                    char* into = sums.Next(solution_->Present(logs_[k], g0, n));
                    if (!reader.Next(into).whole)
                        throw Failure(kDeviceIoError, "Part changed during the join (" +
                                                          ShownName(entry.name) + ")");
                    progress.Add(set_.sliceSize);
                }
            }
            sums.Finish();
        }
        // Every rebuilt slice must be the one the checksums describe: their MD5s side by side.
        std::vector<par2::Md5Stream> md5s(n);
        std::vector<par2::Md5Job> jobs;
        for (std::size_t j = 0; j < n; ++j) jobs.push_back({&md5s[j], slices[j].data(), slice});
        par2::UpdateMany(jobs.data(), jobs.size());
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t k = missing_[g0 + j];
            const auto f = static_cast<std::size_t>(
                std::upper_bound(firsts.begin(), firsts.end(), k) - firsts.begin() - 1);
            const par2::SliceCheck check{md5s[j].Final(), par2::Crc32(slices[j].data(), slice)};
            if (check != set_.files[f].slices[k - firsts[f]])
                throw Failure(kDeviceIoError,
                              "Recovery failed: a rebuilt slice does not match its checksum in " +
                                  ShownName(indexTitle_));
        }
        writeUpTo(slices, g0);
    }
    writeUpTo({}, m);
    return rebuilt;
}

}  // namespace splitter
