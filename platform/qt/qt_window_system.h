// The window-system operations on Qt 6 Widgets: builds the main window from form_layout.h and
// makes every call of WindowSystem real on it.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <string>

#include "platform/window_system.h"
#include "window/form_layout.h"

class QApplication;
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

// The dialog filter "description|pattern|..." as Qt name filters. "*.*" becomes "*" so that it
// matches names without a dot too, as it does on Windows; the description is kept as it is.
QStringList NameFiltersOf(const std::string& filter);

class QtWindowSystem final : public WindowSystem {
public:
    // Builds the window, hidden. `appTitle` is the title of message boxes shown without one.
    explicit QtWindowSystem(std::string appTitle);
    ~QtWindowSystem() override;
    QtWindowSystem(const QtWindowSystem&) = delete;
    QtWindowSystem& operator=(const QtWindowSystem&) = delete;

    // Runs events.Load(), centres the window on the screen, shows it and puts the focus on the
    // first control in tab order. Clicks and close requests go to `events` from then on.
    void Show(WindowEvents& events);

    // The window and its controls, for tests.
    QWidget* window() const;
    QWidget* widget(Control control) const;

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
};

}  // namespace splitter::qt
