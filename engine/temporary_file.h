// The way a run's output appears whole or not at all: the joined file, and the join script,
// whose cut `copy` line would make cmd append parts into the first part and call it a success.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "files/file_system.h"

namespace splitter {

// A new file beside `destination`, under a name of its own (".KIND-XXXXXXXX.tmp"), that takes
// the destination's name only once it is whole and on the disk. Until then the destination is
// untouched; the file is removed when the object goes before Rename, and by an interruption of
// the program (files/interruption.h). Where the OS can, the file is hidden until Finish
// (NewFile::hidden), so that even a kill leaves nothing. Failures of the file name the
// destination, the name the user knows. The file gets at most `permissions`.
class TemporaryFile {
public:
    TemporaryFile(FileSystem& files, const std::string& destination, const char* kind,
                  std::uint32_t permissions);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    WritableFile& file() { return *file_; }
    const std::string& path() const { return path_; }

    // Why no temporary file of this kind can lie beside `destination` (FileSystem::NameLimit
    // of its name), before anything is written; nullopt when one can.
    static std::optional<std::string> NameLimit(FileSystem& files, const std::string& destination,
                                                const char* kind);

    // Puts the bytes on the disk, gives the file its temporary name and closes it.
    void Finish();

    // Gives the finished file the destination's name in one step; an existing destination is
    // replaced when `replace`, else the rename fails and the destination stays as it is.
    void Rename(bool replace);

private:
    FileSystem& files_;
    const std::string destination_;
    std::string path_;  // empty once renamed
    std::unique_ptr<WritableFile> file_;
};

}  // namespace splitter
