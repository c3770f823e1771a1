// The known-hash set for audits: the copies' sizes and digests in the
// text format hashdeep reads ("%%%% HASHDEEP-1.0"), so that an audit of the
// destination months later names every copy that was altered, removed or
// added.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "logs/manifests.h"

namespace veldro::logs {

// The column line for the digest kinds selected: size, md5, then sha1 and
// sha256 when selected (the other kinds have no column in this format).
std::string audit_set_columns(const hash::DigestSelection& kinds);

// One row: size, the digests in lower case and the path, or empty when
// the record has no usable digest of its copy. A line end or other control
// character in the path is written as \xHH, so no name can add a row.
std::string audit_set_row(const FileRecord& record, const hash::DigestSelection& kinds);

class AuditSetWriter final : public ManifestWriter {
public:
    // Takes ownership of `stream` and writes the header.
    AuditSetWriter(std::FILE* stream, const RunProvenance& run, const std::string& working_directory);
    ~AuditSetWriter() override;
    AuditSetWriter(const AuditSetWriter&) = delete;
    AuditSetWriter& operator=(const AuditSetWriter&) = delete;
    AuditSetWriter(AuditSetWriter&&) = delete;
    AuditSetWriter& operator=(AuditSetWriter&&) = delete;

    void write(const FileRecord& record) override;
    bool close() override;
    [[nodiscard]] bool needs_copy_digests() const override { return true; }

private:
    std::FILE* stream_;
    hash::DigestSelection kinds_;
};

}  // namespace veldro::logs
