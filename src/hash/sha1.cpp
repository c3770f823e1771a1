#include "hash/sha1.h"

#include <bit>

#include "hash/bytes.h"

namespace veldro::hash {

namespace detail {

namespace {

inline std::uint32_t choose(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return d ^ (b & (c ^ d));
}
inline std::uint32_t parity(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return b ^ c ^ d;
}
inline std::uint32_t majority(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return (b & c) | (d & (b | c));
}

}  // namespace

void sha1_blocks_portable(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    for (; blocks != 0; --blocks, data += 64) {
        // The schedule is kept as a ring of 16 words.
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = load_be32(data + 4 * i);
        }
        std::uint32_t a = state[0];
        std::uint32_t b = state[1];
        std::uint32_t c = state[2];
        std::uint32_t d = state[3];
        std::uint32_t e = state[4];

        auto next = [&w](int t) {
            const std::uint32_t v = std::rotl(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
            w[t & 15] = v;
            return v;
        };
        auto round = [&](std::uint32_t f, std::uint32_t k, std::uint32_t wt) {
            const std::uint32_t t = std::rotl(a, 5) + f + e + k + wt;
            e = d;
            d = c;
            c = std::rotl(b, 30);
            b = a;
            a = t;
        };
#pragma GCC unroll 16
        for (const std::uint32_t wt : w) {
            round(choose(b, c, d), 0x5a827999U, wt);
        }
#pragma GCC unroll 4
        for (int t = 16; t < 20; ++t) {
            round(choose(b, c, d), 0x5a827999U, next(t));
        }
#pragma GCC unroll 20
        for (int t = 20; t < 40; ++t) {
            round(parity(b, c, d), 0x6ed9eba1U, next(t));
        }
#pragma GCC unroll 20
        for (int t = 40; t < 60; ++t) {
            round(majority(b, c, d), 0x8f1bbcdcU, next(t));
        }
#pragma GCC unroll 20
        for (int t = 60; t < 80; ++t) {
            round(parity(b, c, d), 0xca62c1d6U, next(t));
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

Sha1Blocks sha1_blocks_for(Engine engine) {
#if defined(__x86_64__) || defined(__i386__)
    if (engine == Engine::best && cpu_features().sha_extensions) {
        return &sha1_blocks_shani;
    }
#else
    (void)engine;
#endif
    return &sha1_blocks_portable;
}

}  // namespace detail

void Sha1Context::start() {
    state_ = {0x67452301U, 0xefcdab89U, 0x98badcfeU, 0x10325476U, 0xc3d2e1f0U};
    buffer_.reset();
}

void Sha1Context::add(const void* data, std::size_t size) {
    buffer_.add(static_cast<const unsigned char*>(data), size,
                [this](const unsigned char* p, std::size_t n) { blocks_(state_.data(), p, n); });
}

Sha1Context::Digest Sha1Context::finish() {
    buffer_.pad([this](const unsigned char* p, std::size_t n) { blocks_(state_.data(), p, n); });
    Digest digest{};
    for (std::size_t i = 0; i < 5; ++i) {
        detail::store_be32(digest.data() + 4 * i, state_[i]);
    }
    return digest;
}

}  // namespace veldro::hash
