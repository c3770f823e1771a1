// Hashing of source and copy, the verdict, retries and the hash log.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "hash/file_digest.h"
#include "platform/fs.h"
#include "run/run.h"

namespace veldro::copy {

// Copies a file by the two ways, reading its source once: when a digest of
// the source is wanted, the copy goes through the buffer and feeds every
// selected digest from the bytes it writes, and verify_copy uses those
// instead of reading the source again. A source that changed while it was
// copied is told on the console and gets error texts for digests. No error
// when a complete copy was made, else the reason.
std::error_code copy_for_verification(Run& s, const std::string& source_path, const std::string& dest_path);

// Runs for every file that reached the copy road, whether or not the copy
// succeeded: hashes the sides the options ask for (each file read once,
// whatever digest kinds are selected), compares the MD5 texts, copies again
// up to `retries` times while they differ, and writes the verdict on the
// console, the hash log with its _ERROR and _RERUN companions and the
// --UNICODE record. A side that is not there gets the not-found texts. A
// copy that still differs afterwards is counted in copy_failures unless the
// copy itself had already failed (`copy_succeeded` false: the pipeline
// counted it). Returns false when source and copy were both hashed and do
// not match: such a copy is not a verified one.
bool verify_copy(Run& s, const std::string& source_path, const std::string& dest_path,
                 const platform::FileTimeSet& source_times, bool copy_succeeded = true);

// The source digests of the file last verified (for callers that report them).
const hash::HashSet& last_source_digests();

// True when two MD5 texts prove the copy: equal, and neither is an error
// text (two unreadable files do not match each other).
bool digests_match(std::string_view source_md5, std::string_view destination_md5);

}  // namespace veldro::copy
