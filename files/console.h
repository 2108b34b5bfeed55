// The console a command-line program runs in: its arguments, its standard output and its
// standard error, as each OS hands them over. One backend per OS, like the file layer's.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/file_system.h"

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

// Standard input as a file read from its start to its end: the bytes as they come, in binary
// mode on Windows (no CR LF made LF, no stop at Ctrl+Z). Its length is not known ahead: 0. Its
// permissions are all (a stream has none of its own to pass on: the umask decides).
std::unique_ptr<ReadableFile> StandardInput();

// Standard output as a file written from its first byte, in binary mode on Windows. When its
// reader has gone (a closed pipe: `| head -c 100`), a write ends the program at once and without
// a word, as a program that has not asked otherwise is ended on a POSIX system (by SIGPIPE; on
// Windows with status 1): whatever came after the reader would not have read. Nothing
// temporary is open then. Sync and Close flush nothing but the stream's own state.
std::unique_ptr<WritableFile> StandardOutput();

// The file standard output writes into, when it is a regular file; nullopt for a pipe, a
// terminal, and on Windows.
std::optional<FileId> StandardOutputFile();

}  // namespace splitter::console
