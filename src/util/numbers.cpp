#include "util/numbers.h"

#include <limits>

#include "util/text.h"

namespace veldro::util {

namespace {

std::string_view trim_blanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Digits only, into an unsigned 64-bit value; nothing on overflow.
std::optional<std::uint64_t> parse_digits(std::string_view digits) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

std::optional<std::int64_t> parse_integer(std::string_view text) {
    text = trim_blanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const std::optional<std::uint64_t> magnitude = parse_digits(text);
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!magnitude || *magnitude > largest + (negative ? 1U : 0U)) {
        return std::nullopt;
    }
    if (negative) {
        return *magnitude == largest + 1 ? std::numeric_limits<std::int64_t>::min()
                                         : -static_cast<std::int64_t>(*magnitude);
    }
    return static_cast<std::int64_t>(*magnitude);
}

std::optional<int> parse_int(std::string_view text) {
    const std::optional<std::int64_t> value = parse_integer(text);
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<std::int64_t> parse_size(std::string_view text) {
    text = trim_blanks(text);
    unsigned shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K':
            case 'k':
                shift = 10;
                break;
            case 'M':
            case 'm':
                shift = 20;
                break;
            case 'G':
            case 'g':
                shift = 30;
                break;
            case 'T':
            case 't':
                shift = 40;
                break;
            default:
                break;
        }
    }
    if (shift != 0) {
        text.remove_suffix(1);
    }
    const std::optional<std::uint64_t> count = parse_digits(text);
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!count || *count > (largest >> shift)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(*count << shift);
}

std::optional<bool> parse_switch(std::string_view text) {
    const std::string word = to_upper(trim_blanks(text));
    for (const std::string_view on : {"ON", "YES", "TRUE", "1"}) {
        if (word == on) {
            return true;
        }
    }
    for (const std::string_view off : {"OFF", "NO", "FALSE", "0"}) {
        if (word == off) {
            return false;
        }
    }
    return std::nullopt;
}

}  // namespace veldro::util
