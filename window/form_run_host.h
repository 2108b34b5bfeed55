// The window as the host of a run: the status label, the event yield and the error box, as the
// engine asks for them.
#pragma once

#include <string>

#include "engine/split.h"
#include "window/window_system.h"

namespace splitter {

class FormRunHost final : public SplitHost {
public:
    explicit FormRunHost(WindowSystem& window) : window_(window) {}

    // The caption of lblStatus.
    void SetStatus(const std::string& text) override;
    // A box like the error box.
    void Warn(const std::string& message) override;
    void Yield() override;
    // The error box: OK only, no icon, the application's title.
    void ReportError(const std::string& message) override;

private:
    WindowSystem& window_;
};

}  // namespace splitter
