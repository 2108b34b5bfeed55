// splitter-cli: the split run and the join from a command line, for scripts, for machines with
// no display, and for joining parts where the join script cannot run.
//
//   splitter-cli [split] [--checksum] [--recovery PERCENT] FILE PARTS
//   splitter-cli [split] [--checksum] [--recovery PERCENT] --size SIZE FILE
//   splitter-cli join [--force] [--any-sizes] SCRIPT
//
// Prints every status text the window would show, each on its own line (redrawn in place on a
// terminal). Exit status: 0 after "Done !", 1 after a failure, 2 for a bad part count or size,
// a file with fewer bytes than parts, or a join refused with nothing written.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/checksum.h"
#include "engine/join.h"
#include "engine/part_count.h"
#include "engine/part_size.h"
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
    "       splitter-cli --version | --help\n"
    "\n"
    "Cuts FILE into parts named FILE.0, FILE.1, ... beside it, and writes FILE.bat, a\n"
    "Windows command script that joins them back with copy /b. Options may stand before\n"
    "or after FILE.\n"
    "With PARTS (2 to 999), every part but the last has the size of FILE divided by PARTS,\n"
    "rounded up; the last part holds the rest.\n"
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
    "\n"
    "Status texts go to standard output, errors to standard error.\n"
    "Exit status: 0 when done, 1 after a failure, 2 for a bad PARTS or SIZE, a file with\n"
    "fewer bytes than PARTS or that SIZE cuts into fewer than 2 or more than 999 parts,\n"
    "or a join refused with nothing written.\n";

// Shows the status texts on standard output: one line each, or one line redrawn in place when
// standard output is a terminal.
class ConsoleHost final : public SplitHost {
public:
    ConsoleHost() : terminal_(console::RedrawsInPlace()) {}
    ~ConsoleHost() override { EndLine(); }

    void SetStatus(const std::string& text) override {
        if (terminal_) {
            std::cout << "\r\033[K" << text << std::flush;
            pending_ = true;
        } else {
            std::cout << text << '\n' << std::flush;
        }
    }
    void FocusPartCount() override {}
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
    bool terminal_;
    bool pending_ = false;
};

// The count of a split by count, or nullopt after saying why it is refused.
std::optional<std::int16_t> PartsOf(std::string_view partsText) {
    const PartCount count = CheckPartCount(partsText);
    switch (count.verdict) {
        case PartCountVerdict::kEmpty: std::cerr << kEnterPartsText << '\n'; return std::nullopt;
        case PartCountVerdict::kInvalid:
            std::cerr << kInvalidPartsText << '\n';
            return std::nullopt;
        case PartCountVerdict::kOverflow:
            std::cerr << Failure::Of(kOverflow).Message() << '\n';
            return std::nullopt;
        case PartCountVerdict::kOk: break;
    }
    return count.parts;
}

int Usage(const std::string& problem) {
    std::cerr << problem << "\n\n" << kUsage;
    return kExitRefused;
}

// 1 to 100 from "10" or "10%"; 0 when the text is anything else.
int PercentOf(std::string text) {
    if (!text.empty() && text.back() == '%') text.pop_back();
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int percent = std::stoi(text);
    return percent <= 100 ? percent : 0;
}

int BadPercent(const std::string& text) {
    std::cerr << "Unreadable recovery: \"" << ShownName(text)
              << "\" (a whole per cent of the file's size, 1 to 100, with or without %)\n";
    return kExitRefused;
}

int RunSplit(const std::vector<std::string>& args) {
    SplitOptions options;
    std::optional<std::string> sizeText;
    std::vector<std::string> operands;
    bool optionsEnd = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnd || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            operands.push_back(arg);  // "-3" is a part count, refused as such
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--checksum") {
            options.checksum = true;
        } else if (arg == "--recovery" && i + 1 < args.size()) {
            options.recoveryPercent = PercentOf(args[++i]);
            if (options.recoveryPercent == 0) return BadPercent(args[i]);
        } else if (arg.rfind("--recovery=", 0) == 0) {
            options.recoveryPercent = PercentOf(arg.substr(11));
            if (options.recoveryPercent == 0) return BadPercent(arg.substr(11));
        } else if (arg == "--recovery") {
            return Usage("--recovery needs a PERCENT");
        } else if (arg == "--size" && i + 1 < args.size()) {
            sizeText = args[++i];
        } else if (arg.rfind("--size=", 0) == 0) {
            sizeText = arg.substr(7);
        } else if (arg == "--size") {
            return Usage("--size needs a SIZE");
        } else {
            return Usage("Unknown option: " + arg);
        }
    }
    SplitPlan plan = SplitPlan::Count(0);
    if (sizeText) {
        if (operands.size() == 2) return Usage("Give PARTS or --size, not both");
        if (operands.size() != 1) return Usage("One FILE to split");
        const auto size = ParsePartSize(*sizeText);
        if (!size) {
            std::cerr << "Unreadable part size: \"" << *sizeText
                      << "\" (a whole number of bytes, with K, M, G, KiB, MiB, GiB, KB, MB or "
                         "GB after it, or fat32)\n";
            return kExitRefused;
        }
        plan = SplitPlan::Size(*size);
    } else {
        if (operands.size() != 2) {
            std::cerr << kUsage;
            return kExitRefused;
        }
        const auto parts = PartsOf(operands[1]);
        if (!parts) return kExitRefused;
        plan = SplitPlan::Count(*parts);
    }
    const std::string& file = operands[0];
    ConsoleHost host;
    const SplitResult result = SplitFile(plan, file, FileTitleOf(file), host, options);
    host.EndLine();
    switch (result) {
        case SplitResult::kDone:
            if (!options.checksum && FileSystem::Default().Status(ChecksumPath(file)))
                std::cerr << "Note: " << FileTitleOf(ChecksumPath(file))
                          << " was left as it was, and a join checks the files it lists against "
                             "it: if it is from an earlier split, remove it or split again with "
                             "--checksum.\n";
            return kExitDone;
        case SplitResult::kUnableToSplit:
        case SplitResult::kBadPartCount: return kExitRefused;
        case SplitResult::kFailed: break;
    }
    return kExitFailed;
}

int RunJoin(const std::vector<std::string>& args) {
    JoinOptions options;
    std::vector<std::string> scripts;
    bool optionsEnd = false;
    for (const std::string& arg : args) {
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && arg == "--force") {
            options.force = true;
        } else if (!optionsEnd && arg == "--any-sizes") {
            options.anySizes = true;
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            std::cerr << "Unknown option: " << ShownName(arg) << "\n\n" << kUsage;
            return kExitRefused;
        } else {
            scripts.push_back(arg);
        }
    }
    if (scripts.size() != 1) {
        std::cerr << kUsage;
        return kExitRefused;
    }
    ConsoleHost host;
    const JoinResult result = Join(scripts[0], options, host);
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

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    // Ctrl+C in the middle of a join leaves no temporary file behind.
    interruption::CatchInterruptions();
    const std::vector<std::string> args = console::Arguments(argc, argv);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return kExitDone;
    }
    if (!args.empty() && args[0] == "--version") {
        std::cout << "splitter-cli " SPLITTER_VERSION "\n";
        return kExitDone;
    }
    if (!args.empty() && args[0] == "join") return RunJoin({args.begin() + 1, args.end()});
    const std::size_t first = !args.empty() && args[0] == "split" ? 1 : 0;
    return RunSplit({args.begin() + static_cast<std::ptrdiff_t>(first), args.end()});
}
