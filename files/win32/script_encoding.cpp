#include "files/script_encoding.h"

#include "files/win32/windows_api.h"

#include "files/failure.h"
#include "files/win32/unicode.h"

#include <string>
#include <vector>

namespace splitter {
namespace {

// Why a name is refused, in words: the bare "Bad file name" leaves the user guessing.
std::string UnspelledText(UINT codePage, const std::string& name) {
    return std::string(FailureDescription(kBadFileName)) +
           ": cmd reads join scripts in code page " + std::to_string(codePage) +
           " here, which cannot spell " + ShownName(name, '"') +
           ". Nothing was written: rename the file with letters of code page " +
           std::to_string(codePage) + " and split again.";
}

}  // namespace

int ScriptCodePage() {
    return static_cast<int>(GetOEMCP());
}

ScriptBytes CommandScriptBytes(const std::string& text, const std::string& name) {
    const UINT codePage = GetOEMCP();
    if (codePage == CP_UTF8 || text.empty()) return {text, 0};
    std::wstring wide;
    try {
        wide = win32::Widen(text);
    } catch (const Failure&) {
        throw Failure(kBadFileName, UnspelledText(codePage, name));
    }
    const int wideSize = static_cast<int>(wide.size());
    // No best fit: "ā" must not quietly become "a", a name that is not on disk.
    const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideSize,
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideSize, bytes.data(), size,
                        nullptr, &usedDefault);
    // Read back the way cmd will, to be sure every character comes back as itself.
    std::wstring back(wide.size(), L'\0');
    const int backSize =
        MultiByteToWideChar(codePage, 0, bytes.data(), size, back.data(), wideSize);
    if (usedDefault || size == 0 || backSize != wideSize || back != wide)
        throw Failure(kBadFileName, UnspelledText(codePage, name));
    return {bytes, 0};
}

std::vector<std::string> CommandScriptReadings(const std::string& bytes) {
    const UINT codePage = GetOEMCP();
    if (codePage == CP_UTF8 || bytes.empty()) return {bytes};
    const int size = static_cast<int>(bytes.size());
    const int wideSize = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), wideSize);
    std::vector<std::string> readings{win32::Narrow(wide)};
    // The script that a split on Linux writes, in UTF-8, for a name its code page cannot spell.
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0) > 0 &&
        readings.front() != bytes)
        readings.push_back(bytes);
    return readings;
}

}  // namespace splitter
