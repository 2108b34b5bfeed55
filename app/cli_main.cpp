// splitter-cli: the split run from a command line, for scripts and for machines with no display.
//
//   splitter-cli [split] FILE PARTS
//
// Prints every status text the window would show, each on its own line (redrawn in place on a
// terminal). Exit status: 0 after "Done !", 1 after a failure, 2 for a bad part count or when
// the file has fewer bytes than parts.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "engine/plan.h"
#include "engine/split.h"
#include "platform/failure.h"
#include "window/part_count.h"

namespace {

using namespace splitter;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

constexpr const char* kUsage =
    "Usage: splitter-cli [split] FILE PARTS\n"
    "\n"
    "Cuts FILE into PARTS parts (2 to 999) named FILE.0, FILE.1, ... beside it, and writes\n"
    "FILE.bat, a Windows command script that joins them back with copy /b.\n"
    "Every part but the last has the size of FILE divided by PARTS, rounded up; the last\n"
    "part holds the rest.\n"
    "\n"
    "Status texts go to standard output, errors to standard error.\n"
    "Exit status: 0 when done, 1 after a failure, 2 for a bad part count or a file with\n"
    "fewer bytes than PARTS.\n";

// Shows the status texts on standard output: one line each, or one line redrawn in place when
// standard output is a terminal.
class ConsoleHost final : public SplitHost {
public:
    ConsoleHost() : terminal_(::isatty(STDOUT_FILENO) == 1) {}
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
    void ShowError(const std::string& message) override {
        EndLine();
        std::cerr << message << std::endl;
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
        case PartCountVerdict::kInvalid: std::cerr << kInvalidPartsText << '\n'; return kExitRefused;
        case PartCountVerdict::kOverflow:
            std::cerr << Failure::Of(kOverflow).Message() << '\n';
            return kExitRefused;
        case PartCountVerdict::kOk: break;
    }
    ConsoleHost host;
    const SplitResult result = Split(count.parts, file, FileTitleOf(file), host);
    host.EndLine();
    switch (result) {
        case SplitResult::kDone: return kExitDone;
        case SplitResult::kUnableToSplit: return kExitRefused;
        case SplitResult::kFailed: break;
    }
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return kExitDone;
    }
    std::size_t first = 0;
    if (!args.empty() && args[0] == "split") first = 1;
    if (args.size() - first != 2) {
        std::cerr << kUsage;
        return kExitRefused;
    }
    return RunSplit(args[first], args[first + 1]);
}
