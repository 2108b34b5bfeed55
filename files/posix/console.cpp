#include "files/console.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>

#include "files/failure.h"
#include "files/posix/standard_output.h"

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

// A pipe of 64 KiB, the default, costs a switch between the two programs every 64 KiB: a larger
// one where the system lets it be (no more than its limit for users, 1 MiB by default) moves a
// stream at the speed of the page cache. Nothing for a file or a terminal.
void WidenPipe(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
}

FileId IdOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

class InputStream final : public ReadableFile {
public:
    InputStream() { WidenPipe(STDIN_FILENO); }
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

}  // namespace

std::unique_ptr<ReadableFile> StandardInput() {
    return std::make_unique<InputStream>();
}

std::optional<FileId> StandardOutputFile() {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return IdOf(STDOUT_FILENO);
}

std::unique_ptr<WritableFile> StandardOutput() {
    WidenPipe(STDOUT_FILENO);
    return NewStandardOutput();
}

}  // namespace splitter::console
