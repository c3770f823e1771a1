#include "verify/verify_run.h"

#include <array>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "platform/system.h"
#include "record/dfxml_writer.h"
#include "record/log_set.h"
#include "record/report.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "util/version.h"
#include "verify/check.h"

namespace veldro::verify {

namespace {

struct KindLabel {
    hash::DigestKind kind;
    std::string_view label;
    std::size_t length;
};
constexpr std::array<KindLabel, 5> kind_labels{{{hash::DigestKind::md5, "MD5", 32},
                                                {hash::DigestKind::sha1, "SHA-1", 40},
                                                {hash::DigestKind::sha256, "SHA-256", 64},
                                                {hash::DigestKind::sha384, "SHA-384", 96},
                                                {hash::DigestKind::sha512, "SHA-512", 128}}};

// "MD5 0123..., SHA-256 4567..." for the kinds of a copy's texts.
std::string labelled(std::string_view texts, std::uint8_t kinds) {
    std::string out;
    std::size_t at = 0;
    for (const KindLabel& k : kind_labels) {
        if ((kinds & kind_bit(k.kind)) == 0 || at + k.length > texts.size()) {
            continue;
        }
        out += out.empty() ? "" : ", ";
        out += k.label;
        out += ' ';
        out += texts.substr(at, k.length);
        at += k.length;
    }
    return out;
}

constexpr std::array<std::string_view, 5> finding_words{"MATCHED", "ALTERED", "MISSING", "UNREADABLE", "ADDED"};

std::string_view word_of(Finding f) {
    return finding_words.at(static_cast<std::size_t>(f));
}

// One finding as the console and the log show it; a match only in the log.
void write_finding(std::FILE* out, const std::string& shown, const Checked& c) {
    std::fprintf(out, "%-10.*s %s", static_cast<int>(word_of(c.finding).size()), word_of(c.finding).data(),
                 shown.c_str());
    if (c.finding == Finding::unreadable) {
        std::fprintf(out, " (%s)", c.reason.c_str());
    }
    std::fputc('\n', out);
    if (c.finding == Finding::altered) {
        std::fprintf(out, "           recorded %s\n", labelled(c.copy->expected, c.copy->kinds).c_str());
        std::fprintf(out, "           found    %s\n", labelled(c.found, c.copy->kinds).c_str());
    }
}

// The verification as a DFXML document: one fileobject per copy checked
// and per file added, in the order of the log.
class VerifyDfxml {
public:
    VerifyDfxml(std::FILE* out, const std::string& record_shown, RecordKind kind, const std::string& command_line)
        : out_(out) {
        std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", out_);
        std::fprintf(out_,
                     "<dfxml xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\"\n"
                     "       xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
                     "       xmlns:veldro=\"%.*s\"\n       version=\"2.0.0-beta.0\">\n",
                     static_cast<int>(record::veldro_xml_namespace.size()), record::veldro_xml_namespace.data());
        std::fputs("  <metadata>\n    <dc:type>Verification of copies</dc:type>\n  </metadata>\n", out_);
        std::fprintf(out_, "  <creator>\n    <program>VELDRO</program>\n    <version>%s</version>\n",
                     text(util::program_version_text()).c_str());
        std::fprintf(out_, "    <execution_environment>\n      <command_line%s</command_line>\n",
                     name(command_line).c_str());
        std::fputs("    </execution_environment>\n  </creator>\n", out_);
        std::fprintf(out_, "  <veldro:record kind=\"%.*s\"%s</veldro:record>\n",
                     static_cast<int>(kind_name(kind).size()), kind_name(kind).data(), name(record_shown).c_str());
    }

    void write(const std::string& path, const Checked& c) {
        std::fprintf(out_, "  <fileobject>\n    <filename%s</filename>\n", name(path).c_str());
        if (c.finding == Finding::matched || c.finding == Finding::altered) {
            put_digests("hashdigest", c.found, c.copy->kinds);
        }
        if (c.copy != nullptr) {
            put_digests("veldro:recorded", c.copy->expected, c.copy->kinds);
        }
        std::string word(word_of(c.finding));
        for (char& ch : word) {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
        std::fprintf(out_, "    <veldro:finding>%s</veldro:finding>\n", word.c_str());
        if (!c.reason.empty()) {
            std::fprintf(out_, "    <veldro:reason>%s</veldro:reason>\n", text(c.reason).c_str());
        }
        std::fputs("  </fileobject>\n", out_);
    }

    void close() { std::fputs("</dfxml>\n", out_); }

private:
    // The rest of an opening tag and the text: an escaped name says so.
    std::string name(const std::string& value) {
        const bool escaped = record::xml_text(value, buffer_);
        return (escaped ? " veldro:escaped=\"1\">" : ">") + buffer_;
    }
    std::string text(const std::string& value) {
        record::xml_text(value, buffer_);
        return buffer_;
    }
    void put_digests(std::string_view element, std::string_view texts, std::uint8_t kinds) {
        std::size_t at = 0;
        constexpr std::array<std::string_view, 5> types{"md5", "sha1", "sha256", "sha384", "sha512"};
        for (std::size_t i = 0; i < kind_labels.size(); ++i) {
            const KindLabel& k = kind_labels.at(i);
            if ((kinds & kind_bit(k.kind)) == 0 || at + k.length > texts.size()) {
                continue;
            }
            std::string hex(texts.substr(at, k.length));
            for (char& ch : hex) {
                ch = (ch >= 'A' && ch <= 'F') ? static_cast<char>(ch - 'A' + 'a') : ch;
            }
            std::fprintf(out_, "    <%.*s type=\"%.*s\">%s</%.*s>\n", static_cast<int>(element.size()), element.data(),
                         static_cast<int>(types.at(i).size()), types.at(i).data(), hex.c_str(),
                         static_cast<int>(element.size()), element.data());
            at += k.length;
        }
    }

    std::FILE* out_;
    std::string buffer_;
};

// The verification as one HTML page: the counts, then every copy that did
// not match and every file added, in the order of the log.
class VerifyReport {
public:
    VerifyReport(std::FILE* out, const std::string& record_shown, RecordKind kind, const std::string& root_shown)
        : out_(out) {
        std::fputs("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n", out_);
        std::fputs("<title>VELDRO verification</title>\n</head>\n<body>\n<h1>Verification of copies</h1>\n", out_);
        std::fprintf(out_, "<p>Record: %s (%.*s)<br>Copies below: %s</p>\n", record::html_text(record_shown).c_str(),
                     static_cast<int>(kind_name(kind).size()), kind_name(kind).data(),
                     record::html_text(root_shown).c_str());
        std::fputs("<table>\n<tr><th>finding</th><th>copy</th><th>detail</th></tr>\n", out_);
    }

    void write(const std::string& shown, const Checked& c) {
        if (c.finding == Finding::matched) {
            return;
        }
        std::string detail = c.reason;
        if (c.finding == Finding::altered) {
            detail =
                "recorded " + labelled(c.copy->expected, c.copy->kinds) + "; found " + labelled(c.found, c.copy->kinds);
        }
        std::fprintf(out_, "<tr><td>%.*s</td><td>%s</td><td>%s</td></tr>\n",
                     static_cast<int>(word_of(c.finding).size()), word_of(c.finding).data(),
                     record::html_text(shown).c_str(), record::html_text(detail).c_str());
    }

    void close(const CheckCounts& n, std::size_t named) {
        std::fprintf(out_,
                     "</table>\n<p>%zu copies named: %llu matched, %llu altered, %llu missing, %llu unreadable; "
                     "%llu added</p>\n</body>\n</html>\n",
                     named, static_cast<unsigned long long>(n.matched), static_cast<unsigned long long>(n.altered),
                     static_cast<unsigned long long>(n.missing), static_cast<unsigned long long>(n.unreadable),
                     static_cast<unsigned long long>(n.added));
    }

private:
    std::FILE* out_;
};

// A name beside `path` that nothing stands at: the path itself, or with
// ".2", ".3", ... before its extension, so that no earlier document is
// overwritten.
std::string free_name(const std::string& path) {
    if (!platform::path_exists(path)) {
        return path;
    }
    const paths::PathParts p = paths::split(path);
    for (int n = 2;; ++n) {
        std::string next = p.drive + p.directory + p.name + "." + std::to_string(n) + p.extension;
        if (!platform::path_exists(next)) {
            return next;
        }
    }
}

std::FILE* open_output(const std::string& path, const char* mode) {
    std::FILE* out = platform::open_stream(path, mode);
    if (out == nullptr) {
        std::fprintf(stderr, "\nCan't open %s\n", paths::shown_path(path).c_str());
    }
    return out;
}

}  // namespace

bool read_record(std::FILE* stream, Record& record, std::string& error) {
    RecordReader reader;
    std::string line;
    std::vector<char> chunk(std::size_t{1} << 16U);
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), stream);
        for (std::size_t i = 0; i < got; ++i) {
            if (chunk[i] != '\n') {
                line += chunk[i];
                continue;
            }
            if (!reader.read_line(line)) {
                error = reader.error();
                return false;
            }
            line.clear();
        }
        if (got < chunk.size()) {
            break;
        }
    }
    if (std::ferror(stream) != 0) {
        error = "it could not be read to its end";
        return false;
    }
    if ((!line.empty() && !reader.read_line(line)) || !reader.finish()) {
        error = reader.error();
        return false;
    }
    record = std::move(reader.record());
    return true;
}

int verify_copies(const Run& s) {
    const std::string record_path = paths::make_long_path(s.logs.verify_record_path);
    const std::string record_shown = paths::shown_path(record_path);
    Record record;
    std::string error;
    std::FILE* in = platform::open_stream(record_path, "rb");
    if (in == nullptr) {
        std::fprintf(stdout, "\nCan't read the record %s (%s)\n", record_shown.c_str(),
                     platform::error_text(std::error_code(errno, std::generic_category())).c_str());
        return ILLEGAL_OPTION;
    }
    const bool read = read_record(in, record, error);
    std::fclose(in);
    if (!read) {
        std::fprintf(stdout, "\nThe record %s is not a hash log, DFXML or audit set this check can read: %s\n",
                     record_shown.c_str(), error.c_str());
        return ILLEGAL_OPTION;
    }
    // Copies that were moved are looked for below the new place, by their
    // paths below the destination the record names.
    const std::string root = s.paths.dest_given ? s.paths.dest_path : paths::make_long_path(record.root);
    if (record.root.empty() && !s.paths.dest_given) {
        std::fprintf(stdout, "\nThe record %s names no copy; give the destination with -d\n", record_shown.c_str());
        return ILLEGAL_OPTION;
    }
    std::vector<std::string> own_files{record_path};
    std::FILE* log = nullptr;
    if (!s.logs.default_log_path.empty()) {
        const std::string name = paths::make_long_path(record::hash_companion_name(s.logs.default_log_path, "_VERIFY"));
        own_files.push_back(name);
        own_files.push_back(paths::make_long_path(s.logs.default_log_path));
        log = open_output(name, "a");
    }
    std::FILE* dfxml_stream = nullptr;
    if (!s.logs.dfxml_path.empty()) {
        const std::string name = free_name(paths::make_long_path(s.logs.dfxml_path));
        own_files.push_back(name);
        dfxml_stream = open_output(name, "w");
    }
    std::FILE* report_stream = nullptr;
    if (!s.logs.report_path.empty()) {
        const std::string name = free_name(paths::make_long_path(s.logs.report_path));
        own_files.push_back(name);
        report_stream = open_output(name, "w");
    }
    if ((log == nullptr && !s.logs.default_log_path.empty()) ||
        (dfxml_stream == nullptr && !s.logs.dfxml_path.empty()) ||
        (report_stream == nullptr && !s.logs.report_path.empty())) {
        return OUTPUT_FILE;
    }
    std::optional<VerifyDfxml> dfxml;
    if (dfxml_stream != nullptr) {
        dfxml.emplace(dfxml_stream, record_shown, record.kind, s.logs.command_line);
    }

    const std::string root_shown = paths::shown_path(root);
    std::optional<VerifyReport> report;
    if (report_stream != nullptr) {
        report.emplace(report_stream, record_shown, record.kind, root_shown);
    }
    const auto heading = [&](std::FILE* out) {
        std::fprintf(out, "\n VERIFY %s (%.*s)\n", record_shown.c_str(),
                     static_cast<int>(kind_name(record.kind).size()), kind_name(record.kind).data());
        std::fprintf(out, " Copies below %s", root_shown.c_str());
        if (s.paths.dest_given && !record.root.empty()) {
            std::fprintf(out, " (written below %s)", util::shown_name(record.root).c_str());
        }
        std::fputs("\n\n", out);
    };
    heading(stdout);
    if (log != nullptr) {
        std::fprintf(log, "\n Command line: %s", s.logs.command_line.c_str());
        heading(log);
    }
    platform::NativeFileSystem files;
    const CheckCounts counts = check_copies(files, record, root, s.options.threads, own_files, [&](const Checked& c) {
        const std::string full = paths::join(root, c.path);
        const std::string shown = paths::shown_path(full);
        if (c.finding != Finding::matched) {
            write_finding(stdout, shown, c);
        }
        if (log != nullptr) {
            write_finding(log, shown, c);
        }
        if (dfxml) {
            dfxml->write(std::string(paths::display_path(full)), c);
        }
        if (report) {
            report->write(shown, c);
        }
    });
    const bool all_matched = counts.altered == 0 && counts.missing == 0 && counts.unreadable == 0 && counts.added == 0;
    const auto summary = [&](std::FILE* out) {
        std::fprintf(
            out, "\n %llu copies named: %llu matched, %llu altered, %llu missing, %llu unreadable; %llu added\n",
            static_cast<unsigned long long>(record.copies.size()), static_cast<unsigned long long>(counts.matched),
            static_cast<unsigned long long>(counts.altered), static_cast<unsigned long long>(counts.missing),
            static_cast<unsigned long long>(counts.unreadable), static_cast<unsigned long long>(counts.added));
        std::fputs(all_matched ? " Every copy matches its record\n" : " THE COPIES DO NOT MATCH THEIR RECORD\n", out);
    };
    summary(stdout);
    bool written = true;
    if (log != nullptr) {
        summary(log);
        written = std::fflush(log) == 0 && std::ferror(log) == 0;
        written = std::fclose(log) == 0 && written;
    }
    if (dfxml) {
        dfxml->close();
        written = std::fflush(dfxml_stream) == 0 && std::ferror(dfxml_stream) == 0 && written;
        written = std::fclose(dfxml_stream) == 0 && written;
    }
    if (report) {
        report->close(counts, record.copies.size());
        written = std::fflush(report_stream) == 0 && std::ferror(report_stream) == 0 && written;
        written = std::fclose(report_stream) == 0 && written;
    }
    if (!written) {
        std::fputs("\nAn output of the check could not be written whole\n", stderr);
    }
    if (platform::interrupt_requested()) {
        return USER_ABORTED;
    }
    return all_matched && written ? NORMAL_EXIT : WRITE_ERROR;
}

}  // namespace veldro::verify
