// The acquisition report: one self-contained HTML document an examiner
// files with the case. It takes the same per-file records as the
// manifests, keeping only counts, the lists of failures, mismatches and
// renames, and two chart aggregates, and is written whole at every end of
// a run, after the seal, whose digests it shows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "record/manifests.h"
#include "record/output_faults.h"
#include "run/run.h"

namespace veldro::record {

// Text for HTML character data or an attribute value: markup characters
// become references, and control characters (other than tab and line
// feed) become U+FFFD, so that no text can add an element or attribute.
std::string html_text(std::string_view in);

// What the report keeps of the records.
struct ReportTally {
    struct Listed {
        std::string source;  // internal form
        std::string detail;  // the reason, or the other name
    };
    struct TypeTotal {
        std::uint64_t bytes = 0;
        std::uint64_t files = 0;
    };
    // At most this many distinct extensions are told apart; the rest are
    // counted together, so a tree of unique extensions cannot grow memory.
    static constexpr std::size_t max_types = 1000;

    std::uint64_t records = 0;
    std::uint64_t verified = 0;
    std::uint64_t copies = 0;  // files whose copy was written (streams apart)
    std::uint64_t links = 0;   // of the copies: links, made again as links and never hashed
    std::uint64_t streams = 0;
    std::uint64_t unverified = 0;                     // copies whose digests still differ
    std::map<std::string, std::uint64_t> not_copied;  // by reason
    std::vector<Listed> failures;
    std::vector<Listed> mismatches;
    std::vector<Listed> renames;
    std::map<std::string, TypeTotal> types;  // of the copies, by extension
    std::map<int, std::uint64_t> years;      // copies by last-write year (UTC)

    void add(const FileRecord& record);
};

// The extension a chart files a name under: lower case, without the dot;
// "(none)" for a name without one, "(other)" for one too long to be a type.
std::string extension_of(std::string_view file_name);

// Everything the document shows, gathered when the run ends.
struct ReportContent {
    std::string program;  // name and version
    std::string host;
    std::string user;
    std::int64_t start = 0;  // calendar seconds, UTC
    std::int64_t end = 0;
    std::string start_local;  // "2026-12-08 16:30:06 CET (UTC+01:00)"
    std::string end_local;
    double elapsed_seconds = 0;
    std::string command_line;
    std::vector<std::string> arguments;  // the same, one argument each; empty: shown from command_line
    std::string case_number;
    std::string exhibit;
    std::string examiner;
    std::string notes;
    std::string ini_file;
    std::string memo;
    std::vector<std::string> sources;                          // shown form
    std::string destination;                                   // shown form
    std::vector<std::pair<std::string, std::string>> options;  // in words
    int exit_status = 0;
    bool summary_written = true;  // false: ended at once, without its summary
    RunCounters counters;
    std::string digest_kinds;  // "MD5, SHA-256"; empty when nothing was hashed
    std::string hash_log;      // shown form
    std::string seal_file;     // shown form
    std::string seal_sha256;   // the seal's own digest, lower case; empty when it could not be read
    std::vector<SealEntry> seal;
    std::vector<OutputFault> incomplete;  // outputs not written whole
};

// The document itself, from the content and the tally.
std::string render_report(const ReportContent& content, const ReportTally& tally);

// Words for an exit status.
std::string exit_status_meaning(int status);

// The selection, hashing, flattening and stream settings in words.
std::vector<std::pair<std::string, std::string>> options_in_words(const Run& s);

// ---- the run's report -------------------------------------------------

// Starts the report the options name: a placeholder that says the run is
// under way is written at once (a report that cannot be created ends the
// run with OUTPUT_FILE), and the report joins the records' fan-out.
void open_report(Run& s);
// Writes the whole report over the placeholder (or first, when the run
// ended before the report was opened). `summary_written` is false for the
// ends that leave without the run summary.
void write_report(Run& s, int exit_status, bool summary_written);

}  // namespace veldro::record
