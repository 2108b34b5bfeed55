#include "engine/join_script.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "files/failure.h"
#include "files/script_encoding.h"

namespace splitter {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

TEST(JoinScriptTest, ExampleBytes) {
    EXPECT_EQ(JoinScriptText("report.pdf", 3),
              "@Echo Off\r\n"
              "Echo Tarvo Group's File Splitter\r\n"
              "Echo *************************\r\n"
              "copy /b \"report.pdf.0\"+\"report.pdf.1\"+\"report.pdf.2\" report.pdf");
    EXPECT_EQ(Lines(JoinScriptText("a.b", 2)).back(), "copy /b \"a.b.0\"+\"a.b.1\" a.b");
    EXPECT_EQ(JoinScriptPath("C:\\data\\report.pdf"), "C:\\data\\report.pdf.bat");
}

TEST(JoinScriptTest, NamesThatCmdWouldMisread) {
    struct Case {
        std::string title;
        std::string copyLine;  // for 2 parts
    };
    const Case cases[] = {
        {"noext", "copy /b \"noext.0\"+\"noext.1\" noext"},
        {"my report.pdf", "copy /b \"my report.pdf.0\"+\"my report.pdf.1\" \"my report.pdf\""},
        {"100%.txt", "copy /b \"100%%.txt.0\"+\"100%%.txt.1\" 100%%.txt"},
        {"50% off.txt", "copy /b \"50%% off.txt.0\"+\"50%% off.txt.1\" \"50%% off.txt\""},
        {"a&b", "copy /b \"a&b.0\"+\"a&b.1\" \"a&b\""},
        {"x(1).bin", "copy /b \"x(1).bin.0\"+\"x(1).bin.1\" \"x(1).bin\""},
        {"a+b", "copy /b \"a+b.0\"+\"a+b.1\" \"a+b\""},
        {"r\xc3\xa9sum\xc3\xa9",
         "copy /b \"r\xc3\xa9sum\xc3\xa9.0\"+\"r\xc3\xa9sum\xc3\xa9.1\" r\xc3\xa9sum\xc3\xa9"},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> lines = Lines(JoinScriptText(c.title, 2));
        ASSERT_EQ(lines.size(), 4u) << c.title;
        EXPECT_EQ(lines[3], c.copyLine) << c.title;
    }
    for (const char special : std::string("&()[]{}^=;!'+,`~ ")) {
        const std::string title = std::string("a") + special + "b";
        EXPECT_EQ(Lines(JoinScriptText(title, 2))[3],
                  "copy /b \"" + title + ".0\"+\"" + title + ".1\" \"" + title + "\"")
            << title;
    }
}

TEST(JoinScriptTest, NamesNoScriptCanCarry) {
    for (const std::string& title :
         std::vector<std::string>{"", "say \"hi\"", "a\nb", "a\rb", "tab\t", "\x7f"}) {
        try {
            JoinScriptText(title, 2);
            ADD_FAILURE() << "accepted " << title;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), kBadFileName) << title;
        }
    }
}

// Lines over cmd's limit are spread over several copy lines, each within it; together they list
// every part once, in order, and every later line appends to the destination.
TEST(JoinScriptTest, LongListsAreSpreadOverSeveralLines) {
    struct Case {
        std::string title;
        int parts;
        std::size_t copyLines;
    };
    const Case cases[] = {
        {"movie.mkv", 999, 2},
        {"movie.mkv", 100, 1},
        {std::string(200, 'n') + " x%", 999, 28},
        {std::string(240, 'l'), 999, 33},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> lines = Lines(JoinScriptText(c.title, c.parts));
        ASSERT_EQ(lines.size(), 3 + c.copyLines) << c.title.size();
        std::string escaped;
        for (const char ch : c.title) escaped += ch == '%' ? std::string("%%") : std::string(1, ch);
        const bool quoted = c.title.find(' ') != std::string::npos;
        const std::string destination = quoted ? '"' + escaped + '"' : escaped;
        int next = 0;
        for (std::size_t i = 3; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            EXPECT_LE(line.size(), kMaxScriptLine);
            std::string expectedStart = "copy /b " + (i == 3 ? std::string() : destination + "+");
            ASSERT_EQ(line.rfind(expectedStart, 0), 0u) << line.substr(0, 80);
            const std::string tail = " " + destination;
            ASSERT_EQ(line.substr(line.size() - tail.size()), tail);
            std::string list =
                line.substr(expectedStart.size(), line.size() - tail.size() - expectedStart.size());
            std::istringstream entries(list);
            for (std::string entry; std::getline(entries, entry, '+');) {
                EXPECT_EQ(entry, '"' + escaped + "." + std::to_string(next) + '"');
                ++next;
            }
        }
        EXPECT_EQ(next, c.parts);
    }
}

// cmd reads a script in the OEM code page that Windows gives the user's locale.
TEST(ScriptEncodingTest, OemCodePageOfTheLocaleAsWindowsGivesIt) {
    // clang-format off
    const std::pair<const char*, int> cases[] = {
        {"", 437}, {"C.UTF-8", 437}, {"en", 437}, {"en_GB.UTF-8", 850}, {"de_AT@euro", 850},
        {"sr_RS", 855}, {"sr_RS@latin", 852}, {"uz_UZ@cyrillic", 866}, {"ja_JP.UTF-8", 932},
        {"zh_TW", 950}, {"vi_VN", 1258}, {"hi_IN", 437}};
    // clang-format on
    for (const auto& [locale, codePage] : cases)
        EXPECT_EQ(OemCodePageOfLocale(locale), codePage) << locale;
}

#ifndef _WIN32
// Every OEM code page a locale can give converts a name of its script both ways here, 720 (which
// the C library lacks) from our own table, every byte of it; on Windows the system converts.
TEST(ScriptEncodingTest, EveryCodePageOfTheTableBothWays) {
    // clang-format off
    const std::pair<const char*, std::string> cases[] = {
        {"en_US", "caf\u00e9"}, {"ar_SA", "\u0645\u0644\u0641"},
        {"el_GR", "\u03b1\u03c1\u03c7\u03b5\u03af\u03bf"},
        {"lt_LT", "\u0105\u010d\u0119\u0117\u012f\u0161\u0173\u016b\u017e"},
        {"de_DE", "Gr\u00f6\u00dfe"}, {"pl_PL", "za\u017c\u00f3\u0142\u0107"},
        {"sr_RS", "\u0434\u0430\u0442\u043e\u0442\u0435\u043a\u0430"},
        {"tr_TR", "dosyas\u0131 \u011f\u015f"}, {"he_IL", "\u05e7\u05d5\u05d1\u05e5"},
        {"ru_RU", "\u0444\u0430\u0439\u043b"}, {"th_TH", "\u0e44\u0e1f\u0e25\u0e4c"},
        {"ja_JP", "\u71ff\u30a1 \u30d5\u30a1\u30a4\u30eb"}, {"zh_CN", "\u6587\u4ef6"},
        {"ko_KR", "\ud30c\uc77c"}, {"zh_TW", "\u6a94\u6848"}, {"vi_VN", "Ti\u1ebfng Vi\u1ec7t"}};
    // clang-format on
    std::string high;
    for (int byte = 0x80; byte <= 0xFF; ++byte) high += static_cast<char>(byte);
    for (const auto& [locale, name] : cases) {
        ::setenv("LC_ALL", locale, 1);
        const ScriptBytes script = CommandScriptBytes(name, name);
        EXPECT_TRUE(script.unspelledIn == 0 && script.bytes != name) << ScriptCodePage();
        EXPECT_EQ(CommandScriptText(script.bytes), name) << ScriptCodePage();
        if (ScriptCodePage() == 720) {
            EXPECT_EQ(CommandScriptBytes(CommandScriptText(high), "").bytes, high);
        }
    }
    ::unsetenv("LC_ALL");
}
#endif

}  // namespace
}  // namespace splitter
