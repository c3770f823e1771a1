// Named streams of a file (NTFS alternate data streams; user extended
// attributes on Linux): listing them, and the three extraction modes that
// turn them into ordinary files beside the copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs.h"
#include "platform/streams.h"
#include "run/run.h"

namespace veldro::ads {

// Lists the named streams of the file at `path` into
// s.streams.stream_table and returns their count: every named stream, the
// table grows as needed. A file that cannot be opened has none. A read
// error asks the user whether to go on (once per run); a refusal ends the
// run with USER_ABORTED.
int enumerate_streams(Run& s, const std::string& path);

// What a listing that ended with `status` after `listed` streams counts,
// with the messages and the question that such an end calls for: a file
// that cannot be opened or whose system keeps no streams has none; after a
// failed header read the user is asked (once per run) whether to go on,
// and the file then has none, or the ones listed so far once the user
// chose to go on; after a failed name read the ones listed so far.
int count_after_listing(Run& s, platform::StreamListStatus status, std::size_t listed);

// Enables the backup and restore privileges; when they cannot even be
// looked up, reports it and ends the run with OTHER_EXIT.
void enable_backup_privileges();

// --ADSCHILD: writes each stream of the source as "name[stream]" into the
// destination directory, in place of the file's copy, with the source's
// times, and puts the source's times back. Cuts `destination_file_path` to
// the destination directory, as the remaining steps of the file expect.
// Adds every stream file written to ads_files_copied. True when every
// stream of the source became a file.
bool write_source_streams(Run& s, const std::string& source_path, std::string& destination_file_path,
                          const platform::FindRecord& entry);

// --ADSEXTRACT/--ADSPARENT: writes each stream of the source as
// "name[stream]" beside the copy, with the source's times, and its MD5 to
// the hash log when hashing. Each is taken from the copy's stream of that
// name, or from the source's where the copy lacks it. Adds every stream
// file written to ads_files_copied and returns their number. With
// --ADSCHILD (the path then names the destination directory) there is
// nothing left to do.
int extract_copy_streams(Run& s, const std::string& source_path, const std::string& destination_file_path,
                         const platform::FindRecord& entry);

// Writes the digests of every stream of the source and of its counterpart
// at the destination to the hash log and compares them: the copy's stream
// of the same name, or with --ADSCHILD the stream file written for it. A
// stream that differs (or cannot be read) is marked [ERROR] and counted
// among the copy failures.
void hash_streams(Run& s, const std::string& source_path, const std::string& destination_file_path,
                  const platform::FindRecord& entry);

// "dir/report.doc" + "notes" -> "dir/report.doc[notes]".
std::string stream_file_path(std::string_view file_path, std::string_view stream_name);

// The text that names a stream in the logs: the file's display path, a
// colon and the stream's name ("report.doc:notes"). Only a text: streams
// are never opened through it.
std::string stream_display_text(std::string_view file_path, std::string_view stream_name);

}  // namespace veldro::ads
