// Numbers, sizes and switches as a user types them.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "util/numbers.h"

namespace veldro::util {
namespace {

constexpr std::int64_t kib = 1024;

TEST(NumbersTest, SizesAcceptOnlyDigitsWithOneSuffix) {
    const struct {
        const char* text;
        std::optional<std::int64_t> size;
    } cases[] = {
        {"0", 0},
        {" 123 ", 123},
        {"1k", kib},
        {"1K", kib},
        {"3M", 3 * kib * kib},
        {"1G", kib * kib * kib},
        {"2t", 2 * kib * kib * kib * kib},
        {"8388607T", 8388607 * kib * kib * kib * kib},
        {"8388608T", std::nullopt},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
        {"G", std::nullopt},
        {"abc", std::nullopt},
        {"1.5G", std::nullopt},
        {"1KB", std::nullopt},
        {"-1", std::nullopt},
        {"12 34", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_size(c.text), c.size) << c.text;
    }
}

TEST(NumbersTest, IntegersAndSwitches) {
    EXPECT_EQ(parse_integer("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parse_integer("+42"), 42);
    EXPECT_EQ(parse_integer("42x"), std::nullopt);
    EXPECT_EQ(parse_integer("-"), std::nullopt);
    EXPECT_EQ(parse_int("2147483648"), std::nullopt);
    EXPECT_EQ(parse_int("-7"), -7);
    for (const char* on : {"ON", "yes", "True", "1", " on "}) {
        EXPECT_EQ(parse_switch(on), true) << on;
    }
    for (const char* off : {"OFF", "no", "FALSE", "0"}) {
        EXPECT_EQ(parse_switch(off), false) << off;
    }
    for (const char* other : {"", "ONE", "NONE", "2", "o n"}) {
        EXPECT_EQ(parse_switch(other), std::nullopt) << other;
    }
}

}  // namespace
}  // namespace veldro::util
