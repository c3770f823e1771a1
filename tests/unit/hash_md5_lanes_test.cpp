// MD5 on many messages at once against the single-message code: the
// published vectors side by side, uneven lanes, lanes that end while
// others go on, empty messages, pieces of any size, on every lane width
// this processor runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "hash/md5_lanes.h"

namespace veldro::hash {
namespace {

std::string hex(const Md5Context::Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += digits[b >> 4U];
        out += digits[b & 15U];
    }
    return out;
}

std::string single(const std::string& message) {
    Md5Context context;
    context.add(message.data(), message.size());
    return hex(context.finish());
}

// Hashes every message in lanes, each handed over in pieces of random
// sizes (0 included), all messages at once in every call.
std::vector<std::string> in_lanes(const detail::Md5Lanes& lanes, const std::vector<std::string>& messages,
                                  std::mt19937& random, std::size_t largest_piece) {
    std::vector<Md5Context> contexts(messages.size());
    std::vector<std::size_t> at(messages.size(), 0);
    std::vector<Md5Context*> context_of;
    for (Md5Context& context : contexts) {
        context_of.push_back(&context);
    }
    for (bool left = true; left;) {
        left = false;
        std::vector<const unsigned char*> data;
        std::vector<std::size_t> sizes;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const std::size_t n = std::min(messages[i].size() - at[i],
                                           std::uniform_int_distribution<std::size_t>(0, largest_piece)(random));
            data.push_back(reinterpret_cast<const unsigned char*>(messages[i].data()) + at[i]);
            sizes.push_back(n);
            at[i] += n;
            left = left || at[i] < messages[i].size();
        }
        detail::md5_add_lanes_with(lanes, context_of.data(), data.data(), sizes.data(), messages.size());
    }
    std::vector<std::string> digests;
    for (Md5Context& context : contexts) {
        digests.push_back(hex(context.finish()));
    }
    return digests;
}

std::vector<detail::Md5Lanes> widths() {
    std::vector<detail::Md5Lanes> all{detail::md5_lanes_for(Engine::portable, 1),
                                      detail::md5_lanes_for(Engine::portable)};
    for (const std::size_t most : {std::size_t{8}, std::size_t{16}}) {
        const detail::Md5Lanes lanes = detail::md5_lanes_for(Engine::best, most);
        if (lanes.width == most) {
            all.push_back(lanes);
        }
    }
    return all;
}

TEST(Md5Lanes, PublishedVectorsSideBySide) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    std::vector<std::string> messages;
    for (const auto& [message, digest] : vectors) {
        messages.push_back(message);
    }
    std::mt19937 random(7);
    for (const detail::Md5Lanes& lanes : widths()) {
        SCOPED_TRACE(lanes.width);
        const std::vector<std::string> digests = in_lanes(lanes, messages, random, 100);
        for (std::size_t i = 0; i < vectors.size(); ++i) {
            EXPECT_EQ(digests[i], vectors[i].second) << i;
        }
    }
}

TEST(Md5Lanes, AgreeWithOneMessageAtATime) {
    struct Case {
        const char* name;
        std::vector<std::size_t> lengths;
        std::size_t largest_piece;
    };
    const std::vector<Case> cases = {
        {"one empty message", {0}, 64},
        {"all empty", std::vector<std::size_t>(16, 0), 64},
        {"two equal, source and copy", {5000, 5000}, 1 << 12},
        {"uneven, around block and padding edges", {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 129, 200}, 70},
        {"one long while the others end", {64 * 40, 64, 0, 3, 64 * 2, 17, 64 * 9, 1}, 64 * 3},
        {"more messages than lanes", std::vector<std::size_t>(37, 777), 300},
        {"few messages, some in pairs", {640, 640, 700}, 640},
        {"whole blocks only", {64, 128, 64 * 7, 64 * 16}, 64 * 16},
    };
    std::mt19937 random(11);
    for (const detail::Md5Lanes& lanes : widths()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(lanes.width) + " lanes");
            std::vector<std::string> messages;
            for (const std::size_t length : c.lengths) {
                std::string message(length, '\0');
                for (char& ch : message) {
                    ch = static_cast<char>(random());
                }
                messages.push_back(message);
            }
            const std::vector<std::string> digests = in_lanes(lanes, messages, random, c.largest_piece);
            for (std::size_t i = 0; i < messages.size(); ++i) {
                EXPECT_EQ(digests[i], single(messages[i])) << "message " << i;
            }
        }
    }
}

}  // namespace
}  // namespace veldro::hash
