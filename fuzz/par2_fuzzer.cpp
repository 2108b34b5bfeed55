// The PAR 2.0 reader on any bytes, taken the way the join takes a recovery set: Scan, then
// Assemble and RecoveryOf. Besides never crashing:
// - every recovery slice it keeps lies within the bytes, of the size it says;
// - every main packet it keeps has a slice size that is a multiple of 4 and names a file;
// - a set it assembles is consistent: each file has the slices its length makes, they number
//   at most the format's 32768, and each file ID is that of its description;
// - the packets of an assembled set, written again, read back as the same set;
// - the same bytes cut anywhere read without harm (a cut file is what a broken download is).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/recovery/packets.h"

namespace splitter {
namespace {

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "PAR 2.0 reader property broken: %s\n", what.c_str());
    std::abort();
}

bool SameSet(const par2::Set& a, const par2::Set& b) {
    if (a.id != b.id || a.sliceSize != b.sliceSize || a.sliceCount != b.sliceCount ||
        a.files.size() != b.files.size())
        return false;
    for (std::size_t f = 0; f < a.files.size(); ++f) {
        const par2::FileEntry& x = a.files[f];
        const par2::FileEntry& y = b.files[f];
        if (x.id != y.id || x.hash != y.hash || x.hash16k != y.hash16k || x.length != y.length ||
            x.name != y.name || x.slices != y.slices)
            return false;
    }
    return true;
}

void Check(std::string_view bytes) {
    par2::Packets packets;
    par2::Scan(bytes, 0, packets);
    for (const par2::Packets::Recovery& r : packets.recovery)
        if (r.offset > bytes.size() || bytes.size() - r.offset < r.size)
            Broken("a recovery slice out of the bytes");
    for (const par2::Packets::Main& m : packets.mains)
        if (m.sliceSize == 0 || m.sliceSize % 4 != 0 || m.fileIds.empty())
            Broken("a main packet kept with slice size " + std::to_string(m.sliceSize));
    const par2::Assembled assembled = par2::Assemble(packets, std::nullopt);
    if (!assembled.set) {
        if (assembled.problem.empty()) Broken("no set and no reason");
        return;
    }
    const par2::Set& set = *assembled.set;
    std::size_t slices = 0;
    for (const par2::FileEntry& f : set.files) {
        if (f.slices.size() != par2::SlicesOf(f.length, set.sliceSize))
            Broken("slices that do not fit the length of " + f.name);
        if (par2::FileId(f.hash16k, f.length, f.name) != f.id) Broken("a file ID that is not");
        slices += f.slices.size();
    }
    if (slices != set.sliceCount || slices > par2::kMaxInputSlices) Broken("the slice count");
    for (const par2::Packets::Recovery& r : par2::RecoveryOf(packets.recovery, set.id, set.sliceSize))
        if (r.size != set.sliceSize) Broken("a recovery slice of another size");

    std::string written;
    for (const std::string& packet : par2::CriticalPackets(set)) written += packet;
    par2::Packets again;
    par2::Scan(written, 0, again);
    const par2::Assembled back = par2::Assemble(again, set.id);
    if (!back.set || !SameSet(*back.set, set)) Broken("the set written again reads otherwise");
}

}  // namespace
}  // namespace splitter

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    splitter::Check(bytes);
    // Cut where the first byte says: a file that ends early, or lost its start.
    if (size > 1) {
        const std::size_t cut = 1 + data[0] * (size - 1) / 256;
        splitter::Check(bytes.substr(0, cut));
        splitter::Check(bytes.substr(cut));
    }
    return 0;
}
