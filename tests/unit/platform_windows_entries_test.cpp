#include <gtest/gtest.h>

#include "platform/windows_entries.h"

namespace veldro::platform {
namespace {

TEST(WindowsEntries, ReparsePointsAreClassifiedByTag) {
    constexpr std::uint32_t dir = attr_directory;
    constexpr std::uint32_t reparse = attr_reparse_point;
    const struct {
        std::uint32_t attributes;
        std::uint32_t tag;
        EntryKind kind;
    } cases[] = {
        {attr_archive, 0, EntryKind::regular},
        {dir, 0, EntryKind::directory},
        {attr_archive | reparse, reparse_tag_symlink, EntryKind::symlink},  // file link: never followed
        {dir | reparse, reparse_tag_symlink, EntryKind::symlink},
        {dir | reparse, reparse_tag_mount_point, EntryKind::symlink},  // junction
        {dir | reparse, 0x9000701AU, EntryKind::special},              // cloud placeholder folder
        {dir | reparse, 0, EntryKind::special},                        // tag unknown
        {attr_archive | reparse, 0x80000013U, EntryKind::regular},     // deduplicated data
        {attr_archive | reparse, 0xA000001DU, EntryKind::special},     // another subsystem's link
        {win_attr_device, 0, EntryKind::special},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classify_windows_entry(c.attributes, c.tag), c.kind) << std::hex << c.attributes << " " << c.tag;
    }
    EXPECT_EQ(walk_attributes(dir | reparse, EntryKind::symlink), reparse);
    EXPECT_EQ(walk_attributes(dir, EntryKind::directory), dir);
}

TEST(WindowsEntries, PatternsSelectLongNamesOnly) {
    const struct {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.doc", "report.docx", false},  // its short name REPORT~1.DOC would match
        {"*.doc", "REPORT.DOC", true},     {"*.*", "README", true},         {"", "x", true},
        {"r?port.*", "report.docx", true}, {"?.txt", "\xC3\xA9.txt", true}, {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXbY", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(long_name_matches(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
    }
}

}  // namespace
}  // namespace veldro::platform
