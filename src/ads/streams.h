// Named streams of a file and the three extraction modes.
#pragma once

#include <cstdint>
#include <string>

#include "driver/settings.h"
#include "platform/fs.h"

namespace veldro::ads {

// Lists the named streams of `path` into the run's stream table; returns
// their count.
int enumerate_streams(RunSettings& s, const std::string& path);

// --ADSCHILD: writes the streams of the source beside the destination in
// place of the file's copy; leaves `destination_file_path` naming the
// destination directory. Returns true on success.
bool write_source_streams(RunSettings& s, const std::string& source_path, std::string& destination_file_path,
                          const platform::FindRecord& entry);

// --ADSEXTRACT/--ADSPARENT: extracts each stream to name[stream] beside the copy.
void extract_copy_streams(RunSettings& s, const std::string& source_path, const std::string& destination_file_path,
                          const platform::FindRecord& entry);

// Hashes the streams and their extracted files into the hash log.
void hash_streams(RunSettings& s, const std::string& source_path, const std::string& destination_file_path,
                  const platform::FindRecord& entry);

}  // namespace veldro::ads
