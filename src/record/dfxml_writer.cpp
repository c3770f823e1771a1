#include "record/dfxml_writer.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/identity.h"
#include "platform/timezone.h"
#include "record/output_faults.h"
#include "record/recorder_state.h"
#include "record/run_header.h"
#include "util/paths.h"
#include "util/text.h"

namespace veldro::record {

namespace {

constexpr std::string_view document_namespace = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
constexpr std::string_view schema_version = "2.0.0-beta.0";

constexpr std::string_view names_note =
    "Names are XML text. A name element with the attribute veldro:escaped=\"1\" held characters XML cannot carry "
    "(bytes that are not UTF-8, control characters): in it \\xHH stands for the byte with the hexadecimal value HH "
    "and \\\\ for one backslash; every other character stands for itself.";

// Length of the UTF-8 sequence at `at` that encodes a character XML can
// carry; 0 when the bytes there are not one.
std::size_t xml_char_length(std::string_view in, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return (lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r') ? 1 : 0;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    if ((lead & 0xE0U) == 0xC0U) {
        length = 2;
        code = lead & 0x1FU;
    } else if ((lead & 0xF0U) == 0xE0U) {
        length = 3;
        code = lead & 0x0FU;
    } else if ((lead & 0xF8U) == 0xF0U) {
        length = 4;
        code = lead & 0x07U;
    } else {
        return 0;
    }
    if (at + length > in.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0U) != 0x80U) {
            return 0;
        }
        code = (code << 6U) | (byte(at + i) & 0x3FU);
    }
    constexpr std::array<std::uint32_t, 5> smallest{0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF) {
        return 0;
    }
    return length;
}

void append_escaped_char(std::string& out, std::string_view ch) {
    switch (ch[0]) {
        case '&':
            out += "&amp;";
            return;
        case '<':
            out += "&lt;";
            return;
        case '>':
            out += "&gt;";
            return;
        case '"':
            out += "&quot;";
            return;
        // References keep these exactly: a parser would turn a literal
        // carriage return into a line feed.
        case '\t':
            out += "&#9;";
            return;
        case '\n':
            out += "&#10;";
            return;
        case '\r':
            out += "&#13;";
            return;
        default:
            out += ch;
    }
}

// Calendar seconds, with a fraction of `fraction_digits` digits, as an ISO
// 8601 UTC time.
std::string format_utc(std::int64_t seconds, std::uint64_t fraction, int fraction_digits) {
    const platform::CalendarFields f = utc_calendar(seconds);
    std::array<char, 64> text{};
    int n = std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d", f.year, f.month, f.day, f.hour,
                          f.minute, f.second);
    if (fraction_digits > 0) {
        n += std::snprintf(text.data() + n, text.size() - static_cast<std::size_t>(n), ".%0*llu", fraction_digits,
                           static_cast<unsigned long long>(fraction));
    }
    std::string out(text.data(), static_cast<std::size_t>(n));
    out += 'Z';
    return out;
}

const char* verdict_word(Verdict v) {
    switch (v) {
        case Verdict::copied_new:
            return "copied new";
        case Verdict::updated:
            return "updated";
        case Verdict::not_copied:
            return "not copied";
        case Verdict::verified:
            return "verified";
        case Verdict::mismatch:
            return "mismatch";
        case Verdict::source_changed:
            return "source changed";
    }
    return "";
}

std::string compiler_text() {
#if defined(__clang__)
    return std::string("clang ") + __clang_version__;
#elif defined(__GNUC__)
    return std::string("GCC ") + __VERSION__;
#else
    return "unknown";
#endif
}

constexpr int fraction_digits = paths::native_style == paths::Style::windows ? 7 : 9;

// The file's kind as DFXML's name_type letter: as the file system told it,
// else from the kind the walk saw.
char name_type_letter(const FileRecord& r) {
    if (r.ownership.known) {
        return r.ownership.type;
    }
    switch (r.kind) {
        case platform::EntryKind::regular:
            return 'r';
        case platform::EntryKind::directory:
            return 'd';
        case platform::EntryKind::symlink:
            return 'l';
        case platform::EntryKind::special:
            break;
    }
    return '-';
}

}  // namespace

bool xml_text(std::string_view in, std::string& out) {
    out.clear();
    bool plain = true;
    for (std::size_t at = 0; at < in.size() && plain;) {
        const std::size_t length = xml_char_length(in, at);
        plain = length != 0;
        at += length;
    }
    for (std::size_t at = 0; at < in.size();) {
        const std::size_t length = xml_char_length(in, at);
        if (length == 0) {
            std::array<char, 8> hex{};
            std::snprintf(hex.data(), hex.size(), "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(in[at])));
            out += hex.data();
            ++at;
            continue;
        }
        if (!plain && in[at] == '\\') {
            out += "\\\\";
        } else {
            append_escaped_char(out, in.substr(at, length));
        }
        at += length;
    }
    return !plain;
}

std::string iso8601_utc(const platform::FileTime& time, int digits) {
    if (time.ticks == 0) {
        return {};
    }
    const auto seconds =
        static_cast<std::int64_t>(time.ticks / platform::ticks_per_second) - platform::seconds_1601_to_1970;
    const std::uint64_t ticks = time.ticks % platform::ticks_per_second;
    const std::uint64_t fraction = digits >= 9 ? ticks * 100 + time.extra_ns : ticks;
    return format_utc(seconds, fraction, digits >= 9 ? 9 : 7);
}

std::string iso8601_utc_seconds(std::int64_t calendar_seconds) {
    return format_utc(calendar_seconds, 0, 0);
}

DfxmlWriter::DfxmlWriter(OutputFaultState& faults, std::FILE* stream, const RunProvenance& run)
    : faults_(faults), stream_(stream), kinds_(run.kinds) {
    const platform::ExecutionIdentity id = platform::execution_identity();
    std::fprintf(stream_, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    std::fprintf(stream_,
                 "<dfxml xmlns=\"%.*s\"\n       xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
                 "       xmlns:veldro=\"%.*s\"\n       version=\"%.*s\">\n",
                 static_cast<int>(document_namespace.size()), document_namespace.data(),
                 static_cast<int>(veldro_xml_namespace.size()), veldro_xml_namespace.data(),
                 static_cast<int>(schema_version.size()), schema_version.data());
    std::fputs("  <metadata>\n    <dc:type>File copy manifest</dc:type>\n", stream_);
    element("    ", "veldro:names", names_note);
    const std::array<std::pair<std::string_view, const std::string*>, 4> case_fields{
        {{"veldro:case_number", &run.case_number},
         {"veldro:exhibit", &run.exhibit},
         {"veldro:examiner", &run.examiner},
         {"veldro:notes", &run.notes}}};
    for (const auto& [name, value] : case_fields) {
        if (!value->empty()) {
            name_element("    ", name, *value);
        }
    }
    std::fputs("  </metadata>\n  <creator>\n", stream_);
    element("    ", "program", "VELDRO");
    element("    ", "version", run.program_version);
    std::fputs("    <build_environment>\n", stream_);
    element("      ", "compiler", compiler_text());
    std::fputs("    </build_environment>\n    <execution_environment>\n", stream_);
    element("      ", "os_sysname", id.os_sysname);
    element("      ", "os_release", id.os_release);
    element("      ", "os_version", id.os_version);
    element("      ", "host", id.host);
    element("      ", "arch", id.arch);
    name_element("      ", "command_line", run.command_line);
    element("      ", "uid", id.uid);
    element("      ", "username", id.username);
    element("      ", "start_time", iso8601_utc_seconds(run.start_time));
    std::fputs("    </execution_environment>\n  </creator>\n", stream_);
    std::fflush(stream_);
}

DfxmlWriter::~DfxmlWriter() {
    // The run closes it; this close only frees a writer left open by a run
    // that ended before, and a failure is said and kept by close_output.
    (void)close();
}

void DfxmlWriter::element(std::string_view indent, std::string_view name, std::string_view text) {
    if (text.empty()) {
        return;
    }
    xml_text(text, buffer_);
    std::fprintf(stream_, "%.*s<%.*s>%s</%.*s>\n", static_cast<int>(indent.size()), indent.data(),
                 static_cast<int>(name.size()), name.data(), buffer_.c_str(), static_cast<int>(name.size()),
                 name.data());
}

void DfxmlWriter::name_element(std::string_view indent, std::string_view name, std::string_view path) {
    const bool escaped = xml_text(path, buffer_);
    std::fprintf(stream_, "%.*s<%.*s%s>%s</%.*s>\n", static_cast<int>(indent.size()), indent.data(),
                 static_cast<int>(name.size()), name.data(), escaped ? " veldro:escaped=\"1\"" : "", buffer_.c_str(),
                 static_cast<int>(name.size()), name.data());
}

void DfxmlWriter::digests(std::string_view element_name, const hash::HashSet& set) {
    struct Kind {
        hash::DigestKind kind;
        const char* type;
        bool hash::DigestSelection::*selected;
    };
    static constexpr std::array<Kind, 5> kinds{{
        {hash::DigestKind::md5, "md5", &hash::DigestSelection::md5},
        {hash::DigestKind::sha1, "sha1", &hash::DigestSelection::sha1},
        {hash::DigestKind::sha256, "sha256", &hash::DigestSelection::sha256},
        {hash::DigestKind::sha384, "sha384", &hash::DigestSelection::sha384},
        {hash::DigestKind::sha512, "sha512", &hash::DigestSelection::sha512},
    }};
    if (set.status != hash::DigestStatus::ok) {
        return;
    }
    for (const Kind& k : kinds) {
        const std::string_view text = set.text(k.kind);
        if (k.kind != hash::DigestKind::md5 && !(kinds_.*(k.selected))) {
            continue;
        }
        if (text.empty() || text.find("ERROR") != std::string_view::npos) {
            continue;
        }
        std::fprintf(stream_, "    <%.*s type=\"%s\">%s</%.*s>\n", static_cast<int>(element_name.size()),
                     element_name.data(), k.type, util::to_lower(text).c_str(), static_cast<int>(element_name.size()),
                     element_name.data());
    }
}

void DfxmlWriter::write(const FileRecord& r) {
    if (stream_ == nullptr) {
        return;
    }
    std::fputs("  <fileobject>\n", stream_);
    name_element("    ", "filename", paths::display_path(r.source));
    if (r.source_hashed && r.source_digests.status != hash::DigestStatus::ok) {
        element("    ", "error", "the source could not be read to its end for its digests");
    }
    if (r.times_known) {
        std::fprintf(stream_, "    <name_type>%c</name_type>\n", name_type_letter(r));
        std::fprintf(stream_, "    <filesize>%llu</filesize>\n", static_cast<unsigned long long>(r.size));
        if (const platform::FileOwnership& w = r.ownership; w.known) {
            std::fprintf(stream_,
                         "    <inode>%llu</inode>\n    <mode>%u</mode>\n    <nlink>%llu</nlink>\n"
                         "    <uid>%u</uid>\n    <gid>%u</gid>\n",
                         static_cast<unsigned long long>(w.inode), static_cast<unsigned>(w.mode & 07777U),
                         static_cast<unsigned long long>(w.nlink), static_cast<unsigned>(w.uid),
                         static_cast<unsigned>(w.gid));
        }
        element("    ", "mtime", iso8601_utc(r.times.last_write, fraction_digits));
        element("    ", "atime", iso8601_utc(r.times.last_access, fraction_digits));
        element("    ", "crtime", iso8601_utc(r.times.creation, fraction_digits));
        if (r.kind == platform::EntryKind::symlink && !r.link_target.empty()) {
            name_element("    ", "link_target", r.link_target);
        }
    }
    if (r.source_hashed) {
        digests("hashdigest", r.source_digests);
    }
    if (!r.destination.empty()) {
        name_element("    ", "veldro:destination", paths::display_path(r.destination));
    }
    if (!r.renamed_from.empty()) {
        name_element("    ", "veldro:renamed_from", paths::display_path(r.renamed_from));
        name_element("    ", "veldro:renamed_name", paths::file_name(r.destination));
    }
    if (!r.parent.empty()) {
        name_element("    ", "veldro:parent", paths::display_path(r.parent));
    }
    if (r.destination_hashed) {
        digests("veldro:hashdigest", r.destination_digests);
    }
    element("    ", "veldro:verdict", verdict_word(r.verdict));
    if (r.verdict == Verdict::not_copied) {
        element("    ", "veldro:reason", r.reason);
    } else {
        element("    ", "veldro:copy", r.copy_existed ? "updated" : "new");
    }
    if (r.access_moved) {
        std::fputs("    <veldro:source_atime_moved>1</veldro:source_atime_moved>\n", stream_);
        ++access_moved_;
    }
    std::fputs("  </fileobject>\n", stream_);
    std::fflush(stream_);
}

bool DfxmlWriter::close() {
    if (stream_ == nullptr) {
        return true;
    }
    std::fprintf(stream_, "  <veldro:sources_atime_moved>%llu</veldro:sources_atime_moved>\n</dfxml>\n",
                 static_cast<unsigned long long>(access_moved_));
    return close_output(faults_, stream_);
}

}  // namespace veldro::record
