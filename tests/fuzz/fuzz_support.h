// Shared by the fuzz targets: a scratch directory that every file the
// parsers open or create stays inside, and the clean-up after each input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run/run.h"

namespace veldro::fuzz {

// Makes <tmp>/veldro-fuzz-XXXXXX/work the working directory and points
// standard input and output at /dev/null, so that no prompt waits and no
// report slows the run. Call once, from LLVMFuzzerInitialize.
void enter_sandbox();

// True when text from the input may name files: it holds no '/' and no
// "..", so that every name resolves inside the scratch directory (or, for
// ".", names the work directory itself, whose siblings the scratch
// directory also holds).
bool stays_in_sandbox(std::string_view text);

// Closes every stream the settings hold and removes everything the input
// created in the scratch directory.
void finish_input(OwnedRun& s);

// Writes the bytes to a file in the work directory; gives its name.
std::string write_work_file(std::string_view name, std::string_view bytes);

// The input as text.
inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

// The input split at each line feed.
std::vector<std::string> split_lines(std::string_view text);

}  // namespace veldro::fuzz
