#include "logs/log_set.h"

namespace veldro::logs {

void open_log_set(RunSettings& /*s*/, const std::string& /*value*/, bool /*apply_marker*/) {}
void open_default_log(RunSettings& /*s*/, const std::string& /*name*/) {}
void open_error_file(RunSettings& /*s*/, const std::string& /*name*/) {}
void make_log_directory(const std::string& /*log_path*/) {}

}  // namespace veldro::logs
