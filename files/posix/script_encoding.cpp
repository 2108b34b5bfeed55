#include "files/script_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

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

// OEM code pages of Windows that the C library may lack (glibc has no CP720, the Arabic one of
// Arabic, Persian and Urdu locales): the characters of bytes 0x80 to 0xFF, as Windows' own table
// maps them. Bytes below 0x80 are ASCII in every OEM code page.
constexpr struct {
    int codePage;
    char16_t high[128];
} kOwnTables[] = {
    {720, {0x0080, 0x0081, 0x00E9, 0x00E2, 0x0084, 0x00E0, 0x0086, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
           0x00EF, 0x00EE, 0x008D, 0x008E, 0x008F, 0x0090, 0x0651, 0x0652, 0x00F4, 0x00A4, 0x0640,
           0x00FB, 0x00F9, 0x0621, 0x0622, 0x0623, 0x0624, 0x00A3, 0x0625, 0x0626, 0x0627, 0x0628,
           0x0629, 0x062A, 0x062B, 0x062C, 0x062D, 0x062E, 0x062F, 0x0630, 0x0631, 0x0632, 0x0633,
           0x0634, 0x0635, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
           0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
           0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
           0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
           0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x0636, 0x0637, 0x0638,
           0x0639, 0x063A, 0x0641, 0x00B5, 0x0642, 0x0643, 0x0644, 0x0645, 0x0646, 0x0647, 0x0648,
           0x0649, 0x064A, 0x2261, 0x064B, 0x064C, 0x064D, 0x064E, 0x064F, 0x0650, 0x2248, 0x00B0,
           0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0}},
};

const char16_t* OwnTable(int codePage) {
    for (const auto& table : kOwnTables) {
        if (table.codePage == codePage) return table.high;
    }
    return nullptr;
}

// A character of the Basic Multilingual Plane as UTF-8 (every table's characters are).
void AppendUtf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// `bytes` in the code page of `table`, as UTF-8: every byte has a character.
std::string FromTable(const std::string& bytes, const char16_t* table) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte < 0x80 ? char16_t{byte} : table[byte - 0x80]);
    }
    return out;
}

// UTF-8 `text` in the code page of `table`; nullopt for a character the table lacks. Each
// character is matched by its UTF-8 bytes, so no decoder is needed.
std::optional<std::string> ToTable(const std::string& text, const char16_t* table) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {
            out += text[at++];
            continue;
        }
        bool found = false;
        for (int k = 0; k < 128 && !found; ++k) {
            std::string utf8;
            AppendUtf8(utf8, table[k]);
            if (text.compare(at, utf8.size(), utf8) == 0) {
                out += static_cast<char>(0x80 + k);
                at += utf8.size();
                found = true;
            }
        }
        if (!found) return std::nullopt;
    }
    return out;
}

std::string Charset(int codePage) {
    return "CP" + std::to_string(codePage);
}

// UTF-8 `text` in the OEM code page; nullopt when a character has no place in it.
std::optional<std::string> ToCodePage(const std::string& text, int codePage) {
    if (const char16_t* table = OwnTable(codePage)) return ToTable(text, table);
    return Converted(text, "UTF-8", Charset(codePage).c_str());
}

// `bytes` in the OEM code page as UTF-8; nullopt when they are not well formed in it.
std::optional<std::string> FromCodePage(const std::string& bytes, int codePage) {
    if (const char16_t* table = OwnTable(codePage)) return FromTable(bytes, table);
    return Converted(bytes, Charset(codePage).c_str(), "UTF-8");
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

std::vector<std::string> CommandScriptReadings(const std::string& bytes) {
    if (IsAscii(bytes)) return {bytes};
    std::vector<std::string> readings;
    if (auto text = FromCodePage(bytes, ScriptCodePage())) readings.push_back(std::move(*text));
    if (Converted(bytes, "UTF-8", "UTF-8") &&
        std::find(readings.begin(), readings.end(), bytes) == readings.end())
        readings.push_back(bytes);
    // Neither: the bytes as they are, which name no file the join will find.
    if (readings.empty()) readings.push_back(bytes);
    return readings;
}

ScriptBytes CommandScriptBytes(const std::string& text, const std::string&) {
    const int codePage = ScriptCodePage();
    if (IsAscii(text)) return {text, 0};
    // Read back as cmd will, to be sure every character comes back as itself.
    const auto bytes = ToCodePage(text, codePage);
    if (bytes && FromCodePage(*bytes, codePage) == text) return {*bytes, 0};
    return {text, codePage};
}

}  // namespace splitter
