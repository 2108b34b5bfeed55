// The join script: a command script for the Windows command interpreter that rebuilds the
// source from its parts with `copy /b`. It is the only record of how the parts fit together, so
// it is written for cmd and read back as cmd would read it, refusing anything cmd might read
// differently.
//
// For ordinary names the text is exactly
//
//   @Echo Off<CR LF>
//   Echo Tarvo Group's File Splitter<CR LF>
//   Echo *************************<CR LF>
//   copy /b "NAME.0"+"NAME.1"+...+"NAME.N-1" NAME
//
// with no line break after the last line. Names that cmd would misread get the escapes below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/text_lines.h"
#include "files/file_system.h"

namespace splitter {

// ---- writing --------------------------------------------------------------------------------

// Longest line cmd reads from a batch file; longer lines are cut without a word.
inline constexpr std::size_t kMaxScriptLine = 8191;

inline constexpr const char* kScriptHeader =
    "@Echo Off\r\nEcho Tarvo Group's File Splitter\r\nEcho *************************\r\n";

// Throws Failure kBadFileName when `fileTitle` cannot be carried by a command script at all:
// it is empty, or holds a double quote or a control character.
void CheckScriptableName(const std::string& fileTitle);

// The name of part k as the script lists it: fileTitle + "." + k.
std::string PartTitle(const std::string& fileTitle, int k);

// The script's full text for `parts` parts of `fileTitle`, as the script file holds it.
// - '%' is written "%%": cmd expands '%' even inside quotes.
// - The destination is quoted when it holds a space or one of &()[]{}^=;!'+,`~<>|.
// - When the one `copy` line would pass kMaxScriptLine, the parts are spread over several
//   `copy /b` lines: the first builds the destination, each later one appends to it.
// Calls CheckScriptableName first.
std::string JoinScriptText(const std::string& fileTitle, int parts);

// The path of the script for a source: sourcePath + ".bat".
inline std::string JoinScriptPath(const std::string& sourcePath) {
    return sourcePath + ".bat";
}

// ---- reading --------------------------------------------------------------------------------

// What a join script asks for: these parts, in this order, make the file `destination`. Names
// carry no folder; they are looked up in the script's own folder.
struct JoinList {
    std::vector<std::string> parts;
    std::string destination;
};

// Reads the text of a join script: every form JoinScriptText writes, and the same by hand
// (LF or CR LF line ends, a final line break or none, any letter case in the commands, spaces
// around '+', unquoted names that need no quotes). Understood lines:
// - blank lines, and `echo`, `rem` and `::` lines, which only print or say nothing;
// - `copy /b SOURCE+SOURCE+... DEST`: the first such line lists the first parts and names the
//   destination; each later one is `copy /b DEST+SOURCE+... DEST` and appends more parts.
// In names, "%%" stands for '%'. Throws FormatError for the first line that is anything else,
// or holds anything cmd would read otherwise: a lone '%', a redirection, a command separator,
// an unclosed quote, a name with a folder in it, a name that this OS reads as a device
// (IsDeviceName: "nul.txt" on Windows), more than 999 parts (the most a split makes).
JoinList ParseJoinScript(const std::string& text);

// Reads the script file at `path` in the encoding cmd reads it in and parses it; when its bytes
// can be read in more ways than one (CommandScriptReadings: the OEM code page, UTF-8), the
// reading whose parts are all in the script's folder, the likeliest first. Throws FormatError also
// for a file too large to be a join script, and Failure when the file cannot be read.
JoinList ReadJoinScript(const std::string& path, FileSystem& files);

}  // namespace splitter
