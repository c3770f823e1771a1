#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "util/text.h"

namespace veldro::util {
namespace {

TEST(TextSeparators, GroupsOfThree) {
    EXPECT_EQ(with_separators(0), "0");
    EXPECT_EQ(with_separators(100), "100");
    EXPECT_EQ(with_separators(999), "999");
    EXPECT_EQ(with_separators(1000), "1,000");
    EXPECT_EQ(with_separators(1000000), "1,000,000");
    EXPECT_EQ(with_separators(-1), "-1");
    EXPECT_EQ(with_separators(-1234567), "-1,234,567");
    EXPECT_EQ(with_separators(std::numeric_limits<std::int64_t>::min()), "-9,223,372,036,854,775,808");
}

TEST(TextCentering, CountsCharactersNotBytes) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    print_centered(f, "RETURN TO CONTINUE", 80);
    print_centered(f, "\u00e9\u00e9", 6);
    std::rewind(f);
    char buffer[200] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof(buffer), f);
    std::fclose(f);
    EXPECT_EQ(std::string(buffer, n), std::string(31, ' ') + "RETURN TO CONTINUE" + "  \u00e9\u00e9");
}

TEST(TextEnvironment, ContainsComparesInUpperCaseUnlessExact) {
    setenv("VELDRO_TEST_VAR", "oN", 1);
    EXPECT_TRUE(environment_contains("VELDRO_TEST_VAR", "ON"));
    EXPECT_TRUE(environment_contains("VELDRO_TEST_VAR", "on"));
    EXPECT_FALSE(environment_contains("VELDRO_TEST_VAR", "ON", true));
    unsetenv("VELDRO_TEST_VAR");
    EXPECT_FALSE(environment_contains("VELDRO_TEST_VAR", "ON"));
}

TEST(TextWidth, FitsWithoutSplittingSequences) {
    EXPECT_EQ(fit_to_width("abc", 5), "abc  ");
    EXPECT_EQ(fit_to_width("abcdef", 3), "abc");
    EXPECT_EQ(fit_to_width("\u00e4\u00f6\u00fc\u00df", 2), "\u00e4\u00f6");
    EXPECT_EQ(char_count("\u00e4b\U0001F600"), 3U);
    EXPECT_EQ(first_chars("a\U0001F600b", 2), "a\U0001F600");
}

TEST(TextUtf16, ConvertsAndMarksBadInput) {
    EXPECT_EQ(utf8_to_utf16("a\u00e9\u20ac\U0001F600"), u"a\u00e9\u20ac\U0001F600");
    // Bytes that are not UTF-8 become replacement characters, one per byte.
    EXPECT_EQ(utf8_to_utf16("a\xff\xfe"), u"a\uFFFD\uFFFD");
    EXPECT_EQ(utf8_to_utf16("\xc0\xaf"), u"\uFFFD\uFFFD");  // overlong '/'
    EXPECT_FALSE(has_non_ascii("plain"));
    EXPECT_TRUE(has_non_ascii("caf\u00e9"));
}

TEST(TextNameEscaping, EscapesWhatCouldBreakALineAndRoundTrips) {
    struct Case {
        std::string name;
        std::string escaped;
    };
    const Case cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"caf\u00e9 \u65e5\u672c \U0001F600", "caf\u00e9 \u65e5\u672c \U0001F600"},
        {"a\nFORGED LINE [OK]", "a\\nFORGED LINE [OK]"},
        {"x | 0123 |[OK]", "x \\x7C 0123 \\x7C[OK]"},
        {"tab\there\rcr", "tab\\there\\rcr"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"bell\x07"
         "del\x7F",
         "bell\\x07del\\x7F"},
        {"n\xff", "n\\xFF"},
        {"n\xfe", "n\\xFE"},
        {"n\xef\xbf\xbd", "n\xef\xbf\xbd"},                  // U+FFFD itself is a character
        {"c1\xc2\x85", "c1\\xC2\\x85"},                      // NEL
        {"ls\xe2\x80\xa8", "ls\\xE2\\x80\\xA8"},             // U+2028
        {"over\xc0\xaf", "over\\xC0\\xAF"},                  // overlong '/'
        {"sur\xed\xa0\x80", "sur\\xED\\xA0\\x80"},           // surrogate
        {"cut\xe6\x97", "cut\\xE6\\x97"},                    // sequence cut short
        {"big\xf4\x90\x80\x80", "big\\xF4\\x90\\x80\\x80"},  // beyond U+10FFFF
    };
    for (const Case& c : cases) {
        EXPECT_EQ(escape_name(c.name), c.escaped) << c.escaped;
        EXPECT_EQ(unescape_name(c.escaped), c.name) << c.escaped;
    }
    for (const char* malformed : {"end\\", "\\q", "\\x4", "\\xZZ"}) {
        EXPECT_FALSE(unescape_name(malformed).has_value()) << malformed;
    }
    // Every byte value alone and after a lead byte survives the round trip.
    for (int b = 0; b < 256; ++b) {
        std::string alone(1, static_cast<char>(b));
        std::string after_lead("\xe2");
        after_lead += alone;
        EXPECT_EQ(unescape_name(escape_name(alone)), alone);
        EXPECT_EQ(unescape_name(escape_name(after_lead)), after_lead);
    }
}

}  // namespace
}  // namespace veldro::util
