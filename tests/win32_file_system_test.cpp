// The Win32 file layer and the join script's code page, on the real Windows API (under wine
// here): wide names, long paths, the refusal of a part that is the source, the failure codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/join.h"
#include "engine/split.h"
#include "files/file_system.h"
#include "files/script_encoding.h"
#include "files/win32/unicode.h"
#include "files/win32/win32_failure.h"
#include "files/win32/windows_api.h"
#include "test_support.h"

namespace splitter {
namespace {

using test::CodeOf;
using test::ReadBytes;
using test::RecordingHost;
using test::TempDir;
using test::WriteBytes;

// The scratch folder's path in UTF-8, as the window hands paths to the engine.
std::string Utf8(const std::filesystem::path& path) {
    return win32::Narrow(path.wstring());
}

TEST(Win32FailureTest, ErrorCodesTable) {
    struct Case {
        unsigned long error;
        int code;
        const char* description = nullptr;  // when not the code's own
    };
    const Case cases[] = {
        {ERROR_FILE_NOT_FOUND, kFileNotFound},
        {ERROR_PATH_NOT_FOUND, kPathNotFound},
        {ERROR_INVALID_DRIVE, kPathNotFound},
        {ERROR_BAD_NETPATH, kPathNotFound},
        {ERROR_DIRECTORY, kPathNotFound},
        {ERROR_DISK_FULL, kDiskFull},
        {ERROR_HANDLE_DISK_FULL, kDiskFull},
        {ERROR_FILE_TOO_LARGE, kDiskFull, kFileTooLargeText},
        {ERROR_TOO_MANY_OPEN_FILES, kTooManyFiles},
        {ERROR_ACCESS_DENIED, kPermissionDenied},
        {ERROR_WRITE_PROTECT, kPermissionDenied},
        {ERROR_INVALID_NAME, kBadFileName},
        {ERROR_FILENAME_EXCED_RANGE, kBadFileName},
        {ERROR_BAD_PATHNAME, kBadFileName},
        {ERROR_NOT_ENOUGH_MEMORY, kOutOfMemory},
        {ERROR_SHARING_VIOLATION, kPathFileAccessError},
        {ERROR_LOCK_VIOLATION, kPathFileAccessError},
        {ERROR_ALREADY_EXISTS, kPathFileAccessError},
        {ERROR_CRC, kDeviceIoError},
        {ERROR_WRITE_FAULT, kDeviceIoError},
        {12345, kDeviceIoError},
    };
    for (const Case& c : cases) {
        const Failure failure = Win32Failure(c.error, "x.bin");
        EXPECT_EQ(failure.code(), c.code) << "Windows error " << c.error;
        EXPECT_EQ(
            failure.description(),
            std::string(c.description ? c.description : FailureDescription(c.code)) + " (x.bin)");
    }
}

TEST(Win32FileSystemTest, WideNamesRoundTrip) {
    TempDir dir;
    FileSystem& files = FileSystem::Default();
    // Names of several scripts, and characters cmd gives a meaning to.
    const wchar_t* names[] = {L"plain.txt", L"caf\u00e9 \u00fc.txt",
                              L"\u0444\u0430\u0439\u043b.txt", L"\u6f22\u5b57.bin",
                              L"a&b (c) 100%;d=e,f+g^h'i.txt"};
    for (const wchar_t* name : names) {
        const std::filesystem::path path = dir.path() / name;
        const std::string utf8 = Utf8(path);
        SCOPED_TRACE(utf8);
        auto out = files.Create(utf8, nullptr);
        out->Write("hello", 5);
        out->Close();
        EXPECT_EQ(ReadBytes(path), "hello");  // the name on disk is the wide name itself
        EXPECT_EQ(files.Status(utf8)->length, 5u);
        auto in = files.OpenRead(utf8);
        EXPECT_EQ(in->Length(), 5u);
        EXPECT_EQ(in->Name(), win32::Narrow(name));
        char buffer[8] = {};
        EXPECT_EQ(in->Read(buffer, sizeof buffer), 5u);
        EXPECT_EQ(in->Read(buffer, sizeof buffer), 0u);
    }
}

TEST(Win32FileSystemTest, PathsLongerThanTheClassicLimit) {
    TempDir dir;
    std::filesystem::path folder = dir.path();
    for (int i = 0; i < 3; ++i) folder /= std::wstring(90, static_cast<wchar_t>(L'a' + i));
    std::filesystem::create_directories(L"\\\\?\\" + folder.wstring());
    const std::string source = Utf8(folder / L"long.bin");
    ASSERT_GT(source.size(), 280u);
    FileSystem& files = FileSystem::Default();
    auto out = files.Create(source, nullptr);
    out->Write("0123456789", 10);
    out->Close();
    EXPECT_EQ(files.Status(source)->length, 10u);
    RecordingHost host;
    EXPECT_EQ(SplitFile(source, "long.bin", SplitPlan::Count(3), host), SplitResult::kDone)
        << host.Messages();
    EXPECT_EQ(files.Status(source + ".2")->length, 2u);
    EXPECT_EQ(files.Status(source + ".bat")->length > 0, true);
    // Again over its own parts, then joined back: both ask where the files lie, as long.
    EXPECT_EQ(SplitFile(source, "long.bin", SplitPlan::Count(3), host), SplitResult::kDone)
        << host.Messages();
    files.Remove(source);
    EXPECT_EQ(Join(source + ".bat", {}, host), JoinResult::kDone) << host.Messages();
    EXPECT_EQ(files.Status(source)->length, 10u);
}

TEST(Win32FileSystemTest, FailureCodesOfTheRealApi) {
    TempDir dir;
    FileSystem& files = FileSystem::Default();
    const std::string folder = Utf8(dir.path());
    struct Case {
        const char* what;
        std::function<void()> action;
        int code;
    };
    const Case cases[] = {
        {"missing file", [&] { files.OpenRead(folder + "\\missing.bin"); }, kFileNotFound},
        {"missing folder", [&] { files.OpenRead(folder + "\\no\\such.bin"); }, kPathNotFound},
        {"create in missing folder", [&] { files.Create(folder + "\\no\\part.0", nullptr); },
         kPathNotFound},
        {"invalid UTF-8", [&] { files.OpenRead(folder + "\\bad\xff.bin"); }, kBadFileName},
        {"empty path", [&] { files.OpenRead(""); }, kBadFileName},
        {"name Windows forbids", [&] { files.Create(folder + "\\a<b>.txt", nullptr); },
         kBadFileName},
    };
    for (const Case& c : cases) EXPECT_EQ(CodeOf(c.action), c.code) << c.what;
}

TEST(Win32FileSystemTest, PartThatIsTheSourceIsRefusedBeforeTruncation) {
    TempDir dir;
    const std::filesystem::path source = dir.path() / L"movie.mkv";
    WriteBytes(source, "0123456789");
    // A second name of the source, where the run will write part 1.
    const std::filesystem::path link = dir.path() / L"movie.mkv.1";
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), source.c_str(), nullptr));
    RecordingHost host;
    EXPECT_EQ(SplitFile(Utf8(source), "movie.mkv", SplitPlan::Count(2), host),
              SplitResult::kFailed);
    EXPECT_EQ(host.errors,
              std::vector<std::string>{"Error 75: Path/File access error (movie.mkv.1)"});
    EXPECT_EQ(ReadBytes(source), "0123456789");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / L"movie.mkv.bat"));
}

TEST(Win32FileSystemTest, ExistingPartIsTruncated) {
    TempDir dir;
    const std::filesystem::path source = dir.path() / L"data.bin";
    WriteBytes(source, "abcdef");
    WriteBytes(dir.path() / L"data.bin.0", std::string(1000, 'x'));
    RecordingHost host;
    EXPECT_EQ(SplitFile(Utf8(source), "data.bin", SplitPlan::Count(2), host), SplitResult::kDone)
        << host.Messages();
    EXPECT_EQ(ReadBytes(dir.path() / L"data.bin.0"), "abc");
}

TEST(ScriptEncodingTest, OemCodePageOrRefusal) {
    ASSERT_EQ(GetOEMCP(), 437u) << "scripts/wine-run runs the tests in code page 437";
    struct Case {
        std::string text;
        std::string bytes;  // empty: refused
    };
    const Case cases[] = {
        {"copy /b \"a.0\" a", "copy /b \"a.0\" a"},
        {"caf\xc3\xa9", "caf\x82"},  // é
        {"\xc3\x9c"
         "ber Gr\xc3\xb6\xc3\x9f"
         "e",
         "\x9a"
         "ber Gr\x94\xe1"
         "e"},                                         // Ü ö ß
        {"\xc3\x86\xc3\xa6\xc3\x85", "\x92\x91\x8f"},  // Æ æ Å
        {"\xd1\x84", ""},                              // Cyrillic ef
        {"\xc3\xb8", ""},                              // ø, not in 437
        {"\xc4\x81", ""},                              // ā: no best fit to "a"
        {"\xe6\xbc\xa2", ""},                          // a CJK ideograph
        {"bad \xff", ""},                              // not UTF-8
    };
    for (const Case& c : cases) {
        if (c.bytes.empty()) {
            EXPECT_EQ(CodeOf([&] { CommandScriptBytes(c.text, "name"); }), kBadFileName) << c.text;
        } else {
            EXPECT_EQ(CommandScriptBytes(c.text, "name").bytes, c.bytes) << c.text;
        }
    }
}

TEST(ScriptEncodingTest, RefusedNameWritesNothing) {
    TempDir dir;
    const std::filesystem::path source = dir.path() / L"\u0444\u0430\u0439\u043b.txt";
    WriteBytes(source, "0123456789");
    RecordingHost host;
    EXPECT_EQ(SplitFile(Utf8(source), Utf8(source.filename()), SplitPlan::Count(3), host),
              SplitResult::kFailed);
    // In words: which code page, which name, what to do.
    EXPECT_EQ(host.errors,
              std::vector<std::string>{
                  "Error 52: Bad file name or number: cmd reads join scripts in code page 437 "
                  "here, which cannot spell \"\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb.txt\". Nothing "
                  "was written: rename the file with letters of code page 437 and split again."});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace splitter
