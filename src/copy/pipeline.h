// The per-file pipeline.
#pragma once

#include <string>

#include "platform/fs.h"
#include "run/run.h"

namespace veldro::copy {

// Decides on, copies, stamps, verifies and logs one file found by the walk.
// `directory` ends with a separator.
void process_file(Run& s, const std::string& directory, const std::string& name, const platform::FindRecord& entry);

// Records a file as not copied with its reason; returns 0.
int log_not_copied(Run& s, const std::string& path, const char* reason);

}  // namespace veldro::copy
