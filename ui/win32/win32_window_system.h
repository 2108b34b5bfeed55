// The window-system operations on native Win32: builds the main window from form_layout.h with
// CreateWindowEx and makes every call of WindowSystem real on it.
#pragma once

#include <array>
#include <functional>
#include <string>

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
    // first control in tab order. Clicks and close requests go to `events` from then on.
    void Show(WindowEvents& events);

    // Show, then the message loop until the process ends. Returns the exit status.
    int Run(WindowEvents& events);

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
    void PaintBackground(HDC dc) const;
    void DrawButton(const DRAWITEMSTRUCT& item) const;
    HFONT FontOf(const ControlLayout& layout) const {
        return layout.bold ? boldFont_ : regularFont_;
    }
    int Pixels(int twips) const { return TwipsToPixelsAt(twips, dpi_); }

    std::string appTitle_;
    HINSTANCE instance_;
    int dpi_ = 96;
    HWND form_ = nullptr;
    std::array<HWND, kFormLayout.size()> controls_{};
    HFONT regularFont_ = nullptr;
    HFONT boldFont_ = nullptr;
    HBITMAP background_ = nullptr;      // scaled to the client area
    HBRUSH backgroundBrush_ = nullptr;  // the same picture, for the labels' backgrounds
    HBRUSH buttonFace_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HWND lastFocus_ = nullptr;  // the control to give the focus back to on activation
    WindowEvents* events_ = nullptr;
    OpenDialog openDialog_;
};

}  // namespace splitter::win32
