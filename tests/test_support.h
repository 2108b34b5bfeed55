// Helpers shared by the tests: temporary folders, whole-file reads and writes, a host that
// records what a run shows, and file systems that count or fail on demand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/split.h"
#include "platform/failure.h"
#include "platform/file_system.h"

namespace splitter::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it at the end. It lies in /dev/shm where there is
// one (thousands of small files are made in no time there), else in the temporary folder;
// `onDisk` asks for the temporary folder, for files too large to hold in memory.
class TempDir {
public:
    explicit TempDir(bool onDisk = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    // The UTF-8 path of `name` (UTF-8) in the folder.
    std::string operator/(const std::string& name) const;

private:
    fs::path path_;
};

// A path given as a std::filesystem path or as a UTF-8 string, the project's encoding of names.
// (On Windows, std::filesystem would read a narrow string byte by byte, not as UTF-8.)
struct PathArg {
    PathArg(const fs::path& p) : path(p) {}
    PathArg(const std::string& utf8) : path(std::u8string(utf8.begin(), utf8.end())) {}
    PathArg(const char* utf8) : PathArg(std::string(utf8)) {}
    fs::path path;
};

std::string ReadBytes(const PathArg& path);
void WriteBytes(const PathArg& path, const std::string& bytes);
// `length` bytes that differ from one offset to the next, so a misplaced byte shows.
std::string PatternBytes(std::size_t length, unsigned seed = 1);
// The files in a folder, by name.
std::vector<std::string> ListFolder(const fs::path& folder);

// Records everything a run shows. `onStatus` runs on every status text, for tests that look at
// the disk at that moment.
class RecordingHost : public SplitHost {
public:
    void SetStatus(const std::string& text) override;
    void FocusPartCount() override { ++focusCount; }
    void Yield() override { ++yieldCount; }
    void ReportError(const std::string& message) override { errors.push_back(message); }

    std::vector<std::string> statuses;
    std::vector<std::string> errors;
    int focusCount = 0;
    int yieldCount = 0;
    std::function<void(const std::string&)> onStatus;
};

// Wraps a file system, counts the bytes written and the files open, and throws `failure` at
// the chosen point: when the `failAt`-th byte (0-based) would be written to the file named
// `failName`, or when that file is created, read or closed.
class FaultyFileSystem : public FileSystemWrapper {
public:
    enum class Fault { kNone, kCreate, kWriteByte, kClose, kReadByte };

    explicit FaultyFileSystem(FileSystem& target = FileSystem::Default())
        : FileSystemWrapper(target) {}

    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override;
    std::unique_ptr<WritableFile> Create(const std::string& path,
                                         const ReadableFile* mustNotBe) override;
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override;

    Fault fault = Fault::kNone;
    std::string failName;  // file title, e.g. "source.bin.2"
    std::uint64_t failAt = 0;
    Failure failure = Failure::Of(kDiskFull);

    std::uint64_t bytesWritten = 0;  // over all files
    int openFiles = 0;               // opened and not yet destroyed
    std::vector<std::string> created;

private:
    friend class CountingWritable;
    friend class CountingReadable;
};

// Files held in memory, for runs by the thousand.
class MemoryFileSystem : public FileSystem {
public:
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override;
    std::unique_ptr<WritableFile> Create(const std::string& path,
                                         const ReadableFile* mustNotBe) override;
    std::uint64_t FileLength(const std::string& path) override;
    std::optional<FileStatus> Status(const std::string& path) override;
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to, bool replace) override;
    void Remove(const std::string& path) override;

    std::map<std::string, std::shared_ptr<std::string>> files;

private:
    FileId IdOf(const std::string& path) const;
};

// The sequence of status texts of a run, computed byte by byte as the plain description of a
// run has it: the percentage after every copied byte, shown whenever it changes. Returns also,
// for each progress text, the number of bytes copied when it appears.
struct ReferenceRun {
    std::vector<std::string> statuses;
    std::vector<std::uint64_t> bytesAtStatus;  // one per progress status
};
ReferenceRun ReferenceStatuses(std::uint64_t length, int parts);

// The code of the failure that `action` throws; 0 when it throws none.
int CodeOf(const std::function<void()>& action);

}  // namespace splitter::test
