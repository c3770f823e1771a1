// Choice between the portable digest code and the processor's own
// instructions for it.
#pragma once

#include <cstdint>

namespace veldro::hash {

enum class Engine : std::uint8_t {
    // The fastest code this processor can run (looked up once per process).
    best,
    // Plain C++ that runs everywhere; kept built and tested on every machine.
    portable,
};

// What the processor offers for the digests, looked up once.
struct CpuFeatures {
    bool sha_extensions = false;  // SHA-1 and SHA-256 instructions (with SSSE3 and SSE4.1)
    bool avx2 = false;            // 256-bit integer vectors, with BMI2 rotates
    bool avx512 = false;          // 512-bit integer vectors (AVX512F), their state saved by the system
};

const CpuFeatures& cpu_features();

}  // namespace veldro::hash
