#include "hash/sha256.h"

#include <bit>

#include "hash/bytes.h"

namespace veldro::hash {

namespace detail {

alignas(64) const std::uint32_t sha256_k[64] = {
    0x428a2f98U, 0x71374491U, 0xb5c0fbcfU, 0xe9b5dba5U, 0x3956c25bU, 0x59f111f1U, 0x923f82a4U, 0xab1c5ed5U,
    0xd807aa98U, 0x12835b01U, 0x243185beU, 0x550c7dc3U, 0x72be5d74U, 0x80deb1feU, 0x9bdc06a7U, 0xc19bf174U,
    0xe49b69c1U, 0xefbe4786U, 0x0fc19dc6U, 0x240ca1ccU, 0x2de92c6fU, 0x4a7484aaU, 0x5cb0a9dcU, 0x76f988daU,
    0x983e5152U, 0xa831c66dU, 0xb00327c8U, 0xbf597fc7U, 0xc6e00bf3U, 0xd5a79147U, 0x06ca6351U, 0x14292967U,
    0x27b70a85U, 0x2e1b2138U, 0x4d2c6dfcU, 0x53380d13U, 0x650a7354U, 0x766a0abbU, 0x81c2c92eU, 0x92722c85U,
    0xa2bfe8a1U, 0xa81a664bU, 0xc24b8b70U, 0xc76c51a3U, 0xd192e819U, 0xd6990624U, 0xf40e3585U, 0x106aa070U,
    0x19a4c116U, 0x1e376c08U, 0x2748774cU, 0x34b0bcb5U, 0x391c0cb3U, 0x4ed8aa4aU, 0x5b9cca4fU, 0x682e6ff3U,
    0x748f82eeU, 0x78a5636fU, 0x84c87814U, 0x8cc70208U, 0x90befffaU, 0xa4506cebU, 0xbef9a3f7U, 0xc67178f2U,
};

namespace {

inline std::uint32_t big_sigma0(std::uint32_t x) {
    return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
inline std::uint32_t big_sigma1(std::uint32_t x) {
    return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
inline std::uint32_t small_sigma0(std::uint32_t x) {
    return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3U);
}
inline std::uint32_t small_sigma1(std::uint32_t x) {
    return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10U);
}

}  // namespace

void sha256_blocks_portable(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    for (; blocks != 0; --blocks, data += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = load_be32(data + 4 * i);
        }
        std::uint32_t v[8];
        for (int i = 0; i < 8; ++i) {
            v[i] = state[i];
        }
        // Rounds are written against a rotating view of the eight working
        // variables so that no values are moved between rounds.
        auto round = [&v](int t, std::uint32_t wk) {
            const int a = (64 - t) & 7;
            std::uint32_t& va = v[a];
            std::uint32_t& vb = v[(a + 1) & 7];
            std::uint32_t& vc = v[(a + 2) & 7];
            std::uint32_t& vd = v[(a + 3) & 7];
            std::uint32_t& ve = v[(a + 4) & 7];
            std::uint32_t& vf = v[(a + 5) & 7];
            std::uint32_t& vg = v[(a + 6) & 7];
            std::uint32_t& vh = v[(a + 7) & 7];
            const std::uint32_t t1 = vh + big_sigma1(ve) + (vg ^ (ve & (vf ^ vg))) + wk;
            const std::uint32_t t2 = big_sigma0(va) + ((va & vb) | (vc & (va | vb)));
            vd += t1;
            vh = t1 + t2;
        };
#pragma GCC unroll 16
        for (int t = 0; t < 16; ++t) {
            round(t, w[t] + sha256_k[t]);
        }
#pragma GCC unroll 48
        for (int t = 16; t < 64; ++t) {
            const std::uint32_t wt =
                small_sigma1(w[(t - 2) & 15]) + w[(t - 7) & 15] + small_sigma0(w[(t - 15) & 15]) + w[t & 15];
            w[t & 15] = wt;
            round(t, wt + sha256_k[t]);
        }
        for (int i = 0; i < 8; ++i) {
            state[i] += v[i];
        }
    }
}

Sha256Blocks sha256_blocks_for(Engine engine) {
#if defined(__x86_64__) || defined(__i386__)
    if (engine == Engine::best && cpu_features().sha_extensions) {
        return &sha256_blocks_shani;
    }
#else
    (void)engine;
#endif
    return &sha256_blocks_portable;
}

}  // namespace detail

void Sha256Context::start() {
    state_ = {0x6a09e667U, 0xbb67ae85U, 0x3c6ef372U, 0xa54ff53aU, 0x510e527fU, 0x9b05688cU, 0x1f83d9abU, 0x5be0cd19U};
    buffer_.reset();
}

void Sha256Context::add(const void* data, std::size_t size) {
    buffer_.add(static_cast<const unsigned char*>(data), size,
                [this](const unsigned char* p, std::size_t n) { blocks_(state_.data(), p, n); });
}

Sha256Context::Digest Sha256Context::finish() {
    buffer_.pad([this](const unsigned char* p, std::size_t n) { blocks_(state_.data(), p, n); });
    Digest digest{};
    for (std::size_t i = 0; i < 8; ++i) {
        detail::store_be32(digest.data() + 4 * i, state_[i]);
    }
    return digest;
}

}  // namespace veldro::hash
