// The one file a fuzzer's reader is given, held in memory: its bytes are handed out a few at a
// time, as a file may, and every path names it.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "files/file_system.h"

namespace splitter::fuzz {

class InputFile : public ReadableFile {
public:
    InputFile(const std::string& bytes, const std::string& name) : bytes_(bytes), name_(name) {}
    std::uint64_t Length() override { return bytes_.size(); }
    std::size_t Read(char* buffer, std::size_t n) override {
        const std::size_t got = std::min({n, bytes_.size() - pos_, std::size_t{61}});
        std::memcpy(buffer, bytes_.data() + pos_, got);
        pos_ += got;
        return got;
    }
    const std::string& Name() const override { return name_; }
    FileId Id() const override { return {}; }

private:
    const std::string& bytes_;
    std::size_t pos_ = 0;
    std::string name_;
};

class InputFileSystem : public FileSystemWrapper {
public:
    InputFileSystem(std::string bytes, std::string name)
        : FileSystemWrapper(FileSystem::Default()),
          bytes_(std::move(bytes)),
          name_(std::move(name)) {}
    std::unique_ptr<ReadableFile> OpenRead(const std::string&) override {
        return std::make_unique<InputFile>(bytes_, name_);
    }
    std::optional<FileStatus> Status(const std::string&) override {
        return FileStatus{true, bytes_.size(), {}};
    }

private:
    std::string bytes_;
    std::string name_;
};

}  // namespace splitter::fuzz
