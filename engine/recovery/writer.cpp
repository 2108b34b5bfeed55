#include "engine/recovery/writer.h"

#include <algorithm>
#include <memory>

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

// A part as the set describes it, its checksums filled in by the first pass.
par2::FileEntry Describe(FileSystem& files, const std::string& folder, const std::string& part) {
    auto file = files.OpenRead(folder + part);
    par2::FileEntry entry;
    entry.length = file->Length();
    entry.name = part;
    std::string first(static_cast<std::size_t>(std::min<std::uint64_t>(entry.length, k16k)), '\0');
    first.resize(ReadFull(*file, first.data(), first.size()));
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

}  // namespace

RecoveryPlan WriteRecoverySet(const std::string& folder, const std::string& title,
                              const std::vector<std::string>& partTitles, int percent,
                              std::uint32_t permissions, RunHost& host, FileSystem& files,
                              std::size_t memory) {
    std::vector<par2::FileEntry> entries;
    std::vector<std::uint64_t> lengths;
    for (const std::string& part : partTitles) {
        par2::FileEntry entry = Describe(files, folder, part);
        lengths.push_back(entry.length);
        // An empty part (past the end of a short file) has nothing to lose: par2 would take it
        // for damaged.
        if (entry.length > 0) entries.push_back(std::move(entry));
    }
    // The format orders the files of a set by their IDs.
    std::sort(entries.begin(), entries.end(),
              [](const par2::FileEntry& a, const par2::FileEntry& b) { return a.id < b.id; });
    const RecoveryPlan plan = PlanRecovery(lengths, percent);
    par2::Set set;
    set.sliceSize = plan.sliceSize;
    for (const par2::FileEntry& e : entries)
        set.sliceCount += static_cast<std::size_t>(par2::SlicesOf(e.length, set.sliceSize));
    if (set.sliceCount > par2::kMaxInputSlices)
        throw Failure(kOverflow, "Too many slices for a recovery set");
    set.id = par2::SetIdOf(set.sliceSize, entries);
    const std::vector<std::uint32_t> logs = rs::InputConstantLogs(set.sliceCount);
    const auto slice = static_cast<std::size_t>(set.sliceSize);
    const std::string creator = par2::CreatorPacket(set.id, kCreator);
    const std::vector<std::string> titles = RecoveryFileTitles(title, plan.count);

    // The recovery slices are made as many at a time as `memory` holds, in passes over the
    // parts; the first also makes the slice checksums and the MD5s.
    const auto perPass =
        static_cast<std::uint32_t>(std::clamp<std::size_t>(memory / slice, 1, plan.count));
    const std::uint32_t passes = (plan.count + perPass - 1) / perPass;
    std::uint64_t total = 0;
    for (const par2::FileEntry& e : entries) total += e.length;
    WorkProgress progress("Making recovery volumes", total * passes, host);
    const std::vector<Input> order = ReadingOrder(entries, slice);
    std::vector<par2::Md5Stream> wholes(entries.size());
    std::vector<par2::Md5Stream> sliceMd5s(entries.size());
    for (par2::FileEntry& entry : entries)
        entry.slices.resize(static_cast<std::size_t>(par2::SlicesOf(entry.length, slice)));
    // Each batch's checksums, on the adding thread. A run of slices of as many parts: their
    // MD5s and the parts' side by side.
    const auto checksums = [&](std::size_t firstInput, const std::vector<const char*>& inputs) {
        std::vector<par2::Md5Job> jobs;
        std::vector<const Input*> run;
        const auto flush = [&] {
            par2::UpdateMany(jobs.data(), jobs.size());
            for (const Input* in : run)
                entries[in->file].slices[in->slice].md5 = sliceMd5s[in->file].Final();
            jobs.clear();
            run.clear();
        };
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            const Input& in = order[firstInput + k];
            if (std::any_of(run.begin(), run.end(),
                            [&](const Input* r) { return r->file == in.file; }))
                flush();
            run.push_back(&in);
            jobs.push_back({&wholes[in.file], inputs[k], in.bytes});
            jobs.push_back({&sliceMd5s[in.file], inputs[k], slice});
            entries[in.file].slices[in.slice].crc = par2::Crc32(inputs[k], slice);
        }
        flush();
    };
    std::vector<std::string> critical;
    // The index, then the volumes: all named at the end, once every one is whole.
    std::vector<std::unique_ptr<TemporaryFile>> outs;
    outs.push_back(std::make_unique<TemporaryFile>(files, folder + titles[0], "par2", permissions));
    std::uint32_t volumeFirst = 0;
    std::uint32_t volumeSize = 1;  // 1, 2, 4, ... and the rest
    for (std::uint32_t first = 0; first < plan.count; first += perPass) {
        std::vector<std::vector<char>> recovery(std::min(perPass, plan.count - first),
                                                std::vector<char>(slice, '\0'));
        {
            // What the recovery slices leave of `memory` goes to the batches of parts' slices.
            const std::size_t held = recovery.size() * slice;
            rs::Accumulator sums(slice, recovery, memory > held ? memory - held : 0);
            if (first == 0) sums.OnEachBatch(checksums);
            std::vector<std::unique_ptr<ReadableFile>> open(entries.size());
            std::vector<std::unique_ptr<SliceReader>> readers(entries.size());
            for (const Input& in : order) {
                const par2::FileEntry& entry = entries[in.file];
                if (!readers[in.file]) {
                    open[in.file] = files.OpenRead(folder + entry.name);
                    readers[in.file] =
                        std::make_unique<SliceReader>(*open[in.file], entry.length, slice);
                }
                std::vector<std::uint16_t> factors(recovery.size());
                for (std::uint32_t e = 0; e < recovery.size(); ++e)
                    factors[e] = rs::Factor(logs[in.index], first + e);
                if (!readers[in.file]->Next(sums.Next(std::move(factors))).whole)
                    throw Failure::Of(kDeviceIoError, entry.name);
                if (in.slice + 1 == entry.slices.size()) {
                    readers[in.file].reset();
                    open[in.file].reset();
                }
                progress.Add(in.bytes);
            }
            sums.Finish();
        }
        if (first == 0) {
            for (std::size_t f = 0; f < entries.size(); ++f) entries[f].hash = wholes[f].Final();
            set.files = entries;
            critical = par2::CriticalPackets(set);
            for (const std::string& packet : critical)
                outs[0]->file().Write(packet.data(), packet.size());
            outs[0]->file().Write(creator.data(), creator.size());
        }
        // Each volume holds the slices of a run of exponents, written as they are made.
        for (std::uint32_t e = first; e < first + recovery.size(); ++e) {
            if (e == volumeFirst + volumeSize) {
                volumeFirst = e;
                volumeSize *= 2;
            }
            const std::uint32_t count = std::min(volumeSize, plan.count - volumeFirst);
            if (e == volumeFirst)
                outs.push_back(std::make_unique<TemporaryFile>(files, folder + titles[outs.size()],
                                                               "par2", permissions));
            WritableFile& out = outs.back()->file();
            // As many copies of the index's packets as the volume has doublings, spread among
            // its slices, so that a volume still tells what it protects when some of it is
            // damaged.
            std::uint32_t copies = 1;
            while ((2u << (copies - 1)) <= count) ++copies;
            const std::size_t spread = copies * critical.size();
            const std::uint32_t i = e - volumeFirst;
            const std::string packet = par2::RecoveryPacket(
                set.id, e, std::string_view(recovery[e - first].data(), slice));
            out.Write(packet.data(), packet.size());
            for (std::size_t c = i * spread / count; c < (i + 1) * spread / count; ++c)
                out.Write(critical[c % critical.size()].data(),
                          critical[c % critical.size()].size());
            if (i + 1 == count) out.Write(creator.data(), creator.size());
        }
    }
    for (const auto& out : outs) out->Finish();
    for (const auto& out : outs) out->Rename(/*replace=*/true);
    return plan;
}

}  // namespace splitter
