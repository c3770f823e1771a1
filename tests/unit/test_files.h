// Reading and writing whole files in unit tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "run/options.h"
#include "util/run_end.h"

namespace veldro {

// The hash choice as one number, the way the options tables below were
// first written: 2 the sources, 4 the copies, 8 both compared.
inline int hash_code(const HashOptions& h) {
    if (h.compare) {
        return 8;
    }
    return (h.hash_sources ? 2 : 0) + (h.hash_copies ? 4 : 0);
}

// Runs `body` as the driver runs a phase: a run ended from below leaves the
// process with its reason as the exit status (for death tests).
template <class Body>
void ending_run(Body body) {
    try {
        body();
    } catch (const util::RunEnd& end) {
        std::fflush(nullptr);
        std::_Exit(end.reason);
    }
}

}  // namespace veldro

namespace veldro::test {

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Everything written to a stream so far (it is flushed and rewound).
inline std::string read_stream(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[512];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
    }
    return text;
}

}  // namespace veldro::test
