// What the readers of the join script and of the checksum file share: the cutting of a text
// into numbered lines, and the refusal of a file that is not what its reader takes.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>

#include "files/failure.h"

namespace splitter {

// A join script or checksum file that cannot be read as one. `line` is 1-based; 0 when no one
// line is at fault.
class FormatError : public std::runtime_error {
public:
    FormatError(int line, const std::string& reason)
        : std::runtime_error(reason), line_(line), reason_(reason) {}
    int line() const { return line_; }
    const std::string& reason() const { return reason_; }
    // "NAME, line N: REASON", or "NAME: REASON" when no one line is at fault; NAME is the
    // file's name.
    std::string Message(const std::string& fileName) const {
        const std::string where = line_ > 0 ? ", line " + std::to_string(line_) : std::string();
        return ShownName(fileName) + where + ": " + reason_;
    }

private:
    int line_;
    std::string reason_;
};

// Calls read(line, number) for each line of `text`, numbered from 1, without its line end (LF
// or CR LF). A line break at the very end starts no line of its own.
template <typename Read>
void ForEachLine(std::string_view text, Read read) {
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        read(line, ++number);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

}  // namespace splitter
