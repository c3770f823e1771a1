#include "hash/sha512.h"

#include <bit>

#include "hash/bytes.h"

namespace veldro::hash {

namespace detail {

alignas(64) const std::uint64_t sha512_k[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL, 0x3956c25bf348b538ULL,
    0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL, 0xd807aa98a3030242ULL, 0x12835b0145706fbeULL,
    0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL, 0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL,
    0xc19bf174cf692694ULL, 0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL, 0x983e5152ee66dfabULL,
    0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL, 0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL,
    0x06ca6351e003826fULL, 0x142929670a0e6e70ULL, 0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL,
    0x53380d139d95b3dfULL, 0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL, 0xd192e819d6ef5218ULL,
    0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL, 0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL,
    0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL, 0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL,
    0x682e6ff3d6b2b8a3ULL, 0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL, 0xca273eceea26619cULL,
    0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL, 0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL,
    0x113f9804bef90daeULL, 0x1b710b35131c471bULL, 0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL,
    0x431d67c49c100d4cULL, 0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};

namespace {

inline std::uint64_t big_sigma0(std::uint64_t x) {
    return std::rotr(x, 28) ^ std::rotr(x, 34) ^ std::rotr(x, 39);
}
inline std::uint64_t big_sigma1(std::uint64_t x) {
    return std::rotr(x, 14) ^ std::rotr(x, 18) ^ std::rotr(x, 41);
}
inline std::uint64_t small_sigma0(std::uint64_t x) {
    return std::rotr(x, 1) ^ std::rotr(x, 8) ^ (x >> 7U);
}
inline std::uint64_t small_sigma1(std::uint64_t x) {
    return std::rotr(x, 19) ^ std::rotr(x, 61) ^ (x >> 6U);
}

}  // namespace

void sha512_blocks_portable(std::uint64_t* state, const unsigned char* data, std::size_t blocks) {
    for (; blocks != 0; --blocks, data += 128) {
        std::uint64_t w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = load_be64(data + 8 * i);
        }
        std::uint64_t v[8];
        for (int i = 0; i < 8; ++i) {
            v[i] = state[i];
        }
        // Rounds are written against a rotating view of the eight working
        // variables so that no values are moved between rounds.
        auto round = [&v](int t, std::uint64_t wk) {
            const int a = (80 - t) & 7;
            std::uint64_t& va = v[a];
            std::uint64_t& vb = v[(a + 1) & 7];
            std::uint64_t& vc = v[(a + 2) & 7];
            std::uint64_t& vd = v[(a + 3) & 7];
            std::uint64_t& ve = v[(a + 4) & 7];
            std::uint64_t& vf = v[(a + 5) & 7];
            std::uint64_t& vg = v[(a + 6) & 7];
            std::uint64_t& vh = v[(a + 7) & 7];
            const std::uint64_t t1 = vh + big_sigma1(ve) + (vg ^ (ve & (vf ^ vg))) + wk;
            const std::uint64_t t2 = big_sigma0(va) + ((va & vb) | (vc & (va | vb)));
            vd += t1;
            vh = t1 + t2;
        };
#pragma GCC unroll 16
        for (int t = 0; t < 16; ++t) {
            round(t, w[t] + sha512_k[t]);
        }
#pragma GCC unroll 64
        for (int t = 16; t < 80; ++t) {
            const std::uint64_t wt =
                small_sigma1(w[(t - 2) & 15]) + w[(t - 7) & 15] + small_sigma0(w[(t - 15) & 15]) + w[t & 15];
            w[t & 15] = wt;
            round(t, wt + sha512_k[t]);
        }
        for (int i = 0; i < 8; ++i) {
            state[i] += v[i];
        }
    }
}

Sha512Blocks sha512_blocks_for(Engine engine) {
#if defined(__x86_64__) || defined(__i386__)
    if (engine == Engine::best && cpu_features().avx2) {
        return &sha512_blocks_avx2;
    }
#else
    (void)engine;
#endif
    return &sha512_blocks_portable;
}

void Sha512Core::start(const std::array<std::uint64_t, 8>& initial) {
    state_ = initial;
    buffer_.reset();
}

void Sha512Core::add(const void* data, std::size_t size) {
    buffer_.add(static_cast<const unsigned char*>(data), size,
                [this](const unsigned char* p, std::size_t n) { blocks_(state_.data(), p, n); });
}

void Sha512Core::finish(unsigned char* out, std::size_t size) {
    buffer_.pad([this](const unsigned char* p, std::size_t n) { blocks_(state_.data(), p, n); });
    unsigned char full[64];
    for (std::size_t i = 0; i < 8; ++i) {
        store_be64(full + 8 * i, state_[i]);
    }
    for (std::size_t i = 0; i < size && i < sizeof full; ++i) {
        out[i] = full[i];
    }
}

}  // namespace detail

}  // namespace veldro::hash
