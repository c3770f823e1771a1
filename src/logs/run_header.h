// The run header written at the start of every run.
#pragma once

#include "driver/settings.h"

namespace veldro::logs {

void write_run_header(RunSettings& s);

}  // namespace veldro::logs
