#include "window/form_run_host.h"

namespace splitter {

void FormRunHost::SetStatus(const std::string& text) {
    window_.SetCaption(Control::lblStatus, text);
}

void FormRunHost::Warn(const std::string& message) {
    window_.MsgBox(message, kMsgOkOnly, "");
}

void FormRunHost::Yield() {
    window_.DoEvents();
}

void FormRunHost::ReportError(const std::string& message) {
    window_.MsgBox(message, kMsgOkOnly, "");
}

}  // namespace splitter
