#include "record/audit_set_writer.h"

#include <array>
#include <utility>

#include "record/output_faults.h"
#include "record/recorder_state.h"
#include "util/paths.h"

namespace veldro::record {

namespace {

// Control characters become \xHH: a comment or a row stays one line.
std::string one_line(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            std::array<char, 8> hex{};
            std::snprintf(hex.data(), hex.size(), "\\x%02X", static_cast<unsigned>(byte));
            out += hex.data();
        } else {
            out += c;
        }
    }
    return out;
}

// The copy's name as hashdeep gives it from the destination: "./" and the
// path below it. A copy outside the destination (never made by a run)
// keeps its full path.
void append_name(std::string& row, std::string_view copy, std::string_view root) {
    while (root.size() > 1 && paths::is_separator(root.back())) {
        root.remove_suffix(1);
    }
    std::string_view below = copy;
    if (!root.empty() && copy.size() > root.size() && copy.substr(0, root.size()) == root &&
        (paths::is_separator(copy[root.size()]) || paths::is_separator(root.back()))) {
        below = copy.substr(root.size());
        while (!below.empty() && paths::is_separator(below.front())) {
            below.remove_prefix(1);
        }
        row += '.';
        row += paths::separator();
    }
    for (const char c : below) {
        if (c == '\n') {
            row += "\\n";
        } else {
            row += c;
        }
    }
}

bool usable(std::string_view digest) {
    return !digest.empty() && digest.find("ERROR") == std::string_view::npos;
}

void append_lower(std::string& out, std::string_view hex) {
    for (const char c : hex) {
        out += (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

}  // namespace

std::string audit_set_columns(const hash::DigestSelection& kinds) {
    std::string columns = "size,md5";
    if (kinds.sha1) {
        columns += ",sha1";
    }
    if (kinds.sha256) {
        columns += ",sha256";
    }
    return columns + ",filename";
}

std::string audit_set_row(const FileRecord& r, const hash::DigestSelection& kinds, std::string_view root) {
    if (r.destination.empty() || r.verdict == Verdict::not_copied || r.is_link) {
        return {};
    }
    // A copy that still differs from its source is listed with the
    // source's digests, so that the audit names it.
    const bool from_source = r.verdict == Verdict::mismatch && r.source_hashed;
    const hash::HashSet& set = from_source ? r.source_digests : r.destination_digests;
    if (!(from_source || r.destination_hashed) || set.status != hash::DigestStatus::ok) {
        return {};
    }
    std::string row = std::to_string(r.size);
    std::array<hash::DigestKind, 3> wanted{hash::DigestKind::md5, hash::DigestKind::sha1, hash::DigestKind::sha256};
    std::array<bool, 3> selected{true, kinds.sha1, kinds.sha256};
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (!selected[i]) {
            continue;
        }
        const std::string_view text = set.text(wanted[i]);
        if (!usable(text)) {
            return {};
        }
        row += ',';
        append_lower(row, text);
    }
    row += ',';
    append_name(row, paths::display_path(r.destination), root);
    return row;
}

AuditSetWriter::AuditSetWriter(OutputFaultState& faults, std::FILE* stream, const RunProvenance& run, std::string root)
    : faults_(faults), stream_(stream), kinds_(run.kinds), root_(std::move(root)) {
    std::fputs("%%%% HASHDEEP-1.0\n", stream_);
    std::fprintf(stream_, "%%%%%%%% %s\n", audit_set_columns(kinds_).c_str());
    // The names are relative to the destination, as if the set had been
    // made there: that is the directory it was, in effect, invoked from.
    std::fprintf(stream_, "## Invoked from: %s\n", one_line(root_).c_str());
    std::fprintf(stream_, "## $ %s\n##\n", one_line(run.command_line).c_str());
    std::fflush(stream_);
}

AuditSetWriter::~AuditSetWriter() {
    // The run closes it; this close only frees a writer left open by a run
    // that ended before, and a failure is said and kept by close_output.
    (void)close();
}

void AuditSetWriter::write(const FileRecord& record) {
    if (stream_ == nullptr) {
        return;
    }
    const std::string row = audit_set_row(record, kinds_, root_);
    if (row.empty()) {
        return;
    }
    std::fprintf(stream_, "%s\n", row.c_str());
    std::fflush(stream_);
}

bool AuditSetWriter::close() {
    if (stream_ == nullptr) {
        return true;
    }
    return close_output(faults_, stream_);
}

}  // namespace veldro::record
