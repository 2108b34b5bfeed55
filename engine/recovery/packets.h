// The PAR 2.0 format (Parchive): its packets, each written and read here and nowhere else, and
// a reader for files that anyone may hand us.
//
// A PAR 2.0 file is a sequence of packets, each a 64-byte header and a body, every integer
// little-endian:
//
//   "PAR2\0PKT"  length (8 bytes, header included, a multiple of 4)  MD5 of what follows it
//   recovery set ID (16 bytes)  type (16 bytes)  body
//
// The set ID is the MD5 of the main packet's body. The reader keeps only packets whose MD5
// holds and whose fields are consistent; anything else is skipped, and the reader looks for the
// next header from the byte after the one it gave up on, as the format intends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/recovery/crc32.h"
#include "files/file_system.h"
#include "files/hash.h"

namespace splitter::par2 {

inline constexpr std::size_t kHeaderSize = 64;
// The format's input slices are numbered by 16 bits of which only those whose constant is a
// generator of the field qualify: 32768 of them.
inline constexpr std::size_t kMaxInputSlices = 32768;
inline constexpr std::uint32_t kMaxExponent = 65534;
// The bytes before a recovery slice's data in its packet: the header and the exponent.
inline constexpr std::size_t kRecoveryDataOffset = kHeaderSize + 4;

// The packet types a split writes and the join reads (16 bytes each, zero-padded).
inline constexpr std::string_view kMainType{"PAR 2.0\0Main\0\0\0\0", 16};
inline constexpr std::string_view kFileDescriptionType{"PAR 2.0\0FileDesc", 16};
inline constexpr std::string_view kSliceChecksumType{"PAR 2.0\0IFSC\0\0\0\0", 16};
inline constexpr std::string_view kRecoverySliceType{"PAR 2.0\0RecvSlic", 16};
inline constexpr std::string_view kCreatorType{"PAR 2.0\0Creator\0", 16};

Md5Digest Md5Of(std::string_view bytes);

struct SliceCheck {
    Md5Digest md5{};
    std::uint32_t crc = 0;  // of the slice, zero-padded to the slice size
    bool operator==(const SliceCheck&) const = default;
};
// The checksums of one slice, zero-padded to its full size.
SliceCheck CheckOf(const char* slice, std::size_t size);

// A file of the set, as its file description and slice checksum packets give it.
struct FileEntry {
    Md5Digest id{};
    Md5Digest hash{};     // of the whole file
    Md5Digest hash16k{};  // of its first 16 KiB
    std::uint64_t length = 0;
    std::string name;
    std::vector<SliceCheck> slices;
};

// The file ID: the MD5 of the first 16 KiB's MD5, the length and the name.
Md5Digest FileId(const Md5Digest& hash16k, std::uint64_t length, std::string_view name);

// A recovery set: the main packet, and a description and the slice checksums of every file it
// names, consistent with each other.
struct Set {
    Md5Digest id{};
    std::uint64_t sliceSize = 0;
    std::vector<FileEntry> files;  // in the order of the main packet: by file ID
    std::size_t sliceCount = 0;    // over all files
};

// The set's ID for these files and slice size: the MD5 of the main packet's body.
Md5Digest SetIdOf(std::uint64_t sliceSize, const std::vector<FileEntry>& files);

// Whole packets of each type: header, the body, zeros to a multiple of 4.
std::string MainPacket(const Set& set);
std::string DescriptionPacket(const Md5Digest& setId, const FileEntry& file);
std::string ChecksumPacket(const Md5Digest& setId, const FileEntry& file);
// The recovery slice packets of exponents first, first + 1, ... over `slices` (each of a size
// that is a multiple of 4), as their first bytes (header and exponent), each to be followed by
// its slice: their MD5s worked out side by side (md5_pair.h), the slices not copied.
std::vector<std::string> RecoveryPacketHeads(const Md5Digest& setId, std::uint32_t first,
                                             const std::vector<std::vector<char>>& slices);
std::string CreatorPacket(const Md5Digest& setId, std::string_view creator);
// Any packet: what the ones above are made with, and the tests' way to a packet of their own.
std::string Packet(const Md5Digest& setId, std::string_view type, std::string_view body);

// The packets that tell what a set protects, each once: the main packet, then the description
// and then the slice checksums of every file, in the set's order.
std::vector<std::string> CriticalPackets(const Set& set);

// Everything usable found in PAR 2.0 files, packet by packet.
struct Packets {
    struct Main {
        Md5Digest setId{};
        std::uint64_t sliceSize = 0;
        std::vector<Md5Digest> fileIds;  // of the recovery set, in the set's order
    };
    struct Description {
        Md5Digest setId{};
        FileEntry file;  // without slices
    };
    struct Checksums {
        Md5Digest setId{};
        Md5Digest fileId{};
        std::vector<SliceCheck> slices;
    };
    struct Recovery {
        Md5Digest setId{};
        std::uint32_t exponent = 0;
        std::size_t source = 0;    // which scanned file
        std::uint64_t offset = 0;  // of the slice's bytes in it
        std::uint64_t size = 0;
        Md5Digest md5{};  // of the packet, as its header gives it
    };
    std::vector<Main> mains;
    std::vector<Description> descriptions;
    std::vector<Checksums> checksums;
    std::vector<Recovery> recovery;
    // Recovery slice packets stepped over unread: what their headers say, not yet checked.
    std::vector<Recovery> unchecked;
};

// Opens the file to scan, from its first byte, as often as the reader must go back in it.
using Opener = std::function<std::unique_ptr<ReadableFile>()>;

// Adds the packets of one file (`source` numbers it) to `packets`, reading it a block at a time:
// the memory it takes does not grow with the file. With `recoveryBodies` false, a recovery
// slice packet is stepped over unread, its header kept as unchecked: enough to learn what a set
// protects, and which recovery slices it may have.
void Scan(const Opener& open, std::size_t source, Packets& packets, bool recoveryBodies = true);
// The same over bytes in memory.
void Scan(std::string_view bytes, std::size_t source, Packets& packets);

// The set `id` (or, without one, that of the first main packet), or why there is none usable.
struct Assembled {
    std::optional<Set> set;
    std::string problem;
};
Assembled Assemble(const Packets& packets, const std::optional<Md5Digest>& id);

// Whether each recovery slice, its bytes read into slices[i], is the one its packet's MD5
// describes: the MD5s side by side. For a slice stepped over unchecked by Scan.
std::vector<bool> RecoverySlicesHold(const std::vector<Packets::Recovery>& recovery,
                                     const std::vector<const char*>& slices);

// The recovery slices of set `id`, one per exponent, the first found of each kept.
std::vector<Packets::Recovery> RecoveryOf(const std::vector<Packets::Recovery>& recovery,
                                          const Md5Digest& id, std::uint64_t sliceSize);

// The number of slices of a file of `length` bytes.
std::uint64_t SlicesOf(std::uint64_t length, std::uint64_t sliceSize);

}  // namespace splitter::par2
