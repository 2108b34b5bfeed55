// The folder of a join script, where everything a join reads or writes lies: the parts, the
// destination, the checksum file and the recovery set, each named without a folder. A name
// there that a link leads out of the folder is refused, as a script naming a file elsewhere
// would be.
#pragma once

#include <map>
#include <string>

#include "files/file_system.h"

namespace splitter {

class ScriptFolder {
public:
    enum class Where {
        kNothing,  // no file of that name, or a link that leads nowhere
        kInside,   // a file (or folder, or device) in the folder, links followed
        kOutside,  // a link that leads out of the folder
    };
    struct Entry {
        Where where = Where::kNothing;
        FileStatus status;  // when kInside
    };

    // Throws kPathNotFound, naming the script, when its folder is not there.
    ScriptFolder(const std::string& scriptPath, FileSystem& files);

    // The path of the file `name` in the folder.
    std::string PathOf(const std::string& name) const { return folder_ + name; }

    // What `name` names in the folder, looked at now.
    Entry Look(const std::string& name) const;

    FileSystem& files() const { return files_; }

private:
    std::string folder_;  // with its trailing separator, "" for the current folder
    std::string real_;    // the same, resolved (see FileSystem::Resolve)
    FileSystem& files_;
};

// What the parts' names held when they were looked at, by name.
using LookedParts = std::map<std::string, ScriptFolder::Entry, std::less<>>;

}  // namespace splitter
