// The program banner.
#pragma once

namespace veldro::config {

// Writes the boxed banner with the program name and version to standard error.
void show_banner();

}  // namespace veldro::config
