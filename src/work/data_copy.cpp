#include "work/data_copy.h"

#include "util/run_end.h"

namespace veldro::work {

namespace {

std::error_code ended_if_interrupted(const std::error_code& error) {
    if (platform::is_copy_interrupted(error)) {
        check_interrupt();
    }
    return error;
}

}  // namespace

std::error_code copy_file_data(platform::FileSystem& files, const std::string& source, const std::string& destination,
                               bool replace_protected, platform::CopyFeed* feed) {
    return ended_if_interrupted(files.copy_buffered(source, destination, replace_protected, feed));
}

std::error_code platform_copy(platform::FileSystem& files, const std::string& source, const std::string& destination,
                              bool replace_protected, platform::CopyFeed* feed) {
    return ended_if_interrupted(files.copy_whole(source, destination, replace_protected, feed));
}

std::error_code copy_second_way(platform::FileSystem& files, const std::string& source, const std::string& destination,
                                bool replace_protected, platform::CopyFeed* feed, const std::error_code& first,
                                const std::function<void()>& restart) {
    if (!ended_if_interrupted(first)) {
        return {};
    }
    if (restart) {
        restart();  // the bytes the failed way fed are not the copy's
    }
    return copy_file_data(files, source, destination, replace_protected, feed);
}

std::error_code copy_two_ways(platform::FileSystem& files, const std::string& source, const std::string& destination,
                              bool replace_protected, platform::CopyFeed* feed, const std::function<void()>& restart) {
    const std::error_code first = files.copy_whole(source, destination, replace_protected, feed);
    return copy_second_way(files, source, destination, replace_protected, feed, first, restart);
}

}  // namespace veldro::work
