// SHA-512 compression for processors with AVX2. The message schedule of
// two blocks is computed side by side in 256-bit vectors (one 128-bit half
// per block, two schedule words per half) and stored with the round
// constants already added. The vector units do this while the scalar
// units run the rounds of the first block (with the BMI2 rotate); the
// second block's rounds then find their schedule ready.
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

// The last eight schedule vectors, indexed by pair number modulo 8.
struct ScheduleRing {
    __m256i x[8];
};

VELDRO_AVX2_TARGET inline __attribute__((always_inline)) void store_with_constants(TwoSchedules& out, int j,
                                                                                   __m256i x) {
    const __m256i k = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(sha512_k + 2 * j)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(out.words + 4 * j), _mm256_add_epi64(x, k));
}

// Loads the sixteen message words of both blocks (pairs 0 to 7).
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) void load_two(ScheduleRing& ring, TwoSchedules& out,
                                                                       const unsigned char* first,
                                                                       const unsigned char* second) {
    const __m256i byte_swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2,
                                               1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 16 * j));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * j));
        ring.x[j] = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), byte_swap);
        store_with_constants(out, j, ring.x[j]);
    }
}

// Computes pair j (words 2j and 2j+1 of both blocks) from the ring.
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) void schedule_pair(ScheduleRing& ring, TwoSchedules& out,
                                                                            int j) {
    // Words t and t+1 (t = 2j) from t-16/t-15, t-15/t-14, t-7/t-6 and t-2/t-1.
    const __m256i w16 = ring.x[(j - 8) & 7];
    const __m256i w15 = _mm256_alignr_epi8(ring.x[(j - 7) & 7], w16, 8);
    const __m256i w7 = _mm256_alignr_epi8(ring.x[(j - 3) & 7], ring.x[(j - 4) & 7], 8);
    const __m256i x = _mm256_add_epi64(_mm256_add_epi64(w16, small_sigma0(w15)),
                                       _mm256_add_epi64(w7, small_sigma1(ring.x[(j - 1) & 7])));
    ring.x[j & 7] = x;
    store_with_constants(out, j, x);
}

// One SHA-512 round; the caller rotates the roles of the eight variables.
// `bc` is b ^ c of this round, which is the previous round's a ^ b: with it
// the majority function is one operation cheaper.
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) void round(std::uint64_t a, std::uint64_t b, std::uint64_t& d,
                                                                    std::uint64_t e, std::uint64_t f, std::uint64_t g,
                                                                    std::uint64_t& h, std::uint64_t wk,
                                                                    std::uint64_t& bc) {
    // The sums are grouped so that what waits for `e` comes last; the empty
    // asm keeps the compiler from regrouping them into a longer chain of
    // dependent additions.
    std::uint64_t early = h + wk;
    const std::uint64_t ch = ((f ^ g) & e) ^ g;
    const std::uint64_t s1 = std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41);
    early += ch;
    asm("" : "+r"(early));
    const std::uint64_t t1 = early + s1;
    d += t1;
    const std::uint64_t ab = a ^ b;
    const std::uint64_t maj = (ab & bc) ^ b;
    bc = ab;
    const std::uint64_t s0 = std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39);
    std::uint64_t late = t1 + maj;
    asm("" : "+r"(late));
    h = late + s0;
}

// The 80 rounds of one block over its stored schedule (`half` 0 or 1).
// With a ring given, the rounds also compute the rest of the schedule of
// both blocks, a few pairs after every eight rounds: the vector units work
// while the scalar units run the rounds.
template <bool Schedule>
VELDRO_AVX2_TARGET inline __attribute__((always_inline)) void rounds(std::uint64_t* state, TwoSchedules& sched,
                                                                     ScheduleRing& ring, int half) {
    const std::uint64_t* wk = sched.words + 2 * half;
    std::uint64_t a = state[0];
    std::uint64_t b = state[1];
    std::uint64_t c = state[2];
    std::uint64_t d = state[3];
    std::uint64_t e = state[4];
    std::uint64_t f = state[5];
    std::uint64_t g = state[6];
    std::uint64_t h = state[7];
    std::uint64_t bc = b ^ c;
#pragma GCC unroll 10
    for (int t = 0; t < 80; t += 8) {
        const std::uint64_t* p = wk + 4 * (t / 2);
        round(a, b, d, e, f, g, h, p[0], bc);
        round(h, a, c, d, e, f, g, p[1], bc);
        round(g, h, b, c, d, e, f, p[4], bc);
        round(f, g, a, b, c, d, e, p[5], bc);
        round(e, f, h, a, b, c, d, p[8], bc);
        round(d, e, g, h, a, b, c, p[9], bc);
        round(c, d, f, g, h, a, b, p[12], bc);
        round(b, c, e, f, g, h, a, p[13], bc);
        if constexpr (Schedule) {
            if (t < 64) {
                // Pairs for words t + 16 to t + 23, needed eight rounds on.
                schedule_pair(ring, sched, 8 + t / 2);
                schedule_pair(ring, sched, 9 + t / 2);
                schedule_pair(ring, sched, 10 + t / 2);
                schedule_pair(ring, sched, 11 + t / 2);
                // The rounds take the words from memory: left to itself the
                // compiler would pick them out of the vectors one by one.
                asm volatile("" ::: "memory");
            }
        }
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
    ScheduleRing ring;
    while (blocks != 0) {
        // A last single block is scheduled twice over and run once.
        const unsigned char* second = blocks >= 2 ? data + 128 : data;
        load_two(ring, sched, data, second);
        asm volatile("" ::: "memory");
        rounds<true>(state, sched, ring, 0);
        if (blocks >= 2) {
            rounds<false>(state, sched, ring, 1);
            blocks -= 2;
            data += 256;
        } else {
            blocks = 0;
        }
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
