#include "test_support.h"

#ifndef _WIN32
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
    std::error_code ignored;
    fs::remove_all(path_, ignored);
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
        if (owner_.fault == FaultyFileSystem::Fault::kReadByte && Name() == owner_.failName &&
            position_ + n > owner_.failAt) {
            if (position_ >= owner_.failAt) throw owner_.failure;
            n = static_cast<std::size_t>(owner_.failAt - position_);
        }
        const std::size_t got = target_->Read(buffer, n);
        position_ += got;
        return got;
    }
    const std::string& Name() const override { return target_->Name(); }
    FileId Id() const override { return target_->Id(); }

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

    void Close() override {
        if (Failing(FaultyFileSystem::Fault::kClose)) {
            target_->Close();
            throw owner_.failure;
        }
        target_->Close();
    }
    const std::string& Name() const override { return target_->Name(); }

private:
    bool Failing(FaultyFileSystem::Fault fault) const {
        return owner_.fault == fault && Name() == owner_.failName;
    }
    void Count(std::uint64_t n) {
        written_ += n;
        owner_.bytesWritten += n;
    }

    std::unique_ptr<WritableFile> target_;
    FaultyFileSystem& owner_;
    std::uint64_t written_ = 0;
};

namespace {

class MemoryReadable final : public ReadableFile {
public:
    MemoryReadable(std::shared_ptr<std::string> bytes, std::string name, FileId id)
        : bytes_(std::move(bytes)), name_(std::move(name)), id_(id) {}
    std::uint64_t Length() override { return bytes_->size(); }
    std::size_t Read(char* buffer, std::size_t n) override {
        n = std::min(n, bytes_->size() - position_);
        std::copy_n(bytes_->data() + position_, n, buffer);
        position_ += n;
        return n;
    }
    const std::string& Name() const override { return name_; }
    FileId Id() const override { return id_; }

private:
    std::shared_ptr<std::string> bytes_;
    std::string name_;
    FileId id_;
    std::size_t position_ = 0;
};

class MemoryWritable final : public WritableFile {
public:
    MemoryWritable(std::shared_ptr<std::string> bytes, std::string name)
        : bytes_(std::move(bytes)), name_(std::move(name)) {}
    void Write(const char* data, std::size_t n) override { bytes_->append(data, n); }
    void Close() override {}
    const std::string& Name() const override { return name_; }

private:
    std::shared_ptr<std::string> bytes_;
    std::string name_;
};

}  // namespace

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenRead(const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) throw Failure::Of(kFileNotFound, FileTitleOf(path));
    return std::make_unique<MemoryReadable>(found->second, FileTitleOf(path), IdOf(path));
}

std::unique_ptr<WritableFile> MemoryFileSystem::Create(const std::string& path,
                                                       const ReadableFile* mustNotBe) {
    if (mustNotBe != nullptr && mustNotBe->Id() == IdOf(path))
        throw Failure::Of(kPathFileAccessError, FileTitleOf(path));
    auto& bytes = files[path];
    bytes = std::make_shared<std::string>();
    return std::make_unique<MemoryWritable>(bytes, FileTitleOf(path));
}

std::uint64_t MemoryFileSystem::FileLength(const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) throw Failure::Of(kFileNotFound, FileTitleOf(path));
    return found->second->size();
}

std::optional<FileStatus> MemoryFileSystem::Status(const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return FileStatus{true, found->second->size(), IdOf(path)};
}

std::unique_ptr<WritableFile> MemoryFileSystem::CreateNew(const std::string& path) {
    if (files.count(path) != 0) throw Failure::Of(kPathFileAccessError, FileTitleOf(path));
    return Create(path, nullptr);
}

void MemoryFileSystem::Rename(const std::string& from, const std::string& to, bool replace) {
    const auto found = files.find(from);
    if (found == files.end()) throw Failure::Of(kFileNotFound, FileTitleOf(from));
    if (!replace && files.count(to) != 0) throw Failure::Of(kPathFileAccessError, FileTitleOf(to));
    auto bytes = found->second;
    files.erase(found);
    files[to] = std::move(bytes);
}

void MemoryFileSystem::Remove(const std::string& path) {
    if (files.erase(path) == 0) throw Failure::Of(kFileNotFound, FileTitleOf(path));
}

FileId MemoryFileSystem::IdOf(const std::string& path) const {
    return FileId{0, std::hash<std::string>{}(path)};
}

std::unique_ptr<ReadableFile> FaultyFileSystem::OpenRead(const std::string& path) {
    return std::make_unique<CountingReadable>(FileSystemWrapper::OpenRead(path), *this);
}

std::unique_ptr<WritableFile> FaultyFileSystem::Create(const std::string& path,
                                                       const ReadableFile* mustNotBe) {
    if (fault == Fault::kCreate && FileTitleOf(path) == failName) throw failure;
    created.push_back(FileTitleOf(path));
    return std::make_unique<CountingWritable>(FileSystemWrapper::Create(path, mustNotBe), *this);
}

std::unique_ptr<WritableFile> FaultyFileSystem::CreateNew(const std::string& path) {
    if (fault == Fault::kCreate && FileTitleOf(path) == failName) throw failure;
    created.push_back(FileTitleOf(path));
    return std::make_unique<CountingWritable>(FileSystemWrapper::CreateNew(path), *this);
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
        const int percent = static_cast<int>(
            std::nearbyint(static_cast<double>(p) / static_cast<double>(length) * 100.0));
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
