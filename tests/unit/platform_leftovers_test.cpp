// The names of the program's temporary files, as a later run reads them to
// find the process that made them.
#include <gtest/gtest.h>

#include "platform/leftovers.h"

namespace veldro::platform {
namespace {

TEST(TemporaryFileOwner, OnlyTheProgramsOwnNamesTellAProcess) {
    const struct {
        const char* name;
        std::optional<std::uint64_t> owner;
    } cases[] = {
        {".veldro-4242-17.tmp", 4242},        {".veldro-1-1.tmp", 1},
        {".veldro-4242-.tmp", std::nullopt},  {".veldro--17.tmp", std::nullopt},
        {".veldro-42x-1.tmp", std::nullopt},  {".veldro-42-1.tmp.part", std::nullopt},
        {".VELDRO-42-1.TMP", std::nullopt},   {"veldro-42-1.tmp", std::nullopt},
        {".veldro-42-1-2.tmp", std::nullopt}, {".veldro-99999999999999999999-1.tmp", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(temporary_file_owner(c.name), c.owner) << c.name;
    }
}

}  // namespace
}  // namespace veldro::platform
