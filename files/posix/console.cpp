#include "files/console.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "files/failure.h"

namespace splitter::console {

std::vector<std::string> Arguments(int argc, char** argv) {
    if (argc < 1) return {};
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool RedrawsInPlace() {
    return ::isatty(STDOUT_FILENO) == 1;
}

void KeepRunningWithoutReader() {
    ::signal(SIGPIPE, SIG_IGN);
}

// A terminal here reads UTF-8, as the names are: the bytes go as they are.
void PrintError(const std::string& message) {
    std::cerr << message << std::endl;
}

namespace {

Failure StreamFailure(int error, const std::string& name) {
    return Failure::Of(error == ENOSPC || error == EDQUOT ? kDiskFull
                       : error == EFBIG                   ? kDiskFull
                                                          : kDeviceIoError,
                       name);
}

FileId IdOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

class InputStream final : public ReadableFile {
public:
    std::uint64_t Length() override { return 0; }
    std::size_t Read(char* buffer, std::size_t n) override {
        while (true) {
            const ssize_t got = ::read(STDIN_FILENO, buffer, n);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throw StreamFailure(errno, name_);
        }
    }
    const std::string& Name() const override { return name_; }
    FileId Id() const override { return id_; }

private:
    const std::string name_ = "standard input";
    const FileId id_ = IdOf(STDIN_FILENO);
};

class OutputStream final : public WritableFile {
public:
    void Write(const char* data, std::size_t n) override {
        while (n > 0) {
            const ssize_t put = ::write(STDOUT_FILENO, data, n);
            if (put < 0 && errno == EINTR) continue;
            if (put < 0 && errno == EPIPE) {
                ::signal(SIGPIPE, SIG_DFL);
                ::raise(SIGPIPE);
                std::_Exit(128 + SIGPIPE);
            }
            if (put <= 0) throw StreamFailure(errno, name_);
            data += put;
            n -= static_cast<std::size_t>(put);
        }
    }
    void Sync() override {}
    void Close() override {}
    const std::string& Name() const override { return name_; }

private:
    const std::string name_ = "standard output";
};

}  // namespace

std::unique_ptr<ReadableFile> StandardInput() {
    return std::make_unique<InputStream>();
}

std::unique_ptr<WritableFile> StandardOutput() {
    return std::make_unique<OutputStream>();
}

}  // namespace splitter::console
