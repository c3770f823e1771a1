// The per-file pipeline: a file's way in stages. Decide (select, then
// place) and record run on the thread that walks; the work (copy, streams,
// verify, stamp) reads only the options, its own FileOutcome and a scratch
// of its own, so that it can run on any thread.
#pragma once

#include <string>

#include "platform/fs.h"
#include "run/outcome.h"
#include "run/run.h"
#include "util/paths.h"
#include "work/verify.h"

namespace veldro::plan {

// ---- the stages ----------------------------------------------------------

// Empties `out` for the file the walk found and fills in what it is.
void begin_outcome(Run& s, const std::string& directory, const std::string& name, const platform::FindRecord& entry,
                   FileOutcome& out);

// Select: the criteria of the file alone (kind, attributes, age, size).
// Leaves out.decision selected, or skipped with its reason.
void select_file(Run& s, FileOutcome& out);

// Place: the destination path, the name rules and clashes, and the tests
// that need the destination (-e, newer, list only, same age). Leaves
// out.decision selected, or settles it.
void place_file(Run& s, const std::string& directory, FileOutcome& out);

// Prepare, after the head of the copy line: the duplicate renaming, the
// protection of an existing copy and the source's named streams (whose
// listing may ask the user). A streams-only mode without streams settles
// out.decision as no_streams.
void prepare_copy(Run& s, FileOutcome& out);

// The copies in flight that a line of the file list may meet when its
// decision looks at the disk: each call waits until those it names are
// done and recorded.
class ListedCopiesInFlight {
public:
    ListedCopiesInFlight() = default;
    ListedCopiesInFlight(const ListedCopiesInFlight&) = delete;
    ListedCopiesInFlight& operator=(const ListedCopiesInFlight&) = delete;
    ListedCopiesInFlight(ListedCopiesInFlight&&) = delete;
    ListedCopiesInFlight& operator=(ListedCopiesInFlight&&) = delete;
    virtual ~ListedCopiesInFlight() = default;

    // A copy in flight to `destination`, or reading it as its source.
    virtual void settle_if_taken(const std::string& destination) = 0;
    // Looking at `source` could meet a copy in flight: the same source
    // (whose times it may be putting back), a name in the directory a copy
    // is written into, or a name below a copy.
    virtual void settle_if_read(const std::string& source) = 0;
    // Making the directory `dir` would meet a copy in flight that stands on
    // its way.
    virtual void settle_if_below(const std::string& dir) = 0;
};

// A line of the file list, decided on the same road: the source it names
// looked up, the directories below the destination made, the criteria and
// the exclusion (`excluded`: its name matched an exclusion pattern), then
// what becomes of it (not located, present, listed only, onto itself, or a
// copy to be made). The destination repeats the source's path below the
// destination root.
void place_listed_file(Run& s, ListedCopiesInFlight& in_flight, bool excluded, FileOutcome& out);

// The destination directory of a listed source file (internal form): the
// destination root joined with the source's directory below its drive (on
// Linux its whole absolute path), with exactly one separator between the
// two and a separator at the end.
std::string listed_file_destination_dir(const std::string& dest_root, const std::string& source,
                                        paths::Style style = paths::native_style);

}  // namespace veldro::plan
