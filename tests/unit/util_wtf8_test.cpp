#include <gtest/gtest.h>

#include "util/wtf8.h"

namespace veldro::util {
namespace {

TEST(Wtf8, EveryUnitSequenceComesBackAsItWas) {
    const std::u16string names[] = {
        u"plain.txt",
        u"caf\u00e9 \u65e5\u672c.doc",
        u"emoji \U0001F600.txt",
        std::u16string(u"lone ") + char16_t(0xD83D) + u".txt",          // high surrogate alone
        std::u16string(u"low ") + char16_t(0xDE00) + char16_t(0xD800),  // low, then high at the end
    };
    for (const std::u16string& name : names) {
        const std::string text = utf16_to_wtf8(name.data(), name.size());
        EXPECT_EQ(wtf8_to_utf16(text), name);
    }
}

TEST(Wtf8, LoneSurrogatesDifferFromReplacementAndAreEscapedForLogs) {
    const std::u16string lone = std::u16string(u"a") + char16_t(0xD800) + u"b";
    const std::string text = utf16_to_wtf8(lone.data(), lone.size());
    EXPECT_EQ(text,
              "a\xED\xA0\x80"
              "b");
    EXPECT_EQ(escape_lone_surrogates(text), "a\\uD800b");
    EXPECT_EQ(escape_lone_surrogates("caf\xC3\xA9"), "caf\xC3\xA9");
    // Stray bytes and overlong forms become U+FFFD, one unit per byte.
    EXPECT_EQ(wtf8_to_utf16("x\xFF\xC0\x80"), u"x\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(wtf8_to_utf16("\xE6\x97"), u"\uFFFD\uFFFD");
}

}  // namespace
}  // namespace veldro::util
