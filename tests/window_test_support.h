// Helpers for the window tests: a fake window system that records what the window's logic does
// and answers its dialogs from queues, and a scratch folder with real files.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/window_system.h"
#include "window/form_layout.h"

namespace splitter::testing {

// A folder under the system's temporary folder, removed with everything in it at the end.
class ScratchDir {
public:
    // create_directory fails on a name that exists, so two tests never share a folder.
    ScratchDir() {
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::filesystem::path candidate = base / ("splitter-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("no scratch folder under " + base.string());
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes a file of `size` bytes (a repeating pattern) and returns its full path.
    std::string MakeFile(const std::string& name, std::size_t size) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>('a' + i % 26));
        return file.string();
    }

    // Every file in the folder, by name.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

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
        void Close() override { file_->Close(); }
        const std::string& Name() const override { return file_->Name(); }

    private:
        std::unique_ptr<WritableFile> file_;
    };
};

}  // namespace splitter::testing
