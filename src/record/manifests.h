// End-of-run documents that other tools read: one record per file the run
// handled, handed to every open manifest writer (the DFXML manifest, the
// known-hash set for audits), and the seal over every file the run wrote.
//
// The copy engine reports a file's outcome through the few calls below
// (begin_file ... file_done / file_not_copied); they cost nothing while no
// manifest is open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hash/file_digest.h"
#include "platform/fs.h"
#include "run/run.h"

namespace veldro::record {

enum class Verdict : std::uint8_t {
    copied_new,      // copied, no file stood at the destination
    updated,         // copied over an older copy
    not_copied,      // with its reason
    verified,        // copied, and the copy's digest equals the source's
    mismatch,        // copied, but the digests still differ after the retries
    source_changed,  // copied, but the source's size, write or change time moved meanwhile
};

// What happened to one file.
struct FileRecord {
    std::string source;        // internal form; "file:stream" text for a stream
    std::string destination;   // internal form; empty when nothing was written
    std::string renamed_from;  // the destination before a duplicate rule renamed it
    std::string parent;        // for a stream written into a file: the file it belongs to
    std::uint64_t size = 0;
    platform::FileTimeSet times;  // a time with no ticks is unknown
    bool times_known = false;
    bool source_hashed = false;
    hash::HashSet source_digests;
    bool destination_hashed = false;
    hash::HashSet destination_digests;
    Verdict verdict = Verdict::not_copied;
    bool copy_existed = false;  // a copy stood at the destination before
    bool is_link = false;       // a link, made again as a link: its target is not hashed
    std::string reason;         // why a file was not copied
    std::string detail;         // what went wrong, for a copy that failed
    platform::EntryKind kind = platform::EntryKind::regular;
    platform::FileOwnership ownership;  // owner, group, mode, inode, links where known
    std::string link_target;            // a link's target text
    bool access_moved = false;          // the source's last-access time moved and was not put back
};

// A document that takes every record as the run goes, and its closing
// lines at whatever end the run reaches.
class ManifestWriter {
public:
    ManifestWriter() = default;
    ManifestWriter(const ManifestWriter&) = delete;
    ManifestWriter& operator=(const ManifestWriter&) = delete;
    ManifestWriter(ManifestWriter&&) = delete;
    ManifestWriter& operator=(ManifestWriter&&) = delete;
    virtual ~ManifestWriter() = default;

    virtual void write(const FileRecord& record) = 0;
    // False when the document could not be written whole (a full disk).
    virtual bool close() = 0;
    // The writer needs the digests of every copy, computed when the run
    // did not hash it.
    [[nodiscard]] virtual bool needs_copy_digests() const { return false; }
};

// The provenance of a run, for the writers' headers.
struct RunProvenance {
    std::string program_version;
    std::string command_line;
    std::int64_t start_time = 0;  // calendar seconds, UTC
    hash::DigestSelection kinds;  // the digest kinds the run selected
    // The case fields the examiner gave (empty when not given).
    std::string case_number;
    std::string exhibit;
    std::string examiner;
    std::string notes;
};

// ---- the run's manifests ----------------------------------------------

// Opens the manifests the options name. A manifest that cannot be created
// is reported and ends the run with OUTPUT_FILE (by RunEnd).
void open_manifests(Run& s, const std::string& program_version);
// For other documents and for tests: adds a writer to the fan-out.
void subscribe(OpenFiles& files, std::unique_ptr<ManifestWriter> writer);
bool manifests_open(const OpenFiles& files);
// Hands one record to every writer, first computing the copy's digests
// when a writer needs them and the run did not.
void record_file(OpenFiles& files, FileRecord& record);
// Writes the closing lines of every manifest (a record still in work is
// written first, as not finished) and closes them. Safe to call twice.
void close_manifests(OpenFiles& files);

// ---- the outcome of the file in work ----------------------------------

// The copy engine begins a file; a destination given here is looked up
// to tell a new copy from an update.
void begin_file(OpenFiles& files, const std::string& source, const platform::FindRecord& entry,
                const std::string& destination = {});
// A duplicate rule moves the destination from `before` to a new name.
void note_renamed(OpenFiles& files, const std::string& before);
// The digests verification found (each set only when that side was hashed).
void note_digests(OpenFiles& files, const hash::HashSet* source, const hash::HashSet* destination, bool compared,
                  bool match);
// Whether the copy saw its source change while it was copied (the copy
// compares the source's size, write and change time before and after).
void note_source_changed(OpenFiles& files, bool changed);
// The same from the MD5 texts of the file-list mode (an empty text: that
// side was not hashed); compared texts match when equal and not errors.
void note_md5(OpenFiles& files, std::string_view source_md5, std::string_view destination_md5, bool compared);
// Why the copy of the file in work failed, in words.
void note_failure_detail(OpenFiles& files, std::string_view detail);
// The file was not copied; a later call for the same file changes nothing.
void file_not_copied(OpenFiles& files, const std::string& source, std::string_view reason);
// The file reached its end on the copy road (`copied` false: the copy failed).
void file_done(OpenFiles& files, const std::string& destination, bool copied, bool existed);
// Whether the source of the file in work was left with a moved last-access
// time (told before file_done / file_not_copied).
void note_source_access(OpenFiles& files, bool moved);
// A named stream was written into a file of its own.
void stream_file_written(OpenFiles& files, const std::string& parent, std::string_view stream_name,
                         const std::string& stream_file, const platform::FindRecord& parent_entry);

// ---- files of proof -------------------------------------------------------

// The name a later file of proof takes beside `path`: the number goes
// before the last extension of the file's name ("run.dfxml" gives
// "run.2.dfxml", "known" gives "known.2").
std::string numbered_name(std::string_view path, unsigned number);

// A file of proof as created: its stream and the path it was created at.
struct ProofFile {
    std::FILE* stream = nullptr;
    std::string path;
};

// Creates a file of proof (a manifest, the report, the seal) at `path`
// (internal form) and never over an earlier one: when something stands
// there, the first free numbered name beside it is created instead, and
// the console and the default log `default_log` (a path; empty: none) say
// so, one line each. The stream is null when no name could be created.
ProofFile create_proof_file(OpenFiles& files, const std::string& path, const std::string& default_log);

// ---- the seal -------------------------------------------------------------

// Every file the run writes (logs, companions, manifests) is named here.
void note_written_file(OpenFiles& files, const std::string& path);
const std::vector<std::string>& written_files(const OpenFiles& files);
// Creates the seal's file, "<default log>.sha256" (or beside the hash log,
// or the first file written), or the next numbered name when one stands
// there, while the default log can still say so; it is filled at the end.
void create_seal_file(Run& s);
// After every log is closed: writes the seal (creating its file first when
// that was not done) in the format of sha256sum. Returns the seal's name,
// empty when there was nothing to seal.
std::string seal_written_files(Run& s);

// What the seal holds, for the report: each file as the seal names it.
struct SealEntry {
    std::string name;
    std::string sha256;  // lower-case hexadecimal
};
const std::vector<SealEntry>& seal_entries(const OpenFiles& files);
// The seal's own path; empty until one was written.
const std::string& seal_path(const OpenFiles& files);

}  // namespace veldro::record
