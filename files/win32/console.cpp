#include "files/console.h"

#include "files/win32/windows_api.h"
// After windows.h, which they need.
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>

#include "files/failure.h"
#include "files/win32/unicode.h"

namespace splitter::console {

// argv holds the arguments in the ANSI code page, which loses the names of other scripts: they
// are taken from the wide command line instead.
std::vector<std::string> Arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide != nullptr && i < count; ++i) args.push_back(win32::Narrow(wide[i]));
    LocalFree(wide);
    return args;
}

void KeepRunningWithoutReader() {}

bool RedrawsInPlace() {
    if (_isatty(_fileno(stdout)) == 0) return false;
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

// A console gets wide characters; a file or pipe gets UTF-8.
void PrintError(const std::string& message) {
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode)) {
        try {
            const std::wstring wide = win32::Widen(message + "\n");
            DWORD written = 0;
            std::cerr.flush();
            WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
            return;
        } catch (const Failure&) {
            // Not UTF-8: the bytes as they are, below.
        }
    }
    std::cerr << message << std::endl;
}

}  // namespace splitter::console
