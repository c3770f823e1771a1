#include "copy/pipeline.h"

namespace veldro::copy {

void process_file(RunSettings& /*s*/, const std::string& /*directory*/, const std::string& /*name*/,
                  const platform::FindRecord& /*entry*/) {}
int log_not_copied(RunSettings& s, const std::string& /*path*/, const char* /*reason*/) {
    ++s.counters.files_not_processed;
    return 0;
}

}  // namespace veldro::copy
