#include "hash/md5_lanes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <optional>
#include <string>

#include "hash/bytes.h"
#include "hash/md5_steps.h"

#include "platform/system.h"

namespace veldro::hash {

namespace detail {

struct Md5LaneAccess {
    static std::uint32_t* state(Md5Context& context) { return context.state_.data(); }

    // Completes a block begun by an earlier add from the front of the
    // piece, and counts the whole blocks that follow as added: the caller
    // compresses them. Leaves in `data` and `size` the whole blocks.
    static void open(Md5Context& context, const unsigned char*& data, std::size_t& size) {
        const std::size_t pending = context.buffer_.pending();
        if (pending != 0) {
            const std::size_t take = std::min(size, Md5Context::block_size - pending);
            context.add(data, take);
            data += take;
            size -= take;
            if (context.buffer_.pending() != 0) {
                return;  // still short of a block: nothing left
            }
        }
        const std::size_t whole = size - size % Md5Context::block_size;
        context.buffer_.count_compressed(whole);
    }
};

namespace {

// Two messages side by side in plain registers: the steps of one message
// wait on each other, so the processor runs the other message's steps in
// the gaps. Two lanes are too few to pay for the vector code's transposes.
void md5_two_lanes(std::uint32_t* const* states, const unsigned char* const* data, std::size_t blocks) {
    std::uint32_t a = states[0][0];
    std::uint32_t b = states[0][1];
    std::uint32_t c = states[0][2];
    std::uint32_t d = states[0][3];
    std::uint32_t a2 = states[1][0];
    std::uint32_t b2 = states[1][1];
    std::uint32_t c2 = states[1][2];
    std::uint32_t d2 = states[1][3];
    const unsigned char* p = data[0];
    const unsigned char* p2 = data[1];
    for (; blocks != 0; --blocks, p += 64, p2 += 64) {
        std::uint32_t x[16];
        std::uint32_t x2[16];
        for (int i = 0; i < 16; ++i) {
            x[i] = load_le32(p + 4 * i);
            x2[i] = load_le32(p2 + 4 * i);
        }
        const std::uint32_t a0 = a;
        const std::uint32_t b0 = b;
        const std::uint32_t c0 = c;
        const std::uint32_t d0 = d;
        const std::uint32_t a20 = a2;
        const std::uint32_t b20 = b2;
        const std::uint32_t c20 = c2;
        const std::uint32_t d20 = d2;
#define VELDRO_MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define VELDRO_MD5_G(b, c, d) (((c) & ~(d)) + ((b) & (d)))
#define VELDRO_MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define VELDRO_MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))
#define VELDRO_MD5_TWO_STEP(round, a, b, c, d, word, constant, shift)       \
    (a) += x[word] + (constant) + VELDRO_MD5_##round(b, c, d);              \
    (a##2) += x2[word] + (constant) + VELDRO_MD5_##round(b##2, c##2, d##2); \
    (a) = std::rotl(a, shift) + (b);                                        \
    (a##2) = std::rotl(a##2, shift) + (b##2);
        VELDRO_MD5_STEPS(VELDRO_MD5_TWO_STEP)
#undef VELDRO_MD5_TWO_STEP
#undef VELDRO_MD5_F
#undef VELDRO_MD5_G
#undef VELDRO_MD5_H
#undef VELDRO_MD5_I
        a += a0;
        b += b0;
        c += c0;
        d += d0;
        a2 += a20;
        b2 += b20;
        c2 += c20;
        d2 += d20;
    }
    states[0][0] = a;
    states[0][1] = b;
    states[0][2] = c;
    states[0][3] = d;
    states[1][0] = a2;
    states[1][1] = b2;
    states[1][2] = c2;
    states[1][3] = d2;
}

}  // namespace

void md5_lanes_portable(std::uint32_t* const* states, const unsigned char* const* data, std::size_t lanes,
                        std::size_t blocks) {
    for (std::size_t i = 0; i < lanes; ++i) {
        md5_blocks(states[i], data[i], blocks);
    }
}

Md5Lanes md5_lanes_for(Engine engine, std::size_t most) {
#if defined(__x86_64__) || defined(__i386__)
    if (engine == Engine::best) {
        const CpuFeatures& cpu = cpu_features();
        if (cpu.avx512 && most >= 16) {
            return {&md5_lanes_avx512, 16, 8};
        }
        if (cpu.avx2 && most >= 8) {
            return {&md5_lanes_avx2, 8, 6};
        }
    }
#else
    (void)engine;
#endif
    if (most <= 1) {
        return {&md5_lanes_portable, 1, 2};
    }
    return {&md5_lanes_portable, 2, 2};
}

void md5_add_lanes_with(const Md5Lanes& lanes, Md5Context* const* contexts, const unsigned char* const* data,
                        const std::size_t* sizes, std::size_t count) {
    if (lanes.width <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            contexts[i]->add(data[i], sizes[i]);
        }
        return;
    }
    for (std::size_t first = 0; first < count; first += lanes.width) {
        const std::size_t group = std::min(lanes.width, count - first);
        // Where each message of the group stands: its whole blocks still to
        // compress, then the bytes after them.
        std::array<std::uint32_t*, md5_max_lanes> state{};
        std::array<const unsigned char*, md5_max_lanes> at{};
        std::array<std::size_t, md5_max_lanes> left{};
        for (std::size_t i = 0; i < group; ++i) {
            Md5Context& context = *contexts[first + i];
            at[i] = data[first + i];
            left[i] = sizes[first + i];
            Md5LaneAccess::open(context, at[i], left[i]);
            state[i] = Md5LaneAccess::state(context);
        }
        std::array<std::size_t, md5_max_lanes> blocks{};
        for (std::size_t i = 0; i < group; ++i) {
            blocks[i] = left[i] / Md5Context::block_size;
        }
        // Rounds over the messages that still have blocks, each as long as
        // the shortest of them; a message that ends leaves its lane to the
        // others.
        for (;;) {
            std::array<std::uint32_t*, md5_max_lanes> run_state{};
            std::array<const unsigned char*, md5_max_lanes> run_data{};
            std::array<std::size_t, md5_max_lanes> run_index{};
            std::size_t running = 0;
            std::size_t shortest = 0;
            for (std::size_t i = 0; i < group; ++i) {
                if (blocks[i] == 0) {
                    continue;
                }
                shortest = running == 0 ? blocks[i] : std::min(shortest, blocks[i]);
                run_state[running] = state[i];
                run_data[running] = at[i];
                run_index[running] = i;
                ++running;
            }
            if (running == 0) {
                break;
            }
            if (running >= lanes.fewest && running > 2) {
                lanes.blocks(run_state.data(), run_data.data(), running, shortest);
            } else {
                for (std::size_t r = 0; r < running; r += 2) {
                    if (r + 1 < running) {
                        md5_two_lanes(run_state.data() + r, run_data.data() + r, shortest);
                    } else {
                        md5_blocks(run_state[r], run_data[r], shortest);
                    }
                }
            }
            for (std::size_t r = 0; r < running; ++r) {
                const std::size_t i = run_index[r];
                blocks[i] -= shortest;
                at[i] += shortest * Md5Context::block_size;
                left[i] -= shortest * Md5Context::block_size;
            }
        }
        for (std::size_t i = 0; i < group; ++i) {
            if (left[i] != 0) {
                contexts[first + i]->add(at[i], left[i]);  // less than a block: kept for the next add
            }
        }
    }
}

}  // namespace detail

namespace {

// The lanes asked for by VELDRO_HASH_LANES (for comparing against one
// stream per digest); no limit when it is unset or not a number.
std::size_t lanes_asked() {
    const std::optional<std::string> value = platform::get_environment("VELDRO_HASH_LANES");
    std::size_t asked = md5_max_lanes;
    if (value && !value->empty()) {
        const char* end = value->data() + value->size();
        std::size_t parsed = 0;
        const auto [ptr, error] = std::from_chars(value->data(), end, parsed);
        if (error == std::errc() && ptr == end) {
            asked = parsed;
        }
    }
    return asked;
}

const detail::Md5Lanes& chosen_lanes() {
    static const detail::Md5Lanes lanes = detail::md5_lanes_for(Engine::best, lanes_asked());
    return lanes;
}

}  // namespace

std::size_t md5_lane_width() {
    return chosen_lanes().width;
}

void md5_add_lanes(Md5Context* const* contexts, const unsigned char* const* data, const std::size_t* sizes,
                   std::size_t count) {
    detail::md5_add_lanes_with(chosen_lanes(), contexts, data, sizes, count);
}

}  // namespace veldro::hash
