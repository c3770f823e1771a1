// The records a later check reads (hash log, DFXML, audit set): any bytes
// are read line by line without a crash, and every record accepted names
// copies below its root by plain relative paths, never one that climbs out.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "verify/record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = veldro::fuzz::as_text(data, size);
    veldro::verify::RecordReader reader;
    for (;;) {
        const std::size_t end = text.find('\n');
        if (!reader.read_line(text.substr(0, end))) {
            return 0;
        }
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    if (!reader.finish()) {
        return 0;
    }
    for (const veldro::verify::RecordedCopy& copy : reader.record().copies) {
        const std::string wrapped = "/" + copy.path + "/";
        if (copy.path.empty() || wrapped.find("/../") != std::string::npos ||
            wrapped.find("/./") != std::string::npos || wrapped.find("//") != std::string::npos ||
            copy.path.front() == '/') {
            __builtin_trap();
        }
    }
    return 0;
}
