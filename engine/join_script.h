// The join script: a command script for the Windows command interpreter that rebuilds the
// source from its parts with `copy /b`. It is the only record of how the parts fit together.
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

#include <string>

namespace splitter {

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

}  // namespace splitter
