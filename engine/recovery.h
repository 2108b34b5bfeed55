// Recovery volumes: a PAR 2.0 set that protects the parts of a split (see par2.h), written by a
// split with --recovery and read by the join, which rebuilds lost or damaged parts from it.
//
// Beside the parts, as Parchive's own tools lay a set out:
//   FILE.par2                  the index: the main packet, a description and the slice
//                              checksums of every part, the creator
//   FILE.volFIRST+COUNT.par2   COUNT recovery slices from exponent FIRST, with copies of the
//                              index's packets among them; counts 1, 2, 4, ... and the rest
// Any set of recovery slices as large as the slices lost rebuilds them, whichever parts they
// were in: Debian's `par2 repair FILE.par2` does it as well as the join.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/join_script.h"
#include "engine/run_host.h"
#include "engine/script_folder.h"
#include "files/file_system.h"

namespace splitter {

// The index of the set protecting the parts of sourcePath: sourcePath + ".par2".
inline std::string RecoveryIndexPath(const std::string& sourcePath) {
    return sourcePath + ".par2";
}

// The shape of a set: slices of `sliceSize` bytes (a multiple of 4, about 1/256 of the file,
// so that the work to make them stays a fixed multiple of the file's size) and `count`
// recovery slices, together `percent` per cent of the file's length or just more.
struct RecoveryPlan {
    std::uint64_t sliceSize = 4;
    std::uint32_t count = 1;
};
RecoveryPlan PlanRecovery(std::uint64_t length, int percent);

// The most memory the recovery slices of a split take: 10 % of a 2.5 GiB file.
inline constexpr std::size_t kRecoveryMemory = std::size_t{256} << 20;

// The names of the set's files (FILE.par2 first), for a set of `count` recovery slices.
std::vector<std::string> RecoveryFileTitles(const std::string& title, std::uint32_t count);

// Whether a file name is one of the files of a set for `title` (FILE.par2, FILE.vol*.par2).
bool IsRecoveryFileTitle(const std::string& title, const std::string& name);

// Writes the set for the parts `partTitles` in the folder `folder` (with its trailing separator)
// of the file `title`: each file appears whole or not at all, in place of any file of that name,
// and sets of an earlier split beside them are removed first; each gets at most `permissions`
// (the source's). The recovery slices are held in at most `memory` bytes (or one slice): a set
// larger than that takes more than one pass over the parts. Throws Failure.
void WriteRecoverySet(const std::string& folder, const std::string& title,
                      const std::vector<std::string>& partTitles, int percent,
                      std::uint32_t permissions, RunHost& host, FileSystem& files,
                      std::size_t memory = kRecoveryMemory);

// Removes, before a split writes its parts, the set of an earlier split of `title` in `folder`:
// FILE.par2 and its volumes, when FILE.par2 protects parts of that file (FILE.0, FILE.1, ...).
// A set of anything else (par2's own of the whole file) is left alone. Throws Failure.
void RemoveEarlierRecoverySet(const std::string& folder, const std::string& title,
                              FileSystem& files);

enum class RepairResult {
    kNoSet,     // no set beside the script, or none that can be used: the join goes on as always
    kIntact,    // every part matches its slice checksums
    kRepaired,  // the parts that did not are rebuilt, each whole, in place
    kRefused,   // too few recovery slices; nothing written
};

// Checks the parts of `list` in the script's folder against the set DESTINATION.par2 there and
// rebuilds what is lost or damaged where the recovery slices suffice (see the README). `parts`
// holds what every part's name held when the join looked at it; a part it rebuilds is looked at
// again. Files that are links out of the folder are not read. Says through the host which parts
// it rebuilt, or why it cannot. Throws Failure.
RepairResult RepairParts(const ScriptFolder& folder, const JoinList& list, LookedParts& parts,
                         RunHost& host);

}  // namespace splitter
