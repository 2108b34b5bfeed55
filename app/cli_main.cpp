// splitter-cli: the split run and the join from a command line, for scripts, for machines with
// no display, and for joining parts where the join script cannot run.
//
//   splitter-cli [split] FILE PARTS
//   splitter-cli join [--force] [--any-sizes] SCRIPT
//
// Prints every status text the window would show, each on its own line (redrawn in place on a
// terminal). Exit status: 0 after "Done !", 1 after a failure, 2 for a bad part count, a file
// with fewer bytes than parts, or a join refused before anything was written.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/join.h"
#include "engine/part_count.h"
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
    "Usage: splitter-cli [split] FILE PARTS\n"
    "       splitter-cli join [--force] [--any-sizes] SCRIPT\n"
    "\n"
    "Cuts FILE into PARTS parts (2 to 999) named FILE.0, FILE.1, ... beside it, and writes\n"
    "FILE.bat, a Windows command script that joins them back with copy /b.\n"
    "Every part but the last has the size of FILE divided by PARTS, rounded up; the last\n"
    "part holds the rest.\n"
    "\n"
    "\n"
    "join reads SCRIPT, the FILE.bat a split wrote, and joins the parts it lists into the\n"
    "file it names, both in SCRIPT's folder. Nothing is written unless every part is there\n"
    "and their sizes are those of a split; the file appears whole or not at all.\n"
    "  --force      replace the file when it exists\n"
    "  --any-sizes  join parts whose sizes do not fit a split\n"
    "\n"
    "Status texts go to standard output, errors to standard error.\n"
    "Exit status: 0 when done, 1 after a failure, 2 for a bad part count, a file with\n"
    "fewer bytes than PARTS, or a join refused before anything was written.\n";

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

int RunSplit(const std::string& file, std::string_view partsText) {
    const PartCount count = CheckPartCount(partsText);
    switch (count.verdict) {
        case PartCountVerdict::kEmpty: std::cerr << kEnterPartsText << '\n'; return kExitRefused;
        case PartCountVerdict::kInvalid:
            std::cerr << kInvalidPartsText << '\n';
            return kExitRefused;
        case PartCountVerdict::kOverflow:
            std::cerr << Failure::Of(kOverflow).Message() << '\n';
            return kExitRefused;
        case PartCountVerdict::kOk: break;
    }
    ConsoleHost host;
    const SplitResult result = SplitFile(count.parts, file, FileTitleOf(file), host);
    host.EndLine();
    switch (result) {
        case SplitResult::kDone: return kExitDone;
        case SplitResult::kUnableToSplit: return kExitRefused;
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
    if (!args.empty() && args[0] == "join") return RunJoin({args.begin() + 1, args.end()});
    std::size_t first = 0;
    if (!args.empty() && args[0] == "split") first = 1;
    if (args.size() - first != 2) {
        std::cerr << kUsage;
        return kExitRefused;
    }
    return RunSplit(args[first], args[first + 1]);
}
