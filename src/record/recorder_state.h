// The recorder's own state for one run, owned by the run (its open files
// hold it). Each part is changed only by the file named beside it.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hash/file_digest.h"
#include "record/manifests.h"
#include "record/output_faults.h"
#include "record/report.h"

namespace veldro::record {

// output_faults.cpp: the run's outputs by stream, and those not written whole.
struct OutputFaultState {
    std::map<std::FILE*, std::string> names;
    std::vector<OutputFault> faults;
    std::FILE* also_to = nullptr;
};
// close_output for a writer that holds the fault state itself (a manifest
// writer, which may be closed while the state is being left).
bool close_output(OutputFaultState& faults, std::FILE*& stream, const std::string& path = {});

// manifests.cpp: the run's manifests and the file in work. A record is
// written once: a second report for a file already written changes nothing.
struct ManifestState {
    std::vector<std::unique_ptr<ManifestWriter>> writers;
    bool copy_digests_wanted = false;
    hash::DigestSelection kinds;
    std::unique_ptr<hash::DigestReader> reader;
    bool in_work = false;
    bool source_changed = false;  // the copy of the file in work saw its source change
    FileRecord record;
    std::string last_written;
    std::vector<std::string> written_files;
    std::vector<SealEntry> seal_entries;
    std::string seal_path;
    std::FILE* seal_stream = nullptr;  // created, filled at the end
    std::string seal_file;             // the name it was created under
    bool seal_tried = false;
};

// report.cpp: what the report keeps until it is written.
struct ReportState {
    ReportTally tally;
    bool opened = false;
    bool written = false;
    std::string path;  // the name the report was created under
};

struct RecorderState {
    // First, so that it is left last: a manifest writer still open when the
    // state goes is closed then, and its close looks here.
    OutputFaultState faults;
    ManifestState manifests;
    ReportState report;
};

}  // namespace veldro::record
