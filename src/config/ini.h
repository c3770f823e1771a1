// The INI file: settings read before the command line, which may then
// override them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "run/run.h"

namespace veldro::config {

// Reads the program's own INI file (its path with the extension ".ini"),
// else the [BASE] section of KANDRELX.INI in the working directory; with
// neither there are no INI settings.
void read_ini_file(OptionTarget& s);

enum class IniFileKind : std::uint8_t {
    own,     // every line from the first one
    shared,  // only the lines between the first "[BASE]" line and the next one
};

// Reads the directives of one INI file (the part of read_ini_file after
// the file was found). A file that cannot be opened gives no settings.
void read_ini_from(OptionTarget& s, const std::string& path, IniFileKind kind);

// One directive line without its line end, the `line_number`th of its file.
// Returns true when the line matched a directive (it is then echoed into
// ini_echo). A value its directive cannot take ends the run with
// ILLEGAL_OPTION, naming the line.
bool apply_ini_line(OptionTarget& s, std::string_view line, int line_number = 0);

}  // namespace veldro::config
