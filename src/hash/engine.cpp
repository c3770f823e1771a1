#include "hash/engine.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace veldro::hash {

namespace {

#if defined(__x86_64__) || defined(__i386__)

// The extended state the system saves on a task switch (XCR0). Only read
// when the processor reports OSXSAVE.
std::uint64_t saved_state_mask() {
    std::uint32_t eax = 0;
    std::uint32_t edx = 0;
    asm volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<std::uint64_t>(edx) << 32U) | eax;
}

CpuFeatures detect() {
    CpuFeatures features;
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return features;
    }
    const bool ssse3 = (ecx & (1U << 9U)) != 0;
    const bool sse41 = (ecx & (1U << 19U)) != 0;
    const bool osxsave = (ecx & (1U << 27U)) != 0;
    const bool avx = (ecx & (1U << 28U)) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return features;
    }
    const bool avx2 = (ebx & (1U << 5U)) != 0;
    const bool bmi2 = (ebx & (1U << 8U)) != 0;
    const bool sha = (ebx & (1U << 29U)) != 0;
    const bool avx512f = (ebx & (1U << 16U)) != 0;
    features.sha_extensions = sha && ssse3 && sse41;
    // The wide registers are usable only when the system saves them
    // (SSE and AVX state enabled in XCR0); otherwise the vector code would
    // fault.
    const bool wide_state_saved = osxsave && (saved_state_mask() & 0x6U) == 0x6U;
    features.avx2 = avx && avx2 && bmi2 && wide_state_saved;
    // The 512-bit registers and the mask registers need their own state
    // saved too (opmask, upper halves of ZMM0-15, ZMM16-31).
    features.avx512 = features.avx2 && avx512f && (saved_state_mask() & 0xE6U) == 0xE6U;
    return features;
}

#else

CpuFeatures detect() {
    return {};
}

#endif

}  // namespace

const CpuFeatures& cpu_features() {
    static const CpuFeatures features = detect();
    return features;
}

}  // namespace veldro::hash
