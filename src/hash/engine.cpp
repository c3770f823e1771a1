#include "hash/engine.h"

namespace veldro::hash {

namespace {

CpuFeatures detect() {
    CpuFeatures features;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    features.sha_extensions =
        __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
    // The compiler's check for AVX2 includes the system's consent to save the
    // wide registers, so the vector code is never run where it would fault.
    features.avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
#endif
    return features;
}

}  // namespace

const CpuFeatures& cpu_features() {
    static const CpuFeatures features = detect();
    return features;
}

}  // namespace veldro::hash
