// The copy loop of a run, split or join, with its progress: both runs copy through it, so both
// show the same status texts at the same bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/plan.h"
#include "engine/run_host.h"
#include "files/file_system.h"
#include "files/hash.h"

namespace splitter {

class RunHashes;

// "Splitting... [ 42 % Completed. ]" for the verb "Splitting", "Joining... [ ... ]" likewise.
std::string ProgressText(std::string_view verb, int percent);

// The P of a text "VERB... [ P % Completed. ]", nullopt for any other text.
std::optional<int> ProgressPercent(std::string_view text);

// What a terminal shows after a progress text, from how far the run has got (`percent` of
// `total` bytes) in `seconds`: "  42.0 MB/s, 1:05 left". With no total (0), the time left
// alone. Empty before the first second or the first per cent, when neither means anything yet.
std::string RateAndTimeLeft(int percent, std::uint64_t total, double seconds);

// Copies the parts of a run of `total` bytes, one after the other, and shows how far the run
// has got over all of them: ProgressText(verb, P), right after a yield, each time the
// whole-number percentage of the byte just copied (PercentAt) changes, so at exactly the bytes
// where a byte-by-byte copy would show it, whatever is data and whatever a hole; between them a
// yield about every 100 ms.
//
// Blocks end at a progress point, then on the next 4 KiB and the next 64 KiB of the part: a
// copy-on-write file system (XFS, btrfs) shares only ranges aligned in both files, so a point
// costs one unshared block, and the kernel copies aligned ranges fastest. Holes of the source
// (ReadableFile::Ahead) stay holes. With hashing the bytes pass through RunHashes' buffers
// instead of the kernel, so the digests are of the bytes written, read once; a hole hashes as
// its zeros.
// What a copy hashes: nothing, the whole run, or each part and the whole run.
enum class Hashing { kNone, kWhole, kPartsAndWhole };

class ProgressCopier {
public:
    ProgressCopier(std::uint64_t total, std::string_view verb, RunHost& host,
                   Hashing hashing = Hashing::kNone);
    ~ProgressCopier();

    // Copies the run's next `size` bytes from the current position of `from` to that of `to`:
    // one part. A failure of either file throws, and ends the run. Returns the SHA-256 of the
    // part's bytes with Hashing::kPartsAndWhole, nullopt otherwise.
    std::optional<Sha256Digest> CopyPart(ReadableFile& from, WritableFile& to, std::uint64_t size);

    // When hashing: the SHA-256 of every byte copied so far, over all parts.
    Sha256Digest WholeDigest();

private:
    // Copies n bytes, skipping holes and copying data with CopyBlock.
    void CopyStretches(ReadableFile& from, WritableFile& to, std::uint64_t n);
    // n bytes of a hole.
    void SkipHole(ReadableFile& from, WritableFile& to, std::uint64_t n);
    // n bytes of data.
    void CopyBlock(ReadableFile& from, WritableFile& to, std::uint64_t n);
    void Yield();

    const ProgressPlan plan_;
    const std::string verb_;
    RunHost& host_;
    std::uint64_t offset_ = 0;  // in the whole run, of the next byte to copy
    int lastShown_ = 0;
    ProgressStep next_;  // the next point where the percentage changes
    std::chrono::steady_clock::time_point lastYield_;

    std::unique_ptr<RunHashes> hashes_;  // when hashing
    const bool partDigests_;
};

}  // namespace splitter
