// What a run, a split or a join, needs of whoever hosts it: the window, the command line or a
// test. The engine reaches its host through nothing else, so it runs as well with no window.
#pragma once

#include <string>

namespace splitter {

class RunHost {
public:
    virtual ~RunHost() = default;
    // Sets the status text (the caption of the status label).
    virtual void SetStatus(const std::string& text) = 0;
    // Dispatches the window events queued so far and returns.
    virtual void Yield() = 0;
    // One reason why the run stops: "Error CODE: DESCRIPTION" after a failed file operation,
    // or what a join refuses before it writes (a script line it cannot read, a missing part).
    // A window shows it in the error box: OK only, no icon, the application's title. A join
    // may report several refusals before it gives up.
    virtual void ReportError(const std::string& message) = 0;
    // What a run did besides its task, worth a line of its own ("Rebuilt data.bin.3 from the
    // recovery volumes"). By default the status shows it.
    virtual void Note(const std::string& message) { SetStatus(message); }
};

// The last status text of a run that got through.
inline constexpr const char* kDoneText = "Done !";

}  // namespace splitter
