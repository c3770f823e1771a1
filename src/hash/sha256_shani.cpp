// SHA-256 compression with the processor's SHA instructions. The state is
// held as the word pairs ABEF and CDGH that the round instruction works
// on; each group below is four rounds, and the schedule lives in four
// vector registers that take turns.
#include "hash/sha256.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <utility>

#define VELDRO_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace veldro::hash::detail {

namespace {

struct Sha256Lanes {
    __m128i abef;
    __m128i cdgh;
    __m128i msg[4];
};

template <int G>
VELDRO_SHA_TARGET inline __attribute__((always_inline)) void sha256_group(Sha256Lanes& s, const unsigned char* data,
                                                                          __m128i byte_swap) {
    constexpr int cur = G % 4;
    if constexpr (G < 4) {
        s.msg[cur] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * G)), byte_swap);
    }
    __m128i wk = _mm_add_epi32(s.msg[cur], _mm_load_si128(reinterpret_cast<const __m128i*>(sha256_k + 4 * G)));
    s.cdgh = _mm_sha256rnds2_epu32(s.cdgh, s.abef, wk);
    if constexpr (G >= 3 && G <= 14) {
        // W[t-7] for the next four words, then the small sigma 1 terms.
        constexpr int next = (G + 1) % 4;
        const __m128i w7 = _mm_alignr_epi8(s.msg[cur], s.msg[(G + 3) % 4], 4);
        s.msg[next] = _mm_sha256msg2_epu32(_mm_add_epi32(s.msg[next], w7), s.msg[cur]);
    }
    wk = _mm_shuffle_epi32(wk, 0x0E);
    s.abef = _mm_sha256rnds2_epu32(s.abef, s.cdgh, wk);
    if constexpr (G >= 1 && G <= 12) {
        s.msg[(G + 3) % 4] = _mm_sha256msg1_epu32(s.msg[(G + 3) % 4], s.msg[cur]);
    }
}

template <std::size_t... G>
VELDRO_SHA_TARGET inline __attribute__((always_inline)) void sha256_groups(Sha256Lanes& s, const unsigned char* data,
                                                                           __m128i byte_swap,
                                                                           std::index_sequence<G...> /*unused*/) {
    (sha256_group<static_cast<int>(G)>(s, data, byte_swap), ...);
}

}  // namespace

VELDRO_SHA_TARGET void sha256_blocks_shani(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    // Swaps the bytes of each 32-bit word: the message words are big-endian.
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    Sha256Lanes s{};
    s.abef = _mm_alignr_epi8(cdab, efgh, 8);
    s.cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; blocks != 0; --blocks, data += 64) {
        const __m128i abef_saved = s.abef;
        const __m128i cdgh_saved = s.cdgh;
        sha256_groups(s, data, byte_swap, std::make_index_sequence<16>{});
        s.abef = _mm_add_epi32(s.abef, abef_saved);
        s.cdgh = _mm_add_epi32(s.cdgh, cdgh_saved);
    }
    const __m128i feba = _mm_shuffle_epi32(s.abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(s.cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace veldro::hash::detail

#else

namespace veldro::hash::detail {
// Never chosen on processors without the instructions.
void sha256_blocks_shani(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    sha256_blocks_portable(state, data, blocks);
}
}  // namespace veldro::hash::detail

#endif
