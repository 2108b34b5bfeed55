// Recovery volumes: a PAR 2.0 set that protects the parts of a split, written by a split with
// --recovery and read by the join, which rebuilds lost or damaged parts from it.
//
// Beside the parts, as Parchive's own tools lay a set out:
//   FILE.par2                  the index: the main packet, a description and the slice
//                              checksums of every part, the creator
//   FILE.volFIRST+COUNT.par2   COUNT recovery slices from exponent FIRST, with copies of the
//                              index's packets among them; counts 1, 2, 4, ... and the rest
// Any set of recovery slices as large as the slices lost rebuilds them, whichever parts they
// were in: Debian's `par2 repair FILE.par2` does it as well as the join.
//
// This header holds the set's shape: how large its slices are, how many, and its file names,
// and which sets beside a file's parts are a split's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/file_system.h"

namespace splitter {

// The index of the set protecting the parts of the file `title`.
inline std::string RecoveryIndexTitle(const std::string& title) {
    return title + ".par2";
}

// The most memory the recovery slices of a split, or the slices a join rebuilds, take at once.
inline constexpr std::size_t kRecoveryMemory = std::size_t{256} << 20;

// The shape of a set for parts of given lengths with --recovery PERCENT. Every part holds whole
// slices, at most `slicesPerPart` (about 256 slices over all the parts, at least one a part), so
// that a lost part costs that many recovery slices whatever the number of parts; the `count`
// recovery slices are PERCENT per cent of the slices, or more where that is needed to rebuild
// any floor(PERCENT x parts / 100) lost parts. Empty parts are no part of a set.
struct RecoveryPlan {
    std::uint64_t sliceSize = 4;  // a multiple of 4
    std::uint32_t slicesPerPart = 1;
    std::uint32_t count = 1;
    // Any this many lost parts are rebuilt (and any `count` damaged slices).
    std::uint32_t rebuildsParts = 0;
};
RecoveryPlan PlanRecovery(const std::vector<std::uint64_t>& partLengths, int percent);

// The names of the set's files (FILE.par2 first), for a set of `count` recovery slices.
std::vector<std::string> RecoveryFileTitles(const std::string& title, std::uint32_t count);

// Whether a file name is one of the files of a set for `title` (FILE.par2, FILE.vol*.par2).
bool IsRecoveryFileTitle(const std::string& title, const std::string& name);

// The files in `folder` (with its trailing separator) named as the files of a set for `title`,
// told apart by what their packets say, not by their names.
struct SetFiles {
    // Files of sets that protect parts of `title` (TITLE.0, TITLE.1, ...) and nothing else,
    // whoever made them: an earlier split's set, its index lost or not.
    std::vector<std::string> ours;
    // Everything else: another program's set (par2's of the whole file), a file that cannot be
    // read as a set, a link, a folder. Never removed or replaced.
    std::vector<std::string> others;
};
SetFiles FindSetFiles(const std::string& folder, const std::string& title, FileSystem& files);

}  // namespace splitter
