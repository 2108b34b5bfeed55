// The bytes of the join script, as the command interpreter of Windows reads them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace splitter {

// The OEM code page that Windows gives the locale named `locale` in the POSIX way
// (language_REGION.charset@modifier: "ru_RU.UTF-8", "de_AT", "sr_RS@latin"): 850 for the western
// European ones, 866 for Russian, 852 for the central European ones, ...; 437 for English in the
// US and for every locale Windows gives no OEM code page ("C", "POSIX", "", Hindi...).
int OemCodePageOfLocale(std::string_view locale);

// The code page in which cmd will read a script written here: on Windows the OEM code page;
// elsewhere the one Windows would use for the user's locale (OemCodePageOfLocale of LC_ALL,
// LC_CTYPE or LANG, the first one set), since the script is made to be run there.
int ScriptCodePage();

struct ScriptBytes {
    std::string bytes;
    // 0 when the bytes are in ScriptCodePage(). Else that code page, which cannot spell the
    // text: the bytes are then the text's own, UTF-8, which cmd reads as other names.
    int unspelledIn = 0;
};

// `text` is the script in UTF-8, converted to ScriptCodePage(): cmd reads a batch file in the OEM
// code page (437, 850, 866, ...), not in the ANSI one or UTF-8. When that code page cannot spell
// a character, every character coming back as itself, the script would name other files: on
// Windows this throws Failure kBadFileName naming the code page and `name`, in words; elsewhere the
// text is returned as it is, for `splitter-cli join`, and marked unspelled so that the caller can
// warn.
ScriptBytes CommandScriptBytes(const std::string& text, const std::string& name);

// The other way, for reading a script: its bytes as UTF-8 text, in each reading that can be
// meant, the likeliest first: in ScriptCodePage(), as cmd reads them (a script written on
// Windows, or here for a name the code page spells), then as UTF-8 when they are well formed
// UTF-8 and that reading differs (a script written on Linux for a name the code page cannot
// spell). Bytes can be both: "\xe0\xa0\x83" is two letters in code page 932 and one in UTF-8,
// and only the reader can tell, by the files a reading names. Never empty.
std::vector<std::string> CommandScriptReadings(const std::string& bytes);

// The first of CommandScriptReadings: the script as cmd reads it.
inline std::string CommandScriptText(const std::string& bytes) {
    return CommandScriptReadings(bytes).front();
}

}  // namespace splitter
