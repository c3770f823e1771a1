#include "driver/run.h"

namespace veldro::driver {

int run_program(const std::vector<std::string>& /*args*/) { return 0; }

}  // namespace veldro::driver
