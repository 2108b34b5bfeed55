// The split run: cuts one file into parts beside it and writes the join script.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/run_host.h"
#include "files/file_system.h"

namespace splitter {

// A split asks one thing more of its host than a join does.
class SplitHost : public RunHost {
public:
    // Something the user must know about a run that got through, told once it is done: a
    // window shows it in a message box, the command line on standard error.
    virtual void Warn(const std::string& message) = 0;
};

inline constexpr const char* kSplittingText = "Splitting... ";
inline constexpr const char* kUnableText = "Unable to split...";

enum class SplitResult {
    kDone,           // "Done !": every part and the script are written
    kUnableToSplit,  // "Unable to split...": the file has fewer bytes than parts; nothing written
    kFailed,         // the error box was shown; parts written so far stay on disk
    kBadPartCount,   // a split by size would make fewer than 2 or more than 999 parts; nothing
                     // written, the count reported
    kRefused,        // an output's name holds a file the split may not replace (another
                     // program's recovery set); nothing written, the reason reported
};

// How a split cuts its file.
struct SplitPlan {
    // Into `parts` parts (2 to 999), every part but the last of the length divided by the
    // count, rounded up (PlanPartSizes): the window's way.
    static SplitPlan Count(std::int16_t parts) { return {parts, 0}; }
    // Into parts of `partSize` bytes (1 or more), the last holding the rest (PlanSizedParts).
    // The count this comes to must be 2 to 999.
    static SplitPlan Size(std::uint64_t partSize) { return {0, partSize}; }

    std::int16_t parts;
    std::uint64_t partSize;  // 0 for a split by count
};

struct SplitOptions {
    // Also write sFilePath + ".sha256" (see checksum.h), hashing the bytes as they are copied.
    bool checksum = false;
    // Also write a PAR 2.0 set protecting the parts (engine/recovery/layout.h) with --recovery
    // PERCENT (1 to 100); 0 for none.
    int recoveryPercent = 0;
};

// Cuts the file at `path`, whose name without a folder is `title`, into parts beside it, as
// `plan` says, and writes the join script path + ".bat", which names the parts title + "." + k
// (part k is path + "." + k). A split by count of a file with fewer bytes than parts writes
// nothing and returns kUnableToSplit; a split by size that would make fewer than 2 or more than
// 999 parts reports the count it would make ("data.bin has 5000 bytes: parts of 10 bytes would
// make 500 parts, ...") and returns kBadPartCount, before any file is written.
//
// The script appears whole or not at all (TemporaryFile), in place of any file of that name;
// with `options.checksum`, the checksum file after it, the same way. Before the first part is
// opened, every name the run will make is checked (names and paths too long included) and the
// script and checksum file of an earlier split are removed, so a run that stops half way leaves
// no script listing parts of two versions. The outputs get no permission the source lacks. A
// source whose length or modification time changed by the end of the parts gets no script:
// code 57, "File changed during the split (NAME)".
//
// The script names the parts in the code page cmd will read it in (CommandScriptBytes); when that
// code page cannot spell the name, and this system writes the script all the same, the host is
// warned after "Done !" that cmd will not find the parts.
//
// Status texts, in order: "Splitting... ", then "Splitting... [ P % Completed. ]" each time
// the whole-number percentage (of the whole file) of the byte just copied changes, then
// "Done !" (or "Unable to split..."). A failure of any file operation reports
// "Error CODE: DESCRIPTION" to the host and ends the run; every file the run opened is closed
// by then. The source is only ever read.
//
// Besides the yields that go with each change of the percentage, a long run yields about every
// 100 ms without touching the status, so the window keeps answering.
SplitResult SplitFile(const std::string& path, const std::string& title, const SplitPlan& plan,
                      SplitHost& host, const SplitOptions& options = {},
                      FileSystem& files = FileSystem::Default());

// Cuts the stream `input` (standard input), read to its end, into parts of `partSize` bytes
// (1 or more) at `path` + "." + k, the last holding the rest, as SplitFile does a file by size,
// with all its rules: the names checked before anything is written (the longest a stream may
// need included), links refused, the earlier split's script, checksum file and set removed
// before the first part, the parts and set written whole, the script last. Since the count is
// known only at the end, each part's name is checked again just before it is made, and the
// set's names (but its index's) after the last. A stream of one part, or none (an empty part),
// is split too. A stream that would need more than 999 parts ends the run as a failure once
// the 999th is full, with no script. With `options.checksum` the digests are made as the bytes
// come. The outputs get the permissions a new file gets. Status texts: "Splitting... ", then,
// after the recovery set's progress when there is one, "Done !".
SplitResult SplitStream(std::unique_ptr<ReadableFile> input, const std::string& path,
                        std::uint64_t partSize, SplitHost& host, const SplitOptions& options = {},
                        FileSystem& files = FileSystem::Default());

}  // namespace splitter
