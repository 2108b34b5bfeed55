// The file layer on Windows: the wide-character file API, so that any name Windows allows works.
#include "files/win32/windows_api.h"

#include <winioctl.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "files/failure.h"
#include "files/file_system.h"
#include "files/win32/unicode.h"
#include "files/win32/win32_failure.h"

namespace splitter {

// The one place where a Windows error code becomes a failure code.
Failure Win32Failure(unsigned long error, const std::string& name) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND: return Failure::Of(kFileNotFound, name);
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_DIRECTORY: return Failure::Of(kPathNotFound, name);
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL: return Failure::Of(kDiskFull, name);
        case ERROR_FILE_TOO_LARGE: return Failure::FileTooLarge(name);
        case ERROR_TOO_MANY_OPEN_FILES: return Failure::Of(kTooManyFiles, name);
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD: return Failure::Of(kPermissionDenied, name);
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_NO_UNICODE_TRANSLATION: return Failure::Of(kBadFileName, name);
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return Failure::Of(kOutOfMemory, name);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
        case ERROR_CANT_ACCESS_FILE: return Failure::Of(kPathFileAccessError, name);
        default: return Failure::Of(kDeviceIoError, name);
    }
}

namespace {

Failure LastFailure(const std::string& name) {
    return Win32Failure(GetLastError(), name);
}

// The failure of opening `path`: as LastFailure, except that a folder, which Windows refuses
// with "access denied", is a path/file access error as on other systems.
Failure OpenFailure(const std::wstring& path, const std::string& name) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return Failure::Of(kPathFileAccessError, name);
    }
    return Win32Failure(error, name);
}

// The longest path the file API takes, in UTF-16 units: in its "\\?\" form (see WidePath).
constexpr std::size_t kMaxPath = 32767;

// The wide path for the file API; a name longer than any Windows file system allows (255
// UTF-16 units) is a bad file name, whatever error the API would give.
std::wstring FilePath(const std::string& path) {
    std::wstring wide = win32::WidePath(path);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = wide.find_first_of(L"\\/", start);
        if ((end == std::wstring::npos ? wide.size() : end) - start > 255)
            throw Failure::Of(kBadFileName, FileTitleOf(path));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return wide;
}

// Owns one file handle; closes it on destruction.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Release(); }
    Handle(Handle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = INVALID_HANDLE_VALUE;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return handle_; }

    // Closes, returning the error of a failed close (0 on success).
    DWORD Release() {
        if (handle_ == INVALID_HANDLE_VALUE) return 0;
        const BOOL closed = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed ? 0 : GetLastError();
    }

private:
    HANDLE handle_;
};

struct Information {
    FileId id;
    bool directory;
    bool reparsePoint;  // a link, junction or other reparse point, opened as itself
    bool sparse;        // may hold holes (NTFS, ReFS)
};

Information InformationOf(HANDLE handle, const std::string& name) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) throw LastFailure(name);
    return {FileId{info.dwVolumeSerialNumber,
                   (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow},
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
            (info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0};
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what path names, a folder too, for nothing but asking about it; links are followed.
HANDLE OpenToAsk(const std::string& path) {
    return CreateFileW(FilePath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool FolderIsThere(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(FilePath(FolderPathOf(path)).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether an open of path that failed with `error` found nothing at its last name (nor where a
// link of that name leads), in a folder that is there.
bool NothingThere(const std::string& path, DWORD error) {
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_CANT_RESOLVE_FILENAME) &&
           FolderIsThere(path);
}

// The path of the file open in `handle` as its volume names it ("\\dir\\name"), after the drive
// of `path`, the path it was opened by ("\\\\?\\Z:\\dir\\name"); nullopt for a path on no drive.
std::optional<std::wstring> PathOnDrive(HANDLE handle, const std::string& path) {
    std::vector<char> buffer(sizeof(FILE_NAME_INFO) + kMaxPath * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, info,
                                      static_cast<DWORD>(buffer.size())))
        return std::nullopt;
    std::wstring full(kMaxPath + 1, L'\0');
    const DWORD got = GetFullPathNameW(win32::WidePath(path).c_str(),
                                       static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (got == 0 || got >= full.size()) return std::nullopt;
    full.resize(got);
    if (full.starts_with(L"\\\\?\\")) full.erase(0, 4);
    if (full.size() < 2 || full[1] != L':') return std::nullopt;
    return L"\\\\?\\" + full.substr(0, 2) +
           std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

// The path of the file open in `handle`, every link on the way followed, as Windows spells it.
// `path` is the path it was opened by.
std::wstring FinalPath(HANDLE handle, const std::string& path) {
    std::wstring final(MAX_PATH, L'\0');
    for (const DWORD flags : {DWORD{FILE_NAME_NORMALIZED}, DWORD{FILE_NAME_OPENED}}) {
        for (;;) {
            const DWORD got = GetFinalPathNameByHandleW(
                handle, final.data(), static_cast<DWORD>(final.size()), flags | VOLUME_NAME_DOS);
            if (got == 0) break;
            if (got < final.size()) return final.substr(0, got);
            final.resize(got);  // the length needed, its terminating NUL included
        }
    }
    // Wine's takes no path past 260 characters (ERROR_MORE_DATA), though the file API does: the
    // name on the volume is the same path, so that a join reads what a split wrote.
    const DWORD error = GetLastError();
    if (error == ERROR_MORE_DATA) {
        if (const auto onDrive = PathOnDrive(handle, path)) return *onDrive;
    }
    throw Win32Failure(error, FileTitleOf(path));
}

// Whether the file open in `handle` is another than the one path names in its folder. Wine
// shows a Unix link to a file as that file itself: only where the open file lies gives the
// link away.
bool OpenedElsewhere(HANDLE handle, const std::string& path) {
    const std::string name = FileTitleOf(path);
    Handle folder(OpenToAsk(FolderPathOf(path)));
    if (folder.get() == INVALID_HANDLE_VALUE) throw LastFailure(name);
    std::wstring expected = FinalPath(folder.get(), FolderPathOf(path));
    if (!expected.ends_with(L'\\')) expected += L'\\';
    std::wstring title = win32::Widen(name);
    // As Windows stores the name.
    while (!title.empty() && (title.back() == L' ' || title.back() == L'.')) title.pop_back();
    expected += title;
    const std::wstring opened = FinalPath(handle, path);
    return CompareStringOrdinal(opened.c_str(), static_cast<int>(opened.size()), expected.c_str(),
                                static_cast<int>(expected.size()), TRUE) != CSTR_EQUAL;
}

// ReadFile and WriteFile take at most a DWORD of bytes at a time.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// FAT file systems hold no file of 4 GiB, and say "disk full" when a write would make one.
bool PastFatLimit(HANDLE handle, std::uint64_t end) {
    if (end <= 0xFFFFFFFFu) return false;
    wchar_t fileSystem[MAX_PATH + 1] = {};
    return GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                         MAX_PATH + 1) &&
           std::wstring_view(fileSystem).starts_with(L"FAT");
}

// Moves the file pointer of `handle`, and returns where it is then.
std::uint64_t MovePointer(HANDLE handle, std::int64_t distance, DWORD from,
                          const std::string& name) {
    LARGE_INTEGER move{};
    move.QuadPart = distance;
    LARGE_INTEGER at{};
    if (!SetFilePointerEx(handle, move, &at, from)) throw LastFailure(name);
    return static_cast<std::uint64_t>(at.QuadPart);
}

class Win32ReadableFile final : public ReadableFile {
public:
    Win32ReadableFile(Handle handle, std::string name, FileId id, std::uint64_t length, bool sparse)
        : handle_(std::move(handle)),
          name_(std::move(name)),
          id_(id),
          length_(length),
          sparse_(sparse) {}

    // Only a sparse file has holes; the first range its file system calls allocated from the
    // position on tells whether a hole lies there and how far the stretch runs. A file system
    // that cannot tell is taken to hold data to the end.
    Stretch Ahead() override {
        if (!sparse_) return {};
        const std::uint64_t here = MovePointer(handle_.get(), 0, FILE_CURRENT, name_);
        if (here >= known_.start && here < known_.end) return {known_.hole, known_.end - here};
        if (here >= length_) return {};
        FILE_ALLOCATED_RANGE_BUFFER query{};
        query.FileOffset.QuadPart = static_cast<LONGLONG>(here);
        query.Length.QuadPart = static_cast<LONGLONG>(length_ - here);
        FILE_ALLOCATED_RANGE_BUFFER range{};
        DWORD got = 0;
        if (!DeviceIoControl(handle_.get(), FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query,
                             &range, sizeof range, &got, nullptr) &&
            GetLastError() != ERROR_MORE_DATA) {  // more ranges than the one asked for
            sparse_ = false;
            return {};
        }
        const auto start = static_cast<std::uint64_t>(range.FileOffset.QuadPart);
        const std::uint64_t end = start + static_cast<std::uint64_t>(range.Length.QuadPart);
        if (got < sizeof range) {
            known_ = {here, length_, true};  // nothing allocated: a hole to the end
        } else if (start > here) {
            known_ = {here, std::min(start, length_), true};
        } else if (end > here) {
            known_ = {here, std::min(end, length_), false};
        } else {
            return {};
        }
        return {known_.hole, known_.end - here};
    }

    void SkipHole(std::uint64_t n) override {
        MovePointer(handle_.get(), static_cast<std::int64_t>(n), FILE_CURRENT, name_);
    }

    std::uint64_t Length() override { return length_; }

    std::size_t Read(char* buffer, std::size_t n) override {
        DWORD got = 0;
        if (!ReadFile(handle_.get(), buffer, static_cast<DWORD>(std::min(n, kMaxTransfer)), &got,
                      nullptr))
            throw LastFailure(name_);
        return got;
    }

    const std::string& Name() const override { return name_; }
    FileId Id() const override { return id_; }

    FileStamp Stamp() override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle_.get(), &info)) throw LastFailure(name_);
        return {(std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime}
                                           << 32) |
                                          info.ftLastWriteTime.dwLowDateTime)};
    }

private:
    Handle handle_;
    std::string name_;
    FileId id_;
    std::uint64_t length_;
    bool sparse_;
    struct {
        std::uint64_t start = 0, end = 0;
        bool hole = false;
    } known_;  // the stretch Ahead found last
};

// Marks the file open in `handle` (with DELETE access) to go when it is closed, or not.
bool SetDeleteOnClose(HANDLE handle, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

class Win32WritableFile final : public WritableFile {
public:
    // `hidden`: the file goes when it is closed, until Keep.
    Win32WritableFile(Handle handle, std::string name, bool hidden = false)
        : handle_(std::move(handle)), name_(std::move(name)), hidden_(hidden) {}

    void Write(const char* data, std::size_t n) override {
        while (n > 0) {
            DWORD put = 0;
            if (!WriteFile(handle_.get(), data, static_cast<DWORD>(std::min(n, kMaxTransfer)), &put,
                           nullptr)) {
                const DWORD error = GetLastError();
                if ((error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) &&
                    PastFatLimit(handle_.get(), written_ + n))
                    throw Failure::FileTooLarge(name_);
                throw Win32Failure(error, name_);
            }
            if (put == 0) throw Failure::Of(kDeviceIoError, name_);
            data += put;
            n -= put;
            written_ += put;
        }
    }

    // A hole needs a sparse file: made one at the first hole, the file's new end leaves the
    // bytes unwritten. A file system without sparse files (FAT) gets the zeros written: Windows
    // does not promise what the bytes of a file made longer are.
    void WriteHole(std::uint64_t n) override {
        if (!triedSparse_) {
            triedSparse_ = true;
            DWORD got = 0;
            sparse_ = DeviceIoControl(handle_.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &got,
                                      nullptr) != FALSE;
        }
        if (!sparse_) {
            WritableFile::WriteHole(n);
            return;
        }
        if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - written_)
            throw Failure::FileTooLarge(name_);
        MovePointer(handle_.get(), static_cast<std::int64_t>(n), FILE_CURRENT, name_);
        if (!SetEndOfFile(handle_.get())) throw LastFailure(name_);
        written_ += n;
    }

    void Sync() override {
        if (!FlushFileBuffers(handle_.get())) throw LastFailure(name_);
    }

    void Close() override {
        if (const DWORD error = handle_.Release(); error != 0) throw Win32Failure(error, name_);
    }

    void Keep() override {
        if (hidden_ && !SetDeleteOnClose(handle_.get(), false)) throw LastFailure(name_);
        hidden_ = false;
    }

    const std::string& Name() const override { return name_; }

private:
    Handle handle_;
    std::string name_;
    bool hidden_;
    std::uint64_t written_ = 0;  // writes go on from the first byte
    bool triedSparse_ = false;
    bool sparse_ = false;
};

class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        const std::string name = FileTitleOf(path);
        const std::wstring wide = FilePath(path);
        // Others may go on reading and writing the file; nobody may delete or rename it meanwhile.
        Handle handle(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (handle.get() == INVALID_HANDLE_VALUE) throw OpenFailure(wide, name);
        const Information info = InformationOf(handle.get(), name);
        if (info.directory) throw Failure::Of(kPathFileAccessError, name);
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle.get(), &size)) throw LastFailure(name);
        return std::make_unique<Win32ReadableFile>(std::move(handle), name, info.id,
                                                   static_cast<std::uint64_t>(size.QuadPart),
                                                   info.sparse);
    }

    std::unique_ptr<WritableFile> Create(const std::string& path,
                                         const ReadableFile* mustNotBe) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        const std::string name = FileTitleOf(path);
        const std::wstring wide = FilePath(path);
        // Opened without truncating, so that a path that turns out to be the source can still
        // be refused with the source whole; and without following a link, even one put there
        // since the names were checked: a name that is there is opened as itself, a link
        // included, and a new one is made with CREATE_NEW, which fails on a link that leads
        // nowhere where OPEN_ALWAYS would create the file it names.
        const auto open = [&](DWORD disposition) {
            return CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        };
        HANDLE opened = open(OPEN_EXISTING);
        const bool existed = opened != INVALID_HANDLE_VALUE;
        if (!existed && GetLastError() == ERROR_FILE_NOT_FOUND) opened = open(CREATE_NEW);
        Handle handle(opened);
        if (handle.get() == INVALID_HANDLE_VALUE) throw OpenFailure(wide, name);
        const Information info = InformationOf(handle.get(), name);
        if (info.reparsePoint || (existed && OpenedElsewhere(handle.get(), path)))
            throw Failure::Of(kPathFileAccessError, name);
        if (mustNotBe != nullptr && info.id == mustNotBe->Id())
            throw Failure::Of(kPathFileAccessError, name);
        if (info.directory) throw Failure::Of(kPathFileAccessError, name);
        if (!SetEndOfFile(handle.get())) throw LastFailure(name);
        return std::make_unique<Win32WritableFile>(std::move(handle), name);
    }

    std::optional<FileStatus> Status(const std::string& path) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        const std::string name = FileTitleOf(path);
        const std::optional<Handle> handle = Ask(path);
        if (!handle) return std::nullopt;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle->get(), &info)) throw LastFailure(name);
        const bool regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                             GetFileType(handle->get()) == FILE_TYPE_DISK;
        return FileStatus{regular, (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                          FileId{info.dwVolumeSerialNumber,
                                 (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow}};
    }

    std::unique_ptr<WritableFile> CreateNew(const std::string& path, const NewFile& how) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        const std::string& name = how.shownAs;
        // CREATE_NEW fails on any existing name (ERROR_FILE_EXISTS: code 75). Shared for
        // deletion, so that an interruption can remove the file while it is being written.
        // The file's permissions are its folder's, as for every new file on Windows.
        Handle handle(CreateFileW(FilePath(path).c_str(), GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.get() == INVALID_HANDLE_VALUE) throw LastFailure(name);
        // Hidden: Windows removes the file when the last handle goes, however the program ends
        // (a kill too). A file system that cannot do that leaves it to the interruption handler.
        const bool hidden = how.hidden && SetDeleteOnClose(handle.get(), true);
        return std::make_unique<Win32WritableFile>(std::move(handle), name, hidden);
    }

    std::optional<std::string> NameLimit(const std::string& path) override {
        if (auto limit = FileSystem::NameLimit(path)) return limit;
        // The "\\?\" form (WidePath) lifts the classic limit of 260 characters on every side
        // of a run alike.
        std::wstring wide;
        try {
            wide = win32::WidePath(path);
        } catch (const Failure&) {
            return std::nullopt;  // not UTF-8: refused as such where it is used
        }
        if (wide.size() < kMaxPath) return std::nullopt;
        return "Path longer than " + std::to_string(kMaxPath - 1) + " characters";
    }

    void Rename(const std::string& from, const std::string& to, bool replace) override {
        // Without MOVEFILE_REPLACE_EXISTING an existing `to` fails with ERROR_ALREADY_EXISTS.
        // MOVEFILE_WRITE_THROUGH returns only once the move is on the disk.
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!MoveFileExW(FilePath(from).c_str(), FilePath(to).c_str(), flags))
            throw LastFailure(FileTitleOf(to));
    }

    void Remove(const std::string& path) override {
        if (!DeleteFileW(FilePath(path).c_str())) throw LastFailure(FileTitleOf(path));
    }

    // Through the file API itself, in the "\\?\" form where the folder is deep: the runtime's
    // own listing stops at the classic limit of 260 characters.
    std::vector<std::string> Names(const std::string& folder) override {
        std::wstring pattern = FilePath(folder.empty() ? "." : folder);
        if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
        pattern += L'*';
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) throw Failure::Of(kPathNotFound, FileTitleOf(folder));
        std::vector<std::string> names;
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") names.push_back(win32::Narrow(name));
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return names;
    }

    bool IsLink(const std::string& path) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        const std::string name = FileTitleOf(path);
        // The folder's entry of that name, not what it leads to.
        WIN32_FIND_DATAW entry{};
        const HANDLE find = FindFirstFileW(FilePath(path).c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
            // Wine lists a Unix link that leads nowhere among the names, but cannot describe it.
            if (error == ERROR_NO_MORE_FILES) return true;
            throw Win32Failure(error, name);
        }
        FindClose(find);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
        const std::optional<Handle> handle = Ask(path);
        return handle && OpenedElsewhere(handle->get(), path);
    }

    std::optional<std::string> Resolve(const std::string& path) override {
        if (path.empty()) throw Failure::Of(kBadFileName);
        const std::optional<Handle> handle = Ask(path);
        if (!handle) return std::nullopt;
        return win32::Narrow(FinalPath(handle->get(), path));
    }

private:
    // The file at path, opened only to ask about it; nothing when nothing is there.
    static std::optional<Handle> Ask(const std::string& path) {
        Handle handle(OpenToAsk(path));
        if (handle.get() != INVALID_HANDLE_VALUE) return handle;
        const DWORD error = GetLastError();
        if (NothingThere(path, error)) return std::nullopt;
        throw Win32Failure(error, FileTitleOf(path));
    }
};

}  // namespace

FileSystem& FileSystem::Default() {
    static Win32FileSystem fileSystem;
    return fileSystem;
}

}  // namespace splitter
