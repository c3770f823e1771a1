// Named streams of a file (NTFS alternate data streams; user extended
// attributes on Linux): listing them, and the three extraction modes that
// turn them into ordinary files beside the copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hash/file_digest.h"
#include "platform/fs.h"
#include "platform/streams.h"
#include "run/outcome.h"
#include "run/run.h"

namespace veldro::ads {

// Lists the named streams of the file at `path` into
// s.streams.stream_table and returns their count: every named stream, the
// table grows as needed. A file that cannot be opened has none. A read
// error asks the user whether to go on (once per run); a refusal ends the
// run with USER_ABORTED.
int enumerate_streams(Run& s, const std::string& path);

// Enables the backup and restore privileges; when they cannot even be
// looked up, reports it and ends the run with OTHER_EXIT.
void enable_backup_privileges();

// What the stream work keeps from file to file: its own stream table, the
// digest reader and the copy buffer. One per thread that does the work.
struct StreamScratch {
    std::vector<platform::StreamRecord> table;
    hash::DigestReader reader;
    std::vector<unsigned char> copy_buffer;
    std::string temp_path;
    std::string base;
};

// The stream work of a file reads only the options and writes only its
// outcome: each stream handled becomes an entry of out.streams, each
// listing of the source an entry of out.listings, for the run report.

// --ADSCHILD: writes each stream of the source as "name[stream]" into the
// destination directory, in place of the file's copy, with the source's
// times, and puts the source's times back. Cuts out.destination to the
// destination directory, as the remaining steps of the file expect. True
// when every stream of the source became a file.
bool write_source_streams(const Options& o, FileOutcome& out, StreamScratch& w);

// --ADSEXTRACT/--ADSPARENT: writes each stream of the source as
// "name[stream]" beside the copy, with the source's times (and its MD5 for
// the hash log when hashing). Each is taken from the copy's stream of that
// name, or from the source's where the copy lacks it. With --ADSCHILD (the
// path then names the destination directory) there is nothing left to do.
void extract_copy_streams(const Options& o, FileOutcome& out, StreamScratch& w);

// Takes the digests of every stream of the source and of its counterpart
// at the destination and compares them: the copy's stream of the same
// name, or with --ADSCHILD the stream file written for it. A side that
// cannot be read never matches.
void hash_streams(const Options& o, FileOutcome& out, StreamScratch& w);

// "dir/report.doc" + "notes" -> "dir/report.doc[notes]".
std::string stream_file_path(std::string_view file_path, std::string_view stream_name);

// The text that names a stream in the logs: the file's display path, a
// colon and the stream's name ("report.doc:notes"). Only a text: streams
// are never opened through it.
std::string stream_display_text(std::string_view file_path, std::string_view stream_name);

}  // namespace veldro::ads
