// The file layer on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <limits>

#include "files/failure.h"
#include "files/file_system.h"
#include "files/posix/standard_output.h"

namespace splitter {
namespace {

// The one place where errno becomes a failure code.
Failure PosixFailure(int error, const std::string& name) {
    switch (error) {
        case ENOENT: return Failure::Of(kFileNotFound, name);
        case ENOTDIR: return Failure::Of(kPathNotFound, name);
        case ENOSPC:
        case EDQUOT: return Failure::Of(kDiskFull, name);
        case EFBIG: return Failure::FileTooLarge(name);
        case EMFILE:
        case ENFILE: return Failure::Of(kTooManyFiles, name);
        case EACCES:
        case EPERM:
        case EROFS: return Failure::Of(kPermissionDenied, name);
        case ENAMETOOLONG:
        case EILSEQ: return Failure::Of(kBadFileName, name);
        case EIO: return Failure::Of(kDeviceIoError, name);
        case EISDIR:
        case ENXIO:
        case ELOOP:
        case ETXTBSY:
        case EEXIST:
        case EBUSY: return Failure::Of(kPathFileAccessError, name);
        default: return Failure::Of(kDeviceIoError, name);
    }
}

Failure LastFailure(const std::string& name) {
    return PosixFailure(errno, name);
}

// Whether the folder that path names its file in is there.
bool FolderIsThere(const std::string& path) {
    struct stat st {};
    return ::stat(FolderPathOf(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The failure of a look-up of path that failed with `error`. ENOENT says only that some name
// on the way is missing; when it is the folder, that is "path not found", as Windows says it.
Failure LookUpFailure(const std::string& path, int error) {
    if (error == ENOENT && !FolderIsThere(path))
        return Failure::Of(kPathNotFound, FileTitleOf(path));
    return PosixFailure(error, FileTitleOf(path));
}

// Whether a look-up of path that failed with `error` found nothing at its last name (nor where
// a link of that name leads), in a folder that is there.
bool NothingThere(const std::string& path, int error) {
    return (error == ENOENT || error == ENOTDIR) && FolderIsThere(path);
}

FileId IdOf(const struct stat& st) {
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::uint32_t PermissionsOf(const struct stat& st) {
    return static_cast<std::uint32_t>(st.st_mode) & kAllPermissions;
}

// The mode a new file is created with: no execute bit, no bit beyond `permissions`.
mode_t NewFileMode(std::uint32_t permissions) {
    return static_cast<mode_t>(0666 & permissions);
}

// Owns one descriptor; closes it on destruction.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Release(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }

    // Closes, returning the errno of a failed close (0 on success).
    int Release() {
        if (fd_ < 0) return 0;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 || errno == EINTR ? 0 : errno;
    }

private:
    int fd_;
};

class PosixReadableFile final : public ReadableFile {
public:
    PosixReadableFile(Descriptor fd, std::string name, const struct stat& st)
        : fd_(std::move(fd)),
          name_(std::move(name)),
          id_(IdOf(st)),
          length_(static_cast<std::uint64_t>(st.st_size)),
          permissions_(PermissionsOf(st)) {}

    std::uint64_t Length() override { return length_; }

    std::uint32_t Permissions() const override { return permissions_; }

    FileStamp Stamp() override {
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0) throw LastFailure(name_);
        return {static_cast<std::uint64_t>(st.st_size),
                static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    }

    std::size_t Read(char* buffer, std::size_t n) override {
        for (;;) {
            const ssize_t got = ::read(fd_.get(), buffer, n);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throw LastFailure(name_);
        }
    }

    // Where the next data and the next hole lie, from lseek's SEEK_DATA and SEEK_HOLE. Both move
    // the position, which is put back. A file system that keeps no holes has its own answer:
    // data to the end. The file's length is that at its opening: a file that changes under the
    // run is caught by its stamp.
    Stretch Ahead() override {
        if (!holes_) return {};
        const off_t at = Seek(0, SEEK_CUR);
        const auto here = static_cast<std::uint64_t>(at);
        if (here >= known_.start && here < known_.end) return {known_.hole, known_.end - here};
        if (here >= length_) return {};
        off_t data = ::lseek(fd_.get(), at, SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            // A hole to the end, or a file cut short since it was opened: then the read that
            // comes next finds its end, and the run fails as it should.
            struct stat st {};
            if (::fstat(fd_.get(), &st) != 0) throw LastFailure(name_);
            data = std::min(st.st_size, static_cast<off_t>(length_));
        }
        // Where the stretch at the position ends: the next data, or after data the next hole.
        const off_t end = data == at ? ::lseek(fd_.get(), at, SEEK_HOLE) : data;
        if (end < 0) {
            if (errno != EINVAL && errno != EOPNOTSUPP && errno != ENOSYS) throw LastFailure(name_);
            holes_ = false;  // a file system or kernel that cannot tell
        }
        Seek(at, SEEK_SET);
        if (end <= at) return {};
        known_ = {here, std::min(static_cast<std::uint64_t>(end), length_), data > at};
        return {known_.hole, known_.end - here};
    }

    void SkipHole(std::uint64_t n) override { Seek(static_cast<off_t>(n), SEEK_CUR); }

    const std::string& Name() const override { return name_; }
    FileId Id() const override { return id_; }

    int fd() const { return fd_.get(); }

private:
    off_t Seek(off_t offset, int whence) {
        const off_t at = ::lseek(fd_.get(), offset, whence);
        if (at < 0) throw LastFailure(name_);
        return at;
    }

    Descriptor fd_;
    std::string name_;
    FileId id_;
    std::uint64_t length_;
    std::uint32_t permissions_;
    bool holes_ = true;  // until the file system says it cannot tell
    struct {
        std::uint64_t start = 0, end = 0;
        bool hole = false;
    } known_;  // the stretch Ahead found last
};

class PosixWritableFile final : public WritableFile {
public:
    // `flushed`: a file that is flushed to the disk before a name points at it (a file that is to
    // take its name whole, NewFile::hidden; a part, before its script). `hiddenPath`: for a file
    // made with O_TMPFILE, the name Keep gives it.
    PosixWritableFile(Descriptor fd, std::string name, bool flushed = false,
                      std::string hiddenPath = {})
        : fd_(std::move(fd)),
          name_(std::move(name)),
          hiddenPath_(std::move(hiddenPath)),
          writeAhead_(flushed) {}

    void Write(const char* data, std::size_t n) override {
        while (n > 0) {
            const ssize_t put = ::write(fd_.get(), data, n);
            if (put < 0) {
                if (errno == EINTR) continue;
                throw LastFailure(name_);
            }
            data += put;
            n -= static_cast<std::size_t>(put);
            end_ += static_cast<std::uint64_t>(put);
        }
        WriteAhead();
    }

    void CopyFrom(ReadableFile& source, std::uint64_t n) override {
        auto* posixSource = dynamic_cast<PosixReadableFile*>(&source);
        if (posixSource == nullptr || !kernelCopy_) {
            WritableFile::CopyFrom(source, n);
            return;
        }
        // Both descriptors' own positions advance, as with read() and write(), so a fallback
        // to the buffered copy in the middle goes on from the right byte.
        while (n > 0) {
            constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 30;
            const ssize_t put =
                ::copy_file_range(posixSource->fd(), nullptr, fd_.get(), nullptr,
                                  static_cast<std::size_t>(std::min(n, kMaxChunk)), 0);
            if (put > 0) {
                n -= static_cast<std::uint64_t>(put);
                end_ += static_cast<std::uint64_t>(put);
                WriteAhead();
                continue;
            }
            if (put == 0) throw Failure::Of(kDeviceIoError, source.Name());
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                errno == EBADF || errno == ETXTBSY || errno == EPERM) {
                kernelCopy_ = false;
                WritableFile::CopyFrom(source, n);
                return;
            }
            throw LastFailure(name_);
        }
    }

    // The file ends where the writes do (it is written from its first byte): making it longer
    // leaves a hole where the file system keeps them, and zeros where it does not.
    void WriteHole(std::uint64_t n) override {
        const off_t at = ::lseek(fd_.get(), 0, SEEK_CUR);
        if (at < 0) throw LastFailure(name_);
        if (n > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max() - at))
            throw Failure::FileTooLarge(name_);
        const off_t end = at + static_cast<off_t>(n);
        while (::ftruncate(fd_.get(), end) != 0) {
            if (errno != EINTR) throw LastFailure(name_);
        }
        if (::lseek(fd_.get(), end, SEEK_SET) < 0) throw LastFailure(name_);
        end_ = static_cast<std::uint64_t>(end);
    }

    void Sync() override {
#ifdef __linux__
        // The bytes and what reads them back (the length), not the times.
        while (::fdatasync(fd_.get()) != 0) {
#else
        while (::fsync(fd_.get()) != 0) {
#endif
            if (errno != EINTR) throw LastFailure(name_);
        }
    }

    void Close() override {
        if (const int error = fd_.Release(); error != 0) throw PosixFailure(error, name_);
    }

    void Keep() override {
        if (hiddenPath_.empty()) return;
#ifdef __linux__
        // A file with no name is linked by its descriptor, through /proc (see CreateNew).
        // Linking fails, as creating would, where the name is taken.
        const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hiddenPath_.c_str(), AT_SYMLINK_FOLLOW) != 0)
            throw LastFailure(name_);
#endif
        hiddenPath_.clear();
    }

    const std::string& Name() const override { return name_; }

private:
    Descriptor fd_;
    std::string name_;
    // A file that Sync will flush is sent to the disk as it is written, so that the disk works
    // while the run copies (and hashes) on, and Sync finds little left to do.
    void WriteAhead() {
#ifdef __linux__
        constexpr std::uint64_t kWriteAhead = std::uint64_t{16} << 20;
        if (!writeAhead_ || end_ - sent_ < kWriteAhead) return;
        // Only a start: a failure of the writing shows at Sync.
        ::sync_file_range(fd_.get(), static_cast<off_t>(sent_), static_cast<off_t>(end_ - sent_),
                          SYNC_FILE_RANGE_WRITE);
        sent_ = end_;
#endif
    }

    std::string hiddenPath_;
    bool kernelCopy_ = true;
    const bool writeAhead_;
    std::uint64_t end_ = 0;   // where the writes have got to
    std::uint64_t sent_ = 0;  // the bytes before this are on their way to the disk
};

// Puts the entries of the folder of `path` on the disk, so that a rename into it survives a
// power loss. A folder that cannot be opened for reading, or a file system that cannot flush
// folders, leaves that to the system, as every other program must.
void SyncFolderOf(const std::string& path, const std::string& name) {
    const int fd = ::open(FolderPathOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    Descriptor owner(fd);
    while (::fsync(fd) != 0) {
        if (errno == EINTR) continue;
        if (errno == EINVAL || errno == EROFS || errno == EBADF) return;
        throw LastFailure(name);
    }
}

// Opens without blocking, so that a FIFO or a device named like a file is refused at once by
// the regular-file check instead of hanging the window.
int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    for (;;) {
        const int fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        const std::string name = FileTitleOf(path);
        if (path.empty()) throw Failure::Of(kBadFileName);
        const int fd = OpenRetrying(path.c_str(), O_RDONLY);
        if (fd < 0) throw LookUpFailure(path, errno);
        Descriptor owner(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0) throw LastFailure(name);
        if (!S_ISREG(st.st_mode)) throw Failure::Of(kPathFileAccessError, name);
        return std::make_unique<PosixReadableFile>(std::move(owner), name, st);
    }

    std::unique_ptr<WritableFile> Create(const std::string& path,
                                         const ReadableFile* mustNotBe) override {
        const std::string name = FileTitleOf(path);
        if (path.empty()) throw Failure::Of(kBadFileName);
        const std::uint32_t permissions =
            mustNotBe != nullptr ? mustNotBe->Permissions() : kAllPermissions;
        // Another user's file is not written into, where that user could read what is written
        // (a part planted in a shared folder): its name is taken back by removing it.
        struct stat there {};
        if (::lstat(path.c_str(), &there) == 0 && S_ISREG(there.st_mode) &&
            there.st_uid != ::geteuid()) {
            if (mustNotBe != nullptr && IdOf(there) == mustNotBe->Id())
                throw Failure::Of(kPathFileAccessError, name);
            if (::unlink(path.c_str()) != 0) throw LastFailure(name);
        }
        // Open without truncating, so that a path that turns out to be the source can still
        // be refused with the source whole; and without following a link, even one put there
        // since the names were checked (ELOOP: code 75).
        const int fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW,
                                    NewFileMode(permissions));
        // Creating fails with ENOENT only when the folder is missing.
        if (fd < 0) throw errno == ENOENT ? Failure::Of(kPathNotFound, name) : LastFailure(name);
        // A part: flushed before the script that names it takes its name.
        auto file = std::make_unique<PosixWritableFile>(Descriptor(fd), name, true);
        struct stat st {};
        if (::fstat(fd, &st) != 0) throw LastFailure(name);
        if (mustNotBe != nullptr && IdOf(st) == mustNotBe->Id())
            throw Failure::Of(kPathFileAccessError, name);
        if (!S_ISREG(st.st_mode)) throw Failure::Of(kPathFileAccessError, name);
        // Put there by another user since it was looked at.
        if (st.st_uid != ::geteuid()) throw Failure::Of(kPermissionDenied, name);
        // A file that was there keeps no permission the new bytes' origin lacks.
        if ((PermissionsOf(st) & ~permissions) != 0 &&
            ::fchmod(fd, static_cast<mode_t>(PermissionsOf(st) & permissions)) != 0)
            throw LastFailure(name);
        // Only an existing file with bytes in it is cut: truncating a new, empty file would
        // make ext4 flush it to disk on close, as it does for files rewritten in place.
        if (st.st_size > 0 && ::ftruncate(fd, 0) != 0) throw LastFailure(name);
        return file;
    }

    std::optional<FileStatus> Status(const std::string& path) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            const int error = errno;
            if (NothingThere(path, error)) return std::nullopt;
            throw LookUpFailure(path, error);
        }
        return FileStatus{S_ISREG(st.st_mode), static_cast<std::uint64_t>(st.st_size), IdOf(st),
                          PermissionsOf(st)};
    }

    std::unique_ptr<WritableFile> CreateNew(const std::string& path, const NewFile& how) override {
        const std::string& name = how.shownAs;
        if (path.empty()) throw Failure::Of(kBadFileName);
        const mode_t mode = NewFileMode(how.permissions);
#ifdef __linux__
        // Keep links the file through /proc: without it, a named file from the start.
        if (how.hidden && ::access("/proc/self/fd", X_OK) == 0) {
            // In the folder the file is to be named in, so that Keep stays on one volume.
            const int fd = OpenRetrying(FolderPathOf(path).c_str(), O_WRONLY | O_TMPFILE, mode);
            if (fd >= 0)
                return std::make_unique<PosixWritableFile>(Descriptor(fd), name, true, path);
            // A file system, or a kernel, that cannot make a file with no name: a named one.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
                throw errno == ENOENT ? Failure::Of(kPathNotFound, name) : LastFailure(name);
            }
        }
#endif
        // O_EXCL also refuses a link of that name, dangling or not, instead of following it.
        const int fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
        if (fd < 0) throw errno == ENOENT ? Failure::Of(kPathNotFound, name) : LastFailure(name);
        return std::make_unique<PosixWritableFile>(Descriptor(fd), name, how.hidden);
    }

    std::optional<std::string> NameLimit(const std::string& path) override {
        // The kernel takes no path of PATH_MAX bytes or more, its NUL included.
        if (path.size() >= PATH_MAX)
            return "Path longer than " + std::to_string(PATH_MAX - 1) + " bytes";
        // The file system's own limit on names, where it tells.
        const long max = ::pathconf(FolderPathOf(path).c_str(), _PC_NAME_MAX);
        if (max > 0 && FileTitleOf(path).size() > static_cast<std::size_t>(max))
            return "Name longer than " + std::to_string(max) + " bytes";
        return FileSystem::NameLimit(path);
    }

    void Rename(const std::string& from, const std::string& to, bool replace) override {
        Move(from, to, replace);
        SyncFolderOf(to, FileTitleOf(to));
    }

    void Remove(const std::string& path) override {
        if (::unlink(path.c_str()) != 0) throw LastFailure(FileTitleOf(path));
    }

    bool IsLink(const std::string& path) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) return S_ISLNK(st.st_mode);
        if (errno == ENOENT || errno == ENOTDIR) return false;
        throw LastFailure(FileTitleOf(path));
    }

    std::optional<std::string> Resolve(const std::string& path) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr) {
            const int error = errno;
            // A link that goes round in a circle leads nowhere too.
            if (NothingThere(path, error == ELOOP ? ENOENT : error)) return std::nullopt;
            throw LookUpFailure(path, error);
        }
        std::string result(resolved);
        std::free(resolved);
        return result;
    }

private:
    static void Move(const std::string& from, const std::string& to, bool replace) {
        if (replace) {
            if (::rename(from.c_str(), to.c_str()) != 0) throw LastFailure(FileTitleOf(to));
            return;
        }
#ifdef __linux__
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return;
        if (errno != EINVAL && errno != ENOSYS) throw LastFailure(FileTitleOf(to));
#endif
        // Where the file system cannot rename without replacing: a second link fails when `to`
        // exists, and dropping the first name then completes the move.
        if (::link(from.c_str(), to.c_str()) != 0) throw LastFailure(FileTitleOf(to));
        if (::unlink(from.c_str()) != 0) throw LastFailure(FileTitleOf(from));
    }
};

// Standard output. A reader that has gone ends the program as SIGPIPE would have, had the
// command line not asked to keep running (console::KeepRunningWithoutReader).
class PosixStandardOutput final : public WritableFile {
public:
    void Write(const char* data, std::size_t n) override {
        while (n > 0) {
            const ssize_t put = ::write(STDOUT_FILENO, data, n);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) Fail();
            data += put;
            n -= static_cast<std::size_t>(put);
        }
    }

    // Into a pipe, a part's bytes go from the page cache through the kernel (splice) without
    // a copy into the program; anything else, through the buffer.
    void CopyFrom(ReadableFile& source, std::uint64_t n) override {
        auto* posixSource = dynamic_cast<PosixReadableFile*>(&source);
        while (posixSource != nullptr && splice_ && n > 0) {
            constexpr std::uint64_t kMaxChunk = std::uint64_t{1} << 30;
            const ssize_t put =
                ::splice(posixSource->fd(), nullptr, STDOUT_FILENO, nullptr,
                         static_cast<std::size_t>(std::min(n, kMaxChunk)), SPLICE_F_MORE);
            if (put > 0) {
                n -= static_cast<std::uint64_t>(put);
            } else if (put == 0) {
                throw Failure::Of(kDeviceIoError, source.Name());
            } else if (errno == EINVAL || errno == ENOSYS) {
                splice_ = false;  // not a pipe
            } else if (errno != EINTR) {
                Fail();
            }
        }
        if (n > 0) WritableFile::CopyFrom(source, n);
    }

    void Sync() override {}
    void Close() override {}
    const std::string& Name() const override { return name_; }

private:
    [[noreturn]] void Fail() {
        if (errno == EPIPE) {
            ::signal(SIGPIPE, SIG_DFL);
            ::raise(SIGPIPE);
            std::_Exit(128 + SIGPIPE);
        }
        throw LastFailure(name_);
    }

    const std::string name_ = "standard output";
    bool splice_ = true;
};

}  // namespace

std::unique_ptr<WritableFile> NewStandardOutput() {
    return std::make_unique<PosixStandardOutput>();
}

FileSystem& FileSystem::Default() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

}  // namespace splitter
