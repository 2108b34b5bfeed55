// The command-line program, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

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
         {std::vector<std::string>{"data.bin", "5"},
          std::vector<std::string>{"split", "data.bin", "5"}}) {
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
        {{"quote\".bin", "2"},
         1,
         "Splitting... \n",
         "Error 52: Bad file name or number (quote\".bin)\n"},
        {{"data.bin"}, 2, "", "Usage: splitter-cli"},
        {{"gone/data.bin", "2"}, 1, "Splitting... \n", "Error 76: Path not found (data.bin)\n"},
        {{"linked.bin", "2"},
         1,
         "Splitting... \n",
         "Error 75: Path/File access error (linked.bin.1)\n"},
    };
    TempDir dir;
    TempDir outside;
    WriteBytes(dir / "data.bin", "0123456789");
    WriteBytes(dir / "quote\".bin", "0123456789");
    WriteBytes(dir / "linked.bin", "0123456789");
    WriteBytes(outside / "victim", "keep");
    test::fs::create_symlink(outside / "victim", dir / "linked.bin.1");
    for (const Case& c : cases) {
        const Outcome outcome = RunCli(dir, c.args);
        const std::string shown = c.args.empty() ? "" : c.args.back();
        EXPECT_EQ(outcome.status, c.status) << shown;
        EXPECT_EQ(outcome.out, c.out) << shown;
        EXPECT_EQ(outcome.err.substr(0, c.err.size()), c.err) << shown;
    }
    EXPECT_EQ(test::ListFolder(dir.path()),
              (std::vector<std::string>{"data.bin", "linked.bin", "linked.bin.1", "quote\".bin"}));
    EXPECT_EQ(ReadBytes(outside / "victim"), "keep");
}

TEST(CliTest, Help) {
    TempDir dir;
    const Outcome outcome = RunCli(dir, {"--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("Usage: splitter-cli"), std::string::npos);
}

// Splits a file named like the ones people send, then joins it where the join script cannot run.
TEST(CliTest, Joins) {
    TempDir dir;
    const std::string name = "a b&c%.bin";
    const std::string source = test::PatternBytes(100000);
    WriteBytes(dir / name, source);
    ASSERT_EQ(RunCli(dir, {name, "8"}).status, 0);
    test::fs::remove(dir / name);

    Outcome outcome = RunCli(dir, {"join", name + ".bat"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    const std::size_t lines =
        static_cast<std::size_t>(std::count(outcome.out.begin(), outcome.out.end(), '\n'));
    EXPECT_EQ(lines, 102u);  // "Joining... ", 1 % to 100 %, "Done !"
    EXPECT_EQ(outcome.out.substr(0, 12), "Joining... \n");
    EXPECT_NE(outcome.out.find("Joining... [ 100 % Completed. ]\nDone !\n"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir / name), source);

    outcome = RunCli(dir, {"join", "--force", "--", name + ".bat"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(ReadBytes(dir / name), source);
}

TEST(CliTest, JoinRefusalsAndFailures) {
    const std::string name = "data.bin";
    struct Case {
        const char* what;
        std::function<void(TempDir&)> arrange;
        std::vector<std::string> args;
        int status;
        std::string err;  // standard error, in full
    };
    const Case cases[] = {
        {"the destination exists",
         [&](TempDir& d) { WriteBytes(d / name, "old"); },
         {"join", "data.bin.bat"},
         2,
         "The destination exists: data.bin\nNothing was written; --force replaces it.\n"},
        {"missing parts",
         [&](TempDir& d) {
             test::fs::remove(d / "data.bin.1");
             test::fs::remove(d / "data.bin.7");
         },
         {"join", "data.bin.bat"},
         2,
         "Missing part: data.bin.1\nMissing part: data.bin.7\nNothing was written.\n"},
        {"a part cut short",
         [&](TempDir& d) { test::fs::resize_file(d / "data.bin.4", 99); },
         {"join", "data.bin.bat"},
         2,
         "Part data.bin.4 has 99 bytes where 100 were expected: it was cut short or grown since "
         "the split\nNothing was written; --any-sizes joins the parts as they are.\n"},
        {"a script it cannot read",
         [&](TempDir& d) { WriteBytes(d / "data.bin.bat", "copy /b data.bin.0 data.bin\r\nexit"); },
         {"join", "data.bin.bat"},
         2,
         "data.bin.bat, line 2: not a line of a join script: \"exit\"\nNothing was written.\n"},
        {"no script", {}, {"join", "none.bat"}, 1, "Error 53: File not found (none.bat)\n"},
        {"no folder",
         {},
         {"join", "gone/data.bin.bat"},
         1,
         "Error 76: Path not found (data.bin.bat)\n"},
        {"a part that links out of the folder",
         [&](TempDir& d) {
             test::fs::create_directory(d / "elsewhere");
             test::fs::rename(d / "data.bin.3", d / "elsewhere/secret");
             test::fs::create_symlink("elsewhere/secret", d / "data.bin.3");
         },
         {"join", "data.bin.bat"},
         2,
         "Part is a link out of the script's folder: data.bin.3\nNothing was written.\n"},
        {"an unknown option",
         {},
         {"join", "--frce", "data.bin.bat"},
         2,
         "Unknown option: --frce\n\nUsage: splitter-cli"},
        {"no script named", {}, {"join"}, 2, "Usage: splitter-cli"},
        {"two scripts", {}, {"join", "a.bat", "b.bat"}, 2, "Usage: splitter-cli"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / name, test::PatternBytes(800));
        ASSERT_EQ(RunCli(dir, {name, "8"}).status, 0);
        test::fs::remove(dir / name);
        if (c.arrange) c.arrange(dir);
        const std::vector<std::string> before = test::ListFolder(dir.path());

        const Outcome outcome = RunCli(dir, c.args);
        EXPECT_EQ(outcome.status, c.status) << c.what;
        EXPECT_EQ(outcome.err.substr(0, c.err.size()), c.err) << c.what;
        EXPECT_EQ(test::ListFolder(dir.path()), before) << c.what;
    }
}

TEST(CliTest, JoinsAnywayWhenAskedTo) {
    TempDir dir;
    WriteBytes(dir / "f", test::PatternBytes(800));
    ASSERT_EQ(RunCli(dir, {"f", "8"}).status, 0);
    test::fs::resize_file(dir / "f.4", 99);
    const Outcome outcome = RunCli(dir, {"join", "--any-sizes", "--force", "f.bat"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(test::fs::file_size(dir / "f"), 799u);
}

}  // namespace
}  // namespace splitter
