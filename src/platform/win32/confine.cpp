#include "platform/fs.h"

namespace veldro::platform {

// Directory opens on Windows do not follow reparse points below the
// destination (see the directory and file opens of this layer).
void confine_writes_below(const std::string& /*root*/) {}

}  // namespace veldro::platform
