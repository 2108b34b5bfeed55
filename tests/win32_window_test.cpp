// The real Win32 window (under wine and Xvfb here): its make-up and start state read back
// through the Win32 API, the keyboard, the real message boxes, and whole runs driven by
// messages, with the open-file dialog answered by the test. One scenario runs in a child
// process: End must end the process.
#include "platform/win32/win32_window_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/unicode.h"
#include "test_support.h"
#include "window/frm_splitter.h"
#include "window_test_support.h"

namespace splitter::win32 {
namespace {

using splitter::test::PatternBytes;
using splitter::test::ReadBytes;
using splitter::test::TempDir;
using splitter::test::WriteBytes;
using splitter::testing::SlowFileSystem;

// The real window system, with End recorded instead of ending the test, and every status text
// kept.
class RecordingWindowSystem final : public WindowSystemWrapper {
public:
    using WindowSystemWrapper::WindowSystemWrapper;
    void SetCaption(Control label, const std::string& text) override {
        if (label == Control::lblStatus) statuses.push_back(text);
        WindowSystemWrapper::SetCaption(label, text);
    }
    void End() override { ++ends; }
    int ends = 0;
    std::vector<std::string> statuses;
};

// What the test's stand-in for GetOpenFileNameW was given, and what it answers.
struct DialogSeen {
    int calls = 0;
    HWND owner = nullptr;
    DWORD flags = 0;
    std::wstring filter;  // with its NULs
    std::wstring initialFolder;
};

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

RECT ClientRectOf(HWND control, HWND parent) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// A message box of this thread, as the test saw it before answering it.
struct SeenBox {
    std::wstring title;
    std::wstring text;
    bool icon = false;
    std::vector<int> buttons;  // IDOK, IDYES, IDNO...
};

// While it lives, answers the message boxes of this thread in turn with `answers` (then No, or
// OK), after noting what each one shows. Runs from a timer, which each box's own modal loop
// dispatches.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::vector<int> answers) : answers_(std::move(answers)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 20, &BoxAnswerer::Tick);
    }
    ~BoxAnswerer() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    std::vector<SeenBox> seen;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current_ != nullptr) EnumThreadWindows(GetCurrentThreadId(), &BoxAnswerer::Look, 0);
    }
    static BOOL CALLBACK Look(HWND window, LPARAM) {
        if (ClassOf(window) != L"#32770" || !IsWindowVisible(window)) return TRUE;
        BoxAnswerer& self = *current_;
        if (window == self.answered_) return FALSE;  // answered, not closed yet
        self.answered_ = window;
        SeenBox box;
        box.title = WindowText(window);
        EnumChildWindows(window, &BoxAnswerer::LookAtChild, reinterpret_cast<LPARAM>(&box));
        const std::size_t index = self.seen.size();
        int answer = index < self.answers_.size() ? self.answers_[index] : IDOK;
        if (index >= self.answers_.size() &&
            std::find(box.buttons.begin(), box.buttons.end(), IDNO) != box.buttons.end())
            answer = IDNO;
        self.seen.push_back(std::move(box));
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        return FALSE;
    }
    static BOOL CALLBACK LookAtChild(HWND child, LPARAM param) {
        SeenBox& box = *reinterpret_cast<SeenBox*>(param);
        const auto style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        if (ClassOf(child) == L"Button") {
            box.buttons.push_back(GetDlgCtrlID(child));
        } else if (ClassOf(child) == L"Static") {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                box.icon = box.icon || SendMessageW(child, STM_GETICON, 0, 0) != 0;
            } else if (GetWindowTextLengthW(child) > 0) {
                box.text = WindowText(child);
            }
        }
        return TRUE;
    }

    static inline BoxAnswerer* current_ = nullptr;
    std::vector<int> answers_;
    HWND answered_ = nullptr;
    UINT_PTR timer_ = 0;
};

class Win32WindowTest : public ::testing::Test {
protected:
    Win32WindowTest() {
        native_.SetOpenDialog([this](OPENFILENAMEW& ofn) { return AnswerDialog(ofn); });
    }

    void Open() { native_.Show(form_); }

    HWND h(Control control) const { return native_.handle(control); }
    int px(int twips) const { return TwipsToPixelsAt(twips, native_.dpi()); }
    std::string Caption(Control control) const { return Narrow(WindowText(h(control))); }

    // Dispatches messages until `done` holds; false after `seconds` without it.
    bool PumpUntil(const std::function<bool()>& done, double seconds = 20) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            native_.DoEvents();
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        return true;
    }
    void Pump() {
        PumpUntil([] { return false; }, 0.2);
    }

    // A click as a button gets it from the mouse: BM_CLICK, through the queue.
    void Click(Control button) {
        PostMessageW(h(button), BM_CLICK, 0, 0);
        Pump();
    }
    // Alt+key, as the keyboard sends it.
    void AltKey(wchar_t key) {
        PostMessageW(native_.window(), WM_SYSCHAR, key, 1 << 29);
        Pump();
    }
    // Types `text` into a text box, one WM_CHAR per character, as the keyboard does.
    void Type(Control textBox, const std::wstring& text) {
        ::SetFocus(h(textBox));
        for (const wchar_t c : text) PostMessageW(h(textBox), WM_CHAR, c, 1);
        Pump();
    }
    void Browse(const std::string& path) {
        answers_.push_back(path);
        Click(Control::cmdSelectFile);
    }

    BOOL AnswerDialog(OPENFILENAMEW& ofn) {
        ++dialog_.calls;
        dialog_.owner = ofn.hwndOwner;
        dialog_.flags = ofn.Flags;
        const wchar_t* end = ofn.lpstrFilter;
        while (end[0] != L'\0' || end[1] != L'\0') ++end;
        dialog_.filter.assign(ofn.lpstrFilter, end + 2);
        dialog_.initialFolder = ofn.lpstrInitialDir != nullptr ? ofn.lpstrInitialDir : L"";
        if (answers_.empty()) return FALSE;  // cancelled
        const std::wstring path = Widen(answers_.front());
        answers_.erase(answers_.begin());
        // What GetOpenFileName fills in: the path, the offset of its name, the title.
        const std::size_t slash = path.find_last_of(L"\\/");
        const std::wstring title = slash == std::wstring::npos ? path : path.substr(slash + 1);
        if (path.size() + 1 > ofn.nMaxFile || title.size() + 1 > ofn.nMaxFileTitle) return FALSE;
        std::copy(path.c_str(), path.c_str() + path.size() + 1, ofn.lpstrFile);
        std::copy(title.c_str(), title.c_str() + title.size() + 1, ofn.lpstrFileTitle);
        ofn.nFileOffset = static_cast<WORD>(slash == std::wstring::npos ? 0 : slash + 1);
        return TRUE;
    }

    Win32WindowSystem native_{"Splitter"};
    RecordingWindowSystem window_{native_};
    frmSplitter form_{window_};
    DialogSeen dialog_;
    std::vector<std::string> answers_;  // paths the dialog returns, in order
    TempDir dir_;
};

TEST_F(Win32WindowTest, WindowMakeUp) {
    Open();
    const HWND form = native_.window();
    EXPECT_EQ(WindowText(form), L"Tarvo's File Splitter...");
    const auto style = static_cast<DWORD>(GetWindowLongW(form, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_DLGFRAME), 0u) << "no border";
    EXPECT_NE(style & WS_POPUP, 0u);
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);
    RECT client{};
    GetClientRect(form, &client);
    EXPECT_EQ(client.right, px(6000));
    EXPECT_EQ(client.bottom, px(3000));
    // The DPI the test runs at (scripts/wine-run sets it), and the pixel sizes it gives.
    const char* dpi = std::getenv("SPLITTER_WINE_DPI");
    EXPECT_EQ(native_.dpi(), dpi != nullptr ? std::atoi(dpi) : 96);
    EXPECT_EQ(client.right, native_.dpi() * 400 / 96);
    EXPECT_EQ(client.bottom, native_.dpi() * 200 / 96);
    // Centred in the work area.
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT frame{};
    GetWindowRect(form, &frame);
    EXPECT_LE(std::abs((frame.left + frame.right) - (area.left + area.right)), 1);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (area.top + area.bottom)), 1);
    // The icon of the resources, 32 x 32.
    const auto icon = reinterpret_cast<HICON>(SendMessageW(form, WM_GETICON, ICON_BIG, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP mask{};
    GetObjectW(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, GetSystemMetrics(SM_CXICON));
    DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    // The background picture: its caption band is blue, its face a light grey-blue.
    RedrawWindow(form, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const HDC dc = GetDC(form);
    const COLORREF band = GetPixel(dc, px(6000) / 2, px(300));
    const COLORREF face = GetPixel(dc, px(300), px(2700));
    ReleaseDC(form, dc);
    EXPECT_GT(GetBValue(band), GetRValue(band) + 40) << std::hex << band;
    EXPECT_GT(GetRValue(face), 200) << std::hex << face;
    EXPECT_GE(GetBValue(face), GetRValue(face)) << std::hex << face;
}

TEST_F(Win32WindowTest, ControlsAsLaidOut) {
    Open();
    const HWND form = native_.window();
    const int fontHeight = -MulDiv(825, native_.dpi(), 7200);
    for (const ControlLayout& c : kFormLayout) {
        SCOPED_TRACE(std::string(c.name));
        const HWND control = h(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(GetDlgItem(form, ControlId(c.id)), control);
        EXPECT_EQ(WindowText(control), Widen(std::string(c.caption)));
        const auto style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
        const RECT rect = ClientRectOf(control, form);
        EXPECT_EQ(rect.left, px(c.left));
        EXPECT_EQ(rect.top, px(c.top));
        switch (c.kind) {
            case ControlKind::kButton:
                EXPECT_EQ(ClassOf(control), L"Button");
                EXPECT_EQ(style & BS_TYPEMASK, static_cast<DWORD>(BS_OWNERDRAW))
                    << "not a default button";
                break;
            case ControlKind::kTextBox:
                EXPECT_EQ(ClassOf(control), L"Edit");
                EXPECT_GE(static_cast<DWORD>(SendMessageW(control, EM_GETLIMITTEXT, 0, 0)),
                          0x7FFFFFFEu);
                break;
            case ControlKind::kLabel:
                EXPECT_EQ(ClassOf(control), L"Static");
                EXPECT_NE(style & SS_NOPREFIX, 0u);
                EXPECT_EQ(style & WS_TABSTOP, 0u);
                break;
        }
        if (c.kind == ControlKind::kLabel) {
            // Labels grow to fit their captions, never below their designed size.
            EXPECT_GE(rect.right - rect.left, px(c.width));
            EXPECT_GE(rect.bottom - rect.top, px(c.height));
        } else {
            EXPECT_EQ(rect.right - rect.left, px(c.width));
            EXPECT_EQ(rect.bottom - rect.top, px(c.height));
            EXPECT_NE(style & WS_TABSTOP, 0u);
        }
        LOGFONTW font{};
        const auto hfont = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        ASSERT_NE(hfont, nullptr);
        GetObjectW(hfont, sizeof font, &font);
        EXPECT_STREQ(font.lfFaceName, L"Tahoma");
        EXPECT_EQ(font.lfHeight, fontHeight);
        EXPECT_EQ(font.lfWeight, c.bold ? 700 : 400);
    }
}

TEST_F(Win32WindowTest, TabOrder) {
    Open();
    // The dialog manager's Tab follows the order of the child windows: that of the layout.
    std::vector<HWND> expected;
    for (const ControlLayout& c : kFormLayout) {
        if (c.kind != ControlKind::kLabel) expected.push_back(h(c.id));
    }
    std::vector<HWND> stops;
    for (HWND child = GetWindow(native_.window(), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0) stops.push_back(child);
    }
    EXPECT_EQ(stops, expected);
    // With Split enabled, Tab walks all five and comes back round; Split is skipped while
    // disabled.
    EXPECT_EQ(GetNextDlgTabItem(native_.window(), h(Control::txtSelectedFile), FALSE),
              h(Control::cmdExit));
    EnableWindow(h(Control::cmdSplit), TRUE);
    HWND at = h(Control::cmdSelectFile);
    for (std::size_t i = 1; i <= expected.size(); ++i) {
        at = GetNextDlgTabItem(native_.window(), at, FALSE);
        EXPECT_EQ(at, expected[i % expected.size()]) << i;
    }
}

TEST_F(Win32WindowTest, StartState) {
    Open();
    Pump();
    EXPECT_FALSE(IsWindowVisible(h(Control::lblFileSize)));
    EXPECT_FALSE(IsWindowVisible(h(Control::lblbytes)));
    EXPECT_TRUE(IsWindowVisible(h(Control::lblStatus)));
    EXPECT_FALSE(IsWindowEnabled(h(Control::cmdSplit)));
    EXPECT_TRUE(IsWindowEnabled(h(Control::cmdSelectFile)));
    EXPECT_TRUE(IsWindowEnabled(h(Control::cmdExit)));
    EXPECT_EQ(Caption(Control::lblStatus), "Ready...");
    EXPECT_EQ(Caption(Control::txtNoOfParts), "");
    EXPECT_EQ(Caption(Control::txtSelectedFile), "");
    EXPECT_EQ(GetFocus(), h(Control::cmdSelectFile));
}

TEST_F(Win32WindowTest, WholeRunFromBrowseToDone) {
    Open();
    const std::string path = dir_ / "report.pdf";
    WriteBytes(path, PatternBytes(100000));
    Browse(path);
    EXPECT_EQ(dialog_.calls, 1);
    EXPECT_EQ(dialog_.owner, native_.window());
    EXPECT_EQ(dialog_.flags, 0x1004u);
    EXPECT_EQ(dialog_.filter, std::wstring(L"All Files (*.*)\0*.*\0\0", 21));
    EXPECT_EQ(Narrow(dialog_.initialFolder), native_.AppPath());
    EXPECT_EQ(Caption(Control::txtSelectedFile), path);
    EXPECT_TRUE(IsWindowVisible(h(Control::lblFileSize)));
    EXPECT_TRUE(IsWindowVisible(h(Control::lblbytes)));
    EXPECT_EQ(Caption(Control::lblbytes), "100000 Bytes.");
    EXPECT_TRUE(IsWindowEnabled(h(Control::cmdSplit)));

    Type(Control::txtNoOfParts, L"7");
    EXPECT_EQ(Caption(Control::txtNoOfParts), "7");
    Click(Control::cmdSplit);
    ASSERT_TRUE(PumpUntil([&] { return Caption(Control::lblStatus) == "Done !"; }));
    EXPECT_FALSE(IsWindowEnabled(h(Control::cmdSplit)));
    ASSERT_FALSE(window_.statuses.empty());
    EXPECT_EQ(window_.statuses.front(), "Splitting... ");
    EXPECT_EQ(window_.statuses.back(), "Done !");
    EXPECT_EQ(window_.statuses.size(), 102u);  // "Splitting... ", 1 % to 100 %, "Done !"

    std::string joined;
    for (int k = 0; k < 7; ++k) joined += ReadBytes(path + "." + std::to_string(k));
    EXPECT_TRUE(joined == ReadBytes(path));
    EXPECT_EQ(std::filesystem::file_size(path + ".0"), 14286u);
    const std::string script = ReadBytes(path + ".bat");
    EXPECT_NE(script.find("copy /b \"report.pdf.0\"+"), std::string::npos) << script;
    EXPECT_NE(script.find("\"report.pdf.6\" report.pdf"), std::string::npos) << script;
    EXPECT_EQ(window_.ends, 0);
}

TEST_F(Win32WindowTest, NonAsciiNameEndToEnd) {
    Open();
    const std::filesystem::path file =
        dir_.path() / std::filesystem::path(L"r\u00e9sum\u00e9 \u00fc.txt");
    WriteBytes(file, "0123456789");
    const std::string path = Narrow(file.wstring());
    Browse(path);
    EXPECT_EQ(Caption(Control::txtSelectedFile), path);
    EXPECT_EQ(Caption(Control::lblbytes), "10 Bytes.");
    Type(Control::txtNoOfParts, L"3");
    Click(Control::cmdSplit);
    ASSERT_TRUE(PumpUntil([&] { return Caption(Control::lblStatus) == "Done !"; }));
    EXPECT_TRUE(std::filesystem::exists(file.wstring() + L".2"));
    // The script names the parts in the OEM code page (437 here: é is 0x82, ü 0x81).
    const std::string script = ReadBytes(std::filesystem::path(file.wstring() + L".bat"));
    if (GetOEMCP() == 437) {
        EXPECT_NE(script.find("\"r\x82sum\x82 \x81.txt.2\""), std::string::npos) << script;
    }
}

TEST_F(Win32WindowTest, KeyboardAccessKeys) {
    Open();
    // Alt+S is inert while Split is disabled; Alt+B opens the dialog.
    AltKey(L's');
    EXPECT_EQ(window_.statuses.size(), 0u);
    const std::string path = dir_ / "data.bin";
    WriteBytes(path, PatternBytes(50));
    answers_.push_back(path);
    AltKey(L'b');
    EXPECT_EQ(dialog_.calls, 1);
    EXPECT_EQ(Caption(Control::lblbytes), "50 Bytes.");
    Type(Control::txtNoOfParts, L"5");
    AltKey(L'S');
    ASSERT_TRUE(PumpUntil([&] { return Caption(Control::lblStatus) == "Done !"; }));
    // Enter and Escape mean nothing: no button is the default or the cancel button.
    PostMessageW(h(Control::txtNoOfParts), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(h(Control::txtNoOfParts), WM_KEYDOWN, VK_ESCAPE, 1);
    Pump();
    EXPECT_EQ(window_.ends, 0);
    EXPECT_EQ(dialog_.calls, 1);
    AltKey(L'x');
    EXPECT_EQ(window_.ends, 1);
}

TEST_F(Win32WindowTest, MessageBoxesWithTheirStyles) {
    Open();
    // Nothing chosen: the Yes/No box (style 4), no icon. Yes shows the dialog again; No ends.
    {
        BoxAnswerer boxes({IDYES, IDNO});
        Click(Control::cmdSelectFile);  // no answers queued: the dialog is cancelled
        ASSERT_EQ(boxes.seen.size(), 2u);
        const SeenBox& box = boxes.seen[0];
        EXPECT_EQ(box.title, L"Error!");
        EXPECT_EQ(box.text, L"You must any file...\r\nDo you want to continue?");
        EXPECT_FALSE(box.icon);
        EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
    }
    EXPECT_EQ(dialog_.calls, 2);
    EXPECT_FALSE(IsWindowEnabled(h(Control::cmdSplit)));

    // Empty part count: the critical box (style 16) titled "Tarvo's Splitter".
    const std::string path = dir_ / "a.txt";
    WriteBytes(path, PatternBytes(10));
    Browse(path);
    EXPECT_EQ(Caption(Control::lblbytes), "10 Bytes.");
    {
        BoxAnswerer boxes({IDOK});
        Click(Control::cmdSplit);
        ASSERT_EQ(boxes.seen.size(), 1u);
        const SeenBox& box = boxes.seen[0];
        EXPECT_EQ(box.title, L"Tarvo's Splitter");
        EXPECT_EQ(box.text, L"Please Enter Number of Parts.");
        EXPECT_TRUE(box.icon);
        EXPECT_EQ(box.buttons, (std::vector<int>{IDOK}));
    }
    EXPECT_EQ(GetFocus(), h(Control::txtNoOfParts));

    // A failure of the run: the error box (style 0), no icon, the application's title.
    Browse(path);
    std::filesystem::remove(path);
    Type(Control::txtNoOfParts, L"2");
    {
        BoxAnswerer boxes({IDOK});
        Click(Control::cmdSplit);
        ASSERT_EQ(boxes.seen.size(), 1u);
        const SeenBox& box = boxes.seen[0];
        EXPECT_EQ(box.title, L"Splitter");
        EXPECT_EQ(box.text, L"Error 53: File not found (a.txt)");
        EXPECT_FALSE(box.icon);
        EXPECT_EQ(box.buttons, (std::vector<int>{IDOK}));
    }
}

// Drives the real open-file dialog of this thread from a timer: asks first for a file that
// does not exist (the dialog must refuse it with a box of its own), then for `path`.
class OpenDialogDriver {
public:
    explicit OpenDialogDriver(std::wstring path) : path_(std::move(path)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 50, &OpenDialogDriver::Tick);
    }
    ~OpenDialogDriver() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    OpenDialogDriver(const OpenDialogDriver&) = delete;
    OpenDialogDriver& operator=(const OpenDialogDriver&) = delete;

    bool seen = false;
    std::wstring title;
    std::vector<std::wstring> filters;  // the file-type list
    std::wstring folder;                // the "look in" box
    bool readOnlyBoxShown = true;
    bool refusedMissingFile = false;

private:
    // Control ids of the common dialog's template (dlgs.h).
    static constexpr int kReadOnlyBox = 0x410;    // chx1
    static constexpr int kFileTypes = 0x470;      // cmb1
    static constexpr int kLookIn = 0x471;         // cmb2
    static constexpr int kFileNameCombo = 0x47c;  // cmb13
    static constexpr int kFileNameEdit = 0x480;   // edt1

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (current_ != nullptr)
            EnumThreadWindows(GetCurrentThreadId(), &OpenDialogDriver::Look, 0);
    }
    static BOOL CALLBACK Look(HWND window, LPARAM) {
        if (ClassOf(window) != L"#32770" || !IsWindowVisible(window)) return TRUE;
        OpenDialogDriver& self = *current_;
        if (GetDlgItem(window, kFileTypes) == nullptr) {
            // A box of the dialog's own: the refusal of the missing file.
            if (self.step_ == 1) {
                self.refusedMissingFile = true;
                self.step_ = 2;
                PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
            return FALSE;
        }
        if (self.step_ == 0) {
            self.seen = true;
            self.title = WindowText(window);
            const HWND readOnly = GetDlgItem(window, kReadOnlyBox);
            self.readOnlyBoxShown = readOnly != nullptr && IsWindowVisible(readOnly);
            const HWND types = GetDlgItem(window, kFileTypes);
            const auto count = SendMessageW(types, CB_GETCOUNT, 0, 0);
            for (LRESULT i = 0; i < count; ++i) {
                std::wstring item(static_cast<std::size_t>(SendMessageW(types, CB_GETLBTEXTLEN,
                                                                        static_cast<WPARAM>(i), 0)),
                                  L'\0');
                item.push_back(L'\0');
                SendMessageW(types, CB_GETLBTEXT, static_cast<WPARAM>(i),
                             reinterpret_cast<LPARAM>(item.data()));
                item.pop_back();
                self.filters.push_back(item);
            }
            self.folder = WindowText(GetDlgItem(window, kLookIn));
            self.Enter(window, self.path_ + L".missing");
            self.step_ = 1;
        } else if (self.step_ == 2) {
            self.Enter(window, self.path_);
            self.step_ = 3;
        }
        return FALSE;
    }
    void Enter(HWND dialog, const std::wstring& name) {
        HWND box = GetDlgItem(dialog, kFileNameCombo);
        if (box == nullptr) box = GetDlgItem(dialog, kFileNameEdit);
        SetWindowTextW(box, name.c_str());
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }

    static inline OpenDialogDriver* current_ = nullptr;
    std::wstring path_;
    int step_ = 0;
    UINT_PTR timer_ = 0;
};

TEST_F(Win32WindowTest, RealOpenDialog) {
    native_.SetOpenDialog([](OPENFILENAMEW& ofn) { return GetOpenFileNameW(&ofn); });
    Open();
    const std::string path = dir_ / "holiday.mp4";
    WriteBytes(path, PatternBytes(4321));
    {
        OpenDialogDriver driver(Widen(path));
        Click(Control::cmdSelectFile);
        ASSERT_TRUE(driver.seen);
        EXPECT_EQ(driver.title, L"Open");
        // Flag 0x4: no read-only box. Flag 0x1000: a missing file is refused by the dialog.
        EXPECT_FALSE(driver.readOnlyBoxShown);
        EXPECT_TRUE(driver.refusedMissingFile);
        EXPECT_EQ(driver.filters, std::vector<std::wstring>{L"All Files (*.*)"});
        // It opened in the program's folder.
        const std::string app = native_.AppPath();
        EXPECT_EQ(Narrow(driver.folder), app.substr(app.find_last_of('\\') + 1));
    }
    EXPECT_EQ(Caption(Control::txtSelectedFile), path);
    EXPECT_EQ(Caption(Control::lblbytes), "4321 Bytes.");
    EXPECT_TRUE(IsWindowEnabled(h(Control::cmdSplit)));
}

TEST_F(Win32WindowTest, ExitAndClosing) {
    Open();
    Click(Control::cmdExit);
    EXPECT_EQ(window_.ends, 1);
    // Alt+F4, the task bar's Close: WM_CLOSE ends the program as Exit does.
    PostMessageW(native_.window(), WM_CLOSE, 0, 0);
    Pump();
    EXPECT_EQ(window_.ends, 2);
    EXPECT_TRUE(IsWindow(native_.window()));
}

// Clicks the given buttons once, from a timer, as soon as a run shows a percentage: the
// clicks reach the window through the run's own yields.
class ClickDuringRun {
public:
    ClickDuringRun(Win32WindowSystem& window, std::vector<Control> buttons)
        : window_(window), buttons_(std::move(buttons)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 20, &ClickDuringRun::Tick);
    }
    ~ClickDuringRun() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    ClickDuringRun(const ClickDuringRun&) = delete;
    ClickDuringRun& operator=(const ClickDuringRun&) = delete;

    std::string statusAtClick;  // empty until the clicks are made

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        ClickDuringRun* self = current_;
        if (self == nullptr || !self->statusAtClick.empty()) return;
        const std::string status = Narrow(WindowText(self->window_.handle(Control::lblStatus)));
        if (status.rfind("Splitting... [", 0) != 0) return;
        self->statusAtClick = status;
        for (const Control button : self->buttons_)
            PostMessageW(self->window_.handle(button), BM_CLICK, 0, 0);
    }

    static inline ClickDuringRun* current_ = nullptr;
    Win32WindowSystem& window_;
    std::vector<Control> buttons_;
    UINT_PTR timer_ = 0;
};

TEST_F(Win32WindowTest, WindowAnswersDuringALongRun) {
    SlowFileSystem slow;
    frmSplitter form(window_, slow);
    native_.Show(form);
    const std::string path = dir_ / "big.bin";
    WriteBytes(path, PatternBytes(1 << 20));
    Browse(path);
    Type(Control::txtNoOfParts, L"50");
    ClickDuringRun clicks(native_, {Control::cmdSelectFile, Control::cmdExit});
    Click(Control::cmdSplit);
    ASSERT_TRUE(PumpUntil([&] { return Caption(Control::lblStatus) == "Done !"; }, 60));
    // Exit was answered in the middle of the run (the recorded End), Browse was refused.
    EXPECT_NE(clicks.statusAtClick.find("% Completed. ]"), std::string::npos)
        << clicks.statusAtClick;
    EXPECT_EQ(window_.ends, 1);
    EXPECT_EQ(dialog_.calls, 1);
}

// Runs this test program again with only the named disabled test, and returns its exit status.
DWORD RunChild(const std::wstring& test) {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    std::wstring command =
        L"\"" + self + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + test;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 98;
    DWORD status = 99;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

// End ends the process at once, with status 0.
TEST(Win32WindowEndTest, EndEndsTheProcess) {
    EXPECT_EQ(RunChild(L"Win32WindowEndTest.DISABLED_ExitChild"), 0u);
}

// Exit in the middle of a run ends the process there, without a message: the parts written so
// far stay, the join script is never written.
TEST(Win32WindowEndTest, ExitDuringARunEndsTheProcess) {
    TempDir dir;
    const std::string path = dir / "big.bin";
    WriteBytes(path, PatternBytes(1 << 20));
    SetEnvironmentVariableW(L"SPLITTER_CHILD_FILE", Widen(path).c_str());
    EXPECT_EQ(RunChild(L"Win32WindowEndTest.DISABLED_ExitDuringARunChild"), 0u);
    SetEnvironmentVariableW(L"SPLITTER_CHILD_FILE", nullptr);
    EXPECT_TRUE(std::filesystem::exists(path + ".0"));
    EXPECT_FALSE(std::filesystem::exists(path + ".49"));
    EXPECT_FALSE(std::filesystem::exists(path + ".bat"));
}

// Run only by EndEndsTheProcess, in its child process.
TEST(Win32WindowEndTest, DISABLED_ExitChild) {
    Win32WindowSystem window("Splitter");
    frmSplitter form(window);
    window.Show(form);
    form.cmdExit_Click();
    std::_Exit(3);  // not reached when End ended the process
}

// Run only by ExitDuringARunEndsTheProcess, in its child process.
TEST(Win32WindowEndTest, DISABLED_ExitDuringARunChild) {
    wchar_t file[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"SPLITTER_CHILD_FILE", file, MAX_PATH), 0u);
    Win32WindowSystem window("Splitter");
    window.SetOpenDialog([&file](OPENFILENAMEW& ofn) {
        wcscpy(ofn.lpstrFile, file);
        const wchar_t* slash = wcsrchr(file, L'\\');
        wcscpy(ofn.lpstrFileTitle, slash + 1);
        return TRUE;
    });
    SlowFileSystem slow;
    frmSplitter form(window, slow);
    window.Show(form);
    form.cmdSelectFile_Click();
    window.SetText(Control::txtNoOfParts, "50");
    ClickDuringRun clicks(window, {Control::cmdExit});
    form.cmdSplit_Click();
    std::_Exit(3);  // not reached when Exit ended the process in the middle of the run
}

TEST(DialogFilterTest, PairsEndedByNuls) {
    struct Case {
        std::string filter;
        std::wstring expected;
    };
    const Case cases[] = {
        {"All Files (*.*)|*.*", std::wstring(L"All Files (*.*)\0*.*\0\0", 21)},
        {"Text|*.txt|All|*.*", std::wstring(L"Text\0*.txt\0All\0*.*\0\0", 20)},
    };
    for (const Case& c : cases) EXPECT_EQ(DialogFilter(c.filter), c.expected) << c.filter;
}

TEST(TwipsTest, ToPixelsAtDpi) {
    struct Case {
        int twips, dpi, pixels;
    };
    const Case cases[] = {
        {6000, 96, 400},  {3000, 96, 200},  {4635, 96, 309},  {1005, 96, 67}, {195, 96, 13},
        {6000, 120, 500}, {4635, 120, 386}, {6000, 144, 600}, {195, 144, 20}, {0, 96, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TwipsToPixelsAt(c.twips, c.dpi), c.pixels) << c.twips << " twips at " << c.dpi;
}

}  // namespace
}  // namespace splitter::win32
