#include "walk/list_mode.h"

namespace veldro::walk {

int run_file_list(RunSettings& /*s*/) { return 0; }
void read_dirs_list(RunSettings& /*s*/, std::FILE* /*file*/) {}

}  // namespace veldro::walk
