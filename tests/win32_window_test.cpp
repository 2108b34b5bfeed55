// The real Win32 window (under wine and Xvfb here): its make-up and start state read back
// through the Win32 API, the keyboard, the real message boxes, and whole runs driven by
// messages, with the open-file dialog answered by the test. One scenario runs in a child
// process: End must end the process. Nothing here waits without a bound: every dialog is
// answered as it is shown (DialogWatch), and every test has a bound of its own (TestBound).
#include "ui/win32/win32_window_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// After windows.h (through win32_window_system.h), which they need.
#include <shlobj.h>
#include <shlwapi.h>

#include "files/win32/unicode.h"
#include "test_support.h"
#include "ui/win32/resources.h"
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

// The width of a control's text in the font it draws with, in pixels.
int TextWidthOf(HWND control) {
    const std::wstring text = WindowText(control);
    const HDC dc = GetDC(control);
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return static_cast<int>(extent.cx);
}

// The pixels of `area` of what `dc` draws on.
std::vector<std::uint32_t> Grab(HDC dc, const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const HDC memory = CreateCompatibleDC(dc);
    const HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, dc, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}

// The pixels of `area` of a window as it shows them now.
std::vector<std::uint32_t> Grab(HWND window, const RECT& area) {
    const HDC dc = GetDC(window);
    std::vector<std::uint32_t> pixels = Grab(dc, area);
    ReleaseDC(window, dc);
    return pixels;
}

// A drop as the shell makes it: an HDROP naming one file, posted to the window.
void Drop(HWND window, const std::wstring& path) {
    const SIZE_T size = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GHND, size);  // zeroed: the list ends with two NULs
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::copy(path.begin(), path.end(), reinterpret_cast<wchar_t*>(drop + 1));
    GlobalUnlock(memory);
    PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

using Clock = std::chrono::steady_clock;

// A dialog or message box closes within a second of its answer; this long after it was shown,
// the test gives up on it.
constexpr auto kDialogBound = std::chrono::seconds(10);
// The longest test takes some 3 s. Past this bound a test gives up; if it is still running
// kStuckBound later, nothing reaches it any more and the program ends.
constexpr auto kTestBound = std::chrono::seconds(60);
constexpr auto kStuckBound = std::chrono::seconds(15);

// What the running test awaits, for the messages of the bounds (read by TestBound's thread).
std::mutex awaitedMutex;
std::string awaitedText;
void Await(std::string what) {
    const std::lock_guard lock(awaitedMutex);
    awaitedText = std::move(what);
}
std::string Awaited() {
    const std::lock_guard lock(awaitedMutex);
    return awaitedText.empty() ? "nothing in particular" : awaitedText;
}

std::string ButtonName(int button) {
    switch (button) {
        case IDOK: return "OK";
        case IDCANCEL: return "Cancel";
        case IDYES: return "Yes";
        case IDNO: return "No";
        default: return "button " + std::to_string(button);
    }
}

// A message box of this thread, as the test saw it before answering it.
struct SeenBox {
    std::wstring title;
    std::wstring text;
    bool icon = false;
    std::vector<int> buttons;  // IDOK, IDYES, IDNO...
};

BOOL CALLBACK LookAtChild(HWND child, LPARAM param) {
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

SeenBox Look(HWND box) {
    SeenBox seen;
    seen.title = WindowText(box);
    EnumChildWindows(box, &LookAtChild, reinterpret_cast<LPARAM>(&seen));
    return seen;
}

std::string Describe(HWND dialog) {
    const SeenBox seen = Look(dialog);
    std::string text = "\"";
    text += Narrow(seen.title);
    text += "\" (\"";
    text += Narrow(seen.text);
    text += "\")";
    return text;
}

// A dialog or message box: a top-level window of the dialog class.
bool IsDialogBox(HWND window) {
    return ClassOf(window) == L"#32770" && (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0;
}

BOOL CALLBACK AddIfShownDialog(HWND window, LPARAM param) {
    if (IsDialogBox(window) && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> ShownDialogs() {
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), &AddIfShownDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

// Watches the dialogs and message boxes of this thread from the moment they are shown: a CBT
// hook sees each one activated and destroyed. The handler of the moment answers a new one with
// a posted message, so that the dialog first handles what it posted itself while starting up; a
// dialog that no handler takes is answered No, Cancel or OK, and the test fails. A dialog still
// open kDialogBound after it was shown is given up on: every dialog of the thread is ended,
// again on every tick until none is left, and the test fails saying what it awaited. So no
// modal loop outlives its bound, whatever the window does. One lives for each test.
class DialogWatch {
public:
    class Handler {
    public:
        // Answers `dialog` (through DialogWatch::Answer), or returns false to leave it be.
        virtual bool Take(HWND dialog) = 0;
        // `dialog` is being destroyed.
        virtual void Closed(HWND dialog) { (void)dialog; }

    protected:
        ~Handler() = default;
    };

    DialogWatch() {
        static const wchar_t* const helperClass = [] {
            WNDCLASSW helper{};
            helper.lpfnWndProc = &DialogWatch::HelperProc;
            helper.hInstance = GetModuleHandleW(nullptr);
            helper.lpszClassName = L"SplitterTestDialogWatch";
            RegisterClassW(&helper);
            return helper.lpszClassName;
        }();
        current_ = this;
        helper_ = CreateWindowExW(0, helperClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        hook_ = SetWindowsHookExW(WH_CBT, &DialogWatch::OnCbt, nullptr, GetCurrentThreadId());
        // Ticks behind the hook, and for the bound.
        SetTimer(helper_, 1, 50, nullptr);
        helperForOtherThreads_ = helper_;
        EXPECT_NE(helper_, nullptr);
        EXPECT_NE(hook_, nullptr);
    }
    ~DialogWatch() {
        helperForOtherThreads_ = nullptr;
        UnhookWindowsHookEx(hook_);
        DestroyWindow(helper_);
        current_ = nullptr;
    }
    DialogWatch(const DialogWatch&) = delete;
    DialogWatch& operator=(const DialogWatch&) = delete;

    // The watch of the running test.
    static DialogWatch& Current() {
        if (current_ == nullptr) throw std::logic_error("no DialogWatch in this test");
        return *current_;
    }

    // Returns the handler it replaces. The steps that one left for later are dropped with it.
    Handler* SetHandler(Handler* handler) {
        later_.clear();
        return std::exchange(handler_, handler);
    }

    // Clicks `button` of `dialog` through the queue, and notes it for the message of the bound.
    void Answer(HWND dialog, int button) {
        const auto open = open_.find(dialog);
        if (open != open_.end()) open->second.answers.push_back(ButtonName(button));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    }

    // Runs `step` from the next message loop of the thread, a modal one too.
    void Later(std::function<void()> step) {
        later_.push_back(std::move(step));
        PostMessageW(helper_, kLaterMessage, 0, 0);
    }

    // From TestBound's thread when the test passed its bound: give up on every dialog.
    static void GiveUpFromAnotherThread() {
        if (const HWND helper = helperForOtherThreads_) PostMessageW(helper, kGiveUpMessage, 0, 0);
    }

private:
    static constexpr UINT kShownMessage = WM_APP + 1;
    static constexpr UINT kLaterMessage = WM_APP + 2;
    static constexpr UINT kGiveUpMessage = WM_APP + 3;

    struct Open {
        Clock::time_point shown;
        std::vector<std::string> answers;
    };

    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
        DialogWatch* self = current_;
        const auto window = reinterpret_cast<HWND>(wParam);
        if (self != nullptr && (code == HCBT_ACTIVATE || code == HCBT_DESTROYWND) &&
            IsDialogBox(window)) {
            // Looked at once the activation is over; a destruction is noted at once, since the
            // test may check it as soon as the modal call returns.
            if (code == HCBT_ACTIVATE)
                PostMessageW(self->helper_, kShownMessage, wParam, 0);
            else
                self->Closed(window);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        DialogWatch* self = current_;
        if (self != nullptr && window == self->helper_) {
            switch (message) {
                case kShownMessage: self->Shown(reinterpret_cast<HWND>(wParam)); return 0;
                case kLaterMessage: self->RunLater(); return 0;
                case kGiveUpMessage:
                    self->GiveUp("the test, past its bound of " +
                                 std::to_string(kTestBound.count()) + " s");
                    return 0;
                case WM_TIMER: self->Tick(); return 0;
                default: break;
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    void Shown(HWND dialog) {
        // Gone already, or activated again (when a box of its own closes).
        if (!IsWindow(dialog) || open_.count(dialog) != 0) return;
        open_[dialog].shown = Clock::now();
        if (closing_) {
            EndDialog(dialog, 0);
            return;
        }
        if (handler_ != nullptr && handler_->Take(dialog)) return;
        const int button = GetDlgItem(dialog, IDNO) != nullptr       ? IDNO
                           : GetDlgItem(dialog, IDCANCEL) != nullptr ? IDCANCEL
                                                                     : IDOK;
        ADD_FAILURE() << "A dialog nobody awaited, answered " << ButtonName(button) << ": "
                      << Describe(dialog) << "; the test awaited " << Awaited();
        Answer(dialog, button);
    }

    void Closed(HWND dialog) {
        if (open_.erase(dialog) != 0 && handler_ != nullptr) handler_->Closed(dialog);
    }

    void RunLater() {
        while (!later_.empty()) {
            const std::function<void()> step = std::move(later_.front());
            later_.pop_front();
            step();
        }
    }

    void Tick() {
        // Behind the hook: a dialog shown or destroyed without its notice.
        for (const HWND dialog : ShownDialogs()) Shown(dialog);
        std::vector<HWND> gone;
        for (const auto& [dialog, open] : open_) {
            if (!IsWindow(dialog)) gone.push_back(dialog);
        }
        for (const HWND dialog : gone) Closed(dialog);
        if (closing_) {
            closing_ = EndAll();
            return;
        }
        for (const auto& [dialog, open] : open_) {
            if (Clock::now() - open.shown < kDialogBound) continue;
            std::string answers;
            for (const std::string& answer : open.answers) answers += " " + answer;
            GiveUp(Describe(dialog) + ", open " + std::to_string(kDialogBound.count()) +
                   " s after it was shown (answered:" + (answers.empty() ? " never" : answers) +
                   ")");
            return;
        }
    }

    void GiveUp(const std::string& what) {
        ADD_FAILURE() << "Gave up on " << what << ", awaiting " << Awaited()
                      << "; every dialog of the thread is ended";
        closing_ = EndAll();
    }

    // Ends every dialog of the thread with 0, which MessageBox returns for no answer (the
    // window takes it as No or OK) and GetOpenFileName for cancelled. False when none is left.
    bool EndAll() {
        std::vector<HWND> left = ShownDialogs();
        for (const auto& [dialog, open] : open_) {
            if (IsWindow(dialog) && std::find(left.begin(), left.end(), dialog) == left.end())
                left.push_back(dialog);
        }
        for (const HWND dialog : left) EndDialog(dialog, 0);
        return !left.empty();
    }

    static inline DialogWatch* current_ = nullptr;
    static inline std::atomic<HWND> helperForOtherThreads_{nullptr};
    HWND helper_ = nullptr;
    HHOOK hook_ = nullptr;
    Handler* handler_ = nullptr;
    std::map<HWND, Open> open_;  // shown and not destroyed yet
    std::deque<std::function<void()>> later_;
    bool closing_ = false;  // given up: ending every dialog until none is left
};

// Gives every test a bound of its own, so that a stuck test fails by itself instead of using up
// CTest's bound for the whole program. A thread keeps the time: past kTestBound the test is
// marked expired (PumpUntil stops waiting) and the dialog watch gives up on every dialog, which
// lets the modal loops return; a test still running kStuckBound later is stuck where no message
// reaches it, and the program ends, naming it and what it awaited.
class TestBound final : public ::testing::EmptyTestEventListener {
public:
    TestBound() : thread_([this] { Watch(); }) {}
    ~TestBound() override {
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TestBound(const TestBound&) = delete;
    TestBound& operator=(const TestBound&) = delete;

    static bool Expired() { return expired_; }

private:
    void OnTestStart(const ::testing::TestInfo& test) override {
        Await("");
        const std::lock_guard lock(mutex_);
        name_ = std::string(test.test_suite_name()) + "." + test.name();
        ++serial_;
        running_ = true;
        expired_ = false;
        changed_.notify_all();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        const std::lock_guard lock(mutex_);
        running_ = false;
        changed_.notify_all();
    }

    void Watch() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!running_) {
                changed_.wait(lock);
                continue;
            }
            const int serial = serial_;
            const auto moved = [&] { return quit_ || !running_ || serial_ != serial; };
            if (changed_.wait_for(lock, kTestBound, moved)) continue;
            expired_ = true;
            DialogWatch::GiveUpFromAnotherThread();
            if (changed_.wait_for(lock, kStuckBound, moved)) continue;
            std::fprintf(stderr,
                         "\n%s: still running %d s past its bound of %d s, awaiting %s; the test "
                         "program ends here.\n",
                         name_.c_str(), static_cast<int>(kStuckBound.count()),
                         static_cast<int>(kTestBound.count()), Awaited().c_str());
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 1);
        }
    }

    static inline std::atomic<bool> expired_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string name_;
    int serial_ = 0;
    bool running_ = false;
    bool quit_ = false;
    std::thread thread_;  // last: starts once the rest is made
};

// While it lives, answers the message boxes of this thread in turn with `answers` (then No, or
// OK), after noting what each one shows; each must have closed by the end of its life.
class BoxAnswerer final : public DialogWatch::Handler {
public:
    explicit BoxAnswerer(std::vector<int> answers) : answers_(std::move(answers)) {
        previous_ = DialogWatch::Current().SetHandler(this);
    }
    ~BoxAnswerer() {
        DialogWatch::Current().SetHandler(previous_);
        for (std::size_t i = 0; i < answered_.size(); ++i)
            EXPECT_FALSE(IsWindow(answered_[i])) << "box " << i + 1 << " answered, not closed";
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    std::vector<SeenBox> seen;

private:
    bool Take(HWND box) override {
        SeenBox seenBox = Look(box);
        const std::size_t index = seen.size();
        int answer = index < answers_.size() ? answers_[index] : IDOK;
        if (index >= answers_.size() && std::find(seenBox.buttons.begin(), seenBox.buttons.end(),
                                                  IDNO) != seenBox.buttons.end())
            answer = IDNO;
        seen.push_back(std::move(seenBox));
        answered_.push_back(box);
        DialogWatch::Current().Answer(box, answer);
        return true;
    }

    std::vector<int> answers_;
    std::vector<HWND> answered_;
    DialogWatch::Handler* previous_ = nullptr;
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

    // Dispatches messages until `done` holds; false after `seconds` without it, or once the
    // test has passed its own bound.
    bool PumpUntil(const std::function<bool()>& done, double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (Clock::now() > end || TestBound::Expired()) return false;
            native_.DoEvents();
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        return true;
    }
    // Dispatches messages until the status line shows `status`; fails, saying so, after
    // `seconds` without it.
    bool PumpUntilStatus(const std::string& status, double seconds = 20) {
        Await("the status \"" + status + "\"");
        const auto start = Clock::now();
        if (PumpUntil([&] { return Caption(Control::lblStatus) == status; }, seconds)) return true;
        ADD_FAILURE()
            << "Waited "
            << std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count()
            << " s for the status \"" << status << "\"; it shows \"" << Caption(Control::lblStatus)
            << "\"";
        return false;
    }
    void Pump() {
        PumpUntil([] { return false; }, 0.2);
    }

    // A click as a button gets it from the mouse: BM_CLICK, through the queue.
    void Click(Control button) {
        Await("the click on " + NameOf(button) + " to be handled");
        PostMessageW(h(button), BM_CLICK, 0, 0);
        Pump();
    }
    // Alt+key, as the keyboard sends it.
    void AltKey(wchar_t key) {
        Await("Alt+" + Narrow(std::wstring(1, key)) + " to be handled");
        PostMessageW(native_.window(), WM_SYSCHAR, key, 1 << 29);
        Pump();
    }
    // Types `text` into a text box, one WM_CHAR per character, as the keyboard does.
    void Type(Control textBox, const std::wstring& text) {
        Await("the typing into " + NameOf(textBox) + " to be handled");
        ::SetFocus(h(textBox));
        for (const wchar_t c : text) PostMessageW(h(textBox), WM_CHAR, c, 1);
        Pump();
    }
    void Browse(const std::string& path) {
        answers_.push_back(path);
        Click(Control::cmdSelectFile);
    }
    static std::string NameOf(Control control) {
        for (const ControlLayout& c : kFormLayout) {
            if (c.id == control) return std::string(c.name);
        }
        return "?";
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

    void TearDown() override {
        EXPECT_FALSE(TestBound::Expired())
            << "The test ran past its bound of " << kTestBound.count() << " s";
    }

    DialogWatch dialogs_;  // first: it watches every dialog of the test, from the start
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
    // Its background, the painted title among it, is its title bar: dragging it moves it.
    const LPARAM title = MAKELPARAM(frame.left + px(3000), frame.top + px(150));
    EXPECT_EQ(SendMessageW(form, WM_NCHITTEST, 0, title), HTCAPTION);
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
    // At 96 and 192 DPI the caption band is the picture drawn for that density, pixel for pixel:
    // at 192 the 800 x 400 one, not the 400 x 200 one enlarged.
    if (native_.dpi() != 96 && native_.dpi() != 192) return;
    const int id = native_.dpi() == 96 ? SPLITTER_IDB_BACKGROUND : SPLITTER_IDB_BACKGROUND_2X;
    const auto picture = static_cast<HBITMAP>(LoadImageW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(picture, nullptr);
    const HDC memory = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = SelectObject(memory, picture);
    const RECT caption{0, 0, px(6000), px(600)};
    EXPECT_TRUE(Grab(memory, caption) == Grab(form, caption));
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(picture);
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
        if (c.id == Control::lblbytes || c.id == Control::lblStatus) {
            // A value moves right when its caption, in its real font, needs more room.
            EXPECT_GE(rect.left, px(c.left));
        } else {
            EXPECT_EQ(rect.left, px(c.left));
        }
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
    // A screen reader names a text box by the label right before it.
    for (const auto& [label, box] : kBoxLabels) EXPECT_EQ(GetWindow(h(box), GW_HWNDPREV), h(label));
    // ... and the status and size by theirs.
    for (const auto& [label, caption] : kCaptionLabels)
        EXPECT_EQ(GetWindow(h(caption), GW_HWNDPREV), h(label));
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

// The status's name changes, as a screen reader hears them.
HWND g_heardStatus = nullptr;
int g_statusNameChanges = 0;
void CALLBACK HearNameChange(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
    g_statusNameChanges += window == g_heardStatus ? 1 : 0;
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
    g_heardStatus = h(Control::lblStatus);
    g_statusNameChanges = 0;
    const HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, HearNameChange,
                        GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ::SetFocus(h(Control::cmdSplit));
    Click(Control::cmdSplit);
    ASSERT_TRUE(PumpUntilStatus("Done !"));
    Pump();
    UnhookWinEvent(hook);
    // Each status is told, and the focus waits on it, not on Exit.
    EXPECT_GE(g_statusNameChanges, 102);
    EXPECT_EQ(GetFocus(), h(Control::lblStatus));
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
    ASSERT_TRUE(PumpUntilStatus("Done !"));
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
    ASSERT_TRUE(PumpUntilStatus("Done !"));
    // Enter and Escape mean nothing: no button is the default or the cancel button.
    PostMessageW(h(Control::txtNoOfParts), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(h(Control::txtNoOfParts), WM_KEYDOWN, VK_ESCAPE, 1);
    Pump();
    EXPECT_EQ(window_.ends, 0);
    EXPECT_EQ(dialog_.calls, 1);
    AltKey(L'x');
    EXPECT_EQ(window_.ends, 1);
}

// Every caption ends before what follows it on its row, in the fonts and at the DPI of the
// screen, the widest size and status too.
TEST_F(Win32WindowTest, LabelsClearTheirNeighbours) {
    Open();
    window_.SetVisible(Control::lblFileSize, true);
    window_.SetVisible(Control::lblbytes, true);
    window_.SetCaption(Control::lblbytes, "2147483647 Bytes.");
    window_.SetCaption(Control::lblStatus, "Splitting... [ 100 % Completed. ]");
    const std::pair<Control, Control> rows[] = {
        {Control::lblSelectFileText, Control::txtSelectedFile},
        {Control::lblNoOfParts, Control::txtNoOfParts},
        {Control::lblFileSize, Control::lblbytes},
        {Control::lblStatusText, Control::lblStatus},
    };
    const HWND form = native_.window();
    for (const auto& [left, right] : rows) {
        SCOPED_TRACE(NameOf(left));
        const RECT label = ClientRectOf(h(left), form);
        const RECT next = ClientRectOf(h(right), form);
        EXPECT_LT(label.left + TextWidthOf(h(left)), next.left);
        EXPECT_LE(label.right, next.left);
    }
    RECT client{};
    GetClientRect(form, &client);
    for (const Control value : {Control::lblbytes, Control::lblStatus}) {
        EXPECT_LT(ClientRectOf(h(value), form).left + TextWidthOf(h(value)), client.right)
            << NameOf(value);
    }
}

// A caption replaced by a longer or a shorter one shows as a fresh paint of the window shows it:
// no piece of an earlier caption stays, none of the new one is missing.
TEST_F(Win32WindowTest, CaptionsRepaintWhole) {
    Open();
    window_.SetVisible(Control::lblFileSize, true);
    window_.SetVisible(Control::lblbytes, true);
    Pump();
    const HWND form = native_.window();
    RECT client{};
    GetClientRect(form, &client);
    const std::pair<Control, const char*> changes[] = {
        {Control::lblbytes, "5 Bytes."},
        {Control::lblbytes, "1048576 Bytes."},
        {Control::lblbytes, "52428800 Bytes."},
        {Control::lblbytes, "7 Bytes."},
        {Control::lblbytes, "2147483647 Bytes."},
        {Control::lblStatus, "Splitting... "},
        {Control::lblStatus, "Splitting... [ 100 % Completed. ]"},
        {Control::lblStatus, "Done !"},
    };
    for (const auto& [label, caption] : changes) {
        SCOPED_TRACE(caption);
        window_.SetCaption(label, caption);
        Pump();
        // The row from the label to the window's right edge.
        RECT row = ClientRectOf(h(label), form);
        row.right = client.right - 2;
        const std::vector<std::uint32_t> shown = Grab(form, row);
        RedrawWindow(form, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        EXPECT_TRUE(shown == Grab(form, row));
    }
}

// The path box can be read, not edited; a long path shows its end, the file's name.
TEST_F(Win32WindowTest, PathBoxReadOnlyShowingItsEnd) {
    Open();
    const std::filesystem::path folder = dir_.path() / std::string(120, 'd');
    std::filesystem::create_directories(folder);
    const std::string path = Narrow((folder / "the-name-to-see.bin").wstring());
    WriteBytes(path, PatternBytes(5));
    Browse(path);
    ASSERT_EQ(Caption(Control::txtSelectedFile), path);
    const HWND box = h(Control::txtSelectedFile);
    EXPECT_NE(GetWindowLongW(box, GWL_STYLE) & ES_READONLY, 0);
    EXPECT_EQ(GetWindowLongW(h(Control::txtNoOfParts), GWL_STYLE) & ES_READONLY, 0);
    // A single-line box answers with the first character it shows.
    EXPECT_GT(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    const auto length = static_cast<WPARAM>(GetWindowTextLengthW(box));
    const auto last = static_cast<short>(LOWORD(SendMessageW(box, EM_POSFROMCHAR, length - 1, 0)));
    RECT inside{};
    GetClientRect(box, &inside);
    EXPECT_GE(last, 0);
    EXPECT_LT(last, inside.right);

    Type(Control::txtSelectedFile, L"x\b");
    EXPECT_EQ(Caption(Control::txtSelectedFile), path);
    // Its text can still be selected, hence copied.
    SendMessageW(box, EM_SETSEL, 0, -1);
    DWORD start = 1, end = 0;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, length);
}

TEST(FileArgumentTest, FirstArgumentAsAFullPath) {
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::string here = Narrow(folder);
    if (here.back() != '\\') here += '\\';
    struct Case {
        const wchar_t* commandLine;
        std::string file;
    };
    const Case cases[] = {
        {L"splitter.exe", ""},
        {L"\"C:\\Program Files\\Splitter\\splitter.exe\"", ""},
        {L"splitter.exe \"\"", ""},
        {L"splitter.exe \"C:\\My Files\\a b.txt\"", "C:\\My Files\\a b.txt"},
        {L"splitter.exe C:\\x\\..\\y\\z.bin more", "C:\\y\\z.bin"},
        {L"splitter.exe sub\\f.txt", here + "sub\\f.txt"},
        {L"splitter.exe C:\\r\u00e9sum\u00e9.txt", "C:\\r\xc3\xa9sum\xc3\xa9.txt"},
    };
    for (const Case& c : cases) EXPECT_EQ(FileArgument(c.commandLine), c.file) << c.file;
}

// "Open with": the file named on the command line is chosen as Browse would choose it, and the
// keyboard alone splits it: Tab, the count, Alt+S.
TEST_F(Win32WindowTest, StartedWithAFile) {
    const std::string path = dir_ / "holiday.mp4";
    WriteBytes(path, PatternBytes(30001));
    native_.Show(form_, path);
    Await("Split enabled by the file given");
    ASSERT_TRUE(PumpUntil([&] { return IsWindowEnabled(h(Control::cmdSplit)) != FALSE; }, 10));
    EXPECT_EQ(dialog_.calls, 0);
    EXPECT_EQ(Caption(Control::txtSelectedFile), path);
    EXPECT_EQ(Caption(Control::lblbytes), "30001 Bytes.");
    EXPECT_TRUE(IsWindowVisible(h(Control::lblFileSize)));
    EXPECT_TRUE(IsWindowVisible(h(Control::lblbytes)));
    ASSERT_EQ(GetFocus(), h(Control::cmdSelectFile));

    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    Pump();
    ASSERT_EQ(GetFocus(), h(Control::txtNoOfParts));
    Type(Control::txtNoOfParts, L"3");
    AltKey(L's');
    ASSERT_TRUE(PumpUntilStatus("Done !"));
    EXPECT_TRUE(ReadBytes(path + ".0") + ReadBytes(path + ".1") + ReadBytes(path + ".2") ==
                ReadBytes(path));
    EXPECT_TRUE(std::filesystem::exists(path + ".bat"));
}

// A file that is not there gives Browse's error for it, once the window is up.
TEST_F(Win32WindowTest, StartedWithAMissingFile) {
    BoxAnswerer boxes({IDOK});
    native_.Show(form_, dir_ / "missing.bin");
    Await("the error box about the missing file");
    ASSERT_TRUE(PumpUntil([&] { return !boxes.seen.empty(); }, 10));
    Pump();
    EXPECT_EQ(boxes.seen[0].title, L"Splitter");
    EXPECT_EQ(boxes.seen[0].text, L"Error 53: File not found (missing.bin)");
    EXPECT_FALSE(boxes.seen[0].icon);
    EXPECT_TRUE(IsWindowVisible(native_.window()));
    EXPECT_FALSE(IsWindowEnabled(h(Control::cmdSplit)));
    EXPECT_FALSE(IsWindowVisible(h(Control::lblbytes)));
}

// A file dropped onto the window is chosen as Browse chooses it.
TEST_F(Win32WindowTest, DroppedFile) {
    Open();
    EXPECT_NE(GetWindowLongW(native_.window(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    const std::string path = dir_ / "dropped.iso";
    WriteBytes(path, PatternBytes(777));
    Await("the dropped file to be taken");
    Drop(native_.window(), Widen(path));
    Pump();
    EXPECT_EQ(Caption(Control::txtSelectedFile), path);
    EXPECT_EQ(Caption(Control::lblbytes), "777 Bytes.");
    EXPECT_TRUE(IsWindowEnabled(h(Control::cmdSplit)));
    EXPECT_EQ(dialog_.calls, 0);
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

// Drives the real open-file dialog of this thread: asks first for a file that does not exist
// (the dialog must refuse it with a box of its own), then, once that box has closed, for
// `path`. Anything else shown meanwhile is left to the dialog watch.
class OpenDialogDriver final : public DialogWatch::Handler {
public:
    explicit OpenDialogDriver(std::wstring path) : path_(std::move(path)) {
        previous_ = DialogWatch::Current().SetHandler(this);
    }
    ~OpenDialogDriver() {
        DialogWatch::Current().SetHandler(previous_);
        EXPECT_FALSE(dialog_ != nullptr && IsWindow(dialog_)) << "the dialog did not close";
        EXPECT_FALSE(refusal_ != nullptr && IsWindow(refusal_)) << "its box did not close";
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

    bool Take(HWND window) override {
        if (GetDlgItem(window, kFileTypes) != nullptr) {
            if (seen) return false;  // a second dialog
            seen = true;
            dialog_ = window;
            title = WindowText(window);
            const HWND readOnly = GetDlgItem(window, kReadOnlyBox);
            readOnlyBoxShown = readOnly != nullptr && IsWindowVisible(readOnly);
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
                filters.push_back(item);
            }
            folder = WindowText(GetDlgItem(window, kLookIn));
            Enter(path_ + L".missing");
            return true;
        }
        // A box of the dialog's own: the refusal of the missing file.
        if (dialog_ == nullptr || refusal_ != nullptr || !IsWindow(dialog_)) return false;
        refusedMissingFile = true;
        refusal_ = window;
        DialogWatch::Current().Answer(window, IDOK);
        return true;
    }
    void Closed(HWND window) override {
        if (window != refusal_) return;
        // Back in the dialog's own loop once the box is gone: the name it must take.
        DialogWatch::Current().Later([this] {
            if (IsWindow(dialog_)) Enter(path_);
        });
    }
    void Enter(const std::wstring& name) {
        HWND box = GetDlgItem(dialog_, kFileNameCombo);
        if (box == nullptr) box = GetDlgItem(dialog_, kFileNameEdit);
        SetWindowTextW(box, name.c_str());
        DialogWatch::Current().Answer(dialog_, IDOK);
    }

    std::wstring path_;
    HWND dialog_ = nullptr;
    HWND refusal_ = nullptr;
    DialogWatch::Handler* previous_ = nullptr;
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

// Clicks the given buttons (and drops a file) once, from a timer, as soon as a run shows a
// percentage: the clicks reach the window through the run's own yields.
class ClickDuringRun {
public:
    ClickDuringRun(Win32WindowSystem& window, std::vector<Control> buttons, std::wstring drop = {})
        : window_(window), buttons_(std::move(buttons)), drop_(std::move(drop)) {
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
        if (!self->drop_.empty()) Drop(self->window_.window(), self->drop_);
        for (const Control button : self->buttons_)
            PostMessageW(self->window_.handle(button), BM_CLICK, 0, 0);
    }

    static inline ClickDuringRun* current_ = nullptr;
    Win32WindowSystem& window_;
    std::vector<Control> buttons_;
    std::wstring drop_;  // a file to drop onto the window with the clicks
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
    const std::string other = dir_ / "other.bin";
    WriteBytes(other, PatternBytes(10));
    ClickDuringRun clicks(native_, {Control::cmdSelectFile, Control::cmdExit}, Widen(other));
    Click(Control::cmdSplit);
    ASSERT_TRUE(PumpUntilStatus("Done !", 30));
    // Exit was answered in the middle of the run (the recorded End), Browse and the dropped file
    // were refused.
    EXPECT_NE(clicks.statusAtClick.find("% Completed. ]"), std::string::npos)
        << clicks.statusAtClick;
    EXPECT_EQ(window_.ends, 1);
    EXPECT_EQ(dialog_.calls, 1);
    EXPECT_EQ(Caption(Control::txtSelectedFile), path);
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
    Await("the child " + Narrow(test) + " to end");
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &status);
    } else {
        ADD_FAILURE() << "The child " << Narrow(test) << " did not end within 30 s; ended";
        TerminateProcess(process.hProcess, status);
        WaitForSingleObject(process.hProcess, 5000);
    }
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
    DialogWatch dialogs;
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
    DialogWatch dialogs;
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

// Both programs carry the application manifest (resource 1 of type 24) and the project's
// version; this test program carries the window program's resources, so its window runs with
// common controls 6 as the program's does.
TEST(ProgramResourcesTest, ManifestAndVersion) {
    // The common controls in use are those of the side-by-side assembly of version 6 (wine's
    // answers 5.81 to DllGetVersion from there too, so the folder is what tells).
    const HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    std::wstring loaded(MAX_PATH, L'\0');
    loaded.resize(GetModuleFileNameW(comctl, loaded.data(), MAX_PATH));
    std::transform(loaded.begin(), loaded.end(), loaded.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    EXPECT_NE(loaded.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."),
              std::wstring::npos)
        << Narrow(loaded);

    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    const std::wstring programs = self.substr(0, self.find_last_of(L'\\')) + L"\\..\\";
    for (const wchar_t* name : {L"splitter.exe", L"splitter-cli.exe"}) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring program = programs + name;
        const HMODULE image = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(image, nullptr);
        const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        ASSERT_NE(found, nullptr);
        const std::string manifest(
            static_cast<const char*>(LockResource(LoadResource(image, found))),
            SizeofResource(image, found));
        FreeLibrary(image);
        for (const char* part :
             {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", ">true</dpiAware>",
              "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
              "level=\"asInvoker\""}) {
            EXPECT_NE(manifest.find(part), std::string::npos) << part;
        }

        DWORD unused = 0;
        std::vector<char> info(GetFileVersionInfoSizeW(program.c_str(), &unused));
        ASSERT_FALSE(info.empty());
        ASSERT_TRUE(
            GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
        wchar_t* version = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                                   reinterpret_cast<void**>(&version), &length));
        EXPECT_EQ(Narrow(version), SPLITTER_VERSION);
    }
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

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    splitter::win32::TestBound bound;
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    listeners.Append(&bound);
    const int status = RUN_ALL_TESTS();
    listeners.Release(&bound);
    return status;
}
