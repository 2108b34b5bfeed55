// The window-system operations on native Win32: builds the main window from form_layout.h with
// CreateWindowEx and makes every call of WindowSystem real on it.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "files/win32/windows_api.h"
// After windows.h, which it needs.
#include <commdlg.h>

#include "window/form_layout.h"
#include "window/window_system.h"

namespace splitter::win32 {

// The control ids, as GetDlgItem finds the controls: kFirstControlId + the Control's value.
// They stay clear of IDOK and IDCANCEL, which the dialog manager sends for Enter and Escape.
inline constexpr int kFirstControlId = 100;
inline constexpr int ControlId(Control control) {
    return kFirstControlId + static_cast<int>(control);
}

// "description|pattern|..." as GetOpenFileName wants it: fields ended by NULs, and one more NUL.
std::wstring DialogFilter(const std::string& filter);

// Twips to pixels at `dpi` dots per inch (1440 twips to the inch), to the nearest pixel.
int TwipsToPixelsAt(int twips, int dpi);

// The file named on a program's command line (GetCommandLineW's), as a shortcut, "Open with"
// or "Send To" hands it over: the first argument after the program's, as a full path, UTF-8.
// Empty when there is none.
std::string FileArgument(const wchar_t* commandLine);

// Inside a catch block: shows the failure being handled, "Error CODE: DESCRIPTION", in an error
// box owned by `owner` (or none), and ends the program with status 1: a window program's last
// trap.
[[noreturn]] void EndOnFailure(HWND owner);

class Win32WindowSystem final : public WindowSystem {
public:
    // GetOpenFileNameW, or a stand-in that tests put in its place.
    using OpenDialog = std::function<BOOL(OPENFILENAMEW&)>;

    // Builds the window, hidden. `appTitle` is the title of message boxes shown without one.
    // The background picture and the icon come from the program's resources.
    explicit Win32WindowSystem(std::string appTitle);
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    // Runs events.Load(), centres the window on the screen, shows it and puts the focus on the
    // first control in tab order. Clicks, close requests and files dropped onto the window go to
    // `events` from then on. A `file` (named on the command line) is handed to
    // events.FileGiven from the message loop, as if it had been dropped onto the window.
    void Show(WindowEvents& events, const std::string& file = {});

    // Show, then the message loop until the process ends. Returns the exit status.
    int Run(WindowEvents& events, const std::string& file = {});

    // Handles the keys that a dialog would (Tab between the controls, Alt+access key) for a
    // message taken from the queue; true when it was handled and must not be dispatched.
    bool PreTranslate(MSG& message);

    HWND window() const { return form_; }
    HWND handle(Control control) const { return controls_[static_cast<std::size_t>(control)]; }
    int dpi() const { return dpi_; }
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
    // Ends the process on the spot with status 0; Windows releases its files and windows.
    void End() override;

private:
    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    // Makes room for each caption label in its real font: the value label after it moves right,
    // a caption that would run into a text box is drawn a little narrower.
    void FitCaptions();
    // The width of `text` in the font of `control`, in pixels.
    int TextWidth(Control control, const std::wstring& text) const;
    void PaintBackground(HDC dc) const;
    void DrawButton(const DRAWITEMSTRUCT& item) const;
    HFONT FontOf(Control control) const { return fonts_[static_cast<std::size_t>(control)]; }
    int Pixels(int twips) const { return TwipsToPixelsAt(twips, dpi_); }

    std::string appTitle_;
    HINSTANCE instance_;
    int dpi_ = 96;
    HWND form_ = nullptr;
    std::array<HWND, kFormLayout.size()> controls_{};
    HFONT regularFont_ = nullptr;
    HFONT boldFont_ = nullptr;
    std::array<HFONT, kFormLayout.size()> fonts_{};  // each control's: one of the two above, or
    std::vector<HFONT> narrowFonts_;                 // a narrower one of its own
    HBITMAP background_ = nullptr;                   // scaled to the client area
    HBRUSH backgroundBrush_ = nullptr;  // the same picture, for the labels' backgrounds
    HBRUSH buttonFace_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HWND lastFocus_ = nullptr;  // the control to give the focus back to on activation
    bool takesDrops_ = true;    // WS_EX_ACCEPTFILES, until a run
    WindowEvents* events_ = nullptr;
    OpenDialog openDialog_;
    std::string givenFile_;  // named on the command line, until the message loop hands it over
};

}  // namespace splitter::win32
