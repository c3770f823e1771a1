#include "hash/md5.h"

#include <bit>

#include "hash/bytes.h"

namespace veldro::hash {

namespace detail {

namespace {

// One step of each round. The round functions are written so that as
// much as possible of each step is independent of `b`, the value the
// previous step has just produced: the compiler can then start the next
// step's additions before the previous one ends.
template <int S>
inline void step_f(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t xk) {
    a += xk + (d ^ (b & (c ^ d)));
    a = std::rotl(a, S) + b;
}

template <int S>
inline void step_g(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t xk) {
    // (b & d) | (c & ~d): the two halves never share a set bit, so they add.
    a += xk + (c & ~d);
    a += b & d;
    a = std::rotl(a, S) + b;
}

template <int S>
inline void step_h(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t xk) {
    a += xk + (b ^ c ^ d);
    a = std::rotl(a, S) + b;
}

template <int S>
inline void step_i(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t xk) {
    a += xk + (c ^ (b | ~d));
    a = std::rotl(a, S) + b;
}

}  // namespace

void md5_blocks(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    for (; blocks != 0; --blocks, data += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i) {
            x[i] = load_le32(data + 4 * i);
        }
        const std::uint32_t a0 = a;
        const std::uint32_t b0 = b;
        const std::uint32_t c0 = c;
        const std::uint32_t d0 = d;

        step_f<7>(a, b, c, d, x[0] + 0xd76aa478U);
        step_f<12>(d, a, b, c, x[1] + 0xe8c7b756U);
        step_f<17>(c, d, a, b, x[2] + 0x242070dbU);
        step_f<22>(b, c, d, a, x[3] + 0xc1bdceeeU);
        step_f<7>(a, b, c, d, x[4] + 0xf57c0fafU);
        step_f<12>(d, a, b, c, x[5] + 0x4787c62aU);
        step_f<17>(c, d, a, b, x[6] + 0xa8304613U);
        step_f<22>(b, c, d, a, x[7] + 0xfd469501U);
        step_f<7>(a, b, c, d, x[8] + 0x698098d8U);
        step_f<12>(d, a, b, c, x[9] + 0x8b44f7afU);
        step_f<17>(c, d, a, b, x[10] + 0xffff5bb1U);
        step_f<22>(b, c, d, a, x[11] + 0x895cd7beU);
        step_f<7>(a, b, c, d, x[12] + 0x6b901122U);
        step_f<12>(d, a, b, c, x[13] + 0xfd987193U);
        step_f<17>(c, d, a, b, x[14] + 0xa679438eU);
        step_f<22>(b, c, d, a, x[15] + 0x49b40821U);

        step_g<5>(a, b, c, d, x[1] + 0xf61e2562U);
        step_g<9>(d, a, b, c, x[6] + 0xc040b340U);
        step_g<14>(c, d, a, b, x[11] + 0x265e5a51U);
        step_g<20>(b, c, d, a, x[0] + 0xe9b6c7aaU);
        step_g<5>(a, b, c, d, x[5] + 0xd62f105dU);
        step_g<9>(d, a, b, c, x[10] + 0x02441453U);
        step_g<14>(c, d, a, b, x[15] + 0xd8a1e681U);
        step_g<20>(b, c, d, a, x[4] + 0xe7d3fbc8U);
        step_g<5>(a, b, c, d, x[9] + 0x21e1cde6U);
        step_g<9>(d, a, b, c, x[14] + 0xc33707d6U);
        step_g<14>(c, d, a, b, x[3] + 0xf4d50d87U);
        step_g<20>(b, c, d, a, x[8] + 0x455a14edU);
        step_g<5>(a, b, c, d, x[13] + 0xa9e3e905U);
        step_g<9>(d, a, b, c, x[2] + 0xfcefa3f8U);
        step_g<14>(c, d, a, b, x[7] + 0x676f02d9U);
        step_g<20>(b, c, d, a, x[12] + 0x8d2a4c8aU);

        step_h<4>(a, b, c, d, x[5] + 0xfffa3942U);
        step_h<11>(d, a, b, c, x[8] + 0x8771f681U);
        step_h<16>(c, d, a, b, x[11] + 0x6d9d6122U);
        step_h<23>(b, c, d, a, x[14] + 0xfde5380cU);
        step_h<4>(a, b, c, d, x[1] + 0xa4beea44U);
        step_h<11>(d, a, b, c, x[4] + 0x4bdecfa9U);
        step_h<16>(c, d, a, b, x[7] + 0xf6bb4b60U);
        step_h<23>(b, c, d, a, x[10] + 0xbebfbc70U);
        step_h<4>(a, b, c, d, x[13] + 0x289b7ec6U);
        step_h<11>(d, a, b, c, x[0] + 0xeaa127faU);
        step_h<16>(c, d, a, b, x[3] + 0xd4ef3085U);
        step_h<23>(b, c, d, a, x[6] + 0x04881d05U);
        step_h<4>(a, b, c, d, x[9] + 0xd9d4d039U);
        step_h<11>(d, a, b, c, x[12] + 0xe6db99e5U);
        step_h<16>(c, d, a, b, x[15] + 0x1fa27cf8U);
        step_h<23>(b, c, d, a, x[2] + 0xc4ac5665U);

        step_i<6>(a, b, c, d, x[0] + 0xf4292244U);
        step_i<10>(d, a, b, c, x[7] + 0x432aff97U);
        step_i<15>(c, d, a, b, x[14] + 0xab9423a7U);
        step_i<21>(b, c, d, a, x[5] + 0xfc93a039U);
        step_i<6>(a, b, c, d, x[12] + 0x655b59c3U);
        step_i<10>(d, a, b, c, x[3] + 0x8f0ccc92U);
        step_i<15>(c, d, a, b, x[10] + 0xffeff47dU);
        step_i<21>(b, c, d, a, x[1] + 0x85845dd1U);
        step_i<6>(a, b, c, d, x[8] + 0x6fa87e4fU);
        step_i<10>(d, a, b, c, x[15] + 0xfe2ce6e0U);
        step_i<15>(c, d, a, b, x[6] + 0xa3014314U);
        step_i<21>(b, c, d, a, x[13] + 0x4e0811a1U);
        step_i<6>(a, b, c, d, x[4] + 0xf7537e82U);
        step_i<10>(d, a, b, c, x[11] + 0xbd3af235U);
        step_i<15>(c, d, a, b, x[2] + 0x2ad7d2bbU);
        step_i<21>(b, c, d, a, x[9] + 0xeb86d391U);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

}  // namespace detail

void Md5Context::start() {
    state_ = {0x67452301U, 0xefcdab89U, 0x98badcfeU, 0x10325476U};
    buffer_.reset();
}

void Md5Context::add(const void* data, std::size_t size) {
    buffer_.add(static_cast<const unsigned char*>(data), size,
                [this](const unsigned char* p, std::size_t n) { detail::md5_blocks(state_.data(), p, n); });
}

Md5Context::Digest Md5Context::finish() {
    buffer_.pad([this](const unsigned char* p, std::size_t n) { detail::md5_blocks(state_.data(), p, n); });
    Digest digest{};
    for (std::size_t i = 0; i < 4; ++i) {
        detail::store_le32(digest.data() + 4 * i, state_[i]);
    }
    return digest;
}

}  // namespace veldro::hash
