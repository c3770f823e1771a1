// Loading and storing words in a given byte order, and rotations.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace veldro::hash::detail {

inline std::uint32_t load_le32(const unsigned char* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    return v;
}

inline std::uint32_t load_be32(const unsigned char* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap32(v);
    }
    return v;
}

inline std::uint64_t load_be64(const unsigned char* p) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap64(v);
    }
    return v;
}

inline void store_le32(unsigned char* p, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    std::memcpy(p, &v, sizeof v);
}

inline void store_be32(unsigned char* p, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap32(v);
    }
    std::memcpy(p, &v, sizeof v);
}

inline void store_be64(unsigned char* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap64(v);
    }
    std::memcpy(p, &v, sizeof v);
}

}  // namespace veldro::hash::detail
