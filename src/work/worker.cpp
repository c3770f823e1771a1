#include "work/worker.h"

#include "ads/streams.h"
#include "hash/file_digest.h"
#include "platform/fs.h"
#include "platform/live_status.h"
#include "times/file_times.h"
#include "util/run_end.h"
#include "util/text.h"
#include "work/data_copy.h"

namespace veldro::work {

namespace {

void note_copy_failure(FileOutcome& out);

// Copy data: the link, the stream files or the copy of the data.
void copy_data(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    if (out.streams_only) {
        // The stream files take the place of the copy, and the destination
        // now names their directory.
        out.copied = ads::write_source_streams(o, out, w.streams);
    } else if (out.directory_ready) {
        if (out.is_link) {
            out.copy_error = files.copy_link(out.source, out.destination);
            out.copied = !out.copy_error;
            // Reading a link moves its last-access time: put it back.
            if (const std::error_code error = times::restore_source_times(files, out.source, out.entry.times)) {
                out.source_times.fail(error);
            }
        } else {
            copy_for_verification(o, out, w, files);
        }
    }
    note_copy_failure(out);
}

// Why a copy that was not made failed, in the words of the failure's record.
void note_copy_failure(FileOutcome& out) {
    if (!out.copied) {
        out.failure_detail = out.streams_only         ? "its named streams could not be written"
                             : out.destination_unseen ? "what stands at its destination could not be looked at"
                             : !out.directory_ready   ? "its destination directory could not be made safely"
                             : out.is_link            ? "the link could not be made at the destination"
                                                      : "neither way of copying could write the copy";
    }
}

// Stamp: the copy's times (out.stamped, unless it is settled with them
// already), and the source's times put back. These are the last writes of
// either: what they leave is what is recorded, whatever an earlier one of
// the work met.
void stamp_copy(const Options& o, FileOutcome& out, platform::FileSystem& files) {
    const platform::FindRecord& entry = out.entry;
    // The source gets back exactly the times it was found with: the
    // zero-date replacement is for the copy only.
    if (o.copy.reset_times != 0) {
        out.source_times = StepResult{};
        if (const std::error_code error = times::restore_source_times(files, out.source, entry.times)) {
            out.source_times.fail(error);
        }
    }
    if (out.copied && !out.streams_only && out.settled) {
        out.creation_left = out.stamped.creation.ticks != 0;  // its file system keeps its own
    } else if (out.copied && !out.streams_only) {
        const times::Stamp done = times::stamp(files, out.destination, out.stamped);
        out.copy_times = StepResult{};
        if (done.error) {
            out.copy_times.fail(done.error);
        } else {
            out.creation_left = !done.creation_set && out.stamped.creation.ticks != 0;
        }
    }
}

// The destination's attributes after a copy: the source's without
// read-only (which a settled copy already has), or with -O the ones the
// destination had before. `settled` tells whether the copy already has them.
void set_copy_attributes(FileOutcome& out, platform::FileSystem& files, bool settled) {
    std::error_code error;
    if (!settled) {
        error = files.set_attributes(out.destination, out.entry.attributes & ~platform::attr_readonly);
    }
    if (out.protected_replaced) {
        error = files.set_attributes(out.destination, out.protected_attributes);
    }
    if (error) {
        out.attributes.fail(error);
    }
}

// The work on a file of the tree after its data: the streams, the
// verification and the stamp.
void work_after_data(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    if (o.copy.ads_extract != 0 && out.stream_count > 0) {
        ads::extract_copy_streams(o, out, w.streams);
    }
    if (out.stream_count > 0 && o.hashing.any()) {
        ads::hash_streams(o, out, w.streams);
    }
    if (o.copy.reset_times != 0) {
        // Both are written again by the stamp at the end, which records how
        // that ended.
        if (out.copied && !out.streams_only) {
            bool creation_set = false;
            if (const std::error_code error =
                    times::set_file_times(files, out.destination, out.entry.times, creation_set)) {
                out.copy_times.fail(error);
            }
            out.settled = false;
        }
        if (const std::error_code error = times::restore_source_times(files, out.source, out.entry.times)) {
            out.source_times.fail(error);
        }
    }
    if (out.hashed) {
        const bool copied_first = out.copied;
        if (copied_first) {
            set_copy_attributes(out, files, out.settled);
        }
        // Links are not hashed; with --ADSCHILD the streams were hashed.
        verify_copy(o, out, w, files);
        // A copy made again replaced the one that took its attributes.
        if (out.copied && (!copied_first || out.retries > 0)) {
            set_copy_attributes(out, files, out.settled);
        }
    }
    stamp_copy(o, out, files);
}

// The work on a file of the tree: the data, the streams, the verification
// and the stamp.
void work_tree_file(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    out.stamped = times_for_copy(o, out.entry.times);
    copy_data(o, out, w, files);
    work_after_data(o, out, w, files);
}

// The data (or, for a link, the link itself) by the system's copy and,
// when that fails, by the program's own. The source is read once: its
// digest is fed from the bytes the copy writes, and the copy tells whether
// it changed meanwhile.
void copy_listed_data(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
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
            out.copy_error = files.copy_link(out.source, out.destination);
            out.copied = !out.copy_error;
            break;
        case platform::EntryKind::special:
            // A FIFO or device is never opened for reading; refused here, not
            // by the system, so without a reason.
            out.copied = false;
            break;
        default:
            out.copy_error =
                copy_two_ways(files, out.source, out.destination, o.copy.overwrite_protected != 0, &feed, restart);
            out.copied = !out.copy_error;
    }
    out.buffer_missing = feed.buffer_missing;
    out.settled = out.copied && feed.settled;
    out.access_unprotected = feed.access_unprotected;
    out.owner_kept = !out.copied || feed.owner_kept;
    if (out.copied) {
        take_source_as_opened(o, out, feed);
    }
    out.source_changed = out.copied && feed.source_changed;
    if (!out.copied) {
        out.source_is_folder = files.is_directory(out.source);
        out.destination_is_folder = files.is_directory(out.destination);
    } else if (out.source_hashed) {
        w.feed.finish(out.source_digests);
        if (feed.source_changed) {
            hash::put_changed_texts(hash::DigestSelection{}, out.source_digests);
        }
    }
}

// The work on a located file: the copy, the copy's digest, the comparison
// and the stamp. Reads only the options and writes only its outcome.
void work_listed_file(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    out.source_digests.md5[0] = '\0';
    out.destination_digests.md5[0] = '\0';
    copy_listed_data(o, out, w, files);
    if (!out.copied) {
        return;
    }
    if (out.destination_hashed) {
        w.reader.hash_file(files, out.destination, hash::DigestSelection{}, out.destination_digests);
        out.settled = false;  // a file system may move its last-access time even so
    }
    out.compared = o.hashing.compare && out.source_hashed && out.destination_hashed;
    if (out.compared) {
        out.match = digests_match(out.source_digests.md5.data(), out.destination_digests.md5.data());
    }
    // -O: the new copy was renamed over a protected one, which was never
    // changed itself, and now takes its attributes.
    if (out.protected_replaced) {
        if (const std::error_code error = files.set_attributes(out.destination, out.protected_attributes)) {
            out.attributes.fail(error);
        }
    }
    if (o.copy.reset_times != 0) {
        if (const std::error_code error = times::restore_source_times(files, out.source, out.entry.times)) {
            out.source_times.fail(error);
        }
    }
    if (out.settled) {
        out.creation_left = true;
        return;
    }
    const times::Stamp done = times::stamp(files, out.destination, out.entry.times);
    if (done.error) {
        out.copy_times.fail(done.error);
    }
    out.creation_left = !done.creation_set;
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

void take_source_as_opened(const Options& o, FileOutcome& out, platform::CopyFeed& feed) {
    platform::FindRecord& entry = out.entry;
    if (!feed.opened_known) {
        return;
    }
    // A file system that reports less than the file holds (a pseudo-file
    // that reports 0): the copy holds what was read to the end,
    // and that is the size recorded, with the reported one noted.
    const bool read_otherwise = feed.read_known && !feed.source_changed && feed.read_size > feed.opened_size;
    if (read_otherwise) {
        out.reported_size_text = util::with_separators(static_cast<std::int64_t>(feed.opened_size));
    }
    if (feed.opened_size == entry.size && feed.opened_times.last_write == entry.times.last_write) {
        if (read_otherwise) {
            entry.size = feed.read_size;
            out.opened_size_text = util::with_separators(static_cast<std::int64_t>(entry.size));
        }
        return;
    }
    // Changed between the look that chose it and the open that copied it:
    // as good as changed while it was copied. What was copied is what the
    // record tells and the copy carries, and the times put back.
    feed.source_changed = true;
    entry.size = read_otherwise ? feed.read_size : feed.opened_size;
    entry.times.last_access = feed.opened_times.last_access;
    entry.times.last_write = feed.opened_times.last_write;
    if (feed.opened_times.creation.ticks != 0) {
        entry.times.creation = feed.opened_times.creation;
    }
    out.opened_size_text = util::with_separators(static_cast<std::int64_t>(entry.size));
    out.stamped = times_for_copy(o, entry.times);
    out.settled = false;  // it took its name with the times of the look
}

void check_source_access(FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    if (!out.access_unprotected && !out.source_times.failed) {
        return;
    }
    if (files.lookup(out.source, w.source_now)) {
        out.access_moved = out.source_times.failed;  // nothing tells it stayed
        return;
    }
    out.access_moved = !(w.source_now.times.last_access == out.entry.times.last_access);
}

void work_file_group(const Options& o, FileOutcome* const* outs, std::size_t count, WorkScratch& w,
                     platform::FileSystem& files, std::size_t& done) {
    done = 0;
    if (count == 1) {
        work_file(o, *outs[0], w, files);
        done = 1;
        return;
    }
    count = std::min(count, platform::most_grouped_copies);
    std::uint64_t group_bytes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        outs[i]->stamped = times_for_copy(o, outs[i]->entry.times);
        group_bytes += outs[i]->entry.size;
    }
    {
        // The first file is named on the status line, with how far the
        // group's copies are together.
        const bool large = outs[0]->entry.size >= platform::large_file_bytes;
        const platform::FollowedFile followed(outs[0]->shown_source, large ? group_bytes : outs[0]->entry.size);
        copy_group(o, outs, count, w, files);
    }
    try {
        for (; done < count; ++done) {
            FileOutcome& out = *outs[done];
            const platform::FollowedFile followed(out.shown_source, out.entry.size);
            take_group_copy(o, out, done, w, files);
            note_copy_failure(out);
            work_after_data(o, out, w, files);
            check_source_access(out, w, files);
        }
    } catch (const util::RunEnd&) {
        // The copies the group made for the files not taken yet are there:
        // marked copied, the end of the run withdraws them.
        for (std::size_t later = done + 1; later < count; ++later) {
            outs[later]->copied = group_made(w, later);
        }
        throw;
    }
}

void work_file(const Options& o, FileOutcome& out, WorkScratch& w, platform::FileSystem& files) {
    // A large file is named on the terminal's status line while it is
    // worked on.
    const platform::FollowedFile followed(out.shown_source, out.entry.size);
    if (out.listed) {
        work_listed_file(o, out, w, files);
    } else {
        work_tree_file(o, out, w, files);
    }
    check_source_access(out, w, files);
}

}  // namespace veldro::work
