// The join-script reader on any bytes, taken the way a join takes a script file: ReadJoinScript,
// with its size check and the decoding cmd would apply, then the parse. Besides never crashing:
// - it returns a list or refuses with FormatError, naming a line of the text or none (0); any
//   other exception escapes and counts as a crash;
// - every name it returns is a plain name in the script's folder: not empty, not "." or "..",
//   no folder separator, no quote or control character, and no part is the destination;
// - where a split could have made the script (every part name it would write fits in a file
//   name), the writer takes that destination, and what it writes reads back as that
//   destination and the parts of a split, each line within cmd's limit;
// - the same text with CR LF line ends and a final line break reads the same, list or refusal.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/join_script.h"
#include "files/file_system.h"
#include "files/script_encoding.h"
#include "input_file.h"

namespace splitter {
namespace {

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "join script property broken: %s\n", what.c_str());
    std::abort();
}

void CheckPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") Broken("name \"" + name + "\"");
#ifdef _WIN32
    constexpr const char* kSeparators = "/\\:";
#else
    constexpr const char* kSeparators = "/";  // a backslash is a name character on POSIX
#endif
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::strchr(kSeparators, c) != nullptr || c == '"' || byte < 0x20 || byte == 0x7f)
            Broken("name \"" + name + "\" holds byte " + std::to_string(byte));
    }
}

// Writes the script a split of `destination` into `parts` parts would leave, and reads it back.
// A destination whose part names are too long for a file name (255 bytes, ".0" makes 257) is no
// split's: a split refuses it before writing, while a hand-made script may still join other
// names into it.
void CheckRoundTrip(const std::string& destination, int parts) {
    if (FileTitleLength(PartTitle(destination, parts - 1)) > kMaxFileTitle) return;
    const std::string script = JoinScriptText(destination, parts);
    JoinList back;
    try {
        back = ParseJoinScript(script);
    } catch (const FormatError& error) {
        Broken("the script written for \"" + destination +
               "\" does not read back: " + error.Message("script"));
    }
    if (back.destination != destination) Broken("destination read back as " + back.destination);
    if (back.parts.size() != static_cast<std::size_t>(parts))
        Broken(std::to_string(back.parts.size()) + " parts read back of " + std::to_string(parts));
    for (int k = 0; k < parts; ++k) {
        if (back.parts[static_cast<std::size_t>(k)] != PartTitle(destination, k))
            Broken("part " + std::to_string(k) + " read back as " +
                   back.parts[static_cast<std::size_t>(k)]);
    }
    // Only a name too long for any arrangement may pass cmd's line limit.
    if (destination.size() > 1000) return;
    for (std::size_t start = 0, end; start < script.size(); start = end + 2) {
        end = std::min(script.find("\r\n", start), script.size());
        if (end - start > kMaxScriptLine) Broken("a line of " + std::to_string(end - start));
    }
}

// The text with CR LF for every bare LF, ending in a line break.
std::string WithCrLf(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    // A lone CR at the end is a line end already; another would be read as part of the line.
    if (out.empty() || out.back() != '\r') out += "\r\n";
    return out;
}

// The line a refusal names, or -1 when the text is read into `list`.
int RefusedLine(const std::string& text, JoinList& list) {
    try {
        list = ParseJoinScript(text);
        return -1;
    } catch (const FormatError& error) {
        return error.line();
    }
}

// The same for the bytes of a script file, as ReadJoinScript reads them where every name is a
// file (as here): the first of its readings that parses, else the first one's refusal.
int RefusedBytes(const std::string& bytes, JoinList& list) {
    const std::vector<std::string> readings = CommandScriptReadings(bytes);
    for (const std::string& text : readings) {
        if (RefusedLine(text, list) < 0) return -1;
    }
    return RefusedLine(readings.front(), list);
}

}  // namespace
}  // namespace splitter

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace splitter;
    const std::string text(reinterpret_cast<const char*>(data), size);
    JoinList list;
    int refused = -1;
    try {
        fuzz::InputFileSystem files(text, "fuzz.bat");
        list = ReadJoinScript("fuzz.bat", files);
    } catch (const FormatError& error) {
        refused = error.line();
    }
    JoinList crLfList;
    if (RefusedBytes(WithCrLf(text), crLfList) != refused ||
        (refused < 0 && (crLfList.parts != list.parts || crLfList.destination != list.destination)))
        Broken("with CR LF line ends the script reads otherwise");
    if (refused >= 0) {
        const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
        if (refused > lines)
            Broken("refusal names line " + std::to_string(refused) + " of " +
                   std::to_string(lines));
        return 0;
    }
    if (list.parts.empty()) Broken("a list without parts");
    CheckPlainName(list.destination);
    for (const std::string& part : list.parts) {
        CheckPlainName(part);
        if (part == list.destination) Broken("the destination is also a part");
    }
    CheckRoundTrip(list.destination,
                   static_cast<int>(std::clamp<std::size_t>(list.parts.size(), 2, 999)));
    return 0;
}
