#include "files/script_encoding.h"

#include <algorithm>

namespace splitter {
namespace {

// Languages by the OEM code page Windows gives their locales (LOCALE_IDEFAULTCODEPAGE in its
// locale data); one that is not here gets 437. Where Windows writes a language in two scripts,
// the one glibc's locale of that name uses: sr_RS is Cyrillic, uz_UZ and az_AZ are Latin.
constexpr struct {
    int codePage;
    std::string_view languages;
} kLanguages[] = {
    {720, " ar fa ku prs sd ug ur "},
    {737, " el "},
    {775, " et lt lv "},
    {850,
     " af arn bin br ca co cy da de dsb en es eu ff fi fo fr fy ga gd gl gn gsw hsb id is it "
     "jv kl kr lb moh ms nb nl nn no nso oc pt quc quz rm se sma smj smn sms sv tn tzm wa wo "
     "xh zu "},
    {852, " bs cs hr hu pl ro sk sl sq tk "},
    {855, " sr "},
    {857, " az tr uz "},
    {862, " he "},
    {866, " ba be bg ky mk mn ru sah tg tt uk "},
    {874, " th "},
    {932, " ja "},
    {936, " zh "},
    {949, " ko "},
    {1258, " vi "},
};

// Regions and scripts (glibc's modifiers) with a code page other than their language's.
constexpr struct {
    std::string_view locale;
    int codePage;
} kExceptions[] = {
    {"en", 437},    {"en_US", 437},    {"en_IN", 437}, {"en_MY", 437},         {"en_PH", 437},
    {"en_SG", 437}, {"en_ZA", 437},    {"en_ZW", 437}, {"zh_TW", 950},         {"zh_HK", 950},
    {"zh_MO", 950}, {"sr@latin", 852}, {"pa_PK", 720}, {"sd@devanagari", 437}, {"uz@cyrillic", 866},
};

}  // namespace

int OemCodePageOfLocale(std::string_view locale) {
    const std::size_t at = locale.find('@');
    const std::string_view modifier = at == std::string_view::npos ? "" : locale.substr(at + 1);
    locale = locale.substr(0, std::min(at, locale.find('.')));
    const std::string_view language = locale.substr(0, locale.find('_'));
    if (language.empty()) return 437;
    // Built in steps: GCC 12 warns wrongly about "literal" + string + "literal".
    std::string withModifier(language);
    withModifier += '@';
    withModifier += modifier;
    for (const auto& exception : kExceptions) {
        if (exception.locale == locale || (!modifier.empty() && exception.locale == withModifier))
            return exception.codePage;
    }
    std::string word = " ";
    word += language;
    word += ' ';
    for (const auto& entry : kLanguages) {
        if (entry.languages.find(word) != std::string_view::npos) return entry.codePage;
    }
    return 437;
}

}  // namespace splitter
