#include "window/frm_splitter.h"

#include "engine/join_script.h"
#include "engine/part_count.h"
#include "files/failure.h"

namespace splitter {
namespace {

std::string TrimSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// Clears a flag when the scope ends, however it ends.
class RunningScope {
public:
    explicit RunningScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningScope() { flag_ = false; }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    bool& flag_;
};

// Appends `line` to `lines`, one line each.
void AddLine(std::string& lines, const std::string& line) {
    if (!lines.empty()) lines += "\r\n";
    lines += line;
}

// The window as the host of a join: its statuses are those of a split; its refusals, of which
// a join may give several (every missing part), are gathered for one error box, and so are its
// notes (a part rebuilt), which the statuses after them would otherwise overwrite at once.
class JoinHost final : public RunHost {
public:
    explicit JoinHost(FormRunHost& window) : window_(window) {}
    void SetStatus(const std::string& text) override { window_.SetStatus(text); }
    void Yield() override { window_.Yield(); }
    void ReportError(const std::string& message) override { AddLine(messages, message); }
    void Note(const std::string& message) override {
        window_.SetStatus(message);
        AddLine(notes, message);
    }

    std::string messages;
    std::string notes;

private:
    FormRunHost& window_;
};

bool NamesAScript(const std::string& path) {
    return AsciiLower(path).ends_with(".bat");
}

}  // namespace

frmSplitter::frmSplitter(WindowSystem& window, FileSystem& files)
    : window_(window), files_(files), host_(window) {}

void frmSplitter::Form_Load() {
    window_.SetVisible(Control::lblFileSize, false);
    window_.SetVisible(Control::lblbytes, false);
    window_.SetEnabled(Control::cmdSplit, false);
}

void frmSplitter::Form_Unload() {
    window_.End();
}

void frmSplitter::Click(Control button) {
    switch (button) {
        case Control::cmdSelectFile: cmdSelectFile_Click(); break;
        case Control::cmdSplit: cmdSplit_Click(); break;
        case Control::cmdExit: cmdExit_Click(); break;
        default: break;
    }
}

void frmSplitter::cmdSelectFile_Click() {
    if (running_) return;
    // Giving up keeps the file chosen before: the window still shows it, so Split splits it.
    const std::string earlierPath = sFilePath;
    const std::string earlierTitle = sFileTitle;
    const std::string folder = DialogFolder();
    // The handler's error trap: a chosen file that cannot be looked at leaves nothing to split.
    try {
        for (;;) {
            const OpenFileRequest request{folder, kOpenFlags, kOpenFilter};
            const std::optional<FileStatus> chosen = TakeChoice(window_.ShowOpen(request));
            if (!sFilePath.empty() || !sFileTitle.empty()) {
                ShowChoice(chosen);
                return;
            }
            if (window_.MsgBox(kNoFileText, kMsgYesNo, kNoFileTitle) != kMsgYes) {
                sFilePath = earlierPath;
                sFileTitle = earlierTitle;
                return;
            }
        }
    } catch (...) {
        RefuseChoice(CurrentFailure().Message());
    }
}

void frmSplitter::ChooseFile(const std::string& path) {
    // Nothing named is nothing chosen: the window stays as it is.
    if (running_ || TrimSpaces(path).empty()) return;
    if (OfferJoin(path)) return;
    // A refusal keeps the file chosen before, as the window still shows it: its size, the
    // folder Browse opens in, Split as it was.
    const std::string earlierPath = sFilePath;
    const std::string earlierTitle = sFileTitle;
    std::string refusal;
    // Browse's error trap, and Browse's steps after its dialog.
    try {
        const std::optional<FileStatus> chosen = TakeChoice({path, FileTitleOf(path)});
        // The dialog only ever returns a file; a folder (or a device) named on the command
        // line or dropped is refused here, as the run would refuse it.
        if (!chosen) {
            refusal = Failure::Of(kFileNotFound, FileTitleOf(sFilePath)).Message();
        } else if (!chosen->regular) {
            refusal = Failure::Of(kPathFileAccessError, FileTitleOf(sFilePath)).Message();
        } else {
            ShowChoice(chosen);
            return;
        }
    } catch (...) {
        refusal = CurrentFailure().Message();
    }
    sFilePath = earlierPath;
    sFileTitle = earlierTitle;
    host_.ReportError(refusal);
}

std::string frmSplitter::DialogFolder() {
    std::string folder = FolderOf(sFilePath);
    if (folder.empty()) return window_.AppPath();
    // Without the separator, unless it is the root ("/", "C:\").
    if (folder.size() > 1 && folder[folder.size() - 2] != ':') folder.pop_back();
    return folder;
}

std::optional<FileStatus> frmSplitter::TakeChoice(const OpenFileResult& choice) {
    // Spaces around the dialog's answer are dropped, except where they belong to the name: a
    // path that names an existing file as it stands is kept as it stands, title included, so
    // that " notes.txt " is split as itself and not as a different "notes.txt".
    if (!choice.path.empty()) {
        std::optional<FileStatus> status;
        try {
            status = files_.Status(choice.path);
        } catch (const Failure& failure) {
            // A folder missing as the path stands may be there once the spaces are gone.
            if (failure.code() != kPathNotFound || TrimSpaces(choice.path) == choice.path) throw;
        }
        if (status) {
            sFilePath = choice.path;
            sFileTitle = choice.title;
            return status;
        }
    }
    sFilePath = TrimSpaces(choice.path);
    sFileTitle = TrimSpaces(choice.title);
    if (sFilePath.empty() || sFilePath == choice.path) return std::nullopt;
    return files_.Status(sFilePath);
}

void frmSplitter::ShowChoice(const std::optional<FileStatus>& chosen) {
    if (!chosen) {
        // The file went away between the dialog and here.
        RefuseChoice(Failure::Of(kFileNotFound, FileTitleOf(sFilePath)).Message());
        return;
    }
    window_.SetText(Control::txtSelectedFile, sFilePath);
    window_.SetVisible(Control::lblFileSize, true);
    window_.SetCaption(Control::lblbytes, std::to_string(chosen->length) + kBytesSuffix);
    window_.SetVisible(Control::lblbytes, true);
    window_.SetEnabled(Control::cmdSplit, true);
}

void frmSplitter::RefuseChoice(const std::string& message) {
    host_.ReportError(message);
    window_.SetEnabled(Control::cmdSplit, false);
}

void frmSplitter::FilesDropped(const std::vector<std::string>& paths) {
    if (running_ || paths.empty()) return;
    if (paths.size() > 1) {
        window_.MsgBox(std::to_string(paths.size()) + " files were dropped. " + kOneFileText,
                       kMsgOkOnly, "");
        return;
    }
    ChooseFile(paths.front());
}

bool frmSplitter::OfferJoin(const std::string& path) {
    if (!NamesAScript(path)) return false;
    JoinList list;
    try {
        list = ReadJoinScript(path, files_);
    } catch (...) {
        return false;  // not a script this program joins: a file like any other
    }
    const std::string question = ShownName(FileTitleOf(path)) + " joins " +
                                 std::to_string(list.parts.size()) + " parts into " +
                                 ShownName(list.destination) + ".\r\n" + kJoinQuestion;
    if (window_.MsgBox(question, kMsgYesNo, "") != kMsgYes) return false;
    JoinScript(path);
    return true;
}

JoinResult frmSplitter::JoinScript(const std::string& scriptPath) {
    if (running_) return JoinResult::kRefused;
    const RunningScope running(running_);
    JoinHost host(host_);
    const JoinResult result = Join(scriptPath, JoinOptions{}, host, files_);
    if (result == JoinResult::kDone) {
        if (!host.notes.empty()) host_.Warn(host.notes);
        return result;
    }
    // The status must not go on saying "Joining...": it names why there is no joined file.
    const std::string& reasons = host.messages;
    host_.SetStatus(reasons.empty() ? kNotJoinedText : reasons.substr(0, reasons.find('\r')));
    std::string box = host.notes;
    AddLine(box, reasons);
    // A rebuilt part is a write: then the notes say what was written.
    if (result != JoinResult::kFailed && host.notes.empty()) AddLine(box, "Nothing was written.");
    host_.ReportError(box);
    return result;
}

void frmSplitter::cmdSplit_Click() {
    window_.SetEnabled(Control::cmdSplit, false);
    if (running_) return;
    // No trap here: the checks below fail on nothing, and the run traps its own failures.
    const PartCount count = CheckPartCount(window_.Text(Control::txtNoOfParts));
    switch (count.verdict) {
        case PartCountVerdict::kEmpty:
            window_.MsgBox(kEnterPartsText, kMsgCritical, kPartsBoxTitle);
            window_.SetFocus(Control::txtNoOfParts);
            return;
        case PartCountVerdict::kInvalid:
            window_.MsgBox(kInvalidPartsText, kMsgCritical, kPartsBoxTitle);
            window_.SetFocus(Control::txtNoOfParts);
            return;
        case PartCountVerdict::kOverflow:
            host_.ReportError(Failure::Of(kOverflow).Message());
            return;
        case PartCountVerdict::kOk: Split(count.parts); return;
    }
}

void frmSplitter::cmdExit_Click() {
    window_.End();
}

SplitResult frmSplitter::Split(std::int16_t iNoOfParts) {
    const RunningScope running(running_);
    const SplitResult result =
        SplitFile(sFilePath, sFileTitle, SplitPlan::Count(iNoOfParts), host_, {}, files_);
    if (result == SplitResult::kUnableToSplit) window_.SetFocus(Control::txtNoOfParts);
    return result;
}

}  // namespace splitter
