// The window-system operations on Qt 6 Widgets: builds the main window from form_layout.h and
// makes every call of WindowSystem real on it.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "window/form_layout.h"
#include "window/window_system.h"

class QApplication;
class QFileDialog;
class QWidget;

namespace splitter::qt {

class FormWidget;

// Sets up the application for the window: the Fusion style (the window's artwork is the same on
// every desktop, so its controls are too) and the Tahoma faces of wine's fonts when they are
// installed. Returns the family the window will use.
QString PrepareApplication(QApplication& app);

// The window's font: Tahoma 8.25 pt when available, else a close sans-serif; bold for the
// labels that ask for it.
QFont FormFont(bool bold);

// The file named on the program's command line, as a file manager's "Open with" hands it over:
// the first argument after the program's name, as an absolute path in the file system's bytes.
// Empty when there is none.
std::string FileArgument(const QStringList& arguments);

// The dialog filter "description|pattern|..." as Qt name filters. "*.*" becomes "*" so that it
// matches names without a dot too, as it does on Windows; the description is kept as it is.
QStringList NameFiltersOf(const std::string& filter);

class QtWindowSystem final : public WindowSystem {
public:
    // Runs the open-file dialog that ShowOpen has built and set up, and returns the chosen
    // file's path, or nothing when cancelled. By default the dialog runs modally (exec); tests
    // put a stand-in in its place, which can read the dialog's settings without showing it.
    using OpenDialog = std::function<std::optional<QString>(QFileDialog&)>;

    // Builds the window, hidden. `appTitle` is the title of message boxes shown without one.
    explicit QtWindowSystem(std::string appTitle);
    ~QtWindowSystem() override;
    QtWindowSystem(const QtWindowSystem&) = delete;
    QtWindowSystem& operator=(const QtWindowSystem&) = delete;

    // Runs events.Load(), centres the window on the screen, shows it and puts the focus on the
    // first control in tab order. Clicks, close requests and files dropped onto the window go to
    // `events` from then on. A `file` (named on the command line) is handed to
    // events.FileGiven once the event loop runs, as if it had been dropped onto the window.
    void Show(WindowEvents& events, const std::string& file = {});

    // The window and its controls, for tests.
    QWidget* window() const;
    QWidget* widget(Control control) const;
    // An empty function brings the modal dialog back.
    void SetOpenDialog(OpenDialog dialog) { openDialog_ = std::move(dialog); }

    void SetCaption(Control label, const std::string& text) override;
    void SetVisible(Control control, bool visible) override;
    std::string Text(Control textBox) override;
    void SetText(Control textBox, const std::string& text) override;
    void SetFocus(Control control) override;
    void SetEnabled(Control button, bool enabled) override;
    int MsgBox(const std::string& prompt, int style, const std::string& title) override;
    OpenFileResult ShowOpen(const OpenFileRequest& request) override;
    std::string AppPath() override;
    void DoEvents() override;
    // Ends the process on the spot with status 0; the system releases its files and windows.
    void End() override;

private:
    void ReturnFocus();

    std::string appTitle_;
    std::unique_ptr<FormWidget> form_;
    std::array<QWidget*, kFormLayout.size()> controls_{};
    OpenDialog openDialog_;
};

}  // namespace splitter::qt
