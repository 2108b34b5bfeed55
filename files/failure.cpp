#include "files/failure.h"

#include <exception>
#include <new>

namespace splitter {

const char* FailureDescription(int code) {
    switch (code) {
        case kOverflow: return "Overflow";
        case kOutOfMemory: return "Out of memory";
        case kBadFileName: return "Bad file name or number";
        case kFileNotFound: return "File not found";
        case kDeviceIoError: return "Device I/O error";
        case kDiskFull: return "Disk full";
        case kTooManyFiles: return "Too many files";
        case kPermissionDenied: return "Permission denied";
        case kPathFileAccessError: return "Path/File access error";
        case kPathNotFound: return "Path not found";
        default: return "Unknown error";
    }
}

Failure Failure::Of(int code, const std::string& subject) {
    std::string description = FailureDescription(code);
    if (!subject.empty()) description += " (" + subject + ")";
    return Failure(code, std::move(description));
}

std::string Failure::Message() const {
    return "Error " + std::to_string(code_) + ": " + description_;
}

Failure CurrentFailure() {
    try {
        throw;
    } catch (const Failure& failure) {
        return failure;
    } catch (const std::bad_alloc&) {
        return Failure::Of(kOutOfMemory);
    } catch (const std::exception& e) {
        return Failure(kDeviceIoError, e.what());
    } catch (...) {
        return Failure::Of(kDeviceIoError);
    }
}

}  // namespace splitter
