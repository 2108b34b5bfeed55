// The real file layer of this OS: what each kind of bad path turns into.
#include "files/file_system.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "files/failure.h"
#include "files/interruption.h"
#include "test_support.h"

namespace splitter {
namespace {

using test::CodeOf;
using test::TempDir;

using test::MakeSymlink;

TEST(FileSystemTest, FailureCodes) {
    TempDir dir;
    test::WriteBytes(dir / "file", "abc");
    test::fs::create_directory(dir / "folder");
#ifndef _WIN32  // Windows has no named pipes among its files
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
#endif
    FileSystem& files = FileSystem::Default();
    struct Case {
        const char* what;
        std::function<void()> action;
        int code;
    };
    const Case cases[] = {
        {"open missing", [&] { files.OpenRead(dir / "absent"); }, kFileNotFound},
        {"open folder", [&] { files.OpenRead(dir / "folder"); }, kPathFileAccessError},
        {"open below a file", [&] { files.OpenRead(dir / "file/x"); }, kPathNotFound},
        {"create in missing folder", [&] { files.Create(dir / "absent/x", nullptr); },
         kPathNotFound},
        {"create over folder", [&] { files.Create(dir / "folder", nullptr); },
         kPathFileAccessError},
        {"create too long a name", [&] { files.Create(dir / std::string(300, 'n'), nullptr); },
         kBadFileName},
#ifndef _WIN32
        {"open fifo", [&] { files.OpenRead(dir / "fifo"); }, kPathFileAccessError},
        {"create over fifo", [&] { files.Create(dir / "fifo", nullptr); }, kPathFileAccessError},
#endif
        // A missing folder is "path not found", where Windows and POSIX say it differently.
        {"open in missing folder", [&] { files.OpenRead(dir / "absent/x"); }, kPathNotFound},
        {"status in missing folder", [&] { files.Status(dir / "absent/x"); }, kPathNotFound},
        {"status below a file", [&] { files.Status(dir / "file/below"); }, kPathNotFound},
        {"resolve in missing folder", [&] { files.Resolve(dir / "absent/x"); }, kPathNotFound},
        {"open existing", [&] { files.OpenRead(dir / "file"); }, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(CodeOf(c.action), c.code) << c.what;
}

TEST(FileSystemTest, DescriptionsNameTheFile) {
    TempDir dir;
    try {
        FileSystem::Default().OpenRead(dir / "absent.txt");
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Message(), "Error 53: File not found (absent.txt)");
    }
}

// A name from a hostile script can be a megabyte long or redraw the console: a message shows it
// short and printable, its end (the extension, the part number) kept.
TEST(FileSystemTest, DescriptionsShowNamesShortAndPrintable) {
    auto times = [](const std::string& s, std::size_t n) {
        std::string out;
        for (std::size_t i = 0; i < n; ++i) out += s;
        return out;
    };
    const std::string e = "\xc3\xa9";  // two bytes, one character
    struct Case {
        std::string name;
        std::string shown;
    };
    const Case cases[] = {
        {"report.pdf", "report.pdf"},
        {times("a", 100), times("a", 100)},
        {times("a", 1 << 20) + ".bin.7", times("a", 60) + "..." + times("a", 31) + ".bin.7"},
        {times(e, 150), times(e, 60) + "..." + times(e, 37)},
        {"two\nlines\x1b[2J\xc2\x9b"
         "1m.txt",
         "two?lines?[2J?1m.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Failure::Of(kFileNotFound, c.name).Message(),
                  "Error 53: File not found (" + c.shown + ")")
            << c.shown;
    }
}

TEST(FileSystemTest, CreateTruncatesAndCopies) {
    TempDir dir;
    test::WriteBytes(dir / "source", test::PatternBytes(5000));
    test::WriteBytes(dir / "out", std::string(9000, 'x'));
    FileSystem& files = FileSystem::Default();
    auto source = files.OpenRead(dir / "source");
    EXPECT_EQ(source->Length(), 5000u);
    auto out = files.Create(dir / "out", source.get());
    out->CopyFrom(*source, 3000);
    char tail[2000];
    ASSERT_EQ(source->Read(tail, sizeof tail), sizeof tail);  // reading goes on after the copy
    out->Write(tail, sizeof tail);
    out->Sync();
    out->Close();
    EXPECT_EQ(test::ReadBytes(dir / "out"), test::PatternBytes(5000));
    EXPECT_EQ(files.Status(dir / "out")->length, 5000u);
    // Asking for more than is left is an error, not a short part.
    auto again = files.OpenRead(dir / "source");
    auto short_ = files.Create(dir / "short", again.get());
    EXPECT_EQ(CodeOf([&] { short_->CopyFrom(*again, 6000); }), kDeviceIoError);
}

TEST(FileSystemTest, RefusesToTruncateTheSourceThroughAnotherName) {
    TempDir dir;
    test::WriteBytes(dir / "source", "precious");
    MakeSymlink(dir / "source", dir / "link");
    test::fs::create_hard_link(dir / "source", dir / "hard");
    auto source = FileSystem::Default().OpenRead(dir / "source");
    for (const char* name : {"source", "link", "hard"}) {
        EXPECT_EQ(CodeOf([&] { FileSystem::Default().Create(dir / name, source.get()); }),
                  kPathFileAccessError)
            << name;
    }
    EXPECT_EQ(test::ReadBytes(dir / "source"), "precious");
}

TEST(FileSystemTest, StatusFollowsLinksAndSaysWhatIsThere) {
    TempDir dir;
    test::WriteBytes(dir / "file", "abcd");
    test::fs::create_directory(dir / "folder");
    MakeSymlink(dir / "file", dir / "link");
    test::fs::create_hard_link(dir / "file", dir / "hard");
    MakeSymlink(dir / "absent", dir / "dangling");
    FileSystem& files = FileSystem::Default();
    const FileId id = files.OpenRead(dir / "file")->Id();
    struct Case {
        const char* name;
        bool exists;
        bool regular;
        bool sameAsFile;
    };
    const Case cases[] = {
        {"file", true, true, true},      {"link", true, true, true},
        {"hard", true, true, true},      {"folder", true, false, false},
        {"absent", false, false, false}, {"dangling", false, false, false},
    };
    for (const Case& c : cases) {
        const auto status = files.Status(dir / c.name);
        ASSERT_EQ(status.has_value(), c.exists) << c.name;
        if (!status) continue;
        EXPECT_EQ(status->regular, c.regular) << c.name;
        EXPECT_EQ(status->id == id, c.sameAsFile) << c.name;
        if (c.regular) {
            EXPECT_EQ(status->length, 4u) << c.name;
        }
    }
}

// What the join's and the split's link checks stand on: which names are links, whether each
// leads into the folder, and that Create follows none of them.
TEST(FileSystemTest, LinksAndWhereTheyLead) {
    TempDir dir;
    TempDir outside;
    test::WriteBytes(dir / "file", "abcd");
    test::WriteBytes(outside / "victim", "keep");
    test::fs::create_directory(dir / "folder");
    test::fs::create_hard_link(test::PathArg(dir / "file").path, test::PathArg(dir / "hard").path);
    MakeSymlink("file", dir / "link");
    MakeSymlink(outside / "victim", dir / "out");
    MakeSymlink("absent", dir / "dangling");
    MakeSymlink(outside.path(), dir / "folderlink");
    FileSystem& files = FileSystem::Default();
    const std::string folder = *files.Resolve(dir / ".");
    struct Case {
        const char* name;
        bool link;
        std::optional<bool> inside;  // nullopt: leads nowhere
    };
    const Case cases[] = {
        {"file", false, true},  {"hard", false, true},       {"folder", false, true},
        {"absent", false, {}},  {"link", true, true},        {"out", true, false},
        {"dangling", true, {}}, {"folderlink", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(files.IsLink(dir / c.name), c.link) << c.name;
        const auto resolved = files.Resolve(dir / c.name);
        ASSERT_EQ(resolved.has_value(), c.inside.has_value()) << c.name;
        if (resolved) {
            EXPECT_EQ(LiesIn(*resolved, folder), *c.inside) << c.name << ": " << *resolved;
        }
        if (c.link) {
            EXPECT_EQ(CodeOf([&] { files.Create(dir / c.name, nullptr); }), kPathFileAccessError)
                << c.name;
        }
    }
    EXPECT_EQ(test::ReadBytes(outside / "victim"), "keep");
    EXPECT_FALSE(test::fs::exists(dir / "absent"));
}

TEST(FileSystemTest, CreateNewNeverTouchesWhatIsThere) {
    TempDir dir;
    test::WriteBytes(dir / "file", "keep");
    MakeSymlink(dir / "file", dir / "link");
    MakeSymlink(dir / "absent", dir / "dangling");
    FileSystem& files = FileSystem::Default();
    for (const char* name : {"file", "link", "dangling"}) {
        EXPECT_EQ(CodeOf([&] { files.CreateNew(dir / name, name); }), kPathFileAccessError) << name;
    }
    EXPECT_EQ(test::ReadBytes(dir / "file"), "keep");
    EXPECT_FALSE(test::fs::exists(dir / "absent"));
    EXPECT_EQ(CodeOf([&] { files.CreateNew(dir / "absent/x", "x"); }), kPathNotFound);
    // A temporary file's failures name the file it is to become.
    try {
        files.CreateNew(dir / "file", "report.pdf");
        ADD_FAILURE() << "created over an existing file";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Message(), "Error 75: Path/File access error (report.pdf)");
    }
    auto fresh = files.CreateNew(dir / "new", "new");
    fresh->Write("xy", 2);
    fresh->Close();
    EXPECT_EQ(test::ReadBytes(dir / "new"), "xy");
}

TEST(FileSystemTest, RenameReplacesOnlyWhenAsked) {
    TempDir dir;
    FileSystem& files = FileSystem::Default();
    test::WriteBytes(dir / "a", "A");
    test::WriteBytes(dir / "b", "B");
    EXPECT_EQ(CodeOf([&] { files.Rename(dir / "a", dir / "b", false); }), kPathFileAccessError);
    EXPECT_EQ(test::ReadBytes(dir / "a"), "A");
    EXPECT_EQ(test::ReadBytes(dir / "b"), "B");
    files.Rename(dir / "a", dir / "c", false);
    EXPECT_EQ(test::ListFolder(dir.path()), (std::vector<std::string>{"b", "c"}));
    files.Rename(dir / "c", dir / "b", true);
    EXPECT_EQ(test::ListFolder(dir.path()), std::vector<std::string>{"b"});
    EXPECT_EQ(test::ReadBytes(dir / "b"), "A");
    EXPECT_EQ(CodeOf([&] { files.Rename(dir / "absent", dir / "d", false); }), kFileNotFound);

    files.Remove(dir / "b");
    EXPECT_TRUE(test::ListFolder(dir.path()).empty());
    EXPECT_EQ(CodeOf([&] { files.Remove(dir / "b"); }), kFileNotFound);
}

TEST(FileSystemTest, FileTitle) {
    EXPECT_EQ(FileTitleOf("/a/b/report.pdf"), "report.pdf");
    EXPECT_EQ(FileTitleOf("report.pdf"), "report.pdf");
    EXPECT_EQ(FileTitleOf("/a/b/"), "");
}

// What Windows opens as a device, asked of every system: a script that names one is refused.
TEST(FileSystemTest, WindowsDeviceNames) {
    for (const char* name :
         {"CON", "prn", "Aux", "nul.txt", "con .txt", "aux...", "nul. .x", "COM1", "com9.log",
          "LPT1", "lpt9", "COM\xc2\xb9", "lpt\xc2\xb2.txt", "Com\xc2\xb3", "conin$", "CONOUT$.log"})
        EXPECT_TRUE(IsWindowsDeviceName(name)) << name;
    for (const char* name : {"", "com0", "lpt10", "com", "nul_x", "xcon", "console.txt", " nul",
                             "com\xc2\xb4", "lpt\xe2\x81\xb4", "conin"})
        EXPECT_FALSE(IsWindowsDeviceName(name)) << name;
}

#ifndef _WIN32
// An interruption removes every temporary file a run has named (a split's recovery volumes are
// several at once, where the file system cannot hide them), and none it has forgotten.
TEST(FileSystemTest, InterruptionRemovesEveryTemporaryFile) {
    const test::TempDir dir;
    const std::vector<std::string> names{"a.tmp", "b.tmp", "c.tmp", "kept.tmp"};
    for (const std::string& name : names) test::WriteBytes(dir / name, "x");
    const pid_t child = ::fork();
    if (child == 0) {
        interruption::CatchSignals();
        for (const std::string& name : names) interruption::AddTemporary(dir / name);
        interruption::ForgetTemporary(dir / "kept.tmp");
        ::raise(SIGTERM);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"kept.tmp"});
}
#endif

}  // namespace
}  // namespace splitter
