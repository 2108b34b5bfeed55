// frmSplitter: the logic of the program's one window, written against the window-system
// interface only. A backend builds the controls (see form_layout.h), calls Load once before
// showing the window, and forwards button clicks and close requests through WindowEvents.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/join.h"
#include "engine/split.h"
#include "files/file_system.h"
#include "window/form_run_host.h"
#include "window/window_system.h"

namespace splitter {

// Title of the bad-part-count boxes.
inline constexpr const char* kPartsBoxTitle = "Tarvo's Splitter";
// The box shown when the open-file dialog returns nothing.
inline constexpr const char* kNoFileText = "You must any file...\r\nDo you want to continue?";
inline constexpr const char* kNoFileTitle = "Error!";
// The open-file dialog's settings, made again on every pass.
inline constexpr int kOpenFlags = kOfnFileMustExist | kOfnHideReadOnly;  // 0x1004
inline constexpr const char* kOpenFilter = "All Files (*.*)|*.*";
// The question asked of a join script brought to the window: "NAME.bat joins N parts into
// NAME." and this.
inline constexpr const char* kJoinQuestion = "Join them now?";
// The box for a drop of several files.
inline constexpr const char* kOneFileText = "Drop one file at a time: the window splits one file.";
// The status after a join that gave no joined file and no reason.
inline constexpr const char* kNotJoinedText = "Not joined.";
// Follows the size in the size caption: "2048 Bytes.".
inline constexpr const char* kBytesSuffix = " Bytes.";

class frmSplitter final : public WindowEvents {
public:
    explicit frmSplitter(WindowSystem& window, FileSystem& files = FileSystem::Default());

    // Hides the two size labels and disables Split. Nothing else: the status starts at its
    // stored caption "Ready..." and both text boxes empty.
    void Form_Load();

    // The window is closed by other means than Exit: ends the process at once, as Exit does.
    void Form_Unload();

    // Browse: asks for a file until one is chosen or the user gives up; shows its path and
    // size and enables Split. Refused (does nothing) while a run is in progress, so a run never
    // sees its file change and no second run can start inside it.
    void cmdSelectFile_Click();

    // A file named on the command line or dropped onto the window: chosen exactly as if
    // picked in Browse's dialog (path, size, Split enabled), and refused like Browse while a
    // run is in progress. A file that is not there is reported as Browse reports it, and so is
    // a folder; either refusal keeps the file chosen before, which the window still shows.
    // A join script that this program reads (NAME.bat) is offered for joining first: Yes joins
    // it here (JoinScript), No chooses it as a file to split.
    void ChooseFile(const std::string& path);

    // Joins the parts that the script at `scriptPath` lists, with the checks and refusals of
    // the command line's join, showing "Joining... " and its percentages in the status label,
    // then "Done !"; what it did besides (a part rebuilt) is then shown in a box, as a split's
    // warnings are. The reasons of a refusal (every missing part, say) show in one error box,
    // nothing is written, and the status ends on the first reason. Refused, like Browse, while
    // a run is in progress.
    JoinResult JoinScript(const std::string& scriptPath);

    // Split: disables Split, checks the typed part count, and runs Split with it. Split stays
    // disabled whatever the outcome, until the next Browse.
    void cmdSplit_Click();

    // Exit: ends the process at once, in the middle of a run too.
    void cmdExit_Click();

    // Cuts the chosen file into iNoOfParts parts and writes the join script, showing the
    // progress in the status label; "Unable to split..." moves the focus to the part-count box.
    SplitResult Split(std::int16_t iNoOfParts);

    // WindowEvents.
    void Load() override { Form_Load(); }
    void Click(Control button) override;
    void Closing() override { Form_Unload(); }
    void FileGiven(const std::string& path) override { ChooseFile(path); }
    // One file is chosen as ChooseFile chooses it; several, none, with a box that says why.
    // Nothing during a run.
    void FilesDropped(const std::vector<std::string>& paths) override;
    bool TakesDrops() const override { return !running_; }

private:
    // The folder the open-file dialog starts in: the program's at first, then that of the file
    // chosen last, where Windows' own dialog goes back to as well.
    std::string DialogFolder();
    // Stores the dialog's answer in sFilePath and sFileTitle; returns what the stored path
    // names, nullopt when nothing is there.
    std::optional<FileStatus> TakeChoice(const OpenFileResult& choice);
    // Shows the chosen file and its length and enables Split; a file that is gone is reported
    // instead.
    void ShowChoice(const std::optional<FileStatus>& chosen);
    // Shows `message` in the error box and leaves nothing to split.
    void RefuseChoice(const std::string& message);
    // Asks whether to join `path` when it is a join script; true when it was joined.
    bool OfferJoin(const std::string& path);

    WindowSystem& window_;
    FileSystem& files_;
    FormRunHost host_;  // what a run, and the error trap of Split, show in the window
    std::string sFilePath;
    std::string sFileTitle;
    bool running_ = false;
};

}  // namespace splitter
