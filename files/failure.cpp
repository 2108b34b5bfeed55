#include "files/failure.h"

#include <exception>
#include <new>
#include <string_view>
#include <vector>

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

namespace {

Failure WithSubject(int code, std::string description, const std::string& subject) {
    if (!subject.empty()) description += " (" + ShownName(subject) + ")";
    return Failure(code, std::move(description));
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace

std::string ShownName(const std::string& name) {
    // Where each character starts; a byte that is not UTF-8 counts as a character of its own.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (!IsContinuation(static_cast<unsigned char>(name[i])) || starts.empty())
            starts.push_back(i);
    }
    const auto character = [&](std::size_t k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : name.size();
        const std::string_view c(name.data() + starts[k], end - starts[k]);
        const auto first = static_cast<unsigned char>(c[0]);
        // C0 controls, DEL, and the C1 controls (U+0080 to U+009F) some terminals obey too.
        const bool control =
            first < 0x20 || first == 0x7F ||
            (first == 0xC2 && c.size() == 2 && static_cast<unsigned char>(c[1]) < 0xA0);
        return control ? std::string_view("?") : c;
    };
    std::string shown;
    if (starts.size() <= kShownNameMax) {
        for (std::size_t k = 0; k < starts.size(); ++k) shown += character(k);
        return shown;
    }
    constexpr std::size_t kHead = kShownNameMax * 3 / 5;
    constexpr std::size_t kTail = kShownNameMax - kHead - 3;
    for (std::size_t k = 0; k < kHead; ++k) shown += character(k);
    shown += "...";
    for (std::size_t k = starts.size() - kTail; k < starts.size(); ++k) shown += character(k);
    return shown;
}

Failure Failure::Of(int code, const std::string& subject) {
    return WithSubject(code, FailureDescription(code), subject);
}

Failure Failure::FileTooLarge(const std::string& subject) {
    return WithSubject(kDiskFull, kFileTooLargeText, subject);
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
