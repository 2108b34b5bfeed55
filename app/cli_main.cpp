// splitter-cli: the split run and the join from a command line, for scripts, for machines with
// no display, and for joining parts where the join script cannot run.
//
//   splitter-cli [split] [--checksum] [--recovery PERCENT] FILE PARTS
//   splitter-cli [split] [--checksum] [--recovery PERCENT] --size SIZE FILE
//   splitter-cli join [--force] [--any-sizes] SCRIPT
//   splitter-cli [split] [--checksum] [--recovery PERCENT] --size SIZE - NAME
//   splitter-cli join --stdout SCRIPT
//   splitter-cli check SCRIPT | repair SCRIPT
//
// Prints every status text the window would show, each on its own line (redrawn in place on a
// terminal, with the rate and the time left). Exit status: 0 after "Done !", 1 after a failure
// ("Error CODE: ..."), 2 for a usage error, a bad part count or size, a file with fewer bytes
// than parts, or a join refused by its checks.
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/join_script.h"
#include "engine/part_count.h"
#include "engine/part_size.h"
#include "engine/plan.h"
#include "engine/progress_copier.h"
#include "engine/split.h"
#include "files/console.h"
#include "files/failure.h"
#include "files/interruption.h"

namespace {

using namespace splitter;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

constexpr const char* kUsage =
    "Usage: splitter-cli [split] [--checksum] [--recovery PERCENT] FILE PARTS\n"
    "       splitter-cli [split] [--checksum] [--recovery PERCENT] --size SIZE FILE\n"
    "       splitter-cli join [--force] [--any-sizes] SCRIPT\n"
    "       splitter-cli [split] [--checksum] [--recovery PERCENT] --size SIZE - NAME\n"
    "       splitter-cli join --stdout SCRIPT\n"
    "       splitter-cli check SCRIPT\n"
    "       splitter-cli repair SCRIPT\n"
    "       splitter-cli --version | --help | -h\n"
    "\n"
    "Cuts FILE into parts named FILE.0, FILE.1, ... beside it, and writes FILE.bat, a\n"
    "Windows command script that joins them back with copy /b. Options may stand before\n"
    "or after FILE.\n"
    "With PARTS (2 to 999), each part takes the size of FILE divided by PARTS, rounded up,\n"
    "or what is left of FILE when that is less: the last part holds the rest, and in a small\n"
    "FILE the last few hold less or nothing (7 bytes in 6 parts: 2, 2, 2, 1, 0, 0).\n"
    "Parts of an earlier split that the new one does not make (FILE.3 and on, after one\n"
    "into 3 parts) are left where they are, and named in one line.\n"
    "  --size SIZE  parts of SIZE bytes, the last one holding the rest; they must come to\n"
    "               2 to 999 parts. SIZE is a whole number of bytes with an optional unit:\n"
    "               K, M, G or KiB, MiB, GiB (powers of 1024), KB, MB, GB (powers of\n"
    "               1000); or fat32, the largest multiple of 4096 below 4 GiB (4294963200\n"
    "               bytes), for a FAT32 volume.\n"
    "  --checksum   also write FILE.sha256: the SHA-256 of each part and of FILE, in the\n"
    "               format of sha256sum, so that sha256sum -c --ignore-missing FILE.sha256\n"
    "               checks whatever is there, before and after the join.\n"
    "  --recovery PERCENT\n"
    "               also write FILE.par2 and FILE.vol*.par2, PAR 2.0 recovery volumes\n"
    "               of PERCENT (1 to 100, 10 or 10%) of FILE's size: lost or damaged\n"
    "               parts up to that size are rebuilt from them, by the join or by\n"
    "               par2 repair FILE.par2.\n"
    "On a copy-on-write file system (XFS, btrfs), parts whose size is a multiple of 4096\n"
    "(--size 64M, --size fat32) share their blocks with FILE instead of copying them,\n"
    "unless --checksum, which reads every byte.\n"
    "\n"
    "join reads SCRIPT, the FILE.bat a split wrote, and joins the parts it lists into the\n"
    "file it names, both in SCRIPT's folder. Nothing is written unless every part is there\n"
    "and their sizes are those of a split, by count or by size; the file appears whole or\n"
    "not at all. When FILE.sha256 lies beside SCRIPT, every part and the file are checked\n"
    "against it as they are copied: a part that differs is named and nothing is written.\n"
    "When FILE.par2 lies beside SCRIPT, the parts are first checked against it, and\n"
    "those lost or damaged are rebuilt from the recovery volumes and named; when the\n"
    "volumes do not suffice, nothing is written.\n"
    "  --force      replace the file when it exists\n"
    "  --any-sizes  join parts whose sizes do not fit a split\n"
    "  --stdout     write the joined bytes to standard output, and no file; each part\n"
    "               with a line in FILE.sha256 is checked before it is sent\n"
    "\n"
    "With - for FILE and --size, standard input is read to its end and cut into NAME.0,\n"
    "NAME.1, ... with NAME.bat joining them into NAME (a count of parts needs a file):\n"
    "  tar c DIR | splitter-cli --checksum --recovery 10 --size 4G - backup.tar\n"
    "  splitter-cli join --stdout backup.tar.bat | tar x\n"
    "\n"
    "check checks the parts SCRIPT lists against FILE.par2 and its volumes, else against\n"
    "FILE.sha256, else by their presence and sizes, names each part missing, cut short or\n"
    "damaged, and writes nothing. Exit status: 0 when all are intact, 1 when the recovery\n"
    "volumes can rebuild what is lost, 2 when the parts cannot be made whole.\n"
    "repair rebuilds lost or damaged parts in place from the recovery volumes, as the join\n"
    "does, keeping the bytes of a part it replaces as PART.damaged, and joins nothing. Exit\n"
    "status: 0 when all parts are then intact, 2 when they cannot be made whole (nothing\n"
    "was written), 1 after a failure.\n"
    "\n"
    "Status texts go to standard output (on a terminal, one line redrawn with the rate and\n"
    "the time left), errors to standard error.\n"
    "Exit status: 0 when done, 1 after a failure \"Error CODE: ...\" (a file operation, or a\n"
    "name the run refuses before writing: see splitter-cli(1) for the codes), 2 for a usage\n"
    "error, a bad PARTS or SIZE, a file with fewer bytes than PARTS or that SIZE cuts into\n"
    "fewer than 2 or more than 999 parts, or a join refused by its checks; 130, 143 or 129\n"
    "after Ctrl+C, SIGTERM or SIGHUP.\n";

// Shows the status texts on standard output: one line each, or one line redrawn in place when
// standard output is a terminal, where a long run also shows its rate and the time left. `total`
// is the bytes a split or join copies, 0 when unknown.
class ConsoleHost final : public SplitHost {
public:
    explicit ConsoleHost(std::uint64_t total = 0)
        : terminal_(console::RedrawsInPlace()), total_(total) {}
    ~ConsoleHost() override { EndLine(); }

    void SetStatus(const std::string& text) override {
        if (terminal_) {
            std::cout << "\r\033[K" << text << Pace(text) << std::flush;
            pending_ = true;
        } else {
            std::cout << text << '\n' << std::flush;
        }
    }
    void Warn(const std::string& message) override { ReportError(message); }
    void Note(const std::string& message) override {
        EndLine();
        std::cout << message << '\n' << std::flush;
    }
    void Yield() override {}
    void ReportError(const std::string& message) override {
        EndLine();
        console::PrintError(message);
    }

    void EndLine() {
        if (pending_) std::cout << '\n' << std::flush;
        pending_ = false;
    }

private:
    // The rate and time left after a progress text, timed from the first text of its kind
    // ("Splitting... " and its percentages, or those of the next step). Only the copy's own
    // percentages are of `total` bytes; the time left of any other step is timed alike.
    std::string Pace(const std::string& text) {
        const std::string kind = text.substr(0, text.find("..."));
        const auto now = std::chrono::steady_clock::now();
        if (kind != kind_) {
            kind_ = kind;
            start_ = now;
        }
        const std::optional<int> percent = ProgressPercent(text);
        if (!percent) return {};
        const bool copy = kind == "Splitting" || kind == "Joining";
        return RateAndTimeLeft(*percent, copy ? total_ : 0,
                               std::chrono::duration<double>(now - start_).count());
    }

    bool terminal_;
    std::uint64_t total_;
    bool pending_ = false;
    std::string kind_;
    std::chrono::steady_clock::time_point start_;
};

// A usage error: one line that names it and where to read more, as the tools around it do.
int UsageError(const std::string& problem, const char* prefix = "splitter-cli: ") {
    std::cerr << prefix << problem << "\nTry 'splitter-cli --help' for more information.\n";
    return kExitRefused;
}

// What the regular file at `path` is; nullopt for anything else, or for what cannot be looked
// at (a run that needs it says why).
std::optional<FileStatus> RegularFile(const std::string& path) {
    try {
        const auto status = FileSystem::Default().Status(path);
        if (status && status->regular) return status;
    } catch (...) {
    }
    return std::nullopt;
}

std::uint64_t LengthOf(const std::string& path) {
    const auto status = RegularFile(path);
    return status ? status->length : 0;
}

// The bytes a join of the script at `path` copies, 0 when it cannot be told (the join says why).
std::uint64_t JoinedLength(const std::string& path) {
    try {
        std::uint64_t total = 0;
        for (const std::string& part : ReadJoinScript(path, FileSystem::Default()).parts)
            total += LengthOf(FolderOf(path) + part);
        return total;
    } catch (...) {
        return 0;
    }
}

// After a split into `parts` parts of `file`: the parts of an earlier split into more that are
// still there, named in one line. They are left, as every run leaves what it made, but a reader
// of the folder must not take them for the new set.
void NameEarlierParts(const std::string& file, std::uint64_t parts) {
    std::uint64_t next = parts;
    while (next < static_cast<std::uint64_t>(kMaxParts) &&
           RegularFile(file + "." + std::to_string(next)))
        ++next;
    if (next == parts) return;
    const std::string first = ShownName(FileTitleOf(file) + "." + std::to_string(parts));
    const std::string last = ShownName(FileTitleOf(file) + "." + std::to_string(next - 1));
    std::cout << "Left from an earlier split, not of this one: "
              << (next - parts == 1 ? first : first + " to " + last) << '\n'
              << std::flush;
}

// The count of a split by count, or nullopt after saying why it is refused: the window's
// words, the range and where to read more.
std::optional<std::int16_t> PartsOf(std::string_view partsText) {
    const PartCount count = CheckPartCount(partsText);
    const std::string range =
        " (PARTS: " + std::to_string(kMinParts) + " to " + std::to_string(kMaxParts) + ")";
    switch (count.verdict) {
        case PartCountVerdict::kEmpty: UsageError(kEnterPartsText + range, ""); break;
        case PartCountVerdict::kInvalid: UsageError(kInvalidPartsText + range, ""); break;
        case PartCountVerdict::kOverflow:
            UsageError(Failure::Of(kOverflow).Message() + range, "");
            break;
        case PartCountVerdict::kOk: return count.parts;
    }
    return std::nullopt;
}

// 1 to 100 from "10" or "10%"; 0 when the text is anything else.
int PercentOf(std::string text) {
    if (!text.empty() && text.back() == '%') text.pop_back();
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int percent = std::stoi(text);
    return percent <= 100 ? percent : 0;
}

int BadPercent(const std::string& text) {
    std::cerr << "Unreadable recovery: \"" << ShownName(text)
              << "\" (a whole per cent of the file's size, 1 to 100, with or without %)\n";
    return kExitRefused;
}

// The command line after the verb, read the same way for split and join: options (anywhere
// before "--"), their values, and the operands. An argument that starts with '-' and a letter
// is an option ("-3" is a part count, "-" a name); a name that starts with '-' comes after "--".
struct CommandLine {
    bool help = false;
    bool checksum = false;                    // split
    std::optional<std::string> sizeText;      // split
    std::optional<std::string> recoveryText;  // split
    bool force = false;                       // join
    bool anySizes = false;                    // join
    bool stdoutStream = false;                // join
    std::vector<std::string> operands;
};

// The options and the verb each belongs to.
struct Option {
    std::string_view name;
    bool join;          // join's, else split's
    const char* value;  // what it takes ("SIZE"), nullptr for none
};
constexpr Option kOptions[] = {
    {"--checksum", false, nullptr},   {"--size", false, "SIZE"},
    {"--recovery", false, "PERCENT"}, {"--force", true, nullptr},
    {"--any-sizes", true, nullptr},   {"--stdout", true, nullptr},
};

// Reads `args` for the verb (join or split), or says what is wrong with them.
std::optional<CommandLine> ReadCommandLine(const std::vector<std::string>& args, bool join,
                                           std::string& problem) {
    CommandLine line;
    bool optionsEnd = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool option =
            !optionsEnd && arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
        if (!option) {
            line.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const Option* known = nullptr;
        for (const Option& o : kOptions) {
            if (o.name == name) known = &o;
        }
        if (known == nullptr) {
            problem = "unknown option '" + ShownName(name) + "'";
            return std::nullopt;
        }
        if (known->join != join) {
            problem = "option '" + ShownName(name) + "' is for " +
                      (known->join ? "join" : "split") + " only";
            return std::nullopt;
        }
        std::optional<std::string> value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (known->value != nullptr && i + 1 < args.size()) {
            value = args[++i];
        }
        if ((known->value != nullptr) != value.has_value()) {
            problem = "option '" + ShownName(name) +
                      (known->value != nullptr ? std::string("' needs a ") + known->value
                                               : std::string("' takes no value"));
            return std::nullopt;
        }
        if (name == "--checksum") line.checksum = true;
        if (name == "--size") line.sizeText = value;
        if (name == "--recovery") line.recoveryText = value;
        if (name == "--force") line.force = true;
        if (name == "--any-sizes") line.anySizes = true;
        if (name == "--stdout") line.stdoutStream = true;
    }
    return line;
}

int RunSplit(const CommandLine& line) {
    SplitOptions options;
    options.checksum = line.checksum;
    if (line.recoveryText) {
        options.recoveryPercent = PercentOf(*line.recoveryText);
        if (options.recoveryPercent == 0) return BadPercent(*line.recoveryText);
    }
    const std::vector<std::string>& operands = line.operands;
    if (operands.empty()) return UsageError("missing FILE");
    SplitPlan plan = SplitPlan::Count(0);
    const bool stream = operands[0] == "-";
    if (stream && !line.sizeText)
        return UsageError(
            "standard input (-) is split by --size SIZE: a count of parts needs "
            "its size");
    if (stream && operands.size() != 2)
        return UsageError(operands.size() < 2 ? "missing NAME after '-'"
                                              : "extra operand '" + ShownName(operands[2]) + "'");
    if (line.sizeText) {
        if (operands.size() == 2 && !stream) return UsageError("give PARTS or --size, not both");
        if (operands.size() > 1 && !stream)
            return UsageError("extra operand '" + ShownName(operands[1]) + "'");
        const auto size = ParsePartSize(*line.sizeText);
        if (!size) {
            std::cerr << "Unreadable part size: " << ShownName(*line.sizeText, '"')
                      << " (a whole number of bytes, with K, M, G, KiB, MiB, GiB, KB, MB or "
                         "GB after it, or fat32)\n";
            return kExitRefused;
        }
        plan = SplitPlan::Size(*size);
    } else {
        if (operands.size() == 1)
            return UsageError("missing the number of parts after '" + ShownName(operands[0]) + "'");
        if (operands.size() > 2)
            return UsageError("extra operand '" + ShownName(operands[2]) + "'");
        const auto parts = PartsOf(operands[1]);
        if (!parts) return kExitRefused;
        plan = SplitPlan::Count(*parts);
    }
    const std::string& file = stream ? operands[1] : operands[0];
    const std::uint64_t length = stream ? 0 : LengthOf(file);
    ConsoleHost host(length);
    const SplitResult result =
        stream ? SplitStream(console::StandardInput(), file, plan.partSize, host, options)
               : SplitFile(file, FileTitleOf(file), plan, host, options);
    host.EndLine();
    switch (result) {
        case SplitResult::kDone:
            // A stream's count is known only to the run: its earlier parts are not looked for.
            if (!stream)
                NameEarlierParts(file, plan.partSize == 0
                                           ? static_cast<std::uint64_t>(plan.parts)
                                           : SizedPartCount(length, plan.partSize));
            return kExitDone;
        case SplitResult::kUnableToSplit:
            console::PrintError(ShownName(FileTitleOf(file)) + " has " + std::to_string(length) +
                                " bytes: fewer than the " + std::to_string(plan.parts) +
                                " parts asked for (a split makes no more parts than the file "
                                "has bytes).");
            return kExitRefused;
        case SplitResult::kBadPartCount:
        case SplitResult::kRefused: return kExitRefused;
        case SplitResult::kFailed: break;
    }
    return kExitFailed;
}

// The host of a run whose standard output carries the joined bytes: no status texts, and
// every other word on standard error.
class StreamHost final : public RunHost {
public:
    void SetStatus(const std::string&) override {}
    void Yield() override {}
    void ReportError(const std::string& message) override { console::PrintError(message); }
    void Note(const std::string& message) override { console::PrintError(message); }
};

// join --stdout: a refusal before the first byte is 2, as the join's; a mismatch found after
// bytes went out, or a failure, is 1.
int RunJoinToStream(const std::string& script, JoinOptions options) {
    if (options.force) return UsageError("--force replaces a file; --stdout writes none");
    const auto out = console::StandardOutput();
    options.stream = out.get();
    options.streamFile = console::StandardOutputFile();
    StreamHost host;
    switch (Join(script, options, host)) {
        case JoinResult::kDone: return kExitDone;
        case JoinResult::kChecksumMismatch:
        case JoinResult::kFailed: return kExitFailed;
        default: return kExitRefused;
    }
}

// check and repair: SCRIPT only.
int RunCheck(const CommandLine& line, bool repair) {
    const char* verb = repair ? "repair" : "check";
    if (line.force || line.anySizes || line.stdoutStream)
        return UsageError(std::string(verb) + " takes no option but --help");
    if (line.operands.empty()) return UsageError("missing SCRIPT");
    if (line.operands.size() > 1)
        return UsageError("extra operand '" + ShownName(line.operands[1]) + "'");
    ConsoleHost host;
    const PartsVerdict verdict = CheckSplitParts(line.operands[0], repair, host);
    host.EndLine();
    switch (verdict) {
        case PartsVerdict::kIntact: return kExitDone;
        case PartsVerdict::kRepairable:
            std::cerr << "splitter-cli repair " << ShownName(line.operands[0])
                      << " rebuilds what is lost. Nothing was written.\n";
            return kExitFailed;  // 1: damaged, and repairable
        case PartsVerdict::kBroken:
            std::cerr << (repair ? "Nothing was written.\n"
                                 : "The parts cannot be made whole. Nothing was written.\n");
            return kExitRefused;
        case PartsVerdict::kFailed: break;
    }
    // A check that could not read is no verdict of 1 ("repairable").
    return repair ? kExitFailed : kExitRefused;
}

int RunJoin(const CommandLine& line) {
    if (line.operands.empty()) return UsageError("missing SCRIPT");
    if (line.operands.size() > 1)
        return UsageError("extra operand '" + ShownName(line.operands[1]) + "'");
    JoinOptions options;
    options.force = line.force;
    options.anySizes = line.anySizes;
    if (line.stdoutStream) return RunJoinToStream(line.operands[0], options);
    ConsoleHost host(JoinedLength(line.operands[0]));
    const JoinResult result = Join(line.operands[0], options, host);
    host.EndLine();
    switch (result) {
        case JoinResult::kDone: return kExitDone;
        case JoinResult::kSizesDoNotFit:
            std::cerr << "Nothing was written; --any-sizes joins the parts as they are.\n";
            return kExitRefused;
        case JoinResult::kDestinationExists:
            std::cerr << "Nothing was written; --force replaces it.\n";
            return kExitRefused;
        case JoinResult::kBadScript:
        case JoinResult::kMissingParts:
        case JoinResult::kBadChecksums:
        case JoinResult::kCannotRepair:
        case JoinResult::kChecksumMismatch:
        case JoinResult::kRefused: std::cerr << "Nothing was written.\n"; return kExitRefused;
        case JoinResult::kFailed: break;
    }
    return kExitFailed;
}

int Run(int argc, char** argv) {
    const std::vector<std::string> args = console::Arguments(argc, argv);
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "splitter-cli " SPLITTER_VERSION "\n";
        return kExitDone;
    }
    const bool check = !args.empty() && (args[0] == "check" || args[0] == "repair");
    const bool join = !args.empty() && (args[0] == "join" || check);
    const std::size_t verb = !args.empty() && (join || args[0] == "split") ? 1 : 0;
    std::string problem;
    const std::optional<CommandLine> line = ReadCommandLine(
        {args.begin() + static_cast<std::ptrdiff_t>(verb), args.end()}, join, problem);
    if (!line) return UsageError(problem);
    if (line->help) {
        std::cout << kUsage;
        return kExitDone;
    }
    if (check) return RunCheck(*line, args[0] == "repair");
    return join ? RunJoin(*line) : RunSplit(*line);
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    // Ctrl+C in the middle of a join leaves no temporary file behind; a reader of the status
    // texts that goes away (`| head -1`) ends the texts, not the run.
    interruption::CatchSignals();
    console::KeepRunningWithoutReader();
    // The program's last trap: whatever the runs' own traps let through ends here, said.
    try {
        return Run(argc, argv);
    } catch (...) {
        console::PrintError(CurrentFailure().Message());
    }
    return kExitFailed;
}
