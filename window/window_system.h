// The window-system operations that the main window's logic asks of its platform. One backend
// per window system (ui/qt, ui/win32) makes them real; a fake drives the logic in tests. No
// toolkit type appears here. Strings are UTF-8; everything runs on the window's one thread.
#pragma once

#include <string>
#include <vector>

namespace splitter {

// Every control of the main window, in tab order first (the buttons and text boxes), then the
// labels. A backend maps each id to its own widget or window handle.
enum class Control {
    cmdSelectFile,
    txtNoOfParts,
    txtSelectedFile,
    cmdSplit,
    cmdExit,
    lblSelectFileText,
    lblStatusText,
    lblStatus,
    lblNoOfParts,
    lblFileSize,
    lblbytes,
};

// Message box styles and answers, with the values of the Windows message box.
inline constexpr int kMsgOkOnly = 0;
inline constexpr int kMsgYesNo = 4;
inline constexpr int kMsgCritical = 16;
inline constexpr int kMsgOk = 1;
inline constexpr int kMsgYes = 6;
inline constexpr int kMsgNo = 7;

// Open-file dialog flags, with the values of the Windows common dialog.
inline constexpr int kOfnHideReadOnly = 0x4;
inline constexpr int kOfnFileMustExist = 0x1000;

struct OpenFileRequest {
    std::string initialFolder;
    int flags = 0;
    std::string filter;  // "description|pattern", pairs separated by "|"
    bool operator==(const OpenFileRequest&) const = default;
};

struct OpenFileResult {
    std::string path;   // full path; empty when nothing was chosen
    std::string title;  // name without folder; empty when nothing was chosen
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Shows `text` (plain text, never markup or an access key) as the label's caption; a label
    // may grow to fit its caption.
    virtual void SetCaption(Control label, const std::string& text) = 0;
    // Shows or hides the control; a hidden label shows nothing.
    virtual void SetVisible(Control control, bool visible) = 0;

    // The text exactly as typed, spaces included.
    virtual std::string Text(Control textBox) = 0;
    // Replaces the text. Text boxes have no length limit.
    virtual void SetText(Control textBox, const std::string& text) = 0;
    virtual void SetFocus(Control control) = 0;

    // A disabled button ignores clicks and its access key.
    virtual void SetEnabled(Control button, bool enabled) = 0;

    // A modal message box; returns the button pressed (kMsgOk, kMsgYes, kMsgNo). Styles:
    // kMsgOkOnly (OK, no icon), kMsgCritical (OK with the stop icon), kMsgYesNo (Yes and No, no
    // icon). An empty title means the application's title; "\r\n" in the prompt is a line
    // break.
    virtual int MsgBox(const std::string& prompt, int style, const std::string& title) = 0;
    // A modal Open dialog starting in request.initialFolder, honouring request.flags
    // (kOfnFileMustExist: only an existing file can be chosen; kOfnHideReadOnly: no read-only
    // check box) and the filter, where "*.*" matches every file, names without a dot included.
    // Returns the chosen file's full path and title, or two empty strings when nothing was
    // chosen: cancelling is no failure.
    virtual OpenFileResult ShowOpen(const OpenFileRequest& request) = 0;

    // The folder that holds the running program, without a trailing separator.
    virtual std::string AppPath() = 0;
    // Dispatches the window events queued so far (repaints, clicks, key presses) and returns.
    // Handlers may run inside it.
    virtual void DoEvents() = 0;
    // Closes the window, releases every open file and ends the process at once, even from
    // inside a handler or a yield: no return to the event loop first. A test stand-in may
    // record the call and return; callers do nothing after it that matters.
    virtual void End() = 0;
};

// Forwards every call to another window system: a test derives from it and overrides only the
// calls it wants to answer itself (the open-file dialog, End).
class WindowSystemWrapper : public WindowSystem {
public:
    explicit WindowSystemWrapper(WindowSystem& target) : target_(target) {}
    void SetCaption(Control label, const std::string& text) override {
        target_.SetCaption(label, text);
    }
    void SetVisible(Control control, bool visible) override {
        target_.SetVisible(control, visible);
    }
    std::string Text(Control textBox) override { return target_.Text(textBox); }
    void SetText(Control textBox, const std::string& text) override {
        target_.SetText(textBox, text);
    }
    void SetFocus(Control control) override { target_.SetFocus(control); }
    void SetEnabled(Control button, bool enabled) override { target_.SetEnabled(button, enabled); }
    int MsgBox(const std::string& prompt, int style, const std::string& title) override {
        return target_.MsgBox(prompt, style, title);
    }
    OpenFileResult ShowOpen(const OpenFileRequest& request) override {
        return target_.ShowOpen(request);
    }
    std::string AppPath() override { return target_.AppPath(); }
    void DoEvents() override { target_.DoEvents(); }
    void End() override { target_.End(); }

protected:
    WindowSystem& target() { return target_; }

private:
    WindowSystem& target_;
};

// What the backend tells the window's logic.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    // Once, before the window is first shown.
    virtual void Load() = 0;
    // A click, access key or Space on an enabled button.
    virtual void Click(Control button) = 0;
    // The window is being closed by any means other than its Exit button (Alt+F4, the session
    // ending).
    virtual void Closing() = 0;
    // A file handed over from outside the dialog, by its full path: named on the program's
    // command line (a file manager's "Open with", a shortcut, "Send To"), once the window is
    // shown.
    virtual void FileGiven(const std::string& path) = 0;
    // Files dropped onto the window, full paths.
    virtual void FilesDropped(const std::vector<std::string>& paths) = 0;
    // Whether a drop would be taken now; when not, the backend shows no drop at the cursor.
    virtual bool TakesDrops() const = 0;
};

}  // namespace splitter
