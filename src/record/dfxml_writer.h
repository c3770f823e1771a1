// The DFXML manifest: a Digital Forensics XML document with one
// fileobject per handled file, written as the run goes so that a run that
// stops early leaves a document that is whole up to its last fileobject.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/fs.h"
#include "record/manifests.h"

namespace veldro::record {

struct OutputFaultState;

// The namespace of the program's own elements in the document.
inline constexpr std::string_view veldro_xml_namespace = "urn:x-veldro:manifest:1";

// Text for XML character data or an attribute value. Characters XML
// cannot carry (bytes that are not UTF-8, control characters other than
// tab, line feed and carriage return) make the whole text take the
// escaped form: there "\xHH" is the byte HH and "\\" one backslash.
// Returns true when the escaped form was needed.
bool xml_text(std::string_view in, std::string& out);

// A file time as ISO 8601 UTC with the fraction the platform keeps
// ("2024-01-31T12:00:00.123456789Z", seven digits on Windows). Empty for
// an unknown time (no ticks).
std::string iso8601_utc(const platform::FileTime& time, int fraction_digits);
std::string iso8601_utc_seconds(std::int64_t calendar_seconds);

class DfxmlWriter final : public ManifestWriter {
public:
    // Takes ownership of `stream` and writes the document's opening.
    DfxmlWriter(OutputFaultState& faults, std::FILE* stream, const RunProvenance& run);
    ~DfxmlWriter() override;
    DfxmlWriter(const DfxmlWriter&) = delete;
    DfxmlWriter& operator=(const DfxmlWriter&) = delete;
    DfxmlWriter(DfxmlWriter&&) = delete;
    DfxmlWriter& operator=(DfxmlWriter&&) = delete;

    void write(const FileRecord& record) override;
    bool close() override;

private:
    void element(std::string_view indent, std::string_view name, std::string_view text);
    void name_element(std::string_view indent, std::string_view name, std::string_view path);
    void digests(std::string_view element_name, const hash::HashSet& set);

    OutputFaultState& faults_;
    std::FILE* stream_;
    hash::DigestSelection kinds_;
    std::string buffer_;
    std::uint64_t access_moved_ = 0;  // sources whose last-access time moved
};

}  // namespace veldro::record
