// UTF-8, the project's string encoding, to and from Windows' UTF-16, for the Win32 backends.
#pragma once

#include <string>

namespace splitter::win32 {

// Throws Failure kBadFileName (naming `text`) when `text` is not valid UTF-8 or holds a NUL.
std::wstring Widen(const std::string& text);

// Unpaired surrogates, which NTFS names may hold, become U+FFFD.
std::string Narrow(const std::wstring& text);

// The wide form of a path for the file API: Widen, and for a path too long for the classic
// limit, the absolute "\\?\" form that lifts it.
std::wstring WidePath(const std::string& path);

}  // namespace splitter::win32
