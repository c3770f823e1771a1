// The work on a file's data: the copy that reads its source once, the
// digests of both sides, their comparison and the copies made again while
// they differ. Nothing here writes a line or changes the run's state: the
// results go into the file's FileOutcome, which the run report records.
#pragma once

#include <string_view>

#include "ads/streams.h"
#include "hash/file_digest.h"
#include "platform/file_system.h"
#include "platform/fs.h"
#include "run/options.h"
#include "run/outcome.h"

namespace veldro::work {

// What one worker keeps from file to file: the read buffer of every digest,
// the digest feed of the copy and the stream work's buffers. The caller
// owns it; one per thread that does the work.
struct WorkScratch {
    hash::DigestReader reader;
    hash::DigestFeed feed;
    // The source's digests came with the copy: verification does not read
    // the source again.
    bool source_ready = false;
    // The copy's digests, from the copy read back while it was made (a large
    // file, with a thread to spare): verification does not read it again.
    platform::CopyReadBack read_back;
    hash::DigestFeed copy_feed;
    hash::HashSet copy_digests;
    bool copy_ready = false;
    ads::StreamScratch streams;
    // The source looked at again after its work (see check_source_access).
    platform::FindRecord source_now;
};

// Copies a file by the two ways, reading its source once: when a digest of
// the source is wanted, the copy goes through the buffer and feeds every
// selected digest from the bytes it writes, into out.source_digests, and
// verify_copy uses those instead of reading the source again. A source
// that changed while it was copied gets error texts for digests. Sets
// out.copied, and notes the copy in out.copy_changed.
void copy_for_verification(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files);

// Runs for every file whose copy is hashed, whether or not the copy
// succeeded: hashes the sides the options ask for (each file read once,
// whatever digest kinds are selected), compares the MD5 texts and copies
// again up to `retries` times while they differ. A side that is not there
// gets the not-found texts. A copy that failed and is made by a retry is
// copied after all. The verdict is out.compared and out.match: where both
// sides were compared and do not match, the copy is not a verified one.
void verify_copy(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files);

// True when two MD5 texts prove the copy: equal, and neither is an error
// text (two unreadable files do not match each other).
bool digests_match(std::string_view source_md5, std::string_view destination_md5);

// The selection of digest kinds the options ask for, with or without MD5.
hash::DigestSelection selection_for(const HashOptions& h, bool with_md5);

// Any SHA kind is selected.
bool any_sha(const HashOptions& h);

}  // namespace veldro::work
