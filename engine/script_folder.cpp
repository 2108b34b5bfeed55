#include "engine/script_folder.h"

#include "files/failure.h"

namespace splitter {

ScriptFolder::ScriptFolder(const std::string& scriptPath, FileSystem& files)
    : folder_(FolderOf(scriptPath)), files_(files) {
    const auto real = files_.Resolve(FolderPathOf(scriptPath));
    if (!real) throw Failure::Of(kPathNotFound, FileTitleOf(scriptPath));
    real_ = *real;
}

ScriptFolder::Entry ScriptFolder::Look(const std::string& name) const {
    const std::string path = PathOf(name);
    const auto status = files_.Status(path);
    const auto resolved = status ? files_.Resolve(path) : std::nullopt;
    if (!resolved) return {};
    if (!LiesIn(*resolved, real_)) return {Where::kOutside, {}};
    return {Where::kInside, *status};
}

}  // namespace splitter
