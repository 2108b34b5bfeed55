// The join: rebuilds a file from its parts by reading the join script that the split wrote
// beside them. The script is the one record of which parts make the file and in what order, so
// it is read here as cmd would read it, and anything it might read differently is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace splitter {

// What a join script asks for: these parts, in this order, make the file `destination`. Names
// carry no folder; they are looked up in the script's own folder.
struct JoinList {
    std::vector<std::string> parts;
    std::string destination;
};

// A script that cannot be read as a join. `line` is 1-based; 0 when no one line is at fault.
class ScriptError : public std::runtime_error {
public:
    ScriptError(int line, const std::string& reason)
        : std::runtime_error(reason), line_(line), reason_(reason) {}
    int line() const { return line_; }
    const std::string& reason() const { return reason_; }

private:
    int line_;
    std::string reason_;
};

// Reads the text of a join script: every form JoinScriptText writes, and the same by hand
// (LF or CR LF line ends, a final line break or none, any letter case in the commands, spaces
// around '+', unquoted names that need no quotes). Understood lines:
// - blank lines, and `echo`, `rem` and `::` lines, which only print or say nothing;
// - `copy /b SOURCE+SOURCE+... DEST`: the first such line lists the first parts and names the
//   destination; each later one is `copy /b DEST+SOURCE+... DEST` and appends more parts.
// In names, "%%" stands for '%'. Throws ScriptError for the first line that is anything else,
// or holds anything cmd would read otherwise: a lone '%', a redirection, a command separator,
// an unclosed quote, a name with a folder in it.
JoinList ParseJoinScript(const std::string& text);

// A part whose size does not fit: part `part` was expected to hold `expected` bytes.
struct SizeMisfit {
    std::size_t part;
    std::uint64_t expected;
};

// The parts carry no header, so their sizes are the only check there is: they must be
// PlanPartSizes(their total, their count). When they are not, names the part to blame: the
// first that differs from the plan that fits the most parts (one part cut short or grown leaves
// all the others fitting the plan of the original total). nullopt when the sizes fit.
std::optional<SizeMisfit> FindSizeMisfit(const std::vector<std::uint64_t>& sizes);

// What a join needs of whoever runs it.
class JoinHost {
public:
    virtual ~JoinHost() = default;
    // Sets the status text.
    virtual void SetStatus(const std::string& text) = 0;
    // Dispatches the window events queued so far and returns.
    virtual void Yield() = 0;
    // One reason why the join stops: a script line it cannot read, a missing part, or a
    // failure "Error CODE: DESCRIPTION". Several may come before the join gives up.
    virtual void Report(const std::string& message) = 0;
};

struct JoinOptions {
    bool force = false;     // replace a destination that exists
    bool anySizes = false;  // join parts whose sizes do not fit
};

enum class JoinResult {
    kDone,               // the destination is in place, byte for byte the parts
    kBadScript,          // the script cannot be read as a join
    kMissingParts,       // a listed part is absent or not a regular file
    kSizesDoNotFit,      // a part was cut or grown (see FindSizeMisfit)
    kDestinationExists,  // and `force` was not given
    kRefused,            // the destination is one of the parts, or not a regular file
    kFailed,             // a file operation failed ("Error CODE: DESCRIPTION")
};

inline constexpr const char* kJoiningText = "Joining... ";

// "Joining... [ 42 % Completed. ]"
std::string JoinProgressText(int percent);

// Joins the parts listed by the script at `scriptPath` into its destination, both in the
// script's folder. Everything is checked before anything is written: the script, that every
// part is there (all missing ones are reported at once), their sizes, and the destination.
// The parts are then copied into a new temporary file beside the destination, whose size is
// checked before it is renamed into place; on any failure the temporary file is removed, so the
// destination is either whole or untouched. The parts are only read.
//
// Status texts: "Joining... ", then "Joining... [ P % Completed. ]" for the same percentages,
// in the same order, as a split of the same total shows (each once the bytes up to its point,
// and at most 64 KiB more, are in place), then "Done !".
JoinResult Join(const std::string& scriptPath, const JoinOptions& options, JoinHost& host,
                FileSystem& files = FileSystem::Default());

}  // namespace splitter
