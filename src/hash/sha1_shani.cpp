// SHA-1 compression with the processor's SHA instructions. Each group
// below is four rounds; the sixteen-word schedule lives in four vector
// registers that take turns, and the fifth state word alternates between
// two registers.
#include "hash/sha1.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <utility>

#define VELDRO_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace veldro::hash::detail {

namespace {

struct Sha1Lanes {
    __m128i abcd;
    __m128i e[2];
    __m128i msg[4];
};

template <int G>
VELDRO_SHA_TARGET inline __attribute__((always_inline)) void sha1_group(Sha1Lanes& s, const unsigned char* data,
                                                                        __m128i byte_swap) {
    constexpr int cur = G % 4;
    constexpr int ek = G % 2;
    if constexpr (G < 4) {
        s.msg[cur] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * G)), byte_swap);
    }
    if constexpr (G == 0) {
        s.e[ek] = _mm_add_epi32(s.e[ek], s.msg[cur]);
    } else {
        s.e[ek] = _mm_sha1nexte_epu32(s.e[ek], s.msg[cur]);
    }
    s.e[1 - ek] = s.abcd;
    if constexpr (G >= 3 && G <= 18) {
        s.msg[(G + 1) % 4] = _mm_sha1msg2_epu32(s.msg[(G + 1) % 4], s.msg[cur]);
    }
    s.abcd = _mm_sha1rnds4_epu32(s.abcd, s.e[ek], G / 5);
    if constexpr (G >= 1 && G <= 16) {
        s.msg[(G + 3) % 4] = _mm_sha1msg1_epu32(s.msg[(G + 3) % 4], s.msg[cur]);
    }
    if constexpr (G >= 2 && G <= 17) {
        s.msg[(G + 2) % 4] = _mm_xor_si128(s.msg[(G + 2) % 4], s.msg[cur]);
    }
}

template <std::size_t... G>
VELDRO_SHA_TARGET inline __attribute__((always_inline)) void sha1_groups(Sha1Lanes& s, const unsigned char* data,
                                                                         __m128i byte_swap,
                                                                         std::index_sequence<G...> /*unused*/) {
    (sha1_group<static_cast<int>(G)>(s, data, byte_swap), ...);
}

}  // namespace

VELDRO_SHA_TARGET void sha1_blocks_shani(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    // Reverses all sixteen bytes: the message words are big-endian and the
    // instructions want the first word in the highest lane.
    const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    Sha1Lanes s{};
    s.abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    s.e[0] = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; blocks != 0; --blocks, data += 64) {
        const __m128i abcd_saved = s.abcd;
        const __m128i e_saved = s.e[0];
        sha1_groups(s, data, byte_swap, std::make_index_sequence<20>{});
        s.e[0] = _mm_sha1nexte_epu32(s.e[0], e_saved);
        s.abcd = _mm_add_epi32(s.abcd, abcd_saved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(s.abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(s.e[0], 3));
}

}  // namespace veldro::hash::detail

#else

namespace veldro::hash::detail {
// Never chosen on processors without the instructions.
void sha1_blocks_shani(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    sha1_blocks_portable(state, data, blocks);
}
}  // namespace veldro::hash::detail

#endif
