#include "engine/par2.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>

namespace splitter::par2 {
namespace {

constexpr std::string_view kMagic{"PAR2\0PKT", 8};

std::uint64_t Read64(const char* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(p[i]);
    return value;
}

std::uint32_t Read32(const char* p) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(p[i]);
    return value;
}

Md5Digest ReadDigest(const char* p) {
    Md5Digest digest;
    std::memcpy(digest.data(), p, digest.size());
    return digest;
}


// The CRC's tables for eight bytes at a step: table[k][b] is the CRC of byte b followed by k
// zero bytes.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;
const CrcTables& CrcTable() {
    static const CrcTables tables = [] {
        CrcTables t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (std::size_t k = 1; k < 8; ++k)
            for (std::size_t n = 0; n < 256; ++n)
                t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
        return t;
    }();
    return tables;
}

// One packet whose MD5 holds: its body, typed.
bool Take(std::string_view type, const Md5Digest& setId, std::string_view body,
          std::size_t bodyOffset, std::size_t source, Packets& packets) {
    const char* b = body.data();
    if (type == kMainType) {
        if (body.size() < 12 || (body.size() - 12) % 16 != 0) return false;
        const std::uint64_t sliceSize = Read64(b);
        const std::uint32_t count = Read32(b + 8);
        if (sliceSize == 0 || sliceSize % 4 != 0 || count == 0 ||
            count > (body.size() - 12) / 16 || count > kMaxInputSlices)
            return false;
        if (Md5Of(body) != setId) return false;
        Packets::Main main{setId, sliceSize, {}};
        for (std::uint32_t i = 0; i < count; ++i) main.fileIds.push_back(ReadDigest(b + 12 + 16 * i));
        packets.mains.push_back(std::move(main));
    } else if (type == kFileDescriptionType) {
        if (body.size() < 56) return false;
        Packets::Description d{setId, {}};
        d.file.id = ReadDigest(b);
        d.file.hash = ReadDigest(b + 16);
        d.file.hash16k = ReadDigest(b + 32);
        d.file.length = Read64(b + 48);
        std::string_view name = body.substr(56);
        while (!name.empty() && name.back() == '\0') name.remove_suffix(1);
        d.file.name = std::string(name);
        if (FileId(d.file.hash16k, d.file.length, name) != d.file.id) return false;
        packets.descriptions.push_back(std::move(d));
    } else if (type == kSliceChecksumType) {
        if (body.size() < 16 || (body.size() - 16) % 20 != 0) return false;
        Packets::Checksums c{setId, ReadDigest(b), {}};
        const std::size_t count = (body.size() - 16) / 20;
        if (count > kMaxInputSlices) return false;
        for (std::size_t i = 0; i < count; ++i)
            c.slices.push_back({ReadDigest(b + 16 + 20 * i), Read32(b + 32 + 20 * i)});
        packets.checksums.push_back(std::move(c));
    } else if (type == kRecoverySliceType) {
        if (body.size() < 4) return false;
        const std::uint32_t exponent = Read32(b);
        if (exponent > kMaxExponent) return false;
        packets.recovery.push_back({setId, exponent, source, bodyOffset + 4, body.size() - 4});
    }
    return true;  // a packet of another type is read and left alone
}

}  // namespace

std::uint32_t Crc32(const void* data, std::size_t n, std::uint32_t crc) {
    const CrcTables& t = CrcTable();
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint32_t low =
            crc ^ (std::uint32_t{p[i]} | std::uint32_t{p[i + 1]} << 8 |
                   std::uint32_t{p[i + 2]} << 16 | std::uint32_t{p[i + 3]} << 24);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
              t[4][low >> 24] ^ t[3][p[i + 4]] ^ t[2][p[i + 5]] ^ t[1][p[i + 6]] ^ t[0][p[i + 7]];
    }
    for (; i < n; ++i) crc = t[0][(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t Crc32Zeros(std::size_t n, std::uint32_t crc) {
    static const char zeros[4096] = {};
    while (n > 0) {
        const std::size_t chunk = std::min(n, sizeof zeros);
        crc = Crc32(zeros, chunk, crc);
        n -= chunk;
    }
    return crc;
}

Md5Digest Md5Of(std::string_view bytes) {
    Md5 md5;
    md5.Update(bytes.data(), bytes.size());
    return md5.Final();
}

std::vector<std::uint32_t> SliceConstantLogs(std::size_t count) {
    std::vector<std::uint32_t> logs;
    logs.reserve(count);
    for (std::uint32_t n = 1; logs.size() < count && n < 65535; ++n)
        if (n % 3 != 0 && n % 5 != 0 && n % 17 != 0 && n % 257 != 0) logs.push_back(n);
    return logs;
}

std::string Packet(const Md5Digest& setId, std::string_view type, std::string_view body) {
    const std::size_t padded = (body.size() + 3) / 4 * 4;
    std::string packet(kMagic);
    Append64(packet, kHeaderSize + padded);
    packet.append(16, '\0');  // the MD5, below
    packet.append(reinterpret_cast<const char*>(setId.data()), setId.size());
    packet.append(type);
    packet.append(body);
    packet.append(padded - body.size(), '\0');
    const Md5Digest md5 = Md5Of(std::string_view(packet).substr(32));
    std::memcpy(packet.data() + 16, md5.data(), md5.size());
    return packet;
}

Md5Digest FileId(const Md5Digest& hash16k, std::uint64_t length, std::string_view name) {
    std::string bytes(reinterpret_cast<const char*>(hash16k.data()), hash16k.size());
    Append64(bytes, length);
    bytes.append(name);
    return Md5Of(bytes);
}

void Scan(std::string_view bytes, std::size_t source, Packets& packets) {
    // Headers that claim the rest of the file, one after the other, would have it hashed again
    // for each: the bytes hashed are bounded by a few times the file, and the scan ends there.
    std::uint64_t budget = 16 * std::uint64_t{bytes.size()} + (std::uint64_t{1} << 20);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t found = bytes.find(kMagic, pos);
        if (found == std::string_view::npos || bytes.size() - found < kHeaderSize) return;
        const char* h = bytes.data() + found;
        const std::uint64_t length = Read64(h + 8);
        if (length < kHeaderSize || length % 4 != 0 || length > bytes.size() - found) {
            pos = found + 1;
            continue;
        }
        if (length > budget) return;
        budget -= length;
        if (Md5Of(bytes.substr(found + 32, static_cast<std::size_t>(length) - 32)) !=
                ReadDigest(h + 16) ||
            !Take(bytes.substr(found + 48, 16), ReadDigest(h + 32),
                  bytes.substr(found + kHeaderSize, static_cast<std::size_t>(length) - kHeaderSize),
                  found + kHeaderSize, source, packets)) {
            pos = found + 1;  // damaged: look for the next header
            continue;
        }
        pos = found + static_cast<std::size_t>(length);
    }
}

std::vector<std::string> CriticalPackets(const Set& set) {
    std::string main;
    Append64(main, set.sliceSize);
    Append32(main, static_cast<std::uint32_t>(set.files.size()));
    for (const FileEntry& f : set.files) AppendDigest(main, f.id);
    std::vector<std::string> packets{Packet(set.id, kMainType, main)};
    for (const FileEntry& f : set.files) {
        std::string body;
        AppendDigest(body, f.id);
        AppendDigest(body, f.hash);
        AppendDigest(body, f.hash16k);
        Append64(body, f.length);
        body += f.name;
        packets.push_back(Packet(set.id, kFileDescriptionType, body));
    }
    for (const FileEntry& f : set.files) {
        std::string body;
        AppendDigest(body, f.id);
        for (const SliceCheck& s : f.slices) {
            AppendDigest(body, s.md5);
            Append32(body, s.crc);
        }
        packets.push_back(Packet(set.id, kSliceChecksumType, body));
    }
    return packets;
}

std::uint64_t SlicesOf(std::uint64_t length, std::uint64_t sliceSize) {
    return length / sliceSize + (length % sliceSize != 0 ? 1 : 0);
}

Assembled Assemble(const Packets& packets, const std::optional<Md5Digest>& id) {
    const Packets::Main* main = nullptr;
    for (const Packets::Main& m : packets.mains) {
        if (!id || m.setId == *id) {
            main = &m;
            break;
        }
    }
    if (main == nullptr) return {std::nullopt, "no readable main packet"};
    Set set{main->setId, main->sliceSize, {}, 0};
    // The first description and the first fitting checksums of each file of the set.
    std::map<Md5Digest, const FileEntry*> descriptions;
    for (const Packets::Description& d : packets.descriptions)
        if (d.setId == set.id) descriptions.emplace(d.file.id, &d.file);
    std::map<Md5Digest, std::vector<const Packets::Checksums*>> checksums;
    for (const Packets::Checksums& c : packets.checksums)
        if (c.setId == set.id) checksums[c.fileId].push_back(&c);
    std::set<Md5Digest> seen;
    for (const Md5Digest& fileId : main->fileIds) {
        if (!seen.insert(fileId).second) return {std::nullopt, "a file is named twice"};
        const auto description = descriptions.find(fileId);
        if (description == descriptions.end())
            return {std::nullopt, "no readable description of a file"};
        FileEntry file = *description->second;
        const std::uint64_t slices = SlicesOf(file.length, set.sliceSize);
        if (slices > kMaxInputSlices - set.sliceCount)
            return {std::nullopt, "more slices than the format numbers"};
        const Packets::Checksums* found = nullptr;
        for (const Packets::Checksums* c : checksums[fileId])
            if (c->slices.size() == slices) {
                found = c;
                break;
            }
        if (found == nullptr) return {std::nullopt, "no readable slice checksums of a file"};
        file.slices = found->slices;
        set.sliceCount += static_cast<std::size_t>(slices);
        set.files.push_back(std::move(file));
    }
    return {std::move(set), {}};
}

std::vector<Packets::Recovery> RecoveryOf(const Packets& packets, const Md5Digest& id,
                                          std::uint64_t sliceSize) {
    std::map<std::uint32_t, Packets::Recovery> byExponent;
    for (const Packets::Recovery& r : packets.recovery)
        if (r.setId == id && r.size == sliceSize) byExponent.emplace(r.exponent, r);
    std::vector<Packets::Recovery> out;
    for (const auto& [exponent, r] : byExponent) out.push_back(r);
    return out;
}

}  // namespace splitter::par2
