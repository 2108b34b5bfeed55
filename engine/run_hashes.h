// The SHA-256 of each part of a run and of the whole run, side by side: the part's on the
// caller's thread, the whole's on a thread of its own that reads the very buffers the caller has
// read into. Two independent streams over the same bytes then take two processors instead of
// one processor twice as long, and checking a run costs about one hash pass.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "files/hash.h"

namespace splitter {

class RunHashes {
public:
    // The size of a buffer: read, hashed and written while still in the processors' caches.
    static constexpr std::size_t kBufferSize = std::size_t{256} << 10;

    RunHashes();
    // Stops the whole's thread, done or not, within one buffer's hashing.
    ~RunHashes();
    RunHashes(const RunHashes&) = delete;
    RunHashes& operator=(const RunHashes&) = delete;

    // A buffer of kBufferSize bytes for the run's next bytes, to be given to Update: the best
    // way in, since its bytes then reach the other thread without a copy. Waits until the
    // whole's thread is done with the buffer; the same one until it is given to Update.
    char* Buffer();

    // Hashes the run's next `n` bytes into the part's digest and the whole's. Bytes in Buffer()
    // are handed over as they are: from then on the caller may still read them but not change
    // them. Bytes anywhere else are copied first (zeros for a hole, say).
    void Update(const char* data, std::size_t n);

    // The digest of the part's bytes given since the start or the last FinishPart; the next
    // bytes start the next part.
    Sha256Digest FinishPart();

    // The digest of every byte given since the start. Waits for the whole's thread.
    Sha256Digest Whole();

    // A failure on the whole's thread is thrown on the caller's by the next Buffer, Update or
    // Whole.

private:
    static constexpr std::size_t kBuffers = 4;

    void HashWhole();  // the whole's thread
    void Wait(bool free);

    Sha256 part_;
    Sha256 whole_;  // the whole's thread's until it has caught up
    std::vector<std::vector<char>> buffers_;
    std::size_t lengths_[kBuffers] = {};

    std::mutex mutex_;
    std::condition_variable handed_;  // to the whole's thread: more to hash, or stop
    std::condition_variable hashed_;  // to the caller: a buffer is free, or a failure
    std::uint64_t given_ = 0;         // buffers handed over since the start
    std::uint64_t done_ = 0;          // buffers hashed by the whole's thread
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_;  // last: it starts once the rest is there
};

}  // namespace splitter
