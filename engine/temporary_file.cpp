#include "engine/temporary_file.h"

#include <cstdio>
#include <exception>
#include <random>

#include "files/interruption.h"

namespace splitter {

namespace {

// Beside the destination, so that the rename stays on one volume.
std::string TemporaryPath(const std::string& destination, const char* kind, unsigned number) {
    char name[40];
    std::snprintf(name, sizeof name, ".%s-%08x.tmp", kind, number);
    return FolderOf(destination) + name;
}

}  // namespace

std::optional<std::string> TemporaryFile::NameLimit(FileSystem& files,
                                                    const std::string& destination,
                                                    const char* kind) {
    return files.NameLimit(TemporaryPath(destination, kind, 0));
}

TemporaryFile::TemporaryFile(FileSystem& files, const std::string& destination, const char* kind,
                             std::uint32_t permissions)
    : files_(files), destination_(destination) {
    std::random_device random;
    NewFile how(FileTitleOf(destination));
    how.permissions = permissions;
    how.hidden = true;
    for (int attempt = 0;; ++attempt) {
        const std::string path = TemporaryPath(destination, kind, random());
        if (attempt < 8 && files_.Status(path)) continue;
        // Named before it exists: an interruption between the two would leave it behind.
        interruption::AddTemporary(path);
        try {
            file_ = files_.CreateNew(path, how);
        } catch (...) {
            interruption::ForgetTemporary(path);
            throw;
        }
        path_ = path;
        return;
    }
}

TemporaryFile::~TemporaryFile() {
    if (path_.empty()) return;
    interruption::ForgetTemporary(path_);
    file_.reset();
    try {
        files_.Remove(path_);
    } catch (const std::exception&) {
        // The failure that got us here is the one to report; a leftover temporary file holds
        // nothing the run's sources do not.
    }
}

void TemporaryFile::Finish() {
    file_->Sync();
    file_->Keep();
    file_->Close();
}

void TemporaryFile::Rename(bool replace) {
    files_.Rename(path_, destination_, replace);
    interruption::ForgetTemporary(path_);
    path_.clear();
}

}  // namespace splitter
