// The check of an earlier run's copies against its record: every copy read
// once and hashed with the kinds the record holds, the destination walked
// (links never followed) for files the run did not write.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_system.h"
#include "verify/record.h"

namespace veldro::verify {

enum class Finding : std::uint8_t { matched, altered, missing, unreadable, added };

struct Checked {
    // The copy in the record; null for a file the record does not name.
    const RecordedCopy* copy = nullptr;
    // Below the destination checked (for an added file, its path there).
    std::string path;
    Finding finding = Finding::matched;
    // altered: the digests found, in the order of RecordedCopy::expected.
    std::string found;
    // unreadable: why.
    std::string reason;
};

struct CheckCounts {
    std::uint64_t matched = 0;
    std::uint64_t altered = 0;
    std::uint64_t missing = 0;
    std::uint64_t unreadable = 0;
    std::uint64_t added = 0;
};

// Called in record order for every copy, then for every added file in the
// order of their paths, on the calling thread.
using CheckReport = std::function<void(const Checked&)>;

// Checks the copies of `record` below `root` (internal form; the record's
// own root, or where its copies were moved to) with `threads` workers.
// Paths equal to one of `own_files` (internal form: the record, the
// check's outputs) are never listed as added.
CheckCounts check_copies(platform::FileSystem& files, const Record& record, const std::string& root, unsigned threads,
                         const std::vector<std::string>& own_files, const CheckReport& report);

}  // namespace veldro::verify
