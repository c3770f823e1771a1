// The date and number readers: days or dates as -g and -l take them,
// sizes, whole numbers and switches.
#include <cstdint>
#include <string>

#include "config/option_values.h"
#include "fuzz_support.h"
#include "util/dates.h"
#include "util/numbers.h"
#include "util/run_end.h"

namespace {

void check_date(std::string_view text) {
    const auto date = veldro::config::parse_date_text(text);
    if (!date) {
        return;
    }
    const int year = veldro::config::normalise_year(date->year);
    if (veldro::util::is_valid_date(date->month, date->day, year)) {
        veldro::util::day_of_year(date->month, date->day, year);
        veldro::util::day_number(date->month, date->day, year);
        veldro::util::calendar_time(date->month, date->day, year, 0, 0, 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = veldro::fuzz::as_text(data, size);
    const auto size_value = veldro::util::parse_size(text);
    const auto integer = veldro::util::parse_integer(text);
    if (size_value && *size_value < 0) {
        __builtin_trap();
    }
    // A size without a suffix is the same number read as an integer.
    if (size_value && !text.empty() && text.back() >= '0' && text.back() <= '9' && integer != size_value) {
        __builtin_trap();
    }
    veldro::util::parse_int(text);
    veldro::util::parse_switch(text);
    try {
        check_date(text);
        veldro::OwnedRun s;
        s.progress.start_time = 1700000000;
        veldro::config::apply_age_value(
            s, (size & 1) != 0 ? veldro::config::AgeBound::older : veldro::config::AgeBound::younger, text);
    } catch (const veldro::util::RunEnd&) {
        // A refused date or number is a normal outcome.
    }
    return 0;
}
