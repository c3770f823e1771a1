#include "platform/leftovers.h"

#include <limits>

namespace veldro::platform {

namespace {

// A run of decimal digits at the front of `text`, taken off it; nothing
// when there is none or it overflows.
std::optional<std::uint64_t> take_number(std::string_view& text) {
    std::uint64_t value = 0;
    std::size_t used = 0;
    for (; used < text.size() && text[used] >= '0' && text[used] <= '9'; ++used) {
        const auto digit = static_cast<std::uint64_t>(text[used] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (used == 0) {
        return std::nullopt;
    }
    text.remove_prefix(used);
    return value;
}

}  // namespace

std::optional<std::uint64_t> temporary_file_owner(std::string_view name) {
    constexpr std::string_view head = ".veldro-";
    constexpr std::string_view tail = ".tmp";
    if (!name.starts_with(head) || !name.ends_with(tail)) {
        return std::nullopt;
    }
    name.remove_prefix(head.size());
    name.remove_suffix(tail.size());
    const std::optional<std::uint64_t> pid = take_number(name);
    if (!pid || name.empty() || name.front() != '-') {
        return std::nullopt;
    }
    name.remove_prefix(1);
    if (!take_number(name) || !name.empty()) {
        return std::nullopt;
    }
    return pid;
}

}  // namespace veldro::platform
