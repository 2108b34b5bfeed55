#include "engine/recovery/layout.h"

#include <algorithm>

#include "engine/recovery/packets.h"
#include "files/failure.h"

namespace splitter {
namespace {

// Slices over all the parts where parts are few: the work of a set is (recovery slices) x (file
// length), and the recovery slices are a share of these.
constexpr std::uint64_t kSlicesPerFile = 256;

int Digits(std::uint32_t n) {
    int digits = 1;
    for (; n >= 10; n /= 10) ++digits;
    return digits;
}

std::string Padded(std::uint32_t n, int digits) {
    std::string text = std::to_string(n);
    if (static_cast<int>(text.size()) < digits)
        text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
    return text;
}

// Whether `name` is that of a part of `title`: TITLE.0, TITLE.1, ...
bool IsPartName(const std::string& title, const std::string& name) {
    return name.size() > title.size() + 1 && name.compare(0, title.size(), title) == 0 &&
           name[title.size()] == '.' &&
           name.find_first_not_of("0123456789", title.size() + 1) == std::string::npos;
}

// Whether every set that the packets hold protects parts of `title` and nothing else.
bool ProtectsPartsOf(const par2::Packets& packets, const std::string& title) {
    if (packets.mains.empty()) return false;
    for (const par2::Packets::Main& main : packets.mains) {
        for (const Md5Digest& id : main.fileIds) {
            const auto d =
                std::find_if(packets.descriptions.begin(), packets.descriptions.end(),
                             [&](const par2::Packets::Description& candidate) {
                                 return candidate.setId == main.setId && candidate.file.id == id;
                             });
            if (d == packets.descriptions.end() || !IsPartName(title, d->file.name)) return false;
        }
    }
    return true;
}

}  // namespace

RecoveryPlan PlanRecovery(const std::vector<std::uint64_t>& partLengths, int percent) {
    RecoveryPlan plan;
    std::uint64_t parts = 0;
    std::uint64_t largest = 0;
    for (const std::uint64_t length : partLengths) {
        if (length == 0) continue;
        ++parts;
        largest = std::max(largest, length);
    }
    if (parts == 0) return plan;
    const std::uint64_t perPart = std::max<std::uint64_t>(1, (kSlicesPerFile + parts - 1) / parts);
    const std::uint64_t perSlice = (largest + perPart - 1) / perPart;
    plan.sliceSize = std::max<std::uint64_t>(4, (perSlice + 3) / 4 * 4);
    std::uint64_t slices = 0;
    for (const std::uint64_t length : partLengths) slices += par2::SlicesOf(length, plan.sliceSize);
    plan.slicesPerPart = static_cast<std::uint32_t>(par2::SlicesOf(largest, plan.sliceSize));
    const auto p = static_cast<std::uint64_t>(percent);
    const std::uint64_t share = (slices * p + 99) / 100;
    const std::uint64_t wholeParts = parts * p / 100;
    plan.count = static_cast<std::uint32_t>(
        std::max<std::uint64_t>({1, share, wholeParts * plan.slicesPerPart}));
    plan.rebuildsParts =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(parts, plan.count / plan.slicesPerPart));
    return plan;
}

std::vector<std::string> RecoveryFileTitles(const std::string& title, std::uint32_t count) {
    std::vector<std::string> titles{RecoveryIndexTitle(title)};
    // Volumes of 1, 2, 4, ... slices and what is left, numbered as par2 numbers them.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> volumes;
    std::uint32_t largest = 0;
    for (std::uint32_t first = 0, size = 1; first < count; size *= 2) {
        const std::uint32_t n = std::min(size, count - first);
        volumes.emplace_back(first, n);
        largest = std::max(largest, n);
        first += n;
    }
    for (const auto& [first, n] : volumes)
        titles.push_back(title + ".vol" + Padded(first, Digits(count)) + "+" +
                         Padded(n, Digits(largest)) + ".par2");
    return titles;
}

bool IsRecoveryFileTitle(const std::string& title, const std::string& name) {
    if (name == RecoveryIndexTitle(title)) return true;
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

SetFiles FindSetFiles(const std::string& folder, const std::string& title, FileSystem& files) {
    SetFiles found;
    std::vector<std::string> names;
    for (const std::string& name : files.Names(folder))
        if (IsRecoveryFileTitle(title, name)) names.push_back(name);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = folder + name;
        bool ours = false;
        if (!files.IsLink(path)) {
            const auto status = files.Status(path);
            if (status && status->regular) {
                par2::Packets packets;
                try {
                    // What a file protects is in its small packets: its recovery slices are
                    // stepped over unread.
                    par2::Scan([&] { return files.OpenRead(path); }, 0, packets,
                               /*recoveryBodies=*/false);
                    ours = ProtectsPartsOf(packets, title);
                } catch (const Failure&) {
                    // Unreadable: nobody can tell it is ours.
                }
            }
        }
        (ours ? found.ours : found.others).push_back(name);
    }
    return found;
}

}  // namespace splitter
