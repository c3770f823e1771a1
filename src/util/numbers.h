// Reading the numbers and switches a user types: whole words only, so that
// "1G" or "abc" never pass as some other number than the one meant.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace veldro::util {

// Decimal digits with an optional sign; blanks around them are allowed.
// Nothing for any other text and for values beyond 64 bits.
std::optional<std::int64_t> parse_integer(std::string_view text);

// The same within the range of int.
std::optional<int> parse_int(std::string_view text);

// A byte count: decimal digits, optionally followed by K, M, G or T (either
// case) for that many powers of 1,024. No sign; nothing for other text and
// for sizes beyond 64 bits.
std::optional<std::int64_t> parse_size(std::string_view text);

// ON, YES, TRUE, 1 give true; OFF, NO, FALSE, 0 give false (either case,
// blanks around allowed); any other text gives nothing.
std::optional<bool> parse_switch(std::string_view text);

}  // namespace veldro::util
