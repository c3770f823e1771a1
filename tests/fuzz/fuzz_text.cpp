// UTF-8 / UTF-16 conversion and the character-counting helpers.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "util/text.h"

namespace {

bool is_valid_utf8(std::string_view text) {
    std::u16string wide = veldro::util::utf8_to_utf16(text);
    std::string back;
    return veldro::util::utf16_to_utf8(wide, back) && back == text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = veldro::fuzz::as_text(data, size);
    // UTF-8 to UTF-16 and back: valid text comes back byte for byte, and
    // the characters counted are the code points converted.
    const std::u16string wide = veldro::util::utf8_to_utf16(text);
    std::string back;
    if (veldro::util::utf16_to_utf8(wide, back) && text.find("\xEF\xBF\xBD") == std::string_view::npos &&
        is_valid_utf8(text) && back != text) {
        __builtin_trap();
    }
    // The input read as UTF-16 code units: what converts comes back.
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8U));
    }
    std::string narrow;
    if (veldro::util::utf16_to_utf8(units, narrow) && veldro::util::utf8_to_utf16(narrow) != units) {
        __builtin_trap();
    }
    // Cuts never split a sequence and widths are exact.
    const std::size_t chars = veldro::util::char_count(text);
    const std::string_view first = veldro::util::first_chars(text, chars / 2);
    if (first.size() > text.size() || text.substr(0, first.size()) != first) {
        __builtin_trap();
    }
    if (veldro::util::char_count(veldro::util::fit_to_width(text, 40)) != 40) {
        __builtin_trap();
    }
    veldro::util::to_upper(text);
    return 0;
}
