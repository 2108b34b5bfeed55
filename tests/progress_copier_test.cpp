// The copy loop that split and join share: where its blocks end and where its texts appear.
#include "engine/progress_copier.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace splitter {
namespace {

constexpr std::uint64_t kMaxBlock = std::uint64_t{4} << 20;
constexpr std::uint64_t kAlignment = std::uint64_t{64} << 10;
constexpr std::uint64_t kFileSystemBlock = 4096;

// A part held in memory that records the blocks it is asked to copy.
class BlockLog final : public WritableFile {
public:
    struct Block {
        std::uint64_t start;  // in the part
        std::uint64_t length;
    };

    void Write(const char* data, std::size_t n) override { bytes.append(data, n); }
    void CopyFrom(ReadableFile& source, std::uint64_t n) override {
        blocks.push_back({bytes.size(), n});
        WritableFile::CopyFrom(source, n);
    }
    void Sync() override {}
    void Close() override {}
    const std::string& Name() const override { return name_; }

    std::string bytes;
    std::vector<Block> blocks;

private:
    std::string name_ = "part";
};

// Over whole runs: the texts appear at the bytes of a byte-by-byte copy, and every block ends at
// a progress point, at the end of its part, or on a 64 KiB boundary of the part, but for the one
// after a progress point, which ends on the next 4 KiB boundary: one block is off the file
// system's blocks and no more (a copy-on-write file system shares the others). The parts start
// off 64 KiB boundaries of the whole, or on them, or are shorter than 64 KiB, or longer than a
// block.
TEST(ProgressCopierTest, BlocksEndAtProgressPointsOrRealignInThePart) {
    struct Case {
        std::uint64_t length;
        int parts;
    };
    const Case cases[] = {
        {(std::uint64_t{10} << 20) + 12345, 3},
        {std::uint64_t{16} << 20, 2},
        {std::uint64_t{3} << 20, 5},
        {1000, 7},
        {(std::uint64_t{1} << 20) + 1, 999},
        {std::uint64_t{7} << 20, 7},  // parts of 1 MiB: aligned in both files
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " in " + std::to_string(c.parts));
        const test::ReferenceRun reference = test::ReferenceStatuses(c.length, c.parts);
        const std::string whole = test::PatternBytes(static_cast<std::size_t>(c.length));
        test::MemoryFileSystem memory;
        test::RecordingHost host;
        std::uint64_t copied = 0;  // before the part being copied
        BlockLog* current = nullptr;
        std::vector<std::uint64_t> bytesAtStatus;
        host.onStatus = [&](const std::string&) {
            bytesAtStatus.push_back(copied + current->bytes.size());
        };

        ProgressCopier copier(c.length, "Splitting", host);
        std::uint64_t start = 0;
        for (const std::uint64_t size : PlanPartSizes(c.length, c.parts)) {
            const auto at = static_cast<std::size_t>(start);
            memory.Add("/m/part", whole.substr(at, static_cast<std::size_t>(size)));
            const auto from = memory.OpenRead("/m/part");
            BlockLog part;
            current = &part;
            copier.CopyPart(*from, part, size);

            ASSERT_TRUE(part.bytes == whole.substr(at, static_cast<std::size_t>(size)));
            std::uint64_t unaligned = 0;
            for (const BlockLog::Block& block : part.blocks) {
                const std::uint64_t end = block.start + block.length;
                const bool offBlock = block.start % kFileSystemBlock != 0;
                if (offBlock) {
                    ++unaligned;
                    EXPECT_LT(block.length, kFileSystemBlock) << "a block at " << block.start;
                }
                const bool atProgressPoint =
                    std::find(reference.bytesAtStatus.begin(), reference.bytesAtStatus.end(),
                              start + end) != reference.bytesAtStatus.end();
                EXPECT_TRUE(end == size || atProgressPoint || end % kAlignment == 0 ||
                            (offBlock && end % kFileSystemBlock == 0))
                    << "a block of part at " << start << " ends at " << end;
                EXPECT_LE(block.length, kMaxBlock);
            }
            // Each progress point leaves one block unaligned: the one that follows it.
            EXPECT_LE(unaligned, reference.bytesAtStatus.size());
            copied += size;
            start += size;
        }
        EXPECT_EQ(bytesAtStatus, reference.bytesAtStatus);
        const std::vector<std::string> progress(reference.statuses.begin() + 1,
                                                reference.statuses.end() - 1);
        EXPECT_EQ(host.statuses, progress);
    }
}

// What a terminal shows after a progress text: read back from the text, then the pace.
TEST(ProgressCopierTest, RateAndTimeLeftOnATerminal) {
    const std::optional<int> percent = ProgressPercent("Splitting... [ 25 % Completed. ]");
    ASSERT_EQ(percent, 25);
    EXPECT_EQ(RateAndTimeLeft(*percent, 4'000'000'000, 10), "  100.0 MB/s, 0:30 left");
    EXPECT_EQ(RateAndTimeLeft(1, 0, 60), "  1:39:00 left");  // no total: no rate
    EXPECT_EQ(RateAndTimeLeft(40, 4'000, 0.5), "");          // too soon to tell
    EXPECT_EQ(ProgressPercent("Done !"), std::nullopt);
}

}  // namespace
}  // namespace splitter
