// A file read as a sequence of slices of one size, the last filled up with zeros: how a PAR 2.0
// recovery set sees the files it protects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/file_system.h"

namespace splitter {

class SliceReader {
public:
    // Reads `file` from its current position as slices of `size` bytes, `length` bytes in all
    // (the length the file should have: a file cut short reads as zeros past its end).
    SliceReader(ReadableFile& file, std::uint64_t length, std::size_t size)
        : file_(file), left_(length), size_(size) {}

    struct Slice {
        std::size_t bytes = 0;  // of the file; the rest of the slice is zeros
        bool whole = true;      // all of them were there to read, none failed
    };

    // Reads the next slice into `buffer` (size bytes). A read that fails (a bad sector) leaves
    // the slice not whole, and the reader goes on past it with the next one, so that one bad
    // slice costs one slice; a file that ends early reads as zeros, not whole. Past `length`,
    // every slice is empty.
    Slice Next(char* buffer);

    // Skips the next slice without reading it.
    void Skip();

private:
    ReadableFile& file_;
    std::uint64_t left_;
    const std::size_t size_;
    bool ended_ = false;  // the file ended, or could not be moved past a bad slice
};

}  // namespace splitter
