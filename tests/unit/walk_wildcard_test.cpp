// Exclusion patterns: the shell's wildcard rules over whole names.
#include <gtest/gtest.h>

#include <string>

#include "run/run.h"
#include "walk/walk.h"

using veldro::walk::wildcard_match;

namespace {

struct Case {
    const char* pattern;
    const char* text;
    bool matches;
};

TEST(WalkWildcard, FollowsTheShellRules) {
    const Case cases[] = {
        {"*", "", true},
        {"*", "anything.txt", true},
        {"*.BAK", "OLD.BAK", true},
        {"*.BAK", "OLD.BAK.TXT", false},
        {"*.BAK", "BAK", false},
        {"?", "a", true},
        {"?", "", false},
        {"?", "ab", false},
        {"a?c", "abc", true},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"**x", "x", true},
        // No special treatment of '/' or a leading '.'.
        {"*", ".hidden", true},
        {"a*c", "a/b/c", true},
        {"?hidden", ".hidden", true},
        // Bracket expressions: sets, ranges, negation, a leading ']'.
        {"[abc]x", "bx", true},
        {"[abc]x", "dx", false},
        {"[a-c]", "b", true},
        {"[a-c]", "d", false},
        {"[!a-c]", "d", true},
        {"[^a-c]", "b", false},
        {"[]]", "]", true},
        {"[!]]", "a", true},
        {"[a-]", "-", true},
        {"[[:digit:]]*", "7up", true},
        {"[[:digit:]]*", "up7", false},
        {"[[:upper:]]", "q", false},
        // An unclosed bracket is an ordinary character.
        {"[ab", "[ab", true},
        {"[ab", "a", false},
        // A backslash makes the next character literal.
        {"\\*", "*", true},
        {"\\*", "a", false},
        {"a\\?", "a?", true},
        {"a\\?", "ab", false},
        // Characters compare exactly: case folding belongs to the caller.
        {"*.bak", "OLD.BAK", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wildcard_match(c.pattern, c.text), c.matches) << c.pattern << " vs " << c.text;
    }
}

TEST(WalkWildcard, QuestionMarkTakesOneWholeCharacter) {
    EXPECT_TRUE(wildcard_match("?.txt", "\xc3\xa9.txt"));            // é: two bytes, one character
    EXPECT_FALSE(wildcard_match("??.txt", "\xc3\xa9.txt"));          // not two characters
    EXPECT_TRUE(wildcard_match("[\xc3\xa0-\xc3\xbf]", "\xc3\xa9"));  // a range of accented letters
    // Bytes that are not valid UTF-8 are characters of their own.
    EXPECT_TRUE(wildcard_match("a?b",
                               "a\xff"
                               "b"));
    EXPECT_TRUE(wildcard_match("a*", "a\xff\xfe"));
    EXPECT_FALSE(wildcard_match("a\xff", "a\xfe"));
}

TEST(WalkWildcard, ExclusionFoldsCaseUnlessAskedNotTo) {
    veldro::OwnedRun s;
    s.selection.exclude_mode = 1;
    // -x stores its patterns upper-cased; the name is upper-cased to meet them.
    s.selection.exclude_list = {"*.BAK", "TEMP?"};
    EXPECT_TRUE(veldro::walk::is_excluded(s, "old.bak"));
    EXPECT_TRUE(veldro::walk::is_excluded(s, "Temp1"));
    EXPECT_FALSE(veldro::walk::is_excluded(s, "old.bakx"));
    // -X compares exactly.
    s.selection.exclude_keep_case = 1;
    EXPECT_FALSE(veldro::walk::is_excluded(s, "old.bak"));
    EXPECT_TRUE(veldro::walk::is_excluded(s, "OLD.BAK"));
}

}  // namespace
