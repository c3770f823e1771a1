#include "work/worker.h"

#include "ads/streams.h"
#include "hash/file_digest.h"
#include "platform/fs.h"
#include "times/file_times.h"
#include "work/data_copy.h"

namespace veldro::work {

namespace {

// Copy data: the link, the stream files or the copy of the data.
void copy_data(const Options& o, FileOutcome& out, WorkScratch& w) {
    if (out.streams_only) {
        // The stream files take the place of the copy, and the destination
        // now names their directory.
        out.copied = ads::write_source_streams(o, out, w.streams);
    } else if (out.directory_ready) {
        if (out.is_link) {
            out.copy_error = platform::copy_symbolic_link(out.source, out.destination);
            out.copied = !out.copy_error;
            // Reading a link moves its last-access time: put it back.
            (void)times::restore_source_times(out.source, out.entry.times);
        } else {
            copy_for_verification(o, out, w);
        }
    }
    if (!out.copied) {
        out.failure_detail = out.streams_only       ? "its named streams could not be written"
                             : !out.directory_ready ? "its destination directory could not be made safely"
                             : out.is_link          ? "the link could not be made at the destination"
                                                    : "neither way of copying could write the copy";
    }
}

// Stamp: the copy's times (out.stamped, unless it is settled with them
// already), and the source's times put back.
void stamp_copy(const Options& o, FileOutcome& out) {
    const platform::FindRecord& entry = out.entry;
    // The source gets back exactly the times it was found with: the
    // zero-date replacement is for the copy only.
    if (o.copy.reset_times != 0) {
        if (const std::error_code error = times::restore_source_times(out.source, entry.times)) {
            out.source_times.fail(error);
        }
    }
    if (out.copied && !out.streams_only && out.settled) {
        out.creation_left = out.stamped.creation.ticks != 0;  // its file system keeps its own
    } else if (out.copied && !out.streams_only) {
        const times::Stamp done = times::stamp(out.destination, out.stamped);
        if (done.error) {
            out.copy_times.fail(done.error);
        } else {
            out.creation_left = !done.creation_set && out.stamped.creation.ticks != 0;
        }
    }
}

// The work on a file of the tree: the data, the streams, the verification
// and the stamp.
void work_tree_file(const Options& o, FileOutcome& out, WorkScratch& w) {
    out.stamped = times_for_copy(o, out.entry.times);
    copy_data(o, out, w);
    if (o.copy.ads_extract != 0 && out.stream_count > 0) {
        ads::extract_copy_streams(o, out, w.streams);
    }
    if (out.stream_count > 0 && o.hashing.any()) {
        ads::hash_streams(o, out, w.streams);
    }
    if (o.copy.reset_times != 0) {
        if (out.copied && !out.streams_only) {
            (void)times::set_file_times(out.destination, out.entry.times);
            out.settled = false;
        }
        (void)times::restore_source_times(out.source, out.entry.times);
    }
    // The destination's attributes after a copy: the source's without
    // read-only (which a settled copy already has), or with -O the ones the
    // destination had before.
    if (out.hashed) {
        std::error_code error;
        if (out.copied && !out.settled) {
            error = platform::set_attributes(out.destination, out.entry.attributes & ~platform::attr_readonly);
        }
        if (out.protected_replaced && out.copied) {
            error = platform::set_attributes(out.destination, out.protected_attributes);
        }
        if (error) {
            out.attributes.fail(error);
        }
        // Links are not hashed; with --ADSCHILD the streams were hashed.
        (void)verify_copy(o, out, w);
    }
    stamp_copy(o, out);
}

// The data (or, for a link, the link itself) by the system's copy and,
// when that fails, by the program's own. The source is read once: its
// digest is fed from the bytes the copy writes, and the copy tells whether
// it changed meanwhile.
void copy_listed_data(const Options& o, FileOutcome& out, WorkScratch& w) {
    platform::CopyFeed feed;
    feed.times = &out.entry.times;  // the times it ends with, from the start
    if (out.source_hashed) {
        feed.take = &hash::DigestFeed::take;
        feed.context = &w.feed;
    }
    const auto restart = [&] { w.feed.start(hash::DigestSelection{}); };
    restart();
    switch (out.entry.kind) {
        case platform::EntryKind::symlink:
            out.copy_error = platform::copy_symbolic_link(out.source, out.destination);
            out.copied = !out.copy_error;
            break;
        case platform::EntryKind::special:
            // A FIFO or device is never opened for reading; refused here, not
            // by the system, so without a reason.
            out.copied = false;
            break;
        default:
            out.copy_error =
                copy_two_ways(out.source, out.destination, o.copy.overwrite_protected != 0, &feed, restart);
            out.copied = !out.copy_error;
    }
    out.buffer_missing = feed.buffer_missing;
    out.settled = out.copied && feed.settled;
    out.source_changed = out.copied && feed.source_changed;
    if (!out.copied) {
        out.source_is_folder = platform::is_directory(out.source);
        out.destination_is_folder = platform::is_directory(out.destination);
    } else if (out.source_hashed) {
        w.feed.finish(out.source_digests);
        if (feed.source_changed) {
            hash::put_changed_texts(hash::DigestSelection{}, out.source_digests);
        }
    }
}

// The work on a located file: the copy, the copy's digest, the comparison
// and the stamp. Reads only the options and writes only its outcome.
void work_listed_file(const Options& o, FileOutcome& out, WorkScratch& w) {
    out.source_digests.md5[0] = '\0';
    out.destination_digests.md5[0] = '\0';
    copy_listed_data(o, out, w);
    if (!out.copied) {
        return;
    }
    if (out.destination_hashed) {
        hash::md5_file_digest(out.destination, &out.destination_digests.md5);
        out.settled = false;  // a file system may move its last-access time even so
    }
    out.compared = o.hashing.compare && out.source_hashed && out.destination_hashed;
    if (out.compared) {
        out.match = digests_match(out.source_digests.md5.data(), out.destination_digests.md5.data());
    }
    // -O: the new copy was renamed over a protected one, which was never
    // changed itself, and now takes its attributes.
    if (out.protected_replaced) {
        (void)platform::set_attributes(out.destination, out.protected_attributes);
    }
    if (o.copy.reset_times != 0) {
        (void)times::restore_source_times(out.source, out.entry.times);
    }
    out.creation_left = out.settled || !times::stamp(out.destination, out.entry.times).creation_set;
}

}  // namespace

platform::FileTimeSet times_for_copy(const Options& o, const platform::FileTimeSet& found) {
    platform::FileTimeSet times = found;
    if (o.copy.zero_dates != 0 && times::is_zero_dated(found)) {
        const platform::FileTime replacement =
            o.copy.zero_date_replacement.ticks != 0 ? o.copy.zero_date_replacement : platform::zero_date_time;
        if (found.last_write.ticks == 1) {
            times.last_write = replacement;
        }
        if (found.creation.ticks == 1) {
            times.creation = replacement;
        }
    }
    return times;
}

void work_file(const Options& o, FileOutcome& out, WorkScratch& w) {
    if (out.listed) {
        work_listed_file(o, out, w);
    } else {
        work_tree_file(o, out, w);
    }
}

}  // namespace veldro::work
