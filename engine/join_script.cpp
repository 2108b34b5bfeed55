#include "engine/join_script.h"

#include <string_view>
#include <vector>

#include "platform/failure.h"

namespace splitter {
namespace {

// Characters that make `copy` read an unquoted destination as several arguments, or that cmd
// reads as a redirection or a pipe (possible in names on POSIX systems).
constexpr std::string_view kNeedsQuotes = " &()[]{}^=;!'+,`~<>|";

std::string EscapePercent(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

std::string Destination(const std::string& fileTitle) {
    const std::string escaped = EscapePercent(fileTitle);
    if (fileTitle.find_first_of(kNeedsQuotes) == std::string::npos) return escaped;
    return '"' + escaped + '"';
}

}  // namespace

void CheckScriptableName(const std::string& fileTitle) {
    if (fileTitle.empty()) throw Failure::Of(kBadFileName);
    for (const char c : fileTitle) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || byte < 0x20 || byte == 0x7f) throw Failure::Of(kBadFileName, fileTitle);
    }
}

std::string PartTitle(const std::string& fileTitle, int k) {
    return fileTitle + "." + std::to_string(k);
}

std::string JoinScriptText(const std::string& fileTitle, int parts) {
    CheckScriptableName(fileTitle);
    const std::string destination = Destination(fileTitle);
    const std::string tail = " " + destination;

    std::vector<std::string> lines;
    std::string line = "copy /b ";
    bool lineHasPart = false;
    for (int k = 0; k < parts; ++k) {
        const std::string entry = '"' + EscapePercent(PartTitle(fileTitle, k)) + '"';
        const std::size_t plus = lineHasPart ? 1 : 0;
        if (lineHasPart && line.size() + plus + entry.size() + tail.size() > kMaxScriptLine) {
            lines.push_back(line + tail);
            line = "copy /b " + destination;
            lineHasPart = true;  // the destination so far is the first source of the next line
        }
        if (lineHasPart) line += '+';
        line += entry;
        lineHasPart = true;
    }
    lines.push_back(line + tail);

    std::string text = kScriptHeader;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += "\r\n";
        text += lines[i];
    }
    return text;
}

}  // namespace splitter
