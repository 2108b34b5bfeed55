// The command-line program, run as a user would run it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "engine/checksum.h"
#include "engine/join_script.h"
#include "engine/plan.h"
#include "engine/recovery/layout.h"
#include "engine/recovery/packets.h"
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

// Runs splitter-cli in `dir`, after the shell command `before` when one is given, through
// `runner` (which bounds the run: one that never ends fails the test instead).
Outcome RunCli(const TempDir& dir, const std::vector<std::string>& args,
               const std::string& before = {}, const std::string& runner = "timeout 120") {
    std::string command = "cd ";
    command += Quote(dir.path().string());
    command += " && ";
    if (!before.empty()) command += before + " && ";
    command += runner + " " + Quote(SPLITTER_CLI);
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
          std::vector<std::string>{"split", "data.bin", "5"},
          std::vector<std::string>{"--checksum", "data.bin", "5"},
          std::vector<std::string>{"--size", "250", "data.bin"},  // 4 of 250 and 234
          std::vector<std::string>{"split", "data.bin", "--size=250", "--checksum"},
          std::vector<std::string>{"--size", "250", "--", "data.bin"},
          std::vector<std::string>{"data.bin", "--recovery", "10%", "5"}}) {
        const Outcome outcome = RunCli(dir, args);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        const bool recovery = std::find(args.begin(), args.end(), "--recovery") != args.end();
        // The recovery volumes' own progress, up to 100 %, then what the set rebuilds.
        const std::string making = "Making recovery volumes... [ 100 % Completed. ]\n";
        std::string out = outcome.out;
        if (recovery)
            out = out.substr(0, out.find("Making")) + out.substr(out.find(making) + making.size());
        EXPECT_EQ(out, JoinLines(test::ReferenceStatuses(1234, 5).statuses) +
                           (recovery ? "data.bin.par2 and its volumes rebuild damaged slices of "
                                       "the parts, but no whole part (16 recovery slices of 8 "
                                       "bytes).\n"
                                     : ""));
        std::string joined;
        for (int k = 0; k < 5; ++k) joined += ReadBytes(dir / ("data.bin." + std::to_string(k)));
        EXPECT_EQ(joined, source);
        EXPECT_EQ(ReadBytes(dir / "data.bin.bat"), JoinScriptText("data.bin", 5));
        const bool checksum = std::find(args.begin(), args.end(), "--checksum") != args.end();
        EXPECT_EQ(test::fs::remove(dir / "data.bin.sha256"), checksum);
    }
}

// A split into fewer parts than the one before leaves that one's higher parts, and names them.
TEST(CliTest, ResplitNamesTheEarlierPartsLeft) {
    TempDir dir;
    WriteBytes(dir / "data.bin", test::PatternBytes(100));
    for (const auto& [parts, left] :
         {std::pair{"6", ""}, {"3", "data.bin.3 to data.bin.5"}, {"5", "data.bin.5"}, {"7", ""}}) {
        const std::string out = RunCli(dir, {"data.bin", parts}).out;
        EXPECT_EQ(
            out.substr(out.find("Done !\n") + 7),
            *left ? "Left from an earlier split, not of this one: " + std::string(left) + "\n" : "")
            << parts;
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
        {{"data.bin", ""}, 2, "", "Please Enter Number of Parts. (PARTS: 2 to 999)\nTry"},
        {{"data.bin", " 4"}, 2, "", "Please Enter valid number of Parts. (PARTS: 2 to 999)\n"},
        {{"data.bin", "-3"}, 2, "", "Please Enter valid number of Parts. (PARTS: 2 to 999)\n"},
        {{"data.bin", "1000"}, 2, "", "Please Enter valid number of Parts. (PARTS: 2 to 999)\nTry"},
        {{"data.bin", "40000"}, 2, "", "Error 6: Overflow (PARTS: 2 to 999)\nTry"},
        {{"data.bin", "11"},
         2,
         "Splitting... \nUnable to split...\n",
         "data.bin has 10 bytes: fewer than the 11 parts asked for"},
        {{"absent.bin", "2"}, 1, "Splitting... \n", "Error 53: File not found (absent.bin)\n"},
        {{"\x9b[2J.bin", "2"}, 1, "Splitting... \n", "Error 53: File not found (?[2J.bin)\n"},
        {{"quote\".bin", "2"},
         1,
         "Splitting... \n",
         "Error 52: Bad file name or number (quote\".bin)\n"},
        {{"data.bin"},
         2,
         "",
         "splitter-cli: missing the number of parts after 'data.bin'\n"
         "Try 'splitter-cli --help' for more information.\n"},
        {{"-x", "data.bin", "2"}, 2, "", "splitter-cli: unknown option '-x'\nTry"},
        {{"data.bin", "2", "--force"}, 2, "", "splitter-cli: option '--force' is for join only\n"},
        {{"--size", "1.5K", "data.bin"},
         2,
         "",
         "Unreadable part size: \"1.5K\" (a whole number of bytes, with K, M, G, KiB, MiB, GiB, "
         "KB, MB or GB after it, or fat32)\n"},
        {{"data.bin", "--size", "0"}, 2, "", "Unreadable part size: \"0\""},
        {{"data.bin", "--size", "-5"}, 2, "", "Unreadable part size: \"-5\""},
        {{"data.bin", "--size=7 M"}, 2, "", "Unreadable part size: \"7 M\""},
        {{"--size", "10", "data.bin"},
         2,
         "Splitting... \n",
         "data.bin has 10 bytes: parts of 10 bytes would make 1 part; a split makes 2 to 999.\n"},
        {{"--size", "fat32", "data.bin"},
         2,
         "Splitting... \n",
         "data.bin has 10 bytes: parts of 4294963200 bytes would make 1 part"},
        {{"--size", "1K", "data.bin", "3"},
         2,
         "",
         "splitter-cli: give PARTS or --size, not both\n"},
        {{"--size", "1K"}, 2, "", "splitter-cli: missing FILE\n"},
        {{"data.bin", "--size"}, 2, "", "splitter-cli: option '--size' needs a SIZE\n"},
        {{"data.bin", "3", "--chcksum"}, 2, "", "splitter-cli: unknown option '--chcksum'\n"},
        {{"data.bin", "3", "--recovery", "101"}, 2, "", "Unreadable recovery: \"101\" (a whole"},
        {{"data.bin", "3", "--recovery=0%"}, 2, "", "Unreadable recovery: \"0%\""},
        {{"data.bin", "3", "--recovery"},
         2,
         "",
         "splitter-cli: option '--recovery' needs a PERCENT\n"},
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

// A script written here is for cmd on Windows: it names the parts in the OEM code page of the
// user's locale; a name that code page cannot spell is written as it is, with a warning, and
// splitter-cli join reads either.
TEST(CliTest, ScriptsInTheCodePageOfTheLocale) {
    struct Case {
        std::string locale;  // shell assignments
        std::string name;
        std::string inScript;
        bool warned;
    };
    const Case cases[] = {
        {"LANG=en_US.UTF-8", "caf\xc3\xa9.txt", "caf\x82.txt", false},
        {"LC_ALL=ru_RU.UTF-8 LANG=en_US.UTF-8", "\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb",
         "\xe4\xa0\xa9\xab", false},
        {"LC_CTYPE=da_DK.UTF-8 LANG=ru_RU.UTF-8", "\xc3\xb8rsted.txt", "\x9brsted.txt", false},
        {"LC_ALL=ru_RU.UTF-8", "caf\xc3\xa9.txt", "caf\xc3\xa9.txt", true},
        {"LANG=C", "\xe6\x97\xa5\xe6\x9c\xac.txt", "\xe6\x97\xa5\xe6\x9c\xac.txt", true},
        // Code page 720, which the C library lacks.
        {"LANG=ar_SA.UTF-8", "\xd9\x85\xd9\x84\xd9\x81.txt", "\xea\xe9\xe5.txt", false},
        // Code page 932 bytes that are also UTF-8 (U+0803 '@'), and UTF-8 bytes that are also
        // code page 932 (two half-width kana): the join takes the reading whose parts are there.
        {"LANG=ja_JP.UTF-8", "\xe7\x87\xbf\xe3\x82\xa1.txt", "\xe0\xa0\x83\x40.txt", false},
        {"LANG=ja_JP.UTF-8", "caf\xc3\xa9.txt", "caf\xc3\xa9.txt", true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string source = test::PatternBytes(100);
        WriteBytes(dir / c.name, source);
        const std::string locale = "unset LC_ALL LC_CTYPE LANG; export " + c.locale;
        const Outcome split = RunCli(dir, {c.name, "3"}, locale);
        EXPECT_EQ(split.status, 0) << c.locale;
        EXPECT_EQ(
            split.err.rfind("Warning: ", 0) == 0 && split.err.find('\n') + 1 == split.err.size(),
            c.warned)
            << split.err;
        EXPECT_NE(ReadBytes(dir / (c.name + ".bat")).find("+\"" + c.inScript + ".2\" "),
                  std::string::npos)
            << c.locale;
        test::fs::remove(dir / c.name);
        EXPECT_EQ(RunCli(dir, {"join", c.name + ".bat"}, locale).status, 0) << c.locale;
        EXPECT_EQ(ReadBytes(dir / c.name), source) << c.locale;
    }
}

TEST(CliTest, Help) {
    TempDir dir;
    const Outcome outcome = RunCli(dir, {"--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("Usage: splitter-cli"), std::string::npos);
    const Outcome version = RunCli(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "splitter-cli " SPLITTER_VERSION "\n");
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
        {"a checksum file it does not match",
         [&](TempDir& d) { WriteBytes(d / "data.bin.sha256", ChecksumLine({}, "data.bin")); },
         {"join", "data.bin.bat"},
         2,
         "The joined file data.bin does not match its SHA-256 in data.bin.sha256: the parts are "
         "not those of the split, or not in its order\nNothing was written.\n"},
        // A hostile name is refused before it reaches the file system, and shown short.
        {"a name of a megabyte",
         [&](TempDir& d) {
             WriteBytes(d / "data.bin.bat", "copy /b \"" + std::string(1000000, 'a') + "\" x");
         },
         {"join", "data.bin.bat"},
         2,
         "data.bin.bat, line 1: a name longer than a file name can be (1000000 bytes): \"" +
             std::string(60, 'a') + "..." + std::string(37, 'a') + "\"\nNothing was written.\n"},
        {"a long name missing",
         [&](TempDir& d) {
             WriteBytes(d / "data.bin.bat", "copy /b " + std::string(200, 'p') + ".0 data.bin");
         },
         {"join", "data.bin.bat"},
         2,
         "Missing part: " + std::string(60, 'p') + "..." + std::string(35, 'p') +
             ".0\nNothing was written.\n"},
        {"sparse parts that add up past 2^64",
         [&](TempDir& d) {
             WriteBytes(d / "data.bin.bat", JoinScriptText(name, 4));
             for (int k = 0; k < 4; ++k)
                 test::fs::resize_file(d / (name + "." + std::to_string(k)),
                                       std::uint64_t{1} << 62);
         },
         {"join", "data.bin.bat"},
         2,
         "The parts add up to more bytes than a file can hold (9223372036854775807)\n"},
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
         "splitter-cli: unknown option '--frce'\nTry 'splitter-cli --help'"},
        {"no script named", {}, {"join"}, 2, "splitter-cli: missing SCRIPT\n"},
        {"two scripts", {}, {"join", "a.bat", "b.bat"}, 2, "splitter-cli: extra operand 'b.bat'\n"},
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

// The checksum file is sha256sum's own: it checks the parts before the join, the file after it.
// A part changed since the split stops the join, named.
TEST(CliTest, ChecksumsThatSha256sumReads) {
    TempDir dir;
    const std::string name = "a b\\c %.bin";  // a backslash: sha256sum escapes the line
    // Blocks between progress points of more bytes than a buffer of the hashing threads holds.
    const std::string source = test::PatternBytes(40000000);
    WriteBytes(dir / name, source);
    ASSERT_EQ(RunCli(dir, {name, "--checksum", "--size", "16M"}).status, 0);
    test::fs::remove(dir / name);
    const auto sha256sum = [&] {
        const std::string command = "cd " + Quote(dir.path().string()) +
                                    " && sha256sum -c --ignore-missing " + Quote(name + ".sha256") +
                                    " 2>&1";
        std::string out;
        FILE* pipe = ::popen(command.c_str(), "r");
        for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
        const int status = pipe == nullptr ? -1 : ::pclose(pipe);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, out);
    };
    const std::string parts = name + ".0: OK\n" + name + ".1: OK\n" + name + ".2: OK\n";
    EXPECT_EQ(sha256sum(), std::make_pair(0, parts));  // before the join: the parts

    const Outcome joined = RunCli(dir, {"join", name + ".bat"});
    ASSERT_EQ(joined.status, 0) << joined.err;
    EXPECT_TRUE(ReadBytes(dir / name) == source);
    EXPECT_EQ(sha256sum(), std::make_pair(0, parts + name + ": OK\n"));  // after: all
    for (int k = 0; k < 3; ++k) test::fs::remove(dir / (name + "." + std::to_string(k)));
    EXPECT_EQ(sha256sum(), std::make_pair(0, name + ": OK\n"));  // the file alone
}

// Runs a shell command in `dir`, its output thrown away: the exit status.
int Shell(const TempDir& dir, const std::string& command) {
    const int raw = std::system(
        ("cd " + Quote(dir.path().string()) + " && " + command + " >/dev/null 2>&1 </dev/null")
            .c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// What a run said besides its progress.
std::string Said(const std::string& out) {
    std::string said;
    for (std::size_t at = 0, end; at < out.size(); at = end + 1) {
        end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(at, end - at);
        if (line.find("% Completed. ]") == std::string::npos && line != "Joining... " &&
            line != "Splitting... " && line != "Done !")
            said += line + "\n";
    }
    return said;
}

unsigned ModeOf(const test::fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The recovery set is PAR 2.0 as Debian's par2 reads it, in both directions, over the shapes
// that cut slices differently: par2 verifies our set and repairs from it, our join repairs from
// ours and from par2's set of the same parts. The join rebuilds exactly what the split promised,
// keeps what it replaces, gives nothing more permission than the parts had, and when the volumes
// do not suffice writes nothing.
TEST(CliTest, RecoveryShapesAgainstPar2) {
    struct Case {
        const char* what;
        std::size_t length;
        int parts;
        int percent;
        std::vector<int> lost;
        std::vector<int> damaged;
        bool repairs;
        const char* promise;  // what the split says its set rebuilds
    };
    const char* const any2of8 = "any 2 of the 8 parts (77 recovery slices of 392 bytes)";
    const Case cases[] = {
        {"nothing lost", 100000, 8, 30, {}, {}, true, any2of8},
        {"one part lost", 100000, 8, 30, {3}, {}, true, any2of8},
        {"two parts lost", 100000, 8, 30, {1, 6}, {}, true, any2of8},
        {"one part damaged", 100000, 8, 30, {}, {5}, true, any2of8},
        {"one lost, one damaged", 100000, 8, 30, {2}, {7}, true, any2of8},
        {"too many lost", 100000, 8, 30, {0, 4, 7}, {}, false, any2of8},
        {"parts a multiple of the slice, exactly enough slices",
         32768,
         8,
         25,
         {0, 7},
         {},
         true,
         "any 2 of the 8 parts (64 recovery slices of 128 bytes)"},
        {"one slice too few", 32768, 8, 25, {0, 7}, {3}, false, "any 2 of the 8 parts"},
        {"an unequal last part", 100001, 8, 30, {7}, {0}, true, "any 2 of the 8 parts"},
        {"empty and 1-byte parts", 7, 6, 50, {3}, {0}, true, "any 2 of the 6 parts"},
        {"100 %", 40000, 4, 100, {0, 1, 2, 3}, {}, true, "any 4 of the 4 parts"},
        {"999 parts", 29970, 999, 30, {}, {}, true, "any 300 of the 999 parts"},
    };
    const std::string scratch = "scratch";
    for (const Case& c : cases) {
        std::vector<int> lost = c.lost;
        if (c.parts == 999)
            for (int k = 0; k < 300 * 3; k += 3) lost.push_back(k);
        const std::string source = test::PatternBytes(c.length);
        // Our set, then par2's of the same parts; each repaired by par2 and by the join.
        for (const bool par2Set : {false, true}) {
            for (const bool byPar2 : {false, true}) {
                if (par2Set && byPar2) continue;
                SCOPED_TRACE(std::string(c.what) + (par2Set ? ", par2's set" : ", our set") +
                             (byPar2 ? ", par2 repair" : ", join"));
                TempDir dir;
                WriteBytes(dir / "data.bin", source);
                test::fs::permissions(dir / "data.bin", test::fs::perms(0640));
                const Outcome split = RunCli(dir, {"--recovery", std::to_string(c.percent),
                                                   "data.bin", std::to_string(c.parts)});
                ASSERT_EQ(split.status, 0) << split.err;
                EXPECT_NE(Said(split.out).find(c.promise), std::string::npos) << split.out;
                EXPECT_EQ(Shell(dir, "par2 verify -q data.bin.par2"), 0);
                if (par2Set) {
                    // par2's own set in the same shape, in place of ours.
                    const RecoveryPlan plan =
                        PlanRecovery(PlanPartSizes(c.length, c.parts), c.percent);
                    ASSERT_EQ(Shell(dir, "rm data.bin*.par2 && par2 create -q -s" +
                                             std::to_string(plan.sliceSize) + " -c" +
                                             std::to_string(plan.count) +
                                             " data.bin.par2 $(ls data.bin.[0-9]*)"),
                              0);
                    ASSERT_EQ(Shell(dir, "chmod 640 data.bin*.par2"), 0);
                }
                test::fs::remove(dir / "data.bin");
                std::vector<std::string> parts;
                for (int k = 0; k < c.parts; ++k)
                    parts.push_back(ReadBytes(dir / PartTitle("data.bin", k)));
                std::string rebuilt;
                std::vector<std::string> kept;
                for (int k = 0; k < c.parts; ++k) {
                    const std::string part = PartTitle("data.bin", k);
                    const auto in = [k](const std::vector<int>& v) {
                        return std::find(v.begin(), v.end(), k) != v.end();
                    };
                    if (in(lost)) test::fs::remove(dir / part);
                    if (in(c.damaged)) {
                        const std::string& was = parts[static_cast<std::size_t>(k)];
                        WriteBytes(dir / part,
                                   "damage" + was.substr(std::min<std::size_t>(6, was.size())));
                        kept.push_back(part);
                    }
                }
                const std::vector<std::string> before = test::ListFolder(dir.path());
                if (byPar2) {
                    EXPECT_EQ(Shell(dir, "par2 repair -q data.bin.par2") == 0, c.repairs);
                } else {
                    const Outcome outcome = RunCli(dir, {"join", "data.bin.bat"});
                    EXPECT_EQ(outcome.status, c.repairs ? 0 : 2) << outcome.err;
                    if (c.repairs) {
                        EXPECT_TRUE(ReadBytes(dir / "data.bin") == source);
                        EXPECT_EQ(ModeOf(dir / "data.bin"), 0640u);
                        const std::string said = Said(outcome.out);
                        for (const std::string& part : kept) {
                            EXPECT_NE(said.find("Rebuilt " + part +
                                                " from the recovery volumes "
                                                "of data.bin.par2; the bytes it replaced are "
                                                "kept as " +
                                                part + ".damaged\n"),
                                      std::string::npos)
                                << said;
                            EXPECT_EQ(ReadBytes(dir / (part + ".damaged")).substr(0, 6), "damage");
                        }
                        std::size_t notes = 0;
                        for (std::size_t at = 0;
                             (at = said.find("Rebuilt ", at)) != std::string::npos; ++at)
                            ++notes;
                        EXPECT_EQ(notes, lost.size() + kept.size()) << said;
                    } else {
                        EXPECT_NE(
                            outcome.err.find("too few to rebuild them\nNothing was written.\n"),
                            std::string::npos)
                            << outcome.err;
                        EXPECT_EQ(test::ListFolder(dir.path()), before);
                    }
                }
                for (int k = 0; c.repairs && k < c.parts; ++k) {
                    const std::string part = PartTitle("data.bin", k);
                    EXPECT_TRUE(ReadBytes(dir / part) == parts[static_cast<std::size_t>(k)]) << k;
                    if (!byPar2) {
                        EXPECT_EQ(ModeOf(dir / part), 0640u) << k;
                    }
                }
            }
        }
    }
}

// A hostile or unlucky folder: recovery never removes or replaces what the split did not make,
// never writes a file that is not one of the split's own parts, never rebuilds a part back into
// an earlier version, keeps a checked rebuild from taking a name, and reads no link out.
TEST(CliTest, RecoveryDestroysNothing) {
    const std::string source = test::PatternBytes(40000);
    const std::string changed = test::PatternBytes(40000, 9);
    const auto split = [](const TempDir& dir, std::vector<std::string> args) {
        ASSERT_EQ(RunCli(dir, args).status, 0);
    };
    struct Case {
        const char* what;
        std::function<void(const TempDir&)> setup;
        std::vector<std::string> args;
        int status;
        std::string said;                 // in what the run says, on either stream
        std::vector<std::string> kept;    // files whose bytes stay as the setup left them
        std::vector<std::string> absent;  // files that must not be there after
    };
    const std::vector<std::string> par2Set{"data.bin.par2", "data.bin.vol0+1.par2",
                                           "data.bin.vol1+2.par2"};
    const Case cases[] = {
        {"par2's set of the whole file, a split with --recovery",
         [](const TempDir& dir) { ASSERT_EQ(Shell(dir, "par2 create -q -c3 data.bin"), 0); },
         {"--recovery", "10", "data.bin", "4"},
         2,
         "data.bin.par2 is not a recovery volume of this split's parts",
         par2Set,
         {"data.bin.0", "data.bin.bat"}},
        {"par2's set of the whole file, a split without",
         [](const TempDir& dir) { ASSERT_EQ(Shell(dir, "par2 create -q -c3 data.bin"), 0); },
         {"data.bin", "4"},
         0,
         "",
         par2Set,
         {}},
        {"a script that names the user's file as a part",
         [](const TempDir& dir) {
             WriteBytes(dir / "thesis.docx", "attacker's bytes");
             WriteBytes(dir / "evil.0", "evil");
             ASSERT_EQ(Shell(dir, "par2 create -q -s4 -c9 evil.par2 thesis.docx evil.0"), 0);
             WriteBytes(dir / "thesis.docx", "my own thesis");
             WriteBytes(dir / "evil.bat", "copy /b thesis.docx + evil.0 evil\r\n");
         },
         {"join", "evil.bat"},
         0,
         "which is not a part of evil",
         {"thesis.docx", "evil.0"},
         {"thesis.docx.damaged"}},
        {"an earlier split's volumes without their index, a re-split",
         [&](const TempDir& dir) {
             split(dir, {"--recovery", "50", "data.bin", "4"});
             test::fs::remove(dir / "data.bin.par2");
             WriteBytes(dir / "data.bin", changed);
         },
         {"data.bin", "4"},
         0,
         "",
         {},
         {"data.bin.vol0+1.par2", "data.bin.vol1+2.par2", "data.bin.vol3+4.par2"}},
        {"an earlier split's volumes beside checksummed parts",
         [&](const TempDir& dir) {
             split(dir, {"--recovery", "50", "data.bin", "4"});
             ASSERT_EQ(Shell(dir, "mkdir old && mv data.bin*.par2 old/"), 0);
             WriteBytes(dir / "data.bin", changed);
             split(dir, {"--checksum", "data.bin", "4"});
             ASSERT_EQ(Shell(dir, "mv old/* . && rm data.bin"), 0);
         },
         {"join", "data.bin.bat"},
         0,
         "data.bin.0 matches its SHA-256 but not the volumes",
         {"data.bin.0", "data.bin.1", "data.bin.2", "data.bin.3"},
         {"data.bin.0.damaged"}},
        {"a rebuilt part that does not match its MD5",
         [&](const TempDir& dir) {
             split(dir, {"--recovery", "50", "data.bin", "4"});
             // The index says another MD5 for data.bin.1 than its bytes have.
             par2::Packets packets;
             par2::Scan(ReadBytes(dir / "data.bin.par2"), 0, packets);
             par2::Set set = *par2::Assemble(packets, std::nullopt).set;
             for (par2::FileEntry& f : set.files)
                 if (f.name == "data.bin.1") f.hash[0] ^= 1;
             std::string index;
             for (const std::string& packet : par2::CriticalPackets(set)) index += packet;
             WriteBytes(dir / "data.bin.par2", index);
             test::fs::remove(dir / "data.bin");
             WriteBytes(dir / "data.bin.1", "damage");
         },
         {"join", "data.bin.bat"},
         1,
         "the rebuilt part does not match its MD5",
         {"data.bin.1"},
         {"data.bin", "data.bin.1.damaged"}},
        {"a repair, then a whole that differs from its checksum line: written, so no refusal",
         [&](const TempDir& dir) {
             split(dir, {"--recovery", "50", "data.bin", "4"});
             WriteBytes(dir / "data.bin.sha256", ChecksumLine({}, "data.bin"));
             test::fs::remove(dir / "data.bin");
             WriteBytes(dir / "data.bin.1", "damage");
         },
         {"join", "data.bin.bat"}, 1, "The joined file data.bin does not match its SHA-256", {},
         {"data.bin"}},
        {"a damaged part that is a link out of the folder",
         [&](const TempDir& dir) {
             split(dir, {"--recovery", "50", "data.bin", "4"});
             ASSERT_EQ(Shell(dir,
                             "rm data.bin && mkdir in && mv data.bin.* in/ && "
                             "mv in/data.bin.2 . && ln -s ../data.bin.2 in/data.bin.2 && "
                             "printf damage >data.bin.2"),
                       0);
         },
         {"join", "in/data.bin.bat"},
         2,
         "Part is a link out of the script's folder",
         {"data.bin.2", "in/data.bin.2"},
         {"in/data.bin", "in/data.bin.2.damaged"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteBytes(dir / "data.bin", source);
        c.setup(dir);
        std::vector<std::string> before;
        for (const std::string& name : c.kept) before.push_back(ReadBytes(dir / name));
        const Outcome outcome = RunCli(dir, c.args);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_NE((outcome.out + outcome.err).find(c.said), std::string::npos)
            << outcome.out << outcome.err;
        for (std::size_t i = 0; i < c.kept.size(); ++i)
            EXPECT_TRUE(ReadBytes(dir / c.kept[i]) == before[i]) << c.kept[i];
        for (const std::string& name : c.absent) EXPECT_FALSE(test::fs::exists(dir / name)) << name;
        if (c.args[0] == "join" && c.status == 0) {
            // The parts, joined as they are.
            std::string joined;
            for (const std::string& name : c.kept) joined += ReadBytes(dir / name);
            EXPECT_TRUE(ReadBytes(dir / (c.kept.size() == 2 ? "evil" : "data.bin")) == joined);
        }
    }
}

// A limit on file sizes (here ulimit -f; FAT32 holds no file of 4 GiB either) ends a run with
// its message and status 1, not by a silent SIGXFSZ; the join leaves no temporary file behind.
// (The split's script is not reached here: its temporary file goes the same way, split_test.)
TEST(CliTest, FileSizeLimit) {
    const std::string tooLarge = "Error 61: File too large for the file system (";
    struct Case {
        std::vector<std::string> args;
        std::string err;
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {{"data.bin", "2"}, tooLarge + "data.bin.0)\n", {"data.bin", "data.bin.0"}},
        // The destination is named, not the temporary file that was to become it.
        {{"join", "data.bin.bat"},
         tooLarge + "data.bin)\n",
         {"data.bin.0", "data.bin.1", "data.bin.bat"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / "data.bin", test::PatternBytes(200000));
        if (c.args[0] == "join") {
            ASSERT_EQ(RunCli(dir, {"data.bin", "2"}).status, 0);
            test::fs::remove(dir / "data.bin");
        } else {  // those of an earlier split go: they would list parts of two versions
            WriteBytes(dir / "data.bin.bat", JoinScriptText("data.bin", 2));
            WriteBytes(dir / "data.bin.sha256", ChecksumLine({}, "data.bin"));
        }
        // 64 blocks of 512 bytes (or 1024, as some shells count): less than a part.
        const Outcome outcome = RunCli(dir, c.args, "ulimit -f 64");
        EXPECT_EQ(outcome.status, 1) << c.args[0];
        EXPECT_EQ(outcome.err.substr(0, c.err.size()), c.err) << c.args[0];
        EXPECT_EQ(test::ListFolder(dir.path()), c.left) << c.args[0];
    }
}

// Waits up to `seconds` for `done`, looking every millisecond.
bool Within(double seconds, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Ctrl+C, SIGTERM or SIGHUP in the middle of a join: the temporary file goes, and the program
// ends by the same signal, so that a shell shows 130, 143 or 129 as for any program. SIGKILL
// leaves nothing either: the file has no name yet. A reader of the status texts that is gone
// (0: a pipe with no reader) ends the texts, not the join.
TEST(CliTest, InterruptedJoinLeavesNoTemporaryFile) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL, 0}) {
        SCOPED_TRACE(signal == 0 ? "no reader" : strsignal(signal));
        // Parts of 64 MiB of data: the join takes a few tenths of a second, and is cut a few
        // milliseconds after its first per cent. (Holes would take it no time: they stay holes.)
        TempDir dir(/*onDisk=*/true);
        TempDir log;
        const std::string bytes(std::size_t{1} << (signal == 0 ? 20 : 26), 'x');
        for (int k = 0; k < 4; ++k) WriteBytes(dir / ("big." + std::to_string(k)), bytes);
        WriteBytes(dir / "big.bat", JoinScriptText("big", 4));
        WriteBytes(log / "out", "");
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        ::close(pipe[0]);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(signal == 0 ? pipe[1] : ::open((log / "out").c_str(), O_WRONLY), STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            if (::chdir(dir.path().c_str()) == 0)
                ::execl(SPLITTER_CLI, SPLITTER_CLI, "join", "big.bat", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipe[1]);
        int status = 0;
        const auto ended = [&] { return ::waitpid(child, &status, WNOHANG) == child; };
        const bool started =
            signal == 0 || Within(10, [&] {
                return ReadBytes(log / "out").find("Completed") != std::string::npos;
            });
        if (signal != 0) ::kill(child, signal);
        if (!Within(30, ended)) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ADD_FAILURE() << "the join did not end within 30 s";
        }
        EXPECT_TRUE(started) << "no progress within 10 s";
        EXPECT_TRUE(signal == 0 ? WIFEXITED(status) && WEXITSTATUS(status) == 0
                                : WIFSIGNALED(status) && WTERMSIG(status) == signal)
            << "status " << status;
        std::vector<std::string> left = {"big.0", "big.1", "big.2", "big.3", "big.bat"};
        if (signal == 0) left.insert(left.begin(), "big");
        EXPECT_EQ(dir.Names(), left);
    }
}

// Every name a run makes or looks at is checked before anything is written; a checksum file
// whose name cannot be is absent, for a split without one and for a join.
TEST(CliTest, NamesNearTheLimits) {
    const std::string title(250, 'n');  // its parts fit in 255 bytes, its checksum file not
    std::string folder;                 // 4080 bytes: the script fits, its temporary file not
    while (folder.size() + 201 < 4080) folder += std::string(200, 'd') + "/";
    folder += std::string(4080 - folder.size(), 'd');
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{title, "3"}, 0, ""},
        {{"join", "--force", title + ".bat"}, 0, ""},
        {{"--checksum", title, "3"},
         1,
         "Error 52: Name longer than 255 bytes (" + title.substr(0, 60)},
        {{folder + "/data.bin", "3"}, 1, "Error 52: Path longer than 4095 bytes (data.bin.bat)\n"},
    };
    TempDir dir;
    const std::string make = "mkdir -p " + Quote(folder) + " && head -c 300 /dev/zero >" +
                             Quote(folder + "/data.bin") + " && head -c 300 /dev/zero >" + title;
    ASSERT_EQ(std::system(("cd " + Quote(dir.path()) + " && " + make).c_str()), 0);
    for (const auto& [args, status, err] : cases) {
        const Outcome outcome = RunCli(dir, args);
        EXPECT_EQ(outcome.status, status) << outcome.err;
        EXPECT_EQ(outcome.err.substr(0, err.size()), err);
        EXPECT_EQ(outcome.out.size() <= 14, status != 0) << outcome.out;  // refused: no part
    }
    EXPECT_EQ(dir.Names().size(), 6u);  // the folder, the file, its parts and script
    // Too deep for std::filesystem to remove.
    EXPECT_EQ(std::system(("rm -rf " + Quote(dir / folder.substr(0, 200))).c_str()), 0);
}

// Private data stays private: the parts, script and checksum file of a file only its owner reads
// are only for the owner too, as is the file joined from them. A part planted by another user is
// replaced, not written into; where the folder does not let it go (sticky), the split stops.
TEST(CliTest, NewFilesAreNoMorePublicThanTheirSource) {
    TempDir dir;
    WriteBytes(dir / "f", test::PatternBytes(100));
    test::fs::permissions(dir / "f", test::fs::perms::owner_read | test::fs::perms::owner_write);
    WriteBytes(dir / "f.1", "planted");
    test::fs::permissions(dir / "f.1", test::fs::perms::all);
    const bool root = ::geteuid() == 0;  // only root can plant another user's file
    EXPECT_TRUE(!root || ::chown((dir / "f.1").c_str(), 65534, 65534) == 0);
    ASSERT_EQ(RunCli(dir, {"--checksum", "f", "3"}).status, 0);
    test::fs::rename(dir / "f", dir / "source");
    ASSERT_EQ(RunCli(dir, {"join", "f.bat"}).status, 0);
    for (const char* name : {"f", "f.0", "f.1", "f.2", "f.bat", "f.sha256"}) {
        struct stat st {};
        ASSERT_EQ(::stat((dir / name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
        EXPECT_EQ(st.st_uid, ::geteuid()) << name;
    }
    if (!root) GTEST_SKIP() << "a run as another user needs root";
    // Run by `nobody` in a sticky shared folder, where root's f.1 cannot be removed.
    ::chmod(dir.path().c_str(), 01777);
    test::fs::permissions(dir / "source", test::fs::perms::all);
    const Outcome outcome =
        RunCli(dir, {"source", "3"}, "cp f.1 source.1 && chmod 666 source.1",
               "timeout 120 setpriv --reuid=65534 --regid=65534 --clear-groups");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Error 70: Permission denied (source.1)\n");
    EXPECT_EQ(ReadBytes(dir / "source.1"), ReadBytes(dir / "f.1"));
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

// Every file of a folder and its bytes: what a run that writes nothing leaves as it was.
std::map<std::string, std::string> Contents(const TempDir& dir) {
    std::map<std::string, std::string> contents;
    for (const std::string& name : dir.Names()) contents[name] = ReadBytes(dir / name);
    return contents;
}

// check and repair over what can become of a split's parts: what check says and its status
// (and that it writes nothing), what repair makes of them, and whether they join into the file.
TEST(CliTest, CheckAndRepair) {
    struct Case {
        const char* what;
        std::vector<std::string> split;  // the split's options
        std::function<void(const TempDir&)> damage;
        int check;         // its status
        std::string said;  // a line of what it prints
        int repair;        // its status
    };
    const auto cut = [](const char* part, std::uintmax_t size) {
        return [=](const TempDir& d) { test::fs::resize_file(d / part, size); };
    };
    const Case cases[] = {
        {"intact, with a set and checksums",
         {"--checksum", "--recovery", "30"},
         nullptr,
         0,
         "The 8 parts of data.bin are intact",
         0},
        {"a part lost and one cut, which the set rebuilds",
         {"--checksum", "--recovery", "30"},
         [](const TempDir& d) {
             test::fs::remove(d / "data.bin.3");
             test::fs::resize_file(d / "data.bin.5", 10);
         },
         1,
         "data.bin.3 and data.bin.5 are missing or damaged; the recovery volumes of "
         "data.bin.par2 can rebuild them",
         0},
        {"more lost than the set rebuilds",
         {"--recovery", "10"},
         cut("data.bin.2", 0),
         2,
         "too few to rebuild them",
         2},
        {"no checksum file nor set, intact",
         {},
         nullptr,
         0,
         "The 8 parts of data.bin are intact",
         0},
        {"no checksum file nor set, a part cut",
         {},
         cut("data.bin.4", 99),
         2,
         "Part data.bin.4 has 99 bytes where 1000 were expected",
         2},
        {"checksums only, a byte changed",
         {"--checksum"},
         [](const TempDir& d) {
             std::string bytes = ReadBytes(d / "data.bin.6");
             bytes[500] ^= 1;
             WriteBytes(d / "data.bin.6", bytes);
         },
         2,
         "Part data.bin.6 does not match its SHA-256 in data.bin.sha256",
         2},
    };
    const std::string source = test::PatternBytes(8000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteBytes(dir / "data.bin", source);
        std::vector<std::string> args = c.split;
        args.insert(args.end(), {"data.bin", "8"});
        ASSERT_EQ(RunCli(dir, args).status, 0);
        test::fs::remove(dir / "data.bin");
        if (c.damage) c.damage(dir);
        const auto before = Contents(dir);
        const Outcome check = RunCli(dir, {"check", "data.bin.bat"});
        EXPECT_EQ(check.status, c.check) << check.err;
        EXPECT_NE((check.out + check.err).find(c.said), std::string::npos)
            << check.out << check.err;
        EXPECT_EQ(Contents(dir), before);
        const Outcome repair = RunCli(dir, {"repair", "data.bin.bat"});
        EXPECT_EQ(repair.status, c.repair) << repair.err;
        if (c.repair != 0) {
            EXPECT_EQ(Contents(dir), before);
            continue;
        }
        std::string joined;
        for (int k = 0; k < 8; ++k) joined += ReadBytes(dir / ("data.bin." + std::to_string(k)));
        EXPECT_EQ(joined, source);
        EXPECT_EQ(RunCli(dir, {"check", "data.bin.bat"}).status, 0);
    }
}

// Through pipes both ways, as a backup goes: standard input split with --checksum and
// --recovery (read by sha256sum and par2), joined into standard output, a lost part rebuilt on
// the way; a reader that goes away ends the join quietly.
TEST(CliTest, StreamsBothWays) {
    TempDir dir;
    const std::string source = test::PatternBytes(300000);
    WriteBytes(dir / "src", source);
    const std::string cli = "timeout 120 " + Quote(SPLITTER_CLI);
    const auto bash = [&](const std::string& command) {
        return Shell(dir, "bash -c " + Quote("set -o pipefail; " + command));
    };
    ASSERT_EQ(bash("cat src | " + cli + " --checksum --recovery 30 --size 64K - backup.tar"), 0);
    EXPECT_EQ(ReadBytes(dir / "backup.tar.bat"), JoinScriptText("backup.tar", 5));
    EXPECT_EQ(test::fs::file_size(dir / "backup.tar.4"), 300000u - 4 * 65536);
    EXPECT_EQ(Shell(dir, "sha256sum -c --quiet --ignore-missing backup.tar.sha256"), 0);
    EXPECT_EQ(Shell(dir, "par2 verify -q backup.tar.par2"), 0);
    EXPECT_EQ(bash(cli + " join --stdout backup.tar.bat | cat > backup.tar"), 0);
    EXPECT_EQ(ReadBytes(dir / "backup.tar"), source);
    EXPECT_EQ(Shell(dir, "sha256sum -c --quiet backup.tar.sha256"), 0);

    test::fs::remove(dir / "backup.tar.1");
    EXPECT_EQ(bash(cli + " join --stdout backup.tar.bat 2>err | cat > joined"), 0);
    EXPECT_EQ(ReadBytes(dir / "joined"), source);
    EXPECT_EQ(ReadBytes(dir / "err"),
              "Rebuilt backup.tar.1 from the recovery volumes of backup.tar.par2\n");
    // The reader takes one byte and goes: no word, SIGPIPE's status. 4 MiB are more than the
    // pipe (widened to 1 MiB) and the reader's buffer hold, so the join meets a closed pipe.
    WriteBytes(dir / "big", std::string(std::size_t{4} << 20, 'x'));
    ASSERT_EQ(RunCli(dir, {"big", "4"}).status, 0);
    EXPECT_EQ(bash(cli + " join --stdout big.bat 2>err | head -c 1 >/dev/null"), 141);
    EXPECT_EQ(ReadBytes(dir / "err"), "");

    // Standard output into a part is refused before it is touched.
    const std::string first = ReadBytes(dir / "backup.tar.0");
    EXPECT_EQ(bash(cli + " join --stdout backup.tar.bat >> backup.tar.0"), 2);
    EXPECT_EQ(ReadBytes(dir / "backup.tar.0"), first);

    // Without the set, a changed part is caught before its first byte goes.
    ASSERT_EQ(Shell(dir, "rm backup.tar*.par2"), 0);
    std::string part = ReadBytes(dir / "backup.tar.2");
    part[7] ^= 1;
    WriteBytes(dir / "backup.tar.2", part);
    EXPECT_EQ(bash(cli + " join --stdout backup.tar.bat > joined"), 1);
    EXPECT_EQ(ReadBytes(dir / "joined"), source.substr(0, 2 * 65536));

    // A count needs a size; a stream of more than 999 parts leaves no script.
    EXPECT_EQ(bash("cat src | " + cli + " - 5"), 2);
    EXPECT_EQ(bash("cat src | " + cli + " --size 100 - many 2>err"), 1);
    EXPECT_FALSE(test::fs::exists(dir / "many.bat"));
    EXPECT_NE(ReadBytes(dir / "err").find("more than 999 parts of 100 bytes"), std::string::npos);
}

}  // namespace
}  // namespace splitter
