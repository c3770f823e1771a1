// MD5 of many independent messages at once: one message per 32-bit lane of
// the processor's vector registers, 16 with AVX-512, 8 with AVX2. A step of
// the digest takes as long on a full register as on one lane, so messages
// hashed side by side cost little more than one of them alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hash/engine.h"
#include "hash/md5.h"

namespace veldro::hash {

// The most lanes any code here runs at once.
inline constexpr std::size_t md5_max_lanes = 16;

// Lanes the chosen code runs at once: 16, 8, or 2 where the processor has
// no vector code for it (two messages side by side in plain registers);
// fewer when VELDRO_HASH_LANES asks for fewer (1 turns the lanes off, every
// message then hashed on its own). Looked up once per process.
std::size_t md5_lane_width();

namespace detail {

// Compresses `blocks` consecutive 64-byte blocks of each of `lanes`
// messages: states[i] (four words) from data[i], for i below `lanes` (at
// most the code's width).
using Md5LanesBlocks = void (*)(std::uint32_t* const* states, const unsigned char* const* data, std::size_t lanes,
                                std::size_t blocks);

void md5_lanes_portable(std::uint32_t* const* states, const unsigned char* const* data, std::size_t lanes,
                        std::size_t blocks);
void md5_lanes_avx2(std::uint32_t* const* states, const unsigned char* const* data, std::size_t lanes,
                    std::size_t blocks);
void md5_lanes_avx512(std::uint32_t* const* states, const unsigned char* const* data, std::size_t lanes,
                      std::size_t blocks);

struct Md5Lanes {
    Md5LanesBlocks blocks = &md5_lanes_portable;
    std::size_t width = 1;
    // Fewer messages than this go two at a time through plain registers,
    // which is then faster than the vector code's mostly empty lanes.
    std::size_t fewest = 2;
};

// The code for `engine` with at most `most` lanes (16, 8, else two; one
// when `most` is one).
Md5Lanes md5_lanes_for(Engine engine, std::size_t most = md5_max_lanes);

// md5_add_lanes through the given code.
void md5_add_lanes_with(const Md5Lanes& lanes, Md5Context* const* contexts, const unsigned char* const* data,
                        const std::size_t* sizes, std::size_t count);

}  // namespace detail

}  // namespace veldro::hash
