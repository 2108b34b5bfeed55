#include "engine/join.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>

#include "engine/checksum.h"
#include "engine/join_script.h"
#include "engine/part_size.h"
#include "engine/plan.h"
#include "engine/split.h"
#include "files/failure.h"
#include "files/script_encoding.h"
#include "test_support.h"

namespace splitter {
namespace {

namespace fs = std::filesystem;
using test::FaultyFileSystem;
using test::ListFolder;
using test::PatternBytes;
using test::ReadBytes;
using test::RecordingHost;
using test::TempDir;
using test::WriteBytes;
using Fault = FaultyFileSystem::Fault;

// ---- reading the script -----------------------------------------------------------------------

std::vector<std::string> PartTitles(const std::string& title, int parts) {
    std::vector<std::string> names;
    for (int k = 0; k < parts; ++k) names.push_back(PartTitle(title, k));
    return names;
}

// Names that need every escape the writer knows, and some that need none.
const char* const kNames[] = {
    "report.pdf", "my report.pdf", "50%.txt", "100%%.txt",        "%1%PATH%",   "a&b.txt",
    "a(1).txt",   "(x)",           "a^b",     "wow!.txt",         "it's.txt",   "a+b.txt",
    "a,b.txt",    "a;b.txt",       "a=b.txt", "Ünïcødé ñame.txt", "日本語.bin", "a|b<c>d.txt",
    "[x]{y}`~",   "noext",         ".hidden", "ends in space ",
};

TEST(JoinScriptReadingTest, ReadsWhatTheWriterWrites) {
    for (const char* name : kNames) {
        for (const int parts : {2, 3, 10, 999}) {
            const JoinList list = ParseJoinScript(JoinScriptText(name, parts));
            EXPECT_EQ(list.destination, name) << name << " in " << parts;
            EXPECT_EQ(list.parts, PartTitles(name, parts)) << name << " in " << parts;
        }
    }
}

TEST(JoinScriptReadingTest, ReadsTheSeveralCopyLinesOfALongList) {
    const std::string name(120, 'x');
    const std::string text = JoinScriptText(name + "%&", 999);
    std::size_t copies = 0;
    for (std::size_t at = text.find("copy /b"); at != std::string::npos;
         at = text.find("copy /b", at + 1))
        ++copies;
    ASSERT_GT(copies, 10u);  // the case this is about
    const JoinList list = ParseJoinScript(text);
    EXPECT_EQ(list.destination, name + "%&");
    EXPECT_EQ(list.parts, PartTitles(name + "%&", 999));
}

TEST(JoinScriptReadingTest, ReadsHandWrittenForms) {
    const std::vector<std::string> three = {"report.pdf.0", "report.pdf.1", "report.pdf.2"};
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> parts;
        std::string destination;
    };
    const Case cases[] = {
        {"the example, LF",
         "@Echo Off\nEcho Tarvo Group's File Splitter\nEcho "
         "*************************\ncopy /b \"report.pdf.0\"+\"report.pdf.1\"+"
         "\"report.pdf.2\" report.pdf\n",
         three, "report.pdf"},
        {"CR LF with a final line break",
         "@Echo Off\r\ncopy /b \"report.pdf.0\"+\"report.pdf.1\"+\"report.pdf.2\" report.pdf\r\n",
         three, "report.pdf"},
        {"the copy line alone", "copy /b \"a.0\"+\"a.1\" a", {"a.0", "a.1"}, "a"},
        {"upper case", "@ECHO OFF\r\nCOPY /B \"a.0\"+\"a.1\" a", {"a.0", "a.1"}, "a"},
        {"unquoted names", "copy /b a.0+a.1+a.2 a", {"a.0", "a.1", "a.2"}, "a"},
        {"spaces around +",
         "  copy  /b  \"a b.0\" + a.1 +\t\"a b.2\"   \"a b\"  ",
         {"a b.0", "a.1", "a b.2"},
         "a b"},
        {"remarks and blank lines",
         "rem join\n:: again\n\n  \n@echo.\necho on\ncopy /b x.0+x.1 x",
         {"x.0", "x.1"},
         "x"},
        {"quoted destination", "copy /b \"x.0\"+\"x.1\" \"x\"", {"x.0", "x.1"}, "x"},
        {"appending lines",
         "copy /b a.0+a.1 a\r\ncopy /b a+a.2 a\r\ncopy /b \"a\"+\"a.3\"+a.4 \"a\"",
         {"a.0", "a.1", "a.2", "a.3", "a.4"},
         "a"},
        {"@copy", "@copy /b \"a.0\" a", {"a.0"}, "a"},
    };
    for (const Case& c : cases) {
        JoinList list;
        ASSERT_NO_THROW(list = ParseJoinScript(c.text)) << c.what;
        EXPECT_EQ(list.parts, c.parts) << c.what;
        EXPECT_EQ(list.destination, c.destination) << c.what;
    }
}

TEST(JoinScriptReadingTest, RefusesWhatCmdWouldReadOtherwiseNamingTheLine) {
#ifdef _WIN32
    constexpr int kOnWindows = 1;
#else
    constexpr int kOnWindows = 0;
#endif
    const char* const device = kOnWindows ? "is the name of a device" : "";
    // copy /b p+p+...+p d: `parts` parts. Half a million fit under the size cap.
    const auto listing = [](int parts) {
        std::string line = "copy /b p";
        for (int k = 1; k < parts; ++k) line += "+p";
        return line + " d";
    };
    struct Case {
        std::string text;
        int line;
        const char* reason;  // a piece of the reason
    };
    const Case cases[] = {
        {"", 0, "no copy /b line"},
        {"@Echo Off\r\nEcho hello", 0, "no copy /b line"},
        {"del *.*\r\ncopy /b a.0+a.1 a", 1, "not a line of a join script"},
        {"copy /b a.0+a.1 a\r\ndel a.0", 2, "not a line of a join script"},
        {"copy a.0+a.1 a", 1, "only copy /b"},
        {"copy /a a.0+a.1 a", 1, "only copy /b"},
        {"xcopy /b a.0+a.1 a", 1, "not a line"},
        {"copy /b a.0+a.1", 1, "no destination"},
        {"copy /b a.0+ a", 1, "no destination"},
        {"copy /b a.0++a.1 a", 1, "a name is missing"},
        {"copy /b +a.1 a", 1, "a name is missing"},
        {"copy /b a.0+a.1 a b", 1, "more follows the destination"},
        {"copy /b a.0+a.1 a > nul", 1, "more follows"},
        {"copy /b a.0+a.1 a>nul", 1, "'>' outside quotes"},
        {"copy /b a.0+a.1 a&del a.0", 1, "'&' outside quotes"},
        {"copy /b a.0+a.1 a|more", 1, "'|' outside quotes"},
        {"copy /b a.0+a.1 a(1)", 1, "'(' outside quotes"},
        {"copy /b a.0+a.1 a,b", 1, "',' outside quotes"},
        {"copy /b \"a.0+\"a.1\" a", 1, "text follows a closing quote"},
        {"copy /b \"a.0\"+\"a.1 a", 1, "a quote is not closed"},
        {"copy /b \"a.0\"x+a.1 a", 1, "text follows a closing quote"},
        {"copy /b a\"b.0\"+a.1 a", 1, "a quote starts inside a name"},
        {"copy /b \"\"+a.1 a", 1, "a name is empty"},
        {"copy /b \"50%.0\"+\"50%.1\" 50%%", 1, "a single '%'"},
        {"copy /b \"%TEMP%\\a.0\" a", 1, "a single '%'"},
        {"copy /b a.0+a.1 50%", 1, "a single '%'"},
#ifdef _WIN32
        {"copy /b ..\\a.0+a.1 a", 1, "not a plain file name"},
#else
        {"copy /b ..\\a.0+a.1 a", 0, ""},  // a backslash is a name character on POSIX
#endif
        {"copy /b sub/a.0+a.1 a", 1, "not a plain file name"},
        {"copy /b a.0+a.1 ../a", 1, "not a plain file name"},
        {"copy /b a.0+a.1 ..", 1, "not a plain file name"},
        {"copy /b a.0+a+a.1 a", 1, "also read as a part"},
        {"copy /b a.0+a.1 a\ncopy /b b+a.2 a", 2, "must append to \"a\""},
        {"copy /b a.0+a.1 a\ncopy /b a+a.2 b", 2, "must append"},
        {"copy /b a.0+a.1 a\ncopy /b a.2+a a", 2, "must append"},
        {"copy /b a.0+a.1 a\ncopy /b a a", 2, "adds no part"},
        {"copy /b a.0+a.1 a\ncopy /b a+a.2+a a", 2, "also read as a part"},
        {"copy /b a.0 " + std::string(255, 'd'), 0, ""},  // as long as a file name can be
        {"copy /b a.0 " + std::string(256, 'd'), 1, "longer than a file name can be"},
        {"copy /b \"" + std::string(256, 'p') + "\" a", 1, "longer than a file name can be"},
        {"echo hi > x.txt\ncopy /b a.0+a.1 a", 1, "redirection"},
        {"rem & del a\ncopy /b a.0+a.1 a", 1, "redirection"},
        {"copy /b \"a\x01.0\"+a.1 a", 1, "control character"},
        {"\xEF\xBB\xBF@Echo Off\r\ncopy /b a.0+a.1 a", 1, "not a line"},
        // Windows opens a device for these names, whatever the extension, case or trailing
        // dots and spaces; elsewhere they are names like any other.
        {"copy /b nul.txt+a.1 a", kOnWindows, device},
        {"copy /b a.0+a.1 \"con .txt\"", kOnWindows, device},
        {"copy /b a.0+COM1 a", kOnWindows, device},
        {"copy /b a.0+a.1 Lpt9.log", kOnWindows, device},
        {"copy /b \"aux...\"+a.1 a", kOnWindows, device},
        {"copy /b a.0+a.1 a\ncopy /b a+Prn a", 2 * kOnWindows, device},
        {"copy /b com0+lpt10+nul_x+xcon console.txt", 0, ""},
        {listing(999), 0, ""},
        {listing(1000), 1, "more than 999 parts"},
        {"copy /b p+p d\ncopy /b d+" + listing(998).substr(8), 2, "more than 999 parts"},
        {listing(500000), 1, "more than 999 parts"},
    };
    for (const Case& c : cases) {
        if (*c.reason == '\0') {
            EXPECT_NO_THROW(ParseJoinScript(c.text)) << c.text;
            continue;
        }
        try {
            ParseJoinScript(c.text);
            ADD_FAILURE() << "read: " << c.text;
        } catch (const FormatError& error) {
            EXPECT_EQ(error.line(), c.line) << c.text << ": " << error.reason();
            EXPECT_NE(error.reason().find(c.reason), std::string::npos)
                << c.text << ": " << error.reason();
        }
    }
}

// ---- the size check ---------------------------------------------------------------------------

TEST(JoinSizeCheckTest, NamesThePartThatWasCutOrGrown) {
    using Sizes = std::vector<std::uint64_t>;
    const std::uint64_t big = (std::uint64_t{1} << 32) + 7;  // a part above 4 GiB
    struct Case {
        const char* what;
        Sizes sizes;
        std::optional<std::size_t> blamed;
        std::uint64_t expected = 0;
    };
    const Case cases[] = {
        {"even", {75, 75, 75, 75}, {}},
        {"short last", {11, 11, 11, 11, 11, 11, 11, 11, 11, 2}, {}},
        {"empty trailing parts", {2, 2, 2, 2, 2, 0, 0}, {}},
        {"one part", {12345}, {}},
        {"above 4 GiB", {big, big, big, big - 3}, {}},
        {"first cut short", {70, 75, 75, 75}, 0, 75},
        {"middle cut short", {75, 75, 1, 75}, 2, 75},
        {"middle emptied", {75, 0, 75, 75}, 1, 75},
        {"middle grown", {75, 75, 76, 75}, 2, 75},
        // A last part cut short, not emptied, leaves the sizes of a split by size.
        {"last cut short", {75, 75, 75, 10}, {}},
        {"last emptied", {75, 75, 75, 0}, 3, 75},
        {"last grown", {75, 75, 75, 80}, 3, 75},
        {"short last grown past the others", {11, 11, 11, 11, 11, 11, 11, 11, 11, 12}, 9, 11},
        // Within what a last part may hold, a change cannot be seen.
        {"short last grown a little", {11, 11, 11, 11, 11, 11, 11, 11, 11, 4}, {}},
        {"trailing empty part grown", {2, 2, 2, 2, 2, 0, 3}, 6, 0},
        {"two parts, second grown", {3, 5}, 1, 3},
        {"above 4 GiB, one cut", {big, big - 1, big, big - 3}, 1, big},
        {"above 4 GiB, last grown", {big, big, big, big + 1}, 3, big},
        // Splits by size: not one of them is a split by count.
        {"by size", {6, 4}, {}},
        {"by size, many", {100, 100, 100, 100, 100, 100, 1}, {}},
        {"fat32 of 9 GiB", {4294963200, 4294963200, 1073750016}, {}},
        {"by size, a middle part cut", {100, 100, 60, 100, 1}, 2, 100},
        {"by size, the first part cut", {60, 100, 100, 100, 1}, 0, 100},
        {"by size, the first part grown", {160, 100, 100, 100, 1}, 0, 100},
        {"by size, the last grown past the others", {6, 7}, 1, 6},
        {"by size, the last emptied", {100, 100, 100, 100, 100, 0}, 5, 100},
        {"by size, two parts cut", {100, 100, 60, 100, 60, 100, 100, 100, 1}, 2, 100},
    };
    for (const Case& c : cases) {
        const auto misfit = FindSizeMisfit(c.sizes);
        ASSERT_EQ(misfit.has_value(), c.blamed.has_value()) << c.what;
        if (!misfit) continue;
        EXPECT_EQ(misfit->part, *c.blamed) << c.what;
        EXPECT_EQ(misfit->expected, c.expected) << c.what;
    }
}

TEST(JoinSizeCheckTest, EverySplitFits) {
    for (std::uint64_t length = 1; length <= 300; ++length) {
        for (int parts = 2; parts <= 40; ++parts) {
            ASSERT_FALSE(FindSizeMisfit(PlanPartSizes(length, parts))) << length << " in " << parts;
        }
        for (std::uint64_t size = 1; size <= length; ++size) {
            ASSERT_FALSE(FindSizeMisfit(PlanSizedParts(length, size))) << length << " by " << size;
        }
    }
}

// ---- joining real files -----------------------------------------------------------------------

// Whether this system can hold and split a file of that name. Windows holds no name with < > |
// or a trailing space, and splits only names its OEM code page spells (see
// files/script_encoding.h).
bool SplitsHere(const std::string& name) {
#ifdef _WIN32
    if (name.find_first_of("<>|") != std::string::npos || name.back() == ' ') return false;
    try {
        CommandScriptBytes(name, name);
    } catch (const Failure&) {
        return false;
    }
#else
    (void)name;
#endif
    return true;
}

// Splits `bytes` saved as `name` in `folder` as `plan` says, and removes the source, as on the
// machine that receives the parts. Returns the script's path.
std::string SplitAway(const fs::path& folder, const std::string& name, const std::string& bytes,
                      const SplitPlan& plan, const SplitOptions& options = {}) {
    const fs::path source = folder / name;
    test::WriteSparse(source, bytes);
    RecordingHost host;
    const SplitResult result = SplitFile(source.string(), name, plan, host, options);
    if (result != SplitResult::kDone) throw std::runtime_error("split: " + host.Messages());
    fs::remove(source);
    return JoinScriptPath(source.string());
}

std::string SplitAway(const fs::path& folder, const std::string& name, const std::string& bytes,
                      int parts) {
    return SplitAway(folder, name, bytes, SplitPlan::Count(static_cast<std::int16_t>(parts)));
}

TEST(JoinRoundTripTest, GivesBackTheSourceByteForByte) {
    struct Case {
        std::string name;
        std::size_t length;
        int parts;
        std::uint64_t partSize = 0;  // a split by size, into `parts` parts
        bool checksum = false;       // checked against the checksum file
        // A sparse source: holes but for these stretches {start, length} of data.
        std::vector<std::pair<std::size_t, std::size_t>> data = {};
    };
    std::vector<Case> cases;
    for (const char* name : kNames) {
        if (!SplitsHere(name)) continue;
        cases.push_back({name, 1000 + std::string(name).size(), 7});
        cases.push_back({name, 1000, 3, 400, true});
    }
    cases.push_back({"small.bin", 10, 7});  // empty trailing parts
    cases.push_back({"two.bin", 5, 2});
    cases.push_back({"exact.bin", 300, 4});
    cases.push_back({std::string(150, 'n') + " 50% & co", 100000, 999});  // several copy lines
    cases.push_back({"by size.bin", 10, 2, 6});                           // 6 and 4
    cases.push_back({"by 4096.bin", 100000, 25, 4096, true});
    cases.push_back({"999 checked.bin", 100000, 999, 0, true});
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    cases.push_back(
        {"holes.img", 3 * kMiB + 5, 3, 0, true, {{0, 70000}, {kMiB, 5}, {3 * kMiB, 5}}});
    cases.push_back({"ends in a hole.img", 4 * kMiB, 4, kMiB, false, {{0, 4096}, {kMiB - 1, 2}}});
    // Parts that start on a 64-byte block of the whole file and parts that do not, each over
    // several of the hashing threads' buffers.
    cases.push_back({"on blocks.bin", 3 * kMiB + 100, 5, 640 * 1024 + 64, true});
    cases.push_back({"off blocks.bin", 3 * kMiB + 100, 5, 640 * 1024 + 65, true});
#ifndef _WIN32
    cases.push_back({"back\\slash.bin", 1000, 4, 0, true});  // escaped in the checksum file
#endif
    for (const Case& c : cases) {
        TempDir folder;
        std::string bytes = PatternBytes(c.length, static_cast<unsigned>(c.name.size()));
        if (!c.data.empty()) bytes.assign(c.length, '\0');
        // The most that the parts or the joined file may take on the disk: each stretch of data,
        // and each part, starting and ending inside a block at worst.
        std::uint64_t most = std::uint64_t{8192} * static_cast<std::uint64_t>(c.parts);
        for (const auto& [start, length] : c.data) {
            bytes.replace(start, length, PatternBytes(length, static_cast<unsigned>(start)));
            most += length + 8192;
        }
        const SplitPlan plan = c.partSize != 0
                                   ? SplitPlan::Size(c.partSize)
                                   : SplitPlan::Count(static_cast<std::int16_t>(c.parts));
        const std::string script =
            SplitAway(folder.path(), c.name, bytes, plan, {.checksum = c.checksum});
        RecordingHost host;
        ASSERT_EQ(Join(script, {}, host), JoinResult::kDone) << c.name << "\n" << host.Messages();
        EXPECT_TRUE(ReadBytes(folder / c.name) == bytes) << c.name;
        EXPECT_EQ(ListFolder(folder.path()).size(),
                  static_cast<std::size_t>(c.parts) + 2 + c.checksum)
            << c.name;
        EXPECT_TRUE(host.errors.empty()) << c.name;
        // The checksum file is sha256sum's of the parts and of the bytes as a reader sees them.
        const auto line = [](const std::string& of, const std::string& name) {
            Sha256 hash;
            hash.Update(of.data(), of.size());
            return ChecksumLine(hash.Final(), name);
        };
        std::string lines;
        for (const std::string& part : PartTitles(c.name, c.parts))
            lines += line(ReadBytes(folder / part), part);
        EXPECT_TRUE(!c.checksum ||
                    ReadBytes(folder / (c.name + ".sha256")) == lines + line(bytes, c.name))
            << c.name;
        // Holes stay holes.
        if (c.data.empty() || !test::AllocatedBytes(folder / c.name)) continue;
        std::uint64_t inParts = 0;
        for (const std::string& part : PartTitles(c.name, c.parts))
            inParts += *test::AllocatedBytes(folder / part);
        EXPECT_LE(inParts, most) << c.name;
        EXPECT_LE(*test::AllocatedBytes(folder / c.name), most) << c.name;
    }
}

// The percentages appear at the bytes where a split of the same file shows them.
TEST(JoinRoundTripTest, ShowsTheProgressOfASplit) {
    for (const std::size_t length :
         {std::size_t{10}, std::size_t{199}, std::size_t{12345}, std::size_t{3000001}}) {
        TempDir folder;
        const fs::path source = folder / "f";
        WriteBytes(source, PatternBytes(length));
        // The bytes written when each progress text appears.
        const auto watch = [](test::RecordingHost& host, const test::FaultyFileSystem& files,
                              std::vector<std::uint64_t>& bytes) {
            host.onStatus = [&](const std::string& text) {
                if (text.find("% Completed") != std::string::npos)
                    bytes.push_back(files.bytesWritten);
            };
        };
        test::FaultyFileSystem splitFiles;
        test::RecordingHost splitHost;
        std::vector<std::uint64_t> splitBytes;
        watch(splitHost, splitFiles, splitBytes);
        ASSERT_EQ(SplitFile(source.string(), "f", SplitPlan::Count(3), splitHost, {}, splitFiles),
                  SplitResult::kDone);
        fs::remove(source);
        test::FaultyFileSystem joinFiles;
        test::RecordingHost joinHost;
        std::vector<std::uint64_t> joinBytes;
        watch(joinHost, joinFiles, joinBytes);
        ASSERT_EQ(Join(JoinScriptPath(source.string()), {}, joinHost, joinFiles),
                  JoinResult::kDone);

        std::vector<std::string> expected = {kJoiningText};
        for (std::size_t i = 1; i + 1 < splitHost.statuses.size(); ++i) {
            std::string text = splitHost.statuses[i];
            ASSERT_EQ(text.rfind("Splitting... [ ", 0), 0u) << text;
            expected.push_back("Joining" + text.substr(std::string("Splitting").size()));
        }
        expected.push_back(kDoneText);
        EXPECT_EQ(joinHost.statuses, expected) << length;
        EXPECT_EQ(joinBytes, splitBytes) << length;
    }
}

TEST(JoinRoundTripTest, JoinsAHandWrittenScript) {
    for (const char* lineEnd : {"\r\n", "\n"}) {
        TempDir folder;
        const std::string bytes = PatternBytes(300);
        for (const char* k : {"0", "1", "2"})
            WriteBytes(folder / (std::string("report.pdf.") + k),
                       bytes.substr(100 * static_cast<std::size_t>(*k - '0'), 100));
        const std::string script = std::string("@Echo Off") + lineEnd +
                                   "Echo Tarvo Group's File Splitter" + lineEnd +
                                   "Echo *************************" + lineEnd +
                                   "copy /b \"report.pdf.0\"+\"report.pdf.1\"+\"report.pdf.2\" "
                                   "report.pdf";
        WriteBytes(folder / "report.pdf.bat", script);
        RecordingHost host;
        ASSERT_EQ(Join(folder / "report.pdf.bat", {}, host), JoinResult::kDone) << host.Messages();
        EXPECT_TRUE(ReadBytes(folder / "report.pdf") == bytes);
    }
}

// Relative paths: the parts are found beside the script, not in the current folder.
TEST(JoinRoundTripTest, FindsThePartsBesideTheScript) {
    TempDir folder;
    fs::create_directory(folder / "sub");
    const std::string bytes = PatternBytes(5000);
    SplitAway(folder / "sub", "data.bin", bytes, 4);
    const fs::path before = fs::current_path();
    fs::current_path(folder.path());
    RecordingHost host;
    const JoinResult result = Join("sub/data.bin.bat", {}, host);
    fs::current_path(before);
    ASSERT_EQ(result, JoinResult::kDone) << host.Messages();
    EXPECT_TRUE(ReadBytes(folder / "sub/data.bin") == bytes);
    EXPECT_FALSE(fs::exists(folder / "data.bin"));
}

// ---- refusals and failures --------------------------------------------------------------------

// One refused or failed join and everything it must leave as it was.
TEST(JoinFailureTest, LeavesNoHalfWrittenFileAndThePartsUntouched) {
    constexpr int kParts = 8;
    const std::string name = "data (1).bin";
    const std::string bytes = PatternBytes(80000);
    struct Case {
        const char* what;
        std::function<void(TempDir&)> arrange;  // after the split
        std::function<void(FaultyFileSystem&)> inject;
        JoinOptions options;
        JoinResult result;
        std::vector<std::string> reports;  // pieces of the reports, in order
        bool checksum = false;             // split with a checksum file
    };
    const std::string part3 = name + ".3";
    const std::string sums = name + ".sha256";
    const auto append = [](const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::app | std::ios::binary) << text;
    };
    // Another byte at `at`: a hex digit stays one.
    const auto change = [](const fs::path& path, std::size_t at) {
        std::string text = ReadBytes(path);
        text[at] = text[at] == '0' ? '1' : '0';
        WriteBytes(path, text);
    };
    const std::vector<Case> cases = {
        {"two missing parts",
         [&](TempDir& f) {
             fs::remove(f / (name + ".2"));
             fs::remove(f / (name + ".7"));
         },
         {},
         {},
         JoinResult::kMissingParts,
         {"Missing part: " + name + ".2", "Missing part: " + name + ".7"}},
        {"a part that is a folder",
         [&](TempDir& f) {
             fs::remove(f / part3);
             fs::create_directory(f / part3);
         },
         {},
         {},
         JoinResult::kMissingParts,
         {"Part is not a regular file: " + part3}},
        {"a part cut short",
         [&](TempDir& f) { fs::resize_file(f / part3, 9999); },
         {},
         {},
         JoinResult::kSizesDoNotFit,
         {"Part " + part3 + " has 9999 bytes where 10000 were expected"}},
        {"the last part grown",
         [&](TempDir& f) {
             std::ofstream(f / (name + ".7"), std::ios::app | std::ios::binary) << "x";
         },
         {},
         {},
         JoinResult::kSizesDoNotFit,
         {"Part " + name + ".7 has 10001 bytes"}},
        {"the destination exists",
         [&](TempDir& f) { WriteBytes(f / name, "old"); },
         {},
         {},
         JoinResult::kDestinationExists,
         {"The destination exists: " + name}},
        {"the destination is a part",
         [&](TempDir& f) { fs::create_hard_link(f / part3, f / name); },
         {},
         {.force = true},
         JoinResult::kRefused,
         {"The destination is one of the parts"}},
        {"the destination links to a part",
         [&](TempDir& f) { test::MakeSymlink(part3, f / name); },
         {},
         {.force = true},
         JoinResult::kRefused,
         {"The destination is one of the parts"}},
        {"the destination is a folder",
         [&](TempDir& f) { fs::create_directory(f / name); },
         {},
         {.force = true},
         JoinResult::kRefused,
         {"not a regular file: " + name}},
        {"a script it cannot read",
         [&](TempDir& f) {
             WriteBytes(f / (name + ".bat"), JoinScriptText(name, kParts) + "\r\ndel *.*");
         },
         {},
         {},
         JoinResult::kBadScript,
         {name + ".bat, line 5: not a line of a join script"}},
        {"a script with no copy line",
         [&](TempDir& f) { WriteBytes(f / (name + ".bat"), "@Echo Off\r\n"); },
         {},
         {},
         JoinResult::kBadScript,
         {name + ".bat: no copy /b line"}},
        {"a script too large to be one",
         [&](TempDir& f) { WriteBytes(f / (name + ".bat"), std::string((1 << 20) + 1, ' ')); },
         {},
         {},
         JoinResult::kBadScript,
         {name + ".bat: too large for a join script"}},
        {"no script",
         [&](TempDir& f) { fs::remove(f / (name + ".bat")); },
         {},
         {},
         JoinResult::kFailed,
         {"Error 53: File not found (" + name + ".bat)"}},
        {"a folder with no write permission",
         {},
         [](FaultyFileSystem& files) {
             files.fault = Fault::kCreate;
             files.failure = Failure::Of(kPermissionDenied);
         },
         {},
         JoinResult::kFailed,
         {"Error 70: Permission denied"}},
        {"a full disk",
         {},
         [](FaultyFileSystem& files) {
             files.fault = Fault::kWriteByte;
             files.failAt = 25000;
             files.failure = Failure::Of(kDiskFull);
         },
         {},
         JoinResult::kFailed,
         {"Error 61: Disk full"}},
        {"a flush to the disk that fails",
         {},
         [](FaultyFileSystem& files) {
             files.fault = Fault::kSync;
             files.failure = Failure::Of(kDeviceIoError);
         },
         {},
         JoinResult::kFailed,
         {"Error 57: Device I/O error"}},
        {"a disk that fills up at the close",
         {},
         [](FaultyFileSystem& files) {
             files.fault = Fault::kClose;
             files.failure = Failure::Of(kDiskFull);
         },
         {},
         JoinResult::kFailed,
         {"Error 61: Disk full"}},
        {"a rename that fails",
         {},
         [&](FaultyFileSystem& files) {
             files.fault = Fault::kRename;
             files.failure = Failure::Of(kPermissionDenied, name);
         },
         {},
         JoinResult::kFailed,
         {"Error 70: Permission denied (" + name + ")"}},
        // With a checksum file.
        {"a part changed, its size kept",
         [&](TempDir& f) { change(f / part3, 5000); },
         {},
         {},
         JoinResult::kChecksumMismatch,
         {"Part " + part3 + " does not match its SHA-256 in " + sums +
          ": it changed since the split"},
         true},
        {"the first part changed",
         [&](TempDir& f) { change(f / (name + ".0"), 0); },
         {},
         {},
         JoinResult::kChecksumMismatch,
         {"Part " + name + ".0 does not match its SHA-256"},
         true},
        // Without a line for the whole file every part is hashed as it is copied.
        {"a part's digest that differs in its last digit only, and no whole's",
         [&](TempDir& f) {
             change(f / sums, ReadBytes(f / sums).find('\n') + 64);
             const std::string lines = ReadBytes(f / sums);
             WriteBytes(f / sums, lines.substr(0, lines.rfind('\n', lines.size() - 2) + 1));
         },
         {},
         {},
         JoinResult::kChecksumMismatch,
         {"Part " + name + ".1 does not match its SHA-256"},
         true},
        {"the whole file's digest that differs in its last digit only",
         [&](TempDir& f) { change(f / sums, ReadBytes(f / sums).size() - name.size() - 4); },
         {},
         {},
         JoinResult::kChecksumMismatch,
         {"The joined file " + name + " does not match its SHA-256"},
         true},
        {"the whole file's line alone, and wrong",
         [&](TempDir& f) { WriteBytes(f / sums, ChecksumLine(Sha256Digest{}, name)); },
         {},
         {},
         JoinResult::kChecksumMismatch,
         {"The joined file " + name + " does not match its SHA-256 in " + sums},
         true},
        {"a checksum line that is not one",
         [&](TempDir& f) { append(f / sums, "hello\n"); },
         {},
         {},
         JoinResult::kBadChecksums,
         {sums + ", line 10: not a SHA-256 line"},
         true},
        {"a checksum file of another split",
         [&](TempDir& f) { append(f / sums, ChecksumLine(Sha256Digest{}, name + ".\x9b")); },
         {},
         {},
         JoinResult::kBadChecksums,
         {sums + ", line 10: \"" + name + ".?\" is neither a part the script lists"},
         true},
        {"a name given twice",
         [&](TempDir& f) { append(f / sums, ChecksumLine(Sha256Digest{}, name + ".0")); },
         {},
         {},
         JoinResult::kBadChecksums,
         {sums + ", line 10: \"" + name + ".0\" is given on line 1 already"},
         true},
        {"a full disk, checking the checksums",
         {},
         [](FaultyFileSystem& files) {
             files.fault = Fault::kWriteByte;
             files.failAt = 25000;
             files.failure = Failure::Of(kDiskFull);
         },
         {},
         JoinResult::kFailed,
         {"Error 61: Disk full"},
         true},
    };
    for (const Case& c : cases) {
        TempDir folder;
        const std::string script = SplitAway(folder.path(), name, bytes, SplitPlan::Count(kParts),
                                             {.checksum = c.checksum});
        if (c.arrange) c.arrange(folder);
        // Everything that is there before the join, and its bytes.
        std::map<std::string, std::string> before;
        for (const std::string& n : ListFolder(folder.path())) {
            if (fs::is_regular_file(folder / n)) before[n] = ReadBytes(folder / n);
        }
        FaultyFileSystem files;  // with no name to fail on, a fault hits the temporary file
        if (c.inject) c.inject(files);
        RecordingHost host;

        EXPECT_EQ(Join(script, c.options, host, files), c.result) << c.what << "\n"
                                                                  << host.Messages();
        ASSERT_EQ(host.errors.size(), c.reports.size()) << c.what << "\n" << host.Messages();
        for (std::size_t i = 0; i < c.reports.size(); ++i) {
            EXPECT_NE(host.errors[i].find(c.reports[i]), std::string::npos)
                << c.what << ": " << host.errors[i];
        }
        // Nothing new, nothing changed.
        std::set<std::string> names;
        for (const auto& [n, content] : before) {
            names.insert(n);
            EXPECT_TRUE(ReadBytes(folder / n) == content) << c.what << ": " << n << " changed";
        }
        for (const std::string& n : ListFolder(folder.path())) {
            if (fs::is_regular_file(folder / n)) {
                EXPECT_TRUE(names.count(n)) << c.what << ": " << n << " is new";
            }
        }
    }
}

// 999 parts, the last cut to 2 bytes: the sizes are those of a split of a shorter file, by count
// and by size, so only the checksum file can tell.
TEST(JoinFailureTest, ALastPartCutShortIsSeenOnlyByTheChecksums) {
    TempDir folder;
    const std::string script = SplitAway(folder.path(), "f", PatternBytes(99900),
                                         SplitPlan::Count(999), {.checksum = true});
    fs::resize_file(folder / "f.998", 2);
    fs::rename(folder / "f.sha256", folder / "aside");
    RecordingHost unchecked;
    ASSERT_EQ(Join(script, {}, unchecked), JoinResult::kDone) << unchecked.Messages();
    EXPECT_EQ(fs::file_size(folder / "f"), 99802u);

    fs::remove(folder / "f");
    fs::rename(folder / "aside", folder / "f.sha256");
    RecordingHost checked;
    EXPECT_EQ(Join(script, {}, checked), JoinResult::kChecksumMismatch);
    EXPECT_EQ(checked.errors, std::vector<std::string>{"Part f.998 does not match its SHA-256 in "
                                                       "f.sha256: it changed since the split"});
    EXPECT_EQ(ListFolder(folder.path()).size(), 1001u);  // parts, script, checksums: nothing new
}

// A script and parts that came from someone else: links among them may lead where the user
// never meant to read from or write to. Only files in the script's folder are read or written.
TEST(JoinLinkTest, ReadsAndWritesOnlyInTheScriptsFolder) {
    const std::string bytes = PatternBytes(1000);
    struct Case {
        const char* what;
        std::function<void(const fs::path& folder, const fs::path& outside)> arrange;
        JoinOptions options;
        JoinResult result;
        std::string report;              // the one report, if any
        bool throughFolderLink = false;  // the script is named through a link to its folder
    };
    const Case cases[] = {
        {"a part that links out",
         [](const fs::path& f, const fs::path& o) {
             fs::rename(f / "f.1", o / "secret");
             test::MakeSymlink(o / "secret", f / "f.1");
         },
         {},
         JoinResult::kRefused,
         "Part is a link out of the script's folder: f.1"},
        {"a part that links inside",
         [](const fs::path& f, const fs::path&) {
             fs::rename(f / "f.1", f / "moved");
             test::MakeSymlink("moved", f / "f.1");
         },
         {},
         JoinResult::kDone,
         ""},
        {"the destination links out",
         [](const fs::path& f, const fs::path& o) {
             WriteBytes(o / "target", "keep");
             test::MakeSymlink(o / "target", f / "f");
         },
         {.force = true},
         JoinResult::kRefused,
         "The destination is a link out of the script's folder: f"},
        {"the destination links to nothing",
         [](const fs::path& f, const fs::path& o) { test::MakeSymlink(o / "new", f / "f"); },
         {},
         JoinResult::kDestinationExists,
         "The destination exists: f"},
        {"the destination links to nothing, replaced when asked",
         [](const fs::path& f, const fs::path& o) { test::MakeSymlink(o / "new", f / "f"); },
         {.force = true},
         JoinResult::kDone,
         ""},
        {"the script's folder through a link", {}, {}, JoinResult::kDone, "", true},
    };
    for (const Case& c : cases) {
        TempDir folder;
        TempDir outside;
        const std::string script = SplitAway(folder.path(), "f", bytes, 4);
        if (c.arrange) c.arrange(folder.path(), outside.path());
        const std::vector<std::string> outsideBefore = ListFolder(outside.path());
        TempDir links;
        if (c.throughFolderLink) test::MakeSymlink(folder.path(), links / "folder");
        RecordingHost host;
        const std::string named = c.throughFolderLink ? links / "folder/f.bat" : script;
        EXPECT_EQ(Join(named, c.options, host), c.result) << c.what << "\n" << host.Messages();
        EXPECT_EQ(host.Messages(), c.report.empty() ? "" : c.report + "\n") << c.what;
        if (c.result == JoinResult::kDone) {
            EXPECT_FALSE(fs::is_symlink(folder / "f")) << c.what;
            EXPECT_TRUE(ReadBytes(folder / "f") == bytes) << c.what;
        }
        EXPECT_EQ(ListFolder(outside.path()), outsideBefore) << c.what;
        if (fs::exists(outside / "target")) {
            EXPECT_EQ(ReadBytes(outside / "target"), "keep") << c.what;
        }
    }
}

// A part swapped for a link to another file after the check is caught when it is opened.
TEST(JoinLinkTest, APartSwappedDuringTheJoinIsRefused) {
    TempDir folder;
    TempDir outside;
    const std::string script = SplitAway(folder.path(), "f", PatternBytes(1000), 4);
    WriteBytes(outside / "secret", std::string(250, 's'));
    RecordingHost host;
    bool swapped = false;
    host.onStatus = [&](const std::string& text) {
        if (text == kJoiningText || swapped) return;
        fs::remove(folder / "f.3");
        test::MakeSymlink(outside / "secret", folder / "f.3");
        swapped = true;
    };
    EXPECT_EQ(Join(script, {}, host), JoinResult::kFailed);
    EXPECT_EQ(host.errors,
              std::vector<std::string>{"Error 57: Part changed during the join (f.3)"});
    EXPECT_FALSE(fs::exists(folder / "f"));
    EXPECT_EQ(ListFolder(folder.path()),
              (std::vector<std::string>{"f.0", "f.1", "f.2", "f.3", "f.bat"}));
}

TEST(JoinFailureTest, JoinsAnywayWhenAskedTo) {
    TempDir folder;
    const std::string bytes = PatternBytes(1000);
    const std::string script = SplitAway(folder.path(), "f", bytes, 4);
    std::ofstream(folder / "f.3", std::ios::app | std::ios::binary) << "tail";
    WriteBytes(folder / "f", "old");
    RecordingHost host;
    ASSERT_EQ(Join(script, {.force = true, .anySizes = true}, host), JoinResult::kDone)
        << host.Messages();
    EXPECT_TRUE(ReadBytes(folder / "f") == bytes + "tail");
    EXPECT_EQ(ListFolder(folder.path()).size(), 6u);  // no temporary file left
}

// ---- above 4 GiB ------------------------------------------------------------------------------

// On pattern files in memory (see test_support.h), so nothing is written to disk: the parts of a
// split of 4.5 GiB join back with every byte in place, and each percentage appears where the
// split showed it, at most 64 KiB later. The same parts listed in another order are joined in
// that order, and the pattern shows the bytes out of place.
TEST(JoinAboveFourGiB, JoinsWhatASplitWrote) {
    const std::uint64_t length = (std::uint64_t{9} << 29) + 3;  // three parts of 1610612737
    const std::string path = "/big/big.img";
    test::MemoryFileSystem files;
    files.AddPattern(path, 0, length);
    RecordingHost splitHost;
    std::vector<std::uint64_t> splitBytes;
    // A run that lost count of its bytes may never end: stop it.
    auto bounded = [](std::vector<std::uint64_t>& list, std::uint64_t bytes) {
        list.push_back(bytes);
        if (list.size() > 200) throw std::runtime_error("more than 200 statuses");
    };
    splitHost.onStatus = [&](const std::string&) { bounded(splitBytes, files.bytesWritten); };
    ASSERT_EQ(SplitFile(path, "big.img", SplitPlan::Count(3), splitHost, {}, files),
              SplitResult::kDone)
        << splitHost.Messages();
    files.Remove(path);

    RecordingHost host;
    const std::uint64_t before = files.bytesWritten;
    std::vector<std::uint64_t> joinBytes;
    host.onStatus = [&](const std::string&) { bounded(joinBytes, files.bytesWritten - before); };
    ASSERT_EQ(Join(JoinScriptPath(path), {}, host, files), JoinResult::kDone) << host.Messages();
    const test::MemoryFile& joined = *files.files.at(path);
    EXPECT_EQ(joined.length, length);
    EXPECT_EQ(joined.start, 0u);
    EXPECT_EQ(joined.misplaced, 0);
    EXPECT_EQ(files.files.size(), 5u);  // parts, script and file: no temporary file is left

    ASSERT_EQ(host.statuses.size(), 102u);
    ASSERT_EQ(splitHost.statuses.size(), 102u);
    for (std::size_t i = 1; i <= 100; ++i) {
        EXPECT_EQ(host.statuses[i],
                  "Joining" + splitHost.statuses[i].substr(std::string("Splitting").size()));
        EXPECT_GE(joinBytes[i], splitBytes[i]) << host.statuses[i];
        EXPECT_LE(joinBytes[i], splitBytes[i] + 65536) << host.statuses[i];
    }
    EXPECT_EQ(host.statuses.back(), kDoneText);

    files.Remove(path);
    files.Add(JoinScriptPath(path), "copy /b big.img.1+big.img.0+big.img.2 big.img\r\n");
    RecordingHost swapped;
    ASSERT_EQ(Join(JoinScriptPath(path), {}, swapped, files), JoinResult::kDone)
        << swapped.Messages();
    EXPECT_EQ(files.files.at(path)->start, length / 3);
    EXPECT_GT(files.files.at(path)->misplaced, 0);  // part 0, where part 1 should have been
}

// 9 GiB cut for a FAT32 volume: two parts of 4294963200 bytes and the rest, which no split by
// count of 9 GiB would make; joined back, every byte in place.
TEST(JoinAboveFourGiB, JoinsPartsOfFat32Size) {
    const std::uint64_t length = std::uint64_t{9} << 30;
    const std::string path = "/big/disc.iso";
    test::MemoryFileSystem files;
    files.AddPattern(path, 0, length);
    RecordingHost splitHost;
    ASSERT_EQ(SplitFile(path, "disc.iso", SplitPlan::Size(kFat32PartSize), splitHost, {}, files),
              SplitResult::kDone)
        << splitHost.Messages();
    files.Remove(path);
    RecordingHost host;
    ASSERT_EQ(Join(JoinScriptPath(path), {}, host, files), JoinResult::kDone) << host.Messages();
    const test::MemoryFile& joined = *files.files.at(path);
    EXPECT_EQ(joined.length, length);
    EXPECT_EQ(joined.start, 0u);
    EXPECT_EQ(joined.misplaced, 0);
    EXPECT_EQ(host.statuses.size(), 102u);
}

// A sparse file of 4.5 GiB with marks at the ends of the parts. Its holes stay holes where the
// file system keeps them; elsewhere this writes some 9 GiB and takes about a minute on one disk:
// it runs only when SPLITTER_LARGE_TESTS is set (ctest -L large).
TEST(JoinLargeTest, JoinsAFileAbove4GiB) {
    if (std::getenv("SPLITTER_LARGE_TESTS") == nullptr)
        GTEST_SKIP() << "set SPLITTER_LARGE_TESTS=1 to join 4.5 GiB";
    TempDir folder(/*onDisk=*/true);
    const fs::path source = folder / "big.img";
    const std::uint64_t length = (std::uint64_t{9} << 29) + 3;  // 4.5 GiB + 3
    const std::vector<std::uint64_t> marks = {0, (std::uint64_t{1} << 32) - 1,
                                              std::uint64_t{1} << 32, length / 3, length - 1};
    {
        std::ofstream out(source, std::ios::binary);
        for (const std::uint64_t at : marks) {
            out.seekp(static_cast<std::streamoff>(at));
            out.put(static_cast<char>('A' + at % 26));
        }
    }
    fs::resize_file(source, length);
    RecordingHost splitHost;
    ASSERT_EQ(SplitFile(source.string(), "big.img", SplitPlan::Count(3), splitHost),
              SplitResult::kDone);
    fs::rename(source, folder / "big.img.orig");

    RecordingHost host;
    ASSERT_EQ(Join(JoinScriptPath(source.string()), {}, host), JoinResult::kDone)
        << host.Messages();
    ASSERT_EQ(fs::file_size(source), length);
    std::ifstream in(source, std::ios::binary);
    for (const std::uint64_t at : marks) {
        in.seekg(static_cast<std::streamoff>(at));
        EXPECT_EQ(in.get(), 'A' + static_cast<int>(at % 26)) << at;
    }
    in.seekg(static_cast<std::streamoff>(length / 2));
    EXPECT_EQ(in.get(), 0);
    EXPECT_EQ(host.statuses.back(), kDoneText);
}

}  // namespace
}  // namespace splitter
