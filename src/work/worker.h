// The worker: the work on one file, whatever road it came by (the tree
// walk on one thread or many, the file list). It reads only the options,
// the file's own FileOutcome and a scratch of its own, so that it can run
// on any thread; every result, failures included, goes into the outcome.
#pragma once

#include "platform/fs.h"
#include "run/options.h"
#include "run/outcome.h"
#include "work/verify.h"

namespace veldro::work {

// Carries out what was decided for the file: the data (or link, or stream
// files), the streams, the digests, their comparison and the copies made
// again, the attributes and the stamp, and the source's times put back. A
// line of the file list (out.listed) takes its own, shorter way.
void work_file(const Options& o, FileOutcome& out, WorkScratch& w);

// The times a copy is to carry: those found, with -Z's replacement for a
// zero date.
platform::FileTimeSet times_for_copy(const Options& o, const platform::FileTimeSet& found);

}  // namespace veldro::work
