// MD5 of many messages at once against one message at a time: the input's
// first bytes choose how many messages it holds and how each is handed over
// in pieces; the rest is cut into the messages. Every lane width this
// processor runs is checked.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "hash/md5_lanes.h"

namespace {

using veldro::hash::Md5Context;

void check(const veldro::hash::detail::Md5Lanes& lanes, const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return;
    }
    const std::size_t count = 1 + data[0] % 20;
    const std::size_t largest_piece = 1 + std::size_t{data[1]} * 3;
    data += 2;
    size -= 2;
    // Message i takes an equal share of the rest, less a little for odd ones.
    std::vector<const std::uint8_t*> start(count);
    std::vector<std::size_t> length(count);
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t share = size / count;
        start[i] = data + at;
        length[i] = share - (i % 3 == 1 ? std::min<std::size_t>(share, i * 7) : 0);
        at += share;
    }
    std::vector<Md5Context> lanes_contexts(count);
    std::vector<Md5Context*> contexts(count);
    for (std::size_t i = 0; i < count; ++i) {
        contexts[i] = &lanes_contexts[i];
    }
    std::vector<std::size_t> done(count, 0);
    // The piece sizes come from the message bytes themselves.
    for (std::size_t round = 0;; ++round) {
        std::vector<const unsigned char*> pieces(count);
        std::vector<std::size_t> sizes(count);
        bool any = false;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t left = length[i] - done[i];
            const std::size_t pick = left == 0 ? 0 : (start[i][(done[i] + round) % length[i]] * 13 + i) % largest_piece;
            sizes[i] = std::min(left, pick + (round > 64 ? left : 0));
            pieces[i] = start[i] + done[i];
            done[i] += sizes[i];
            any = any || left != 0;
        }
        if (!any) {
            break;
        }
        veldro::hash::detail::md5_add_lanes_with(lanes, contexts.data(), pieces.data(), sizes.data(), count);
    }
    for (std::size_t i = 0; i < count; ++i) {
        Md5Context one;
        one.add(start[i], length[i]);
        if (one.finish() != lanes_contexts[i].finish()) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using veldro::hash::Engine;
    using veldro::hash::detail::md5_lanes_for;
    check(md5_lanes_for(Engine::portable), data, size);
    check(md5_lanes_for(Engine::best, 8), data, size);
    check(md5_lanes_for(Engine::best, 16), data, size);
    return 0;
}
