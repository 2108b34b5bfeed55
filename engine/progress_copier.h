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

// Copies the parts of a run of `total` bytes, one after the other, and shows how far the run
// has got over all of them.
//
// Texts: ProgressText(verb, P) each time the whole-number percentage of the byte just copied
// (PercentAt) changes, at exactly the bytes where a byte-by-byte copy would show it: a block
// ends on the byte after which the percentage changes, the host yields, then the text is set.
// A long copy also yields about every 100 ms without touching the status.
//
// Blocks: at most 4 MiB, so the clock is looked at often. A block that starts off a 4 KiB
// boundary of the offset into the part (after a progress point) ends on the next one, and the
// block after it on the next 64 KiB boundary, so that the blocks after them are aligned again:
// a copy-on-write file system (XFS, btrfs) shares blocks only for ranges aligned to its blocks
// in both files, so each progress point costs one unshared 4 KiB block and no more, and the
// kernel copies 64 KiB-aligned ranges faster (the page cache keeps large folios). The offset
// into the part is the offset in the part file, written by a split and read by a join; the
// offset in the whole file differs from it by the part's start, so it is aligned too whenever
// the part starts on a block boundary (every part size a multiple of 4096), the only case in
// which both files can be aligned at all.
//
// Holes: a hole of the source (a sparse file, see ReadableFile::Ahead) is not read, and is left
// a hole in the destination; data goes as above. Holes only cut blocks in two, so the texts
// appear at the same bytes whatever is hole and whatever data. On a file system without holes
// every byte is data.
//
// Hashing: the copy goes through a buffer instead of the kernel, and every byte is hashed as it
// passes, once for its part and once for the whole run, the two on two threads (RunHashes): the
// digests are those of the bytes written, read once. A hole is hashed as the zeros it reads as.
class ProgressCopier {
public:
    ProgressCopier(std::uint64_t total, std::string_view verb, RunHost& host, bool hashing = false);
    ~ProgressCopier();

    // Copies the run's next `size` bytes from the current position of `from` to that of `to`:
    // one part. A failure of either file throws, and ends the run. Returns the SHA-256 of the
    // part's bytes when hashing, nullopt otherwise.
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
};

}  // namespace splitter
