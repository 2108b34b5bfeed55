#include "engine/join.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string_view>

#include "engine/plan.h"
#include "platform/failure.h"
#include "platform/script_encoding.h"

namespace splitter {
namespace {

// A join script of 999 parts is some tens of kilobytes; anything much larger is not one.
constexpr std::uint64_t kMaxScriptSize = std::uint64_t{1} << 20;

// Characters that cmd reads as something other than part of an unquoted name: command
// separators, redirections, escapes, groups and argument delimiters.
constexpr std::string_view kUnquotedForbidden = "&|<>()^,;=";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `line` starts with `word` in any letter case, followed by the end, a blank or one of
// `after`.
bool StartsWithWord(std::string_view line, std::string_view word, std::string_view after = {}) {
    if (line.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (Lower(line[i]) != word[i]) return false;
    }
    if (line.size() == word.size()) return true;
    const char next = line[word.size()];
    return IsBlank(next) || after.find(next) != std::string_view::npos;
}

// The line as the message shows it: printable, and not too long.
std::string Quoted(std::string_view line) {
    constexpr std::size_t kMax = 60;
    std::string out;
    for (const char c : line.substr(0, kMax)) out += IsControl(c) ? '?' : c;
    if (line.size() > kMax) out += "...";
    return "\"" + out + "\"";
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
        if (!AtEnd()) Fail("more follows the destination: " + Quoted(text_.substr(pos_)));
        return names;
    }

private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    void SkipBlanks() {
        while (!AtEnd() && IsBlank(text_[pos_])) ++pos_;
    }
    [[noreturn]] void Fail(const std::string& reason) const { throw ScriptError(line_, reason); }

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
                Fail("text follows a closing quote: " + Quoted(text_.substr(pos_)));
        } else {
            while (!AtEnd() && !IsBlank(text_[pos_]) && text_[pos_] != '+') {
                const char c = text_[pos_];
                if (c == '"') Fail("a quote starts inside a name: " + Quoted(text_.substr(pos_)));
                if (kUnquotedForbidden.find(c) != std::string_view::npos)
                    Fail(std::string("'") + c +
                         "' outside quotes, which cmd does not read as part "
                         "of a name");
                Take(c, name);
            }
        }
        if (name.empty()) Fail("a name is empty");
        if (name == "." || name == ".." || FileTitleOf(name) != name)
            Fail(Quoted(name) +
                 " is not a plain file name; the parts and the destination lie "
                 "beside the script");
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
            throw ScriptError(number, "a command separator or redirection in " + Quoted(line));
        return;
    }
    if (!StartsWithWord(line, "copy"))
        throw ScriptError(number, "not a line of a join script: " + Quoted(line));

    std::string_view rest = line.substr(4);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    if (!StartsWithWord(rest, "/b"))
        throw ScriptError(number, "only copy /b joins byte for byte: " + Quoted(line));
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
            throw ScriptError(number, "a later copy line must append to " +
                                          Quoted(list.destination) +
                                          " (copy /b DEST+\"PART\" DEST)");
        ++first;
        if (first == names.end()) throw ScriptError(number, "the line adds no part");
    }
    for (auto it = first; it != names.end(); ++it) {
        if (*it == list.destination)
            throw ScriptError(number, "the destination " + Quoted(*it) + " is also read as a part");
        list.parts.push_back(*it);
    }
}

int Count(std::size_t n) {
    return static_cast<int>(std::min<std::size_t>(n, INT32_MAX));
}

}  // namespace

JoinList ParseJoinScript(const std::string& text) {
    JoinList list;
    std::size_t start = 0;
    int number = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        std::string_view line(text.data() + start,
                              (end == std::string::npos ? text.size() : end) - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ReadLine(line, ++number, list);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (list.parts.empty()) throw ScriptError(0, "no copy /b line: not a join script");
    return list;
}

std::optional<SizeMisfit> FindSizeMisfit(const std::vector<std::uint64_t>& sizes) {
    if (sizes.empty()) return std::nullopt;
    const std::size_t n = sizes.size();
    const std::uint64_t total = std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0});

    struct Fit {
        std::size_t misfits = 0;
        SizeMisfit first{0, 0};
    };
    const auto fitTo = [&](std::uint64_t length) {
        const std::vector<std::uint64_t> plan = PlanPartSizes(length, Count(n));
        Fit fit;
        for (std::size_t k = 0; k < n; ++k) {
            if (sizes[k] == plan[k]) continue;
            if (fit.misfits++ == 0) fit.first = {k, plan[k]};
        }
        return fit;
    };

    Fit best = fitTo(total);
    if (best.misfits == 0) return std::nullopt;

    // The plans of the totals there would be had one part kept its size: the size of another
    // part, or nothing (a trailing part of a small file), in place of its own. And the plan
    // where every part has the first one's size, for a last part that was cut or grown.
    const auto consider = [&](std::uint64_t length) {
        const Fit fit = fitTo(length);
        if (fit.misfits < best.misfits) best = fit;
    };
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    if (sizes[0] <= kMax / n) consider(sizes[0] * n);
    for (std::size_t j = 0; j < n && best.misfits > 1; ++j) {
        const std::uint64_t others = total - sizes[j];
        for (const std::size_t i : {std::size_t{0}, std::size_t{1}}) {
            if (i != j && i < n && sizes[i] <= kMax - others) consider(others + sizes[i]);
        }
        consider(others);
    }
    return best.first;
}

std::string JoinProgressText(int percent) {
    return "Joining... [ " + std::to_string(percent) + " % Completed. ]";
}

namespace {

// Bytes copied between two looks at the clock, as in a split, and the alignment of the blocks.
constexpr std::uint64_t kMaxBlock = std::uint64_t{16} << 20;
constexpr std::uint64_t kAlign = std::uint64_t{64} << 10;
constexpr auto kYieldInterval = std::chrono::milliseconds(100);

class Run {
public:
    Run(const std::string& scriptPath, const JoinOptions& options, JoinHost& host,
        FileSystem& files)
        : scriptPath_(scriptPath),
          folder_(scriptPath.substr(0, scriptPath.size() - FileTitleOf(scriptPath).size())),
          options_(options),
          host_(host),
          files_(files) {}

    ~Run() { RemoveTemporary(); }

    JoinResult Go() {
        host_.SetStatus(kJoiningText);
        try {
            list_ = ParseJoinScript(CommandScriptText(ReadScript()));
        } catch (const ScriptError& error) {
            const std::string where =
                error.line() > 0 ? ", line " + std::to_string(error.line()) : std::string();
            host_.Report(FileTitleOf(scriptPath_) + where + ": " + error.reason());
            return JoinResult::kBadScript;
        }
        if (const auto result = CheckParts(); result != JoinResult::kDone) return result;
        if (const auto result = CheckDestination(); result != JoinResult::kDone) return result;

        CreateTemporary();
        progress_ = ProgressPlan(total_);
        nextStep_ = progress_.NextStep(0, lastShown_);
        lastYield_ = std::chrono::steady_clock::now();
        for (std::size_t k = 0; k < list_.parts.size(); ++k) {
            auto part = files_.OpenRead(folder_ + list_.parts[k]);
            if (part->Length() != sizes_[k])
                throw Failure(kDeviceIoError,
                              "Part changed during the join (" + part->Name() + ")");
            CopyPart(*part, sizes_[k]);
        }
        temporary_->Close();
        const auto written = files_.Status(temporaryPath_);
        if (!written || written->length != total_)
            throw Failure(kDeviceIoError,
                          "Joined file is not the size of its parts (" + list_.destination + ")");
        files_.Rename(temporaryPath_, DestinationPath(), options_.force);
        temporary_.reset();
        temporaryPath_.clear();
        host_.SetStatus(kDoneText);
        return JoinResult::kDone;
    }

private:
    std::string ReadScript() {
        auto script = files_.OpenRead(scriptPath_);
        if (script->Length() > kMaxScriptSize)
            throw ScriptError(
                0, "too large for a join script (" + std::to_string(script->Length()) + " bytes)");
        std::string text(static_cast<std::size_t>(script->Length()), '\0');
        std::size_t got = 0;
        while (got < text.size()) {
            const std::size_t n = script->Read(text.data() + got, text.size() - got);
            if (n == 0) break;
            got += n;
        }
        text.resize(got);
        return text;
    }

    // Every part is there and is a regular file, and their sizes fit a split.
    JoinResult CheckParts() {
        bool missing = false;
        for (const std::string& name : list_.parts) {
            const auto status = files_.Status(folder_ + name);
            if (!status) {
                host_.Report("Missing part: " + name);
                missing = true;
            } else if (!status->regular) {
                host_.Report("Part is not a regular file: " + name);
                missing = true;
            } else {
                sizes_.push_back(status->length);
                ids_.push_back(status->id);
            }
        }
        if (missing) return JoinResult::kMissingParts;
        total_ = std::accumulate(sizes_.begin(), sizes_.end(), std::uint64_t{0});
        if (options_.anySizes) return JoinResult::kDone;
        if (const auto misfit = FindSizeMisfit(sizes_)) {
            host_.Report("Part " + list_.parts[misfit->part] + " has " +
                         std::to_string(sizes_[misfit->part]) + " bytes where " +
                         std::to_string(misfit->expected) +
                         " were expected: it was cut short or grown since the split");
            return JoinResult::kSizesDoNotFit;
        }
        return JoinResult::kDone;
    }

    // The destination is new, or may be replaced, and is none of the parts by any name.
    JoinResult CheckDestination() {
        const auto status = files_.Status(DestinationPath());
        if (!status) return JoinResult::kDone;
        if (std::find(ids_.begin(), ids_.end(), status->id) != ids_.end()) {
            host_.Report("The destination is one of the parts: " + list_.destination);
            return JoinResult::kRefused;
        }
        if (!status->regular) {
            host_.Report("The destination exists and is not a regular file: " + list_.destination);
            return JoinResult::kRefused;
        }
        if (!options_.force) {
            host_.Report("The destination exists: " + list_.destination);
            return JoinResult::kDestinationExists;
        }
        return JoinResult::kDone;
    }

    // A new file beside the destination, so that the rename into place stays on one volume.
    void CreateTemporary() {
        std::random_device random;
        for (int attempt = 0;; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, ".join-%08x.tmp", static_cast<unsigned>(random()));
            const std::string path = folder_ + name;
            if (attempt < 8 && files_.Status(path)) continue;
            temporary_ = files_.CreateNew(path);
            temporaryPath_ = path;
            return;
        }
    }

    void RemoveTemporary() noexcept {
        if (temporaryPath_.empty()) return;
        temporary_.reset();
        try {
            files_.Remove(temporaryPath_);
        } catch (const std::exception&) {
            // The failure that got us here is the one to report; a leftover temporary file
            // holds nothing the parts do not.
        }
        temporaryPath_.clear();
    }

    // Copies `size` bytes of one part. Blocks end on a multiple of kAlign bytes into the part:
    // the kernel copies page-aligned ranges much faster (a third faster than blocks that end at
    // the exact bytes of the progress points). So a percentage is shown once its byte and up to
    // kAlign - 1 bytes after it are copied; the texts and their order are those of a split.
    void CopyPart(ReadableFile& part, std::uint64_t size) {
        const std::uint64_t start = offset_;
        const std::uint64_t end = offset_ + size;
        while (offset_ < end) {
            std::uint64_t blockEnd = std::min(end, offset_ + kMaxBlock);
            if (nextStep_.offset < blockEnd) {
                const std::uint64_t into = nextStep_.offset + 1 - start;
                blockEnd = std::min(blockEnd, start + (into + kAlign - 1) / kAlign * kAlign);
            }
            temporary_->CopyFrom(part, blockEnd - offset_);
            offset_ = blockEnd;
            bool shown = false;
            while (nextStep_.offset < offset_) {
                lastShown_ = nextStep_.percent;
                Yield();
                host_.SetStatus(JoinProgressText(lastShown_));
                nextStep_ = progress_.NextStep(nextStep_.offset + 1, lastShown_);
                shown = true;
            }
            if (!shown && std::chrono::steady_clock::now() - lastYield_ >= kYieldInterval) Yield();
        }
    }

    void Yield() {
        host_.Yield();
        lastYield_ = std::chrono::steady_clock::now();
    }

    std::string DestinationPath() const { return folder_ + list_.destination; }

    const std::string scriptPath_;
    const std::string folder_;  // the script's folder, with its trailing separator
    const JoinOptions options_;
    JoinHost& host_;
    FileSystem& files_;

    JoinList list_;
    std::vector<std::uint64_t> sizes_;
    std::vector<FileId> ids_;
    std::uint64_t total_ = 0;
    std::unique_ptr<WritableFile> temporary_;
    std::string temporaryPath_;

    std::uint64_t offset_ = 0;
    int lastShown_ = 0;
    ProgressPlan progress_{0};
    ProgressStep nextStep_{0, 0};
    std::chrono::steady_clock::time_point lastYield_;
};

}  // namespace

JoinResult Join(const std::string& scriptPath, const JoinOptions& options, JoinHost& host,
                FileSystem& files) {
    // One catch for every failure; the run's destructor has removed the temporary file by then.
    try {
        return Run(scriptPath, options, host, files).Go();
    } catch (const ScriptError& error) {
        host.Report(FileTitleOf(scriptPath) + ": " + error.reason());
        return JoinResult::kBadScript;
    } catch (...) {
        host.Report(CurrentFailure().Message());
    }
    return JoinResult::kFailed;
}

}  // namespace splitter
