// Writes the recovery set of a split's parts (see layout.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/recovery/layout.h"
#include "engine/run_host.h"
#include "files/file_system.h"

namespace splitter {

// Writes the set for the parts `partTitles` in the folder `folder` (with its trailing separator)
// of the file `title`, shaped by PlanRecovery(their lengths, percent), and returns that plan.
// Every file of the set appears whole or not at all, and all of them only once every one is
// written, in place of any file of that name (the caller has checked that none is another's);
// each gets at most `permissions` (the source's). The recovery slices are held in at most
// `memory` bytes (or one slice): a set larger than that takes more than one pass over the parts.
// Shows its progress through the host. Throws Failure.
RecoveryPlan WriteRecoverySet(const std::string& folder, const std::string& title,
                              const std::vector<std::string>& partTitles, int percent,
                              std::uint32_t permissions, RunHost& host, FileSystem& files,
                              std::size_t memory = kRecoveryMemory);

class SetWork;

// The same set, worked out while the parts are still being copied: from the bytes they are cut
// from, on a thread of its own, and written once they are on the disk. The copy and the set then
// share the processors instead of following each other, and the parts are not read back.
class EarlyRecoverySet {
public:
    // Opens the bytes of part k from its first (the source, moved on to where the part starts).
    using Opener = std::function<std::unique_ptr<ReadableFile>(std::size_t part)>;

    // Whether a set for parts of these lengths can be made so: in one pass within `memory`,
    // with every part open at once.
    static bool Fits(const std::vector<std::uint64_t>& lengths, int percent,
                     std::size_t memory = kRecoveryMemory);

    // Opens every part (twice: once for its first bytes, which the set's description needs
    // first) on the caller's thread; Make only reads what is open.
    EarlyRecoverySet(const std::vector<std::string>& partTitles,
                     const std::vector<std::uint64_t>& lengths, int percent, const Opener& open,
                     std::size_t memory = kRecoveryMemory);
    ~EarlyRecoverySet();
    EarlyRecoverySet(const EarlyRecoverySet&) = delete;
    EarlyRecoverySet& operator=(const EarlyRecoverySet&) = delete;

    // The bytes Make reads.
    std::uint64_t Total() const;

    // Reads the parts and works the set out, counting the bytes read in `done`; returns early
    // when `stop` is set. Safe on a thread of its own: it touches nothing but its own files.
    // Throws Failure.
    void Make(std::atomic<std::uint64_t>& done, const std::atomic<bool>& stop);

    // Writes the set's files as WriteRecoverySet does, once Make has returned without a stop.
    RecoveryPlan Write(const std::string& folder, const std::string& title,
                       std::uint32_t permissions, FileSystem& files);

private:
    std::unique_ptr<SetWork> work_;
    std::vector<std::unique_ptr<ReadableFile>> readers_;  // by part
    std::vector<std::vector<char>> slices_;
};

}  // namespace splitter
