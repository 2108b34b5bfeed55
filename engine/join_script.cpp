#include "engine/join_script.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "engine/part_count.h"
#include "files/failure.h"
#include "files/script_encoding.h"

namespace splitter {
namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

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
        if (c == '"' || IsControl(c)) throw Failure::Of(kBadFileName, fileTitle);
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

// ---- reading ----------------------------------------------------------------------------------

namespace {

// A join script of 999 parts is some tens of kilobytes; anything much larger is not one.
constexpr std::uint64_t kMaxScriptSize = std::uint64_t{1} << 20;

// Characters that cmd reads as something other than part of an unquoted name: command
// separators, redirections, escapes, groups and argument delimiters.
constexpr std::string_view kUnquotedForbidden = "&|<>()^,;=";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// True when `line` starts with `word` in any letter case, followed by the end, a blank or one of
// `after`.
bool StartsWithWord(std::string_view line, std::string_view word, std::string_view after = {}) {
    if (line.size() < word.size() || AsciiLower(line.substr(0, word.size())) != word) return false;
    if (line.size() == word.size()) return true;
    const char next = line[word.size()];
    return IsBlank(next) || after.find(next) != std::string_view::npos;
}

// Reads the names of one `copy /b` line.
class CopyLine {
public:
    CopyLine(std::string_view text, int line) : text_(text), line_(line) {}

    // SOURCE+SOURCE+... DEST: the sources, then the destination last.
    std::vector<std::string> Names() {
        std::vector<std::string> names{Name()};
        for (;;) {
            SkipBlanks();
            if (AtEnd()) Fail("the line names no destination after the parts");
            if (text_[pos_] != '+') break;
            ++pos_;
            SkipBlanks();
            names.push_back(Name());
        }
        names.push_back(Name());
        SkipBlanks();
        if (!AtEnd()) Fail("more follows the destination: " + ShownName(text_.substr(pos_), '"'));
        return names;
    }

private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    void SkipBlanks() {
        while (!AtEnd() && IsBlank(text_[pos_])) ++pos_;
    }
    [[noreturn]] void Fail(const std::string& reason) const { throw FormatError(line_, reason); }

    // One name, quoted or not, with "%%" read as '%'.
    std::string Name() {
        if (AtEnd() || text_[pos_] == '+') Fail("a name is missing");
        std::string name;
        if (text_[pos_] == '"') {
            ++pos_;
            for (;;) {
                if (AtEnd()) Fail("a quote is not closed");
                const char c = text_[pos_];
                if (c == '"') break;
                Take(c, name);
            }
            ++pos_;
            if (!AtEnd() && !IsBlank(text_[pos_]) && text_[pos_] != '+')
                Fail("text follows a closing quote: " + ShownName(text_.substr(pos_), '"'));
        } else {
            while (!AtEnd() && !IsBlank(text_[pos_]) && text_[pos_] != '+') {
                const char c = text_[pos_];
                if (c == '"')
                    Fail("a quote starts inside a name: " + ShownName(text_.substr(pos_), '"'));
                if (kUnquotedForbidden.find(c) != std::string_view::npos)
                    Fail(std::string("'") + c +
                         "' outside quotes, which cmd does not read as part "
                         "of a name");
                Take(c, name);
            }
        }
        if (name.empty()) Fail("a name is empty");
        if (name == "." || name == ".." || FileTitleOf(name) != name)
            Fail(ShownName(name, '"') +
                 " is not a plain file name; the parts and the destination lie "
                 "beside the script");
        if (FileTitleLength(name) > kMaxFileTitle)
            Fail("a name longer than a file name can be (" + std::to_string(name.size()) +
                 " bytes): " + ShownName(name, '"'));
        if (IsDeviceName(name))
            Fail(ShownName(name, '"') + " is the name of a device, not of a file");
        return name;
    }

    // Adds the character at pos_ to name, reading "%%" as one '%'.
    void Take(char c, std::string& name) {
        if (IsControl(c)) Fail("a control character in a name");
        if (c == '%') {
            if (pos_ + 1 >= text_.size() || text_[pos_ + 1] != '%')
                Fail(
                    "a single '%', which cmd would read as a variable (a '%' in a name is "
                    "written \"%%\")");
            ++pos_;
        }
        name += c;
        ++pos_;
    }

    std::string_view text_;
    int line_;
    std::size_t pos_ = 0;
};

// Adds one line to the list, or throws.
void ReadLine(std::string_view line, int number, JoinList& list) {
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (!line.empty() && line.front() == '@') line.remove_prefix(1);
    if (line.empty()) return;

    const bool remark = line.starts_with("::") || StartsWithWord(line, "rem");
    if (remark || StartsWithWord(line, "echo", ".:")) {
        // Harmless only while nothing on the line runs or redirects.
        if (line.find_first_of("&|<>") != std::string_view::npos)
            throw FormatError(number,
                              "a command separator or redirection in " + ShownName(line, '"'));
        return;
    }
    if (!StartsWithWord(line, "copy"))
        throw FormatError(number, "not a line of a join script: " + ShownName(line, '"'));

    std::string_view rest = line.substr(4);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    if (!StartsWithWord(rest, "/b"))
        throw FormatError(number, "only copy /b joins byte for byte: " + ShownName(line, '"'));
    rest.remove_prefix(2);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);

    std::vector<std::string> names = CopyLine(rest, number).Names();
    const std::string destination = names.back();
    names.pop_back();
    auto first = names.begin();
    if (list.destination.empty()) {
        list.destination = destination;
    } else {
        // cmd appends to a file with `copy /b DEST+MORE DEST`; nothing else carries on a join.
        if (destination != list.destination || names.front() != list.destination)
            throw FormatError(number, "a later copy line must append to " +
                                          ShownName(list.destination, '"') +
                                          " (copy /b DEST+\"PART\" DEST)");
        ++first;
        if (first == names.end()) throw FormatError(number, "the line adds no part");
    }
    for (auto it = first; it != names.end(); ++it) {
        if (*it == list.destination)
            throw FormatError(number,
                              "the destination " + ShownName(*it, '"') + " is also read as a part");
        // A split makes at most 999 parts; the checks of a join are written for no more.
        if (list.parts.size() == static_cast<std::size_t>(kMaxParts))
            throw FormatError(number, "more than " + std::to_string(kMaxParts) +
                                          " parts, the most a split makes");
        list.parts.push_back(*it);
    }
}

}  // namespace

JoinList ParseJoinScript(const std::string& text) {
    JoinList list;
    ForEachLine(text, [&](std::string_view line, int number) { ReadLine(line, number, list); });
    if (list.parts.empty()) throw FormatError(0, "no copy /b line: not a join script");
    return list;
}

JoinList ReadJoinScript(const std::string& path, FileSystem& files) {
    auto script = files.OpenRead(path);
    if (script->Length() > kMaxScriptSize)
        throw FormatError(
            0, "too large for a join script (" + std::to_string(script->Length()) + " bytes)");
    const std::vector<std::string> readings =
        CommandScriptReadings(ReadUpTo(*script, kMaxScriptSize));
    // The reading whose parts are all there, the likeliest first; else the first that parses,
    // whose missing part the join then names. Never a reading picked by luck: one that names
    // files that are not there is taken only when no reading names files that are.
    const std::string folder = FolderOf(path);
    std::optional<JoinList> first;
    std::optional<FormatError> firstError;
    for (const std::string& text : readings) {
        JoinList list;
        try {
            list = ParseJoinScript(text);
        } catch (const FormatError& error) {
            if (!first && !firstError) firstError = error;
            continue;
        }
        if (readings.size() == 1) return list;
        // A name of a misreading may be one the file system refuses to look up: not there.
        const bool complete =
            std::all_of(list.parts.begin(), list.parts.end(), [&](const std::string& part) {
                try {
                    return files.Status(folder + part).has_value();
                } catch (const Failure&) {
                    return false;
                }
            });
        if (complete) return list;
        if (!first) first = std::move(list);
    }
    if (first) return *first;
    throw *firstError;
}

}  // namespace splitter
