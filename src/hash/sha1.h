// SHA-1 (FIPS 180-4).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "hash/block_buffer.h"
#include "hash/engine.h"

namespace veldro::hash {

namespace detail {
using Sha1Blocks = void (*)(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void sha1_blocks_portable(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
// Only to be called where cpu_features().sha_extensions holds.
void sha1_blocks_shani(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
Sha1Blocks sha1_blocks_for(Engine engine);
}  // namespace detail

class Sha1Context {
public:
    static constexpr std::size_t digest_size = 20;
    static constexpr std::size_t block_size = 64;
    using Digest = std::array<unsigned char, digest_size>;

    explicit Sha1Context(Engine engine = Engine::best) : blocks_(detail::sha1_blocks_for(engine)) { start(); }

    void start();
    void add(const void* data, std::size_t size);
    // The context must be started again before further use.
    Digest finish();

    // True when this context runs the processor's SHA instructions.
    [[nodiscard]] bool uses_hardware() const { return blocks_ != &detail::sha1_blocks_portable; }

private:
    detail::Sha1Blocks blocks_;
    std::array<std::uint32_t, 5> state_{};
    detail::BlockBuffer<block_size, 8, detail::LengthOrder::big_endian> buffer_;
};

}  // namespace veldro::hash
