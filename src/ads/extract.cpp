#include "ads/streams.h"

namespace veldro::ads {

bool write_source_streams(RunSettings& /*s*/, const std::string& /*source_path*/,
                          std::string& /*destination_file_path*/, const platform::FindRecord& /*entry*/) {
    return false;
}
int extract_copy_streams(RunSettings& /*s*/, const std::string& /*source_path*/,
                         const std::string& /*destination_file_path*/, const platform::FindRecord& /*entry*/) {
    return 0;
}
void hash_streams(RunSettings& /*s*/, const std::string& /*source_path*/, const std::string& /*destination_file_path*/,
                  const platform::FindRecord& /*entry*/) {}
std::string stream_file_path(std::string_view file_path, std::string_view stream_name) {
    return std::string(file_path) + "[" + std::string(stream_name) + "]";
}
std::string stream_display_text(std::string_view file_path, std::string_view stream_name) {
    return std::string(file_path) + ":" + std::string(stream_name);
}

}  // namespace veldro::ads
