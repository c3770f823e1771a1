// Hashing of source and copy, the verdict, retries and the hash log.
#pragma once

#include <string>

#include "driver/settings.h"
#include "platform/fs.h"

namespace veldro::copy {

// Runs for every file that reached the copy road, whether or not the copy
// succeeded: hashes, compares, retries, writes the hash log, the copied-log
// digest field and the --UNICODE record.
void verify_copy(RunSettings& s, const std::string& source_path, const std::string& dest_path,
                 const platform::FileTimeSet& source_times);

}  // namespace veldro::copy
