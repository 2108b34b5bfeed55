// What an interruption does to a run of the command line: Ctrl+C, SIGTERM or SIGHUP (on
// Windows Ctrl+C, Ctrl+Break or closing the console) removes the run's temporary files, those
// that were to become the joined file, the script or the recovery volumes, then ends the program as the interruption
// would have ended it (on POSIX systems by the same signal: a shell shows 130, 143 or 129).
// One backend per OS, like the file layer's.
#pragma once

#include <string>

namespace splitter::interruption {

// Sets what signals do to a program that runs splits and joins, once at its start: an
// interruption removes the run's temporary file, as above (one that was ignored when the program
// started, Ctrl+C for a job started with `&` by a script, stays ignored); a write past the limit
// on file sizes (ulimit -f) fails with EFBIG and is reported like any other failure, instead of
// ending the program by SIGXFSZ without a word and with a part half written. On Windows the
// program also holds, until it ends, the mutex "Global\SplitterRunning" by which the installer
// knows that a Splitter runs.
void CatchSignals();

// Adds a file to those an interruption removes (up to 64 at once; more are not removed). A run
// names each temporary file just before it creates it and forgets it once the file has its
// final name or is gone. Harmless where no handler is installed.
void AddTemporary(const std::string& path);
void ForgetTemporary(const std::string& path);

}  // namespace splitter::interruption
