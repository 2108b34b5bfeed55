#include "files/win32/unicode.h"

#include "files/win32/windows_api.h"

#include "files/failure.h"

namespace splitter::win32 {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    if (text.find('\0') != std::string::npos) throw Failure::Of(kBadFileName);
    const int size = static_cast<int>(text.size());
    const int wideSize =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (wideSize <= 0) throw Failure::Of(kBadFileName, text);
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), wideSize);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int narrowSize =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(narrowSize), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), narrowSize, nullptr, nullptr);
    return narrow;
}

std::wstring WidePath(const std::string& path) {
    std::wstring wide = Widen(path);
    // Paths near the classic limit go through the "\\?\" form, which takes no relative parts
    // and no '/', so it is given the full path that Windows itself makes of the name. What
    // counts is that full path: a short relative name in a deep folder is as long as any.
    constexpr std::size_t kClassicLimit = MAX_PATH - 12;
    if (wide.starts_with(L"\\\\?\\")) return wide;
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return wide;
    std::wstring full(needed, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (got == 0 || got >= needed) return wide;
    full.resize(got);
    if (full.size() < kClassicLimit) return wide;
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace splitter::win32
