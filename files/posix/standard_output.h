// Standard output as a file, made where the file system's own files are known, so that a part
// goes into a pipe through the kernel (splice) without passing through the program.
#pragma once

#include <memory>

#include "files/file_system.h"

namespace splitter {

// See console::StandardOutput.
std::unique_ptr<WritableFile> NewStandardOutput();

}  // namespace splitter
