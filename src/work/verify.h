// The work on a file's data: the copy that reads its source once, the
// digests of both sides, their comparison and the copies made again while
// they differ. Nothing here writes a line or changes the run's state: the
// results go into the file's FileOutcome, which the run report records.
#pragma once

#include <array>
#include <string_view>

#include "ads/streams.h"
#include "hash/file_digest.h"
#include "platform/file_system.h"
#include "platform/fs.h"
#include "run/options.h"
#include "run/outcome.h"

namespace veldro::work {

// How a copy feeds the digests: the source's (`want`, of `selection`), and
// the copy's read back while it is made (`read_back`, of `copy_selection`).
struct FeedPlan {
    bool want = false;
    hash::DigestSelection selection;
    bool read_back = false;
    hash::DigestSelection copy_selection;
};

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
    // A group of copies made at once (see copy_group): each one's copy, its
    // feed, and the digests of its source and of its copy read back.
    std::array<platform::GroupedCopy, platform::most_grouped_copies> group_copies;
    std::array<platform::CopyFeed, platform::most_grouped_copies> group_feeds;
    std::array<FeedPlan, platform::most_grouped_copies> group_plans;
    std::array<hash::DigestFeed, 2 * platform::most_grouped_copies> group_digests;
};

// Copies a file by the two ways, reading its source once: when a digest of
// the source is wanted, the copy goes through the buffer and feeds every
// selected digest from the bytes it writes, into out.source_digests, and
// verify_copy uses those instead of reading the source again. A source
// that changed while it was copied gets error texts for digests. Sets
// out.copied, and notes the copy in out.copy_changed.
void copy_for_verification(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files);

// Whether a file's copy may be made in a group with others (see
// copy_group): a large file whose source and copy are both hashed as the
// copy is made, where the processor hashes eight streams or more at once.
bool groupable(const Options& o, const FileOutcome& out);

// Makes the copies of `count` files (at most platform::most_grouped_copies)
// at once, as copy_for_verification makes each, their digests side by side
// in the processor's lanes; take_group_copy then takes each one's, in order.
void copy_group(const Options& o, FileOutcome* const* outs, std::size_t count, WorkScratch& w,
                platform::FileSystem& files);
// Takes the copy of the group's file `index` as copy_for_verification
// would have made it: the copy the group made (or, when that failed, the
// program's own copy), or the file copied alone when the group did not
// take it.
void take_group_copy(const Options& o, FileOutcome& out, std::size_t index, WorkScratch& w,
                     platform::FileSystem& files);
// Whether the group made the copy of its file `index` (a copy there to
// withdraw should the run end before it is taken).
bool group_made(const WorkScratch& w, std::size_t index);

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
