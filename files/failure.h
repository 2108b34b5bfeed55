// A failure of an operation: a numeric code and a description, as the error box shows them.
//
// The codes are the same on every OS, so a message means the same thing everywhere. Each OS
// backend translates its own error numbers into these in exactly one function.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

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

// Code 61 also reports a file that grows past what the file system holds (FAT32 holds no file of
// 4 GiB; EFBIG, ERROR_FILE_TOO_LARGE) or what a limit set on the process allows (ulimit -f):
// the disk may have room to spare then, so the description says what stops the write instead.
inline constexpr const char* kFileTooLargeText = "File too large for the file system";

// Longest name a message shows, in characters; a longer one is cut in the middle.
inline constexpr std::size_t kShownNameMax = 100;

// A file name, or any text taken from a file, as every message shows it: a control character
// (C0, DEL, C1 in UTF-8) or a byte 0x80 to 0x9F that is not part of a UTF-8 character, which
// some terminals obey as C1, as '?', so that a hostile name cannot break a line or redraw the
// console; a name of more than kShownNameMax characters cut to its beginning, "..." and its end
// (where the extension and the part number are). UTF-8 characters are never split; a byte that
// is not part of one counts as a character. Between `quote`s when one is given.
std::string ShownName(std::string_view name, char quote = '\0');

class Failure : public std::runtime_error {
public:
    Failure(int code, std::string description)
        : std::runtime_error(description), code_(code), description_(std::move(description)) {}

    // A failure with the code's standard description, followed by " (subject)" when a subject,
    // usually the name of the file concerned, is given; the subject as ShownName shows it.
    static Failure Of(int code, const std::string& subject = {});

    // Code 61 with kFileTooLargeText, about the file `subject`.
    static Failure FileTooLarge(const std::string& subject);

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
