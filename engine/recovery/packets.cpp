#include "engine/recovery/packets.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>

#include "engine/recovery/md5_pair.h"

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

void Append64(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void Append32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void AppendDigest(std::string& out, const Md5Digest& digest) {
    out.append(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::string MainBody(std::uint64_t sliceSize, const std::vector<FileEntry>& files) {
    std::string body;
    Append64(body, sliceSize);
    Append32(body, static_cast<std::uint32_t>(files.size()));
    for (const FileEntry& f : files) AppendDigest(body, f.id);
    return body;
}

// One packet whose MD5 holds: its body, typed.
bool Take(std::string_view type, const Md5Digest& setId, std::string_view body,
          std::uint64_t bodyOffset, std::size_t source, Packets& packets) {
    const char* b = body.data();
    if (type == kMainType) {
        if (body.size() < 12 || (body.size() - 12) % 16 != 0) return false;
        const std::uint64_t sliceSize = Read64(b);
        const std::uint32_t count = Read32(b + 8);
        if (sliceSize == 0 || sliceSize % 4 != 0 || count == 0 || count > (body.size() - 12) / 16 ||
            count > kMaxInputSlices)
            return false;
        if (Md5Of(body) != setId) return false;
        Packets::Main main{setId, sliceSize, {}};
        for (std::uint32_t i = 0; i < count; ++i)
            main.fileIds.push_back(ReadDigest(b + 12 + 16 * i));
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

// A file read a block at a time, as a window onto its bytes that moves forward; going back
// opens the file again.
class Window {
public:
    explicit Window(const Opener& open) : open_(open), file_(open()), size_(file_->Length()) {}

    std::uint64_t size() const { return size_; }
    // The bytes from `at` on that the window holds: at least `n`, unless the file ends first.
    std::string_view From(std::uint64_t at, std::size_t n) {
        MoveTo(at);
        while (held_.size() - head_ < n) {
            const std::size_t before = held_.size();
            const std::size_t want = std::max(n - (before - head_), kBlock);
            held_.resize(before + want);
            const std::size_t got = ReadFull(*file_, held_.data() + before, want);
            held_.resize(before + got);
            if (got == 0) break;
        }
        return std::string_view(held_).substr(head_);
    }
    // Hashes n bytes from `at` into md5 without keeping them; false when the file ends first.
    bool Hash(std::uint64_t at, std::uint64_t n, Md5& md5) {
        MoveTo(at);
        const std::size_t held = held_.size() - head_;
        if (n <= held) {
            md5.Update(held_.data() + head_, static_cast<std::size_t>(n));
            MoveTo(at + n);
            return true;
        }
        md5.Update(held_.data() + head_, held);
        n -= held;
        start_ = at + held;  // where the file is read next
        held_.clear();
        head_ = 0;
        std::vector<char> buffer(kBlock);
        while (n > 0) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(n, kBlock));
            const std::size_t got = ReadFull(*file_, buffer.data(), want);
            if (got == 0) return false;
            md5.Update(buffer.data(), got);
            n -= got;
            start_ += got;
        }
        return true;
    }

private:
    void MoveTo(std::uint64_t at) {
        const std::uint64_t end = start_ + (held_.size() - head_);  // where the file is read next
        if (at >= start_ && at <= end) {
            head_ += static_cast<std::size_t>(at - start_);
            start_ = at;
            if (head_ > kBlock) {
                held_.erase(0, head_);
                head_ = 0;
            }
            return;
        }
        // Back to where a damaged packet began, or on past bytes never read.
        held_.clear();
        head_ = 0;
        if (at < start_) {
            file_ = open_();
            file_->SkipHole(at);
        } else {
            file_->SkipHole(at - end);
        }
        start_ = at;
    }

    static constexpr std::size_t kBlock = std::size_t{1} << 20;
    const Opener& open_;
    std::unique_ptr<ReadableFile> file_;
    const std::uint64_t size_;
    std::string held_;
    std::size_t head_ = 0;     // where, in held_, the byte at start_ is
    std::uint64_t start_ = 0;  // the file's offset of held_[head_]
};

// Packets up to this size are read whole; larger ones are recovery slices, hashed as they
// stream by.
constexpr std::uint64_t kWholePacket = std::uint64_t{4} << 20;

// Bytes in memory, as a file.
class BytesFile final : public ReadableFile {
public:
    explicit BytesFile(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Length() override { return bytes_.size(); }
    std::size_t Read(char* buffer, std::size_t n) override {
        const std::size_t got = std::min(n, bytes_.size() - at_);
        std::copy_n(bytes_.data() + at_, got, buffer);
        at_ += got;
        return got;
    }
    void SkipHole(std::uint64_t n) override {
        at_ += static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - at_));
    }
    const std::string& Name() const override { return name_; }
    splitter::FileId Id() const override { return {}; }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
    std::string name_;
};

}  // namespace

Md5Digest Md5Of(std::string_view bytes) {
    Md5 md5;
    md5.Update(bytes.data(), bytes.size());
    return md5.Final();
}

SliceCheck CheckOf(const char* slice, std::size_t size) {
    Md5 md5;
    md5.Update(slice, size);
    return {md5.Final(), Crc32(slice, size)};
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

Md5Digest SetIdOf(std::uint64_t sliceSize, const std::vector<FileEntry>& files) {
    return Md5Of(MainBody(sliceSize, files));
}

std::string MainPacket(const Set& set) {
    return Packet(set.id, kMainType, MainBody(set.sliceSize, set.files));
}

std::string DescriptionPacket(const Md5Digest& setId, const FileEntry& file) {
    std::string body;
    AppendDigest(body, file.id);
    AppendDigest(body, file.hash);
    AppendDigest(body, file.hash16k);
    Append64(body, file.length);
    body += file.name;
    return Packet(setId, kFileDescriptionType, body);
}

std::string ChecksumPacket(const Md5Digest& setId, const FileEntry& file) {
    std::string body;
    AppendDigest(body, file.id);
    for (const SliceCheck& s : file.slices) {
        AppendDigest(body, s.md5);
        Append32(body, s.crc);
    }
    return Packet(setId, kSliceChecksumType, body);
}

namespace {

// What a recovery slice's packet holds before its bytes, its MD5 left as zeros.
std::string RecoveryHead(const Md5Digest& setId, std::uint32_t exponent, std::uint64_t size) {
    std::string head(kMagic);
    Append64(head, kRecoveryDataOffset + size);
    head.append(16, '\0');
    head.append(reinterpret_cast<const char*>(setId.data()), setId.size());
    head.append(kRecoverySliceType);
    Append32(head, exponent);
    return head;
}

// The MD5s of recovery slice packets, their heads and bytes given, side by side.
std::vector<Md5Digest> RecoveryMd5s(const std::vector<std::string>& heads,
                                    const std::vector<const char*>& slices) {
    std::vector<Md5Stream> md5s(heads.size());
    std::vector<Md5Job> jobs;
    for (std::size_t i = 0; i < heads.size(); ++i) {
        md5s[i].Update(heads[i].data() + 32, heads[i].size() - 32);
        const std::uint64_t size = Read64(heads[i].data() + 8) - kRecoveryDataOffset;
        jobs.push_back({&md5s[i], slices[i], static_cast<std::size_t>(size)});
    }
    UpdateMany(jobs.data(), jobs.size());
    std::vector<Md5Digest> digests;
    for (Md5Stream& md5 : md5s) digests.push_back(md5.Final());
    return digests;
}

}  // namespace

std::vector<std::string> RecoveryPacketHeads(const Md5Digest& setId, std::uint32_t first,
                                             const std::vector<std::vector<char>>& slices) {
    std::vector<std::string> heads;
    std::vector<const char*> data;
    for (std::size_t i = 0; i < slices.size(); ++i) {
        heads.push_back(
            RecoveryHead(setId, first + static_cast<std::uint32_t>(i), slices[i].size()));
        data.push_back(slices[i].data());
    }
    const std::vector<Md5Digest> md5s = RecoveryMd5s(heads, data);
    for (std::size_t i = 0; i < slices.size(); ++i)
        std::memcpy(heads[i].data() + 16, md5s[i].data(), md5s[i].size());
    return heads;
}

std::vector<bool> RecoverySlicesHold(const std::vector<Packets::Recovery>& recovery,
                                     const std::vector<const char*>& slices) {
    std::vector<std::string> heads;
    for (const Packets::Recovery& r : recovery)
        heads.push_back(RecoveryHead(r.setId, r.exponent, r.size));
    const std::vector<Md5Digest> md5s = RecoveryMd5s(heads, slices);
    std::vector<bool> hold;
    for (std::size_t i = 0; i < recovery.size(); ++i) hold.push_back(md5s[i] == recovery[i].md5);
    return hold;
}

std::string CreatorPacket(const Md5Digest& setId, std::string_view creator) {
    return Packet(setId, kCreatorType, creator);
}

std::vector<std::string> CriticalPackets(const Set& set) {
    std::vector<std::string> packets{MainPacket(set)};
    for (const FileEntry& f : set.files) packets.push_back(DescriptionPacket(set.id, f));
    for (const FileEntry& f : set.files) packets.push_back(ChecksumPacket(set.id, f));
    return packets;
}

void Scan(const Opener& open, std::size_t source, Packets& packets, bool recoveryBodies) {
    Window window(open);
    const std::uint64_t size = window.size();
    // Headers that claim the rest of the file, one after the other, would have it hashed again
    // for each: the bytes hashed are bounded by a few times the file, and the scan ends there.
    std::uint64_t budget = 16 * size + (std::uint64_t{1} << 20);
    std::uint64_t pos = 0;
    while (pos < size) {
        const std::string_view ahead = window.From(pos, kMagic.size());
        const std::size_t at = ahead.find(kMagic);
        if (at == std::string_view::npos) {
            if (ahead.size() < kMagic.size()) return;
            pos += ahead.size() - (kMagic.size() - 1);  // a header may begin in the last bytes
            continue;
        }
        const std::uint64_t found = pos + at;
        const std::string_view header = window.From(found, kHeaderSize).substr(0, kHeaderSize);
        if (header.size() < kHeaderSize) return;
        const std::uint64_t length = Read64(header.data() + 8);
        const Md5Digest md5 = ReadDigest(header.data() + 16);
        const Md5Digest setId = ReadDigest(header.data() + 32);
        const std::string type(header.substr(48, 16));
        pos = found + 1;  // unless the packet is good
        if (length < kHeaderSize || length % 4 != 0 || length > size - found) continue;
        if (type == kRecoverySliceType && !recoveryBodies) {
            const std::string_view first = window.From(found, kRecoveryDataOffset);
            if (first.size() < kRecoveryDataOffset) return;
            const std::uint32_t exponent = Read32(first.data() + kHeaderSize);
            if (exponent <= kMaxExponent)
                packets.unchecked.push_back({setId, exponent, source, found + kRecoveryDataOffset,
                                             length - kRecoveryDataOffset, md5});
            pos = found + length;
            continue;
        }
        if (length > budget) return;
        budget -= length;
        if (length <= kWholePacket) {
            const auto n = static_cast<std::size_t>(length);
            const std::string_view packet = window.From(found, n).substr(0, n);
            if (packet.size() < n) return;
            if (Md5Of(packet.substr(32)) == md5 &&
                Take(type, setId, packet.substr(kHeaderSize), found + kHeaderSize, source, packets))
                pos = found + length;
            continue;
        }
        // Only a recovery slice is this large: its bytes are hashed, and read again when used.
        if (type != kRecoverySliceType) continue;
        const std::string_view first = window.From(found, kRecoveryDataOffset);
        if (first.size() < kRecoveryDataOffset) return;
        const std::uint32_t exponent = Read32(first.data() + kHeaderSize);
        if (exponent > kMaxExponent) continue;
        Md5 hash;
        if (window.Hash(found + 32, length - 32, hash) && hash.Final() == md5) {
            packets.recovery.push_back({setId, exponent, source, found + kRecoveryDataOffset,
                                        length - kRecoveryDataOffset, md5});
            pos = found + length;
        }
    }
}

void Scan(std::string_view bytes, std::size_t source, Packets& packets) {
    Scan([bytes] { return std::make_unique<BytesFile>(bytes); }, source, packets);
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

std::vector<Packets::Recovery> RecoveryOf(const std::vector<Packets::Recovery>& recovery,
                                          const Md5Digest& id, std::uint64_t sliceSize) {
    std::map<std::uint32_t, Packets::Recovery> byExponent;
    for (const Packets::Recovery& r : recovery)
        if (r.setId == id && r.size == sliceSize) byExponent.emplace(r.exponent, r);
    std::vector<Packets::Recovery> out;
    for (const auto& [exponent, r] : byExponent) out.push_back(r);
    return out;
}

}  // namespace splitter::par2
