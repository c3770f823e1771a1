#include "plan/pipeline.h"

#include "ads/streams.h"
#include "plan/criteria.h"
#include "plan/destination.h"
#include "plan/dupes.h"
#include "platform/names.h"
#include "platform/system.h"
#include "record/file_record.h"
#include "record/run_report.h"
#include "util/paths.h"
#include "util/text.h"
#include "work/worker.h"

namespace veldro::plan {

namespace {

// The -a filter: each attribute asked for must be present, in this order.
bool passes_attribute_filter(const Run& s, std::uint32_t attributes) {
    const SelectionOptions& sel = s.selection;
    if (sel.attr_dir_count > 1 && (attributes & platform::attr_directory) == 0) {
        return false;
    }
    if (sel.attr_readonly != 0 && (attributes & platform::attr_readonly) == 0) {
        return false;
    }
    if (sel.attr_system != 0 && (attributes & platform::attr_system) == 0) {
        return false;
    }
    if (sel.attr_hidden != 0 && (attributes & platform::attr_hidden) == 0) {
        return false;
    }
    if (sel.attr_archive != 0 && (attributes & platform::attr_archive) == 0) {
        return false;
    }
    return !(sel.attr_encrypted != 0 && (attributes & platform::attr_encrypted) == 0);
}

// A destination in a directory this run made, at a name the run has not
// written: nothing stands there but what another process may have put
// there meanwhile, which the copy replaces as any copy does. Not where the
// run writes other files beside its copies (named streams) or compares
// names ignoring case.
bool free_for_certain(const Run& s, const std::string& dest) {
    const CopyOptions& c = s.copy;
    return c.no_case == 0 && c.ads_extract == 0 && c.ads_child == 0 && c.ads_parent == 0 &&
           s.dupes.names.free_in_made_directory(dest, paths::parent(dest));
}

void skip(FileOutcome& out, const char* reason) {
    out.decision = Decision::skipped;
    out.reason = reason;
}

// The age (days form, by time_field) and size criteria of a listed file;
// a file that is not there fails them.
bool passes_listed_criteria(Run& s, bool found, const platform::FindRecord& record) {
    const SelectionOptions& sel = s.selection;
    if (sel.age_select == 0 && sel.greater_select == 0 && sel.less_select == 0) {
        return true;
    }
    if (!found) {
        return false;
    }
    if (sel.age_select != 0) {
        const std::int32_t age = age_in_days(s, record.times, sel.time_field);
        if (age < sel.older_days || age >= sel.younger_days) {
            return false;
        }
    }
    return passes_size_criteria(s, record);
}

bool is_same_file(platform::FileSystem& files, const std::string& source, const std::string& destination) {
    const auto a = files.identity(source);
    const auto b = files.identity(destination);
    return a && b && *a == *b;
}

}  // namespace

void begin_outcome(Run& s, const std::string& directory, const std::string& name, const platform::FindRecord& entry,
                   FileOutcome& out) {
    out.reset();
    EngineState& e = s.engine;
    e.source_file_path.assign(directory);
    e.source_file_path += name;
    out.source = e.source_file_path;
    out.shown_source = paths::shown_path(out.source);
    out.name = name;
    out.entry = entry;
    out.size_text = util::with_separators(static_cast<std::int64_t>(entry.size));
    out.unicode_record = s.files.unicode_list_stream != nullptr;
    out.unicode_log = s.files.unicode_log != nullptr;
    out.hash_log = s.files.hash_log != nullptr;
}

void select_file(Run& s, FileOutcome& out) {
    const platform::FindRecord& entry = out.entry;
    // FIFOs, sockets and devices are never opened: reading a FIFO would hang.
    if (entry.kind == platform::EntryKind::special) {
        skip(out, "reason: NOT A REGULAR FILE");
    } else if (s.selection.attr_filter != 0 && !passes_attribute_filter(s, entry.attributes)) {
        skip(out, "Attributes");
    } else if (!passes_age_criteria(s, entry)) {
        skip(out, "reason: AGE Criteria");
    } else if (!passes_size_criteria(s, entry)) {
        skip(out, "reason: SIZE Criteria");
    }
}

void place_file(Run& s, const std::string& directory, FileOutcome& out) {
    EngineState& e = s.engine;
    // A directory chain that could not be made safely (a link standing in
    // it) makes the copy fail with its reason.
    platform::FileSystem& files = *s.file_system;
    out.copy_error = build_destination_path(s, directory, out.name, &out.events);
    out.directory_ready = !out.copy_error;
    out.destination_chain = e.held_chain;
    std::string& dest = e.destination_file_path;
    // A file still in flight to this name decides what this one finds there.
    if (s.in_flight != nullptr) {
        s.in_flight->settle_if_taken(dest);
    }
    if (s.copy.check_tilde == 1) {
        apply_tilde_rule(s, dest, out.entry, out.events);
    }
    rename_if_written_by_run(s, dest, out.source, out.events);
    out.destination = dest;
    const std::error_code looked = free_for_certain(s, dest)
                                       ? std::make_error_code(std::errc::no_such_file_or_directory)
                                       : files.lookup(dest, e.destination_record);
    const bool found = !looked;
    if (looked && !platform::is_not_found(looked) && s.copy.list_only == ListOnly::off) {
        // Copying over what could not be looked at might replace a newer
        // copy unseen: the copy fails with the reason instead.
        if (!out.copy_error) {
            out.copy_error = looked;
        }
        out.directory_ready = false;
        out.destination_unseen = true;
        return;
    }
    // With --NOCASE a name that differs only in case is the file a
    // case-insensitive destination holds under this name: it counts as
    // existing, as it does on Windows, and the copy is renamed beside it.
    out.existed = found || (s.copy.no_case != 0 && exists_ignoring_case(s, dest));
    if (s.selection.exist_only != 0 && !out.existed) {
        skip(out, "reason: CRITERIA: destination not previously existing");
        return;
    }
    const std::int64_t difference = newer_difference(s, out.entry, found ? &e.destination_record : nullptr);
    if (difference < 0 && s.selection.copy_all == 0) {
        out.older = true;
        skip(out, "reason: AGE Criteria");
    } else if (s.copy.list_only != ListOnly::off) {
        out.decision = Decision::listed_only;
        out.reason = "reason: LISTING ONLY REQUESTED";
    } else if (difference == 0 && s.selection.copy_all == 0) {
        skip(out, "reason: AGE Criteria");
        out.reason_needs_log = true;
    }
}

void prepare_copy(Run& s, FileOutcome& out) {
    std::string& dest = s.engine.destination_file_path;
    out.events.past_head();
    if ((s.copy.flatten != 0 && s.copy.no_dupe != 0) || s.copy.no_case != 0) {
        rename_duplicates_before_copy(s, dest, out.events);
    }
    out.destination = dest;
    out.planned_destination = dest;
    // -O: a protected copy is replaced by renaming the new one over it, so
    // that the old file (and any other name it has) is never changed; the
    // new copy then takes the attributes the old one had.
    if (s.copy.overwrite_protected != 0) {
        std::uint32_t attributes = 0;
        if (!s.file_system->get_attributes(dest, attributes) && attributes != 0) {
            out.protected_attributes = attributes;
            out.protected_replaced = true;
        }
    }
    out.is_link = out.entry.kind == platform::EntryKind::symlink;
    out.streams_only = s.copy.ads_child != 0;
    out.hashed = !out.is_link && !out.streams_only;
    if (!out.is_link && (s.copy.ads_extract != 0 || s.hashing.any())) {
        out.stream_count = ads::enumerate_streams(s, out.source);
    }
    out.stream_errors_ignored = s.streams.ads_errors_ignored;
    out.streams_open_failed = s.streams.open_failed;
    if ((s.copy.ads_parent != 0 || s.copy.ads_child != 0) && out.stream_count == 0) {
        out.decision = Decision::no_streams;
    } else {
        ++s.dupes.copies_planned;
    }
}

void place_listed_file(Run& s, ListedCopiesInFlight& in_flight, bool excluded, FileOutcome& out) {
    // The look at the source waits for a copy in flight that may change
    // what it finds: the same source (whose times it may be putting back),
    // a name in the directory a copy is written into, or below a copy.
    in_flight.settle_if_read(out.source);
    platform::FileSystem& files = *s.file_system;
    const bool found = !files.lookup(out.source, out.entry);
    if (found && out.entry.kind == platform::EntryKind::directory) {
        out.decision = Decision::directory;
        return;
    }
    std::string& dest_dir = s.engine.destination_dir;
    dest_dir = listed_file_destination_dir(s.paths.dest_path, out.source);
    // A file that is not there gets no directory made for it.
    if (found && s.copy.list_only == ListOnly::off) {
        // A copy in flight that stands on the way of the directories waits
        // to be recorded: making them looks at what it wrote.
        in_flight.settle_if_below(dest_dir);
        // A directory that cannot be made fails the copy into it, which
        // records the reason; --TEST and a line not located need none.
        static_cast<void>(make_directory_path(s, dest_dir, s.paths.maintain_dir_dates, &out.events));
    }
    const std::string_view name = paths::file_name(out.source);
    if (!passes_listed_criteria(s, found, out.entry) || excluded) {
        out.decision = Decision::excluded;
        return;
    }
    out.destination = paths::join(dest_dir, name);
    out.planned_destination = out.destination;
    // A copy in flight to this name (the same file listed twice) decides
    // what this line finds there.
    in_flight.settle_if_taken(out.destination);
    // --TEST only records that the file is there; -n and -N only list it.
    // Neither reaches a copy, so neither counts in the progress line.
    out.decision = !found                                             ? Decision::not_located
                   : s.paths.test_mode != 0                           ? Decision::present
                   : s.copy.list_only != ListOnly::off                ? Decision::listed_only
                   : is_same_file(files, out.source, out.destination) ? Decision::onto_itself
                                                                      : Decision::selected;
    out.size_text = util::with_separators(static_cast<std::int64_t>(out.entry.size));
    if (out.decision == Decision::onto_itself) {
        // Copying a file onto itself would destroy it on a failure.
        out.source_is_folder = files.is_directory(out.source);
        out.destination_is_folder = files.is_directory(out.destination);
    }
    if (out.decision != Decision::selected) {
        return;
    }
    out.existed = files.exists(out.destination);
    if (s.copy.overwrite_protected != 0) {
        std::uint32_t existing = 0;
        out.protected_replaced = !files.get_attributes(out.destination, existing) && existing != 0;
        out.protected_attributes = out.protected_replaced ? existing : 0;
    }
    const bool regular = out.entry.kind == platform::EntryKind::regular;
    out.source_hashed = s.hashing.hash_sources && regular;
    out.destination_hashed = s.hashing.hash_copies && regular;
}

std::string listed_file_destination_dir(const std::string& dest_root, const std::string& source, paths::Style style) {
    const std::string_view below = paths::below_drive(paths::parent(source, style), style);
    return paths::with_trailing_separator(paths::join(dest_root, below, style), style);
}

}  // namespace veldro::plan
