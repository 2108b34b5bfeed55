// The join: rebuilds a file from its parts by reading the join script that the split wrote
// beside them (see join_script.h), after checking every part against the plan of a split.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_host.h"
#include "files/file_system.h"

namespace splitter {

struct JoinOptions {
    bool force = false;     // replace a destination that exists
    bool anySizes = false;  // join parts whose sizes do not fit
    // Where the joined bytes go instead of a destination file (join --stdout): no file is made
    // or looked at, each part with a line in the checksum file is checked before it is sent,
    // and a mismatch of the whole is found after the bytes. Not owned.
    WritableFile* stream = nullptr;
    // The file the stream writes into, when it is one (`>> data.bin.0`): never one of the parts.
    std::optional<FileId> streamFile = std::nullopt;
};

enum class JoinResult {
    kDone,               // the destination is in place, byte for byte the parts
    kBadScript,          // the script cannot be read as a join
    kMissingParts,       // a listed part is absent or not a regular file
    kSizesDoNotFit,      // a part was cut or grown (see FindSizeMisfit)
    kBadChecksums,       // the checksum file cannot be read as one, or names another split
    kChecksumMismatch,   // a part, or the file they make, is not what the checksum file says
    kDestinationExists,  // and `force` was not given
    kRefused,            // the destination is one of the parts, or not a regular file
    kCannotRepair,       // parts are lost or damaged beyond what the recovery volumes rebuild
    kFailed,             // a file operation failed ("Error CODE: DESCRIPTION")
};

inline constexpr const char* kJoiningText = "Joining... ";
inline constexpr const char* kCheckingText = "Checking... ";

// A part whose size does not fit: part `part` was expected to hold `expected` bytes.
struct SizeMisfit {
    std::size_t part;
    std::uint64_t expected;
};

// The parts carry no header, so without a checksum file their sizes are the only check there
// is: they must be those of a split by count, PlanPartSizes(their total, their count), or of a
// split by size, PlanSizedParts(their total, the first part's size). When they are neither,
// names the part to blame: the first that differs from the plan, of either kind, that fits the
// most parts (one part cut short or grown leaves all the others fitting the plan of the
// original). nullopt when the sizes fit.
//
// What this cannot see: a change that leaves the sizes those of another split. A last part cut
// short (but not emptied) fits a split by size of a shorter file; with many parts, a last part
// cut by fewer bytes than there are parts also fits a split by count of a shorter file.
// The sizes are those of a join script's parts, at most 999 (a script lists no more): each
// candidate plan is compared part by part.
std::optional<SizeMisfit> FindSizeMisfit(const std::vector<std::uint64_t>& sizes);

// Joins the parts listed by the script at `scriptPath` into its destination, both in the
// script's folder. Everything is checked before anything is written: the script, that every
// part is there (all missing ones are reported at once), their sizes, and the destination.
// The parts are then copied into a new temporary file beside the destination (TemporaryFile),
// which is flushed to the disk and whose size is checked before it is renamed into place; on
// any failure, or an interruption of the program, the temporary file is removed, so the
// destination is either whole or untouched. Failures name the destination, never the temporary
// file. The parts are only read. Parts that add up to more than a file can hold (2^63 - 1
// bytes) are refused (kRefused); the file gets no permission that a part lacks.
//
// When the checksum file of a split, DESTINATION.sha256 (see checksum.h), lies beside the
// script, it is read with the script and the join is checked against it. With a line for the
// whole file, only the whole is hashed as it is copied (one hash pass) and checked before the
// rename; when it differs, the parts are read again and the first whose line differs is named.
// Without one, each part with a line is hashed as it is copied, and the run stops at the first
// that differs. A mismatch leaves the temporary file removed.
//
// When a recovery set of the parts, DESTINATION.par2 and its volumes (engine/recovery/), lies
// beside the script, the parts are checked against it with the other checks, and those lost or
// damaged are rebuilt after every check and before the copy (PartsRepair); too few recovery
// slices is a refusal (kCannotRepair). A run that stops after the repair wrote parts returns
// kFailed, never a refusal: something was written.
//
// Status texts: "Joining... ", then "Joining... [ P % Completed. ]" for the same percentages,
// at the same bytes, as a split of the same total shows (see progress_copier.h), then "Done !".
JoinResult Join(const std::string& scriptPath, const JoinOptions& options, RunHost& host,
                FileSystem& files = FileSystem::Default());

// What CheckSplitParts finds.
enum class PartsVerdict {
    kIntact,      // every part is there and as the split made it, as far as can be told
    kRepairable,  // parts are lost or damaged, and the recovery volumes rebuild them
    kBroken,      // the parts cannot be made whole (or the script, or the checksum file, is bad)
    kFailed,      // a file operation failed ("Error CODE: DESCRIPTION")
};

// The join's checks of the parts that the script at `scriptPath` lists, in the join's order and
// with its messages, and no joined file: against the recovery set when one of these parts lies
// beside the script (which then reads each part once), else against the checksum file's part
// lines (each part read once, hashed on the side as a split hashes), else by presence and size.
// Every part that is missing, cut short or damaged is named. Without `repair` nothing is
// written. With `repair`, parts that the set can rebuild are rebuilt in place as the join
// rebuilds them (PartsRepair::Rebuild: the split's own part names only, what they replace kept
// beside them), and kIntact is returned once they are; nothing is written when the set cannot
// rebuild them all.
PartsVerdict CheckSplitParts(const std::string& scriptPath, bool repair, RunHost& host,
                             FileSystem& files = FileSystem::Default());

}  // namespace splitter
