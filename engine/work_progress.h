// The progress of work besides the copy (a recovery set made, parts checked or rebuilt), shown
// in the status form of the copy: "Making recovery volumes... [ 42 % Completed. ]".
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/progress_copier.h"
#include "engine/run_host.h"

namespace splitter {

class WorkProgress {
public:
    // `total` units of work (bytes read, say), shown as `verb` with their percentage.
    WorkProgress(std::string verb, std::uint64_t total, RunHost& host)
        : verb_(std::move(verb)), total_(total), host_(host) {
        host_.SetStatus(ProgressText(verb_, 0));
    }

    // `n` more units done: a new percentage is shown, and the host's events are dispatched.
    void Add(std::uint64_t n) {
        done_ += n;
        const int percent =
            total_ == 0 ? 100
                        : static_cast<int>(std::min<std::uint64_t>(100, done_ * 100 / total_));
        if (percent != shown_) {
            shown_ = percent;
            host_.SetStatus(ProgressText(verb_, percent));
        }
        host_.Yield();
    }

private:
    const std::string verb_;
    const std::uint64_t total_;
    RunHost& host_;
    std::uint64_t done_ = 0;
    int shown_ = 0;
};

}  // namespace splitter
