// The command line: each line of the input is one argument.
#include <cstdint>

#include "config/options.h"
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
    std::vector<std::string> args{"veldro"};
    for (std::string& line : veldro::fuzz::split_lines(text)) {
        args.push_back(std::move(line));
    }
    veldro::OwnedRun s;
    try {
        veldro::config::parse_command_line(s, args);
        veldro::record::open_named_files(s.options, s.files);
    } catch (const veldro::util::RunEnd&) {
        // Refusing the command line is a normal outcome.
    } catch (const veldro::config::OptionStop&) {
        // So is a page asked for, or an option error said later.
    }
    veldro::fuzz::finish_input(s);
    return 0;
}
