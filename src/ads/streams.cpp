#include "ads/streams.h"

namespace veldro::ads {

int enumerate_streams(RunSettings& /*s*/, const std::string& /*path*/) { return 0; }
bool write_source_streams(RunSettings& /*s*/, const std::string& /*source_path*/,
                          std::string& /*destination_file_path*/, const platform::FindRecord& /*entry*/) {
    return false;
}
void extract_copy_streams(RunSettings& /*s*/, const std::string& /*source_path*/,
                          const std::string& /*destination_file_path*/, const platform::FindRecord& /*entry*/) {}
void hash_streams(RunSettings& /*s*/, const std::string& /*source_path*/, const std::string& /*destination_file_path*/,
                  const platform::FindRecord& /*entry*/) {}

}  // namespace veldro::ads
