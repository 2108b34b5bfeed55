// The parts of a split go to the disk before the script that names them takes its name, but
// each part's flush (fdatasync, FlushFileBuffers) waits on the disk: done in line, one after
// the other, it would keep the copy waiting once a part. Here the parts are flushed and closed
// on threads of their own, taken in the order they were written, while the copy goes on with the
// next ones; the run waits for them once, before it writes what points at them. Several
// flushes at once let the file system commit them together (ext4's journal does one commit for
// all the flushes that wait on it): with many small parts the commits are the cost.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "files/file_system.h"

namespace splitter {

class BackgroundSync {
public:
    BackgroundSync();
    // Waits for the files being flushed, if any; the others are closed unflushed, silently (a
    // failure is on its way out).
    ~BackgroundSync();
    BackgroundSync(const BackgroundSync&) = delete;
    BackgroundSync& operator=(const BackgroundSync&) = delete;

    // Flushes `file` to the disk and closes it, on a thread. Throws the failure of a file
    // handed over earlier, if one failed; waits while kMaxWaiting files wait, so that the copy
    // keeps no more than that many open.
    void Add(std::unique_ptr<WritableFile> file);

    // Waits until every file handed over is flushed and closed; throws the first failure.
    void Finish();

private:
    static constexpr std::size_t kMaxWaiting = 16;
    static constexpr int kThreads = 4;

    void Run();  // a thread
    void ThrowFailure();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<WritableFile>> waiting_;
    // Flushed and closed, destroyed on the caller's thread (a wrapper's bookkeeping is its).
    std::vector<std::unique_ptr<WritableFile>> done_;
    int busy_ = 0;  // threads flushing a file
    bool stop_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

}  // namespace splitter
