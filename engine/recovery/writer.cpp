#include "engine/recovery/writer.h"

#include <algorithm>
#include <future>
#include <memory>
#include <optional>
#include <system_error>

#include "engine/recovery/md5_pair.h"
#include "engine/recovery/packets.h"
#include "engine/recovery/reed_solomon.h"
#include "engine/temporary_file.h"
#include "engine/work_progress.h"
#include "files/failure.h"
#include "files/hash.h"
#include "files/slice_reader.h"

namespace splitter {
namespace {

// The first bytes of a file whose MD5 a file ID holds.
constexpr std::size_t k16k = 16384;

constexpr const char* kCreator = "Created by Splitter.";

// The most parts an early set keeps open at once.
constexpr std::size_t kMostEarlyParts = 64;

// A part of `length` bytes as the set describes it, from its first bytes; its checksums are
// filled in by the first pass.
par2::FileEntry Describe(ReadableFile& file, const std::string& name, std::uint64_t length) {
    par2::FileEntry entry;
    entry.length = length;
    entry.name = name;
    std::string first(static_cast<std::size_t>(std::min<std::uint64_t>(length, k16k)), '\0');
    if (ReadFull(file, first.data(), first.size()) != first.size())
        throw Failure::Of(kDeviceIoError, name);
    entry.hash16k = par2::Md5Of(first);
    entry.id = par2::FileId(entry.hash16k, entry.length, entry.name);
    return entry;
}

// A slice of a part, as the passes over the parts read it.
struct Input {
    std::size_t file;   // in the set's order
    std::size_t slice;  // of that file
    std::size_t index;  // over the set
    std::size_t bytes;  // of the part's, the rest up to the slice size zeros
};

// The parts' slices in turns, the next slice of each of up to kTurn parts at a time, so that
// their MD5s can go side by side, and no more than kTurn parts are open at once.
std::vector<Input> ReadingOrder(const std::vector<par2::FileEntry>& entries, std::size_t slice) {
    constexpr std::size_t kTurn = 16;
    std::vector<std::size_t> firsts(entries.size() + 1, 0);
    for (std::size_t f = 0; f < entries.size(); ++f)
        firsts[f + 1] =
            firsts[f] + static_cast<std::size_t>(par2::SlicesOf(entries[f].length, slice));
    std::vector<Input> order;
    for (std::size_t group = 0; group < entries.size(); group += kTurn) {
        const std::size_t end = std::min(entries.size(), group + kTurn);
        for (std::size_t s = 0, more = 1; more > 0; ++s) {
            more = 0;
            for (std::size_t f = group; f < end; ++f) {
                if (firsts[f] + s >= firsts[f + 1]) continue;
                const std::uint64_t left = entries[f].length - std::uint64_t{s} * slice;
                order.push_back({f, s, firsts[f] + s,
                                 static_cast<std::size_t>(std::min<std::uint64_t>(left, slice))});
                ++more;
            }
        }
    }
    return order;
}

// Stops a pass that was told to stop.
struct Stopped {};

}  // namespace

// The set being made: its files in the set's order, its shape, and its passes over the parts.
class SetWork {
public:
    // Where a pass reads a part (its place among the split's parts): Open before the part's
    // first slice, Close after its last.
    struct Parts {
        virtual ~Parts() = default;
        virtual ReadableFile& Open(std::size_t part) = 0;
        virtual void Close(std::size_t part) = 0;
    };

    // `described`: the parts as Describe gives them, in the split's order.
    SetWork(std::vector<par2::FileEntry> described, int percent, std::size_t memory) {
        std::vector<std::uint64_t> lengths;
        for (std::size_t k = 0; k < described.size(); ++k) {
            lengths.push_back(described[k].length);
            // An empty part (past the end of a short file) has nothing to lose: par2 would take
            // it for damaged.
            if (described[k].length > 0) {
                entries_.push_back(std::move(described[k]));
                parts_.push_back(k);
            }
        }
        // The format orders the files of a set by their IDs.
        std::vector<std::size_t> byId(entries_.size());
        for (std::size_t f = 0; f < byId.size(); ++f) byId[f] = f;
        std::sort(byId.begin(), byId.end(),
                  [&](std::size_t a, std::size_t b) { return entries_[a].id < entries_[b].id; });
        std::vector<par2::FileEntry> sorted;
        std::vector<std::size_t> parts;
        for (const std::size_t f : byId) {
            sorted.push_back(std::move(entries_[f]));
            parts.push_back(parts_[f]);
        }
        entries_ = std::move(sorted);
        parts_ = std::move(parts);
        plan_ = PlanRecovery(lengths, percent);
        set_.sliceSize = plan_.sliceSize;
        for (const par2::FileEntry& e : entries_)
            set_.sliceCount += static_cast<std::size_t>(par2::SlicesOf(e.length, set_.sliceSize));
        if (set_.sliceCount > par2::kMaxInputSlices)
            throw Failure(kOverflow, "Too many slices for a recovery set");
        set_.id = par2::SetIdOf(set_.sliceSize, entries_);
        logs_ = rs::InputConstantLogs(set_.sliceCount);
        slice_ = static_cast<std::size_t>(set_.sliceSize);
        perPass_ =
            static_cast<std::uint32_t>(std::clamp<std::size_t>(memory / slice_, 1, plan_.count));
        memory_ = memory;
        order_ = ReadingOrder(entries_, slice_);
        for (const par2::FileEntry& e : entries_) total_ += e.length;
    }

    const RecoveryPlan& plan() const { return plan_; }
    std::uint32_t perPass() const { return perPass_; }
    std::uint64_t total() const { return total_; }

    // The recovery slices of exponents [first, first + count), read through `parts`, `read`
    // told of the bytes of each slice read. The first pass also works out the parts'
    // checksums. Throws Stopped once `stop` is set.
    std::vector<std::vector<char>> Pass(std::uint32_t first, std::uint32_t count, Parts& parts,
                                        const std::function<void(std::uint64_t)>& read,
                                        const std::atomic<bool>* stop) {
        std::vector<std::vector<char>> recovery(count, std::vector<char>(slice_, '\0'));
        std::vector<par2::Md5Stream> wholes(entries_.size());
        if (first == 0)
            for (par2::FileEntry& entry : entries_)
                entry.slices.resize(static_cast<std::size_t>(par2::SlicesOf(entry.length, slice_)));
        // Each batch's checksums, on the adding thread.
        const auto checksums = [&](std::size_t firstInput, const std::vector<const char*>& in) {
            std::vector<par2::SliceJob> jobs;
            for (std::size_t k = 0; k < in.size(); ++k) {
                const Input& input = order_[firstInput + k];
                par2::SliceCheck& check = entries_[input.file].slices[input.slice];
                jobs.push_back({input.file, in[k], input.bytes, &check.md5, &check.crc});
            }
            par2::SliceChecksums(wholes, jobs, slice_);
        };
        {
            // What the recovery slices leave of the memory goes to the batches of parts' slices.
            const std::size_t held = recovery.size() * slice_;
            rs::Accumulator sums(slice_, recovery, memory_ > held ? memory_ - held : 0);
            if (first == 0) sums.OnEachBatch(checksums);
            std::vector<std::optional<SliceReader>> readers(entries_.size());  // of open parts
            for (const Input& input : order_) {
                if (stop && stop->load()) throw Stopped{};
                const par2::FileEntry& entry = entries_[input.file];
                if (input.slice == 0)
                    readers[input.file].emplace(parts.Open(parts_[input.file]), entry.length,
                                                slice_);
                std::vector<std::uint16_t> factors(count);
                for (std::uint32_t e = 0; e < count; ++e)
                    factors[e] = rs::Factor(logs_[input.index], first + e);
                if (!readers[input.file]->Next(sums.Next(std::move(factors))).whole)
                    throw Failure::Of(kDeviceIoError, entry.name);
                if (input.slice + 1 == entry.slices.size()) {
                    readers[input.file].reset();
                    parts.Close(parts_[input.file]);
                }
                read(input.bytes);
            }
            sums.Finish();
        }
        if (first == 0) {
            for (std::size_t f = 0; f < entries_.size(); ++f) entries_[f].hash = wholes[f].Final();
            set_.files = entries_;
            critical_ = par2::CriticalPackets(set_);
        }
        return recovery;
    }

    // Writes the set's files: the index once the first pass is done, then the volumes, each
    // holding the slices of a run of exponents (1, 2, 4, ... and the rest), as they are made.
    class Output {
    public:
        Output(const SetWork& work, const std::string& folder, const std::string& title,
               std::uint32_t permissions, FileSystem& files)
            : work_(work),
              folder_(folder),
              titles_(RecoveryFileTitles(title, work.plan().count)),
              permissions_(permissions),
              files_(files),
              creator_(par2::CreatorPacket(work.set_.id, kCreator)) {
            outs_.push_back(std::make_unique<TemporaryFile>(files_, folder_ + titles_[0], "par2",
                                                            permissions_));
        }

        void Add(std::uint32_t first, const std::vector<std::vector<char>>& recovery) {
            const std::vector<std::string>& critical = work_.critical_;
            if (first == 0) {
                for (const std::string& packet : critical)
                    outs_[0]->file().Write(packet.data(), packet.size());
                outs_[0]->file().Write(creator_.data(), creator_.size());
            }
            const std::uint32_t all = work_.plan().count;
            const std::vector<std::string> heads =
                par2::RecoveryPacketHeads(work_.set_.id, first, recovery);
            // The runs of exponents by volume, each volume's file made here, on this thread.
            struct Run {
                WritableFile* out;
                std::uint32_t volumeFirst;
                std::uint32_t count;  // of the volume's slices
                std::uint32_t from;
                std::uint32_t to;
            };
            std::vector<Run> runs;
            for (std::uint32_t e = first; e < first + recovery.size(); ++e) {
                if (e == volumeFirst_ + volumeSize_) {
                    volumeFirst_ = e;
                    volumeSize_ *= 2;
                }
                if (e == volumeFirst_)
                    outs_.push_back(std::make_unique<TemporaryFile>(
                        files_, folder_ + titles_[outs_.size()], "par2", permissions_));
                if (runs.empty() || runs.back().volumeFirst != volumeFirst_)
                    runs.push_back({&outs_.back()->file(), volumeFirst_,
                                    std::min(volumeSize_, all - volumeFirst_), e, e});
                runs.back().to = e + 1;
            }
            const auto write = [&](const Run& run) {
                // As many copies of the index's packets as the volume has doublings, spread
                // among its slices, so that a volume still tells what it protects when some of
                // it is damaged.
                std::uint32_t copies = 1;
                while ((2u << (copies - 1)) <= run.count) ++copies;
                const std::size_t spread = copies * critical.size();
                for (std::uint32_t e = run.from; e < run.to; ++e) {
                    const std::uint32_t i = e - run.volumeFirst;
                    run.out->Write(heads[e - first].data(), heads[e - first].size());
                    run.out->Write(recovery[e - first].data(), work_.slice_);
                    for (std::size_t c = i * spread / run.count; c < (i + 1) * spread / run.count;
                         ++c)
                        run.out->Write(critical[c % critical.size()].data(),
                                       critical[c % critical.size()].size());
                    if (i + 1 == run.count) run.out->Write(creator_.data(), creator_.size());
                }
            };
            // The last volume, the largest, on a thread of its own, the others on this one.
            std::future<void> last;
            if (runs.size() > 1) {
                try {
                    last = std::async(std::launch::async, write, std::cref(runs.back()));
                } catch (const std::system_error&) {
                    // No second thread: this one writes them all.
                }
            }
            for (std::size_t v = 0; v + (last.valid() ? 1 : 0) < runs.size(); ++v) write(runs[v]);
            if (last.valid()) last.get();
        }

        // Every file on the disk, then all of them named.
        void Name() {
            for (const auto& out : outs_) out->Finish();
            for (const auto& out : outs_) out->Rename(/*replace=*/true);
        }

    private:
        const SetWork& work_;
        const std::string folder_;
        const std::vector<std::string> titles_;
        const std::uint32_t permissions_;
        FileSystem& files_;
        const std::string creator_;
        std::vector<std::unique_ptr<TemporaryFile>> outs_;
        std::uint32_t volumeFirst_ = 0;
        std::uint32_t volumeSize_ = 1;
    };

private:
    std::vector<par2::FileEntry> entries_;  // in the set's order
    std::vector<std::size_t> parts_;        // the place of each among the split's parts
    RecoveryPlan plan_;
    par2::Set set_;
    std::vector<std::uint32_t> logs_;
    std::size_t slice_ = 0;
    std::uint32_t perPass_ = 1;
    std::size_t memory_ = 0;
    std::vector<Input> order_;
    std::uint64_t total_ = 0;
    std::vector<std::string> critical_;
};

RecoveryPlan WriteRecoverySet(const std::string& folder, const std::string& title,
                              const std::vector<std::string>& partTitles, int percent,
                              std::uint32_t permissions, RunHost& host, FileSystem& files,
                              std::size_t memory) {
    std::vector<par2::FileEntry> described;
    for (const std::string& part : partTitles) {
        auto file = files.OpenRead(folder + part);
        described.push_back(Describe(*file, part, file->Length()));
    }
    SetWork work(std::move(described), percent, memory);
    // The parts' own files, open while a pass reads them.
    struct PartFiles : SetWork::Parts {
        FileSystem& files;
        const std::string& folder;
        const std::vector<std::string>& titles;
        std::vector<std::unique_ptr<ReadableFile>> open;
        PartFiles(FileSystem& f, const std::string& d, const std::vector<std::string>& t)
            : files(f), folder(d), titles(t), open(t.size()) {}
        ReadableFile& Open(std::size_t part) override {
            open[part] = files.OpenRead(folder + titles[part]);
            return *open[part];
        }
        void Close(std::size_t part) override { open[part].reset(); }
    } parts(files, folder, partTitles);
    const RecoveryPlan& plan = work.plan();
    const std::uint32_t passes = (plan.count + work.perPass() - 1) / work.perPass();
    WorkProgress progress("Making recovery volumes", work.total() * passes, host);
    SetWork::Output output(work, folder, title, permissions, files);
    for (std::uint32_t first = 0; first < plan.count; first += work.perPass()) {
        const std::uint32_t count = std::min(work.perPass(), plan.count - first);
        output.Add(first,
                   work.Pass(
                       first, count, parts, [&](std::uint64_t n) { progress.Add(n); }, nullptr));
    }
    output.Name();
    return plan;
}

bool EarlyRecoverySet::Fits(const std::vector<std::uint64_t>& lengths, int percent,
                            std::size_t memory) {
    const RecoveryPlan plan = PlanRecovery(lengths, percent);
    return lengths.size() <= kMostEarlyParts && memory / plan.sliceSize >= plan.count;
}

EarlyRecoverySet::EarlyRecoverySet(const std::vector<std::string>& partTitles,
                                   const std::vector<std::uint64_t>& lengths, int percent,
                                   const Opener& open, std::size_t memory) {
    std::vector<par2::FileEntry> described;
    for (std::size_t k = 0; k < partTitles.size(); ++k) {
        described.push_back(Describe(*open(k), partTitles[k], lengths[k]));
        readers_.push_back(open(k));
    }
    work_ = std::make_unique<SetWork>(std::move(described), percent, memory);
}

EarlyRecoverySet::~EarlyRecoverySet() = default;

std::uint64_t EarlyRecoverySet::Total() const {
    return work_->total();
}

void EarlyRecoverySet::Make(std::atomic<std::uint64_t>& done, const std::atomic<bool>& stop) {
    struct Opened : SetWork::Parts {
        std::vector<std::unique_ptr<ReadableFile>>& readers;
        explicit Opened(std::vector<std::unique_ptr<ReadableFile>>& r) : readers(r) {}
        ReadableFile& Open(std::size_t part) override { return *readers[part]; }
        void Close(std::size_t) override {}  // on the caller's thread, with the set
    } parts(readers_);
    try {
        slices_ = work_->Pass(
            0, work_->plan().count, parts, [&](std::uint64_t n) { done += n; }, &stop);
    } catch (const Stopped&) {
    }
}

RecoveryPlan EarlyRecoverySet::Write(const std::string& folder, const std::string& title,
                                     std::uint32_t permissions, FileSystem& files) {
    readers_.clear();
    SetWork::Output output(*work_, folder, title, permissions, files);
    output.Add(0, slices_);
    output.Name();
    return work_->plan();
}

}  // namespace splitter
