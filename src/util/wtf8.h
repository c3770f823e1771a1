// UTF-16 <-> UTF-8 for file names. NTFS names are sequences of 16-bit
// units that need not be valid UTF-16: a lone surrogate is carried as its
// own three-byte sequence (the generalised form of UTF-8 that allows
// surrogate code points), so that every name converts back to the units it
// came from and never turns into another name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veldro::util {

std::string utf16_to_wtf8(const char16_t* units, std::size_t count);

// The units of a UTF-8 text in which lone surrogates may stand. A byte
// that begins no valid sequence becomes U+FFFD.
std::u16string wtf8_to_utf16(std::string_view text);

// The text with every lone surrogate written as "\uD800"-style escape
// text, for logs and the console, which must hold valid UTF-8.
std::string escape_lone_surrogates(std::string_view text);

}  // namespace veldro::util
