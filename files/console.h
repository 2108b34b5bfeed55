// The console a command-line program runs in: its arguments, its standard output and its
// standard error, as each OS hands them over. One backend per OS, like the file layer's.
#pragma once

#include <string>
#include <vector>

namespace splitter::console {

// The program's arguments in UTF-8, without the program's own name.
std::vector<std::string> Arguments(int argc, char** argv);

// Whether standard output is a terminal that understands the escapes that redraw a line in
// place (switched on where the terminal needs that).
bool RedrawsInPlace();

// Lets the program go on when whatever reads its standard output or error goes away (a pipe
// into `head -1`): what it prints then is dropped, instead of the program being ended midway
// by SIGPIPE. Nothing to do on Windows, where a write to a closed pipe only fails.
void KeepRunningWithoutReader();

// Writes `message` (UTF-8) and a line break to standard error, so that a file name in any
// script shows as itself.
void PrintError(const std::string& message);

}  // namespace splitter::console
