// Helpers shared by the tests: temporary folders, whole-file reads and writes, a host that
// records what a run shows, a file system that counts and fails on demand, and one that holds
// its files in memory (files of any length among them).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/join.h"
#include "engine/split.h"
#include "files/failure.h"
#include "files/file_system.h"

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
    // Writes a file of `size` bytes (PatternBytes) and returns its UTF-8 path.
    std::string MakeFile(const std::string& name, std::size_t size) const;
    // The files in the folder, by name.
    std::vector<std::string> Names() const;

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
// As WriteBytes, but every 4 KiB block of zeros is left a hole (as `cp --sparse=always` does)
// where the file system keeps holes.
void WriteSparse(const PathArg& path, const std::string& bytes);
// The bytes that the file at `path` takes on its disk, or nullopt where its folder's file
// system keeps no holes (a file made longer takes room) and on Windows.
std::optional<std::uint64_t> AllocatedBytes(const PathArg& path);
// `length` bytes that differ from one offset to the next, so a misplaced byte shows.
std::string PatternBytes(std::size_t length, unsigned seed = 1);
// The files in a folder, by name.
std::vector<std::string> ListFolder(const fs::path& folder);

// Makes `link` a symbolic link to `target` (a path relative to the link's folder, or absolute),
// which need not exist. Under wine, whose CreateSymbolicLinkW makes nothing, a Unix link made
// by the Unix `ln`: what a user of wine has among their files. Throws when it cannot.
void MakeSymlink(const PathArg& target, const PathArg& link);

// Records everything a split or a join shows. `onStatus` runs on every status text, for tests
// that look at the files at that moment.
class RecordingHost : public SplitHost {
public:
    void SetStatus(const std::string& text) override;
    void Warn(const std::string& message) override { warnings.push_back(message); }
    void Yield() override { yielded = true; }
    void ReportError(const std::string& message) override { errors.push_back(message); }

    // The errors, one a line, for a test's failure output.
    std::string Messages() const;

    std::vector<std::string> statuses;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    bool yielded = false;  // since the last status: what `onStatus` sees

    std::function<void(const std::string&)> onStatus;
};

// Wraps a file system, counts the bytes written and the files open, and throws `failure` at
// the chosen point: when the `failAt`-th byte (0-based) would be written to the file named
// `failName` or read from it, when that file is created (Create or CreateNew), flushed to the
// disk (Sync) or closed, or when a file is renamed to that name. A temporary file goes by the
// name it is shown as (see CreateNew). An empty `failName` stands for any file.
class FaultyFileSystem : public FileSystemWrapper {
public:
    enum class Fault { kNone, kCreate, kWriteByte, kSync, kClose, kReadByte, kRename };

    explicit FaultyFileSystem(FileSystem& target = FileSystem::Default())
        : FileSystemWrapper(target) {}

    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override;
    std::unique_ptr<WritableFile> Create(const std::string& path,
                                         const ReadableFile* mustNotBe) override;
    std::unique_ptr<WritableFile> CreateNew(const std::string& path,
                                            const NewFile& how) override;
    void Rename(const std::string& from, const std::string& to, bool replace) override;

    Fault fault = Fault::kNone;
    std::string failName;  // file title, e.g. "source.bin.2"; empty: any file
    std::optional<FileId> failFile;  // reads fail only in this file, not in one that replaces it
    std::uint64_t failAt = 0;
    Failure failure = Failure::Of(kDiskFull);

    // Counted on whichever thread reads or writes (a join scans volumes on two).
    std::atomic<std::uint64_t> bytesWritten = 0;  // over all files
    std::atomic<int> openFiles = 0;               // opened and not yet destroyed
    std::vector<std::string> created;
    // What reached the disk, in order, whatever thread did it: "sync NAME" for each file
    // flushed, "rename NAME" for each file named (NAME: the title a file has, or takes).
    std::vector<std::string> Durable();

private:
    friend class CountingWritable;
    friend class CountingReadable;
    bool Fails(Fault at, const std::string& name) const;
    void Record(std::string event);
    std::mutex durableMutex_;
    std::vector<std::string> durable_;
    std::unique_ptr<WritableFile> Counted(const std::string& path,
                                          std::unique_ptr<WritableFile> file);
};

// The byte at `offset` of a pattern file (see MemoryFile): every bit of the offset stirs it, so
// neighbouring offsets, and offsets 4 GiB apart, get unrelated bytes and a byte out of place
// shows.
char PatternByteAt(std::uint64_t offset);

// A file of a MemoryFileSystem. A plain file holds its bytes. A pattern file holds none, so it
// may have any length: its byte at offset i is PatternByteAt(start + i), made when it is read.
// A copy from a pattern file into an empty file makes that file a pattern file too, starting where
// the copied bytes came from; every later write must hold the pattern's bytes from
// start + length on, and `misplaced` counts the writes that did not.
struct MemoryFile {
    std::uint64_t length = 0;
    std::optional<std::uint64_t> start;  // pattern files: the pattern offset of the first byte
    std::string bytes;                   // plain files: the bytes
    int misplaced = 0;
};

// Files held in memory: small ones for runs by the thousand, pattern files for runs above 4 GiB
// that write nothing to disk. Copies between pattern files move no bytes, so a run over
// gigabytes takes milliseconds.
class MemoryFileSystem : public FileSystem {
public:
    // Adds a plain file, or a pattern file of `length` bytes from pattern offset `start`.
    void Add(const std::string& path, std::string bytes);
    void AddPattern(const std::string& path, std::uint64_t start, std::uint64_t length);

    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override;
    std::unique_ptr<WritableFile> Create(const std::string& path,
                                         const ReadableFile* mustNotBe) override;
    std::optional<FileStatus> Status(const std::string& path) override;
    std::unique_ptr<WritableFile> CreateNew(const std::string& path,
                                            const NewFile& how) override;
    void Rename(const std::string& from, const std::string& to, bool replace) override;
    void Remove(const std::string& path) override;
    bool IsLink(const std::string&) override { return false; }
    std::optional<std::string> Resolve(const std::string& path) override;
    std::vector<std::string> Names(const std::string& folder) override;

    // Several names may share one file, as hard links do.
    std::map<std::string, std::shared_ptr<MemoryFile>> files;
    std::atomic<std::uint64_t> bytesWritten = 0;  // over all files, from any thread
};

// The percentage shown once the byte at zero-based `offset` of a `length`-byte file is copied,
// worked out on its own: offset / length * 100 in double precision, rounded half to even.
int ReferencePercent(std::uint64_t offset, std::uint64_t length);

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
