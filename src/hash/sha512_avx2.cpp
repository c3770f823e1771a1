// SHA-512 compression for processors with AVX2. The message schedule of
// two blocks is computed side by side in 256-bit vectors (one 128-bit half
// per block, two schedule words per half) and stored with the round
// constants already added; the rounds then run on the scalar units with
// the BMI2 rotate, which leaves them free of schedule work.
#include "hash/sha512.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <bit>

#define VELDRO_AVX2_TARGET __attribute__((target("avx2,bmi2")))

namespace veldro::hash::detail {

namespace {

template <int N>
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) __m256i rotr64(__m256i x) {
    return _mm256_or_si256(_mm256_srli_epi64(x, N), _mm256_slli_epi64(x, 64 - N));
}

VELDRO_AVX2_TARGET inline __attribute__((always_inline)) __m256i small_sigma0(__m256i x) {
    // A rotation by 8 bits is a byte shuffle.
    const __m256i rot8 = _mm256_setr_epi8(1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8, 1, 2, 3, 4, 5, 6, 7, 0,
                                          9, 10, 11, 12, 13, 14, 15, 8);
    return _mm256_xor_si256(_mm256_xor_si256(rotr64<1>(x), _mm256_shuffle_epi8(x, rot8)), _mm256_srli_epi64(x, 7));
}

VELDRO_AVX2_TARGET inline __attribute__((always_inline)) __m256i small_sigma1(__m256i x) {
    return _mm256_xor_si256(_mm256_xor_si256(rotr64<19>(x), rotr64<61>(x)), _mm256_srli_epi64(x, 6));
}

// Schedule words plus round constants for two blocks: the four words from
// 4 * (t / 2) are words t & ~1 and t | 1 of the first block, then the same
// of the second. Kept as plain words (stored through the vector type, which
// may alias anything) so that the rounds read them without type punning.
struct alignas(32) TwoSchedules {
    std::uint64_t words[160];
};

VELDRO_AVX2_TARGET void schedule_two(TwoSchedules& out, const unsigned char* first, const unsigned char* second) {
    const __m256i byte_swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2,
                                               1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    __m256i x[40];
    for (int j = 0; j < 8; ++j) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 16 * j));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * j));
        x[j] = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), byte_swap);
    }
#pragma GCC unroll 32
    for (int j = 8; j < 40; ++j) {
        // Words t and t+1 (t = 2j) from t-16/t-15, t-15/t-14, t-7/t-6 and t-2/t-1.
        const __m256i w15 = _mm256_alignr_epi8(x[j - 7], x[j - 8], 8);
        const __m256i w7 = _mm256_alignr_epi8(x[j - 3], x[j - 4], 8);
        x[j] = _mm256_add_epi64(_mm256_add_epi64(x[j - 8], small_sigma0(w15)),
                                _mm256_add_epi64(w7, small_sigma1(x[j - 1])));
    }
#pragma GCC unroll 40
    for (int j = 0; j < 40; ++j) {
        const __m256i k =
            _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(sha512_k + 2 * j)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.words + 4 * j), _mm256_add_epi64(x[j], k));
    }
}

// The 80 rounds over one block's stored schedule; `half` is 0 or 1.
VELDRO_AVX2_TARGET void rounds(std::uint64_t* state, const TwoSchedules& sched, int half) {
    const std::uint64_t* wk = sched.words;
    std::uint64_t a = state[0];
    std::uint64_t b = state[1];
    std::uint64_t c = state[2];
    std::uint64_t d = state[3];
    std::uint64_t e = state[4];
    std::uint64_t f = state[5];
    std::uint64_t g = state[6];
    std::uint64_t h = state[7];
    // b ^ c of the round about to run: it is the previous round's a ^ b,
    // which makes the majority function one operation cheaper.
    std::uint64_t bc = b ^ c;
    auto round = [&](std::uint64_t& ra, std::uint64_t rb, std::uint64_t rc, std::uint64_t& rd, std::uint64_t re,
                     std::uint64_t rf, std::uint64_t rg, std::uint64_t& rh, std::uint64_t k) {
        (void)rc;
        const std::uint64_t t1 =
            rh + k + (std::rotr(re, 14) ^ std::rotr(re, 18) ^ std::rotr(re, 41)) + (rg ^ (re & (rf ^ rg)));
        const std::uint64_t ab = ra ^ rb;
        const std::uint64_t maj = (ab & bc) ^ rb;
        bc = ab;
        rd += t1;
        rh = t1 + maj + (std::rotr(ra, 28) ^ std::rotr(ra, 34) ^ std::rotr(ra, 39));
    };
    const int base = 2 * half;
#pragma GCC unroll 10
    for (int t = 0; t < 80; t += 8) {
        const std::uint64_t* p = wk + 4 * (t / 2) + base;
        round(a, b, c, d, e, f, g, h, p[0]);
        round(h, a, b, c, d, e, f, g, p[1]);
        round(g, h, a, b, c, d, e, f, p[4]);
        round(f, g, h, a, b, c, d, e, p[5]);
        round(e, f, g, h, a, b, c, d, p[8]);
        round(d, e, f, g, h, a, b, c, p[9]);
        round(c, d, e, f, g, h, a, b, p[12]);
        round(b, c, d, e, f, g, h, a, p[13]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

VELDRO_AVX2_TARGET void sha512_blocks_avx2(std::uint64_t* state, const unsigned char* data, std::size_t blocks) {
    TwoSchedules sched;
    for (; blocks >= 2; blocks -= 2, data += 256) {
        schedule_two(sched, data, data + 128);
        rounds(state, sched, 0);
        rounds(state, sched, 1);
    }
    if (blocks != 0) {
        schedule_two(sched, data, data);
        rounds(state, sched, 0);
    }
}

}  // namespace veldro::hash::detail

#else

namespace veldro::hash::detail {
// Never chosen on processors without the instructions.
void sha512_blocks_avx2(std::uint64_t* state, const unsigned char* data, std::size_t blocks) {
    sha512_blocks_portable(state, data, blocks);
}
}  // namespace veldro::hash::detail

#endif
