// The known-hash set for audits: the copies' sizes and digests in the
// text format hashdeep reads ("%%%% HASHDEEP-1.0"), so that an audit of the
// destination months later names every copy that was altered, removed or
// added. Copies are named as hashdeep names them when it is run in the
// destination on "." with relative paths ("./sub/file"), so that the set
// still fits a copy whose folder was moved; links are left out, as
// hashdeep leaves them out when it takes regular files only.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "record/manifests.h"

namespace veldro::record {

struct OutputFaultState;

// The column line for the digest kinds selected: size, md5, then sha1 and
// sha256 when selected (the other kinds have no column in this format).
std::string audit_set_columns(const hash::DigestSelection& kinds);

// One row: size, the digests in lower case and the copy's name below
// `root` (the destination's display form), or empty when the record is a
// link or has no usable digest of its copy. The name is written as it is,
// tabs and other control characters included, as hashdeep reads them; only
// a line end, which no row can hold, is written as "\n".
std::string audit_set_row(const FileRecord& record, const hash::DigestSelection& kinds, std::string_view root);

class AuditSetWriter final : public ManifestWriter {
public:
    // Takes ownership of `stream` and writes the header.
    AuditSetWriter(OutputFaultState& faults, std::FILE* stream, const RunProvenance& run, std::string root);
    ~AuditSetWriter() override;
    AuditSetWriter(const AuditSetWriter&) = delete;
    AuditSetWriter& operator=(const AuditSetWriter&) = delete;
    AuditSetWriter(AuditSetWriter&&) = delete;
    AuditSetWriter& operator=(AuditSetWriter&&) = delete;

    void write(const FileRecord& record) override;
    bool close() override;
    [[nodiscard]] bool needs_copy_digests() const override { return true; }

private:
    OutputFaultState& faults_;
    std::FILE* stream_;
    hash::DigestSelection kinds_;
    std::string root_;
};

}  // namespace veldro::record
