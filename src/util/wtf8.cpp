#include "util/wtf8.h"

#include <cstdint>
#include <cstdio>

namespace veldro::util {

namespace {

void put_code_point(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6U));
        out += static_cast<char>(0x80 | (cp & 0x3FU));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12U));
        out += static_cast<char>(0x80 | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80 | (cp & 0x3FU));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18U));
        out += static_cast<char>(0x80 | ((cp >> 12U) & 0x3FU));
        out += static_cast<char>(0x80 | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80 | (cp & 0x3FU));
    }
}

bool is_high(std::uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low(std::uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Decodes one sequence at `at`; `length` receives its byte count. Lone
// surrogates decode as themselves; overlong forms and stray bytes give
// U+FFFD over one byte.
std::uint32_t decode_at(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])); };
    const std::uint32_t lead = byte(at);
    length = 1;
    if (lead < 0x80) {
        return lead;
    }
    std::size_t need = 0;
    std::uint32_t cp = 0;
    std::uint32_t minimum = 0;
    if ((lead & 0xE0U) == 0xC0U) {
        need = 1;
        cp = lead & 0x1FU;
        minimum = 0x80;
    } else if ((lead & 0xF0U) == 0xE0U) {
        need = 2;
        cp = lead & 0x0FU;
        minimum = 0x800;
    } else if ((lead & 0xF8U) == 0xF0U) {
        need = 3;
        cp = lead & 0x07U;
        minimum = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (at + need >= text.size()) {
        return 0xFFFD;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        const std::uint32_t next = byte(at + i);
        if ((next & 0xC0U) != 0x80U) {
            return 0xFFFD;
        }
        cp = (cp << 6U) | (next & 0x3FU);
    }
    if (cp < minimum || cp > 0x10FFFF) {
        return 0xFFFD;
    }
    length = need + 1;
    return cp;
}

}  // namespace

std::string utf16_to_wtf8(const char16_t* units, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t u = units[i];  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        if (is_high(u) && i + 1 < count && is_low(units[i + 1])) {  // NOLINT
            const std::uint32_t low = units[++i];                   // NOLINT
            put_code_point(out, 0x10000 + ((u - 0xD800) << 10U) + (low - 0xDC00));
        } else {
            put_code_point(out, u);
        }
    }
    return out;
}

std::u16string wtf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = 1;
        const std::uint32_t cp = decode_at(text, at, length);
        at += length;
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10U));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FFU));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string escape_lone_surrogates(std::string_view text) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = 1;
        const std::uint32_t cp = decode_at(text, at, length);
        if (length == 3 && (is_high(cp) || is_low(cp))) {
            char escaped[8];  // NOLINT(modernize-avoid-c-arrays)
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(cp));
            out += escaped;
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

}  // namespace veldro::util
