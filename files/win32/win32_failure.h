// Windows error codes (GetLastError) as the project's failures.
#pragma once

#include <string>

#include "files/failure.h"

namespace splitter {

// The failure for Windows error `error` (a DWORD) on the file `name`: ERROR_FILE_NOT_FOUND is
// kFileNotFound, ERROR_DISK_FULL kDiskFull, and so on; an error without a closer match is
// kDeviceIoError.
Failure Win32Failure(unsigned long error, const std::string& name);

}  // namespace splitter
