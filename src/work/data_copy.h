// Copying a file's data: the system's whole-file copy first, the program's
// own buffered copy when that fails. Either way a copy is complete or
// nothing changes at the destination.
#pragma once

#include <functional>
#include <string>
#include <system_error>

#include "platform/fs.h"

namespace veldro::work {

// The program's own copy: reads the source (opened without following a
// link, bypassing access rules the process may bypass) in large buffers
// into a temporary file beside the destination, and renames it over the
// destination only when every byte was read and written. A destination
// name's characters of code 5 become '+'. No error on a complete copy,
// otherwise the reason (the temporary file is then removed and an existing
// destination left as it was). An interrupt recorded during the copy ends
// the run once the temporary file is gone. A read-only destination is
// replaced only with `replace_protected` (-O), and never changed itself.
// With a `feed`, the bytes written go through it and the source's change
// is told (see platform::CopyFeed).
std::error_code copy_file_data(const std::string& source, const std::string& destination,
                               bool replace_protected = false, platform::CopyFeed* feed = nullptr);

// The system's whole-file copy alone (as the retries after a digest
// mismatch use it). No error on a complete copy, else the reason; an
// interrupt ends the run after the cleanup.
std::error_code platform_copy(const std::string& source, const std::string& destination, bool replace_protected = false,
                              platform::CopyFeed* feed = nullptr);

// The two ways in order: the system's copy, and copy_file_data when that
// fails. No error when one of them made a complete copy, else the second
// way's reason. With a feed, `restart` runs before the second way, so that
// the feed can begin its digests anew.
std::error_code copy_two_ways(const std::string& source, const std::string& destination, bool replace_protected = false,
                              platform::CopyFeed* feed = nullptr, const std::function<void()>& restart = {});

}  // namespace veldro::work
