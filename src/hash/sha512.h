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

class Sha512Context {
public:
    static constexpr std::size_t digest_size = 64;
    static constexpr std::size_t block_size = 128;
    using Digest = std::array<unsigned char, digest_size>;

    explicit Sha512Context(Engine engine = Engine::best) : core_(engine) { start(); }

    void start();
    void add(const void* data, std::size_t size) { core_.add(data, size); }
    // The context must be started again before further use.
    Digest finish();

    [[nodiscard]] bool uses_hardware() const { return core_.uses_hardware(); }

private:
    detail::Sha512Core core_;
};

class Sha384Context {
public:
    static constexpr std::size_t digest_size = 48;
    static constexpr std::size_t block_size = 128;
    using Digest = std::array<unsigned char, digest_size>;

    explicit Sha384Context(Engine engine = Engine::best) : core_(engine) { start(); }

    void start();
    void add(const void* data, std::size_t size) { core_.add(data, size); }
    // The context must be started again before further use.
    Digest finish();

    [[nodiscard]] bool uses_hardware() const { return core_.uses_hardware(); }

private:
    detail::Sha512Core core_;
};

}  // namespace veldro::hash
