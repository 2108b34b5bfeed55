#include "engine/background_sync.h"

#include <system_error>
#include <utility>

namespace splitter {

BackgroundSync::BackgroundSync() {
    try {
        for (int k = 0; k < kThreads; ++k) threads_.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
        // Fewer threads; none at all only where the system has no more to give.
        if (threads_.empty()) throw;
    }
}

BackgroundSync::~BackgroundSync() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void BackgroundSync::Add(std::unique_ptr<WritableFile> file) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || waiting_.size() < kMaxWaiting; });
        ThrowFailure();
        waiting_.push_back(std::move(file));
        done_.clear();
    }
    changed_.notify_all();
}

void BackgroundSync::Finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return failure_ || (waiting_.empty() && busy_ == 0); });
    done_.clear();
    ThrowFailure();
}

void BackgroundSync::ThrowFailure() {
    if (failure_) std::rethrow_exception(failure_);
}

void BackgroundSync::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || (!failure_ && !waiting_.empty()); });
        if (stop_) return;
        std::unique_ptr<WritableFile> file = std::move(waiting_.front());
        waiting_.pop_front();
        ++busy_;
        lock.unlock();
        std::exception_ptr failure;
        try {
            file->Sync();
            file->Close();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        --busy_;
        if (failure && !failure_) failure_ = failure;
        done_.push_back(std::move(file));
        changed_.notify_all();
    }
}

}  // namespace splitter
