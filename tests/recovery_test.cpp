// The pieces of the recovery volumes: the field's arithmetic, the format's constants, CRC-32,
// names as par2 gives them, and a reader that skips what is damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/recovery/field.h"
#include "engine/recovery/layout.h"
#include "engine/recovery/packets.h"
#include "engine/recovery/reed_solomon.h"
#include "engine/recovery/writer.h"
#include "test_support.h"

namespace splitter {
namespace {

// Carry-less multiplication, reduced by the generator bit by bit: the definition.
std::uint16_t ReferenceMultiply(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (; b != 0; b >>= 1, a <<= 1) {
        if (a & 0x10000) a ^= gf16::kGenerator;
        if (b & 1) product ^= a;
    }
    return static_cast<std::uint16_t>(product);
}

TEST(RecoveryTest, FieldArithmetic) {
    // 142 bytes: the vector loop (64 bytes a step), the loop of four words and single words.
    std::string src(142, '\0');
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<char>(i * 37 + 11);
    using Words = std::vector<std::uint16_t>;
    for (const std::uint16_t factor : Words{0, 1, 2, 0x8000, 0x1234, 0xFFFF}) {
        for (const std::uint16_t x : Words{1, 3, 0x100B, 0xABCD, 0xFFFF}) {
            EXPECT_EQ(gf16::Multiply(factor, x), ReferenceMultiply(factor, x)) << factor;
            EXPECT_EQ(gf16::Multiply(x, gf16::Inverse(x)), 1) << x;
        }
        std::string dst(src.size(), '\x5A');
        gf16::Multiplier(factor).MultiplyAdd(reinterpret_cast<std::uint8_t*>(dst.data()),
                                             reinterpret_cast<const std::uint8_t*>(src.data()),
                                             src.size());
        for (std::size_t i = 0; i < src.size(); i += 2) {
            const auto word = static_cast<std::uint16_t>(static_cast<unsigned char>(src[i]) |
                                                         static_cast<unsigned char>(src[i + 1]) << 8);
            const std::uint16_t want = ReferenceMultiply(factor, word) ^ 0x5A5A;
            EXPECT_EQ(static_cast<unsigned char>(dst[i]) | static_cast<unsigned char>(dst[i + 1]) << 8,
                      want)
                << "factor " << factor << ", word " << i / 2;
        }
    }
}

TEST(RecoveryTest, ConstantsAndCrc) {
    EXPECT_EQ(rs::InputConstantLogs(10),
              (std::vector<std::uint32_t>{1, 2, 4, 7, 8, 11, 13, 14, 16, 19}));
    EXPECT_EQ(rs::InputConstantLogs(40000).size(), par2::kMaxInputSlices);
    EXPECT_EQ(par2::Crc32("123456789", 9), 0xCBF43926u);
    const std::string padded = "ab" + std::string(5000, '\0');
    EXPECT_EQ(par2::Crc32Zeros(5000, par2::Crc32("ab", 2)),
              par2::Crc32(padded.data(), padded.size()));
}

// The names par2 create -c5, -c10 and -c100 give its files.
TEST(RecoveryTest, NamesAsPar2GivesThem) {
    const struct {
        std::uint32_t count;
        std::vector<std::string> names;
    } cases[] = {
        {1, {"f.par2", "f.vol0+1.par2"}},
        {5, {"f.par2", "f.vol0+1.par2", "f.vol1+2.par2", "f.vol3+2.par2"}},
        {10, {"f.par2", "f.vol00+1.par2", "f.vol01+2.par2", "f.vol03+4.par2", "f.vol07+3.par2"}},
        {100, {"f.par2", "f.vol000+01.par2", "f.vol001+02.par2", "f.vol003+04.par2",
               "f.vol007+08.par2", "f.vol015+16.par2", "f.vol031+32.par2", "f.vol063+37.par2"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RecoveryFileTitles("f", c.count), c.names);
        for (const std::string& name : c.names) EXPECT_TRUE(IsRecoveryFileTitle("f", name));
    }
    for (const char* other : {"f.par", "g.par2", "f.vol+1.par2", "f.vol1+.par2", "f.vol1+2+3.par2"})
        EXPECT_FALSE(IsRecoveryFileTitle("f", other)) << other;
}

// A packet whose MD5 fails is skipped, the one after it read; so is one cut short.
TEST(RecoveryTest, ReaderSkipsDamagedPackets) {
    const Md5Digest id{};
    const std::string first =
        par2::Packet(id, par2::kRecoverySliceType, std::string("\1\0\0\0slice one!!!", 16));
    const std::string second =
        par2::Packet(id, par2::kRecoverySliceType, std::string("\2\0\0\0slice two!!!", 16));
    for (const std::size_t damaged : {std::size_t{20}, std::size_t{70}, first.size() - 1}) {
        std::string bytes = first + second + second.substr(0, 40);
        bytes[damaged] ^= 1;
        par2::Packets packets;
        par2::Scan(bytes, 0, packets);
        ASSERT_EQ(packets.recovery.size(), 1u) << damaged;
        EXPECT_EQ(packets.recovery[0].exponent, 2u);
        EXPECT_EQ(bytes.substr(packets.recovery[0].offset, packets.recovery[0].size), "slice two!!!");
    }
}

// A set made a few slices at a time, in several passes over the parts, is byte for byte the set
// made in one.
TEST(RecoveryTest, PassesOverThePartsMakeTheSameSet) {
    const test::TempDir one;
    const test::TempDir several;
    const std::vector<std::string> parts{"f.0", "f.1", "f.2"};
    for (const test::TempDir* dir : {&one, &several}) {
        for (std::size_t k = 0; k < parts.size(); ++k) dir->MakeFile(parts[k], 3000 + 700 * k);
    }
    test::RecordingHost host;
    WriteRecoverySet(one / "", "f", parts, 40, kAllPermissions, host, FileSystem::Default());
    const std::uint64_t slice = PlanRecovery({3000, 3700, 4400}, 40).sliceSize;
    WriteRecoverySet(several / "", "f", parts, 40, kAllPermissions, host, FileSystem::Default(),
                     static_cast<std::size_t>(3 * slice));
    ASSERT_EQ(one.Names(), several.Names());
    ASSERT_GT(one.Names().size(), 5u);
    for (const std::string& name : one.Names())
        EXPECT_EQ(test::ReadBytes(one / name), test::ReadBytes(several / name)) << name;
    EXPECT_TRUE(host.errors.empty()) << host.Messages();
}

}  // namespace
}  // namespace splitter
