// The worker: the work on one file, whatever road it came by (the tree
// walk on one thread or many, the file list). It reads only the options,
// the file's own FileOutcome and a scratch of its own, so that it can run
// on any thread; every result, failures included, goes into the outcome.
#pragma once

#include "platform/file_system.h"
#include "platform/fs.h"
#include "run/options.h"
#include "run/outcome.h"
#include "work/verify.h"

namespace veldro::work {

// Carries out what was decided for the file: the data (or link, or stream
// files), the streams, the digests, their comparison and the copies made
// again, the attributes and the stamp, and the source's times put back. A
// line of the file list (out.listed) takes its own, shorter way.
void work_file(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files);

// Carries out what was decided for several files at once, each of them
// groupable (see work::groupable): their copies made together, then each
// one's streams, digests, comparison, attributes and stamp, in order, as
// work_file does. `done` counts the files whose work is complete, also
// when the end of the run cuts the rest short (thrown as from work_file);
// a later file whose copy the group made is then marked copied, so that
// the end withdraws it rather than leave it unrecorded.
void work_file_group(const Options& o, FileOutcome* const* outs, std::size_t count, WorkScratch& w,
                     platform::FileSystem& files, std::size_t& done);

// The times a copy is to carry: those found, with -Z's replacement for a
// zero date.
platform::FileTimeSet times_for_copy(const Options& o, const platform::FileTimeSet& found);

// After a copy: the size and times of the source as the copy opened it
// (told by `feed`) become the file's, recorded and put on the copy. A
// source whose size or last-write time differ from the look that chose it
// changed in between, and `feed` then says so like a change while copying.
void take_source_as_opened(const Options& o, FileOutcome& out, platform::CopyFeed& feed);

// After the work: a source read without the protection of its last-access
// time, or whose times could not be put back, is looked at again, and
// out.access_moved says whether its last-access time is still the one it
// was found with.
void check_source_access(FileOutcome& out, WorkScratch& w, platform::FileSystem& files);

}  // namespace veldro::work
