#include "copy/verify.h"

#include <array>
#include <cstdio>

#include "copy/data_copy.h"
#include "copy/times.h"
#include "logs/log_set.h"
#include "logs/manifests.h"
#include "platform/fs.h"
#include "util/paths.h"
#include "util/text.h"

namespace veldro::copy {

namespace {

// The extra digest kinds in the order they are computed and written, with
// the label that names each in the --UNICODE file.
struct ShaKind {
    hash::DigestKind kind;
    const char* label;
    bool HashOptions::*flag;
};

constexpr std::array<ShaKind, 4> sha_kinds{{
    {hash::DigestKind::sha1, "|SHA1|", &HashOptions::sha1},
    {hash::DigestKind::sha256, "|SHA2|", &HashOptions::sha256},
    {hash::DigestKind::sha384, "|SHA3|", &HashOptions::sha384},
    {hash::DigestKind::sha512, "|SHA5|", &HashOptions::sha512},
}};

// Work state kept for the whole run: one read buffer for every digest and
// the texts of the current file's two sides.
struct VerifyWork {
    hash::DigestReader reader;
    hash::HashSet source;
    hash::HashSet destination;
    // The digests the copy feeds from the one read of the source.
    hash::DigestFeed feed;
    // The source texts came with the copy: verification does not read the
    // source again.
    bool source_ready = false;
    // The last copy of the current file saw its source change.
    bool source_changed = false;
};

VerifyWork& work() {
    static VerifyWork state;
    return state;
}

bool sha_selected(const HashOptions& h, const ShaKind& k) {
    return h.*(k.flag) != 0;
}

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

// The text of a selected SHA kind. A file that could not be opened has no
// SHA-2 text at all; an error text of the kind's width stands in for it,
// so that no stale or empty field passes for a digest.
std::string_view sha_text(const hash::HashSet& set, hash::DigestKind kind) {
    const std::string_view text = set.text(kind);
    return text.empty() ? hash::read_error_text(kind) : text;
}

void write_text(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

// One field of the --UNICODE record: the text and a bar after it.
void write_unicode_field(std::FILE* stream, std::string_view text) {
    logs::write_unicode_text(stream, text);
    logs::write_unicode_text(stream, "|");
}

// Hashes one side; a file whose open failed because it is not there says
// so instead of passing for a locked one.
void hash_side(hash::DigestReader& reader, const std::string& path, const hash::DigestSelection& selection,
               hash::HashSet& out) {
    if (reader.hash_file(path, selection, out) == hash::DigestStatus::open_failed && !platform::path_exists(path)) {
        hash::put_not_found_texts(selection, out);
    }
}

const char* verdict_text(bool match) {
    return match ? "OK" : "HASH ERROR";
}

void take_bytes(void* context, const unsigned char* data, std::size_t size) {
    static_cast<hash::DigestFeed*>(context)->add(data, size);
}

bool hashes_source(const HashOptions& h) {
    return h.hash_sources;
}

// A digest of the source is wanted: for the hash log, or only for the
// SHA texts of the --UNICODE record.
bool source_digests_wanted(const HashOptions& h, const std::FILE* unicode_list) {
    return hashes_source(h) || (any_sha(h) && unicode_list != nullptr);
}

// Copies once: with a digest of the source wanted, the copy goes through
// the buffer and every selected digest is fed from the bytes it writes, so
// that the source is read once. The copy also tells whether the source
// changed meanwhile: its digests are then error texts, so that such a copy
// never passes for a verified one.
std::error_code copy_feeding(Run& s, const std::string& source_path, const std::string& dest_path, bool two_ways) {
    VerifyWork& w = work();
    const HashOptions& h = s.hashing;
    const bool want = source_digests_wanted(h, s.files.unicode_list_stream);
    const hash::DigestSelection selection = selection_for(h, hashes_source(h));
    platform::CopyFeed feed;
    if (want) {
        feed.take = &take_bytes;
        feed.context = &w.feed;
        w.feed.start(selection);
    }
    const bool replace = s.copy.overwrite_protected != 0;
    const std::error_code error = two_ways ? copy_two_ways(source_path, dest_path, replace, &feed,
                                                           [&] {
                                                               if (want) {
                                                                   w.feed.start(selection);
                                                               }
                                                           })
                                           : platform_copy(source_path, dest_path, replace, &feed);
    if (error) {
        return error;
    }
    w.source_changed = feed.source_changed;
    if (want) {
        w.feed.finish(w.source);
        if (feed.source_changed) {
            hash::put_changed_texts(selection, w.source);
        }
        w.source_ready = true;
    }
    if (feed.source_changed) {
        std::FILE* console = s.files.report_stream != nullptr ? s.files.report_stream : stdout;
        std::fprintf(console, "\nSource changed while it was copied: %s\n", util::shown_name(source_path).c_str());
    }
    return {};
}

void copy_again(Run& s, const std::string& source_path, const std::string& dest_path,
                const platform::FileTimeSet& source_times) {
    VerifyWork& w = work();
    const hash::DigestSelection selection = selection_for(s.hashing, true);
    int attempt = 1;
    for (; attempt <= s.hashing.retries && !digests_match(w.source.md5.data(), w.destination.md5.data()); ++attempt) {
        std::fprintf(stdout, "\nRetry #%d\n", attempt);
        std::fprintf(stdout, "Copy: %s\n", util::shown_name(source_path).c_str());
        std::fprintf(stdout, "To:   %s\n", util::shown_name(dest_path).c_str());
        // The same road as every copy: a temporary beside the destination,
        // renamed over it only when complete, the source read once. A
        // failure leaves the destination (and the source's digests) as they
        // were and the next attempt follows.
        (void)copy_feeding(s, source_path, dest_path, false);
        hash_side(w.reader, dest_path, selection, w.destination);
    }
    if (attempt > 1 && s.copy.reset_times != 0) {
        (void)set_file_times(dest_path, source_times);
        (void)restore_source_times(source_path, source_times);
    }
}

void write_hash_log(Run& s, const std::string& source_path, const std::string& dest_path, bool hash_source,
                    bool hash_dest, bool both, bool match) {
    const HashOptions& h = s.hashing;
    std::FILE* log = s.files.hash_log;
    if (log == nullptr) {
        return;
    }
    const VerifyWork& w = work();
    const std::string source_shown = paths::shown_path(source_path);
    const std::string dest_shown = paths::shown_path(dest_path);
    const int source_length = static_cast<int>(source_shown.size());
    const int dest_length = static_cast<int>(dest_shown.size());
    // One side: its name, its MD5 and each selected SHA text.
    const auto write_side = [&](const std::string& shown, const hash::HashSet& digests) {
        std::fprintf(log, "%.*s  | %s ", static_cast<int>(shown.size()), shown.data(), digests.md5.data());
        for (const ShaKind& k : sha_kinds) {
            if (sha_selected(h, k)) {
                std::fputs(" | ", log);
                write_text(log, sha_text(digests, k.kind));
                std::fputs(" ", log);
            }
        }
    };
    if (hash_source) {
        std::fputs("\n", log);
        write_side(source_shown, w.source);
    }
    if (hash_dest) {
        std::fputs(both ? "|" : "\n", log);
        write_side(dest_shown, w.destination);
    }
    if (both) {
        if (!match) {
            ++s.counters.hash_mismatches;
            if (s.files.hash_error_log != nullptr) {
                std::fprintf(s.files.hash_error_log, "%.*s  | %s |", source_length, source_shown.data(),
                             w.source.md5.data());
                std::fprintf(s.files.hash_error_log, "%.*s  | %s |ERROR\n", dest_length, dest_shown.data(),
                             w.destination.md5.data());
                std::fflush(s.files.hash_error_log);
            }
            if (s.files.hash_rerun_log != nullptr) {
                std::fprintf(s.files.hash_rerun_log, "%.*s  | %s\n", source_length, source_shown.data(),
                             w.source.md5.data());
                std::fflush(s.files.hash_rerun_log);
            }
        }
        std::fprintf(log, "|[%s]", verdict_text(match));
    }
    std::fflush(log);
}

}  // namespace

std::error_code copy_for_verification(Run& s, const std::string& source_path, const std::string& dest_path) {
    VerifyWork& w = work();
    w.source_ready = false;
    w.source_changed = false;
    return copy_feeding(s, source_path, dest_path, true);
}

bool digests_match(std::string_view source_md5, std::string_view destination_md5) {
    if (source_md5.find("ERROR") != std::string_view::npos || destination_md5.find("ERROR") != std::string_view::npos) {
        return false;
    }
    return !source_md5.empty() && source_md5 == destination_md5;
}

const hash::HashSet& last_source_digests() {
    return work().source;
}

bool verify_copy(Run& s, const std::string& source_path, const std::string& dest_path,
                 const platform::FileTimeSet& source_times, bool copy_succeeded) {
    const HashOptions& h = s.hashing;
    const bool hash_source = h.hash_sources;
    const bool hash_dest = h.hash_copies;
    const bool both = h.compare;
    std::FILE* unicode = s.files.unicode_list_stream;
    VerifyWork& w = work();
    const bool source_ready = w.source_ready && copy_succeeded;
    w.source_ready = false;
    if (!source_ready) {
        w.source.clear();
    }
    w.destination.clear();

    if (!h.any() && unicode != nullptr) {
        logs::write_unicode_text(unicode, util::shown_name(source_path));
    }

    // The source is read once, for MD5 and every selected SHA kind; the SHA
    // texts alone are wanted when they only go to the --UNICODE record.
    if (hash_source || (any_sha(h) && unicode != nullptr)) {
        if (hash_source) {
            std::fprintf(stderr, "\n HASHING: %s", util::shown_name(source_path).c_str());
        }
        if (!source_ready) {
            hash_side(w.reader, source_path, selection_for(h, hash_source), w.source);
        }
    }
    if (hash_source) {
        if (unicode != nullptr) {
            write_unicode_field(unicode, util::shown_name(source_path));
            write_unicode_field(unicode, w.source.md5.data());
        }
    }

    if (hash_dest) {
        std::fprintf(stderr, "\n HASHING: %s", util::shown_name(dest_path).c_str());
        hash_side(w.reader, dest_path, selection_for(h, true), w.destination);
        if (both && h.retries > 0) {
            copy_again(s, source_path, dest_path, source_times);
        }
        if (unicode != nullptr) {
            write_unicode_field(unicode, util::shown_name(dest_path));
            write_unicode_field(unicode, w.destination.md5.data());
        }
    }

    const bool match = digests_match(w.source.md5.data(), w.destination.md5.data());
    if (both) {
        std::FILE* console = s.files.report_stream != nullptr ? s.files.report_stream : stdout;
        std::fprintf(console, " [%s]", verdict_text(match));
        if (unicode != nullptr) {
            logs::write_unicode_text(unicode, match ? " [OK]" : " [HASH ERROR]");
        }
        if (!match && copy_succeeded) {
            ++s.counters.copy_failures;
        }
    } else if (w.source_changed && copy_succeeded) {
        // Nothing proves such a copy: the run does not end as a success.
        ++s.counters.copy_failures;
    }

    if (unicode != nullptr) {
        for (const ShaKind& k : sha_kinds) {
            if (sha_selected(h, k)) {
                logs::write_unicode_text(unicode, k.label);
                write_unicode_field(unicode, sha_text(w.source, k.kind));
            }
        }
        logs::write_unicode_text(unicode, "\r\n");
    }

    write_hash_log(s, source_path, dest_path, hash_source, hash_dest, both, match);
    logs::note_digests(hash_source ? &w.source : nullptr, hash_dest ? &w.destination : nullptr, both, match);
    logs::note_source_changed(copy_succeeded && w.source_changed);
    w.source_changed = false;
    return !both || match;
}

}  // namespace veldro::copy
