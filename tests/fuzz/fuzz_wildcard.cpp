// The wildcard matcher: the pattern up to the first line feed, then the
// name.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "walk/walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = veldro::fuzz::as_text(data, size);
    const std::size_t cut = text.find('\n');
    if (cut == std::string_view::npos) {
        return -1;
    }
    const std::string pattern(text.substr(0, cut));
    const std::string name(text.substr(cut + 1));
    const bool result = veldro::walk::wildcard_match(pattern, name);
    // A pattern without wildcards matches exactly itself.
    if (pattern.find_first_of("*?[\\") == std::string::npos && result != (pattern == name)) {
        __builtin_trap();
    }
    if (!veldro::walk::wildcard_match("*", name)) {
        __builtin_trap();
    }
    return 0;
}
