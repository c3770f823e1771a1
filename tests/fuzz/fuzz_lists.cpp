// The list-file readers: the first byte of the input chooses the list (file
// list, directory list, type patterns, bypass, exclusions), the rest is the
// file.
#include <cstdint>

#include "config/long_options.h"
#include "config/option_values.h"
#include "config/usage.h"
#include "fuzz_support.h"
#include "plan/pipeline.h"
#include "record/log_set.h"
#include "util/lines.h"
#include "util/run_end.h"
#include "walk/bypass.h"
#include "walk/list_mode.h"

namespace {

void read_file_list(veldro::OwnedRun& s, const std::string& file) {
    veldro::config::name_list_file(s, file);
    veldro::record::open_named_files(s.options, s.files);
    veldro::util::ListReader lines(s.files.list_file, "the file list", false);
    std::string line;
    while (lines.next(line)) {
        if (!veldro::walk::clean_file_list_line(line)) {
            continue;  // a blank line ends nothing
        }
        const std::string source = veldro::paths::make_long_path(line);
        veldro::plan::listed_file_destination_dir("/copy", source);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    veldro::fuzz::enter_sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = veldro::fuzz::as_text(data, size);
    if (text.empty() || !veldro::fuzz::stays_in_sandbox(text)) {
        return -1;
    }
    const int kind = static_cast<unsigned char>(text.front()) % 5;
    text.remove_prefix(1);
    const std::string file = veldro::fuzz::write_work_file("list.txt", text);
    veldro::OwnedRun s;
    try {
        switch (kind) {
            case 0:
                read_file_list(s, file);
                break;
            case 1:
                veldro::walk::read_dirs_list(s, std::fopen(file.c_str(), "r"));
                break;
            case 2:
                veldro::config::read_type_file(s, file);
                break;
            case 3:
                veldro::config::parse_long_option(s, "BYP=" + file);
                for (const std::string& entry : s.selection.bypass_list) {
                    veldro::walk::bypass_covers(entry, veldro::paths::make_long_path("sub"));
                }
                break;
            default:
                veldro::config::parse_long_option(s, "EXC=" + file);
                break;
        }
    } catch (const veldro::util::RunEnd&) {
        // A list refused whole is a normal outcome.
    } catch (const veldro::config::OptionStop&) {
        // So is a type file refused whole.
    }
    veldro::fuzz::finish_input(s);
    return 0;
}
