#include "work/directory_times.h"

#include "record/file_record.h"

namespace veldro::work {

std::error_code set_directory_times(const std::string& path, const platform::FileTimeSet& times) {
    bool creation_set = false;
    const std::error_code error = platform::set_times(path, times, creation_set);
    if (!error) {
        return {};
    }
    platform::FindRecord record;
    record::directory_times_not_set(path, !platform::lookup_path(path, record));
    return error;
}

std::error_code reset_directory_times(Run& s, const std::string& path) {
    return set_directory_times(path, s.engine.saved_dir_times);
}

}  // namespace veldro::work
