// The per-file pipeline: a file's way in stages. Decide (select, then
// place) and record run on the thread that walks; the work (copy, streams,
// verify, stamp) reads only the options, its own FileOutcome and a scratch
// of its own, so that it can run on any thread.
#pragma once

#include <string>

#include "platform/fs.h"
#include "run/outcome.h"
#include "run/run.h"
#include "work/verify.h"

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

}  // namespace veldro::copy
