#include "engine/recovery.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <thread>
#include <utility>

#include "engine/gf16.h"
#include "engine/par2.h"
#include "engine/temporary_file.h"
#include "files/failure.h"
#include "files/hash.h"

namespace splitter {
namespace {

// Slices per file length: the work of a set is (recovery slices) x (file length), and the
// recovery slices are `percent` of these.
constexpr std::uint64_t kSlicesPerFile = 256;
// The first bytes of a file whose MD5 a file ID holds.
constexpr std::size_t k16k = 16384;
// A PAR 2.0 file above this is read no further.
constexpr std::uint64_t kMaxSetFileSize = std::uint64_t{1} << 40;
// The most slices a join rebuilds: the elimination's work grows as their cube. A split's set
// has at most 256 + 999 slices in all.
constexpr std::size_t kMaxRebuilt = 2048;

constexpr const char* kCreator = "Created by Splitter.";

std::size_t ReadFull(ReadableFile& file, char* buffer, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const std::size_t more = file.Read(buffer + got, n - got);
        if (more == 0) break;
        got += more;
    }
    return got;
}

int Digits(std::uint32_t n) {
    int digits = 1;
    for (; n >= 10; n /= 10) ++digits;
    return digits;
}

std::string Padded(std::uint32_t n, int digits) {
    std::string text = std::to_string(n);
    return std::string(
               static_cast<std::size_t>(std::max(0, digits - static_cast<int>(text.size()))), '0') +
           text;
}

struct Volume {
    std::uint32_t first;
    std::uint32_t count;
};

// Counts 1, 2, 4, ... and what is left.
std::vector<Volume> Volumes(std::uint32_t count) {
    std::vector<Volume> volumes;
    for (std::uint32_t first = 0, size = 1; first < count; size *= 2) {
        const std::uint32_t n = std::min(size, count - first);
        volumes.push_back({first, n});
        first += n;
    }
    return volumes;
}


// The factor of input slice `constantLog` in the recovery slice of `exponent`.
std::uint16_t Factor(std::uint32_t constantLog, std::uint32_t exponent) {
    return gf16::Exp(
        static_cast<std::uint32_t>((std::uint64_t{constantLog} * exponent) % gf16::kOrder));
}

std::uint8_t* Bytes(std::vector<char>& v) {
    return reinterpret_cast<std::uint8_t*>(v.data());
}

// Input slices gathered a few at a time and added into every recovery slice together, a block
// of bytes at a time: each block of a recovery slice then stays in the processor's cache while
// the batch's slices are added into it, instead of going to memory and back once per slice.
// A batch is added on a thread of its own, which also hashes the files whole, while the next
// one is read and its slices hashed.
class SliceBatch {
public:
    // Adds into `recovery`, the recovery slices of exponents `firstExponent` on.
    SliceBatch(std::size_t slice, std::vector<std::vector<char>>& recovery,
               std::uint32_t firstExponent)
        : slice_(slice),
          firstExponent_(firstExponent),
          capacity_(std::clamp<std::size_t>(kBatchBytes / slice, 1, kMaxBatch)),
          filling_(capacity_, std::vector<char>(slice)),
          adding_(capacity_, std::vector<char>(slice)),
          recovery_(recovery) {}
    ~SliceBatch() { Wait(); }
    SliceBatch(const SliceBatch&) = delete;
    SliceBatch& operator=(const SliceBatch&) = delete;

    // The buffer of the next input slice, whose constant's logarithm is `constantLog`, and
    // whose first `bytes` bytes are the next of the file that `whole` hashes.
    char* Next(std::uint32_t constantLog, Md5& whole, std::size_t bytes) {
        if (logs_.size() == capacity_) Flush();
        logs_.push_back(constantLog);
        wholes_.push_back({&whole, bytes});
        return filling_[logs_.size() - 1].data();
    }

    // The buffer of the next input slice, for a pass that hashes nothing.
    char* Next(std::uint32_t constantLog) {
        if (logs_.size() == capacity_) Flush();
        logs_.push_back(constantLog);
        wholes_.push_back({nullptr, 0});
        return filling_[logs_.size() - 1].data();
    }

    // Hands the slices gathered so far to the adding thread.
    void Flush() {
        Wait();
        std::swap(filling_, adding_);
        multipliers_.clear();
        for (std::uint32_t e = 0; e < recovery_.size(); ++e)
            for (const std::uint32_t log : logs_)
                multipliers_.emplace_back(Factor(log, firstExponent_ + e));
        const std::size_t count = logs_.size();
        logs_.clear();
        std::swap(wholes_, hashing_);
        wholes_.clear();
        adder_ = std::thread([this, count] { Add(count); });
    }

    // Until every slice handed over is added.
    void Wait() {
        if (adder_.joinable()) adder_.join();
    }

private:
    void Add(std::size_t count) {
        for (std::size_t b = 0; b < count; ++b)
            if (hashing_[b].first) hashing_[b].first->Update(adding_[b].data(), hashing_[b].second);
        for (std::size_t at = 0; at < slice_; at += kBlock) {
            const std::size_t n = std::min(kBlock, slice_ - at);
            const gf16::Multiplier* m = multipliers_.data();
            for (std::vector<char>& r : recovery_)
                for (std::size_t b = 0; b < count; ++b, ++m)
                    m->MultiplyAdd(Bytes(r) + at,
                                   reinterpret_cast<const std::uint8_t*>(adding_[b].data()) + at,
                                   n);
        }
    }

    static constexpr std::size_t kBatchBytes = std::size_t{16} << 20;
    static constexpr std::size_t kMaxBatch = 16;
    static constexpr std::size_t kBlock = 8192;
    const std::size_t slice_;
    const std::uint32_t firstExponent_;
    const std::size_t capacity_;
    std::vector<std::vector<char>> filling_;
    std::vector<std::vector<char>> adding_;
    std::vector<std::vector<char>>& recovery_;
    std::vector<std::uint32_t> logs_;
    std::vector<std::pair<Md5*, std::size_t>> wholes_;   // of the slices being gathered
    std::vector<std::pair<Md5*, std::size_t>> hashing_;  // of those being added
    std::vector<gf16::Multiplier> multipliers_;
    std::thread adder_;
};

class WholeFile {
public:
    WholeFile(FileSystem& files, const std::string& path, std::uint32_t permissions)
        : file_(files, path, "par2", permissions) {}
    void Write(std::string_view bytes) { file_.file().Write(bytes.data(), bytes.size()); }
    void Finish() {
        file_.Finish();
        file_.Rename(/*replace=*/true);
    }

private:
    TemporaryFile file_;
};

}  // namespace

RecoveryPlan PlanRecovery(std::uint64_t length, int percent) {
    RecoveryPlan plan;
    const std::uint64_t perSlice = length / kSlicesPerFile + (length % kSlicesPerFile ? 1 : 0);
    plan.sliceSize = std::max<std::uint64_t>(4, (perSlice + 3) / 4 * 4);
    // percent/100 of the length, in slices, rounded up: at most 256 * percent / 100 + 1.
    const std::uint64_t wanted = length / 100 * static_cast<std::uint64_t>(percent) +
                                 length % 100 * static_cast<std::uint64_t>(percent) / 100;
    plan.count = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(1, wanted / plan.sliceSize + (wanted % plan.sliceSize ? 1 : 0)));
    return plan;
}

std::vector<std::string> RecoveryFileTitles(const std::string& title, std::uint32_t count) {
    std::vector<std::string> titles{title + ".par2"};
    const std::vector<Volume> volumes = Volumes(count);
    std::uint32_t largest = 0;
    for (const Volume& v : volumes) largest = std::max(largest, v.count);
    for (const Volume& v : volumes)
        titles.push_back(title + ".vol" + Padded(v.first, Digits(count)) + "+" +
                         Padded(v.count, Digits(largest)) + ".par2");
    return titles;
}

bool IsRecoveryFileTitle(const std::string& title, const std::string& name) {
    if (name == title + ".par2") return true;
    const std::string prefix = title + ".vol";
    if (name.size() <= prefix.size() + 5 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 5, 5, ".par2") != 0)
        return false;
    const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 5);
    const auto plus = middle.find('+');
    return plus != std::string::npos && plus > 0 && plus + 1 < middle.size() &&
           middle.find_first_not_of("0123456789+") == std::string::npos &&
           middle.find('+', plus + 1) == std::string::npos;
}

void WriteRecoverySet(const std::string& folder, const std::string& title,
                      const std::vector<std::string>& partTitles, int percent,
                      std::uint32_t permissions, RunHost& host, FileSystem& files,
                      std::size_t memory) {
    // The files, their IDs and the set's order of them.
    par2::Set set;
    std::vector<par2::FileEntry> entries;
    std::uint64_t total = 0;
    for (const std::string& part : partTitles) {
        auto file = files.OpenRead(folder + part);
        par2::FileEntry entry;
        entry.length = file->Length();
        entry.name = part;
        std::string first(static_cast<std::size_t>(std::min<std::uint64_t>(entry.length, k16k)),
                          '\0');
        first.resize(ReadFull(*file, first.data(), first.size()));
        entry.hash16k = par2::Md5Of(first);
        entry.id = par2::FileId(entry.hash16k, entry.length, entry.name);
        total += entry.length;
        // An empty part (past the end of a short file) has nothing to lose: par2 would take it
        // for damaged.
        if (entry.length > 0) entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const par2::FileEntry& a, const par2::FileEntry& b) { return a.id < b.id; });
    const RecoveryPlan plan = PlanRecovery(total, percent);
    set.sliceSize = plan.sliceSize;
    for (const par2::FileEntry& e : entries)
        set.sliceCount += static_cast<std::size_t>(par2::SlicesOf(e.length, set.sliceSize));
    if (set.sliceCount > par2::kMaxInputSlices)
        throw Failure(kOverflow, "Too many slices for a recovery set");
    const std::vector<std::uint32_t> logs = par2::SliceConstantLogs(set.sliceCount);
    const auto slice = static_cast<std::size_t>(set.sliceSize);

    std::string mainBody;
    par2::Append64(mainBody, set.sliceSize);
    par2::Append32(mainBody, static_cast<std::uint32_t>(entries.size()));
    for (const par2::FileEntry& f : entries) par2::AppendDigest(mainBody, f.id);
    set.id = par2::Md5Of(mainBody);
    const std::string creator = par2::Packet(set.id, par2::kCreatorType, kCreator);

    // Sets of an earlier split go first: their volumes would not fit the new parts.
    const std::vector<std::string> titles = RecoveryFileTitles(title, plan.count);
    for (const std::string& name : files.Names(folder))
        if (IsRecoveryFileTitle(title, name) &&
            std::find(titles.begin(), titles.end(), name) == titles.end())
            files.Remove(folder + name);

    // The recovery slices are made as many at a time as `memory` holds, in passes over the
    // parts; the first also makes the slice checksums and the MD5s.
    const std::uint32_t perPass =
        static_cast<std::uint32_t>(std::clamp<std::size_t>(memory / slice, 1, plan.count));
    std::vector<Md5> wholes(entries.size());
    std::vector<std::string> critical;
    std::vector<std::unique_ptr<WholeFile>> outs;
    const std::vector<Volume> volumes = Volumes(plan.count);
    std::size_t volume = 0;
    for (std::uint32_t first = 0; first < plan.count; first += perPass) {
        std::vector<std::vector<char>> recovery(std::min(perPass, plan.count - first),
                                                std::vector<char>(slice, '\0'));
        SliceBatch batch(slice, recovery, first);
        std::size_t index = 0;
        for (std::size_t f = 0; f < entries.size(); ++f) {
            par2::FileEntry& entry = entries[f];
            auto file = files.OpenRead(folder + entry.name);
            Md5 md5;
            for (std::uint64_t left = entry.length; left > 0; ++index) {
                const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, slice));
                char* buffer =
                    first == 0 ? batch.Next(logs[index], wholes[f], want) : batch.Next(logs[index]);
                if (ReadFull(*file, buffer, want) != want)
                    throw Failure::Of(kDeviceIoError, entry.name);
                std::memset(buffer + want, 0, slice - want);
                left -= want;
                if (first == 0) {
                    md5.Update(buffer, slice);
                    entry.slices.push_back({md5.Final(), par2::Crc32(buffer, slice)});
                }
                host.Yield();
            }
        }
        batch.Flush();
        batch.Wait();
        if (first == 0) {
            for (std::size_t f = 0; f < entries.size(); ++f) entries[f].hash = wholes[f].Final();
            set.files = entries;
            critical = par2::CriticalPackets(set);
            WholeFile indexFile(files, folder + titles[0], permissions);
            for (const std::string& packet : critical) indexFile.Write(packet);
            indexFile.Write(creator);
            indexFile.Finish();
        }
        // Each volume holds the slices of a run of exponents: written as they are made, and
        // named once all the volumes are whole.
        for (std::uint32_t e = first; e < first + recovery.size(); ++e) {
            while (e >= volumes[volume].first + volumes[volume].count) ++volume;
            const Volume& v = volumes[volume];
            if (e == v.first)
                outs.push_back(
                    std::make_unique<WholeFile>(files, folder + titles[volume + 1], permissions));
            WholeFile& out = *outs.back();
            // As many copies of the index's packets as the volume has doublings, spread among
            // its slices, so that a volume still tells what it protects when some of it is
            // damaged.
            std::uint32_t copies = 1;
            while ((2u << (copies - 1)) <= v.count) ++copies;
            const std::size_t spread = copies * critical.size();
            const std::uint32_t i = e - v.first;
            std::string body;
            par2::Append32(body, e);
            body.append(recovery[e - first].data(), slice);
            out.Write(par2::Packet(set.id, par2::kRecoverySliceType, body));
            for (std::size_t c = i * spread / v.count; c < (i + 1) * spread / v.count; ++c)
                out.Write(critical[c % critical.size()]);
            if (i + 1 == v.count) out.Write(creator);
        }
    }
    for (const auto& out : outs) out->Finish();
}

void RemoveEarlierRecoverySet(const std::string& folder, const std::string& title,
                              FileSystem& files) {
    const std::string index = folder + title + ".par2";
    const auto status = files.Status(index);
    if (!status || !status->regular || files.IsLink(index) || status->length > (64u << 20)) return;
    par2::Packets packets;
    par2::Scan(ReadUpTo(*files.OpenRead(index), status->length), 0, packets);
    const par2::Assembled assembled = par2::Assemble(packets, std::nullopt);
    if (!assembled.set) return;
    for (const par2::FileEntry& f : assembled.set->files) {
        const std::string prefix = title + ".";
        if (f.name.size() <= prefix.size() || f.name.compare(0, prefix.size(), prefix) != 0 ||
            f.name.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
            return;
    }
    for (const std::string& name : files.Names(folder))
        if (IsRecoveryFileTitle(title, name) && !files.IsLink(folder + name))
            files.Remove(folder + name);
}

namespace {

class Repair {
public:
    Repair(const ScriptFolder& folder, const JoinList& list, LookedParts& parts, RunHost& host)
        : folder_(folder), list_(list), parts_(parts), host_(host), files_(folder.files()) {}

    RepairResult Go() {
        indexTitle_ = list_.destination + ".par2";
        if (!ReadSet()) return RepairResult::kNoSet;
        if (!MatchParts()) return RepairResult::kNoSet;
        // A slice is never larger than the largest file of a split or of its set (a volume
        // holds a whole recovery slice): a larger one is not worth the memory it asks for.
        if (set_.sliceSize > largest_ + 4) {
            host_.Note("The recovery volumes of " + indexTitle_ +
                       " cannot be used (slices larger than any file): the parts are joined as "
                       "they are");
            return RepairResult::kNoSet;
        }
        if (!CheckParts()) return RepairResult::kNoSet;
        if (missing_.empty() && rewrite_.empty()) return RepairResult::kIntact;
        const auto available = par2::RecoveryOf(packets_, set_.id, set_.sliceSize);
        if (available.size() < missing_.size()) {
            host_.ReportError(std::to_string(missing_.size()) +
                              (missing_.size() == 1 ? " slice" : " slices") +
                              " of the parts are missing or damaged, and the recovery volumes of " +
                              indexTitle_ + " hold " + std::to_string(available.size()) +
                              (available.size() == 1 ? " recovery slice" : " recovery slices") +
                              ": too few to rebuild them");
            return RepairResult::kRefused;
        }
        if (missing_.size() > kMaxRebuilt) {
            host_.ReportError(std::to_string(missing_.size()) +
                              " slices of the parts are missing or damaged, more than the join "
                              "rebuilds (" +
                              std::to_string(kMaxRebuilt) + "): par2 repair " + indexTitle_ +
                              " may");
            return RepairResult::kRefused;
        }
        if (!missing_.empty() && !Rebuild(available)) return RepairResult::kRefused;
        // Rebuilt parts are named in the script's order.
        std::sort(rewrite_.begin(), rewrite_.end(), [&](std::size_t a, std::size_t b) {
            return Place(set_.files[a].name) < Place(set_.files[b].name);
        });
        WriteParts();
        return RepairResult::kRepaired;
    }

private:
    std::size_t Place(const std::string& part) const {
        return static_cast<std::size_t>(std::find(list_.parts.begin(), list_.parts.end(), part) -
                                        list_.parts.begin());
    }

    // The set's files beside the script: the index first, then the volumes.
    bool ReadSet() {
        std::vector<std::string> names;
        for (const std::string& name : files_.Names(folder_.PathOf("")))
            if (IsRecoveryFileTitle(list_.destination, name)) names.push_back(name);
        if (names.empty()) return false;
        std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
            return (a != indexTitle_) < (b != indexTitle_) ||
                   ((a != indexTitle_) == (b != indexTitle_) && a < b);
        });
        // A set file is read whole: it may be as large as every part together (100 %), not
        // much more.
        std::uint64_t parts = 0;
        for (const auto& [name, part] : parts_) {
            if (part.where == ScriptFolder::Where::kInside && part.status.regular) {
                parts += part.status.length;
                largest_ = std::max(largest_, part.status.length);
            }
        }
        limit_ = std::min(kMaxSetFileSize, 2 * parts + (std::uint64_t{64} << 20));
        std::optional<Md5Digest> id;
        for (const std::string& name : names) {
            const std::string path = folder_.PathOf(name);
            const ScriptFolder::Entry file = folder_.Look(name);
            if (file.where != ScriptFolder::Where::kInside || !file.status.regular ||
                file.status.length > limit_)
                continue;
            largest_ = std::max(largest_, file.status.length);
            const std::size_t before = packets_.mains.size();
            par2::Scan(ReadUpTo(*files_.OpenRead(path), limit_), sources_.size(), packets_);
            sources_.push_back(path);
            if (name == indexTitle_ && packets_.mains.size() > before)
                id = packets_.mains[before].setId;
        }
        par2::Assembled assembled = par2::Assemble(packets_, id);
        if (!assembled.set) {
            host_.Note("The recovery volumes of " + indexTitle_ + " cannot be used (" +
                       assembled.problem + "): the parts are joined as they are");
            return false;
        }
        set_ = std::move(*assembled.set);
        return true;
    }

    // The set protects parts the script lists, each once (empty parts are left out of it).
    // A set of other files, par2's own of the whole file for one, is none of the join's.
    bool MatchParts() {
        std::vector<std::string> parts = list_.parts;
        std::sort(parts.begin(), parts.end());
        std::vector<std::string> names;
        for (const par2::FileEntry& f : set_.files) names.push_back(f.name);
        std::sort(names.begin(), names.end());
        if (std::adjacent_find(names.begin(), names.end()) == names.end() &&
            std::includes(parts.begin(), parts.end(), names.begin(), names.end()))
            return true;
        host_.Note(indexTitle_ +
                   " protects other files than the parts the script lists: the "
                   "parts are joined as they are");
        return false;
    }

    // Reads every part against its slice checksums. false when a part is something the join
    // refuses anyway (not a file, a link out of the folder): it says so itself.
    bool CheckParts() {
        std::vector<char> buffer(static_cast<std::size_t>(set_.sliceSize));
        std::size_t index = 0;
        present_.assign(set_.sliceCount, false);
        for (std::size_t f = 0; f < set_.files.size(); ++f) {
            const par2::FileEntry& entry = set_.files[f];
            const std::size_t first = index;
            index += entry.slices.size();
            const ScriptFolder::Entry& part = parts_.at(entry.name);
            if (part.where == ScriptFolder::Where::kNothing) {
                MarkMissing(f, first);
                continue;
            }
            if (part.where == ScriptFolder::Where::kOutside || !part.status.regular) return false;
            auto file = files_.OpenRead(folder_.PathOf(entry.name));
            Md5 whole;
            Md5 md5;
            std::uint64_t left = entry.length;
            bool intact = file->Length() == entry.length;
            for (std::size_t s = 0; s < entry.slices.size(); ++s) {
                const auto want = static_cast<std::size_t>(std::min(left, set_.sliceSize));
                left -= want;
                const std::size_t got = ReadFull(*file, buffer.data(), want);
                whole.Update(buffer.data(), got);
                std::memset(buffer.data() + got, 0, buffer.size() - got);
                md5.Update(buffer.data(), buffer.size());
                if (md5.Final() == entry.slices[s].md5 && got == want) {
                    present_[first + s] = true;
                } else {
                    missing_.push_back(first + s);
                    intact = false;
                }
                host_.Yield();
            }
            if (whole.Final() != entry.hash) intact = false;
            if (!intact) rewrite_.push_back(f);
        }
        return true;
    }

    void MarkMissing(std::size_t f, std::size_t first) {
        for (std::size_t s = 0; s < set_.files[f].slices.size(); ++s) missing_.push_back(first + s);
        rewrite_.push_back(f);
    }

    // The lost slices, from as many recovery slices: R_e = sum over slices k of c_k^e D_k, so
    // sum over lost j of c_j^e D_j = R_e - (the same sum over the slices that are there).
    bool Rebuild(const std::vector<par2::Packets::Recovery>& available) {
        const std::size_t m = missing_.size();
        const auto slice = static_cast<std::size_t>(set_.sliceSize);
        const std::vector<std::uint32_t> logs = par2::SliceConstantLogs(set_.sliceCount);
        // The matrix of the lost slices' factors, inverted by Gauss-Jordan elimination.
        std::vector<par2::Packets::Recovery> used(available.begin(),
                                                  available.begin() + static_cast<long>(m));
        std::vector<std::vector<std::uint16_t>> a(m, std::vector<std::uint16_t>(2 * m, 0));
        for (std::size_t i = 0; i < m; ++i) {
            for (std::size_t j = 0; j < m; ++j)
                a[i][j] = Factor(logs[missing_[j]], used[i].exponent);
            a[i][m + i] = 1;
        }
        for (std::size_t col = 0; col < m; ++col) {
            std::size_t pivot = col;
            while (pivot < m && a[pivot][col] == 0) ++pivot;
            if (pivot == m) {
                host_.ReportError("The recovery slices of " + indexTitle_ +
                                  " cannot rebuild these slices together");
                return false;
            }
            std::swap(a[pivot], a[col]);
            const std::uint16_t inverse = gf16::Inverse(a[col][col]);
            for (std::uint16_t& x : a[col]) x = gf16::Multiply(x, inverse);
            for (std::size_t row = 0; row < m; ++row) {
                if (row == col || a[row][col] == 0) continue;
                const std::uint16_t factor = a[row][col];
                for (std::size_t k = 0; k < 2 * m; ++k)
                    a[row][k] ^= gf16::Multiply(factor, a[col][k]);
            }
        }
        // The recovery slices, less what the slices that are there put in them.
        std::vector<std::vector<char>> sums(m, std::vector<char>(slice));
        for (std::size_t source = 0; source < sources_.size(); ++source) {
            std::string bytes;
            for (std::size_t i = 0; i < m; ++i) {
                if (used[i].source != source) continue;
                if (bytes.empty()) bytes = ReadUpTo(*files_.OpenRead(sources_[source]), limit_);
                if (used[i].offset > bytes.size() || bytes.size() - used[i].offset < slice)
                    throw Failure(kDeviceIoError, "Recovery volume changed during the join (" +
                                                      FileTitleOf(sources_[source]) + ")");
                std::memcpy(sums[i].data(), bytes.data() + used[i].offset, slice);
            }
        }
        std::vector<char> buffer(slice);
        ForEachPresentSlice(buffer, [&](std::size_t k) {
            for (std::size_t i = 0; i < m; ++i)
                gf16::MultiplyAdd(Bytes(sums[i]), Bytes(buffer), slice,
                                  Factor(logs[k], used[i].exponent));
        });
        rebuilt_.assign(m, std::vector<char>(slice, '\0'));
        for (std::size_t j = 0; j < m; ++j) {
            for (std::size_t i = 0; i < m; ++i)
                gf16::MultiplyAdd(Bytes(rebuilt_[j]), Bytes(sums[i]), slice, a[j][m + i]);
            host_.Yield();
        }
        // Every rebuilt slice must be the one the checksums describe.
        std::size_t index = 0;
        for (const par2::FileEntry& entry : set_.files) {
            for (const par2::SliceCheck& check : entry.slices) {
                const auto at = std::find(missing_.begin(), missing_.end(), index++);
                if (at != missing_.end() &&
                    par2::Md5Of({rebuilt_[static_cast<std::size_t>(at - missing_.begin())].data(),
                                 slice}) != check.md5)
                    throw Failure(kDeviceIoError,
                                  "Recovery failed: a rebuilt slice does not match "
                                  "its checksum in " +
                                      indexTitle_);
            }
        }
        return true;
    }

    // Calls `use(k)` with each slice k that is there in `buffer`, zero-padded.
    template <typename Use>
    void ForEachPresentSlice(std::vector<char>& buffer, Use use) {
        std::size_t index = 0;
        for (const par2::FileEntry& entry : set_.files) {
            const std::size_t first = index;
            index += entry.slices.size();
            if (std::none_of(present_.begin() + static_cast<long>(first),
                             present_.begin() + static_cast<long>(index), [](bool p) { return p; }))
                continue;
            auto file = files_.OpenRead(folder_.PathOf(entry.name));
            std::uint64_t left = entry.length;
            for (std::size_t k = first; k < index; ++k) {
                const auto want = static_cast<std::size_t>(std::min(left, set_.sliceSize));
                left -= want;
                const std::size_t got = ReadFull(*file, buffer.data(), want);
                if (!present_[k]) continue;
                if (got != want)
                    throw Failure(kDeviceIoError,
                                  "Part changed during the join (" + entry.name + ")");
                std::memset(buffer.data() + got, 0, buffer.size() - got);
                use(k);
                host_.Yield();
            }
        }
    }

    // Every part to rebuild goes to a temporary file beside it, which takes the part's name once
    // it is whole, on the disk and matches the part's MD5 (one at a time, so that an
    // interruption removes the one there is).
    void WriteParts() {
        std::vector<char> buffer(static_cast<std::size_t>(set_.sliceSize));
        std::vector<std::size_t> firsts(set_.files.size() + 1, 0);
        for (std::size_t f = 0; f < set_.files.size(); ++f)
            firsts[f + 1] = firsts[f] + set_.files[f].slices.size();
        // A rebuilt part gets no permission that the parts left whole lack.
        std::uint32_t permissions = kAllPermissions;
        for (std::size_t f = 0; f < set_.files.size(); ++f) {
            if (std::find(rewrite_.begin(), rewrite_.end(), f) != rewrite_.end()) continue;
            const ScriptFolder::Entry& part = parts_.at(set_.files[f].name);
            if (part.where == ScriptFolder::Where::kInside) permissions &= part.status.permissions;
        }
        for (const std::size_t f : rewrite_) {
            const par2::FileEntry& entry = set_.files[f];
            const std::string path = folder_.PathOf(entry.name);
            TemporaryFile out(files_, path, "repair", permissions);
            std::unique_ptr<ReadableFile> old;
            if (parts_.at(entry.name).where == ScriptFolder::Where::kInside)
                old = files_.OpenRead(path);
            Md5 whole;
            std::uint64_t left = entry.length;
            for (std::size_t k = firsts[f]; k < firsts[f + 1]; ++k) {
                const auto want = static_cast<std::size_t>(std::min(left, set_.sliceSize));
                left -= want;
                const char* bytes = buffer.data();
                const std::size_t got = old ? ReadFull(*old, buffer.data(), want) : 0;
                if (!present_[k]) {
                    const auto at = std::find(missing_.begin(), missing_.end(), k);
                    bytes = rebuilt_[static_cast<std::size_t>(at - missing_.begin())].data();
                } else if (got != want) {
                    throw Failure(kDeviceIoError,
                                  "Part changed during the join (" + entry.name + ")");
                }
                out.file().Write(bytes, want);
                whole.Update(bytes, want);
            }
            if (whole.Final() != entry.hash)
                throw Failure(kDeviceIoError,
                              "Recovery failed: the rebuilt part does not match "
                              "its MD5 in " +
                                  indexTitle_ + " (" + entry.name + ")");
            old.reset();
            out.Finish();
            out.Rename(/*replace=*/true);
            parts_[entry.name] = folder_.Look(entry.name);
            host_.Note("Rebuilt " + entry.name + " from the recovery volumes of " + indexTitle_);
        }
    }

    const ScriptFolder& folder_;
    const JoinList& list_;
    LookedParts& parts_;
    RunHost& host_;
    FileSystem& files_;

    std::string indexTitle_;
    std::uint64_t largest_ = 0;  // the largest part or set file
    std::uint64_t limit_ = 0;    // the most bytes of a set file read
    par2::Packets packets_;
    std::vector<std::string> sources_;  // the paths scanned, by their number in packets_
    par2::Set set_;
    std::vector<bool> present_;               // by slice
    std::vector<std::size_t> missing_;        // slices, in order
    std::vector<std::size_t> rewrite_;        // files
    std::vector<std::vector<char>> rebuilt_;  // by place in missing_
};

}  // namespace

RepairResult RepairParts(const ScriptFolder& folder, const JoinList& list, LookedParts& parts,
                         RunHost& host) {
    return Repair(folder, list, parts, host).Go();
}

}  // namespace splitter
