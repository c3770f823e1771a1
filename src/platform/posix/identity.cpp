#include "platform/identity.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>

namespace veldro::platform {

ExecutionIdentity execution_identity() {
    ExecutionIdentity id;
    struct utsname names {};
    if (uname(&names) == 0) {
        id.os_sysname = names.sysname;
        id.os_release = names.release;
        id.os_version = names.version;
        id.host = names.nodename;
        id.arch = names.machine;
    }
    const uid_t uid = geteuid();
    id.uid = std::to_string(uid);
    std::array<char, 4096> buffer{};
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        id.username = found->pw_name;
    }
    return id;
}

}  // namespace veldro::platform
