#include "files/script_encoding.h"

#include <iconv.h>

#include <cstdlib>
#include <optional>

namespace splitter {
namespace {

// `text` converted from the character set `from` to `to` by the C library's iconv; nullopt when
// a character has no place in `to`, the text is not well formed in `from`, or the C library
// lacks either set.
std::optional<std::string> Converted(const std::string& text, const char* from, const char* to) {
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    // A byte of an OEM code page is at most three bytes of UTF-8, and a UTF-8 character is at
    // least as long as what any code page makes of it.
    std::string out(3 * text.size() + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* at = out.data();
    std::size_t outLeft = out.size();
    const std::size_t inexact = iconv(converter, &in, &inLeft, &at, &outLeft);
    const std::size_t end = iconv(converter, nullptr, nullptr, &at, &outLeft);
    iconv_close(converter);
    // A conversion that is not reversible counts as none.
    if (inexact != 0 || end != 0 || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

std::string Charset(int codePage) {
    return "CP" + std::to_string(codePage);
}

bool IsAscii(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

int ScriptCodePage() {
    // The locale of the user's character set, as the C library chooses it.
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return OemCodePageOfLocale(value);
    }
    return OemCodePageOfLocale("");
}

std::string CommandScriptText(const std::string& bytes) {
    if (IsAscii(bytes) || Converted(bytes, "UTF-8", "UTF-8")) return bytes;
    const std::string charset = Charset(ScriptCodePage());
    return Converted(bytes, charset.c_str(), "UTF-8").value_or(bytes);
}

ScriptBytes CommandScriptBytes(const std::string& text, const std::string&) {
    const int codePage = ScriptCodePage();
    if (IsAscii(text)) return {text, 0};
    const std::string charset = Charset(codePage);
    // Read back as cmd will, to be sure every character comes back as itself.
    const auto bytes = Converted(text, "UTF-8", charset.c_str());
    if (bytes && Converted(*bytes, charset.c_str(), "UTF-8") == text) return {*bytes, 0};
    return {text, codePage};
}

}  // namespace splitter
