#include "files/file_system.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "files/failure.h"

namespace splitter {
namespace {

// The bytes a hole is read or written by where the file system keeps none.
constexpr std::size_t kZeroBlock = std::size_t{64} << 10;

}  // namespace

void WritableFile::CopyFrom(ReadableFile& source, std::uint64_t n) {
    constexpr std::size_t kBufferSize = std::size_t{1} << 20;
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(n, kBufferSize)));
    while (n > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(n, buffer.size()));
        const std::size_t got = source.Read(buffer.data(), want);
        if (got == 0) throw Failure::Of(kDeviceIoError, source.Name());
        Write(buffer.data(), got);
        n -= got;
    }
}

void ReadableFile::SkipHole(std::uint64_t n) {
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(n, kZeroBlock)));
    while (n > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(n, buffer.size()));
        const std::size_t got = Read(buffer.data(), want);
        if (got == 0) throw Failure::Of(kDeviceIoError, Name());
        n -= got;
    }
}

void WritableFile::WriteHole(std::uint64_t n) {
    static const std::array<char, kZeroBlock> zeros{};
    while (n > 0) {
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(n, zeros.size()));
        Write(zeros.data(), chunk);
        n -= chunk;
    }
}

std::vector<std::string> FileSystem::Names(const std::string& folder) {
    // std::filesystem reads a narrow path in the ANSI code page on Windows: go through UTF-8.
    const std::filesystem::path path(std::u8string(folder.begin(), folder.end()));
    std::error_code error;
    std::filesystem::directory_iterator entries(folder.empty() ? std::filesystem::path(".") : path, error);
    if (error) throw Failure::Of(kPathNotFound, FileTitleOf(folder));
    std::vector<std::string> names;
    for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::u8string name = entries->path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    if (error) throw Failure::Of(kDeviceIoError, FileTitleOf(folder));
    return names;
}

std::string FileTitleOf(const std::string& path) {
#ifdef _WIN32
    const auto slash = path.find_last_of("/\\:");
#else
    const auto slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.size() - FileTitleOf(path).size());
}

std::string FolderPathOf(const std::string& path) {
    const std::string folder = FolderOf(path);
    return folder.empty() ? "." : folder;
}

std::size_t ReadFull(ReadableFile& file, char* buffer, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const std::size_t more = file.Read(buffer + got, n - got);
        if (more == 0) break;
        got += more;
    }
    return got;
}

std::string ReadUpTo(ReadableFile& file, std::uint64_t limit) {
    std::string text(static_cast<std::size_t>(std::min(file.Length(), limit)), '\0');
    text.resize(ReadFull(file, text.data(), text.size()));
    return text;
}

std::optional<std::string> FileSystem::NameLimit(const std::string& path) {
    if (FileTitleLength(FileTitleOf(path)) <= kMaxFileTitle) return std::nullopt;
    return "Name longer than " + std::to_string(kMaxFileTitle) + kFileTitleUnits;
}

std::size_t FileTitleLength(const std::string& title) {
#ifdef _WIN32
    // Every UTF-8 lead byte starts one UTF-16 unit; a four-byte one starts a surrogate pair.
    std::size_t units = 0;
    for (const char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
#else
    return title.size();
#endif
}

bool LiesIn(const std::string& resolved, const std::string& folder) {
    const std::string title = FileTitleOf(resolved);
    if (title.empty() || title.size() == resolved.size()) return false;
    // The parent keeps its separator; a root ("/", "C:\\") keeps it in its own name too.
    const std::string_view parent(resolved.data(), resolved.size() - title.size());
    return parent == folder || (parent.size() == folder.size() + 1 && parent.starts_with(folder));
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool IsWindowsDeviceName(const std::string& title) {
    // Windows looks at the name up to its first dot, trailing spaces dropped.
    std::string base = AsciiLower(title.substr(0, title.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
        if (base == device) return true;
    }
    if (!base.starts_with("com") && !base.starts_with("lpt")) return false;
    const std::string number = base.substr(3);
    // COM1 to COM9, and the superscript digits 1, 2 and 3 that Windows reads as the same.
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xc2\xb9" ||
           number == "\xc2\xb2" || number == "\xc2\xb3";
}

bool IsDeviceName(const std::string& title) {
#ifdef _WIN32
    return IsWindowsDeviceName(title);
#else
    (void)title;
    return false;
#endif
}

}  // namespace splitter
