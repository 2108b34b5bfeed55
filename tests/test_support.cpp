#include "test_support.h"

#ifdef _WIN32
#include "files/win32/windows_api.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "engine/plan.h"

namespace splitter::test {

#ifdef _WIN32
namespace {

// The Unix path of a Windows path under wine; empty elsewhere.
std::string UnixPath(const fs::path& path) {
    using Convert = char*(__cdecl*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (convert == nullptr) return {};
    char* unix = convert(path.wstring().c_str());
    if (unix == nullptr) return {};
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Starts a Unix program under wine (Z: is the Unix root). Wine gives no handle to wait on, nor
// any exit status: the caller waits, with a bound, for what the program does.
bool StartUnix(const wchar_t* program, std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    return CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process);
}

// Whether `done` holds within 10 s.
bool Within10s(const std::function<bool()>& done) {
    for (int waited = 0; waited < 1000; ++waited) {
        if (done()) return true;
        Sleep(10);
    }
    return done();
}

std::wstring Quoted(const std::string& text) {
    return L"\"" + fs::path(std::u8string(text.begin(), text.end())).wstring() + L"\"";
}

// The Unix paths of the links MakeSymlink made.
std::vector<std::string>& UnixLinks() {
    static std::vector<std::string> links;
    return links;
}

// Wine cannot delete a Unix link that leads nowhere, and remove_all then never ends: a folder
// that holds a link MakeSymlink made is removed by the Unix rm.
void RemoveFolder(const fs::path& folder) {
    const std::string unixPath = UnixPath(folder);
    const auto holds = [&](const std::string& link) { return link.starts_with(unixPath + "/"); };
    if (!unixPath.empty() && std::any_of(UnixLinks().begin(), UnixLinks().end(), holds)) {
        if (StartUnix(L"Z:\\bin\\rm", L"rm -rf -- " + Quoted(unixPath)))
            Within10s([&] { return !fs::exists(folder); });
        return;
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

}  // namespace

void MakeSymlink(const PathArg& target, const PathArg& link) {
    const std::string linkPath = UnixPath(fs::absolute(link.path));
    if (linkPath.empty()) {
        const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE |
                            (fs::is_directory(target.path) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
        if (!CreateSymbolicLinkW(link.path.c_str(), target.path.c_str(), flags))
            throw std::runtime_error("no symbolic link " + link.path.string());
        return;
    }
    const std::u8string relative = target.path.generic_u8string();
    const std::string targetPath = target.path.is_absolute()
                                       ? UnixPath(target.path)
                                       : std::string(relative.begin(), relative.end());
    UnixLinks().push_back(linkPath);
    // A link that leads nowhere is listed, though not described.
    const auto made = [&] {
        WIN32_FIND_DATAW entry{};
        const HANDLE found = FindFirstFileW(link.path.c_str(), &entry);
        if (found == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_NO_MORE_FILES;
        FindClose(found);
        return true;
    };
    if (!StartUnix(L"Z:\\bin\\ln", L"ln -s -- " + Quoted(targetPath) + L" " + Quoted(linkPath)) ||
        !Within10s(made))
        throw std::runtime_error("ln made no link " + link.path.string());
}

#else
namespace {

void RemoveFolder(const fs::path& folder) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

}  // namespace

void MakeSymlink(const PathArg& target, const PathArg& link) {
    fs::create_symlink(target.path, link.path);
}
#endif

TempDir::TempDir(bool onDisk) {
    std::error_code error;
    fs::path base = fs::temp_directory_path();
#ifndef _WIN32
    if (!onDisk && fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0)
        base = "/dev/shm";
#else
    (void)onDisk;
#endif
    // create_directory fails on a name that exists, so two tests never share a folder.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("splitter-test-" + std::to_string(random()));
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no scratch folder under " + base.string());
}

std::string TempDir::operator/(const std::string& name) const {
    const std::u8string utf8 = (path_ / PathArg(name).path).u8string();
    return std::string(utf8.begin(), utf8.end());
}

TempDir::~TempDir() {
    RemoveFolder(path_);
}

std::string TempDir::MakeFile(const std::string& name, std::size_t size) const {
    const std::string path = *this / name;
    WriteBytes(path, PatternBytes(size));
    return path;
}

std::vector<std::string> TempDir::Names() const {
    return ListFolder(path_);
}

std::string ReadBytes(const PathArg& arg) {
    const fs::path& path = arg.path;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const PathArg& arg, const std::string& bytes) {
    const fs::path& path = arg.path;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteSparse(const PathArg& arg, const std::string& bytes) {
    WriteBytes(arg, "");
    fs::resize_file(arg.path, bytes.size());
    std::fstream out(arg.path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::size_t at = 0; at < bytes.size(); at += 4096) {
        const std::string block = bytes.substr(at, 4096);
        if (block.find_first_not_of('\0') == std::string::npos) continue;
        out.seekp(static_cast<std::streamoff>(at));
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    if (!out) throw std::runtime_error("cannot write " + arg.path.string());
}

std::optional<std::uint64_t> AllocatedBytes(const PathArg& arg) {
#ifdef _WIN32
    (void)arg;
    return std::nullopt;
#else
    struct stat st {};
    const fs::path probe = arg.path.parent_path() / ".holes";  // 1 MiB, all hole if it can be
    WriteBytes(probe, "");
    fs::resize_file(probe, std::uint64_t{1} << 20);
    const bool holes = ::stat(probe.c_str(), &st) == 0 && st.st_blocks < 2048;
    fs::remove(probe);
    if (!holes) return std::nullopt;
    if (::stat(arg.path.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + arg.path.string());
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
#endif
}

std::string PatternBytes(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

std::vector<std::string> ListFolder(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void RecordingHost::SetStatus(const std::string& text) {
    statuses.push_back(text);
    if (onStatus) onStatus(text);
    yielded = false;
}

std::string RecordingHost::Messages() const {
    std::string all;
    for (const std::string& e : errors) all += e + "\n";
    return all;
}

class CountingReadable final : public ReadableFile {
public:
    CountingReadable(std::unique_ptr<ReadableFile> target, FaultyFileSystem& owner)
        : target_(std::move(target)), owner_(owner) {
        ++owner_.openFiles;
    }
    ~CountingReadable() override { --owner_.openFiles; }

    std::uint64_t Length() override { return target_->Length(); }
    std::size_t Read(char* buffer, std::size_t n) override {
        if (owner_.Fails(FaultyFileSystem::Fault::kReadByte, Name()) &&
            (!owner_.failFile || *owner_.failFile == Id()) && position_ + n > owner_.failAt) {
            if (position_ >= owner_.failAt) throw owner_.failure;
            n = static_cast<std::size_t>(owner_.failAt - position_);
        }
        const std::size_t got = target_->Read(buffer, n);
        position_ += got;
        return got;
    }
    const std::string& Name() const override { return target_->Name(); }
    FileId Id() const override { return target_->Id(); }
    std::uint32_t Permissions() const override { return target_->Permissions(); }
    FileStamp Stamp() override { return target_->Stamp(); }

    // The wrapped file, kept in step with this one's position.
    ReadableFile& target() { return *target_; }
    void Advance(std::uint64_t n) { position_ += n; }

private:
    std::unique_ptr<ReadableFile> target_;
    FaultyFileSystem& owner_;
    std::uint64_t position_ = 0;
};

class CountingWritable final : public WritableFile {
public:
    CountingWritable(std::unique_ptr<WritableFile> target, FaultyFileSystem& owner)
        : target_(std::move(target)), owner_(owner) {
        ++owner_.openFiles;
    }
    ~CountingWritable() override { --owner_.openFiles; }

    void Write(const char* data, std::size_t n) override {
        if (Failing(FaultyFileSystem::Fault::kWriteByte) && written_ + n > owner_.failAt) {
            // Write what comes before the failing byte, as a real file would.
            const auto before =
                static_cast<std::size_t>(owner_.failAt - std::min(owner_.failAt, written_));
            target_->Write(data, before);
            Count(before);
            throw owner_.failure;
        }
        target_->Write(data, n);
        Count(n);
    }

    void CopyFrom(ReadableFile& source, std::uint64_t n) override {
        // Unwrap the source so the real file layer can copy in the kernel where it offers to;
        // with a write fault armed, go through Write so the fault hits the exact byte.
        if (Failing(FaultyFileSystem::Fault::kWriteByte) ||
            owner_.fault == FaultyFileSystem::Fault::kReadByte) {
            WritableFile::CopyFrom(source, n);
            return;
        }
        if (auto* counting = dynamic_cast<CountingReadable*>(&source)) {
            target_->CopyFrom(counting->target(), n);
            counting->Advance(n);
        } else {
            target_->CopyFrom(source, n);
        }
        Count(n);
    }

    void Sync() override {
        if (Failing(FaultyFileSystem::Fault::kSync)) throw owner_.failure;
        target_->Sync();
        owner_.Record("sync " + Name());
    }

    void Close() override {
        if (Failing(FaultyFileSystem::Fault::kClose)) {
            target_->Close();
            throw owner_.failure;
        }
        target_->Close();
    }
    void Keep() override { target_->Keep(); }
    const std::string& Name() const override { return target_->Name(); }

private:
    bool Failing(FaultyFileSystem::Fault fault) const { return owner_.Fails(fault, Name()); }
    void Count(std::uint64_t n) {
        written_ += n;
        owner_.bytesWritten += n;
    }

    std::unique_ptr<WritableFile> target_;
    FaultyFileSystem& owner_;
    std::uint64_t written_ = 0;
};

bool FaultyFileSystem::Fails(Fault at, const std::string& name) const {
    return fault == at && (failName.empty() || name == failName);
}

std::unique_ptr<WritableFile> FaultyFileSystem::Counted(const std::string& path,
                                                        std::unique_ptr<WritableFile> file) {
    created.push_back(FileTitleOf(path));
    return std::make_unique<CountingWritable>(std::move(file), *this);
}

std::unique_ptr<ReadableFile> FaultyFileSystem::OpenRead(const std::string& path) {
    return std::make_unique<CountingReadable>(FileSystemWrapper::OpenRead(path), *this);
}

std::unique_ptr<WritableFile> FaultyFileSystem::Create(const std::string& path,
                                                       const ReadableFile* mustNotBe) {
    if (Fails(Fault::kCreate, FileTitleOf(path))) throw failure;
    return Counted(path, FileSystemWrapper::Create(path, mustNotBe));
}

std::unique_ptr<WritableFile> FaultyFileSystem::CreateNew(const std::string& path,
                                                          const NewFile& how) {
    if (Fails(Fault::kCreate, how.shownAs)) throw failure;
    return Counted(path, FileSystemWrapper::CreateNew(path, how));
}

void FaultyFileSystem::Rename(const std::string& from, const std::string& to, bool replace) {
    if (Fails(Fault::kRename, FileTitleOf(to))) throw failure;
    FileSystemWrapper::Rename(from, to, replace);
    Record("rename " + FileTitleOf(to));
}

void FaultyFileSystem::Record(std::string event) {
    const std::lock_guard lock(durableMutex_);
    durable_.push_back(std::move(event));
}

std::vector<std::string> FaultyFileSystem::Durable() {
    const std::lock_guard lock(durableMutex_);
    return durable_;
}

char PatternByteAt(std::uint64_t offset) {
    // splitmix64's finaliser: every bit of the offset stirs every bit of the byte.
    std::uint64_t z = offset + 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return static_cast<char>(z ^ (z >> 31));
}

namespace {

FileId IdOf(const MemoryFile& file) {
    return FileId{0, reinterpret_cast<std::uintptr_t>(&file)};
}

class MemoryReadable final : public ReadableFile {
public:
    MemoryReadable(std::shared_ptr<MemoryFile> file, std::string name)
        : file_(std::move(file)), name_(std::move(name)) {}
    std::uint64_t Length() override { return file_->length; }
    std::size_t Read(char* buffer, std::size_t n) override {
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, file_->length - position_));
        if (const auto at = PatternOffset()) {
            for (std::size_t i = 0; i < n; ++i) buffer[i] = PatternByteAt(*at + i);
        } else {
            std::copy_n(file_->bytes.data() + position_, n, buffer);
        }
        position_ += n;
        return n;
    }
    const std::string& Name() const override { return name_; }
    FileId Id() const override { return IdOf(*file_); }

    // Where in the pattern the next byte lies; none for a plain file.
    std::optional<std::uint64_t> PatternOffset() const {
        if (!file_->start) return std::nullopt;
        return *file_->start + position_;
    }
    void Skip(std::uint64_t n) {
        if (n > file_->length - position_) throw Failure::Of(kDeviceIoError, name_);
        position_ += n;
    }

private:
    std::shared_ptr<MemoryFile> file_;
    std::string name_;
    std::uint64_t position_ = 0;
};

class MemoryWritable final : public WritableFile {
public:
    MemoryWritable(std::shared_ptr<MemoryFile> file, std::string name, MemoryFileSystem& owner)
        : file_(std::move(file)), name_(std::move(name)), owner_(owner) {}

    void Write(const char* data, std::size_t n) override {
        MemoryFile& file = *file_;
        if (file.start) {
            for (std::size_t i = 0; i < n; ++i) {
                if (data[i] != PatternByteAt(*file.start + file.length + i)) {
                    ++file.misplaced;
                    break;
                }
            }
        } else {
            // A plain file of gigabytes would only exhaust the memory: say what went wrong.
            if (file.bytes.size() + n > (std::size_t{64} << 20))
                throw std::length_error(name_ + ": a plain file in memory above 64 MiB");
            file.bytes.append(data, n);
        }
        Count(n);
    }

    // A copy from a pattern file moves no bytes: it records where they came from.
    void CopyFrom(ReadableFile& source, std::uint64_t n) override {
        auto* memory = dynamic_cast<MemoryReadable*>(&source);
        const auto from = memory != nullptr ? memory->PatternOffset() : std::nullopt;
        if (!from) {
            WritableFile::CopyFrom(source, n);
            return;
        }
        memory->Skip(n);
        MemoryFile& file = *file_;
        if (file.length == 0)
            file.start = *from;
        else if (!file.start || *file.start + file.length != *from)
            ++file.misplaced;
        Count(n);
    }

    void Sync() override {}
    void Close() override {}
    const std::string& Name() const override { return name_; }

private:
    void Count(std::uint64_t n) {
        file_->length += n;
        owner_.bytesWritten += n;
    }

    std::shared_ptr<MemoryFile> file_;
    std::string name_;
    MemoryFileSystem& owner_;
};

}  // namespace

void MemoryFileSystem::Add(const std::string& path, std::string bytes) {
    auto file = std::make_shared<MemoryFile>();
    file->length = bytes.size();
    file->bytes = std::move(bytes);
    files[path] = std::move(file);
}

void MemoryFileSystem::AddPattern(const std::string& path, std::uint64_t start,
                                  std::uint64_t length) {
    auto file = std::make_shared<MemoryFile>();
    file->length = length;
    file->start = start;
    files[path] = std::move(file);
}

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenRead(const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) throw Failure::Of(kFileNotFound, FileTitleOf(path));
    return std::make_unique<MemoryReadable>(found->second, FileTitleOf(path));
}

std::unique_ptr<WritableFile> MemoryFileSystem::Create(const std::string& path,
                                                       const ReadableFile* mustNotBe) {
    std::shared_ptr<MemoryFile>& file = files[path];
    if (file && mustNotBe != nullptr && mustNotBe->Id() == IdOf(*file))
        throw Failure::Of(kPathFileAccessError, FileTitleOf(path));
    // Cut in place, so that every name of the file sees it.
    if (file)
        *file = MemoryFile{};
    else
        file = std::make_shared<MemoryFile>();
    return std::make_unique<MemoryWritable>(file, FileTitleOf(path), *this);
}

std::optional<FileStatus> MemoryFileSystem::Status(const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return FileStatus{true, found->second->length, IdOf(*found->second)};
}

std::unique_ptr<WritableFile> MemoryFileSystem::CreateNew(const std::string& path,
                                                          const NewFile& how) {
    if (files.count(path) != 0) throw Failure::Of(kPathFileAccessError, how.shownAs);
    auto file = std::make_shared<MemoryFile>();
    files[path] = file;
    return std::make_unique<MemoryWritable>(file, how.shownAs, *this);
}

void MemoryFileSystem::Rename(const std::string& from, const std::string& to, bool replace) {
    const auto found = files.find(from);
    if (found == files.end()) throw Failure::Of(kFileNotFound, FileTitleOf(from));
    if (!replace && files.count(to) != 0) throw Failure::Of(kPathFileAccessError, FileTitleOf(to));
    auto file = found->second;
    files.erase(found);
    files[to] = std::move(file);
}

void MemoryFileSystem::Remove(const std::string& path) {
    if (files.erase(path) == 0) throw Failure::Of(kFileNotFound, FileTitleOf(path));
}

// No links: every name is itself, and a folder is any path that ends with '/'.
std::optional<std::string> MemoryFileSystem::Resolve(const std::string& path) {
    if (files.count(path) != 0 || path.ends_with('/')) return path;
    return std::nullopt;
}

std::vector<std::string> MemoryFileSystem::Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& [path, file] : files)
        if (path.starts_with(folder) && path.find('/', folder.size()) == std::string::npos)
            names.push_back(path.substr(folder.size()));
    return names;
}

int ReferencePercent(std::uint64_t offset, std::uint64_t length) {
    return static_cast<int>(
        std::nearbyint(static_cast<double>(offset) / static_cast<double>(length) * 100.0));
}

ReferenceRun ReferenceStatuses(std::uint64_t length, int parts) {
    ReferenceRun run;
    run.statuses.push_back(kSplittingText);
    if (static_cast<std::uint64_t>(parts) > length) {
        run.statuses.push_back(kUnableText);
        return run;
    }
    int lastShown = 0;
    for (std::uint64_t p = 0; p < length; ++p) {
        const int percent = ReferencePercent(p, length);
        if (percent != lastShown) {
            lastShown = percent;
            std::ostringstream text;
            text << "Splitting... [ " << percent << " % Completed. ]";
            run.statuses.push_back(text.str());
            run.bytesAtStatus.push_back(p + 1);
        }
    }
    run.statuses.push_back(kDoneText);
    return run;
}

int CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Failure& failure) {
        return failure.code();
    }
    return 0;
}

}  // namespace splitter::test
