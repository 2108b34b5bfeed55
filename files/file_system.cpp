#include "files/file_system.h"

#include <algorithm>
#include <vector>

#include "files/failure.h"

namespace splitter {

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

std::string FileTitleOf(const std::string& path) {
#ifdef _WIN32
    const auto slash = path.find_last_of("/\\:");
#else
    const auto slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

}  // namespace splitter
