// MD5 on sixteen messages at once in the 512-bit registers of AVX-512:
// each 32-bit lane carries one message's state through the same 64 steps.
// Each round function is one three-input logic instruction and each rotate
// one instruction. The message words of a block are turned from one row per
// message into one register per word by a 16 x 16 transpose.
#include "hash/md5_lanes.h"

#if defined(__x86_64__) || defined(__i386__)

// GCC 12's own AVX-512 intrinsics start their results from a deliberately
// undefined value, which its flow analysis then reports as possibly
// uninitialized wherever they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include "hash/md5_steps.h"

#define VELDRO_AVX512_TARGET __attribute__((target("avx512f")))

namespace veldro::hash::detail {

namespace {

// The round functions as truth tables of (b, c, d): F = b ? c : d,
// G = d ? b : c, H = b ^ c ^ d, I = c ^ (b | ~d).
constexpr int table_F = 0xCA;
constexpr int table_G = 0xE4;
constexpr int table_H = 0x96;
constexpr int table_I = 0x39;

// Word w of the block of every lane: x[w] from the sixteen rows at the
// lanes' data pointers.
VELDRO_AVX512_TARGET inline __attribute__((always_inline)) void load_words(const unsigned char* const* data,
                                                                           std::size_t offset, __m512i* x) {
    __m512i t[16];
    for (int pair = 0; pair < 8; ++pair) {
        const __m512i r0 = _mm512_loadu_si512(data[2 * pair] + offset);
        const __m512i r1 = _mm512_loadu_si512(data[2 * pair + 1] + offset);
        t[2 * pair] = _mm512_unpacklo_epi32(r0, r1);
        t[2 * pair + 1] = _mm512_unpackhi_epi32(r0, r1);
    }
    // u[4k + j], in each 128-bit chunk c: word 4c + j of lanes 4k .. 4k + 3.
    __m512i u[16];
    for (int k = 0; k < 4; ++k) {
        u[4 * k] = _mm512_unpacklo_epi64(t[4 * k], t[4 * k + 2]);
        u[4 * k + 1] = _mm512_unpackhi_epi64(t[4 * k], t[4 * k + 2]);
        u[4 * k + 2] = _mm512_unpacklo_epi64(t[4 * k + 1], t[4 * k + 3]);
        u[4 * k + 3] = _mm512_unpackhi_epi64(t[4 * k + 1], t[4 * k + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        const __m512i v0 = _mm512_shuffle_i32x4(u[j], u[4 + j], 0x44);
        const __m512i v1 = _mm512_shuffle_i32x4(u[j], u[4 + j], 0xEE);
        const __m512i v2 = _mm512_shuffle_i32x4(u[8 + j], u[12 + j], 0x44);
        const __m512i v3 = _mm512_shuffle_i32x4(u[8 + j], u[12 + j], 0xEE);
        x[j] = _mm512_shuffle_i32x4(v0, v2, 0x88);
        x[4 + j] = _mm512_shuffle_i32x4(v0, v2, 0xDD);
        x[8 + j] = _mm512_shuffle_i32x4(v1, v3, 0x88);
        x[12 + j] = _mm512_shuffle_i32x4(v1, v3, 0xDD);
    }
}

}  // namespace

VELDRO_AVX512_TARGET void md5_lanes_avx512(std::uint32_t* const* states, const unsigned char* const* data,
                                           std::size_t lanes, std::size_t blocks) {
    // Lanes beyond `lanes` run on the first message and are dropped.
    const unsigned char* rows[16];
    std::uint32_t words[4][16];
    for (std::size_t lane = 0; lane < 16; ++lane) {
        const std::size_t from = lane < lanes ? lane : 0;
        rows[lane] = data[from];
        for (int w = 0; w < 4; ++w) {
            words[w][lane] = states[from][w];
        }
    }
    __m512i a = _mm512_loadu_si512(words[0]);
    __m512i b = _mm512_loadu_si512(words[1]);
    __m512i c = _mm512_loadu_si512(words[2]);
    __m512i d = _mm512_loadu_si512(words[3]);
    for (std::size_t block = 0; block < blocks; ++block) {
        __m512i x[16];
        load_words(rows, 64 * block, x);
        const __m512i a0 = a;
        const __m512i b0 = b;
        const __m512i c0 = c;
        const __m512i d0 = d;
#define VELDRO_MD5_AVX512_STEP(round, a, b, c, d, word, constant, shift)                                 \
    (a) = _mm512_add_epi32(a, _mm512_add_epi32(x[word], _mm512_set1_epi32(static_cast<int>(constant)))); \
    (a) = _mm512_add_epi32(                                                                              \
        b, _mm512_rol_epi32(_mm512_add_epi32(a, _mm512_ternarylogic_epi32(b, c, d, table_##round)), shift));
        VELDRO_MD5_STEPS(VELDRO_MD5_AVX512_STEP)
#undef VELDRO_MD5_AVX512_STEP
        a = _mm512_add_epi32(a, a0);
        b = _mm512_add_epi32(b, b0);
        c = _mm512_add_epi32(c, c0);
        d = _mm512_add_epi32(d, d0);
    }
    _mm512_storeu_si512(words[0], a);
    _mm512_storeu_si512(words[1], b);
    _mm512_storeu_si512(words[2], c);
    _mm512_storeu_si512(words[3], d);
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
void md5_lanes_avx512(std::uint32_t* const* states, const unsigned char* const* data, std::size_t lanes,
                      std::size_t blocks) {
    md5_lanes_portable(states, data, lanes, blocks);
}
}  // namespace veldro::hash::detail

#endif
