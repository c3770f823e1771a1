#include "logs/run_header.h"

namespace veldro::logs {

void write_run_header(RunSettings& /*s*/) {}

}  // namespace veldro::logs
