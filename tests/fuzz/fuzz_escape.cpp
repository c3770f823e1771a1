// The escaped form of names in the console and the logs: any bytes escape
// to text without line ends, bars or invalid UTF-8, and unescaping gives
// the name back byte for byte.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name = veldro::fuzz::as_text(data, size);
    const std::string escaped = veldro::util::escape_name(name);
    for (const char c : escaped) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '|') {
            __builtin_trap();
        }
    }
    const std::optional<std::string> back = veldro::util::unescape_name(escaped);
    if (!back || *back != name) {
        __builtin_trap();
    }
    // Any text at all: unescaping either refuses it or gives a name whose
    // escaped form unescapes to the same name.
    if (const std::optional<std::string> read = veldro::util::unescape_name(name)) {
        const std::optional<std::string> again = veldro::util::unescape_name(veldro::util::escape_name(*read));
        if (!again || *again != *read) {
            __builtin_trap();
        }
    }
    return 0;
}
