// The record of an earlier run that names its copies with their digests:
// its hash log, its DFXML manifest or its audit set, told apart by their
// first lines. A record file is hostile input: every line must have the
// shape its writer gives it, and a path that is not absolute and plain (no
// "." or ".." parts, no empty parts) refuses the whole record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hash/file_digest.h"

namespace veldro::verify {

enum class RecordKind : std::uint8_t { unknown, hash_log, dfxml, audit_set };

// The record's kind as the run names it ("hash log", "DFXML", "audit set").
std::string_view kind_name(RecordKind kind);

// The bit of a digest kind in RecordedCopy::kinds.
constexpr std::uint8_t kind_bit(hash::DigestKind kind) {
    return static_cast<std::uint8_t>(1U << static_cast<unsigned>(kind));
}

// One copy the earlier run wrote.
struct RecordedCopy {
    // After RecordReader::finish: the path below the record's root, parts
    // separated by the native separator.
    std::string path;
    // The recorded digests of the kinds in `kinds`, upper case, one after
    // the other in the order of hash::DigestKind. No kind: the record names
    // the copy but holds no digest of it.
    std::string expected;
    std::uint8_t kinds = 0;
};

struct Record {
    RecordKind kind = RecordKind::unknown;
    // The earlier run's destination, absolute, in display form.
    std::string root;
    std::vector<RecordedCopy> copies;
    // The record names the links the run made (without digests); a hash
    // log and an audit set hold regular files only.
    bool names_links = false;
};

// The texts of `kinds` in `digests`, upper case, in the order of
// RecordedCopy::expected.
std::string digest_texts(const hash::HashSet& digests, std::uint8_t kinds);

// Reads a record one line at a time (without its line end; a carriage
// return before it is left out).
class RecordReader {
public:
    // False, with error(), when the line breaks the record's format.
    bool read_line(std::string_view line);
    // After the last line: the root found, every path made relative to it.
    // False, with error(), when no root can be had or a path is refused.
    bool finish();
    [[nodiscard]] const std::string& error() const { return error_; }
    Record& record() { return record_; }

private:
    bool fail(std::string_view why);
    bool detect(std::string_view line);
    bool hash_log_line(std::string_view line);
    bool dfxml_line(std::string_view line);
    bool audit_set_line(std::string_view line);
    bool add_copy(std::string path, const std::string& expected, std::uint8_t kinds);
    void keep_last_of_each();

    Record record_;
    std::string error_;
    std::size_t line_number_ = 0;
    // The recorded command line (DFXML, audit set) and the audit set's
    // working directory, which its relative names are taken against.
    std::string command_line_;
    std::string invoked_from_;
    // Audit set: the digest kinds of its columns, in column order.
    std::vector<hash::DigestKind> columns_;
    bool has_size_column_ = false;
    bool columns_read_ = false;
    // DFXML: the fileobject being read.
    bool in_fileobject_ = false;
    bool document_begun_ = false;
    std::string destination_;
    std::string verdict_;
    hash::HashSet source_digests_;
    hash::HashSet copy_digests_;
    std::uint8_t source_kinds_ = 0;
    std::uint8_t copy_kinds_ = 0;
};

}  // namespace veldro::verify
