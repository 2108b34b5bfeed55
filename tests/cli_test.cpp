// The command-line program, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "engine/join_script.h"
#include "test_support.h"

namespace splitter {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string quoted = "'";
    for (const char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Outcome RunCli(const TempDir& dir, const std::vector<std::string>& args) {
    std::string command = "cd ";
    command += Quote(dir.path().string());
    command += " && ";
    command += Quote(SPLITTER_CLI);
    for (const std::string& arg : args) {
        command += ' ';
        command += Quote(arg);
    }
    command += " >";
    command += Quote(dir / "stdout.txt");
    command += " 2>";
    command += Quote(dir / "stderr.txt");
    command += " </dev/null";
    const int raw = std::system(command.c_str());
    Outcome outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadBytes(dir / "stdout.txt"),
                    ReadBytes(dir / "stderr.txt")};
    test::fs::remove(dir / "stdout.txt");
    test::fs::remove(dir / "stderr.txt");
    return outcome;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(CliTest, SplitsAndPrintsEveryStatus) {
    TempDir dir;
    const std::string source = test::PatternBytes(1234);
    WriteBytes(dir / "data.bin", source);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"data.bin", "5"}, std::vector<std::string>{"split", "data.bin", "5"}}) {
        const Outcome outcome = RunCli(dir, args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.out, JoinLines(test::ReferenceStatuses(1234, 5).statuses));
        std::string joined;
        for (int k = 0; k < 5; ++k) joined += ReadBytes(dir / ("data.bin." + std::to_string(k)));
        EXPECT_EQ(joined, source);
        EXPECT_EQ(ReadBytes(dir / "data.bin.bat"), JoinScriptText("data.bin", 5));
    }
}

TEST(CliTest, RefusalsAndFailures) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"data.bin", ""}, 2, "", "Please Enter Number of Parts.\n"},
        {{"data.bin", " 4"}, 2, "", "Please Enter valid number of Parts.\n"},
        {{"data.bin", "-3"}, 2, "", "Please Enter valid number of Parts.\n"},
        {{"data.bin", "1000"}, 2, "", "Please Enter valid number of Parts.\n"},
        {{"data.bin", "40000"}, 2, "", "Error 6: Overflow\n"},
        {{"data.bin", "11"}, 2, "Splitting... \nUnable to split...\n", ""},
        {{"absent.bin", "2"}, 1, "Splitting... \n", "Error 53: File not found (absent.bin)\n"},
        {{"quote\".bin", "2"}, 1, "Splitting... \n", "Error 52: Bad file name or number (quote\".bin)\n"},
        {{"data.bin"}, 2, "", "Usage: splitter-cli"},
    };
    TempDir dir;
    WriteBytes(dir / "data.bin", "0123456789");
    WriteBytes(dir / "quote\".bin", "0123456789");
    for (const Case& c : cases) {
        const Outcome outcome = RunCli(dir, c.args);
        const std::string shown = c.args.empty() ? "" : c.args.back();
        EXPECT_EQ(outcome.status, c.status) << shown;
        EXPECT_EQ(outcome.out, c.out) << shown;
        EXPECT_EQ(outcome.err.substr(0, c.err.size()), c.err) << shown;
    }
    EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"data.bin", "quote\".bin"}));
}

TEST(CliTest, Help) {
    TempDir dir;
    const Outcome outcome = RunCli(dir, {"--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("Usage: splitter-cli"), std::string::npos);
}

}  // namespace
}  // namespace splitter
