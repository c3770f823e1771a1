// The long-option table: the input is the text after "--".
#include <cstdint>

#include "config/long_options.h"
#include "config/usage.h"
#include "fuzz_support.h"
#include "record/log_set.h"
#include "util/run_end.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    veldro::fuzz::enter_sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = veldro::fuzz::as_text(data, size);
    if (!veldro::fuzz::stays_in_sandbox(text)) {
        return -1;
    }
    veldro::config::match_long_keyword(text);
    veldro::OwnedRun s;
    try {
        veldro::config::parse_long_option(s, text);
        veldro::record::open_named_files(s.options, s.files);
    } catch (const veldro::util::RunEnd&) {
        // Refusing the option is a normal outcome.
    } catch (const veldro::config::OptionStop&) {
        // So is a page asked for, or an option error said later.
    }
    veldro::fuzz::finish_input(s);
    return 0;
}
