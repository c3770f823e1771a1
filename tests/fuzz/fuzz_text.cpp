// UTF-8 / UTF-16 conversion and the character-counting helpers.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "util/text.h"
#include "util/wtf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = veldro::fuzz::as_text(data, size);
    // UTF-8 to UTF-16 and back: text that needed no replacement character
    // comes back byte for byte.
    const std::u16string wide = veldro::util::utf8_to_utf16(text);
    if (wide.find(u'\uFFFD') == std::u16string::npos && veldro::util::utf16_to_wtf8(wide.data(), wide.size()) != text) {
        __builtin_trap();
    }
    // The input read as UTF-16 code units, lone surrogates and all: every
    // unit comes back.
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8U));
    }
    if (veldro::util::wtf8_to_utf16(veldro::util::utf16_to_wtf8(units.data(), units.size())) != units) {
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
