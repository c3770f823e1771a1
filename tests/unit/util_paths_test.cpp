#include <gtest/gtest.h>

#include "util/paths.h"

namespace veldro::paths {
namespace {

TEST(PathsNormalize, PosixRemovesDotsAndFoldsSeparators) {
    EXPECT_EQ(normalize("/a/./b//c/", Style::posix), "/a/b/c");
    EXPECT_EQ(normalize("/a/b/../c", Style::posix), "/a/c");
    EXPECT_EQ(normalize("/", Style::posix), "/");
    // '..' never climbs above the root.
    EXPECT_EQ(normalize("/../../etc", Style::posix), "/etc");
    EXPECT_EQ(normalize("/a/b/../../..", Style::posix), "/");
}

TEST(PathsNormalize, WindowsKeepsDriveAndPrefix) {
    EXPECT_EQ(normalize("C:\\a\\.\\b\\..\\c", Style::windows), "C:\\a\\c");
    EXPECT_EQ(normalize("\\\\?\\C:\\a\\..\\..\\x", Style::windows), "\\\\?\\C:\\x");
    EXPECT_EQ(normalize("C:/a/b", Style::windows), "C:\\a\\b");
    EXPECT_EQ(normalize("\\\\server\\share\\x\\..\\..\\y", Style::windows), "\\\\server\\share\\y");
}

TEST(PathsNormalize, PrefixedDeviceFormsKeepTheirDevice) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3\\Users\\..\\x",
         "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3\\x"},
        {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3",
         "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3\\"},
        {"\\\\?\\UNC\\srv\\share\\a\\..\\..\\b", "\\\\?\\UNC\\srv\\share\\b"},
        {"\\\\?\\Volume{0b1d}\\a\\.\\b", "\\\\?\\Volume{0b1d}\\a\\b"},
        {"\\\\?\\E:", "\\\\?\\E:\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(normalize(c.in, Style::windows), c.out) << c.in;
    }
    EXPECT_EQ(below_drive("\\\\?\\UNC\\srv\\share\\x", Style::windows), "\\x");
}

TEST(PathsCallForm, DriveRootsUncAndUntouchedPaths) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"\\\\?\\E:", "\\\\?\\E:\\"},
        {"\\\\?\\E:\\x", "\\\\?\\E:\\x"},
        {"\\\\srv\\share\\dir\\name. ", "\\\\?\\UNC\\srv\\share\\dir\\name. "},
        {"C:\\logs\\run.log", "\\\\?\\C:\\logs\\run.log"},
        {"C:\\logs\\..\\run.log", "C:\\logs\\..\\run.log"},
        {"C:/logs/run.log", "C:/logs/run.log"},
        {"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive0"},
        {"run.log", "run.log"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(call_form(c.in), c.out) << c.in;
    }
}

TEST(PathsPrefix, AddedOnceAndShownWithout) {
    EXPECT_EQ(add_long_prefix("C:\\cases\\x", Style::windows), "\\\\?\\C:\\cases\\x");
    EXPECT_EQ(add_long_prefix("\\\\?\\C:\\x", Style::windows), "\\\\?\\C:\\x");
    EXPECT_EQ(add_long_prefix("\\\\server\\share\\x", Style::windows), "\\\\server\\share\\x");
    EXPECT_EQ(add_long_prefix("/data/x", Style::posix), "/data/x");
    EXPECT_EQ(display_path("\\\\?\\D:\\work\\cases\\x"), "D:\\work\\cases\\x");
    EXPECT_EQ(display_path("\\\\server\\share\\x"), "\\\\server\\share\\x");
    EXPECT_EQ(display_path("/data/x"), "/data/x");
}

TEST(PathsJoin, ExactlyOneSeparator) {
    EXPECT_EQ(join("/dst", "a", Style::posix), "/dst/a");
    EXPECT_EQ(join("/dst/", "/a", Style::posix), "/dst/a");
    EXPECT_EQ(join("F:\\JUNK\\", "\\WORK\\C7", Style::windows), "F:\\JUNK\\WORK\\C7");
    EXPECT_EQ(join("F:\\JUNK", "WORK", Style::windows), "F:\\JUNK\\WORK");
    EXPECT_EQ(join("", "a", Style::posix), "a");
    EXPECT_EQ(with_trailing_separator("/a", Style::posix), "/a/");
    EXPECT_EQ(with_trailing_separator("/a/", Style::posix), "/a/");
    EXPECT_EQ(without_trailing_separator("/a/", Style::posix), "/a");
    EXPECT_EQ(without_trailing_separator("/", Style::posix), "/");
}

TEST(PathsSplit, DriveDirectoryNameExtension) {
    const PathParts w = split("D:\\X\\H.TXT", Style::windows);
    EXPECT_EQ(w.drive, "D:");
    EXPECT_EQ(w.directory, "\\X\\");
    EXPECT_EQ(w.name, "H");
    EXPECT_EQ(w.extension, ".TXT");
    const PathParts p = split("/logs/hash.log.txt", Style::posix);
    EXPECT_EQ(p.drive, "");
    EXPECT_EQ(p.directory, "/logs/");
    EXPECT_EQ(p.name, "hash.log");
    EXPECT_EQ(p.extension, ".txt");
    const PathParts dotfile = split("/logs/.hidden", Style::posix);
    EXPECT_EQ(dotfile.name, ".hidden");
    EXPECT_EQ(dotfile.extension, "");
    const PathParts bare = split("/logs/README", Style::posix);
    EXPECT_EQ(bare.name, "README");
    EXPECT_EQ(bare.extension, "");
}

TEST(PathsParts, FileNameParentAndBelowDrive) {
    EXPECT_EQ(file_name("/a/b/c.txt", Style::posix), "c.txt");
    EXPECT_EQ(file_name("C:report.doc", Style::windows), "report.doc");
    EXPECT_EQ(parent("/a/b/c.txt", Style::posix), "/a/b");
    EXPECT_EQ(parent("/a", Style::posix), "/");
    EXPECT_EQ(below_drive("\\\\?\\C:\\DATA\\SUB", Style::windows), "\\DATA\\SUB");
    EXPECT_EQ(below_drive("/data/sub", Style::posix), "/data/sub");
}

TEST(PathsCase, IgnoringCaseComparesAsciiOnly) {
    EXPECT_TRUE(equal_ignoring_case("C:\\Temp", "c:\\TEMP"));
    EXPECT_FALSE(equal_ignoring_case("abc", "abcd"));
    EXPECT_TRUE(starts_with_ignoring_case("C:\\TEMPLATES\\", "c:\\temp"));
    EXPECT_FALSE(starts_with_ignoring_case("C:\\TE", "c:\\temp"));
}

}  // namespace
}  // namespace veldro::paths
