#include "util/text.h"

#include <array>

#include "platform/system.h"
#include "util/wtf8.h"

namespace veldro::util {

std::string with_separators(std::int64_t value) {
    // Work on the magnitude as unsigned so that the most negative value
    // does not overflow.
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? (~static_cast<std::uint64_t>(value) + 1) : static_cast<std::uint64_t>(value);
    std::array<char, 48> buffer{};
    std::size_t pos = buffer.size();
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0) {
            buffer.at(--pos) = ',';
        }
        buffer.at(--pos) = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
        ++digits;
    } while (magnitude != 0);
    if (negative) {
        buffer.at(--pos) = '-';
    }
    return {buffer.data() + pos, buffer.size() - pos};
}

void print_centered(std::FILE* stream, std::string_view text, int width) {
    const int length = static_cast<int>(char_count(text));
    const int blanks = width > length ? (width - length) / 2 : 0;
    for (int i = 0; i < blanks; ++i) {
        std::fputc(' ', stream);
    }
    std::fwrite(text.data(), 1, text.size(), stream);
}

bool environment_contains(const char* name, std::string_view text, bool exact) {
    const auto value = platform::get_environment(name);
    if (!value) {
        return false;
    }
    if (exact) {
        return value->find(text) != std::string::npos;
    }
    return to_upper(*value).find(to_upper(text)) != std::string::npos;
}

std::string to_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string to_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool contains_ignoring_case(std::string_view text, std::string_view word) {
    return to_upper(text).find(to_upper(word)) != std::string::npos;
}

namespace {

bool is_continuation(unsigned char c) {
    return (c & 0xC0U) == 0x80U;
}

}  // namespace

std::size_t char_count(std::string_view utf8) {
    std::size_t count = 0;
    for (char c : utf8) {
        if (!is_continuation(static_cast<unsigned char>(c))) {
            ++count;
        }
    }
    return count;
}

std::string_view first_chars(std::string_view utf8, std::size_t chars) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (!is_continuation(static_cast<unsigned char>(utf8[i]))) {
            if (seen == chars) {
                return utf8.substr(0, i);
            }
            ++seen;
        }
    }
    return utf8;
}

std::string fit_to_width(std::string_view utf8, std::size_t chars) {
    std::string out(first_chars(utf8, chars));
    const std::size_t have = char_count(out);
    if (have < chars) {
        out.append(chars - have, ' ');
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
    while (i < utf8.size()) {
        const unsigned char c = byte(i);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0U) == 0xC0U && c >= 0xC2) {
            len = 2;
        } else if ((c & 0xF0U) == 0xE0U) {
            len = 3;
        } else if ((c & 0xF8U) == 0xF0U && c <= 0xF4) {
            len = 4;
        }
        if (len > 1) {
            bool ok = i + len <= utf8.size();
            for (std::size_t k = 1; ok && k < len; ++k) {
                ok = is_continuation(byte(i + k));
            }
            if (ok) {
                cp = c & (0x7FU >> len);
                for (std::size_t k = 1; k < len; ++k) {
                    cp = (cp << 6) | (byte(i + k) & 0x3FU);
                }
                const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
                if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                    cp = 0xFFFD;
                }
            } else {
                cp = 0xFFFD;
                len = 1;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

bool has_non_ascii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 127) {
            return true;
        }
    }
    return false;
}

}  // namespace veldro::util

namespace veldro::util {

namespace {

// Length of the valid UTF-8 sequence at `at`, or 0 when the byte there does
// not begin one (a stray continuation, an overlong form, a surrogate, a
// value beyond U+10FFFF or a cut-off sequence).
std::size_t valid_sequence_length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    std::size_t len = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + len > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < len; ++k) {
        if (!is_continuation(byte(at + k))) {
            return 0;
        }
    }
    return len;
}

// A valid sequence that still must not stand as it is: the C1 controls
// (U+0080..U+009F) and the line and paragraph separators U+2028/U+2029.
bool is_breaking_sequence(std::string_view seq) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(seq[k]); };
    if (seq.size() == 2) {
        return byte(0) == 0xC2 && byte(1) <= 0x9F;
    }
    return seq.size() == 3 && byte(0) == 0xE2 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9);
}

bool needs_escape(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == '|' || c == '\\';
}

void put_byte_escape(std::string& out, unsigned char c) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4U];
    out += digits[c & 0x0FU];
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::string escape_name(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    std::size_t i = 0;
    while (i < name.size()) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            switch (c) {
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (needs_escape(c)) {
                        put_byte_escape(out, c);
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        const std::size_t len = valid_sequence_length(name, i);
        if (len == 0) {
            put_byte_escape(out, c);
            ++i;
            continue;
        }
        const std::string_view seq = name.substr(i, len);
        if (is_breaking_sequence(seq)) {
            for (const char b : seq) {
                put_byte_escape(out, static_cast<unsigned char>(b));
            }
        } else {
            out += seq;
        }
        i += len;
    }
    return out;
}

std::optional<std::string> unescape_name(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size()) {
            return std::nullopt;
        }
        const char kind = text[++i];
        if (kind == '\\') {
            out += '\\';
        } else if (kind == 'n') {
            out += '\n';
        } else if (kind == 'r') {
            out += '\r';
        } else if (kind == 't') {
            out += '\t';
        } else if (kind == 'x' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::string shown_name(std::string_view name) {
#ifdef _WIN32
    // Windows names hold none of the characters escaped on Linux; a lone
    // surrogate (carried as its own sequence) is written as its escape.
    return escape_lone_surrogates(name);
#else
    return escape_name(name);
#endif
}

}  // namespace veldro::util
