// The temporary files a run leaves behind when it is killed: their names
// tell the process that made them, and whether that process still runs
// tells whether they may be removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace veldro::platform {

// The pattern of the names the program gives its temporary files, for a
// directory search.
inline constexpr std::string_view temporary_name_pattern = ".veldro-*.tmp";

// The process id in a temporary file's name (".veldro-PID-N.tmp", PID and N
// plain decimal numbers); nothing for any other name.
std::optional<std::uint64_t> temporary_file_owner(std::string_view name);

enum class ProcessState : std::uint8_t {
    gone,          // no such process, or one that is not this program
    this_process,  // the process asking
    running,       // this program, running in another process
    unknown,       // the system does not tell
};

// What the process `pid` is now.
ProcessState process_state(std::uint64_t pid);

}  // namespace veldro::platform
