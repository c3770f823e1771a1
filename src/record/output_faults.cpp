#include "record/output_faults.h"

#include <cerrno>

#include "platform/system.h"
#include "record/recorder_state.h"
#include "util/paths.h"
#include "util/run_end.h"

namespace veldro::record {

namespace {

std::string name_of(const OutputFaultState& f, std::FILE* stream, const std::string& path) {
    if (!path.empty()) {
        return path;
    }
    const auto found = f.names.find(stream);
    return found != f.names.end() ? found->second : std::string();
}

// errno after a failed call, or none when the call left it unset.
std::error_code last_error(int before) {
    const int now = errno;
    return now != 0 && now != before ? std::error_code(now, std::generic_category()) : std::error_code();
}

bool incomplete(const OutputFaultState& f, const std::string& path) {
    for (const OutputFault& fault : f.faults) {
        if (fault.path == path) {
            return true;
        }
    }
    return false;
}

void note_fault(OutputFaultState& f, const std::string& path, const std::error_code& reason) {
    if (path.empty() || incomplete(f, path)) {
        return;
    }
    const std::string words = reason ? platform::error_text(reason) : std::string("a write failed");
    f.faults.push_back({path, words});
    const std::string shown = paths::shown_path(path);
    std::fprintf(stderr, "\nCan't write %s (%s): the file is incomplete\n", shown.c_str(), words.c_str());
    if (f.also_to != nullptr && !incomplete(f, name_of(f, f.also_to, {}))) {
        std::fprintf(f.also_to, "\nCan't write %s (%s): the file is incomplete\n", shown.c_str(), words.c_str());
    }
}

bool check(OutputFaultState& f, std::FILE* stream) {
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
    note_fault(f, name_of(f, stream, {}), reason);
    return false;
}

}  // namespace

void name_output(OpenFiles& files, std::FILE* stream, const std::string& path) {
    if (stream != nullptr) {
        files.recorder->faults.names[stream] = path;
    }
}

void note_output_fault(OpenFiles& files, const std::string& path, const std::error_code& reason) {
    note_fault(files.recorder->faults, path, reason);
}

void write_output_faults_to(OpenFiles& files, std::FILE* stream) {
    OutputFaultState& f = files.recorder->faults;
    f.also_to = stream;
    for (const OutputFault& fault : f.faults) {
        if (stream != nullptr && fault.path != name_of(f, stream, {})) {
            std::fprintf(stream, "\nCan't write %s (%s): the file is incomplete\n",
                         paths::shown_path(fault.path).c_str(), fault.reason.c_str());
        }
    }
}

bool check_output(OpenFiles& files, std::FILE* stream) {
    return check(files.recorder->faults, stream);
}

void check_every_output(OpenFiles& files) {
    OutputFaultState& f = files.recorder->faults;
    for (const auto& [stream, path] : f.names) {
        (void)check(f, stream);  // said and kept there
    }
}

bool close_output(OutputFaultState& f, std::FILE*& stream, const std::string& path) {
    if (stream == nullptr) {
        return true;
    }
    if (!path.empty()) {
        f.names[stream] = path;
    }
    bool whole = check(f, stream);
    errno = 0;
    if (std::fclose(stream) != 0 && whole) {
        note_fault(f, name_of(f, stream, path), last_error(0));
        whole = false;
    }
    if (f.also_to == stream) {
        f.also_to = nullptr;
    }
    f.names.erase(stream);
    stream = nullptr;
    return whole;
}

bool close_output(OpenFiles& files, std::FILE*& stream, const std::string& path) {
    return close_output(files.recorder->faults, stream, path);
}

bool output_incomplete(const OpenFiles& files, const std::string& path) {
    return incomplete(files.recorder->faults, path);
}

const std::vector<OutputFault>& output_faults(const OpenFiles& files) {
    return files.recorder->faults.faults;
}

int status_with_output_faults(const OpenFiles& files, int status) {
    return files.recorder->faults.faults.empty() || status >= WRITE_ERROR ? status : WRITE_ERROR;
}

}  // namespace veldro::record
