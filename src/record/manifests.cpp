#include "record/manifests.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/system.h"
#include "record/audit_set_writer.h"
#include "record/dfxml_writer.h"
#include "record/log_set.h"
#include "record/output_faults.h"
#include "record/recorder_state.h"
#include "util/paths.h"
#include "util/run_end.h"

namespace veldro::record {

namespace {

ManifestState& state(const OpenFiles& files) {
    return files.recorder->manifests;
}

hash::DigestSelection selected_kinds(const HashOptions& h) {
    hash::DigestSelection kinds;
    kinds.sha1 = h.sha1 != 0;
    kinds.sha256 = h.sha256 != 0;
    kinds.sha384 = h.sha384 != 0;
    kinds.sha512 = h.sha512 != 0;
    return kinds;
}

std::FILE* create_manifest(OpenFiles& files, const std::string& name, const std::string& default_log) {
    make_log_directory(name);
    const ProofFile file = create_proof_file(files, paths::make_long_path(name), default_log);
    if (file.stream == nullptr) {
        std::fprintf(stdout, "\ncan't open %s file \n\n", name.c_str());
        throw util::RunEnd{OUTPUT_FILE};
    }
    note_written_file(files, file.path);
    name_output(files, file.stream, file.path);
    return file.stream;
}

void write_record(OpenFiles& files, ManifestState& m) {
    m.in_work = false;
    m.last_written = m.record.source;
    record_file(files, m.record);
}

void clear_digests(FileRecord& r) {
    r.source_hashed = false;
    r.destination_hashed = false;
    r.source_digests = {};
    r.destination_digests = {};
}

// The name a seal line gives a file: relative to the seal's directory
// when it lies below it, else the full path; '/' between the parts, and
// sha256sum's escapes for a backslash or a line end.
std::string seal_name(std::string_view file, std::string_view seal_dir) {
    std::string name(file);
    if (!seal_dir.empty() && file.size() > seal_dir.size() && file.substr(0, seal_dir.size()) == seal_dir &&
        paths::is_separator(file[seal_dir.size()])) {
        name = std::string(file.substr(seal_dir.size() + 1));
    }
    if (paths::native_style == paths::Style::windows) {
        std::replace(name.begin(), name.end(), '\\', '/');
    }
    return name;
}

bool needs_seal_escape(std::string_view name) {
    return name.find_first_of("\\\n\r") != std::string_view::npos;
}

std::string seal_escaped(std::string_view name) {
    std::string out;
    for (const char c : name) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

// ---- the run's manifests ----------------------------------------------

void open_manifests(Run& s, const std::string& program_version) {
    ManifestState& m = state(s.files);
    const LogOptions& logs = s.logs;
    if (logs.dfxml_path.empty() && logs.audit_set_path.empty()) {
        return;
    }
    RunProvenance run;
    run.program_version = program_version;
    run.command_line = logs.command_line;
    while (!run.command_line.empty() && run.command_line.back() == ' ') {
        run.command_line.pop_back();
    }
    run.start_time = s.progress.start_time;
    run.kinds = selected_kinds(s.hashing);
    run.case_number = logs.case_number;
    run.exhibit = logs.exhibit;
    run.examiner = logs.examiner;
    run.notes = logs.notes;
    m.kinds = run.kinds;
    if (!logs.dfxml_path.empty()) {
        subscribe(s.files,
                  std::make_unique<DfxmlWriter>(s.files.recorder->faults,
                                                create_manifest(s.files, logs.dfxml_path, logs.default_log_path), run));
    }
    if (!logs.audit_set_path.empty()) {
        // Copies are named from the directory the user named as the
        // destination: every copy lies below it, whatever the layout.
        const std::string& root = s.paths.dest_named.empty() ? s.paths.dest_path : s.paths.dest_named;
        subscribe(s.files,
                  std::make_unique<AuditSetWriter>(s.files.recorder->faults,
                                                   create_manifest(s.files, logs.audit_set_path, logs.default_log_path),
                                                   run, std::string(paths::display_path(root))));
    }
}

void subscribe(OpenFiles& files, std::unique_ptr<ManifestWriter> writer) {
    ManifestState& m = state(files);
    m.copy_digests_wanted = m.copy_digests_wanted || writer->needs_copy_digests();
    m.writers.push_back(std::move(writer));
}

bool manifests_open(const OpenFiles& files) {
    return !state(files).writers.empty();
}

void record_file(OpenFiles& files, FileRecord& record) {
    ManifestState& m = state(files);
    if (m.copy_digests_wanted && !record.destination_hashed && !record.destination.empty() &&
        record.verdict != Verdict::not_copied) {
        if (!m.reader) {
            m.reader = std::make_unique<hash::DigestReader>();
        }
        m.reader->hash_file(record.destination, m.kinds, record.destination_digests);
        record.destination_hashed = true;
    }
    for (const auto& writer : m.writers) {
        writer->write(record);
    }
}

void close_manifests(OpenFiles& files) {
    ManifestState& m = state(files);
    if (m.in_work) {
        // The run ended while this file was in work.
        m.record.verdict = Verdict::not_copied;
        m.record.destination.clear();
        m.record.reason = "the run ended before the file was finished";
        write_record(files, m);
    }
    for (const auto& writer : m.writers) {
        // A manifest that could not be written whole is said and kept by its
        // close (close_output), which fails the run's status at its end.
        (void)writer->close();
    }
    m.writers.clear();
    m.copy_digests_wanted = false;
}

// ---- the outcome of the file in work ----------------------------------

void begin_file(OpenFiles& files, const std::string& source, const platform::FindRecord& entry,
                const std::string& destination) {
    ManifestState& m = state(files);
    if (m.writers.empty()) {
        return;
    }
    if (m.in_work) {
        m.record.verdict = Verdict::not_copied;
        m.record.destination.clear();
        m.record.reason = "not selected";
        write_record(files, m);
    }
    FileRecord& r = m.record;
    r.source = source;
    r.destination.clear();
    r.renamed_from.clear();
    r.parent.clear();
    r.size = entry.size;
    r.times = entry.times;
    r.times_known = true;
    clear_digests(r);
    r.verdict = Verdict::not_copied;
    r.copy_existed = !destination.empty() && platform::path_exists(destination);
    r.is_link = entry.kind == platform::EntryKind::symlink;
    r.reason.clear();
    r.detail.clear();
    r.kind = entry.kind;
    r.ownership = entry.ownership;
    r.link_target.clear();
    if (entry.kind == platform::EntryKind::symlink) {
        // A target that cannot be read is left out of the record, which
        // then names no target rather than a wrong one; making the link
        // again reads the target itself and reports that failure.
        (void)platform::read_link_target(source, r.link_target);
    }
    r.access_moved = false;
    m.last_written.clear();
    m.in_work = true;
    m.source_changed = false;
}

void note_renamed(OpenFiles& files, const std::string& before) {
    ManifestState& m = state(files);
    if (m.in_work && m.record.renamed_from.empty()) {
        m.record.renamed_from = before;
    }
}

void note_digests(OpenFiles& files, const hash::HashSet* source, const hash::HashSet* destination, bool compared,
                  bool match) {
    ManifestState& m = state(files);
    if (!m.in_work) {
        return;
    }
    FileRecord& r = m.record;
    r.source_hashed = source != nullptr;
    if (source != nullptr) {
        r.source_digests = *source;
    }
    r.destination_hashed = destination != nullptr;
    if (destination != nullptr) {
        r.destination_digests = *destination;
    }
    if (compared) {
        r.verdict = match ? Verdict::verified : Verdict::mismatch;
    }
}

void note_source_changed(OpenFiles& files, bool changed) {
    state(files).source_changed = changed;
}

void note_md5(OpenFiles& files, std::string_view source_md5, std::string_view destination_md5, bool compared) {
    hash::HashSet source;
    hash::HashSet destination;
    const auto fill = [](hash::HashSet& set, std::string_view text) {
        const std::size_t n = std::min(text.size(), set.md5.size() - 1);
        std::copy_n(text.data(), n, set.md5.data());
        set.md5[n] = '\0';
        if (text.find("ERROR") != std::string_view::npos) {
            set.status = hash::DigestStatus::read_failed;
        }
    };
    fill(source, source_md5);
    fill(destination, destination_md5);
    const bool match = source.status == hash::DigestStatus::ok && destination.status == hash::DigestStatus::ok &&
                       !source_md5.empty() && source_md5 == destination_md5;
    note_digests(files, source_md5.empty() ? nullptr : &source, destination_md5.empty() ? nullptr : &destination,
                 compared, match);
}

void note_failure_detail(OpenFiles& files, std::string_view detail) {
    ManifestState& m = state(files);
    if (m.in_work) {
        m.record.detail = std::string(detail);
    }
}

void file_not_copied(OpenFiles& files, const std::string& source, std::string_view reason) {
    ManifestState& m = state(files);
    if (m.writers.empty() || source == m.last_written) {
        return;
    }
    if (!m.in_work || m.record.source != source) {
        if (m.in_work) {
            begin_file(files, source, platform::FindRecord{});
        }
        FileRecord& r = m.record;
        r.source = source;
        r.destination.clear();
        r.renamed_from.clear();
        r.parent.clear();
        r.times_known = false;
        r.is_link = false;
        r.detail.clear();
        r.ownership = platform::FileOwnership{};
        r.link_target.clear();
        r.access_moved = false;
        clear_digests(r);
    }
    m.record.verdict = Verdict::not_copied;
    m.record.destination.clear();
    m.record.reason = std::string(reason);
    write_record(files, m);
}

void note_source_access(OpenFiles& files, bool moved) {
    ManifestState& m = state(files);
    if (m.in_work) {
        m.record.access_moved = moved;
    }
}

void file_done(OpenFiles& files, const std::string& destination, bool copied, bool existed) {
    ManifestState& m = state(files);
    if (!m.in_work) {
        return;
    }
    FileRecord& r = m.record;
    if (!copied || destination.empty()) {
        r.verdict = Verdict::not_copied;
        r.destination.clear();
        r.reason = copied ? "only its named streams were copied" : "reason: COPY ERROR";
        write_record(files, m);
        return;
    }
    r.destination = destination;
    r.copy_existed = r.copy_existed || existed;
    if (m.source_changed) {
        r.verdict = Verdict::source_changed;
    } else if (r.verdict == Verdict::not_copied) {
        r.verdict = r.copy_existed ? Verdict::updated : Verdict::copied_new;
    }
    write_record(files, m);
}

void stream_file_written(OpenFiles& files, const std::string& parent, std::string_view stream_name,
                         const std::string& stream_file, const platform::FindRecord& parent_entry) {
    ManifestState& m = state(files);
    if (m.writers.empty()) {
        return;
    }
    FileRecord r;
    r.source = std::string(paths::display_path(parent)) + ":" + std::string(stream_name);
    r.parent = parent;
    r.destination = stream_file;
    platform::FindRecord written;
    if (!platform::lookup_path(stream_file, written)) {
        r.size = written.size;
    }
    r.times = parent_entry.times;
    r.times_known = true;
    r.verdict = Verdict::copied_new;
    record_file(files, r);
}

// ---- files of proof -------------------------------------------------------

std::string numbered_name(std::string_view path, unsigned number) {
    std::size_t name_start = path.size();
    while (name_start > 0 && !paths::is_separator(path[name_start - 1])) {
        --name_start;
    }
    std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot <= name_start) {
        dot = path.size();  // no extension (a leading dot begins none)
    }
    std::string out(path.substr(0, dot));
    out += '.';
    out += std::to_string(number);
    out += path.substr(dot);
    return out;
}

ProofFile create_proof_file(OpenFiles& files, const std::string& path, const std::string& default_log) {
    // Enough numbers for any case folder; a directory that refuses every
    // name ends the search.
    constexpr unsigned last_number = 100000;
    ProofFile file{nullptr, path};
    bool existed = false;
    file.stream = platform::create_new_stream(path, existed);
    for (unsigned number = 2; file.stream == nullptr && existed && number <= last_number; ++number) {
        file.path = numbered_name(path, number);
        file.stream = platform::create_new_stream(file.path, existed);
    }
    if (file.stream != nullptr && file.path != path) {
        const std::string earlier = paths::shown_path(path);
        const std::string now = paths::shown_path(file.path);
        std::fprintf(stdout, "\n%s exists: this run writes %s\n", earlier.c_str(), now.c_str());
        // The default log is closed between the phases that write to it.
        std::FILE* log = default_log.empty() ? nullptr : platform::open_stream(default_log, "a+");
        if (log != nullptr) {
            std::fprintf(log, "%s exists: this run writes %s\n", earlier.c_str(), now.c_str());
            (void)close_output(files, log, default_log);  // a failure is said and kept there
        }
    }
    return file;
}

// ---- the seal -------------------------------------------------------------

void note_written_file(OpenFiles& files, const std::string& path) {
    if (path.empty()) {
        return;
    }
    std::vector<std::string>& written = state(files).written_files;
    std::string full = paths::make_long_path(path);
    if (std::find(written.begin(), written.end(), full) == written.end()) {
        written.push_back(std::move(full));
    }
}

const std::vector<std::string>& written_files(const OpenFiles& files) {
    return state(files).written_files;
}

namespace {

// Creates the seal's file beside the default log, else the hash log, else
// the first file written; once a run.
void open_seal(Run& s) {
    ManifestState& m = state(s.files);
    if (m.seal_tried) {
        return;
    }
    m.seal_tried = true;
    std::string seal;
    if (!s.logs.default_log_path.empty()) {
        seal = s.logs.default_log_path;
    } else if (!s.hashing.hash_log_path.empty()) {
        seal = s.hashing.hash_log_path;
    } else if (!m.written_files.empty()) {
        seal = m.written_files.front();
    } else {
        return;
    }
    seal = paths::make_long_path(seal) + ".sha256";
    ProofFile file = create_proof_file(s.files, seal, s.logs.default_log_path);
    if (file.stream == nullptr) {
        std::fprintf(stderr, "\nCan't open seal file %s\n", std::string(paths::display_path(seal)).c_str());
        return;
    }
    m.seal_stream = file.stream;
    m.seal_file = std::move(file.path);
}

}  // namespace

void create_seal_file(Run& s) {
    if (s.logs.seal) {
        open_seal(s);
    }
}

std::string seal_written_files(Run& s) {
    ManifestState& m = state(s.files);
    open_seal(s);
    if (m.seal_stream == nullptr) {
        return {};
    }
    std::FILE* out = std::exchange(m.seal_stream, nullptr);
    std::string seal = m.seal_file;
    const std::vector<std::string>& files = m.written_files;
    const std::string_view seal_dir = paths::parent(paths::display_path(seal));
    hash::DigestReader reader(hash::DigestReader::smallest_buffer_size);
    hash::DigestSelection sha256_only;
    sha256_only.md5 = false;
    sha256_only.sha256 = true;
    hash::HashSet digests;
    for (const std::string& file : files) {
        if (file == seal || !platform::path_exists(file) || output_incomplete(s.files, file) ||
            reader.hash_file(file, sha256_only, digests) != hash::DigestStatus::ok) {
            continue;
        }
        std::string hex(digests.text(hash::DigestKind::sha256));
        std::transform(hex.begin(), hex.end(), hex.begin(),
                       [](char c) { return (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c; });
        const std::string name = seal_name(paths::display_path(file), seal_dir);
        m.seal_entries.push_back({name, hex});
        if (needs_seal_escape(name)) {
            std::fprintf(out, "\\%s  %s\n", hex.c_str(), seal_escaped(name).c_str());
        } else {
            std::fprintf(out, "%s  %s\n", hex.c_str(), name.c_str());
        }
    }
    // A file that lost writes is not sealed as if it were whole: the seal
    // names it on a line that no checker reads as a digest.
    for (const OutputFault& fault : output_faults(s.files)) {
        std::fprintf(out, "# not sealed, incomplete (%s): %s\n", fault.reason.c_str(),
                     seal_escaped(seal_name(paths::display_path(fault.path), seal_dir)).c_str());
    }
    (void)close_output(s.files, out, seal);  // a seal not written whole is said and kept there
    m.seal_path = seal;
    return seal;
}

const std::vector<SealEntry>& seal_entries(const OpenFiles& files) {
    return state(files).seal_entries;
}

const std::string& seal_path(const OpenFiles& files) {
    return state(files).seal_path;
}

}  // namespace veldro::record
