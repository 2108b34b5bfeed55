#include "engine/temporary_file.h"

#include <cstdio>
#include <exception>
#include <random>

#include "files/interruption.h"

namespace splitter {

TemporaryFile::TemporaryFile(FileSystem& files, const std::string& destination, const char* kind)
    : files_(files), destination_(destination) {
    // Beside the destination, so that the rename stays on one volume.
    const std::string folder =
        destination.substr(0, destination.size() - FileTitleOf(destination).size());
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, ".%s-%08x.tmp", kind, static_cast<unsigned>(random()));
        const std::string path = folder + name;
        if (attempt < 8 && files_.Status(path)) continue;
        // Named before it exists: an interruption between the two would leave it behind.
        interruption::SetTemporary(path);
        try {
            file_ = files_.CreateNew(path, FileTitleOf(destination));
        } catch (...) {
            interruption::SetTemporary({});
            throw;
        }
        path_ = path;
        return;
    }
}

TemporaryFile::~TemporaryFile() {
    if (path_.empty()) return;
    interruption::SetTemporary({});
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
    file_->Close();
}

void TemporaryFile::Rename(bool replace) {
    files_.Rename(path_, destination_, replace);
    interruption::SetTemporary({});
    path_.clear();
}

}  // namespace splitter
