// SHA-256 (FIPS 180-4).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "hash/block_buffer.h"
#include "hash/engine.h"

namespace veldro::hash {

namespace detail {
using Sha256Blocks = void (*)(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void sha256_blocks_portable(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
// Only to be called where cpu_features().sha_extensions holds.
void sha256_blocks_shani(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
Sha256Blocks sha256_blocks_for(Engine engine);
// The 64 round constants.
extern const std::uint32_t sha256_k[64];
}  // namespace detail

class Sha256Context {
public:
    static constexpr std::size_t digest_size = 32;
    static constexpr std::size_t block_size = 64;
    using Digest = std::array<unsigned char, digest_size>;

    explicit Sha256Context(Engine engine = Engine::best) : blocks_(detail::sha256_blocks_for(engine)) { start(); }

    void start();
    void add(const void* data, std::size_t size);
    // The context must be started again before further use.
    Digest finish();

    [[nodiscard]] bool uses_hardware() const { return blocks_ != &detail::sha256_blocks_portable; }

private:
    detail::Sha256Blocks blocks_;
    std::array<std::uint32_t, 8> state_{};
    detail::BlockBuffer<block_size, 8, detail::LengthOrder::big_endian> buffer_;
};

}  // namespace veldro::hash
