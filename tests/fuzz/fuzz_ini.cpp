// The INI reader: the input is the file; its first byte chooses the own
// file or the [BASE] section of the shared one.
#include <cstdint>

#include "config/ini.h"
#include "fuzz_support.h"
#include "util/run_end.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    veldro::fuzz::enter_sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = veldro::fuzz::as_text(data, size);
    if (text.empty() || !veldro::fuzz::stays_in_sandbox(text)) {
        return -1;
    }
    const auto kind = (text.front() & 1) != 0 ? veldro::config::IniFileKind::shared : veldro::config::IniFileKind::own;
    text.remove_prefix(1);
    const std::string file = veldro::fuzz::write_work_file("fuzz.ini", text);
    veldro::OwnedRun s;
    try {
        veldro::config::read_ini_from(s, file, kind);
    } catch (const veldro::util::RunEnd&) {
        // A refused value is a normal outcome.
    }
    veldro::fuzz::finish_input(s);
    return 0;
}
