#include "window/frm_splitter.h"

#include <exception>

#include "engine/part_count.h"
#include "platform/failure.h"

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

}  // namespace

frmSplitter::frmSplitter(WindowSystem& window, FileSystem& files)
    : window_(window), files_(files) {}

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
    for (;;) {
        const OpenFileRequest request{window_.AppPath(), kOpenFlags, kOpenFilter};
        TakeChoice(window_.ShowOpen(request));
        if (!sFilePath.empty() || !sFileTitle.empty()) {
            ShowChoice();
            return;
        }
        if (window_.MsgBox(kNoFileText, kMsgYesNo, kNoFileTitle) != kMsgYes) return;
    }
}

void frmSplitter::TakeChoice(const OpenFileResult& choice) {
    // Spaces around the dialog's answer are dropped, except where they belong to the name: a
    // path that names an existing file as it stands is kept as it stands, title included, so
    // that " notes.txt " is split as itself and not as a different "notes.txt".
    bool exists = false;
    if (!choice.path.empty()) {
        try {
            files_.FileLength(choice.path);
            exists = true;
        } catch (const std::exception&) {
        }
    }
    sFilePath = exists ? choice.path : TrimSpaces(choice.path);
    sFileTitle = exists ? choice.title : TrimSpaces(choice.title);
}

void frmSplitter::ShowChoice() {
    std::uint64_t length = 0;
    try {
        length = files_.FileLength(sFilePath);
    } catch (const Failure& failure) {
        // The file went away between the dialog and here: say so, and leave nothing to split.
        window_.MsgBox(failure.Message(), kMsgOkOnly, "");
        window_.SetEnabled(Control::cmdSplit, false);
        return;
    }
    window_.SetText(Control::txtSelectedFile, sFilePath);
    window_.SetVisible(Control::lblFileSize, true);
    window_.SetCaption(Control::lblbytes, std::to_string(length) + kBytesSuffix);
    window_.SetVisible(Control::lblbytes, true);
    window_.SetEnabled(Control::cmdSplit, true);
}

void frmSplitter::cmdSplit_Click() {
    window_.SetEnabled(Control::cmdSplit, false);
    if (running_) return;
    // The handler's error trap.
    try {
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
            case PartCountVerdict::kOverflow: throw Failure::Of(kOverflow);
            case PartCountVerdict::kOk: Split(count.parts); return;
        }
    } catch (...) {
        ReportError(CurrentFailure().Message());
    }
}

void frmSplitter::cmdExit_Click() {
    window_.End();
}

SplitResult frmSplitter::Split(std::int16_t iNoOfParts) {
    const RunningScope running(running_);
    const std::string path = sFilePath;
    const std::string title = sFileTitle;
    return SplitFile(iNoOfParts, path, title, *this, files_);
}

void frmSplitter::SetStatus(const std::string& text) {
    window_.SetCaption(Control::lblStatus, text);
}

void frmSplitter::FocusPartCount() {
    window_.SetFocus(Control::txtNoOfParts);
}

void frmSplitter::Yield() {
    window_.DoEvents();
}

void frmSplitter::ReportError(const std::string& message) {
    window_.MsgBox(message, kMsgOkOnly, "");
}

}  // namespace splitter
