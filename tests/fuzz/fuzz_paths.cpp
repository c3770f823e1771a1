// Path normalisation and the path helpers, in both styles.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "util/paths.h"

namespace {

using veldro::paths::Style;

void check(const std::string& absolute, Style style) {
    const std::string once = veldro::paths::normalize(absolute, style);
    // Normalising is idempotent and leaves no "." or ".." component.
    if (veldro::paths::normalize(once, style) != once) {
        __builtin_trap();
    }
    const char sep = veldro::paths::separator(style);
    const std::string wrapped = std::string(1, sep) + once + std::string(1, sep);
    for (const std::string dots : {"..", "."}) {
        if (wrapped.find(std::string(1, sep) + dots + std::string(1, sep)) != std::string::npos) {
            __builtin_trap();
        }
    }
    veldro::paths::split(once, style);
    veldro::paths::file_name(once, style);
    veldro::paths::parent(once, style);
    veldro::paths::below_drive(once, style);
    veldro::paths::join(once, "name", style);
    veldro::paths::without_trailing_separator(veldro::paths::with_trailing_separator(once, style), style);
    veldro::paths::add_long_prefix(once, style);
    veldro::paths::display_path(once);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = veldro::fuzz::as_text(data, size);
    check("/" + std::string(text), Style::posix);
    check("C:\\" + std::string(text), Style::windows);
    check("\\\\?\\C:\\" + std::string(text), Style::windows);
    return 0;
}
