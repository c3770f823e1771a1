#include "logs/log_set.h"

namespace veldro::logs {

LogValue read_log_value(std::string_view value, LogSource /*source*/) { return LogValue{std::string(value)}; }
unsigned read_error_mask(std::string_view /*text*/) { return 0; }
void open_log_set(RunSettings& /*s*/, const std::string& /*value*/, bool /*apply_marker*/) {}
bool open_long_log_option(RunSettings& /*s*/, const std::string& /*value*/) { return true; }
bool apply_error_mask_option(RunSettings& /*s*/, const std::string& /*text*/) { return true; }
void open_log_members(RunSettings& /*s*/, const std::string& /*base_name*/, unsigned /*mask*/) {}
void open_members_for_mask(RunSettings& /*s*/, unsigned /*mask*/) {}
bool open_default_log(RunSettings& /*s*/, const std::string& /*name*/) { return false; }
void open_default_log_from_environment(RunSettings& /*s*/) {}
void open_error_file(RunSettings& /*s*/, const std::string& /*name*/) {}
void open_hash_log(RunSettings& /*s*/, const std::string& /*name*/, bool /*with_companions*/) {}
void close_log_set(RunSettings& /*s*/) {}
std::string member_name(const std::string& base_name, unsigned /*bit*/) { return base_name; }
const char* member_suffix(unsigned /*bit*/) { return ""; }
std::string hash_companion_name(const std::string& hash_log_name, const char* /*suffix*/) { return hash_log_name; }
std::string apply_date_marker(const std::string& name) { return name; }
std::string apply_date_marker(const std::string& name, int /*year*/, int /*month*/, int /*day*/) { return name; }
void make_log_directory(const std::string& /*log_path*/) {}
void prepare_append_file(const std::string& /*path*/) {}
void create_abort_marker(const RunSettings& /*s*/) {}
void remove_abort_marker(const RunSettings& /*s*/) {}
void write_unicode_text(std::FILE* /*stream*/, std::string_view /*utf8*/) {}

}  // namespace veldro::logs
