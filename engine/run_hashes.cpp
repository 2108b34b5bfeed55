#include "engine/run_hashes.h"

#include <algorithm>
#include <cstring>

namespace splitter {

RunHashes::RunHashes()
    : buffers_(kBuffers, std::vector<char>(kBufferSize)), thread_([this] { HashWhole(); }) {}

RunHashes::~RunHashes() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    handed_.notify_one();
    thread_.join();
}

char* RunHashes::Buffer() {
    Wait(/*free=*/true);
    return buffers_[given_ % kBuffers].data();
}

void RunHashes::Update(const char* data, std::size_t n) {
    while (n > 0) {
        char* buffer = Buffer();
        const std::size_t chunk = std::min(n, kBufferSize);
        if (data != buffer) std::memcpy(buffer, data, chunk);
        {
            const std::lock_guard lock(mutex_);
            lengths_[given_ % kBuffers] = chunk;
            ++given_;
        }
        handed_.notify_one();
        part_.Update(buffer, chunk);
        data += chunk;
        n -= chunk;
    }
}

Sha256Digest RunHashes::FinishPart() {
    return part_.Final();
}

Sha256Digest RunHashes::Whole() {
    Wait(/*free=*/false);
    return whole_.Final();
}

// Until a buffer is free (`free`) or every buffer is hashed; throws the failure of the whole's
// thread.
void RunHashes::Wait(bool free) {
    std::unique_lock lock(mutex_);
    hashed_.wait(lock,
                 [&] { return failure_ || (free ? given_ - done_ < kBuffers : done_ == given_); });
    if (failure_) std::rethrow_exception(failure_);
}

void RunHashes::HashWhole() {
    try {
        std::unique_lock lock(mutex_);
        for (;;) {
            handed_.wait(lock, [&] { return stop_ || done_ < given_; });
            if (stop_) return;
            const std::size_t k = done_ % kBuffers;
            lock.unlock();
            whole_.Update(buffers_[k].data(), lengths_[k]);
            lock.lock();
            ++done_;
            hashed_.notify_one();
        }
    } catch (...) {
        // Whatever Update threw: the caller's thread throws it and ends the run.
        {
            const std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
        }
        hashed_.notify_one();
    }
}

}  // namespace splitter
