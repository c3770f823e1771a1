#include "work/verify.h"

#include "hash/md5_lanes.h"
#include "platform/fs.h"
#include "times/file_times.h"
#include "work/data_copy.h"
#include "work/worker.h"

namespace veldro::work {

namespace {

// Files from this size on may be copied in a group: a smaller one is read
// back whole once it has its name.
constexpr std::uint64_t group_from_bytes = std::uint64_t{4} << 20U;

// Hashes one side; a file whose open failed because it is not there says
// so instead of passing for a locked one.
void hash_side(platform::FileSystem& files, hash::DigestReader& reader, const std::string& path,
               const hash::DigestSelection& selection, hash::HashSet& out, bool from_device = false) {
    if (reader.hash_file(files, path, selection, out, from_device) == hash::DigestStatus::open_failed &&
        !files.exists(path)) {
        hash::put_not_found_texts(selection, out);
    }
}

// A digest of the source is wanted: for the hash log, or only for the
// SHA texts of the --UNICODE record.
bool source_digests_wanted(const HashOptions& h, bool unicode_record) {
    return h.hash_sources || (any_sha(h) && unicode_record);
}

void restart_feeds(const FeedPlan& plan, hash::DigestFeed& source, hash::DigestFeed& copy) {
    if (plan.want) {
        source.start(plan.selection);
    }
    if (plan.read_back) {
        copy.start(plan.copy_selection);
    }
}

// Sets up how a copy feeds the digests: with a digest of the source
// wanted, the copy goes through the buffer and every selected digest is fed
// from the bytes it writes (into `source`), so that the source is read
// once; where it pays, the copy is read back while it is made (into `copy`).
FeedPlan plan_feed(const Options& o, const FileOutcome& out, WorkScratch& w, platform::CopyFeed& feed,
                   hash::DigestFeed& source, hash::DigestFeed& copy) {
    const HashOptions& h = o.hashing;
    FeedPlan plan;
    plan.want = source_digests_wanted(h, out.unicode_record);
    plan.selection = selection_for(h, h.hash_sources);
    // The copy takes its name with the times and the writable attribute it
    // is to end with.
    feed.times = &out.stamped;
    feed.writable = true;
    if (plan.want) {
        feed.take = &hash::DigestFeed::take;
        feed.context = &source;
    }
    // A large copy is read back while it is made: where the processor hashes
    // several streams at once, each piece as soon as it is written, hashed
    // beside the source's (with threads to spare, by the partner thread
    // while this one copies the next piece); otherwise, with threads to
    // spare, by a thread of its own. Where the lanes are, a small copy is
    // read back on this thread too, as soon as it has its name, hashed
    // beside the source. Neither when the copy is to be read from its
    // device, which only the finished copy can be.
    const bool follow = h.hash_copies && !h.verify_media;
    const bool paired = follow && plan.want && hash::md5_lane_width() > 1;
    plan.read_back = follow && (paired || o.threads > 1);
    plan.copy_selection = selection_for(h, true);
    if (plan.read_back) {
        feed.take_copy = &hash::DigestFeed::take;
        feed.copy_context = &copy;
        feed.read_back = o.threads > 1 ? &w.read_back : nullptr;
        feed.take_both = paired ? &hash::DigestFeed::take_both : nullptr;
    }
    restart_feeds(plan, source, copy);
    return plan;
}

// After a copy: what it tells goes into the outcome, and the digests it fed
// are finished (the source's into the outcome, the copy's into the
// scratch). The copy also tells whether the source changed meanwhile: its
// digests are then error texts, so that such a copy never passes for a
// verified one. True when the copy is made.
bool take_copy(const Options& o, FileOutcome& out, WorkScratch& w, platform::CopyFeed& feed, const FeedPlan& plan,
               hash::DigestFeed& source, hash::DigestFeed& copy, const std::error_code& error, bool two_ways) {
    const bool copied = !error;
    out.settled = copied && feed.settled;
    out.access_unprotected = out.access_unprotected || feed.access_unprotected;
    if (copied) {
        out.owner_kept = feed.owner_kept;
    }
    if (copied) {
        take_source_as_opened(o, out, feed);
    }
    out.buffer_missing = out.buffer_missing || feed.buffer_missing;
    out.copy_changed.push_back(copied && feed.source_changed);
    if (two_ways) {
        out.copy_error = error;
    }
    if (!copied) {
        return false;
    }
    if (feed.copy_read_back) {
        copy.finish(w.copy_digests);
        w.copy_ready = true;
    }
    out.source_changed = feed.source_changed;
    if (plan.want) {
        source.finish(out.source_digests);
        if (feed.source_changed) {
            hash::put_changed_texts(plan.selection, out.source_digests);
        }
        w.source_ready = true;
    }
    return true;
}

// Copies once, the digests fed as plan_feed sets them up.
bool copy_feeding(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files, bool two_ways) {
    platform::CopyFeed feed;
    const FeedPlan plan = plan_feed(o, out, w, feed, w.feed, w.copy_feed);
    w.copy_ready = false;
    const bool replace = o.copy.overwrite_protected != 0;
    const std::error_code error = two_ways ? copy_two_ways(files, out.source, out.destination, replace, &feed,
                                                           [&] { restart_feeds(plan, w.feed, w.copy_feed); })
                                           : platform_copy(files, out.source, out.destination, replace, &feed);
    return take_copy(o, out, w, feed, plan, w.feed, w.copy_feed, error, two_ways);
}

// The copy's digests: those read back while it was made, or from reading
// it now.
void hash_copy(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    if (w.copy_ready) {
        out.destination_digests = w.copy_digests;
        w.copy_ready = false;
        return;
    }
    hash_side(files, w.reader, out.destination, selection_for(o.hashing, true), out.destination_digests,
              o.hashing.verify_media);
    out.settled = false;  // a file system may move its last-access time even so
}

void copy_again(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    int attempt = 1;
    for (; attempt <= o.hashing.retries &&
           !digests_match(out.source_digests.md5.data(), out.destination_digests.md5.data());
         ++attempt) {
        // The same road as every copy: a temporary beside the destination,
        // renamed over it only when complete, the source read once. A
        // failure leaves the destination (and the source's digests) as they
        // were and the next attempt follows.
        if (copy_feeding(o, out, w, files, false) && !out.copied) {
            // The first copy failed and this one is made: the file is copied
            // after all, and what failed before is no reason any more.
            out.copied = true;
            out.copy_error.clear();
            out.failure_detail = nullptr;
        }
        hash_copy(o, out, w, files);
    }
    out.retries = attempt - 1;
    if (attempt > 1 && o.copy.reset_times != 0) {
        // The stamp at the end of the work writes both again and records
        // how that ended.
        out.settled = false;
        bool creation_set = false;
        if (const std::error_code error =
                times::set_file_times(files, out.destination, out.entry.times, creation_set)) {
            out.copy_times.fail(error);
        }
        if (const std::error_code error = times::restore_source_times(files, out.source, out.entry.times)) {
            out.source_times.fail(error);
        }
    }
}

}  // namespace

hash::DigestSelection selection_for(const HashOptions& h, bool with_md5) {
    hash::DigestSelection selection;
    selection.md5 = with_md5;
    selection.sha1 = h.sha1 != 0;
    selection.sha256 = h.sha256 != 0;
    selection.sha384 = h.sha384 != 0;
    selection.sha512 = h.sha512 != 0;
    return selection;
}

bool any_sha(const HashOptions& h) {
    return h.sha1 != 0 || h.sha256 != 0 || h.sha384 != 0 || h.sha512 != 0;
}

bool groupable(const Options& o, const FileOutcome& out) {
    const HashOptions& h = o.hashing;
    return !out.listed && !out.streams_only && !out.is_link && out.directory_ready && h.hash_copies &&
           !h.verify_media && source_digests_wanted(h, out.unicode_record) && hash::md5_lane_width() >= 8 &&
           out.entry.size >= group_from_bytes;
}

void copy_group(const Options& o, FileOutcome* const* outs, std::size_t count, WorkScratch& w,
                platform::FileSystem& files) {
    count = std::min(count, platform::most_grouped_copies);
    for (std::size_t i = 0; i < count; ++i) {
        FileOutcome& out = *outs[i];
        platform::CopyFeed& feed = w.group_feeds.at(i);
        feed = platform::CopyFeed{};
        w.group_plans.at(i) = plan_feed(o, out, w, feed, w.group_digests.at(2 * i), w.group_digests.at(2 * i + 1));
        feed.read_back = nullptr;  // the group reads each copy back itself
        platform::GroupedCopy& grouped = w.group_copies.at(i);
        grouped = platform::GroupedCopy{};
        grouped.source = &out.source;
        grouped.destination = &out.destination;
        grouped.feed = &feed;
    }
    // With threads to spare, each round's digests are computed by the
    // partner thread while the next round is copied.
    files.copy_whole_group(w.group_copies.data(), count, o.copy.overwrite_protected != 0, &hash::DigestFeed::take_many,
                           o.threads > 1 ? &w.read_back : nullptr);
}

void take_group_copy(const Options& o, FileOutcome& out, std::size_t index, WorkScratch& w,
                     platform::FileSystem& files) {
    w.source_ready = false;
    out.source_changed = false;
    const platform::GroupedCopy& made = w.group_copies.at(index);
    if (!made.grouped) {
        out.copied = copy_feeding(o, out, w, files, true);
        return;
    }
    platform::CopyFeed& feed = w.group_feeds.at(index);
    hash::DigestFeed& source = w.group_digests.at(2 * index);
    hash::DigestFeed& copy = w.group_digests.at(2 * index + 1);
    const FeedPlan& plan = w.group_plans.at(index);
    w.copy_ready = false;
    feed.read_back = o.threads > 1 ? &w.read_back : nullptr;  // for the second way
    const std::error_code error = copy_second_way(files, out.source, out.destination, o.copy.overwrite_protected != 0,
                                                  &feed, made.error, [&] { restart_feeds(plan, source, copy); });
    out.copied = take_copy(o, out, w, feed, plan, source, copy, error, true);
}

bool group_made(const WorkScratch& w, std::size_t index) {
    const platform::GroupedCopy& made = w.group_copies.at(index);
    return made.grouped && !made.error;
}

void copy_for_verification(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    w.source_ready = false;
    out.source_changed = false;
    out.copied = copy_feeding(o, out, w, files, true);
}

bool digests_match(std::string_view source_md5, std::string_view destination_md5) {
    if (source_md5.find("ERROR") != std::string_view::npos || destination_md5.find("ERROR") != std::string_view::npos) {
        return false;
    }
    return !source_md5.empty() && source_md5 == destination_md5;
}

void verify_copy(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    const HashOptions& h = o.hashing;
    const bool source_ready = w.source_ready && out.copied;
    w.source_ready = false;
    if (!source_ready) {
        out.source_digests.clear();
    }
    out.destination_digests.clear();
    out.source_hashed = h.hash_sources;
    out.destination_hashed = h.hash_copies;
    out.compared = h.compare;

    // The source is read once, for MD5 and every selected SHA kind; the SHA
    // texts alone are wanted when they only go to the --UNICODE record.
    if (source_digests_wanted(h, out.unicode_record) && !source_ready) {
        hash_side(files, w.reader, out.source, selection_for(h, h.hash_sources), out.source_digests);
        out.access_unprotected = true;  // a read of its own: looked at again at the end
    }
    if (!out.copied) {
        w.copy_ready = false;
    }
    if (h.hash_copies) {
        hash_copy(o, out, w, files);
        if (h.compare && h.retries > 0) {
            copy_again(o, out, w, files);
        }
    }
    out.match = digests_match(out.source_digests.md5.data(), out.destination_digests.md5.data());
}

}  // namespace veldro::work
