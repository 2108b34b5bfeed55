// Helpers for the window tests: a fake window system that records what the window's logic does
// and answers its dialogs from queues, and a file system that makes a run slow.
#pragma once

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "files/file_system.h"
#include "window/form_layout.h"
#include "window/window_system.h"

namespace splitter::testing {

// Keeps every control's state as the window would show it, and lets a test answer the message
// boxes and the open-file dialog. Controls start as form_layout.h describes them, focus on
// Browse.
class FakeWindowSystem : public WindowSystem {
public:
    struct ControlState {
        std::string caption;  // labels
        std::string text;     // text boxes
        bool visible = true;
        bool enabled = true;
    };
    struct Box {
        std::string prompt;
        int style;
        std::string title;
        bool operator==(const Box&) const = default;
    };

    FakeWindowSystem() {
        for (const ControlLayout& c : kFormLayout) {
            ControlState& state = controls[c.id];
            if (c.kind == ControlKind::kLabel) state.caption = std::string(c.caption);
        }
    }

    void SetCaption(Control label, const std::string& text) override {
        controls[label].caption = text;
        if (label == Control::lblStatus) statuses.push_back(text);
    }
    void SetVisible(Control control, bool visible) override { controls[control].visible = visible; }
    std::string Text(Control textBox) override { return controls[textBox].text; }
    void SetText(Control textBox, const std::string& text) override {
        controls[textBox].text = text;
    }
    void SetFocus(Control control) override { focus = control; }
    void SetEnabled(Control button, bool enabled) override { controls[button].enabled = enabled; }

    // Answers from `answers`; with none left, OK for an OK box and No for a Yes/No box.
    int MsgBox(const std::string& prompt, int style, const std::string& title) override {
        boxes.push_back({prompt, style, title});
        if (!answers.empty()) {
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return style == kMsgYesNo ? kMsgNo : kMsgOk;
    }

    // Answers from `choices`; with none left, as if cancelled.
    OpenFileResult ShowOpen(const OpenFileRequest& request) override {
        dialogs.push_back(request);
        if (choices.empty()) return {};
        OpenFileResult choice = choices.front();
        choices.pop_front();
        return choice;
    }

    std::string AppPath() override { return appPath; }
    void DoEvents() override {
        ++yields;
        if (onYield) onYield();
    }
    void End() override { ++ends; }

    // A file chosen in the dialog by its full path.
    void Choose(const std::string& path) {
        choices.push_back({path, std::filesystem::path(path).filename().string()});
    }

    std::map<Control, ControlState> controls;
    Control focus = Control::cmdSelectFile;
    std::vector<Box> boxes;
    std::deque<int> answers;
    std::vector<OpenFileRequest> dialogs;
    std::deque<OpenFileResult> choices;
    std::vector<std::string> statuses;
    std::string appPath = "/opt/splitter";
    int yields = 0;
    std::function<void()> onYield;
    int ends = 0;
};

// Makes every block copy slow, so that a run lasts long enough to act in its middle.
class SlowFileSystem final : public FileSystemWrapper {
public:
    SlowFileSystem() : FileSystemWrapper(FileSystem::Default()) {}
    std::unique_ptr<WritableFile> Create(const std::string& path,
                                         const ReadableFile* mustNotBe) override {
        return std::make_unique<SlowFile>(target().Create(path, mustNotBe));
    }

private:
    class SlowFile final : public WritableFile {
    public:
        explicit SlowFile(std::unique_ptr<WritableFile> file) : file_(std::move(file)) {}
        void Write(const char* data, std::size_t n) override { file_->Write(data, n); }
        void CopyFrom(ReadableFile& source, std::uint64_t n) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            file_->CopyFrom(source, n);
        }
        void Sync() override { file_->Sync(); }
        void Close() override { file_->Close(); }
        const std::string& Name() const override { return file_->Name(); }

    private:
        std::unique_ptr<WritableFile> file_;
    };
};

}  // namespace splitter::testing
