// Copying a file's data: the system's whole-file copy first, the program's
// own buffered copy when that fails. Either way a copy is complete or
// nothing changes at the destination.
#pragma once

#include <functional>
#include <string>
#include <system_error>

#include "platform/file_system.h"
#include "platform/fs.h"

namespace veldro::work {

// The program's own copy (see platform::copy_buffered) through `files`. An
// interrupt recorded during the copy ends the run once the temporary file
// is gone.
std::error_code copy_file_data(platform::FileSystem& files, const std::string& source, const std::string& destination,
                               bool replace_protected = false, platform::CopyFeed* feed = nullptr);

// The system's whole-file copy alone (as the retries after a digest
// mismatch use it). No error on a complete copy, else the reason; an
// interrupt ends the run after the cleanup.
std::error_code platform_copy(platform::FileSystem& files, const std::string& source, const std::string& destination,
                              bool replace_protected = false, platform::CopyFeed* feed = nullptr);

// The two ways in order: the system's copy, and copy_file_data when that
// fails. No error when one of them made a complete copy, else the second
// way's reason. With a feed, `restart` runs before the second way, so that
// the feed can begin its digests anew.
std::error_code copy_two_ways(platform::FileSystem& files, const std::string& source, const std::string& destination,
                              bool replace_protected = false, platform::CopyFeed* feed = nullptr,
                              const std::function<void()>& restart = {});

// The second of the two ways, after the first ended with `first` (made
// elsewhere, as a group makes it): nothing when that made the copy; an
// interrupt ends the run; otherwise `restart`, then copy_file_data.
std::error_code copy_second_way(platform::FileSystem& files, const std::string& source, const std::string& destination,
                                bool replace_protected, platform::CopyFeed* feed, const std::error_code& first,
                                const std::function<void()>& restart);

}  // namespace veldro::work
