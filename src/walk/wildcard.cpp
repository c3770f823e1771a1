// Exclusion patterns: the shell's wildcard rules over the whole name, by
// characters (UTF-8 sequences), with no special treatment of '/' or a
// leading '.'.
#include <cstdint>
#include <string_view>

#include "walk/walk.h"

namespace veldro::walk {

namespace {

// One character of a UTF-8 text. A byte that does not begin a valid
// sequence stands for itself, mapped where no real character lies, so that
// names that are not valid UTF-8 still match exactly.
std::uint32_t next_char(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    std::uint32_t value = lead;
    if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        value = lead & 0x07U;
    } else if (lead >= 0xE0) {
        length = 3;
        value = lead & 0x0FU;
    } else if (lead >= 0xC2) {
        length = 2;
        value = lead & 0x1FU;
    } else if (lead >= 0x80) {
        ++pos;
        return 0x110000U + lead;
    }
    if (length > 1) {
        if (pos + length > text.size()) {
            ++pos;
            return 0x110000U + lead;
        }
        for (std::size_t i = 1; i < length; ++i) {
            const auto c = static_cast<unsigned char>(text[pos + i]);
            if ((c & 0xC0U) != 0x80U) {
                ++pos;
                return 0x110000U + lead;
            }
            value = (value << 6U) | (c & 0x3FU);
        }
    }
    pos += length;
    return value;
}

bool in_class(std::string_view name, std::uint32_t c) {
    const bool ascii = c < 0x80;
    const bool upper = ascii && c >= 'A' && c <= 'Z';
    const bool lower = ascii && c >= 'a' && c <= 'z';
    const bool digit = ascii && c >= '0' && c <= '9';
    if (name == "alpha") {
        return upper || lower;
    }
    if (name == "digit") {
        return digit;
    }
    if (name == "alnum") {
        return upper || lower || digit;
    }
    if (name == "upper") {
        return upper;
    }
    if (name == "lower") {
        return lower;
    }
    if (name == "space") {
        return c == ' ' || (c >= '\t' && c <= '\r');
    }
    if (name == "blank") {
        return c == ' ' || c == '\t';
    }
    if (name == "punct") {
        return ascii && c > ' ' && c < 0x7F && !upper && !lower && !digit;
    }
    if (name == "xdigit") {
        return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }
    if (name == "print") {
        return ascii && c >= ' ' && c < 0x7F;
    }
    if (name == "graph") {
        return ascii && c > ' ' && c < 0x7F;
    }
    if (name == "cntrl") {
        return ascii && (c < ' ' || c == 0x7F);
    }
    return false;
}

enum class Bracket : std::uint8_t { matched, not_matched, not_a_bracket };

// Matches one character against the bracket expression that starts at
// pattern[pos] (just after the '['); on success pos moves past its ']'.
Bracket match_bracket(std::string_view pattern, std::size_t& pos, std::uint32_t c) {
    std::size_t i = pos;
    bool negate = false;
    if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
        negate = true;
        ++i;
    }
    bool found = false;
    bool first = true;
    while (i < pattern.size()) {
        if (pattern[i] == ']' && !first) {
            pos = i + 1;
            return found != negate ? Bracket::matched : Bracket::not_matched;
        }
        first = false;
        if (pattern[i] == '[' && i + 1 < pattern.size() && pattern[i + 1] == ':') {
            const std::size_t end = pattern.find(":]", i + 2);
            if (end != std::string_view::npos) {
                found = found || in_class(pattern.substr(i + 2, end - i - 2), c);
                i = end + 2;
                continue;
            }
        }
        if (pattern[i] == '\\' && i + 1 < pattern.size()) {
            ++i;
        }
        const std::uint32_t low = next_char(pattern, i);
        std::uint32_t high = low;
        if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
            ++i;
            if (pattern[i] == '\\' && i + 1 < pattern.size()) {
                ++i;
            }
            high = next_char(pattern, i);
        }
        if (low <= c && c <= high) {
            found = true;
        }
    }
    return Bracket::not_a_bracket;  // no closing ']': the '[' is an ordinary character
}

// Matches one pattern element at `p` against character `c`; moves `p` past
// the element. False when it does not match.
bool match_element(std::string_view pattern, std::size_t& p, std::uint32_t c) {
    if (pattern[p] == '?') {
        ++p;
        return true;
    }
    if (pattern[p] == '[') {
        std::size_t after = p + 1;
        const Bracket b = match_bracket(pattern, after, c);
        if (b != Bracket::not_a_bracket) {
            p = after;
            return b == Bracket::matched;
        }
        ++p;
        return c == '[';
    }
    if (pattern[p] == '\\' && p + 1 < pattern.size()) {
        ++p;
    }
    return next_char(pattern, p) == c;
}

}  // namespace

bool wildcard_match(const std::string& pattern_text, const std::string& text_in) {
    const std::string_view pattern(pattern_text);
    const std::string_view text(text_in);
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star_p = std::string_view::npos;
    std::size_t star_t = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            while (p < pattern.size() && pattern[p] == '*') {
                ++p;
            }
            star_p = p;
            star_t = t;
            continue;
        }
        std::size_t next_t = t;
        const std::uint32_t c = next_char(text, next_t);
        std::size_t next_p = p;
        if (p < pattern.size() && match_element(pattern, next_p, c)) {
            p = next_p;
            t = next_t;
            continue;
        }
        if (star_p == std::string_view::npos) {
            return false;
        }
        // Let the last '*' take one more character and try again.
        p = star_p;
        next_char(text, star_t);
        t = star_t;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace veldro::walk
