// The checksum file of a split: FILE.sha256 beside the parts, in the format of `sha256sum`, so
// that `sha256sum -c --ignore-missing FILE.sha256` checks whatever is there, before and after a
// join. One line a part, in order, then one for the whole file:
//
//   <64 hex digits><space><space>NAME<LF>
//
// NAME is the file's name without a folder, as the join script lists it, in UTF-8.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/join_script.h"
#include "files/file_system.h"
#include "files/hash.h"

namespace splitter {

// The path of the checksum file for a source: sourcePath + ".sha256".
inline std::string ChecksumPath(const std::string& sourcePath) {
    return sourcePath + ".sha256";
}

// 64 lower-case hexadecimal digits.
std::string HexDigest(const Sha256Digest& digest);

// One line as sha256sum writes it in text mode. A name holding a backslash, a line feed or a
// carriage return is escaped as sha256sum escapes it: the line starts with a backslash, and
// "\\", "\n" and "\r" stand for those characters in the name.
std::string ChecksumLine(const Sha256Digest& digest, const std::string& name);

struct ChecksumEntry {
    std::string name;
    Sha256Digest digest;
    int line;  // 1-based
};

// Reads the lines of a checksum file as `sha256sum -c` does: "HEX  NAME" (text mode) or
// "HEX *NAME" (binary mode), hex digits in either case, escaped names, LF or CR LF line ends.
// Blank lines are skipped. Throws FormatError naming the first line that is anything else, or
// when no line holds a checksum.
std::vector<ChecksumEntry> ParseChecksums(const std::string& text);

// What a checksum file expects of a join: the digest of each part it lists, and of the file
// they make. A part or the file with no line in it goes unchecked.
struct JoinChecksums {
    std::string fileName;  // the checksum file's name, for messages
    std::vector<std::optional<Sha256Digest>> parts;
    std::optional<Sha256Digest> whole;
};

// Reads DESTINATION.sha256 in `folder` (with its trailing separator) for the join of `list`:
// nullopt when there is no such file. Throws FormatError when it cannot be used: a line that is
// not a checksum, a name that is neither one of the parts nor the destination (the script and
// the checksums would then describe different splits), a name given twice, a file too large to
// be a checksum file or not a regular file. Throws Failure when it cannot be read.
std::optional<JoinChecksums> ReadJoinChecksums(const std::string& folder, const JoinList& list,
                                               FileSystem& files);

}  // namespace splitter
