#include "files/slice_reader.h"

#include <algorithm>
#include <cstring>

#include "files/failure.h"

namespace splitter {

SliceReader::Slice SliceReader::Next(char* buffer) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, size_));
    left_ -= want;
    Slice slice{want, want == 0 || !ended_};
    std::size_t got = 0;
    if (!ended_) {
        try {
            while (got < want) {
                const std::size_t more = file_.Read(buffer + got, want - got);
                if (more == 0) break;
                got += more;
            }
            if (got < want) {
                slice.whole = false;
                ended_ = true;
            }
        } catch (const Failure&) {
            // A bad stretch of the medium: the slice is lost, what follows may read well.
            slice.whole = false;
            try {
                file_.SkipHole(want - got);
            } catch (const Failure&) {
                ended_ = true;
            }
            got = 0;
        }
    }
    std::memset(buffer + got, 0, size_ - got);
    return slice;
}

void SliceReader::Skip() {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, size_));
    left_ -= want;
    if (ended_ || want == 0) return;
    try {
        file_.SkipHole(want);
    } catch (const Failure&) {
        ended_ = true;
    }
}

}  // namespace splitter
