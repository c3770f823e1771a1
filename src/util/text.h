// Text helpers: numbers with separators, centring, environment tests,
// case folding and UTF-8/UTF-16 conversion.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace veldro::util {

// 1234567 -> "1,234,567"; -1234567 -> "-1,234,567".
std::string with_separators(std::int64_t value);

// (width - length) / 2 blanks, then the text; no line end. Length counts
// characters, not bytes.
void print_centered(std::FILE* stream, std::string_view text, int width);

// True when the variable exists and its value contains `text`; unless
// `exact`, both are compared in upper case.
bool environment_contains(const char* name, std::string_view text, bool exact = false);

// ASCII upper and lower case (other bytes unchanged, so UTF-8 survives).
std::string to_upper(std::string_view text);
std::string to_lower(std::string_view text);
bool contains_ignoring_case(std::string_view text, std::string_view word);

// Number of characters (UTF-8 code points) in the text.
std::size_t char_count(std::string_view utf8);
// The first `chars` characters, never splitting a sequence.
std::string_view first_chars(std::string_view utf8, std::size_t chars);
// Pads with blanks on the right, or cuts, to exactly `chars` characters.
std::string fit_to_width(std::string_view utf8, std::size_t chars);

// UTF-8 to UTF-16LE code units (invalid bytes become U+FFFD).
std::u16string utf8_to_utf16(std::string_view utf8);

// A name as it may stand in a text output: a line end, tab or other
// control character (C0, DEL, C1), the line and paragraph separators
// U+2028/U+2029, the field separator '|' and every byte that is not part
// of valid UTF-8 become escapes (\n, \r, \t, or \xHH with upper-case
// digits, one per byte); the backslash that begins an escape is written
// as \\. A name without such characters comes back as it is.
std::string escape_name(std::string_view name);
// The name an escaped text stands for; nothing when the text holds a
// backslash that does not begin one of the escapes above.
std::optional<std::string> unescape_name(std::string_view text);
// The form of a name in the program's text outputs: escaped on Linux,
// where a name may hold any byte; unchanged on Windows, whose names can
// hold none of the escaped characters.
std::string shown_name(std::string_view name);

// True when the text has a byte above 127.
bool has_non_ascii(std::string_view text);

}  // namespace veldro::util
