#include "record/output_faults.h"

#include <cerrno>
#include <map>

#include "platform/system.h"
#include "util/paths.h"
#include "util/run_end.h"

namespace veldro::record {

namespace {

struct FaultState {
    std::map<std::FILE*, std::string> names;
    std::vector<OutputFault> faults;
    std::FILE* also_to = nullptr;
};

// Never destroyed: a manifest still open when the process ends is closed
// from its own static's destructor, and its close looks here.
FaultState& state() {
    static FaultState* const faults = new FaultState();  // NOLINT(cppcoreguidelines-owning-memory)
    return *faults;
}

std::string name_of(std::FILE* stream, const std::string& path) {
    if (!path.empty()) {
        return path;
    }
    const auto found = state().names.find(stream);
    return found != state().names.end() ? found->second : std::string();
}

// errno after a failed call, or none when the call left it unset.
std::error_code last_error(int before) {
    const int now = errno;
    return now != 0 && now != before ? std::error_code(now, std::generic_category()) : std::error_code();
}

}  // namespace

void name_output(std::FILE* stream, const std::string& path) {
    if (stream != nullptr) {
        state().names[stream] = path;
    }
}

void note_output_fault(const std::string& path, const std::error_code& reason) {
    FaultState& f = state();
    if (path.empty() || output_incomplete(path)) {
        return;
    }
    const std::string words = reason ? platform::error_text(reason) : std::string("a write failed");
    f.faults.push_back({path, words});
    const std::string shown = paths::shown_path(path);
    std::fprintf(stderr, "\nCan't write %s (%s): the file is incomplete\n", shown.c_str(), words.c_str());
    if (f.also_to != nullptr && !output_incomplete(name_of(f.also_to, {}))) {
        std::fprintf(f.also_to, "\nCan't write %s (%s): the file is incomplete\n", shown.c_str(), words.c_str());
    }
}

void write_output_faults_to(std::FILE* stream) {
    FaultState& f = state();
    f.also_to = stream;
    for (const OutputFault& fault : f.faults) {
        if (stream != nullptr && fault.path != name_of(stream, {})) {
            std::fprintf(stream, "\nCan't write %s (%s): the file is incomplete\n",
                         paths::shown_path(fault.path).c_str(), fault.reason.c_str());
        }
    }
}

bool check_output(std::FILE* stream) {
    if (stream == nullptr) {
        return true;
    }
    errno = 0;
    const bool flushed = std::fflush(stream) == 0;
    std::error_code reason = last_error(0);
    if (flushed && std::ferror(stream) == 0) {
        return true;
    }
    if (!reason) {
        // The write that failed is past and its reason with it: the file
        // is told that it is incomplete, and that write gives the reason
        // when it fails too.
        std::clearerr(stream);
        std::fputs("\n*** Writes to this file failed: it is incomplete ***\n", stream);
        errno = 0;
        if (std::fflush(stream) != 0 || std::ferror(stream) != 0) {
            reason = last_error(0);
        }
    }
    note_output_fault(name_of(stream, {}), reason);
    return false;
}

void check_every_output() {
    for (const auto& [stream, path] : state().names) {
        (void)check_output(stream);  // said and kept there
    }
}

bool close_output(std::FILE*& stream, const std::string& path) {
    if (stream == nullptr) {
        return true;
    }
    if (!path.empty()) {
        name_output(stream, path);
    }
    bool whole = check_output(stream);
    errno = 0;
    if (std::fclose(stream) != 0 && whole) {
        note_output_fault(name_of(stream, path), last_error(0));
        whole = false;
    }
    FaultState& f = state();
    if (f.also_to == stream) {
        f.also_to = nullptr;
    }
    f.names.erase(stream);
    stream = nullptr;
    return whole;
}

bool output_incomplete(const std::string& path) {
    for (const OutputFault& fault : state().faults) {
        if (fault.path == path) {
            return true;
        }
    }
    return false;
}

const std::vector<OutputFault>& output_faults() {
    return state().faults;
}

int status_with_output_faults(int status) {
    return state().faults.empty() || status >= WRITE_ERROR ? status : WRITE_ERROR;
}

}  // namespace veldro::record
