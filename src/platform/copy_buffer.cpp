#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "platform/fs.h"

namespace veldro::platform {

unsigned char* copy_buffer() {
    thread_local std::unique_ptr<unsigned char[]> buffer;  // NOLINT(modernize-avoid-c-arrays)
    if (!buffer) {
        buffer.reset(new (std::nothrow) unsigned char[copy_buffer_bytes]);  // NOLINT
    }
    return buffer.get();
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
