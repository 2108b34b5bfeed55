#include "files/console.h"

#include "files/win32/windows_api.h"
// After windows.h, which they need.
#include <io.h>
#include <shellapi.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

namespace {

// The C runtime's descriptors, in binary mode: _read and _write then pass every byte as it is.
class InputStream final : public ReadableFile {
public:
    InputStream() { _setmode(_fileno(stdin), _O_BINARY); }
    std::uint64_t Length() override { return 0; }
    std::size_t Read(char* buffer, std::size_t n) override {
        const unsigned want = static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30));
        const int got = _read(_fileno(stdin), buffer, want);
        // A pipe whose writer has gone reads as its end.
        if (got < 0 && static_cast<DWORD>(_doserrno) != ERROR_BROKEN_PIPE)
            throw Failure::Of(kDeviceIoError, name_);
        return got < 0 ? 0 : static_cast<std::size_t>(got);
    }
    const std::string& Name() const override { return name_; }
    FileId Id() const override { return {}; }

private:
    const std::string name_ = "standard input";
};

class OutputStream final : public WritableFile {
public:
    OutputStream() {
        std::cout.flush();
        _setmode(_fileno(stdout), _O_BINARY);
    }
    void Write(const char* data, std::size_t n) override {
        while (n > 0) {
            const unsigned want = static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30));
            const int put = _write(_fileno(stdout), data, want);
            if (put < 0) {
                const auto error = static_cast<DWORD>(_doserrno);
                if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || errno == EPIPE)
                    std::_Exit(1);
                throw Failure::Of(error == ERROR_DISK_FULL ? kDiskFull : kDeviceIoError, name_);
            }
            data += put;
            n -= static_cast<std::size_t>(put);
        }
    }
    void Sync() override {}
    void Close() override {}
    const std::string& Name() const override { return name_; }

private:
    const std::string name_ = "standard output";
};

}  // namespace

std::unique_ptr<ReadableFile> StandardInput() {
    return std::make_unique<InputStream>();
}

std::optional<FileId> StandardOutputFile() {
    return std::nullopt;
}

std::unique_ptr<WritableFile> StandardOutput() {
    return std::make_unique<OutputStream>();
}

}  // namespace splitter::console
