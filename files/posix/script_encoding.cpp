#include "files/script_encoding.h"

namespace splitter {

// Names on POSIX systems are bytes: the script carries them as they are.
std::string CommandScriptBytes(const std::string& text, const std::string&) {
    return text;
}

std::string CommandScriptText(const std::string& bytes) {
    return bytes;
}

}  // namespace splitter
