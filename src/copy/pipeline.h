// The per-file pipeline: a file's way in stages. Decide (select, then
// place) and record run on the thread that walks; the work (copy, streams,
// verify, stamp) reads only the options, its own FileOutcome and a scratch
// of its own, so that it can run on any thread.
#pragma once

#include <string>

#include "copy/verify.h"
#include "platform/fs.h"
#include "run/outcome.h"
#include "run/run.h"

namespace veldro::copy {

// ---- the stages ----------------------------------------------------------

// Empties `out` for the file the walk found and fills in what it is.
void begin_outcome(Run& s, const std::string& directory, const std::string& name, const platform::FindRecord& entry,
                   FileOutcome& out);

// Select: the criteria of the file alone (kind, attributes, age, size).
// Leaves out.decision selected, or skipped with its reason.
void select_file(const Run& s, FileOutcome& out);

// Place: the destination path, the name rules and clashes, and the tests
// that need the destination (-e, newer, list only, same age). Leaves
// out.decision selected, or settles it.
void place_file(Run& s, const std::string& directory, FileOutcome& out);

// Prepare, after the head of the copy line: the duplicate renaming, the
// protection of an existing copy and the source's named streams (whose
// listing may ask the user). A streams-only mode without streams settles
// out.decision as no_streams.
void prepare_copy(Run& s, FileOutcome& out);

// Work: the data, the streams, the verification and the stamp.
void work_file(const Options& o, FileOutcome& out, WorkScratch& w);

// Copy data: the link, the stream files or the copy of the data.
void copy_data(const Options& o, FileOutcome& out, WorkScratch& w);

// The times a copy is to carry: those found, with -Z's replacement for a
// zero date.
platform::FileTimeSet times_for_copy(const Options& o, const platform::FileTimeSet& found);

// Stamp: the copy's times (out.stamped, unless it is settled with them
// already), and the source's times put back.
void stamp_copy(const Options& o, FileOutcome& out);

}  // namespace veldro::copy
