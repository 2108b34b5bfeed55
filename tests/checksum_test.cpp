// SHA-256 from the platform's library, and the checksum file in the format of sha256sum.
#include "engine/checksum.h"

#include <gtest/gtest.h>

#include "engine/run_hashes.h"
#include "files/hash.h"
#include "test_support.h"

namespace splitter {
namespace {

// Fed in uneven pieces, so that blocks straddle the calls; one object hashes every case in
// turn, so Final must start it over.
TEST(Sha256Test, KnownDigests) {
    struct Case {
        std::string message;
        const char* hex;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    Sha256 hash;
    for (const Case& c : cases) {
        for (std::size_t at = 0, piece = 1; at < c.message.size();
             at += piece, piece = piece * 3 + 1)
            hash.Update(c.message.data() + at, std::min(piece, c.message.size() - at));
        EXPECT_EQ(HexDigest(hash.Final()), c.hex) << c.message.substr(0, 10);
    }
}

Sha256Digest DigestOf(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Final();
}

// The digests of a run's parts and of the whole run, by the library on two threads and by the
// pair on one, against the library's one at a time: parts that start on a block of the whole
// and parts that do not, empty ones, ends at each side of the padding's edge, handed over in
// pieces that are not blocks.
TEST(RunHashesTest, PartsAndWholeAsTheLibraryMakesThem) {
    const std::string bytes = test::PatternBytes(700000);
    const struct {
        bool pair;
        std::vector<std::size_t> parts;
    } cases[] = {{false, {100, 300000, 0, 64}},
                 {true, {64, 262144 + 64, 56, 128, 300000}},
                 {true, {55, 63, 65, 120, 299999}},
                 {true, {0, 119, 1, 300000, 0}}};
    for (const auto& c : cases) {
        if (c.pair && !HasSha256Pair()) continue;
        RunHashes hashes(/*parts=*/true, c.pair);
        std::size_t at = 0;
        for (const std::size_t part : c.parts) {
            for (std::size_t done = 0, piece = 1; done < part; done += piece, piece = piece * 3 + 1)
                hashes.Update(bytes.data() + at + done, std::min(piece, part - done));
            EXPECT_EQ(HexDigest(hashes.FinishPart()), HexDigest(DigestOf(bytes.substr(at, part))))
                << at << " " << part;
            at += part;
        }
        EXPECT_EQ(HexDigest(hashes.Whole()), HexDigest(DigestOf(bytes.substr(0, at))))
            << c.pair << " " << at;
    }
}

TEST(ChecksumFileTest, LinesAsSha256sumWritesThemAndReadsBack) {
    const Sha256Digest digest = DigestOf("abc");
    const std::string hex = HexDigest(digest);
    struct Case {
        std::string name;
        std::string line;
    };
    const Case cases[] = {
        {"report.pdf.0", hex + "  report.pdf.0\n"},
        {"my 100% (1).bin", hex + "  my 100% (1).bin\n"},
        {"a\\b.txt", "\\" + hex + "  a\\\\b.txt\n"},
        {"two\nlines\r", "\\" + hex + "  two\\nlines\\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChecksumLine(digest, c.name), c.line) << c.name;
        const std::vector<ChecksumEntry> entries = ParseChecksums(c.line);
        ASSERT_EQ(entries.size(), 1u) << c.name;
        EXPECT_EQ(entries[0].name, c.name);
        EXPECT_EQ(entries[0].digest, digest) << c.name;
    }
    // Binary mode, upper-case hex, CR LF, blank lines.
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto entries =
        ParseChecksums(std::string("\r\n") + upper + " *b.1\r\n\n" + hex + "  b\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "b.1");
    EXPECT_EQ(entries[0].line, 2);
    EXPECT_EQ(entries[0].digest, digest);
    EXPECT_EQ(entries[1].name, "b");
    EXPECT_EQ(entries[1].line, 4);
}

TEST(ChecksumFileTest, RefusesWhatIsNotAChecksumNamingTheLine) {
    const std::string hex = HexDigest(DigestOf("abc"));
    std::string notHex = hex;
    notHex[0] = 'g';
    struct Case {
        std::string text;
        int line;
        const char* reason;
    };
    const Case cases[] = {
        {"", 0, "no SHA-256 line"},
        {"\n  \n", 0, "no SHA-256 line"},
        {hex + "  a\nhello\n", 2, "not a SHA-256 line"},
        {hex.substr(1) + "   a", 1, "not a SHA-256 line"},  // 63 digits
        {hex + "0  a", 1, "not a SHA-256 line"},            // 65 digits
        {notHex + "  a", 1, "not a SHA-256 line"},
        {hex + " a", 1, "not a SHA-256 line"},  // one space
        {hex + "\ta", 1, "not a SHA-256 line"},
        {hex + "  ", 1, "names no file"},
        {std::string("SHA256 (a) = ") + hex, 1, "not a SHA-256 line"},  // BSD style
        {std::string("\\") + hex + "  a\\tb", 1, "escapes nothing"},
        {std::string("\\") + hex + "  a\\", 1, "escapes nothing"},
    };
    for (const Case& c : cases) {
        try {
            ParseChecksums(c.text);
            ADD_FAILURE() << "read: " << c.text;
        } catch (const FormatError& error) {
            EXPECT_EQ(error.line(), c.line) << c.text;
            EXPECT_NE(error.reason().find(c.reason), std::string::npos)
                << c.text << ": " << error.reason();
        }
    }
}

}  // namespace
}  // namespace splitter
