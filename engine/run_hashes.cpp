#include "engine/run_hashes.h"

#include <algorithm>
#include <cstring>

namespace splitter {

RunHashes::RunHashes(bool parts, bool pair)
    : buffers_(kBuffers, std::vector<char>(kBufferSize)), parts_(parts), pair_(parts && pair) {
    try {
        if (parts_ && !pair_) part_.thread = std::thread([this] { Hash(part_); });
        whole_.thread = std::thread([this] { Hash(whole_); });
    } catch (...) {
        Stop();  // the thread that did start
        throw;
    }
}

RunHashes::~RunHashes() {
    Stop();
}

void RunHashes::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    handed_.notify_all();
    for (Stream* stream : {&part_, &whole_}) {
        if (stream->thread.joinable()) stream->thread.join();
    }
}

char* RunHashes::Buffer() {
    Wait([&] { return Behind() < kBuffers; });
    return buffers_[given_ % kBuffers].data();
}

void RunHashes::Update(const char* data, std::size_t n) {
    while (n > 0) {
        char* buffer = Buffer();
        const std::size_t chunk = std::min(n, kBufferSize);
        if (data != buffer) std::memcpy(buffer, data, chunk);
        bool wake = false;
        {
            const std::lock_guard lock(mutex_);
            lengths_[given_ % kBuffers] = chunk;
            ++given_;
            // A thread that waits is woken for half the buffers at once, or when the caller
            // itself is about to wait (Wait): one wake-up for several buffers.
            wake = Behind() >= kBuffers / 2;
        }
        if (wake) handed_.notify_all();
        data += chunk;
        n -= chunk;
    }
}

Sha256Digest RunHashes::FinishPart() {
    Stream& by = pair_ ? whole_ : part_;
    Wait([&] { return by.done == given_; });
    return pair_ ? part_.own.Final() : part_.hash.Final();
}

Sha256Digest RunHashes::Whole() {
    Wait([&] { return whole_.done == given_; });
    return pair_ ? whole_.own.Final() : whole_.hash.Final();
}

// Until `ready` (read under the lock); throws the failure of either thread.
template <typename Ready>
void RunHashes::Wait(Ready ready) {
    std::unique_lock lock(mutex_);
    if (!failure_ && !ready()) {
        handed_.notify_all();
        waiting_ = true;
        hashed_.wait(lock, [&] { return failure_ || ready(); });
        waiting_ = false;
    }
    if (failure_) std::rethrow_exception(failure_);
}

void RunHashes::Hash(Stream& stream) {
    try {
        std::unique_lock lock(mutex_);
        for (;;) {
            handed_.wait(lock, [&] { return stop_ || failure_ || stream.done < given_; });
            if (stop_ || failure_) return;
            const std::size_t k = stream.done % kBuffers;
            lock.unlock();
            if (pair_)
                UpdateBoth(part_.own, whole_.own, buffers_[k].data(), lengths_[k]);
            else
                stream.hash.Update(buffers_[k].data(), lengths_[k]);
            lock.lock();
            ++stream.done;
            // The caller waits for a buffer, a part's end or the whole's: it is woken once half
            // the buffers are free, or once this stream has caught up.
            if (waiting_ && (stream.done == given_ || Behind() <= kBuffers / 2))
                hashed_.notify_one();
        }
    } catch (...) {
        // Whatever Update threw: the caller's thread throws it and ends the run.
        {
            const std::lock_guard lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
        hashed_.notify_one();
        handed_.notify_all();
    }
}

}  // namespace splitter
