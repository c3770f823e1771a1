// The extraction modes: stream files beside the copy or in its place, their
// times, the count of extracted files, and the stream lines of the hash log.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ads/streams.h"
#include "platform/fs.h"
#include "platform/streams.h"
#include "record/file_record.h"
#include "run/run.h"
#include "util/paths.h"

namespace veldro {
namespace {

namespace fs = std::filesystem;

constexpr const char* md5_a = "0CC175B9C0F1B6A831C399E269772661";
constexpr const char* md5_abc = "900150983CD24FB0D6963F7D28E17F72";
constexpr const char* md5_empty = "D41D8CD98F00B204E9800998ECF8427E";
constexpr const char* sha1_abc = "A9993E364706816ABA3E25717850C26C9CD0D89D";
constexpr const char* filler = "  SOURCE_FILE FILLER        |      SOURCE_FILE FILLER      |";

// 100-ns ticks since 1601 of a Unix time.
platform::FileTime file_time(std::int64_t unix_seconds) {
    return platform::FileTime{static_cast<std::uint64_t>(unix_seconds + 11644473600LL) * 10000000ULL, 0};
}

std::string contents_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class StreamModesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                (std::string("veldro_ads_modes_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                 "_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "src");
        fs::create_directories(root_ / "dst");
        const std::string probe = make_file("src/probe", "x");
        if (platform::write_stream(probe, "probe", "1", 1)) {
            GTEST_SKIP() << "the temporary directory's file system keeps no user extended attributes";
        }
        fs::remove(probe);
        entry_.times.creation = file_time(1000000000);
        entry_.times.last_access = file_time(1100000000);
        entry_.times.last_write = file_time(1200000000);
        entry_.name = "report.doc";
        log_ = std::tmpfile();
        ASSERT_NE(log_, nullptr);
    }
    void TearDown() override {
        if (log_ != nullptr) {
            std::fclose(log_);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    std::string path(const std::string& relative) const { return (root_ / relative).string(); }

    std::string make_file(const std::string& relative, const std::string& contents) {
        std::ofstream(path(relative), std::ios::binary) << contents;
        return path(relative);
    }

    void add_stream(const std::string& file, const std::string& name, const std::string& value) {
        ASSERT_FALSE(platform::write_stream(file, name, value.data(), value.size())) << name;
    }

    // A source and its copy with the same contents and streams, as the
    // copy engine leaves them; gives the copy's path.
    std::string copied_pair(const std::string& name, const std::vector<std::pair<std::string, std::string>>& streams) {
        const std::string source = make_file("src/" + name, "body");
        const std::string copy = make_file("dst/" + name, "body");
        for (const auto& [stream, value] : streams) {
            add_stream(source, stream, value);
            add_stream(copy, stream, value);
        }
        return copy;
    }

    // Gives the file the entry's times, as a source found by the walk has.
    void stamp(const std::string& file) {
        bool creation_set = false;
        ASSERT_FALSE(platform::set_times(file, entry_.times, creation_set));
    }

    platform::FileTimeSet times_of(const std::string& file) {
        platform::FindRecord record;
        EXPECT_FALSE(platform::lookup_path(file, record)) << file;
        return record.times;
    }

    std::string log_text() {
        std::fflush(log_);
        std::rewind(log_);
        std::string text;
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, log_)) > 0) {
            text.append(buffer, got);
        }
        return text;
    }

    // The hash-log lines, without the empty text before the first line end.
    std::vector<std::string> log_lines() {
        std::vector<std::string> lines;
        std::istringstream in(log_text());
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty()) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    static const std::string* line_with(const std::vector<std::string>& lines, const std::string& part) {
        for (const std::string& line : lines) {
            if (line.find(part) != std::string::npos) {
                return &line;
            }
        }
        return nullptr;
    }

    // The stream work of one file and then its records, as the pipeline
    // runs them.
    void begin_work(const veldro::Run& s, const std::string& source, const std::string& destination) {
        out_.reset();
        out_.source = source;
        out_.destination = destination;
        out_.entry = entry_;
        out_.hash_log = s.files.hash_log != nullptr;
        out_.streams_only = s.copy.ads_child != 0;
    }
    int extract(OwnedRun& s, const std::string& source, const std::string& copy) {
        begin_work(s, source, copy);
        ads::extract_copy_streams(s.options, out_, scratch_);
        record::FileReport(s, out_).streams();
        int written = 0;
        for (std::size_t i = 0; i < out_.extracted_streams; ++i) {
            written += out_.streams[i].written ? 1 : 0;
        }
        return written;
    }
    bool write_child(OwnedRun& s, const std::string& source, std::string& destination) {
        begin_work(s, source, destination);
        const bool all = ads::write_source_streams(s.options, out_, scratch_);
        record::FileReport(s, out_).streams();
        destination = out_.destination;
        return all;
    }
    void hash(OwnedRun& s, const std::string& source, const std::string& copy) {
        begin_work(s, source, copy);
        ads::hash_streams(s.options, out_, scratch_);
        record::FileReport(s, out_).streams();
    }

    fs::path root_;
    platform::FindRecord entry_;
    FileOutcome out_;
    ads::StreamScratch scratch_;
    std::FILE* log_ = nullptr;
};

// ---- --ADSEXTRACT / --ADSPARENT --------------------------------------------

TEST_F(StreamModesTest, ExtractWritesEachStreamBesideTheCopyWithTheSourceTimes) {
    const std::string copy = copied_pair("report.doc", {{"a", "a"}, {"b", "abc"}, {"empty", ""}});
    OwnedRun s;
    s.copy.ads_extract = 1;

    EXPECT_EQ(extract(s, path("src/report.doc"), copy), 3);

    for (const char* name : {"[a]", "[b]", "[empty]"}) {
        const platform::FileTimeSet times = times_of(copy + name);
        EXPECT_EQ(times.last_write, entry_.times.last_write) << name;
        EXPECT_EQ(times.last_access, entry_.times.last_access) << name;
    }
    EXPECT_EQ(contents_of(copy + "[a]"), "a");
    EXPECT_EQ(contents_of(copy + "[b]"), "abc");
    ASSERT_TRUE(fs::exists(copy + "[empty]"));
    EXPECT_EQ(fs::file_size(copy + "[empty]"), 0U);
    EXPECT_EQ(s.counters.ads_files_copied, 3);
    EXPECT_EQ(contents_of(copy), "body");
    EXPECT_EQ(s.counters.copy_failures, 0);
}

TEST_F(StreamModesTest, ExtractTakesTheCopysStreamWhereItHasOne) {
    // A stream file shows what the copy holds.
    const std::string copy = copied_pair("report.doc", {{"a", "source"}});
    add_stream(copy, "a", "copy");
    OwnedRun s;
    EXPECT_EQ(extract(s, path("src/report.doc"), copy), 1);
    EXPECT_EQ(contents_of(copy + "[a]"), "copy");
}

TEST_F(StreamModesTest, ExtractTakesAStreamTheCopyLacksFromTheSource) {
    const std::string source = make_file("src/report.doc", "body");
    add_stream(source, "kept", "on both");
    add_stream(source, "lost", "only on the source");
    stamp(source);
    const std::string copy = make_file("dst/report.doc", "body");
    add_stream(copy, "kept", "on both");
    OwnedRun s;
    EXPECT_EQ(extract(s, source, copy), 2);
    EXPECT_EQ(contents_of(copy + "[lost]"), "only on the source");
    EXPECT_EQ(contents_of(copy + "[kept]"), "on both");
    EXPECT_EQ(s.counters.ads_files_copied, 2);
    EXPECT_EQ(times_of(source).last_access, entry_.times.last_access);
}

TEST_F(StreamModesTest, ExtractHandlesEveryStreamOfAFileWithMany) {
    std::vector<std::pair<std::string, std::string>> streams;
    for (int i = 0; i < 14; ++i) {
        std::string name("stream ");
        name.append(std::to_string(i));
        streams.emplace_back(name, name);
    }
    const std::string copy = copied_pair("many", streams);
    OwnedRun s;
    s.copy.ads_extract = 1;
    EXPECT_EQ(extract(s, path("src/many"), copy), 14);
    EXPECT_EQ(s.counters.ads_files_copied, 14);
    EXPECT_EQ(contents_of(copy + "[stream 13]"), "stream 13");
    EXPECT_EQ(contents_of(copy + "[stream 0]"), "stream 0");
}

TEST_F(StreamModesTest, ExtractOverwritesAStreamFileOfAnEarlierRun) {
    const std::string copy = copied_pair("report.doc", {{"a", "a"}});
    make_file("dst/report.doc[a]", "an older and much longer extraction");
    OwnedRun s;
    EXPECT_EQ(extract(s, path("src/report.doc"), copy), 1);
    EXPECT_EQ(contents_of(copy + "[a]"), "a");
    // Nothing but the copy and its stream file stands in the directory.
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "dst"), fs::directory_iterator()), 2);
}

TEST_F(StreamModesTest, ExtractNamesWithBlanksAndNonAsciiCharacters) {
    const std::string copy = copied_pair("résumé.txt", {{"Zone Identifier ü€", "abc"}});
    OwnedRun s;
    EXPECT_EQ(extract(s, path("src/résumé.txt"), copy), 1);
    EXPECT_EQ(contents_of(copy + "[Zone Identifier ü€]"), "abc");
}

TEST_F(StreamModesTest, ExtractWritesTheStreamFileDigestsWithTheSourceFiller) {
    const std::string copy = copied_pair("report.doc", {{"a", "a"}});
    OwnedRun s;
    s.hashing.hash_both();
    s.files.hash_log = log_;
    extract(s, path("src/report.doc"), copy);
    EXPECT_EQ(log_text(), std::string("\n") + filler + copy + "[a]  | " + md5_a);
}

TEST_F(StreamModesTest, ExtractWithOneSidedHashingHasNoFiller) {
    const std::string copy = copied_pair("report.doc", {{"b", "abc"}});
    OwnedRun s;
    s.hashing.hash_none();
    s.hashing.hash_copies = true;
    s.files.hash_log = log_;
    extract(s, path("src/report.doc"), copy);
    EXPECT_EQ(log_text(), "\n" + copy + "[b]  | " + md5_abc);
}

TEST_F(StreamModesTest, ExtractOfAFileWithoutStreamsDoesNothing) {
    const std::string copy = copied_pair("plain", {});
    OwnedRun s;
    s.hashing.hash_both();
    s.files.hash_log = log_;
    EXPECT_EQ(extract(s, path("src/plain"), copy), 0);
    EXPECT_EQ(s.counters.ads_files_copied, 0);
    EXPECT_EQ(log_text(), "");
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "dst"), fs::directory_iterator()), 1);
}

TEST_F(StreamModesTest, ExtractLeavesADirectorysOwnStreamsAloneInChildMode) {
    // With --ADSCHILD the path names the destination directory by now.
    copied_pair("report.doc", {{"a", "a"}});
    add_stream(path("dst"), "dir stream", "d");
    OwnedRun s;
    s.copy.ads_extract = 1;
    s.copy.ads_child = 1;
    EXPECT_EQ(extract(s, path("src/report.doc"), path("dst")), 0);
    EXPECT_FALSE(fs::exists(path("dst[dir stream]")));
    EXPECT_FALSE(fs::exists(path("dst[a]")));
    EXPECT_EQ(s.counters.ads_files_copied, 0);
}

// ---- --ADSCHILD -------------------------------------------------------------

TEST_F(StreamModesTest, ChildWritesOnlyTheStreamFilesAndLeavesTheSourceTimes) {
    const std::string source = make_file("src/report.doc", "body");
    add_stream(source, "a", "a");
    add_stream(source, "b", "abc");
    stamp(source);
    OwnedRun s;
    s.copy.ads_extract = 1;
    s.copy.ads_child = 1;
    std::string destination = path("dst/report.doc");

    EXPECT_TRUE(write_child(s, source, destination));

    EXPECT_EQ(destination, path("dst"));
    EXPECT_FALSE(fs::exists(path("dst/report.doc")));
    EXPECT_EQ(contents_of(path("dst/report.doc[a]")), "a");
    EXPECT_EQ(contents_of(path("dst/report.doc[b]")), "abc");
    EXPECT_EQ(s.counters.ads_files_copied, 2);
    EXPECT_EQ(times_of(path("dst/report.doc[b]")).last_write, entry_.times.last_write);
    const platform::FileTimeSet after = times_of(source);
    EXPECT_EQ(after.last_access, entry_.times.last_access);
    EXPECT_EQ(after.last_write, entry_.times.last_write);
}

TEST_F(StreamModesTest, ChildNamesTheStreamFilesAfterTheSourceName) {
    // A flattened or renamed destination keeps the source's own name for
    // the stream files: they sit in the destination's directory.
    const std::string source = make_file("src/report.doc", "body");
    add_stream(source, "a", "a");
    OwnedRun s;
    s.copy.ads_child = 1;
    std::string destination = path("dst/report(1).doc");
    EXPECT_TRUE(write_child(s, source, destination));
    EXPECT_EQ(contents_of(path("dst/report.doc[a]")), "a");
}

// ---- stream digests ----------------------------------------------------------

TEST_F(StreamModesTest, HashStreamsComparesEachStreamWithTheCopysStream) {
    const std::string source = make_file("src/report.doc", "body");
    const std::string copy = make_file("dst/report.doc", "body");
    add_stream(source, "same", "abc");
    add_stream(copy, "same", "abc");
    add_stream(source, "differs", "abc");
    add_stream(copy, "differs", "a");
    OwnedRun s;
    s.hashing.hash_both();
    s.files.hash_log = log_;

    hash(s, source, copy);

    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 2U);
    const std::string* same = line_with(lines, ":same ");
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(*same, source + ":same  | " + md5_abc + " |" + copy + ":same  | " + md5_abc + " | [OK] ");
    const std::string* differs = line_with(lines, ":differs ");
    ASSERT_NE(differs, nullptr);
    EXPECT_EQ(*differs, source + ":differs  | " + md5_abc + " |" + copy + ":differs  | " + md5_a + " | [ERROR] ");
    EXPECT_EQ(s.counters.copy_failures, 1);
}

TEST_F(StreamModesTest, HashStreamsMarksAStreamMissingFromTheCopyAsAnError) {
    const std::string source = make_file("src/report.doc", "body");
    const std::string copy = make_file("dst/report.doc", "body");
    add_stream(source, "lost", "");
    OwnedRun s;
    s.hashing.hash_both();
    s.files.hash_log = log_;
    hash(s, source, copy);
    const std::string text = log_text();
    EXPECT_NE(text.find(source + ":lost  | " + md5_empty + " |"), std::string::npos) << text;
    EXPECT_NE(text.find(copy + ":lost  | - ERROR - FILE POSSIBLY LOCKED - | [ERROR] "), std::string::npos) << text;
}

TEST_F(StreamModesTest, HashStreamsOfTwoUnreadableSidesIsNeverOk) {
    const std::string source = make_file("src/report.doc", "body");
    add_stream(source, "s", "a");
    OwnedRun s;
    s.hashing.hash_both();
    s.files.hash_log = log_;
    // Neither the destination file nor its stream exists.
    hash(s, source, path("dst/absent"));
    EXPECT_NE(log_text().find(" [ERROR] "), std::string::npos);
}

TEST_F(StreamModesTest, HashStreamsSourceOnlyAndDestinationOnly) {
    const std::string source = make_file("src/report.doc", "body");
    const std::string copy = make_file("dst/report.doc", "body");
    add_stream(source, "s", "a");
    add_stream(copy, "s", "abc");
    OwnedRun s;
    s.files.hash_log = log_;

    s.hashing.hash_none();

    s.hashing.hash_sources = true;
    hash(s, source, copy);
    EXPECT_EQ(log_text(), "\n" + source + ":s  | " + md5_a + " |");

    std::FILE* second = std::tmpfile();
    ASSERT_NE(second, nullptr);
    std::fclose(log_);
    log_ = second;
    s.files.hash_log = log_;
    s.hashing.hash_none();
    s.hashing.hash_copies = true;
    hash(s, source, copy);
    EXPECT_EQ(log_text(), "\n" + copy + ":s  | " + md5_abc + " |");
}

TEST_F(StreamModesTest, HashStreamsWithSha1WritesItsColumnsAndComparesThem) {
    const std::string source = make_file("src/report.doc", "body");
    const std::string copy = make_file("dst/report.doc", "body");
    add_stream(source, "s", "abc");
    add_stream(copy, "s", "abc");
    OwnedRun s;
    s.hashing.hash_both();
    s.hashing.sha1 = 1;
    s.files.hash_log = log_;
    hash(s, source, copy);
    EXPECT_EQ(log_text(), "\n" + source + ":s  | " + md5_abc + " | " + sha1_abc + " |" + copy + ":s  | " + md5_abc +
                              " | " + sha1_abc + " |  [OK] ");
}

TEST_F(StreamModesTest, HashStreamsLeavesTheSourceTimesAsFound) {
    const std::string source = make_file("src/report.doc", "body");
    const std::string copy = make_file("dst/report.doc", "body");
    add_stream(source, "s", std::string(3000, 'x'));
    add_stream(copy, "s", "x");
    stamp(source);
    OwnedRun s;
    s.hashing.hash_both();
    s.files.hash_log = log_;
    hash(s, source, copy);
    const platform::FileTimeSet after = times_of(source);
    EXPECT_EQ(after.last_access, entry_.times.last_access);
    EXPECT_EQ(after.last_write, entry_.times.last_write);
}

TEST_F(StreamModesTest, HashStreamsInChildModeComparesWithTheStreamFiles) {
    const std::string source = make_file("src/report.doc", "body");
    add_stream(source, "a", "a");
    OwnedRun s;
    s.copy.ads_extract = 1;
    s.copy.ads_child = 1;
    s.hashing.hash_both();
    s.files.hash_log = log_;
    std::string destination = path("dst/report.doc");
    ASSERT_TRUE(write_child(s, source, destination));
    hash(s, source, destination);
    EXPECT_EQ(log_text(),
              "\n" + source + ":a  | " + md5_a + " |" + path("dst/report.doc[a]") + "  | " + md5_a + " | [OK] ");
}

TEST_F(StreamModesTest, HashStreamsWithoutAHashLogHashesNothing) {
    const std::string source = make_file("src/report.doc", "body");
    add_stream(source, "s", "a");
    OwnedRun s;
    s.hashing.hash_both();
    testing::internal::CaptureStdout();
    hash(s, source, path("dst/report.doc"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(StreamNames, StreamFileAndDisplayText) {
    EXPECT_EQ(ads::stream_file_path("/d/report.doc", "notes.txt"), "/d/report.doc[notes.txt]");
    EXPECT_EQ(ads::stream_file_path("/d/a:b", "c d"), "/d/a:b[c d]");
    EXPECT_EQ(ads::stream_display_text("/d/report.doc", "notes.txt"), "/d/report.doc:notes.txt");
    // A backslash is a separator on Windows and a character of the name
    // (written escaped) on Linux; a stream name is escaped like a file name.
    EXPECT_EQ(ads::stream_display_text("\\\\?\\C:\\d\\report.doc", "s"),
              paths::native_style == paths::Style::windows ? "C:\\d\\report.doc:s" : "C:\\\\d\\\\report.doc:s");
    EXPECT_EQ(ads::stream_display_text("/d/r", "a\nb|c"),
              paths::native_style == paths::Style::windows ? "/d/r:a\nb|c" : "/d/r:a\\nb\\x7Cc");
}

}  // namespace
}  // namespace veldro
