// Gathers bytes into whole blocks for a compression function and applies
// the closing padding shared by MD5 and the SHA family: a 0x80 byte, zero
// bytes, then the message length in bits at the end of the last block.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace veldro::hash::detail {

enum class LengthOrder : std::uint8_t { little_endian, big_endian };

template <std::size_t BlockSize, std::size_t LengthBytes, LengthOrder Order>
class BlockBuffer {
public:
    void reset() { total_ = 0; }

    [[nodiscard]] std::uint64_t total_bytes() const { return total_; }

    // Bytes not yet in a whole block, waiting for the next add.
    [[nodiscard]] std::size_t pending() const { return static_cast<std::size_t>(total_ % BlockSize); }

    // Counts `size` bytes of whole blocks that the caller compressed itself
    // (only when nothing is pending, so that the blocks stay aligned).
    void count_compressed(std::uint64_t size) { total_ += size; }

    // Feeds `size` bytes; `blocks(pointer, count)` compresses whole blocks.
    // Runs of whole blocks go straight from the caller's memory.
    template <class Blocks>
    void add(const unsigned char* data, std::size_t size, Blocks&& blocks) {
        std::size_t used = static_cast<std::size_t>(total_ % BlockSize);
        total_ += size;
        if (used != 0) {
            const std::size_t take = std::min(size, BlockSize - used);
            std::memcpy(block_.data() + used, data, take);
            data += take;
            size -= take;
            used += take;
            if (used < BlockSize) {
                return;
            }
            blocks(block_.data(), std::size_t{1});
        }
        if (size >= BlockSize) {
            const std::size_t whole = size / BlockSize;
            blocks(data, whole);
            data += whole * BlockSize;
            size -= whole * BlockSize;
        }
        if (size != 0) {
            std::memcpy(block_.data(), data, size);
        }
    }

    // Pads and compresses the last block or two.
    template <class Blocks>
    void pad(Blocks&& blocks) {
        std::size_t used = static_cast<std::size_t>(total_ % BlockSize);
        block_[used++] = 0x80;
        if (used > BlockSize - LengthBytes) {
            std::memset(block_.data() + used, 0, BlockSize - used);
            blocks(block_.data(), std::size_t{1});
            used = 0;
        }
        std::memset(block_.data() + used, 0, BlockSize - used);
        // The bit count as an unsigned number of LengthBytes bytes; a byte
        // count below 2^64 needs at most 67 bits.
        const std::uint64_t low = total_ << 3U;
        const std::uint64_t high = total_ >> 61U;
        unsigned char* field = block_.data() + BlockSize - LengthBytes;
        for (std::size_t i = 0; i < LengthBytes; ++i) {
            const std::size_t shift_byte = Order == LengthOrder::big_endian ? LengthBytes - 1 - i : i;
            const std::uint64_t word = shift_byte < 8 ? low : high;
            field[i] = static_cast<unsigned char>(word >> (8U * (shift_byte % 8U)));
        }
        blocks(block_.data(), std::size_t{1});
    }

private:
    std::uint64_t total_ = 0;
    std::array<unsigned char, BlockSize> block_{};
};

}  // namespace veldro::hash::detail
