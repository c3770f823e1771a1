#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/fs.h"
#include "platform/thread_owned.h"

namespace veldro::platform {

unsigned char* copy_buffer() {
    thread_local ThreadOwned<std::array<unsigned char, copy_buffer_bytes>> buffer;
    auto* bytes = buffer.try_get();
    return bytes == nullptr ? nullptr : bytes->data();
}

unsigned char* read_back_buffer() {
    thread_local ThreadOwned<std::array<unsigned char, copy_buffer_bytes>> buffer;
    auto* bytes = buffer.try_get();
    return bytes == nullptr ? nullptr : bytes->data();
}

void feed_zeros(const CopyFeed* feed, std::uint64_t size) {
    static constexpr std::array<unsigned char, std::size_t{64} * 1024U> zeros{};
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, zeros.size()));
        feed->take(feed->context, zeros.data(), piece);
        size -= piece;
    }
}

}  // namespace veldro::platform
