// The join's use of a recovery set (see layout.h): the parts checked against it, and those lost
// or damaged rebuilt from its recovery slices. The check reads and writes nothing; only
// Rebuild writes, and only the split's own part names (DEST.0, DEST.1, ... as the script lists
// them) in the script's folder, keeping whatever it replaces.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/recovery/layout.h"
#include "engine/recovery/packets.h"
#include "engine/recovery/reed_solomon.h"
#include "engine/run_host.h"
#include "engine/script_folder.h"

namespace splitter {

// Names of parts as messages list them: "data.bin.2", "data.bin.2 and data.bin.5",
// "data.bin.2, data.bin.5 and data.bin.6"; the first ten of a longer list, and how many more.
std::string ListedParts(const std::vector<std::string>& names);

// A part that Rebuild wrote.
struct RebuiltPart {
    std::string part;
    // The name the bytes it replaced now have; empty when there were none (the part was lost).
    std::string keptAs;
};

class PartsRepair {
public:
    enum class Verdict {
        kNoSet,       // no usable set of these parts beside the script: the join goes on as always
        kIntact,      // every part the set protects is as the set describes it
        kRepairable,  // some are lost or damaged, and the recovery slices rebuild them
        kTooFew,      // some are lost or damaged beyond what the recovery slices rebuild
    };

    // Reads the set DESTINATION.par2 and its volumes in `folder`, where they protect `parts`
    // (the script's list, whose destination is `destination`), and checks the parts against it,
    // showing its progress through the host; says through the host why a set is not used, or a
    // volume not read. A set file or part that is a link out of the folder is not read. Writes
    // nothing. The recovery slices and rebuilt slices are held in at most `memory` bytes (or
    // one slice). Throws Failure.
    PartsRepair(const ScriptFolder& folder, const std::string& destination,
                const std::vector<std::string>& parts, RunHost& host,
                std::size_t memory = kRecoveryMemory);

    Verdict verdict() const { return verdict_; }
    // The parts lost or damaged, in the script's order.
    const std::vector<std::string>& damaged() const { return damaged_; }
    // The length the set gives a part it protects.
    std::optional<std::uint64_t> LengthOf(const std::string& part) const;
    // With kTooFew: why, naming the parts.
    const std::string& problem() const { return problem_; }
    // The permission bits that every file of the set and every part there has.
    std::uint32_t permissions() const { return permissions_; }

    // With kRepairable: rebuilds the damaged parts in place, each whole, on the disk and checked
    // against its MD5 before it takes its name, with at most `permissions`. A part it replaces
    // keeps its bytes beside it under a new name. Says through the host what it rebuilt, and
    // returns it. Throws Failure.
    std::vector<RebuiltPart> Rebuild(std::uint32_t permissions);

private:
    bool ReadSet(const std::vector<std::string>& parts);
    bool PlanAhead();
    bool CheckParts(bool ahead);
    void ScanVolumes();
    const std::vector<par2::Packets::Recovery>& Available();
    void Judge();
    void NotUsed(const std::string& why);

    const ScriptFolder& folder_;
    const std::string destination_;
    RunHost& host_;
    FileSystem& files_;
    const std::size_t memory_;
    const std::string indexTitle_;

    Verdict verdict_ = Verdict::kNoSet;
    std::vector<std::string> damaged_;
    std::string problem_;
    std::uint32_t permissions_ = kAllPermissions;

    std::vector<std::string> sources_;  // the set files read, by their number in the packets
    std::uint64_t largest_ = 0;         // the largest part or set file
    par2::Set set_;
    std::map<std::string, std::size_t, std::less<>> place_;  // of each part in the script
    std::vector<std::uint32_t> logs_;                        // the slices' constants
    std::vector<bool> present_;                              // by slice
    std::vector<std::size_t> missing_;                       // slices, in order
    std::vector<std::size_t> rewrite_;                       // files of the set, in its order
    std::vector<par2::Packets::Recovery> used_;              // as many as missing_
    std::optional<rs::Solution> solution_;
    // The set's recovery slices whose checksums hold, once read.
    std::optional<std::vector<par2::Packets::Recovery>> available_;
    // Slices of parts that are not there at all, rebuilt by the check as it reads the others
    // (PlanAhead): the rebuilt slices when they are all that is missing and the recovery slices
    // read for them are whole.
    std::vector<std::size_t> aheadMissing_;
    std::vector<std::vector<char>> ahead_;
    // The recovery slices the set's files hold by their headers, not yet checked.
    std::vector<par2::Packets::Recovery> unchecked_;
    // The volumes scanned for their recovery slices' checksums (ScanVolumes), from any thread.
    std::vector<par2::Packets> scanned_;
    std::vector<std::string> skipped_;
    std::atomic<std::size_t> nextScan_{0};
    std::future<void> scanning_;  // last: waited for before what it uses goes
};

}  // namespace splitter
