// The run's own outputs (the logs, the hash log and its companions, the
// manifests, the report and the seal) that could not be written whole. A
// failed write, flush or close is said on the console with the file and
// the system's reason, once per file, and goes into the error log while
// that can still be written; the run then ends with 9 at the least, the
// seal leaves the file out and the report lists it.
#pragma once

#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "run/state.h"

namespace veldro::record {

struct OutputFault {
    std::string path;    // as the run opened it
    std::string reason;  // the system's words
};

// Names a stream the run writes, for what a failure on it says.
void name_output(OpenFiles& files, std::FILE* stream, const std::string& path);
// Flushes the stream and notes a failure on it (an earlier lost write
// included). True when all written so far reached the file.
bool check_output(OpenFiles& files, std::FILE* stream);
// check_output on every stream named and still open: the logs, the hash
// log and its companions, the manifests.
void check_every_output(OpenFiles& files);
// The same, then closes the stream and forgets it. `path` names a stream
// that was not named when it was opened.
bool close_output(OpenFiles& files, std::FILE*& stream, const std::string& path = {});
// A failure on a file the run writes, found without its stream; an empty
// reason stands for one the system did not give.
void note_output_fault(OpenFiles& files, const std::string& path, const std::error_code& reason);
// Where the failures found from now on are also written (null: nowhere).
void write_output_faults_to(OpenFiles& files, std::FILE* stream);

bool output_incomplete(const OpenFiles& files, const std::string& path);
const std::vector<OutputFault>& output_faults(const OpenFiles& files);
// The exit status a run with `status` ends with, its outputs considered.
int status_with_output_faults(const OpenFiles& files, int status);

}  // namespace veldro::record
