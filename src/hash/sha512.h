// SHA-512 and SHA-384 (FIPS 180-4). SHA-384 is SHA-512 with its own
// initial values, keeping the first 48 bytes of the result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "hash/block_buffer.h"
#include "hash/engine.h"

namespace veldro::hash {

namespace detail {
using Sha512Blocks = void (*)(std::uint64_t* state, const unsigned char* data, std::size_t blocks);
void sha512_blocks_portable(std::uint64_t* state, const unsigned char* data, std::size_t blocks);
// Only to be called where cpu_features().avx2 holds.
void sha512_blocks_avx2(std::uint64_t* state, const unsigned char* data, std::size_t blocks);
Sha512Blocks sha512_blocks_for(Engine engine);
// The 80 round constants.
extern const std::uint64_t sha512_k[80];

// The part SHA-512 and SHA-384 share.
class Sha512Core {
public:
    explicit Sha512Core(Engine engine) : blocks_(sha512_blocks_for(engine)) {}
    void start(const std::array<std::uint64_t, 8>& initial);
    void add(const void* data, std::size_t size);
    // Writes the first `size` bytes of the result (at most 64).
    void finish(unsigned char* out, std::size_t size);
    [[nodiscard]] bool uses_hardware() const { return blocks_ != &sha512_blocks_portable; }

private:
    Sha512Blocks blocks_;
    std::array<std::uint64_t, 8> state_{};
    BlockBuffer<128, 16, LengthOrder::big_endian> buffer_;
};
}  // namespace detail

// SHA-512 and SHA-384 differ only in their initial values and in how many
// bytes of the result they keep.
template <std::size_t DigestSize, const std::array<std::uint64_t, 8>& Initial>
class Sha512FamilyContext {
public:
    static constexpr std::size_t digest_size = DigestSize;
    static constexpr std::size_t block_size = 128;
    using Digest = std::array<unsigned char, digest_size>;

    explicit Sha512FamilyContext(Engine engine = Engine::best) : core_(engine) { start(); }

    void start() { core_.start(Initial); }
    void add(const void* data, std::size_t size) { core_.add(data, size); }
    // The context must be started again before further use.
    Digest finish() {
        Digest digest{};
        core_.finish(digest.data(), digest.size());
        return digest;
    }

    [[nodiscard]] bool uses_hardware() const { return core_.uses_hardware(); }

private:
    detail::Sha512Core core_;
};

namespace detail {
inline constexpr std::array<std::uint64_t, 8> sha512_initial{
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};
inline constexpr std::array<std::uint64_t, 8> sha384_initial{
    0xcbbb9d5dc1059ed8ULL, 0x629a292a367cd507ULL, 0x9159015a3070dd17ULL, 0x152fecd8f70e5939ULL,
    0x67332667ffc00b31ULL, 0x8eb44a8768581511ULL, 0xdb0c2e0d64f98fa7ULL, 0x47b5481dbefa4fa4ULL};
}  // namespace detail

using Sha512Context = Sha512FamilyContext<64, detail::sha512_initial>;
using Sha384Context = Sha512FamilyContext<48, detail::sha384_initial>;

}  // namespace veldro::hash
