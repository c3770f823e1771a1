// MD5 on eight messages at once in the 256-bit registers of AVX2: each
// 32-bit lane carries one message's state through the same 64 steps. The
// message words of a block are turned from one row per message into one
// register per word by an 8 x 8 transpose.
#include "hash/md5_lanes.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "hash/md5_steps.h"

#define VELDRO_AVX2_TARGET __attribute__((target("avx2")))

namespace veldro::hash::detail {

namespace {

template <int S>
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) __m256i rotl(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, S), _mm256_srli_epi32(x, 32 - S));
}

// The round functions, written as in the single-message code.
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) __m256i round_F(__m256i b, __m256i c, __m256i d) {
    return _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
}
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) __m256i round_G(__m256i b, __m256i c, __m256i d) {
    return _mm256_or_si256(_mm256_and_si256(b, d), _mm256_andnot_si256(d, c));
}
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) __m256i round_H(__m256i b, __m256i c, __m256i d) {
    return _mm256_xor_si256(_mm256_xor_si256(b, c), d);
}
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) __m256i round_I(__m256i b, __m256i c, __m256i d) {
    return _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
}

// Word w of the block of every lane: x[w] from the eight rows at the
// lanes' data pointers.
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) void load_words(const unsigned char* const* data,
                                                                         std::size_t offset, __m256i* x) {
    for (int half = 0; half < 2; ++half) {
        __m256i r[8];
        for (int lane = 0; lane < 8; ++lane) {
            r[lane] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data[lane] + offset + 32 * half));
        }
        const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
        const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
        const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
        const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
        const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]);
        const __m256i t5 = _mm256_unpackhi_epi32(r[4], r[5]);
        const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]);
        const __m256i t7 = _mm256_unpackhi_epi32(r[6], r[7]);
        const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);
        const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);
        const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);
        const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);
        const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);
        const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
        const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
        const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
        __m256i* out = x + 8 * half;
        out[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
        out[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
        out[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
        out[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
        out[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
        out[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
        out[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
        out[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
    }
}

}  // namespace

VELDRO_AVX2_TARGET void md5_lanes_avx2(std::uint32_t* const* states, const unsigned char* const* data,
                                       std::size_t lanes, std::size_t blocks) {
    // Lanes beyond `lanes` run on the first message and are dropped.
    const unsigned char* rows[8];
    std::uint32_t words[4][8];
    for (std::size_t lane = 0; lane < 8; ++lane) {
        const std::size_t from = lane < lanes ? lane : 0;
        rows[lane] = data[from];
        for (int w = 0; w < 4; ++w) {
            words[w][lane] = states[from][w];
        }
    }
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words[0]));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words[1]));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words[2]));
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words[3]));
    for (std::size_t block = 0; block < blocks; ++block) {
        __m256i x[16];
        load_words(rows, 64 * block, x);
        const __m256i a0 = a;
        const __m256i b0 = b;
        const __m256i c0 = c;
        const __m256i d0 = d;
#define VELDRO_MD5_AVX2_STEP(round, a, b, c, d, word, constant, shift)                                   \
    (a) = _mm256_add_epi32(a, _mm256_add_epi32(x[word], _mm256_set1_epi32(static_cast<int>(constant)))); \
    (a) = _mm256_add_epi32(b, rotl<shift>(_mm256_add_epi32(a, round_##round(b, c, d))));
        VELDRO_MD5_STEPS(VELDRO_MD5_AVX2_STEP)
#undef VELDRO_MD5_AVX2_STEP
        a = _mm256_add_epi32(a, a0);
        b = _mm256_add_epi32(b, b0);
        c = _mm256_add_epi32(c, c0);
        d = _mm256_add_epi32(d, d0);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words[0]), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words[1]), b);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words[2]), c);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words[3]), d);
    for (std::size_t lane = 0; lane < lanes; ++lane) {
        for (int w = 0; w < 4; ++w) {
            states[lane][w] = words[w][lane];
        }
    }
}

}  // namespace veldro::hash::detail

#else

namespace veldro::hash::detail {
// Never chosen on processors without the instructions.
void md5_lanes_avx2(std::uint32_t* const* states, const unsigned char* const* data, std::size_t lanes,
                    std::size_t blocks) {
    md5_lanes_portable(states, data, lanes, blocks);
}
}  // namespace veldro::hash::detail

#endif
