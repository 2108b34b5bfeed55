// The SHA-256 of each part of a run and of the whole run, side by side, on threads that read the
// very buffers the caller has read into while the caller reads and writes the next ones. Where
// the processor has SHA instructions, one thread makes both digests at once (sha256_pair.h),
// for little more than one costs; elsewhere each of the two takes a thread of its own, so that
// two independent streams over the same bytes share the processors with the copy instead of
// following each other on one. Checking a run then costs about one hash pass.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/sha256_pair.h"
#include "files/hash.h"

namespace splitter {

class RunHashes {
public:
    // The size of a buffer: read, hashed and written while still in the processors' caches.
    static constexpr std::size_t kBufferSize = std::size_t{256} << 10;

    // `parts`: the parts' digests too (FinishPart), not only the whole's. `pair`: both by one
    // thread where the processor can (HasSha256Pair), the library's on two threads where not.
    explicit RunHashes(bool parts = true, bool pair = HasSha256Pair());
    // Stops the threads, done or not, within one buffer's hashing.
    ~RunHashes();
    RunHashes(const RunHashes&) = delete;
    RunHashes& operator=(const RunHashes&) = delete;

    // A buffer of kBufferSize bytes for the run's next bytes, to be given to Update: the best
    // way in, since its bytes then reach the threads without a copy. Waits until the threads are
    // done with the buffer; the same one until it is given to Update.
    char* Buffer();

    // Hands the run's next `n` bytes to the part's digest and the whole's. Bytes at the start
    // of Buffer() (n at most kBufferSize) are handed over as they are: from then on the caller
    // may still read them (to write them) but not change them. Bytes anywhere else are copied
    // first (zeros for a hole, say).
    void Update(const char* data, std::size_t n);

    // The digest of the part's bytes given since the start or the last FinishPart; the next
    // bytes start the next part. Waits for the part's thread.
    Sha256Digest FinishPart();

    // The digest of every byte given since the start. Waits for the whole's thread.
    Sha256Digest Whole();

    // A failure on either thread (the hash library's) is thrown on the caller's by its next
    // call to any of these four, and ends the run as a failure of the copy would. The
    // destructor, on the way out of any run, stops both threads.

private:
    // 8 MiB in all: room for either thread to fall behind the copy a while without stopping it.
    static constexpr std::size_t kBuffers = 32;

    // One digest and the thread that hashes into it: the whole's thread makes the part's too
    // when the two are a pair.
    struct Stream {
        Sha256 hash;             // the thread's while it is behind the caller
        Sha256Stream own;        // the same, for a pair
        std::uint64_t done = 0;  // buffers hashed
        std::thread thread;
    };

    void Hash(Stream& stream);  // a stream's thread
    // The buffers handed over that a stream has still to hash.
    std::uint64_t Behind() const {
        return given_ - (parts_ && !pair_ ? std::min(part_.done, whole_.done) : whole_.done);
    }
    void Stop();
    template <typename Ready>
    void Wait(Ready ready);

    std::vector<std::vector<char>> buffers_;
    std::size_t lengths_[kBuffers] = {};

    std::mutex mutex_;
    std::condition_variable handed_;  // to the threads: more to hash, or stop
    std::condition_variable hashed_;  // to the caller: a buffer hashed, or a failure
    std::uint64_t given_ = 0;         // buffers handed over since the start
    bool waiting_ = false;            // the caller, on hashed_
    bool stop_ = false;
    std::exception_ptr failure_;

    const bool parts_;
    const bool pair_;  // parts_, and both digests made by whole_'s thread
    Stream part_;
    Stream whole_;
};

}  // namespace splitter
