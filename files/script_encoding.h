// The bytes of the join script, as the command interpreter of the OS reads them.
#pragma once

#include <string>

namespace splitter {

// `text` is the script in UTF-8. On Windows, cmd reads a batch file in the OEM code page (437,
// 850, 866, ...), not in the ANSI one, so the text is converted to it; a character that code
// page lacks would reach cmd as another name, so it throws Failure kBadFileName naming `name`.
// Elsewhere the script is written as it is.
std::string CommandScriptBytes(const std::string& text, const std::string& name);

// The other way, for reading a script: its bytes as UTF-8 text. On Windows they are read in the
// OEM code page, as cmd reads them; elsewhere they are taken as they are.
std::string CommandScriptText(const std::string& bytes);

}  // namespace splitter
