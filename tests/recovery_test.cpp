// The pieces of the recovery volumes: the field's arithmetic, the format's constants, CRC-32,
// names as par2 gives them, and a reader that skips what is damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/join.h"
#include "engine/recovery/field.h"
#include "engine/recovery/layout.h"
#include "engine/recovery/md5_pair.h"
#include "engine/recovery/packets.h"
#include "engine/recovery/reed_solomon.h"
#include "engine/recovery/repair.h"
#include "engine/recovery/writer.h"
#include "engine/split.h"
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
            const auto word = static_cast<std::uint16_t>(
                static_cast<unsigned char>(src[i]) | static_cast<unsigned char>(src[i + 1]) << 8);
            const std::uint16_t want = ReferenceMultiply(factor, word) ^ 0x5A5A;
            EXPECT_EQ(static_cast<unsigned char>(dst[i]) | static_cast<unsigned char>(dst[i + 1])
                                                               << 8,
                      want)
                << "factor " << factor << ", word " << i / 2;
        }
    }
}

// Every kernel this processor has, in the kernels' order, against the field's own product:
// 142 bytes are two whole 64s in that order and 14 bytes past them in the plain order.
TEST(RecoveryTest, KernelsAgainstTheFieldArithmetic) {
    using gf16::Kernel;
    const struct {
        Kernel kernel;
        std::uint16_t factor;
    } cases[] = {{Kernel::kTables, 0x1234}, {Kernel::kTables, 0xFFFF}, {Kernel::kAvx2, 2},
                 {Kernel::kAvx2, 0xABCD},   {Kernel::kGfni, 1},        {Kernel::kGfni, 0x8000},
                 {Kernel::kGfni, 0xFEDC},   {Kernel::kGfni, 0x100B}};
    for (const auto& c : cases) {
        if (!gf16::Supports(c.kernel)) continue;
        std::vector<std::uint8_t> src(142), dst(142);
        for (std::size_t i = 0; i < src.size(); ++i) {
            src[i] = static_cast<std::uint8_t>(i * 37 + 11);
            dst[i] = static_cast<std::uint8_t>(i * 101 + 5);
        }
        const std::vector<std::uint8_t> before = dst;
        gf16::ToKernelOrder(src.data(), src.size());
        gf16::ToKernelOrder(dst.data(), dst.size());
        gf16::Multiplier(c.factor).MultiplyAddOrdered(dst.data(), src.data(), src.size(), c.kernel);
        gf16::FromKernelOrder(dst.data(), dst.size());
        gf16::FromKernelOrder(src.data(), src.size());
        for (std::size_t i = 0; i < src.size(); i += 2) {
            const auto word = static_cast<std::uint16_t>(src[i] | src[i + 1] << 8);
            EXPECT_EQ(dst[i] | dst[i + 1] << 8,
                      gf16::Multiply(c.factor, word) ^ (before[i] | before[i + 1] << 8))
                << "kernel " << static_cast<int>(c.kernel) << ", factor " << c.factor << ", word "
                << i / 2;
        }
    }
}

// Sums of many products, with every kernel this processor has, against the field's own: 13
// outputs (eight, four and one at a time) of three inputs, 142 bytes as above.
TEST(RecoveryTest, ManyProductsAgainstTheFieldArithmetic) {
    using gf16::Kernel;
    constexpr std::size_t kBytes = 142;
    constexpr unsigned kOut = 13, kIn = 3;
    std::vector<std::uint16_t> factors(kOut * kIn);
    for (std::size_t k = 0; k < factors.size(); ++k)
        factors[k] = static_cast<std::uint16_t>(k == 4 ? 0 : k * 0x2F1D + 1);
    const auto bytes = [](unsigned seed) {
        const std::string p = test::PatternBytes(kBytes, seed);
        return std::vector<std::uint8_t>(p.begin(), p.end());
    };
    for (const auto& [kernel, plain] : {std::pair{Kernel::kTables, false},
                                       {Kernel::kAvx2, false},
                                       {Kernel::kGfni, false},
                                       {Kernel::kGfni512, false},
                                       {Kernel::kGfni512, true}}) {
        if (!gf16::Supports(kernel)) continue;
        std::vector<std::vector<std::uint8_t>> in(kIn), out(kOut);
        for (unsigned i = 0; i < kIn; ++i) in[i] = bytes(i + 1);
        for (unsigned o = 0; o < kOut; ++o) out[o] = bytes(10 + o);
        const auto before = out;
        std::vector<std::uint8_t*> dst;
        std::vector<const std::uint8_t*> src;
        for (auto& o : out) gf16::ToKernelOrder(o.data(), kBytes), dst.push_back(o.data());
        for (auto& i : in) {
            if (!plain) gf16::ToKernelOrder(i.data(), kBytes);
            src.push_back(i.data());
        }
        gf16::ManyProducts(factors, kOut, kIn, kernel)
            .MultiplyAdd(dst.data(), src.data(), kBytes, plain);
        for (auto& o : out) gf16::FromKernelOrder(o.data(), kBytes);
        for (auto& i : in)
            if (!plain) gf16::FromKernelOrder(i.data(), kBytes);
        for (std::size_t o = 0; o < kOut; ++o) {
            for (std::size_t w = 0; w < kBytes; w += 2) {
                auto want = static_cast<std::uint16_t>(before[o][w] | before[o][w + 1] << 8);
                for (std::size_t i = 0; i < kIn; ++i)
                    want ^=
                        gf16::Multiply(factors[o * kIn + i],
                                       static_cast<std::uint16_t>(in[i][w] | in[i][w + 1] << 8));
                ASSERT_EQ(out[o][w] | out[o][w + 1] << 8, want)
                    << "kernel " << static_cast<int>(kernel) << ", output " << o << ", word "
                    << w / 2;
            }
        }
    }
}

// The interleaved MD5s against the system's, at lengths on both sides of a block's end, one of
// the two streams half way into a block.
TEST(RecoveryTest, Md5PairAgainstTheSystemsMd5) {
    const std::string bytes = test::PatternBytes(5000);
    const struct {
        std::size_t a, b;
    } cases[] = {{0, 0}, {1, 64}, {49, 63}, {56, 57}, {57, 0}, {120, 4096}, {4993, 3}};
    for (const auto& c : cases) {
        par2::Md5Stream a, b;
        a.Update(bytes.data(), 7);
        par2::UpdateBoth(a, b, bytes.data() + 7, c.a, c.b);
        EXPECT_EQ(a.Final(), par2::Md5Of(std::string_view(bytes).substr(0, 7 + c.a))) << c.a;
        EXPECT_EQ(b.Final(), par2::Md5Of(std::string_view(bytes).substr(7, c.b))) << c.b;
    }
}

// The digests side by side against one at a time, in every kernel the processor has: more jobs
// than lanes, of lengths that differ (job j takes (first + j * step) % wrap bytes; a job of none
// has no data), and streams that already hold part of a block.
TEST(RecoveryTest, Md5LanesAgainstOneAtATime) {
    const std::string bytes = test::PatternBytes(40 * 37 + 9000);
    const struct {
        std::size_t jobs, first, step, wrap, waiting;
    } cases[] = {{1, 640, 0, 9000, 0},    {3, 200, 0, 9000, 5},   {16, 4096, 0, 9000, 0},
                 {17, 900, 131, 9000, 0}, {40, 0, 997, 9000, 13}, {40, 8999, 64, 9000, 0}};
    for (const auto kernel :
         {par2::Md5Kernel::kPair, par2::Md5Kernel::kAvx2, par2::Md5Kernel::kAvx512}) {
        if (!par2::Supports(kernel)) continue;
        for (const auto& c : cases) {
            std::vector<par2::Md5Stream> lanes(c.jobs), alone(c.jobs);
            std::vector<par2::Md5Job> jobs;
            for (std::size_t j = 0; j < c.jobs; ++j) {
                const char* data = bytes.data() + 37 * j;
                lanes[j].Update(data, c.waiting * (j + 1) % 64);
                alone[j].Update(data, c.waiting * (j + 1) % 64);
                const std::size_t length = (c.first + j * c.step) % c.wrap;
                jobs.push_back({&lanes[j], length > 0 ? data : nullptr, length});
                alone[j].Update(data, length);
            }
            par2::UpdateMany(jobs.data(), jobs.size(), kernel);
            for (std::size_t j = 0; j < c.jobs; ++j)
                EXPECT_EQ(lanes[j].Final(), alone[j].Final())
                    << "kernel " << static_cast<int>(kernel) << ", " << c.jobs << " jobs, job "
                    << j;
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

// The CRC-32 bit by bit: the definition.
std::uint32_t ReferenceCrc32(std::string_view bytes, std::uint32_t crc) {
    crc = ~crc;
    for (const char b : bytes) {
        crc ^= static_cast<unsigned char>(b);
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

// Every CRC kernel this processor has against the definition, from an odd offset and a CRC
// that is not 0: each length to 300 (the steps of 16, 64 and 256 bytes and what is past them)
// and a few long ones.
TEST(RecoveryTest, CrcKernelsAgainstTheDefinition) {
    using par2::CrcKernel;
    const struct {
        CrcKernel kernel;
        std::size_t offset;
        std::uint32_t crc;
    } cases[] = {{CrcKernel::kTables, 1, 0x12345678},  {CrcKernel::kTables, 3, 0xFFFFFFFF},
                 {CrcKernel::kPclmul, 1, 0x9ABCDEF0},  {CrcKernel::kPclmul, 7, 1},
                 {CrcKernel::kVpclmul, 5, 0xDEADBEEF}, {CrcKernel::kVpclmul, 9, 0x80000000}};
    const std::string bytes = test::PatternBytes(70000);
    std::vector<std::size_t> lengths{511, 512, 4096 + 13, 65536 + 255};
    for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (const auto& c : cases) {
        if (!par2::Supports(c.kernel)) continue;
        for (const std::size_t n : lengths) {
            const std::string_view data = std::string_view(bytes).substr(c.offset, n);
            EXPECT_EQ(par2::Crc32(data.data(), n, c.crc, c.kernel), ReferenceCrc32(data, c.crc))
                << "kernel " << static_cast<int>(c.kernel) << ", offset " << c.offset << ", length "
                << n;
        }
    }
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
        {100,
         {"f.par2", "f.vol000+01.par2", "f.vol001+02.par2", "f.vol003+04.par2", "f.vol007+08.par2",
          "f.vol015+16.par2", "f.vol031+32.par2", "f.vol063+37.par2"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RecoveryFileTitles("f", c.count), c.names);
        for (const std::string& name : c.names) EXPECT_TRUE(IsRecoveryFileTitle("f", name));
    }
    for (const char* other : {"f.par", "g.par2", "f.vol+1.par2", "f.vol1+.par2", "f.vol1+2+3.par2"})
        EXPECT_FALSE(IsRecoveryFileTitle("f", other)) << other;
}

// The reader keeps what the format calls good and nothing else, in memory and streamed from a
// file: a packet whose MD5 fails is skipped and the one after it read, so is one cut short; a
// packet that ends the file is kept; a main packet whose set ID is not the MD5 of its body is
// not; a recovery slice of another size than the set's is not used; a recovery slice too large
// to be held (streamed through its hash) that is damaged leaves the packets after it readable.
TEST(RecoveryTest, ReaderKeepsOnlyGoodPackets) {
    const Md5Digest id{};
    const auto slice = [&](char exponent, const std::string& bytes) {
        return par2::Packet(id, par2::kRecoverySliceType,
                            std::string(1, exponent) + std::string(3, '\0') + bytes);
    };
    const std::string first = slice(1, "slice one!!!");
    const std::string second = slice(2, "slice two!!!");
    const std::string large = slice(3, std::string(5 << 20, 'L'));
    par2::Set set;
    set.sliceSize = 12;
    set.files.resize(1);
    set.files[0].id = Md5Digest{7};
    set.id = par2::SetIdOf(set.sliceSize, set.files);
    // Another set's ID on this body, the packet's own MD5 right.
    const std::string main = par2::Packet(Md5Digest{1}, par2::kMainType,
                                          par2::MainPacket(set).substr(par2::kHeaderSize));
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::uint32_t> exponents;  // of the slices kept, in order
        std::size_t mains;
    };
    const auto damaged = [](std::string bytes, std::size_t at) {
        bytes[at] ^= 1;
        return bytes;
    };
    const Case cases[] = {
        {"header damaged", damaged(first, 20) + second + second.substr(0, 40), {2}, 0},
        {"body damaged", damaged(first, 70) + second, {2}, 0},
        {"last byte damaged", damaged(first, first.size() - 1) + second, {2}, 0},
        {"a packet ends the file", first + second, {1, 2}, 0},
        {"a wrong set ID", main + second, {2}, 0},
        {"a good main packet", par2::MainPacket(set) + second, {2}, 1},
        {"a large slice damaged", damaged(large, large.size() / 2) + second, {2}, 0},
        {"a large slice whole", large + second, {3, 2}, 0},
    };
    for (const Case& c : cases) {
        const test::TempDir dir;
        test::WriteBytes(dir / "f.par2", c.bytes);
        for (const bool streamed : {false, true}) {
            par2::Packets packets;
            if (streamed)
                par2::Scan([&] { return FileSystem::Default().OpenRead(dir / "f.par2"); }, 0,
                           packets);
            else
                par2::Scan(c.bytes, 0, packets);
            std::vector<std::uint32_t> exponents;
            for (const auto& r : packets.recovery) {
                exponents.push_back(r.exponent);
                const std::string bytes = c.bytes.substr(static_cast<std::size_t>(r.offset),
                                                         static_cast<std::size_t>(r.size));
                EXPECT_EQ(bytes.substr(0, 6), r.exponent == 3 ? "LLLLLL" : "slice ") << c.what;
            }
            EXPECT_EQ(exponents, c.exponents) << c.what << (streamed ? ", streamed" : "");
            EXPECT_EQ(packets.mains.size(), c.mains) << c.what;
            // The set's slices are 12 bytes: the large one is none of them.
            EXPECT_EQ(par2::RecoveryOf(packets.recovery, id, 12).size(),
                      std::count(exponents.begin(), exponents.end(), 2u) +
                          std::count(exponents.begin(), exponents.end(), 1u))
                << c.what;
        }
    }
}

// The Reed-Solomon solve against the format's definition, computed here word by word from the
// field's own multiplication: any lost slices come back from as many recovery slices, with
// exponents up to the format's last, and a system with no solution says so.
TEST(RecoveryTest, SolveRebuildsWhatTheDefinitionEncodes) {
    const auto power = [](std::uint32_t base, std::uint64_t n) {
        std::uint16_t result = 1;
        for (std::uint16_t b = static_cast<std::uint16_t>(base); n > 0; n >>= 1) {
            if (n & 1) result = ReferenceMultiply(result, b);
            b = ReferenceMultiply(b, b);
        }
        return result;
    };
    constexpr std::size_t kSlices = 7;
    constexpr std::size_t kBytes = 70;  // the vector loop, four words at a time and single words
    std::vector<std::vector<char>> data(kSlices);
    for (std::size_t k = 0; k < kSlices; ++k) {
        const std::string bytes = test::PatternBytes(kBytes, static_cast<unsigned>(k + 1));
        data[k].assign(bytes.begin(), bytes.end());
    }
    const std::vector<std::uint32_t> logs = rs::InputConstantLogs(kSlices);
    const std::vector<std::uint32_t> exponents{0, 1, 7, 40000, par2::kMaxExponent};
    // R_e = sum over k of (2^log_k)^e D_k, word by word.
    std::vector<std::vector<char>> recovery;
    for (const std::uint32_t e : exponents) {
        std::vector<char> r(kBytes, 0);
        for (std::size_t k = 0; k < kSlices; ++k)
            for (std::size_t i = 0; i < kBytes; i += 2) {
                const auto word =
                    static_cast<std::uint32_t>(static_cast<std::uint8_t>(data[k][i]) |
                                               static_cast<std::uint8_t>(data[k][i + 1]) << 8);
                const std::uint16_t product = ReferenceMultiply(power(power(2, logs[k]), e), word);
                r[i] = static_cast<char>(r[i] ^ (product & 0xFF));
                r[i + 1] = static_cast<char>(r[i + 1] ^ (product >> 8));
            }
        recovery.push_back(r);
    }
    const std::vector<std::vector<std::size_t>> losses{{3}, {0, 6}, {1, 2, 5}, {0, 2, 4, 5, 6}};
    for (const std::vector<std::size_t>& lost : losses) {
        std::vector<std::uint32_t> lostLogs;
        for (const std::size_t k : lost) lostLogs.push_back(logs[k]);
        // The last recovery slices: the largest exponents.
        const std::vector<std::uint32_t> used(exponents.end() - static_cast<long>(lost.size()),
                                              exponents.end());
        const auto solution = rs::Solution::For(lostLogs, used);
        ASSERT_TRUE(solution) << lost.size();
        std::vector<std::vector<char>> rebuilt(lost.size(), std::vector<char>(kBytes, 0));
        {
            rs::Accumulator sums(kBytes, rebuilt);
            for (std::size_t i = 0; i < used.size(); ++i) {
                std::vector<std::uint16_t> factors;
                for (std::size_t j = 0; j < lost.size(); ++j)
                    factors.push_back(solution->recover(j)[i]);
                const std::vector<char>& r = recovery[exponents.size() - used.size() + i];
                std::copy(r.begin(), r.end(), sums.Next(factors));
            }
            for (std::size_t k = 0; k < kSlices; ++k) {
                if (std::find(lost.begin(), lost.end(), k) != lost.end()) continue;
                std::copy(data[k].begin(), data[k].end(),
                          sums.Next(solution->Present(logs[k], 0, lost.size())));
            }
            sums.Finish();
        }
        for (std::size_t j = 0; j < lost.size(); ++j)
            EXPECT_EQ(rebuilt[j], data[lost[j]]) << "slice " << lost[j] << " of " << lost.size();
    }
    // The same exponent twice gives two equal rows: nothing to solve with.
    EXPECT_FALSE(rs::Solution::For({logs[0], logs[1]}, {5, 5}));
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

// Bad media is damage, not a failure: a volume that cannot be read is skipped, and a part whose
// bytes cannot be read from some point on has those slices rebuilt, the rest kept.
TEST(RecoveryTest, UnreadableVolumesAndSlicesAreDamage) {
    const struct {
        const char* name;
        std::uint64_t at;
    } cases[] = {{"f.vol000+01.par2", 0}, {"f.vol001+02.par2", 100}, {"f.1", 5000}, {"f.3", 0}};
    const std::string source = test::PatternBytes(40000);
    for (const auto& c : cases) {
        const test::TempDir dir;
        test::WriteBytes(dir / "f", source);
        test::RecordingHost host;
        ASSERT_EQ(SplitFile(dir / "f", "f", SplitPlan::Count(4), host, {.recoveryPercent = 50}),
                  SplitResult::kDone);
        test::fs::remove(dir / "f");
        test::FaultyFileSystem files;
        files.fault = test::FaultyFileSystem::Fault::kReadByte;
        files.failName = c.name;
        files.failAt = c.at;
        files.failure = Failure::Of(kDeviceIoError, c.name);
        files.failFile = FileSystem::Default().OpenRead(dir / c.name)->Id();
        test::RecordingHost joining;
        EXPECT_EQ(Join(dir / "f.bat", {}, joining, files), JoinResult::kDone)
            << c.name << ": " << joining.Messages();
        EXPECT_TRUE(test::ReadBytes(dir / "f") == source) << c.name;
        const bool part = std::string(c.name).find(".par2") == std::string::npos;
        EXPECT_EQ(test::fs::exists(dir / (std::string(c.name) + ".damaged")), part) << c.name;
    }
}

// A repair of more slices than its memory holds takes several passes over the parts, and
// rebuilds the same bytes; parts lost whole and in part, one after the other in the set; a
// rebuilt part keeps the holes of the data it holds (a disk image's empty stretches).
TEST(RecoveryTest, RepairInPassesRebuildsTheSameParts) {
    // In passes of three slices; in one, where the check rebuilds the lost parts ahead and then
    // finds a damaged part too; and in one with the first recovery slice damaged, which the
    // check took ahead before its checksum was read.
    const std::size_t slice = 196;  // 12500 bytes a part in 64 slices, a multiple of 4
    const struct {
        std::size_t memory;
        bool damagedPart;
        bool damagedVolume;
    } cases[] = {
        {3 * slice, true, false}, {kRecoveryMemory, true, false}, {kRecoveryMemory, false, true}};
    for (const auto& c : cases) {
        const test::TempDir dir;
        const std::string source = std::string(37500, '\0') + test::PatternBytes(12500);
        test::WriteBytes(dir / "f", source);
        test::RecordingHost host;
        ASSERT_EQ(SplitFile(dir / "f", "f", SplitPlan::Count(4), host, {.recoveryPercent = 60}),
                  SplitResult::kDone);
        const std::vector<std::string> parts{"f.0", "f.1", "f.2", "f.3"};
        std::vector<std::string> before;
        for (const std::string& part : parts) before.push_back(test::ReadBytes(dir / part));
        test::fs::remove(dir / "f.1");
        test::fs::remove(dir / "f.2");
        if (c.damagedPart) test::WriteBytes(dir / "f.3", "damage" + before[3].substr(6));
        if (c.damagedVolume) {
            // The volume of exponent 0 starts with its recovery slice.
            const test::fs::path first = dir / RecoveryFileTitles("f", 154)[1];
            std::string bytes = test::ReadBytes(first);
            bytes[par2::kRecoveryDataOffset + 10] ^= 1;
            test::WriteBytes(first, bytes);
        }
        const ScriptFolder folder(dir / "f.bat", FileSystem::Default());
        PartsRepair repair(folder, "f", parts, host, c.memory);
        ASSERT_EQ(repair.verdict(), PartsRepair::Verdict::kRepairable) << host.Messages();
        EXPECT_EQ(repair.damaged().size(), c.damagedPart ? 3u : 2u);
        EXPECT_EQ(repair.Rebuild(kAllPermissions).size(), repair.damaged().size());
        for (std::size_t k = 0; k < parts.size(); ++k)
            EXPECT_TRUE(test::ReadBytes(dir / parts[k]) == before[k]) << parts[k];
        EXPECT_EQ(test::AllocatedBytes(dir / "f.1").value_or(0), 0u);
    }
}

}  // namespace
}  // namespace splitter
