#include "files/failure.h"

#include <algorithm>
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

// The length of the UTF-8 character that `text` starts with, or 0 when it starts with none: a
// stray continuation byte, a lead byte without its continuation bytes, an overlong form, a
// surrogate or a value past U+10FFFF.
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    if (first < 0x80) return 1;
    std::size_t length = 4;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        if (first == 0xE0) low = 0xA0;
        if (first == 0xED) high = 0x9F;
    } else if (first == 0xF0) {
        low = 0x90;
    } else if (first == 0xF4) {
        high = 0x8F;
    } else if (first < 0xF1 || first > 0xF3) {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

// A character of a shown name: as it is, or "?" for one that a terminal may obey.
std::string_view Printable(std::string_view c) {
    const auto first = static_cast<unsigned char>(c[0]);
    const bool control =
        first < 0x20 || first == 0x7F || (c.size() == 1 && first >= 0x80 && first <= 0x9F) ||
        (first == 0xC2 && c.size() == 2 && static_cast<unsigned char>(c[1]) < 0xA0);
    return control ? std::string_view("?") : c;
}

}  // namespace

std::string ShownName(std::string_view name, char quote) {
    std::vector<std::string_view> characters;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = std::max<std::size_t>(Utf8Length(name.substr(i)), 1);
        characters.push_back(name.substr(i, length));
        i += length;
    }
    std::string shown;
    if (quote != '\0') shown += quote;
    if (characters.size() <= kShownNameMax) {
        for (const std::string_view c : characters) shown += Printable(c);
    } else {
        constexpr std::size_t kHead = kShownNameMax * 3 / 5;
        constexpr std::size_t kTail = kShownNameMax - kHead - 3;
        for (std::size_t k = 0; k < kHead; ++k) shown += Printable(characters[k]);
        shown += "...";
        for (std::size_t k = characters.size() - kTail; k < characters.size(); ++k)
            shown += Printable(characters[k]);
    }
    if (quote != '\0') shown += quote;
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
