// The file layer: raw byte access to the source, the parts and the join script.
//
// Every operation either succeeds or throws splitter::Failure with one of the codes of
// failure.h. Paths are UTF-8 strings; a backend converts them to what its OS wants.
//
// The classes are interfaces so that tests can wrap the real implementation and inject a failure
// at any byte of any file (see FileSystemWrapper).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace splitter {

// What identifies a file on its volume, whatever name reaches it (device and inode, or volume
// serial and file index).
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

// Permission bits, as POSIX systems have them: read, write and execute for the owner, the
// group and everyone else (0640: the owner reads and writes, the group reads). A new file gets
// no bit its origin lacks, and none the umask takes away. Windows files take the permissions
// of their folder, and have every bit here.
inline constexpr std::uint32_t kAllPermissions = 0777;

// What a path names, links followed.
struct FileStatus {
    bool regular = false;  // a regular file, not a folder, device or pipe
    std::uint64_t length = 0;
    FileId id;
    std::uint32_t permissions = kAllPermissions;
};

// What tells whether a file's bytes changed: its length and the time they last changed (in
// nanoseconds, or whatever ticks the OS counts).
struct FileStamp {
    std::uint64_t length = 0;
    std::int64_t modified = 0;
    bool operator==(const FileStamp&) const = default;
};

// A run of a file's bytes of one kind from a position on: data, or a hole, which the file
// system keeps unwritten and reads as zeros (a sparse file: a disk image, a virtual disk).
struct Stretch {
    bool hole = false;
    std::uint64_t length = std::numeric_limits<std::uint64_t>::max();
};

// A file opened read-only. Reads are sequential from offset 0.
class ReadableFile {
public:
    virtual ~ReadableFile() = default;
    ReadableFile() = default;
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    // Length of the open file in bytes.
    virtual std::uint64_t Length() = 0;

    // Reads up to n bytes at the current position, advancing it. Returns the number read,
    // 0 only at the end of the file.
    virtual std::size_t Read(char* buffer, std::size_t n) = 0;

    // What lies at the current position: a hole and how far it runs, or data and how far it
    // runs before the next hole (at least one byte either way, before the end of the file). The
    // default, like a file system without holes, knows of none: data to the end.
    virtual Stretch Ahead() { return {}; }

    // Moves the current position n bytes on without reading them, past bytes that Ahead calls
    // a hole. The default reads them.
    virtual void SkipHole(std::uint64_t n);

    // The name used in failure descriptions.
    virtual const std::string& Name() const = 0;

    virtual FileId Id() const = 0;

    // The file's permission bits (see kAllPermissions).
    virtual std::uint32_t Permissions() const { return kAllPermissions; }

    // The file's length and modification time as they are now, not as they were when it was
    // opened: a file that others write to meanwhile shows it here.
    virtual FileStamp Stamp() { return {Length(), 0}; }
};

// A file opened for writing from its first byte, truncated to what is written.
class WritableFile {
public:
    virtual ~WritableFile() = default;
    WritableFile() = default;
    WritableFile(const WritableFile&) = delete;
    WritableFile& operator=(const WritableFile&) = delete;

    // Writes all n bytes, or throws.
    virtual void Write(const char* data, std::size_t n) = 0;

    // Copies exactly n bytes from the current position of source to this file, advancing
    // both. The default reads and writes through a buffer; a backend may do it in the kernel.
    // Throws kDeviceIoError when the source ends early.
    virtual void CopyFrom(ReadableFile& source, std::uint64_t n);

    // Moves on n bytes as though n zero bytes were written: the file is that much longer at
    // once, and where the file system can, the bytes are a hole that takes no room. The
    // default writes the zeros.
    virtual void WriteHole(std::uint64_t n);

    // Puts the bytes written so far on the disk itself (fsync, FlushFileBuffers), so that they
    // survive a power loss: a file that is renamed into place must be there whole first.
    virtual void Sync() = 0;

    // Flushes and closes, reporting a failure of the close itself. The destructor closes too,
    // silently, for the paths where a failure is already on its way.
    virtual void Close() = 0;

    // For a file created hidden (NewFile::hidden): gives it, before Close, the name it was
    // created under, for good. Nothing for other files.
    virtual void Keep() {}

    virtual const std::string& Name() const = 0;
};

// How CreateNew makes its file.
struct NewFile {
    // A name is enough. NOLINTNEXTLINE(google-explicit-constructor)
    NewFile(std::string shownAs_) : shownAs(std::move(shownAs_)) {}
    NewFile(const char* shownAs_) : NewFile(std::string(shownAs_)) {}  // NOLINT: as above

    // The name failures give: a temporary file goes by the name of the file it is to become,
    // which is the one the user knows.
    std::string shownAs;
    // At most these permission bits (see kAllPermissions).
    std::uint32_t permissions = kAllPermissions;
    // The file takes its name only at WritableFile::Keep. Until then, where the OS can, nothing
    // of it is seen, and a program that is killed leaves nothing behind: a file with no name
    // at all (Linux: O_TMPFILE), or one that goes when it is closed (Windows: delete on
    // close). Elsewhere it has its name from the start.
    bool hidden = false;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Opens an existing file read-only. The source is never opened for writing.
    virtual std::unique_ptr<ReadableFile> OpenRead(const std::string& path) = 0;

    // Opens path for writing, creating it when absent, and truncates it to zero length.
    // A link at path is not followed: it is refused with kPathFileAccessError, as is a path
    // that names the file `mustNotBe` by another name (a hard link), before anything is
    // truncated. The file, new or not, gets no permission that `mustNotBe` lacks. A file owned
    // by another user is never written into: it is replaced by a new one where the folder lets
    // it be removed, else refused with kPermissionDenied.
    virtual std::unique_ptr<WritableFile> Create(const std::string& path,
                                                 const ReadableFile* mustNotBe) = 0;

    // What path names, or nullopt when its folder holds nothing of that name (or a link that
    // leads nowhere). A folder on the way that is missing throws kPathNotFound; other failures
    // (permission, I/O) throw too.
    virtual std::optional<FileStatus> Status(const std::string& path) = 0;

    // Creates path as a new empty file for writing; throws kPathFileAccessError when anything,
    // a dangling link included, already has that name. Nothing existing is ever truncated.
    // Failures, of the creation and of the file, name `how.shownAs`.
    virtual std::unique_ptr<WritableFile> CreateNew(const std::string& path,
                                                    const NewFile& how) = 0;

    // Why no file can have the name path, before anything is written: a last name longer than
    // the file system holds, or a whole path longer than the OS takes ("Name longer than 255
    // bytes"). nullopt when it can. Says nothing of the folders, the characters or what is
    // there.
    virtual std::optional<std::string> NameLimit(const std::string& path);

    // Gives file `from` the name `to`, in one step, in the same folder. When `replace` is false
    // and `to` exists, throws kPathFileAccessError and changes nothing; when true, an existing
    // file `to` is replaced. The new name is on the disk when it returns (the folder is flushed
    // on POSIX systems; Windows writes the move through).
    virtual void Rename(const std::string& from, const std::string& to, bool replace) = 0;

    // Deletes the file named by path.
    virtual void Remove(const std::string& path) = 0;

    // Whether the last name of path is itself a link, whatever it leads to, nowhere included:
    // a symbolic link, or on Windows any reparse point (a junction too). false when nothing of
    // that name is there.
    virtual bool IsLink(const std::string& path) = 0;

    // Where path leads: the absolute path of what it names once every link on the way is
    // followed, spelled as the OS spells it, so that the paths of two files in one folder
    // differ only in their last name. nullopt when nothing is there, a link that leads nowhere
    // included.
    virtual std::optional<std::string> Resolve(const std::string& path) = 0;

    // The names (UTF-8, no folder) of what the folder `folder` holds, "." and ".." left out, in
    // no particular order; "" is the current folder. Throws kPathNotFound when it is not there.
    virtual std::vector<std::string> Names(const std::string& folder);

    // The real file system of this OS.
    static FileSystem& Default();
};

// Forwards every call to another file system: a test derives from it and overrides only the
// call it wants to change.
class FileSystemWrapper : public FileSystem {
public:
    explicit FileSystemWrapper(FileSystem& target) : target_(target) {}
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        return target_.OpenRead(path);
    }
    std::unique_ptr<WritableFile> Create(const std::string& path,
                                         const ReadableFile* mustNotBe) override {
        return target_.Create(path, mustNotBe);
    }
    std::optional<FileStatus> Status(const std::string& path) override {
        return target_.Status(path);
    }
    std::unique_ptr<WritableFile> CreateNew(const std::string& path,
                                            const NewFile& how) override {
        return target_.CreateNew(path, how);
    }
    std::optional<std::string> NameLimit(const std::string& path) override {
        return target_.NameLimit(path);
    }
    void Rename(const std::string& from, const std::string& to, bool replace) override {
        target_.Rename(from, to, replace);
    }
    void Remove(const std::string& path) override { target_.Remove(path); }
    bool IsLink(const std::string& path) override { return target_.IsLink(path); }
    std::optional<std::string> Resolve(const std::string& path) override {
        return target_.Resolve(path);
    }
    std::vector<std::string> Names(const std::string& folder) override {
        return target_.Names(folder);
    }

protected:
    FileSystem& target() { return target_; }

private:
    FileSystem& target_;
};

// Reads n bytes from the file's current position into buffer, as many reads as it takes: fewer
// only where the file ends first. Returns the number read.
std::size_t ReadFull(ReadableFile& file, char* buffer, std::size_t n);

// Reads the file from its current position to its end, at most `limit` bytes: the whole of a
// small file such as a join script or a checksum file.
std::string ReadUpTo(ReadableFile& file, std::uint64_t limit);

// The last path component of a UTF-8 path, after the last '/' (or '\\' on Windows).
std::string FileTitleOf(const std::string& path);

// What comes before FileTitleOf(path): its folder with the trailing separator, "" for a bare
// name, so that FolderOf(path) + FileTitleOf(path) == path.
std::string FolderOf(const std::string& path);

// The same as a path of its own, for the OS to open: "." for a bare name.
std::string FolderPathOf(const std::string& path);

// Longest file name the file systems of this OS hold: 255 bytes on POSIX systems, 255 UTF-16
// units on Windows.
inline constexpr std::size_t kMaxFileTitle = 255;
#ifdef _WIN32
inline constexpr const char* kFileTitleUnits = " characters";
#else
inline constexpr const char* kFileTitleUnits = " bytes";
#endif

// The length of a UTF-8 file name in the units kMaxFileTitle counts.
std::size_t FileTitleLength(const std::string& title);

// Whether `resolved` (see FileSystem::Resolve) names a file directly in the folder `folder`,
// resolved the same way.
bool LiesIn(const std::string& resolved, const std::string& folder);

// `text` with the letters A to Z made a to z, and nothing else changed: how cmd and Windows
// compare commands and names, whatever the locale.
std::string AsciiLower(std::string_view text);

// Whether Windows reads the file name `title` as a device rather than a file: CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, COM1 to COM9 and LPT1 to LPT9 (and COM and LPT with the superscript
// digits 1, 2 and 3), in any letter case, with any extension and trailing dots or spaces
// ("nul.txt", "con .txt"). The same answer on every system.
bool IsWindowsDeviceName(const std::string& title);

// Whether this OS reads the file name `title` as a device: IsWindowsDeviceName on Windows,
// never on other systems.
bool IsDeviceName(const std::string& title);

}  // namespace splitter
