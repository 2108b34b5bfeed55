// A failure of an operation: a numeric code and a description, as the error box shows them.
//
// The codes are the same on every OS, so a message means the same thing everywhere. Each OS
// backend translates its own error numbers into these in exactly one function.
#pragma once

#include <stdexcept>
#include <string>

namespace splitter {

enum FailureCode : int {
    kOverflow = 6,
    kOutOfMemory = 7,
    kBadFileName = 52,
    kFileNotFound = 53,
    kDeviceIoError = 57,
    kDiskFull = 61,
    kTooManyFiles = 67,
    kPermissionDenied = 70,
    kPathFileAccessError = 75,
    kPathNotFound = 76,
};

// The standard description of a code ("Disk full" for 61); "Unknown error" for other values.
const char* FailureDescription(int code);

class Failure : public std::runtime_error {
public:
    Failure(int code, std::string description)
        : std::runtime_error(description), code_(code), description_(std::move(description)) {}

    // A failure with the code's standard description, followed by " (subject)" when a subject,
    // usually the name of the file concerned, is given.
    static Failure Of(int code, const std::string& subject = {});

    int code() const { return code_; }
    const std::string& description() const { return description_; }

    // "Error " + code + ": " + description: the text of the error box.
    std::string Message() const;

private:
    int code_;
    std::string description_;
};

// Inside a catch block: the exception being handled as a Failure. Out of memory is code 7; any
// other exception that is not a Failure counts as a device I/O error.
Failure CurrentFailure();

}  // namespace splitter
