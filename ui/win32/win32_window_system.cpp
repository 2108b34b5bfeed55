#include "ui/win32/win32_window_system.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <utility>

// After windows.h (through win32_window_system.h), which they need.
#include <commctrl.h>
#include <shellapi.h>

#include "files/failure.h"
#include "files/win32/unicode.h"
#include "ui/win32/resources.h"

namespace splitter::win32 {
namespace {

constexpr const wchar_t* kFormClass = L"SplitterForm";
constexpr int kTwipsPerInch = 1440;
constexpr COLORREF kButtonFace = RGB(kButtonFaceRed, kButtonFaceGreen, kButtonFaceBlue);
// Posted by Show to hand the file of the command line over from the message loop.
constexpr UINT kFileGivenMessage = WM_APP + 1;
// The least room between a caption label and what follows it on its row.
constexpr int kCaptionGapTwips = 45;

// A caption label and the control after it on its row: a value label, which may move right, or
// a text box, which keeps its place.
struct CaptionRow {
    Control caption, next;
    bool nextMoves;
};
constexpr CaptionRow kCaptionRows[] = {
    {Control::lblSelectFileText, Control::txtSelectedFile, false},
    {Control::lblNoOfParts, Control::txtNoOfParts, false},
    {Control::lblFileSize, Control::lblbytes, true},
    {Control::lblStatusText, Control::lblStatus, true},
};

const ControlLayout& LayoutOf(Control control) {
    return kFormLayout[static_cast<std::size_t>(control)];
}

std::wstring Wide(std::string_view text) {
    return Widen(std::string(text));
}

// The character after '&' in a caption, lower-cased; 0 when there is none.
wchar_t AccessKeyOf(std::string_view caption) {
    const std::size_t amp = caption.find('&');
    if (amp == std::string_view::npos || amp + 1 >= caption.size()) return 0;
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(caption[amp + 1])));
}

int ScreenDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// `width`: the average character width in pixels, 0 for the face's own.
HFONT MakeFont(int dpi, bool bold, int width = 0) {
    // 8.25 pt: the character height, hence the minus sign.
    const int height = -MulDiv(825, dpi, 7200);
    return CreateFontW(height, width, 0, 0, bold ? kBoldWeight : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, Wide(kFontName).c_str());
}

// The background picture for a window of `width` x `height` pixels at `dpi`: the one drawn for
// twice the pixel density above 96 DPI (at 192 DPI pixel for pixel; shrunk, it stays sharper than
// the 400 x 200 one grown), scaled to the window with HALFTONE, which averages the pixels that
// LoadImage's own scaling would drop or repeat. Null when the program has no such resource (a
// test).
HBITMAP LoadBackground(HINSTANCE instance, int dpi, int width, int height) {
    const int id = dpi > 96 ? SPLITTER_IDB_BACKGROUND_2X : SPLITTER_IDB_BACKGROUND;
    const auto picture = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (picture == nullptr) return nullptr;
    BITMAP size{};
    GetObjectW(picture, sizeof size, &size);
    if (size.bmWidth == width && std::abs(size.bmHeight) == height) return picture;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP scaled = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (scaled != nullptr) {
        const HDC from = CreateCompatibleDC(nullptr);
        const HDC to = CreateCompatibleDC(nullptr);
        const HGDIOBJ oldFrom = SelectObject(from, picture);
        const HGDIOBJ oldTo = SelectObject(to, scaled);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        StretchBlt(to, 0, 0, width, height, from, 0, 0, size.bmWidth, std::abs(size.bmHeight),
                   SRCCOPY);
        SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
        DeleteDC(from);
        DeleteDC(to);
    }
    DeleteObject(picture);
    return scaled;
}

void RegisterFormClass(HINSTANCE instance, HICON icon, HICON smallIcon, WNDPROC proc) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, kFormClass, &existing)) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.hIconSm = smallIcon;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = kFormClass;
    RegisterClassExW(&wc);
}

}  // namespace

std::wstring DialogFilter(const std::string& filter) {
    std::wstring wide = Widen(filter);
    std::replace(wide.begin(), wide.end(), L'|', L'\0');
    wide.push_back(L'\0');
    wide.push_back(L'\0');
    return wide;
}

int TwipsToPixelsAt(int twips, int dpi) {
    return MulDiv(twips, dpi, kTwipsPerInch);
}

std::string FileArgument(const wchar_t* commandLine) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(commandLine, &count);
    if (arguments == nullptr) return {};
    std::wstring given = count >= 2 ? arguments[1] : L"";
    LocalFree(arguments);
    if (given.empty()) return {};
    // Relative to the current folder, as the program was started.
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return Narrow(given);
        if (length < full.size()) {
            full.resize(length);
            return Narrow(full);
        }
        full.resize(length);
    }
}

Win32WindowSystem::Win32WindowSystem(std::string appTitle)
    : appTitle_(std::move(appTitle)),
      instance_(GetModuleHandleW(nullptr)),
      openDialog_([](OPENFILENAMEW& ofn) { return GetOpenFileNameW(&ofn); }) {
    // The manifest asks for common controls 6, whose window classes are registered here. (It
    // also declares the program DPI aware, so the DPI read here is the screen's own.)
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    dpi_ = ScreenDpi();
    regularFont_ = MakeFont(dpi_, false);
    boldFont_ = MakeFont(dpi_, true);
    buttonFace_ = CreateSolidBrush(kButtonFace);

    const int width = Pixels(kFormWidthTwips);
    const int height = Pixels(kFormHeightTwips);
    // The program without its resources (a test) gets the plain face colour instead.
    background_ = LoadBackground(instance_, dpi_, width, height);
    if (background_ != nullptr) backgroundBrush_ = CreatePatternBrush(background_);
    icon_ =
        static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(SPLITTER_IDI_ICON), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(SPLITTER_IDI_ICON),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    RegisterFormClass(instance_, icon_, smallIcon_, &Win32WindowSystem::FormProc);

    // No border and no title bar: the background picture draws the frame. The system menu
    // keeps Alt+F4 and the task bar button's Close. Files can be dropped onto the window.
    const DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX;
    const DWORD exStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW | WS_EX_ACCEPTFILES;
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    form_ = CreateWindowExW(exStyle, kFormClass, Wide(kFormCaption).c_str(), style, 0, 0,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            instance_, this);
    if (icon_ != nullptr)
        SendMessageW(form_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    if (smallIcon_ != nullptr)
        SendMessageW(form_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    CreateControls();
}

Win32WindowSystem::~Win32WindowSystem() {
    events_ = nullptr;
    if (form_ != nullptr) {
        SetWindowLongPtrW(form_, GWLP_USERDATA, 0);
        DestroyWindow(form_);
    }
    for (const HFONT font : narrowFonts_) DeleteObject(font);
    for (HGDIOBJ object :
         {static_cast<HGDIOBJ>(regularFont_), static_cast<HGDIOBJ>(boldFont_),
          static_cast<HGDIOBJ>(background_), static_cast<HGDIOBJ>(backgroundBrush_),
          static_cast<HGDIOBJ>(buttonFace_)}) {
        if (object != nullptr) DeleteObject(object);
    }
    if (icon_ != nullptr) DestroyIcon(icon_);
    if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void Win32WindowSystem::CreateControls() {
    // Created in tab order, which is the order the dialog manager's Tab follows.
    for (const ControlLayout& c : kFormLayout) {
        const wchar_t* windowClass = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        switch (c.kind) {
            case ControlKind::kButton:
                // Owner-drawn: the light grey face of a graphical button.
                windowClass = L"BUTTON";
                style |= WS_TABSTOP | BS_OWNERDRAW;
                break;
            case ControlKind::kTextBox:
                windowClass = L"EDIT";
                style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
                if (IsReadOnly(c.id)) style |= ES_READONLY;
                exStyle |= WS_EX_CLIENTEDGE;
                break;
            case ControlKind::kLabel: style |= SS_LEFT | SS_NOPREFIX; break;
        }
        const HWND control = CreateWindowExW(
            exStyle, windowClass, Wide(c.caption).c_str(), style, Pixels(c.left), Pixels(c.top),
            Pixels(c.width), Pixels(c.height), form_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(c.id))), instance_, nullptr);
        controls_[static_cast<std::size_t>(c.id)] = control;
        fonts_[static_cast<std::size_t>(c.id)] = c.bold ? boldFont_ : regularFont_;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(c.id)), FALSE);
        if (c.kind == ControlKind::kTextBox)
            SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // no limit
        if (c.kind == ControlKind::kLabel) SetCaption(c.id, std::string(c.caption));
    }
    // A screen reader names a control by the label right before it in the z-order (a text box
    // by its label, the status by "Status:"): move each label there, which leaves the order of
    // the controls Tab stops at as it is.
    for (const auto& table : {kBoxLabels, kCaptionLabels}) {
        for (const auto& [label, named] : table) {
            const HWND before = GetWindow(handle(named), GW_HWNDPREV);
            SetWindowPos(handle(label), before != nullptr ? before : HWND_TOP, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    FitCaptions();
}

int Win32WindowSystem::TextWidth(Control control, const std::wstring& text) const {
    const HWND window = handle(control);
    const HDC dc = GetDC(window);
    const HGDIOBJ oldFont = SelectObject(dc, FontOf(control));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, oldFont);
    ReleaseDC(window, dc);
    return static_cast<int>(extent.cx);
}

void Win32WindowSystem::FitCaptions() {
    // The layout's widths were made for Tahoma's bold as Windows drew it in its day; other
    // renderings of the face (wine's) and other DPIs draw "File Size:" wider, up against its
    // value, and "No Of Parts:" up against its box.
    const int gap = Pixels(kCaptionGapTwips);
    for (const CaptionRow& row : kCaptionRows) {
        const ControlLayout& caption = LayoutOf(row.caption);
        const ControlLayout& next = LayoutOf(row.next);
        const std::wstring text = Wide(caption.caption);
        const int start = Pixels(caption.left);
        if (row.nextMoves) {
            const int left =
                std::max(Pixels(next.left), start + TextWidth(row.caption, text) + gap);
            SetWindowPos(handle(row.next), nullptr, left, Pixels(next.top), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            continue;
        }
        const int room = Pixels(next.left) - gap - start;
        if (TextWidth(row.caption, text) <= room) continue;
        // Narrower characters, a pixel at a time, until the caption fits.
        TEXTMETRICW metrics{};
        const HWND label = handle(row.caption);
        const HDC dc = GetDC(label);
        const HGDIOBJ oldFont = SelectObject(dc, FontOf(row.caption));
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, oldFont);
        ReleaseDC(label, dc);
        const auto index = static_cast<std::size_t>(row.caption);
        const HFONT designed = fonts_[index];
        for (int width = metrics.tmAveCharWidth - 1; width > metrics.tmAveCharWidth / 2; --width) {
            const HFONT narrow = MakeFont(dpi_, caption.bold, width);
            fonts_[index] = narrow;
            if (TextWidth(row.caption, text) <= room) {
                narrowFonts_.push_back(narrow);
                SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(narrow), FALSE);
                SetCaption(row.caption, std::string(caption.caption));
                break;
            }
            fonts_[index] = designed;
            DeleteObject(narrow);
        }
    }
}

void Win32WindowSystem::Show(WindowEvents& events, const std::string& file) {
    events_ = &events;
    events.Load();
    // There may be no window manager to place the window (wine on Xvfb): place it ourselves.
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT frame{};
    GetWindowRect(form_, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(form_, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(form_, SW_SHOW);
    UpdateWindow(form_);
    SetForegroundWindow(form_);
    ::SetFocus(handle(kFormLayout.front().id));
    if (!file.empty()) {
        // From the message loop, once the window is up: a message box about the file opens
        // over the window.
        givenFile_ = file;
        PostMessageW(form_, kFileGivenMessage, 0, 0);
    }
}

int Win32WindowSystem::Run(WindowEvents& events, const std::string& file) {
    Show(events, file);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

bool Win32WindowSystem::PreTranslate(MSG& message) {
    if (form_ == nullptr || (message.hwnd != form_ && !IsChild(form_, message.hwnd))) return false;
    if (message.message == WM_SYSCHAR) {
        // Alt+B, Alt+S, Alt+X click their buttons; a disabled button's key is inert.
        const auto key = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(message.wParam)));
        for (const ControlLayout& c : kFormLayout) {
            if (c.kind != ControlKind::kButton || AccessKeyOf(c.caption) != key) continue;
            const HWND button = handle(c.id);
            if (IsWindowEnabled(button) && IsWindowVisible(button)) {
                ::SetFocus(button);
                SendMessageW(button, BM_CLICK, 0, 0);
            }
            return true;
        }
    }
    return IsDialogMessageW(form_, &message) != FALSE;
}

LRESULT CALLBACK Win32WindowSystem::FormProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<Win32WindowSystem*>(create->lpCreateParams);
        self->form_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32WindowSystem*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    // The window's last trap: no exception unwinds through Windows' own frames. The form's
    // handlers and the runs trap their failures; whatever gets past them is shown as any
    // failure is and ends the program with status 1.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        EndOnFailure(window);
    }
}

void EndOnFailure(HWND owner) {
    const std::string text = CurrentFailure().Message();
    // Bytes that are not UTF-8 (a name shown as it is) become U+FFFD here, not a second failure.
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    MessageBoxW(owner, wide.c_str(), L"Splitter", MB_ICONERROR);
    std::fflush(nullptr);
    ExitProcess(1);
}

LRESULT Win32WindowSystem::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // While the logic takes no drop (a run), the window takes none, so the cursor shows no
    // drop; it takes them again with the first message after.
    if (events_ != nullptr && events_->TakesDrops() != takesDrops_) {
        takesDrops_ = !takesDrops_;
        DragAcceptFiles(form_, takesDrops_ ? TRUE : FALSE);
    }
    switch (message) {
        case WM_ERASEBKGND: PaintBackground(reinterpret_cast<HDC>(wParam)); return 1;
        case WM_CTLCOLORSTATIC: {
            // The labels show the background picture through: their brush is the picture,
            // shifted so that it lines up with the window's.
            const auto control = reinterpret_cast<HWND>(lParam);
            const auto dc = reinterpret_cast<HDC>(wParam);
            if (GetParent(control) != form_ || backgroundBrush_ == nullptr) break;
            // A read-only text box asks too: it keeps the face of a box that cannot be typed in.
            if (control == handle(Control::txtSelectedFile) ||
                control == handle(Control::txtNoOfParts))
                break;
            POINT origin{0, 0};
            MapWindowPoints(control, form_, &origin, 1);
            SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(backgroundBrush_);
        }
        case WM_DRAWITEM: DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
        case WM_NCHITTEST: {
            // The window has no title bar: its background, the painted title among it, moves
            // it as a title bar would. The labels let the hit through to it.
            const LRESULT hit = DefWindowProcW(form_, message, wParam, lParam);
            return hit == HTCLIENT ? HTCAPTION : hit;
        }
        case WM_COMMAND: {
            // Only the buttons' clicks: IDOK and IDCANCEL, which the dialog manager sends for
            // Enter and Escape, mean nothing here.
            if (HIWORD(wParam) != BN_CLICKED || lParam == 0 || events_ == nullptr) return 0;
            const int id = LOWORD(wParam);
            for (const ControlLayout& c : kFormLayout) {
                if (c.kind == ControlKind::kButton && ControlId(c.id) == id &&
                    handle(c.id) == reinterpret_cast<HWND>(lParam)) {
                    events_->Click(c.id);
                    break;
                }
            }
            return 0;
        }
        case WM_ACTIVATE:
            // Give the focus back to the control that had it when the window was left.
            if (LOWORD(wParam) == WA_INACTIVE) {
                const HWND focus = GetFocus();
                if (focus != nullptr && IsChild(form_, focus)) lastFocus_ = focus;
            } else if (lastFocus_ != nullptr && IsWindow(lastFocus_)) {
                ::SetFocus(lastFocus_);
            }
            return 0;
        case WM_DROPFILES: {
            // The files dropped; the window's logic takes one as Browse would.
            const auto drop = reinterpret_cast<HDROP>(wParam);
            std::vector<std::string> paths;
            const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
            for (UINT k = 0; k < count; ++k) {
                std::wstring path(DragQueryFileW(drop, k, nullptr, 0) + 1, L'\0');
                path.resize(DragQueryFileW(drop, k, path.data(), static_cast<UINT>(path.size())));
                if (!path.empty()) paths.push_back(Narrow(path));
            }
            DragFinish(drop);
            if (!paths.empty() && events_ != nullptr) events_->FilesDropped(paths);
            return 0;
        }
        case kFileGivenMessage:
            if (events_ != nullptr && !givenFile_.empty())
                events_->FileGiven(std::exchange(givenFile_, std::string()));
            return 0;
        case WM_CLOSE:
            // Any way of closing other than Exit ends the program as Exit does.
            if (events_ != nullptr) {
                events_->Closing();
            } else {
                DestroyWindow(form_);
            }
            return 0;
        case WM_DESTROY:
            form_ = nullptr;
            PostQuitMessage(0);
            return 0;
        default: break;
    }
    return DefWindowProcW(form_, message, wParam, lParam);
}

void Win32WindowSystem::PaintBackground(HDC dc) const {
    RECT client{};
    GetClientRect(form_, &client);
    if (background_ == nullptr) {
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        return;
    }
    const HDC memory = CreateCompatibleDC(dc);
    const HGDIOBJ old = SelectObject(memory, background_);
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void Win32WindowSystem::DrawButton(const DRAWITEMSTRUCT& item) const {
    const HDC dc = item.hDC;
    RECT rect = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    FillRect(dc, &rect, buttonFace_);
    DrawEdge(dc, &rect, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

    wchar_t caption[64] = {};
    GetWindowTextW(item.hwndItem, caption, static_cast<int>(std::size(caption)));
    const HGDIOBJ oldFont = SelectObject(dc, regularFont_);
    SetBkMode(dc, TRANSPARENT);
    RECT text = rect;
    if (pressed) OffsetRect(&text, 1, 1);
    UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    if ((item.itemState & ODS_NOACCEL) != 0) format |= DT_HIDEPREFIX;
    if (disabled) {
        // Etched, as Windows draws a disabled caption.
        RECT shadow = text;
        OffsetRect(&shadow, 1, 1);
        SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
        DrawTextW(dc, caption, -1, &shadow, format);
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    } else {
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    }
    DrawTextW(dc, caption, -1, &text, format);
    SelectObject(dc, oldFont);

    if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
        RECT focus = rect;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(dc, &focus);
    }
}

void Win32WindowSystem::SetCaption(Control label, const std::string& text) {
    const HWND control = handle(label);
    const std::wstring wide = Widen(text);
    RECT before{};
    GetWindowRect(control, &before);
    MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&before), 2);
    SetWindowTextW(control, wide.c_str());
    // Said to screen readers, which follow the status by its name.
    if (label == Control::lblStatus)
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
    // A label grows to fit its caption, from its left and top, and never shrinks below its
    // designed size.
    const ControlLayout& layout = LayoutOf(label);
    SIZE extent{};
    const HDC dc = GetDC(control);
    const HGDIOBJ oldFont = SelectObject(dc, FontOf(label));
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    SelectObject(dc, oldFont);
    ReleaseDC(control, dc);
    // No bits copied: a label that grows would keep its old text where it was and repaint only
    // the new strip, leaving a longer caption garbled ("1048576 ytes.").
    SetWindowPos(control, nullptr, 0, 0,
                 std::max(Pixels(layout.width), static_cast<int>(extent.cx)),
                 std::max(Pixels(layout.height), static_cast<int>(extent.cy)),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    // Its old and new areas are painted afresh, background first: the label is transparent.
    RECT after{};
    GetWindowRect(control, &after);
    MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&after), 2);
    RECT both{};
    UnionRect(&both, &before, &after);
    RedrawWindow(form_, &both, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Win32WindowSystem::SetVisible(Control control, bool visible) {
    ShowWindow(handle(control), visible ? SW_SHOWNA : SW_HIDE);
}

std::string Win32WindowSystem::Text(Control textBox) {
    const HWND control = handle(textBox);
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return Narrow(text);
}

void Win32WindowSystem::SetText(Control textBox, const std::string& text) {
    const HWND control = handle(textBox);
    SetWindowTextW(control, Widen(text).c_str());
    // The caret at the end, so that a long path shows its end: the file's name.
    const LRESULT end = GetWindowTextLengthW(control);
    SendMessageW(control, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(control, EM_SCROLLCARET, 0, 0);
}

void Win32WindowSystem::SetFocus(Control control) {
    ::SetFocus(handle(control));
}

void Win32WindowSystem::SetEnabled(Control button, bool enabled) {
    const HWND control = handle(button);
    // A disabled window that keeps the focus would swallow every key. Split disables itself at
    // its own click: the status takes the focus, so a screen reader says the run's texts as they
    // change rather than "Exit button"; Tab goes on from there.
    if (!enabled && GetFocus() == control) ::SetFocus(handle(Control::lblStatus));
    EnableWindow(control, enabled ? TRUE : FALSE);
}

int Win32WindowSystem::MsgBox(const std::string& prompt, int style, const std::string& title) {
    // The style goes to MessageBox as it is: 0, 16 and 4 are MB_OK, MB_ICONSTOP and MB_YESNO,
    // and the answers IDOK, IDYES and IDNO are the values the window's logic tests for.
    const int answer =
        MessageBoxW(form_, Widen(prompt).c_str(), Widen(title.empty() ? appTitle_ : title).c_str(),
                    static_cast<UINT>(style));
    if (answer != 0) return answer;
    return (style & 0xF) == kMsgYesNo ? kMsgNo : kMsgOk;
}

OpenFileResult Win32WindowSystem::ShowOpen(const OpenFileRequest& request) {
    // Room for the longest path Windows allows.
    std::wstring file(32768, L'\0');
    std::wstring title(MAX_PATH + 1, L'\0');
    const std::wstring filter = DialogFilter(request.filter);
    const std::wstring folder = Widen(request.initialFolder);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = form_;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrFileTitle = title.data();
    ofn.nMaxFileTitle = static_cast<DWORD>(title.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.Flags = static_cast<DWORD>(request.flags);
    // Cancelled, or failed (a name too long for the buffers): nothing was chosen.
    if (!openDialog_(ofn)) return {};
    file.resize(file.find(L'\0'));
    title.resize(title.find(L'\0'));
    if (title.empty() && ofn.nFileOffset < file.size()) title = file.substr(ofn.nFileOffset);
    return {Narrow(file), Narrow(title)};
}

std::string Win32WindowSystem::AppPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (got == 0) return {};
        if (got < path.size()) {
            path.resize(got);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return Narrow(slash == std::wstring::npos ? path : path.substr(0, slash));
}

void Win32WindowSystem::DoEvents() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Leave it for the message loop, which ends on it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (!PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void Win32WindowSystem::End() {
    // At once: not a quit message that waits for the run to return to the message loop.
    std::fflush(nullptr);
    ExitProcess(0);
}

}  // namespace splitter::win32
