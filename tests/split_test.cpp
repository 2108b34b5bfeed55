#include "engine/split.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <stdexcept>

#include "engine/checksum.h"
#include "engine/join_script.h"
#include "engine/part_size.h"
#include "engine/plan.h"
#include "engine/progress_copier.h"
#include "files/script_encoding.h"
#include "test_support.h"

namespace splitter {
namespace {

using test::FaultyFileSystem;
using test::MemoryFileSystem;
using test::ReadBytes;
using test::RecordingHost;
using test::TempDir;
using test::WriteBytes;
using Fault = FaultyFileSystem::Fault;

constexpr const char* kSource = "source.bin";

std::string Part(int k) {
    return std::string(kSource) + "." + std::to_string(k);
}

SplitResult SplitIn(const TempDir& dir, int parts, RecordingHost& host,
                    FileSystem& files = FileSystem::Default(), const std::string& title = kSource) {
    return SplitFile(dir / title, title, SplitPlan::Count(static_cast<std::int16_t>(parts)), host,
                     {}, files);
}

// Every length up to 300 with small part counts, and lengths around the large counts: the parts
// have the planned sizes, hold the source's bytes in order, and the script lists them all.
// Nothing else is written. Under wine, where every file costs a millisecond or more, every 7th
// length past 32: the plan is the same code everywhere, and checked at every length here.
TEST(SplitRoundTrip, PartsJoinBackToTheSource) {
#ifdef _WIN32
    constexpr std::size_t kLengthStep = 7;
#else
    constexpr std::size_t kLengthStep = 1;
#endif
    const std::vector<int> smallCounts = {2, 3, 4, 5, 7, 10, 11, 16};
    const std::vector<int> largeCounts = {64, 100, 299, 300, 999};
    const std::vector<std::size_t> largeLengths = {64,  99,  100, 101, 150, 255,
                                                   298, 299, 300, 999, 1000};
    for (std::size_t length = 0; length <= 1000; ++length) {
        const bool large =
            std::find(largeLengths.begin(), largeLengths.end(), length) != largeLengths.end();
        if (!large && (length > 300 || (length > 32 && length % kLengthStep != 0))) continue;
        const std::string source = test::PatternBytes(length, static_cast<unsigned>(length));
        for (const int parts : large ? largeCounts : smallCounts) {
            if (static_cast<std::size_t>(parts) > length) continue;
            TempDir dir;
            WriteBytes(dir / kSource, source);
            RecordingHost host;
            ASSERT_EQ(SplitIn(dir, parts, host), SplitResult::kDone) << length << " in " << parts;
            ASSERT_TRUE(host.errors.empty()) << host.errors.front();

            const std::vector<std::uint64_t> sizes = PlanPartSizes(length, parts);
            std::string joined;
            for (int k = 0; k < parts; ++k) {
                const std::string bytes = ReadBytes(dir / Part(k));
                ASSERT_EQ(bytes.size(), sizes[static_cast<std::size_t>(k)])
                    << length << " in " << parts << " part " << k;
                joined += bytes;
            }
            ASSERT_EQ(joined, source) << length << " in " << parts;
            ASSERT_EQ(ReadBytes(dir / (std::string(kSource) + ".bat")),
                      JoinScriptText(kSource, parts));
            ASSERT_EQ(test::ListFolder(dir.path()).size(), static_cast<std::size_t>(parts) + 2);
        }
    }
}

TEST(SplitRoundTrip, DescribedExamples) {
    struct Case {
        std::size_t length;
        int parts;
        std::vector<std::uint64_t> sizes;
    };
    const Case cases[] = {
        {12, 4, {3, 3, 3, 3}},          {10, 4, {3, 3, 3, 1}},
        {10, 6, {2, 2, 2, 2, 2, 0}},     // the sixth part is created empty
        {10, 7, {2, 2, 2, 2, 2, 0, 0}},  // the rounded-up size runs past the end
        {5, 5, {1, 1, 1, 1, 1}},        {300, 4, {75, 75, 75, 75}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / kSource, test::PatternBytes(c.length));
        RecordingHost host;
        ASSERT_EQ(SplitIn(dir, c.parts, host), SplitResult::kDone);
        for (int k = 0; k < c.parts; ++k) {
            EXPECT_EQ(test::fs::file_size(dir / Part(k)), c.sizes[static_cast<std::size_t>(k)])
                << c.length << " in " << c.parts << " part " << k;
        }
        EXPECT_EQ(host.statuses.back(), kDoneText);
    }
}

// Parts of a chosen size: the names, script and statuses of a split by count into as many parts;
// a size that would make fewer than 2 or more than 999 parts writes nothing and says how many.
TEST(SplitRoundTrip, PartsOfAChosenSize) {
    struct Case {
        std::size_t length;
        std::uint64_t partSize;
        std::vector<std::uint64_t> sizes;  // empty: refused
        std::string refusal = {};
    };
    const Case cases[] = {
        {10, 3, {3, 3, 3, 1}},
        {10, 6, {6, 4}},
        {12, 4, {4, 4, 4}},
        {9990, 10, std::vector<std::uint64_t>(999, 10)},
        {9991, 10001, {}, "source.bin has 9991 bytes: parts of 10001 bytes would make 1 part"},
        {9991, 9991, {}, "source.bin has 9991 bytes: parts of 9991 bytes would make 1 part"},
        {9991, 10, {}, "source.bin has 9991 bytes: parts of 10 bytes would make 1000 parts"},
        {0, 10, {}, "source.bin has 0 bytes: parts of 10 bytes would make 0 parts"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " by " + std::to_string(c.partSize));
        TempDir dir;
        const std::string source = test::PatternBytes(c.length);
        WriteBytes(dir / kSource, source);
        RecordingHost host;
        const SplitResult result =
            SplitFile(dir / kSource, kSource, SplitPlan::Size(c.partSize), host);
        if (c.sizes.empty()) {
            EXPECT_EQ(result, SplitResult::kBadPartCount);
            ASSERT_EQ(host.errors.size(), 1u);
            EXPECT_EQ(host.errors[0], c.refusal + "; a split makes 2 to 999.");
            EXPECT_EQ(host.statuses, std::vector<std::string>{kSplittingText});
            EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{kSource});
            continue;
        }
        ASSERT_EQ(result, SplitResult::kDone) << host.Messages();
        const int parts = static_cast<int>(c.sizes.size());
        std::string joined;
        for (int k = 0; k < parts; ++k) {
            const std::string bytes = ReadBytes(dir / Part(k));
            EXPECT_EQ(bytes.size(), c.sizes[static_cast<std::size_t>(k)]) << "part " << k;
            joined += bytes;
        }
        EXPECT_TRUE(joined == source);
        EXPECT_EQ(ReadBytes(dir / (std::string(kSource) + ".bat")), JoinScriptText(kSource, parts));
        EXPECT_EQ(host.statuses, test::ReferenceStatuses(c.length, parts).statuses);
        EXPECT_EQ(test::ListFolder(dir.path()).size(), c.sizes.size() + 2);
    }
}

TEST(SplitRoundTrip, FewerBytesThanPartsWritesNothing) {
    for (const std::size_t length : {0u, 1u, 3u}) {
        TempDir dir;
        WriteBytes(dir / kSource, test::PatternBytes(length));
        RecordingHost host;
        EXPECT_EQ(SplitIn(dir, 4, host), SplitResult::kUnableToSplit);
        EXPECT_EQ(host.statuses, (std::vector<std::string>{kSplittingText, kUnableText}));
        EXPECT_TRUE(host.errors.empty());
        EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{kSource});
    }
}

TEST(SplitRoundTrip, ExistingOutputsAreCutToTheirNewLength) {
    TempDir dir;
    WriteBytes(dir / kSource, test::PatternBytes(100));
    WriteBytes(dir / Part(0), std::string(5000, 'x'));
    WriteBytes(dir / (std::string(kSource) + ".bat"), std::string(20000, 'y'));
    RecordingHost host;
    ASSERT_EQ(SplitIn(dir, 2, host), SplitResult::kDone);
    EXPECT_EQ(ReadBytes(dir / Part(0)), test::PatternBytes(100).substr(0, 50));
    EXPECT_EQ(ReadBytes(dir / (std::string(kSource) + ".bat")), JoinScriptText(kSource, 2));
}

// The statuses, and the number of bytes copied when each progress text appears, are those of
// copying one byte at a time, for every length up to 3000.
TEST(SplitProgress, StatusesMatchByteByByteCopy) {
    const int counts[] = {2, 3, 7, 10, 999};
    for (std::uint64_t length = 1; length <= 3000; ++length) {
        for (const int parts : counts) {
            MemoryFileSystem memory;
            memory.Add("/m/" + std::string(kSource),
                       test::PatternBytes(static_cast<std::size_t>(length)));
            FaultyFileSystem files(memory);
            RecordingHost host;
            std::vector<std::uint64_t> bytesAtStatus;
            // Each progress text comes right after a yield; other yields come on a clock, as
            // many as the machine's speed makes, and are not counted.
            std::size_t afterYield = 0;
            host.onStatus = [&](const std::string& text) {
                if (text.rfind("Splitting... [", 0) != 0) return;
                bytesAtStatus.push_back(files.bytesWritten);
                afterYield += host.yielded ? 1 : 0;
            };
            SplitFile("/m/" + std::string(kSource), kSource,
                      SplitPlan::Count(static_cast<std::int16_t>(parts)), host, {}, files);

            const test::ReferenceRun reference = test::ReferenceStatuses(length, parts);
            ASSERT_EQ(host.statuses, reference.statuses) << length << " in " << parts;
            ASSERT_EQ(bytesAtStatus, reference.bytesAtStatus) << length << " in " << parts;
            ASSERT_EQ(afterYield, reference.bytesAtStatus.size());
        }
    }
}

// A failure at any byte of any part leaves the earlier parts whole, the failing part with the
// bytes it got, no later part and no script, shows the error, and leaves no file open.
TEST(SplitFailures, WriteFailureAtEveryByte) {
    const std::string source = test::PatternBytes(40);
    const std::vector<std::uint64_t> sizes = PlanPartSizes(source.size(), 3);  // 14, 14, 12
    for (int k = 0; k < 3; ++k) {
        for (std::uint64_t at = 0; at < sizes[static_cast<std::size_t>(k)]; ++at) {
            TempDir dir;
            WriteBytes(dir / kSource, source);
            FaultyFileSystem files;
            files.fault = Fault::kWriteByte;
            files.failName = Part(k);
            files.failAt = at;
            files.failure = Failure::Of(kDiskFull, Part(k));
            RecordingHost host;
            ASSERT_EQ(SplitIn(dir, 3, host, files), SplitResult::kFailed);
            ASSERT_EQ(host.errors,
                      std::vector<std::string>{"Error 61: Disk full (" + Part(k) + ")"});
            ASSERT_NE(host.statuses.back(), kDoneText);
            ASSERT_EQ(files.openFiles, 0);

            std::uint64_t offset = 0;
            for (int i = 0; i < k; ++i) {
                ASSERT_EQ(
                    ReadBytes(dir / Part(i)),
                    source.substr(static_cast<std::size_t>(offset),
                                  static_cast<std::size_t>(sizes[static_cast<std::size_t>(i)])));
                offset += sizes[static_cast<std::size_t>(i)];
            }
            ASSERT_EQ(ReadBytes(dir / Part(k)),
                      source.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(at)))
                << "part " << k << " byte " << at;
            ASSERT_FALSE(test::fs::exists(dir / Part(k + 1)));
            ASSERT_FALSE(test::fs::exists(dir / (std::string(kSource) + ".bat")));
            ASSERT_EQ(ReadBytes(dir / kSource), source);
        }
    }
}

TEST(SplitFailures, FailuresAtEachStep) {
    struct Case {
        Fault fault;
        std::string name;
        std::uint64_t at;
        Failure failure;
        std::vector<std::string> left;  // besides the source
        std::string oldScript = {};     // a script and checksum file there before: both go
        bool checksum = false;
        int recovery = 0;  // a set made beside the copy stops with it, and leaves nothing
    };
    const std::string bat = std::string(kSource) + ".bat";
    const std::string sums = std::string(kSource) + ".sha256";
    const std::string old = JoinScriptText(kSource, 7);
    const std::vector<std::string> parts = {Part(0), Part(1), Part(2)};
    const Case cases[] = {
        {Fault::kCreate, Part(0), 0, Failure::Of(kPermissionDenied, Part(0)), {}},
        {Fault::kCreate, Part(2), 0, Failure::Of(kTooManyFiles, Part(2)), {Part(0), Part(1)}},
        {Fault::kCreate, Part(1), 0, Failure::Of(kPermissionDenied, Part(1)), {Part(0)}, old},
        // Parts are closed while the next ones are copied: the last one's failure shows alike
        // on every run.
        {Fault::kClose, Part(2), 0, Failure::Of(kDeviceIoError, Part(2)), parts},
        {Fault::kSync, Part(2), 0, Failure::Of(kDeviceIoError, Part(2)), parts},
        {Fault::kCreate, bat, 0, Failure::Of(kPermissionDenied, bat), {Part(0), Part(1), Part(2)}},
        // The script appears whole or not at all: a cut copy line would join the wrong bytes.
        {Fault::kWriteByte, bat, 10, Failure::Of(kDiskFull, bat), parts},
        {Fault::kWriteByte, bat, 10, Failure::Of(kDiskFull, bat), parts, old},
        {Fault::kSync, bat, 0, Failure::Of(kDeviceIoError, bat), parts, old},
        {Fault::kClose, bat, 0, Failure::Of(kDiskFull, bat), parts},
        {Fault::kRename, bat, 0, Failure::Of(kPermissionDenied, bat), parts, old},
        {Fault::kReadByte, kSource, 0, Failure::Of(kDeviceIoError, kSource), {Part(0)}},
        {Fault::kReadByte, kSource, 20, Failure::Of(kDeviceIoError, kSource), {Part(0), Part(1)}},
        {Fault::kCreate,
         sums,
         0,
         Failure::Of(kPermissionDenied, sums),
         {Part(0), Part(1), Part(2)},  // the script comes last: it names only what is there
         {},
         true},
        {Fault::kClose,
         sums,
         0,
         Failure::Of(kDiskFull, sums),
         {Part(0), Part(1), Part(2)},  // whole or not at all, as the script
         {},
         true},
        {Fault::kWriteByte,
         Part(1),
         3,
         Failure::Of(kDiskFull, Part(1)),
         {Part(0), Part(1)},
         {},
         true},
        {Fault::kReadByte,
         kSource,
         20,
         Failure::Of(kDeviceIoError, kSource),
         {Part(0), Part(1)},
         {},
         true},
        {Fault::kWriteByte,
         Part(1),
         3,
         Failure::Of(kDiskFull, Part(1)),
         {Part(0), Part(1)},
         {},
         false,
         20},
        {Fault::kReadByte,
         kSource,
         30,
         Failure::Of(kDeviceIoError, kSource),
         {},  // the set's first reads, before any part
         {},
         false,
         20},
        {Fault::kCreate,
         std::string(kSource) + ".vol1+2.par2",
         0,
         Failure::Of(kDiskFull, "v"),
         parts,
         {},
         false,
         20},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / kSource, test::PatternBytes(40));
        if (!c.oldScript.empty()) WriteBytes(dir / bat, c.oldScript);
        if (!c.oldScript.empty()) WriteBytes(dir / sums, ChecksumLine({}, kSource));
        FaultyFileSystem files;
        files.fault = c.fault;
        files.failName = c.name;
        files.failAt = c.at;
        files.failure = c.failure;
        RecordingHost host;
        EXPECT_EQ(SplitFile(dir / kSource, kSource, SplitPlan::Count(3), host,
                            {.checksum = c.checksum, .recoveryPercent = c.recovery}, files),
                  SplitResult::kFailed)
            << c.failure.Message();
        EXPECT_EQ(host.errors, std::vector<std::string>{c.failure.Message()});
        EXPECT_EQ(files.openFiles, 0) << c.failure.Message();
        std::vector<std::string> expected = c.left;
        expected.push_back(kSource);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(test::ListFolder(dir.path()), expected) << c.failure.Message();
        EXPECT_EQ(ReadBytes(dir / kSource), test::PatternBytes(40));
    }
}

// A power cut may leave parts without a script, never a script without its parts: every file
// the script stands for (parts, checksum file, recovery volumes) is flushed before the script
// takes its name, which comes last.
TEST(SplitDurability, EverythingIsOnTheDiskBeforeTheScriptIsNamed) {
    const std::string bat = std::string(kSource) + ".bat";
    const SplitOptions cases[] = {{}, {.checksum = true}, {.recoveryPercent = 20}, {true, 5}};
    for (const SplitOptions& options : cases) {
        const std::string row =
            std::to_string(options.checksum) + "/" + std::to_string(options.recoveryPercent);
        TempDir dir;
        WriteBytes(dir / kSource, test::PatternBytes(100000));
        FaultyFileSystem files;
        RecordingHost host;
        ASSERT_EQ(SplitFile(dir / kSource, kSource, SplitPlan::Count(5), host, options, files),
                  SplitResult::kDone)
            << row << host.Messages();
        const std::vector<std::string> durable = files.Durable();
        ASSERT_FALSE(durable.empty()) << row;
        EXPECT_EQ(durable.back(), "rename " + bat) << row;
        for (const std::string& name : test::ListFolder(dir.path())) {
            if (name == kSource || name == bat) continue;
            const auto sync = std::find(durable.begin(), durable.end(), "sync " + name);
            EXPECT_LT(sync - durable.begin(), static_cast<long>(durable.size()) - 1)
                << row << ": " << name << " is not flushed before the script is named";
        }
    }
}

// A file that grew, or changed in place, while it was cut gets no script listing its parts.
TEST(SplitFailures, ASourceThatChangesGetsNoScript) {
    for (const bool grows : {true, false}) {
        TempDir dir;
        WriteBytes(dir / kSource, test::PatternBytes(40));
        RecordingHost host;
        host.onStatus = [&](const std::string& text) {
            if (text != ProgressText("Splitting", 50)) return;
            const auto when = test::fs::last_write_time(dir / kSource);  // the clock may not move
            if (grows) test::fs::resize_file(dir / kSource, 41);
            test::fs::last_write_time(dir / kSource, when + std::chrono::seconds(grows ? 0 : 1));
        };
        EXPECT_EQ(SplitIn(dir, 3, host), SplitResult::kFailed);
        EXPECT_EQ(host.Messages(), "Error 57: File changed during the split (source.bin)\n");
        EXPECT_FALSE(test::fs::exists(dir / (std::string(kSource) + ".bat")));
    }
}

TEST(SplitFailures, BadSourcesAndNames) {
    TempDir dir;
    RecordingHost missing;
    EXPECT_EQ(SplitIn(dir, 2, missing, FileSystem::Default(), "absent.bin"), SplitResult::kFailed);
    EXPECT_EQ(missing.errors, std::vector<std::string>{"Error 53: File not found (absent.bin)"});
    EXPECT_EQ(missing.statuses, std::vector<std::string>{kSplittingText});

    test::fs::create_directory(dir / "folder");
    RecordingHost folder;
    EXPECT_EQ(SplitIn(dir, 2, folder, FileSystem::Default(), "folder"), SplitResult::kFailed);
    EXPECT_EQ(folder.errors, std::vector<std::string>{"Error 75: Path/File access error (folder)"});

#ifndef _WIN32  // Windows holds no such names
    // A script can't carry a double quote or a control character: refused before any write.
    for (const std::string& name :
         std::vector<std::string>{"say \"hi\".txt", "two\nlines.txt", "tab\t.txt"}) {
        TempDir named;
        WriteBytes(named / name, test::PatternBytes(10));
        RecordingHost host;
        EXPECT_EQ(SplitIn(named, 2, host, FileSystem::Default(), name), SplitResult::kFailed);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(host.errors[0].rfind("Error 52: Bad file name or number", 0), 0u)
            << host.errors[0];
        EXPECT_EQ(test::ListFolder(named.path()), std::vector<std::string>{name});
    }
#endif
}

// An output name that is a link (to the source, out of the folder, to nothing), a hard link of
// the source, or no file at all, is refused before anything is written; the source and what
// the links lead to stay as they were. A link put there during the run is refused too.
TEST(SplitFailures, OutputsThatAreNotPlainFilesAreRefused) {
    const std::string bat = std::string(kSource) + ".bat";
    enum class Make { kLinkToSource, kHardLinkOfSource, kLinkOut, kLinkToNothing, kFolder };
    struct Case {
        std::string name;
        Make make;
        int partsBefore = 0;  // made during the run, once this many parts are written
    };
    const Case cases[] = {
        {Part(1), Make::kLinkToSource},     {bat, Make::kLinkToSource},
        {Part(1), Make::kHardLinkOfSource}, {Part(1), Make::kLinkOut},
        {bat, Make::kLinkToNothing},        {Part(2), Make::kFolder},
        {Part(2), Make::kLinkOut, 2},       {bat, Make::kLinkToNothing, 3},
    };
    for (const Case& c : cases) {
        TempDir dir;
        TempDir outside;
        const std::string source = test::PatternBytes(30);
        WriteBytes(dir / kSource, source);
        WriteBytes(outside / "victim", "keep");
        const test::fs::path at = test::PathArg(dir / c.name).path;
        const auto make = [&] {
            switch (c.make) {
                case Make::kLinkToSource: test::MakeSymlink(dir / kSource, at); break;
                case Make::kHardLinkOfSource:
                    test::fs::create_hard_link(test::PathArg(dir / kSource).path, at);
                    break;
                case Make::kLinkOut: test::MakeSymlink(outside / "victim", at); break;
                case Make::kLinkToNothing: test::MakeSymlink(outside / "new", at); break;
                case Make::kFolder: test::fs::create_directory(at); break;
            }
        };
        RecordingHost host;
        if (c.partsBefore == 0) make();
        // The status shown after the last byte of the parts before it.
        const std::string madeAt =
            c.partsBefore == 0
                ? std::string()
                : ProgressText("Splitting",
                               PercentAt(static_cast<std::uint64_t>(c.partsBefore) * 10 - 1, 30));
        host.onStatus = [&](const std::string& text) {
            if (text == madeAt) make();
        };
        EXPECT_EQ(SplitIn(dir, 3, host), SplitResult::kFailed) << c.name;
        EXPECT_EQ(host.errors,
                  std::vector<std::string>{"Error 75: Path/File access error (" + c.name + ")"});
        EXPECT_EQ(ReadBytes(dir / kSource), source);
        EXPECT_EQ(test::ListFolder(outside.path()), std::vector<std::string>{"victim"}) << c.name;
        EXPECT_EQ(ReadBytes(outside / "victim"), "keep") << c.name;
        std::vector<std::string> left = {kSource};
        for (int k = 0; k < c.partsBefore; ++k) left.push_back(Part(k));
        std::sort(left.begin(), left.end());
        std::vector<std::string> listed = test::ListFolder(dir.path());
        std::erase(listed, c.name);  // wine lists no link that leads nowhere
        EXPECT_EQ(listed, left) << c.name;
    }
}

TEST(SplitRoundTrip, NamesThatNeedEscapes) {
    for (const std::string& name :
         std::vector<std::string>{"my report.pdf", "100%.txt", "a&b(c)^d!e'f+g,h;i=j.dat",
                                  "r\xc3\xa9sum\xc3\xa9.doc", "noext"}) {
        TempDir dir;
        const std::string source = test::PatternBytes(33);
        WriteBytes(dir / name, source);
        RecordingHost host;
        ASSERT_EQ(SplitIn(dir, 3, host, FileSystem::Default(), name), SplitResult::kDone) << name;
        std::string joined;
        for (int k = 0; k < 3; ++k) joined += ReadBytes(dir / (name + "." + std::to_string(k)));
        EXPECT_EQ(joined, source) << name;
        // In the encoding cmd reads (on Windows, the OEM code page).
        EXPECT_EQ(ReadBytes(dir / (name + ".bat")),
                  CommandScriptBytes(JoinScriptText(name, 3), name).bytes)
            << name;
    }
}

// Above 4 GiB, on pattern files in memory (nothing is written to disk): the part sizes and the
// source offsets where the parts begin don't wrap, every byte lands in place, the percentage
// runs 1 to 100 once each and appears right after the first byte that has it.
TEST(SplitAboveFourGiB, PartsProgressAndScript) {
    struct Case {
        std::uint64_t length;
        int parts;
        std::uint64_t size;  // of every part but the last
        std::uint64_t last;
        bool bySize = false;  // a split into parts of `size` bytes
    };
    const Case cases[] = {
        {std::uint64_t{9} << 30, 3, kFat32PartSize, 1073750016, true},  // --size fat32
        {(std::uint64_t{1} << 32) + 3, 3, 1431655767, 1431655765},
        {(std::uint64_t{9} << 30) + 7, 2, 4831838212, 4831838211},  // parts above 4 GiB
        {std::uint64_t{5} << 30, 999, 5374084, 5373288},  // many parts beginning above 4 GiB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " in " + std::to_string(c.parts));
        MemoryFileSystem files;
        const std::string path = "/big/" + std::string(kSource);
        files.AddPattern(path, 0, c.length);
        RecordingHost host;
        std::vector<std::uint64_t> bytesAtStatus;
        host.onStatus = [&](const std::string&) {
            bytesAtStatus.push_back(files.bytesWritten);
            // A run that lost count of its bytes may never end: stop it.
            if (bytesAtStatus.size() > 200) throw std::runtime_error("more than 200 statuses");
        };
        const SplitPlan plan = c.bySize ? SplitPlan::Size(c.size)
                                        : SplitPlan::Count(static_cast<std::int16_t>(c.parts));
        ASSERT_EQ(SplitFile(path, kSource, plan, host, {}, files), SplitResult::kDone)
            << host.Messages();

        std::uint64_t start = 0;
        for (int k = 0; k < c.parts; ++k) {
            const test::MemoryFile& part = *files.files.at(path + "." + std::to_string(k));
            ASSERT_EQ(part.length, k + 1 < c.parts ? c.size : c.last) << "part " << k;
            ASSERT_EQ(part.start, start) << "part " << k;
            ASSERT_EQ(part.misplaced, 0) << "part " << k;
            start += part.length;
        }
        EXPECT_EQ(start, c.length);
        EXPECT_EQ(files.files.at(path + ".bat")->bytes,
                  CommandScriptBytes(JoinScriptText(kSource, c.parts), kSource).bytes);

        ASSERT_EQ(host.statuses.size(), 102u);  // "Splitting... ", 1 % to 100 %, "Done !"
        EXPECT_EQ(host.statuses.front(), kSplittingText);
        EXPECT_EQ(host.statuses.back(), kDoneText);
        for (int percent = 1; percent <= 100; ++percent) {
            const std::uint64_t copied = bytesAtStatus[static_cast<std::size_t>(percent)];
            EXPECT_EQ(host.statuses[static_cast<std::size_t>(percent)],
                      "Splitting... [ " + std::to_string(percent) + " % Completed. ]");
            EXPECT_EQ(test::ReferencePercent(copied - 1, c.length), percent) << copied;
            EXPECT_EQ(test::ReferencePercent(copied - 2, c.length), percent - 1) << copied;
        }
    }
}

// The same on a real sparse file with markers. Where the file system keeps no holes it writes
// 4 GiB: it runs only when SPLITTER_LARGE_TESTS is set (ctest -L large).
TEST(SplitLarge, SparseFileAboveFourGiB) {
    if (std::getenv("SPLITTER_LARGE_TESTS") == nullptr)
        GTEST_SKIP() << "set SPLITTER_LARGE_TESTS=1 to split 4 GiB on disk";
    TempDir dir(/*onDisk=*/true);
    const std::uint64_t length = (std::uint64_t{1} << 32) + 3;
    {
        WriteBytes(dir / kSource, "");
        test::fs::resize_file(dir / kSource, length);
        std::fstream f(dir / kSource, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f.is_open());
        for (const std::uint64_t at : {std::uint64_t{0}, length / 3 - 1, length / 3, length - 1}) {
            f.seekp(static_cast<std::streamoff>(at));
            f.put(static_cast<char>('A' + static_cast<int>(at % 26)));
        }
        ASSERT_TRUE(f.good());
    }
    RecordingHost host;
    ASSERT_EQ(SplitIn(dir, 3, host), SplitResult::kDone);
    const std::vector<std::uint64_t> sizes = PlanPartSizes(length, 3);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(test::fs::file_size(dir / Part(k)), sizes[static_cast<std::size_t>(k)]);
    EXPECT_EQ(host.statuses.size(), 102u);  // "Splitting... ", 1 % to 100 %, "Done !"
    EXPECT_EQ(host.statuses[100], ProgressText("Splitting", 100));

    auto byteAt = [&](int k, std::uint64_t at) {
        std::ifstream f(dir / Part(k), std::ios::binary);
        f.seekg(static_cast<std::streamoff>(at));
        return f.get();
    };
    const std::uint64_t s = sizes[0];
    for (const std::uint64_t at : {std::uint64_t{0}, length / 3 - 1, length / 3, length - 1}) {
        EXPECT_EQ(byteAt(static_cast<int>(at / s), at % s), 'A' + static_cast<int>(at % 26)) << at;
    }
}

}  // namespace
}  // namespace splitter
