// Who and where the program runs: for the provenance block of the
// manifests. Every answer is UTF-8; a value the system does not give is
// an empty string.
#pragma once

#include <string>

namespace veldro::platform {

struct ExecutionIdentity {
    std::string os_sysname;  // "Linux", "Windows"
    std::string os_release;  // kernel release or Windows version number
    std::string os_version;
    std::string host;
    std::string arch;
    std::string uid;  // numeric user id, or the user's SID text on Windows
    std::string username;
};

ExecutionIdentity execution_identity();

}  // namespace veldro::platform
