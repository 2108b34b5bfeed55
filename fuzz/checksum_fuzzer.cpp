// The checksum-file reader on any bytes, taken the way a join takes FILE.sha256 beside a script:
// ReadJoinChecksums, with its size check, for a join whose parts and destination are the names
// the file lists. Besides never crashing:
// - it reads the lines or refuses with FormatError, naming a line of the text or none (0); any
//   other exception escapes and counts as a crash; ReadJoinChecksums refuses what ParseChecksums
//   refuses, naming the same line;
// - every line it reads names a file, and lines come in order;
// - what the writer makes of the lines read (ChecksumLine) reads back as the same names and
//   digests, a line each;
// - the same text with CR LF line ends and a final line break reads the same;
// - a join that lists exactly those names gets each digest in its place, unless a name is given
//   twice, which is refused naming the second line;
// - every message shows names printable: no control character, no C1 control, no stray byte
//   0x80 to 0x9F.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/checksum.h"
#include "input_file.h"

namespace splitter {
namespace {

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "checksum file property broken: %s\n", what.c_str());
    std::abort();
}

// The length of the well-formed UTF-8 character that `s` starts with, and its value; 0 when it
// starts with none.
std::size_t Utf8Character(std::string_view s, std::uint32_t& value) {
    const auto first = static_cast<unsigned char>(s[0]);
    const std::size_t length = first < 0x80   ? 1
                               : first < 0xC0 ? 0
                               : first < 0xE0 ? 2
                               : first < 0xF0 ? 3
                                              : 4;
    if (length == 0 || length > s.size()) return 0;
    value = length == 1 ? first : first & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
        value = value << 6 | (static_cast<unsigned char>(s[i]) & 0x3Fu);
    }
    constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

// A message as a terminal gets it: no control character, C0 or C1, and no stray byte that a
// terminal could take for a C1 one.
void CheckPrintable(const std::string& message) {
    for (std::size_t i = 0; i < message.size();) {
        std::uint32_t value = 0;
        const std::size_t length = Utf8Character(std::string_view(message).substr(i), value);
        if (length == 0) value = static_cast<unsigned char>(message[i]);
        if (value < 0x20 || (value >= 0x7F && value <= 0x9F))
            Broken("message shows character " + std::to_string(value) + " at " + std::to_string(i));
        i += std::max<std::size_t>(length, 1);
    }
}

// The text with CR LF for every bare LF, ending in a line break.
std::string WithCrLf(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    // A CR at the very end is read as the end of the line already, as sha256sum reads it.
    if (out.empty() || out.back() != '\n')
        out += !out.empty() && out.back() == '\r' ? "\n" : "\r\n";
    return out;
}

// The entries of `text`, or the line its refusal names (in `refused`).
std::vector<ChecksumEntry> Parse(const std::string& text, int& refused) {
    refused = -1;
    try {
        return ParseChecksums(text);
    } catch (const FormatError& error) {
        CheckPrintable(error.Message("fuzz.sha256"));
        refused = error.line();
    }
    return {};
}

bool Same(const std::vector<ChecksumEntry>& a, const std::vector<ChecksumEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.name == y.name && x.digest == y.digest;
    });
}

}  // namespace
}  // namespace splitter

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace splitter;
    // Past a megabyte the file is refused for its size alone (see checksum.cpp).
    if (size > (std::size_t{1} << 20)) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    int refused = -1;
    const std::vector<ChecksumEntry> entries = Parse(text, refused);
    const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
    if (refused > lines)
        Broken("refusal names line " + std::to_string(refused) + " of " + std::to_string(lines));

    int crLfRefused = -1;
    if (!Same(Parse(WithCrLf(text), crLfRefused), entries) || crLfRefused != refused)
        Broken("with CR LF line ends the file reads otherwise");

    // A join of the names listed, the last one as the file they make.
    JoinList list;
    for (const ChecksumEntry& entry : entries) list.parts.push_back(entry.name);
    if (!list.parts.empty()) {
        list.destination = list.parts.back();
        list.parts.pop_back();
    }
    std::map<std::string, int> first;  // name: the line that gives it first
    int twice = -1;
    for (const ChecksumEntry& entry : entries) {
        if (!first.emplace(entry.name, entry.line).second && twice < 0) twice = entry.line;
    }
    int joinRefused = -1;
    std::optional<JoinChecksums> checksums;
    try {
        fuzz::InputFileSystem files(text, "fuzz.sha256");
        checksums = ReadJoinChecksums("", list, files);
    } catch (const FormatError& error) {
        CheckPrintable(error.Message("fuzz.sha256"));
        joinRefused = error.line();
    }
    if (joinRefused != (refused >= 0 ? refused : twice))
        Broken("the join reads it otherwise: line " + std::to_string(joinRefused));
    if (refused >= 0) return 0;

    int previous = 0;
    std::string written;
    for (const ChecksumEntry& entry : entries) {
        if (entry.name.empty()) Broken("a line that names no file");
        if (entry.line <= previous || entry.line > lines) Broken("lines out of order");
        previous = entry.line;
        written += ChecksumLine(entry.digest, entry.name);
    }
    int backRefused = -1;
    const std::vector<ChecksumEntry> back = Parse(written, backRefused);
    if (backRefused >= 0 || !Same(back, entries)) Broken("what the writer makes reads otherwise");
    for (std::size_t i = 0; i < back.size(); ++i) {
        if (back[i].line != static_cast<int>(i) + 1)
            Broken("the writer's lines are not a line each");
    }
    if (twice >= 0) return 0;
    if (!checksums || checksums->whole != entries.back().digest)
        Broken("the file's digest is lost");
    for (std::size_t k = 0; k < list.parts.size(); ++k) {
        if (checksums->parts[k] != entries[k].digest) Broken("a part's digest is lost");
    }
    return 0;
}
