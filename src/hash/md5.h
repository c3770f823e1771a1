// MD5 (RFC 1321).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "hash/block_buffer.h"

namespace veldro::hash {

class Md5Context;

namespace detail {
struct Md5LaneAccess;
}  // namespace detail

// Adds data[i] (sizes[i] bytes) to contexts[i] for every i below `count`,
// the same as contexts[i]->add(data[i], sizes[i]) would: the whole blocks
// of all of them go through the lanes of the processor's vector units,
// many messages at once (see hash/md5_lanes.h).
void md5_add_lanes(Md5Context* const* contexts, const unsigned char* const* data, const std::size_t* sizes,
                   std::size_t count);

class Md5Context {
public:
    static constexpr std::size_t digest_size = 16;
    static constexpr std::size_t block_size = 64;
    using Digest = std::array<unsigned char, digest_size>;

    Md5Context() { start(); }

    // Loads the initial values and forgets everything added so far.
    void start();
    // Accepts any number of bytes, in as many calls as the caller likes.
    void add(const void* data, std::size_t size);
    // Pads, runs the last compression and gives the digest. The context
    // must be started again before further use.
    Digest finish();

private:
    friend struct detail::Md5LaneAccess;  // the code that runs many contexts at once

    std::array<std::uint32_t, 4> state_{};
    detail::BlockBuffer<block_size, 8, detail::LengthOrder::little_endian> buffer_;
};

namespace detail {
// Compresses `blocks` consecutive 64-byte blocks into the state.
void md5_blocks(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
}  // namespace detail

}  // namespace veldro::hash
