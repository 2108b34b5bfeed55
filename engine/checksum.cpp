#include "engine/checksum.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "files/failure.h"

namespace splitter {
namespace {

// 999 lines of a name of 255 bytes are some 330 KB; anything much larger is not a checksum file
// of a split.
constexpr std::uint64_t kMaxChecksumFileSize = std::uint64_t{1} << 20;

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The name of an escaped line back as it was: "\\" "\n" "\r" are the only escapes.
std::optional<std::string> Unescaped(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            out += name[i];
            continue;
        }
        if (++i == name.size()) return std::nullopt;
        switch (name[i]) {
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: return std::nullopt;
        }
    }
    return out;
}

ChecksumEntry ReadLine(std::string_view line, int number) {
    const auto fail = [number](const std::string& reason) {
        throw FormatError(number, reason + " (a line is HEX, two spaces, NAME)");
    };
    const bool escaped = !line.empty() && line.front() == '\\';
    if (escaped) line.remove_prefix(1);
    if (line.size() < 64 + 2) fail("not a SHA-256 line");
    ChecksumEntry entry{{}, {}, number};
    for (std::size_t i = 0; i < 32; ++i) {
        const int high = HexValue(line[2 * i]);
        const int low = HexValue(line[2 * i + 1]);
        if (high < 0 || low < 0) fail("not a SHA-256 line");
        entry.digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    if (line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) fail("not a SHA-256 line");
    const std::string_view name = line.substr(66);
    if (name.empty()) fail("a line names no file");
    if (!escaped) {
        entry.name = std::string(name);
    } else if (const auto plain = Unescaped(name)) {
        entry.name = *plain;
    } else {
        fail("a name with a backslash that escapes nothing");
    }
    return entry;
}

}  // namespace

std::string HexDigest(const Sha256Digest& digest) {
    std::string hex;
    hex.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        hex += kHexDigits[byte >> 4];
        hex += kHexDigits[byte & 0xF];
    }
    return hex;
}

std::string ChecksumLine(const Sha256Digest& digest, const std::string& name) {
    const bool escape = name.find_first_of("\\\n\r") != std::string::npos;
    std::string line = escape ? "\\" : "";
    line += HexDigest(digest);
    line += "  ";
    for (const char c : name) {
        if (!escape) {
            line += c;
            continue;
        }
        switch (c) {
            case '\\': line += "\\\\"; break;
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            default: line += c;
        }
    }
    line += '\n';
    return line;
}

std::vector<ChecksumEntry> ParseChecksums(const std::string& text) {
    std::vector<ChecksumEntry> entries;
    ForEachLine(text, [&](std::string_view line, int number) {
        if (line.find_first_not_of(" \t") != std::string_view::npos)
            entries.push_back(ReadLine(line, number));
    });
    if (entries.empty()) throw FormatError(0, "no SHA-256 line: not a checksum file");
    return entries;
}

std::optional<JoinChecksums> ReadJoinChecksums(const std::string& folder, const JoinList& list,
                                               FileSystem& files) {
    const std::string path = ChecksumPath(folder + list.destination);
    const auto status = files.Status(path);
    if (!status) return std::nullopt;
    if (!status->regular) throw FormatError(0, "not a regular file");
    if (status->length > kMaxChecksumFileSize)
        throw FormatError(
            0, "too large for a checksum file (" + std::to_string(status->length) + " bytes)");

    const std::string text = ReadUpTo(*files.OpenRead(path), kMaxChecksumFileSize);

    JoinChecksums checksums{FileTitleOf(path), {}, {}};
    checksums.parts.resize(list.parts.size());
    std::map<std::string, std::size_t> partIndex;
    for (std::size_t k = 0; k < list.parts.size(); ++k) partIndex.emplace(list.parts[k], k);
    std::map<std::string, int> seen;
    for (ChecksumEntry& entry : ParseChecksums(text)) {
        if (const auto [at, fresh] = seen.emplace(entry.name, entry.line); !fresh)
            throw FormatError(entry.line, ShownName(entry.name, '"') + " is given on line " +
                                              std::to_string(at->second) + " already");
        if (entry.name == list.destination) {
            checksums.whole = entry.digest;
        } else if (const auto part = partIndex.find(entry.name); part != partIndex.end()) {
            checksums.parts[part->second] = entry.digest;
        } else {
            throw FormatError(entry.line, ShownName(entry.name, '"') +
                                              " is neither a part the script lists nor the file "
                                              "it makes: they belong to different splits");
        }
    }
    return checksums;
}

}  // namespace splitter
