// Whole-file digests: the one-pass reader, the MD5 routine, and what they
// give for files that cannot be opened or read.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "hash/file_digest.h"

namespace veldro::hash {
namespace {

namespace fs = std::filesystem;

constexpr const char* empty_md5 = "D41D8CD98F00B204E9800998ECF8427E";
constexpr const char* empty_sha1 = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";
constexpr const char* empty_sha256 = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 131 + (i >> 8U) * 7 + 11) & 0xFFU);
    }
    return s;
}

DigestSelection all_kinds() {
    return DigestSelection{true, true, true, true, true};
}

class FileDigestTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("veldro_hash_" + std::to_string(rd()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string write_file(const std::string& name, const std::string& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    fs::path dir_;
};

// Every kind's text for one file, by a reader of its own.
HashSet by_reader(const std::string& path) {
    DigestReader reader;
    HashSet set;
    EXPECT_EQ(reader.hash_file(path, all_kinds(), set), DigestStatus::ok);
    return set;
}

// Every kind's text for bytes in memory.
HashSet of_bytes(const std::string& bytes) {
    DigestFeed feed;
    feed.start(all_kinds());
    feed.add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    HashSet set;
    feed.finish(set);
    return set;
}

void expect_same_texts(const HashSet& a, const HashSet& b) {
    for (DigestKind k :
         {DigestKind::md5, DigestKind::sha1, DigestKind::sha256, DigestKind::sha384, DigestKind::sha512}) {
        EXPECT_EQ(a.text(k), b.text(k)) << "kind " << static_cast<int>(k);
    }
}

TEST_F(FileDigestTest, EmptyFileGivesTheDigestsOfEmptyInput) {
    const std::string path = write_file("empty", "");
    const HashSet set = by_reader(path);
    EXPECT_EQ(set.text(DigestKind::md5), empty_md5);
    EXPECT_EQ(set.text(DigestKind::sha1), empty_sha1);
    EXPECT_EQ(set.text(DigestKind::sha256), empty_sha256);
    // Lengths and upper case of every text.
    EXPECT_EQ(set.text(DigestKind::sha384).size(), 96U);
    EXPECT_EQ(set.text(DigestKind::sha512).size(), 128U);
    EXPECT_EQ(set.text(DigestKind::sha512).find_first_of("abcdef"), std::string_view::npos);
}

TEST_F(FileDigestTest, FilesOfOneAndManyReadPiecesMatchTheirBytes) {
    // Exactly one 64 KiB piece, and files longer than the reader's buffer
    // (with a remainder), read through a small buffer and the default one.
    const std::size_t sizes[] = {65536, 3 * 65536 + 17, DigestReader::default_buffer_size * 2 + 5};
    DigestReader small(64 * 1024);
    DigestReader large;
    for (std::size_t size : sizes) {
        const std::string bytes = pattern(size);
        const std::string path = write_file(std::to_string(size) + ".bin", bytes);
        const HashSet expected = of_bytes(bytes);
        for (DigestReader* reader : {&small, &large}) {
            HashSet got;
            EXPECT_EQ(reader->hash_file(path, all_kinds(), got), DigestStatus::ok);
            expect_same_texts(got, expected);
        }
        Md5Text md5{};
        EXPECT_STREQ(md5_file_digest(path, &md5), expected.md5.data());
    }
    // The published-independent value for the 64 KiB pattern.
    EXPECT_STREQ(md5_file_digest(write_file("k64", pattern(65536))), "74B516B7A26008B99CDC297A78F6F5BE");
}

TEST_F(FileDigestTest, OnePassFillsOnlyTheSelectedKinds) {
    const std::string path = write_file("data", pattern(200'000));
    DigestReader reader;
    const HashSet one_pass = by_reader(path);
    HashSet partial;
    DigestSelection md5_and_sha384;
    md5_and_sha384.sha384 = true;
    ASSERT_EQ(reader.hash_file(path, md5_and_sha384, partial), DigestStatus::ok);
    EXPECT_EQ(partial.text(DigestKind::md5), one_pass.text(DigestKind::md5));
    EXPECT_EQ(partial.text(DigestKind::sha384), one_pass.text(DigestKind::sha384));
    EXPECT_TRUE(partial.text(DigestKind::sha1).empty());
    EXPECT_TRUE(partial.text(DigestKind::sha256).empty());
    EXPECT_TRUE(partial.text(DigestKind::sha512).empty());
}

TEST_F(FileDigestTest, CallerBufferReceivesTheTextOwnTextOtherwise) {
    const std::string path = write_file("empty", "");
    Md5Text mine{};
    const char* text = md5_file_digest(path, &mine);
    EXPECT_EQ(text, mine.data());
    EXPECT_STREQ(mine.data(), empty_md5);
    const char* own = md5_file_digest(path);
    ASSERT_NE(own, nullptr);
    EXPECT_STREQ(own, empty_md5);
}

TEST_F(FileDigestTest, PathThatCannotBeOpened) {
    const std::string path = (dir_ / "no such file").string();
    Md5Text md5{};
    EXPECT_STREQ(md5_file_digest(path, &md5), "- ERROR - FILE POSSIBLY LOCKED -");
    EXPECT_STREQ(md5.data(), "- ERROR - FILE POSSIBLY LOCKED -");

    DigestReader reader;
    HashSet set;
    EXPECT_EQ(reader.hash_file(path, all_kinds(), set), DigestStatus::open_failed);
    EXPECT_EQ(set.text(DigestKind::md5), md5_open_error_text);
    EXPECT_EQ(set.text(DigestKind::sha1), "-- ERROR - FILE POSSIBLY LOCKED BY OS --");
    // The error texts keep the columns of the digests they replace.
    EXPECT_EQ(set.text(DigestKind::md5).size(), 32U);
    EXPECT_EQ(set.text(DigestKind::sha1).size(), 40U);
    // SHA-2 has no text for a file that cannot be opened.
    EXPECT_TRUE(set.text(DigestKind::sha256).empty());
    EXPECT_TRUE(set.text(DigestKind::sha512).empty());
}

TEST_F(FileDigestTest, PathThatOpensButCannotBeReadIsAnErrorNotTheEmptyDigest) {
    // A directory opens for reading here, and its first read fails.
    const std::string path = dir_.string();
    Md5Text md5{};
    EXPECT_STREQ(md5_file_digest(path, &md5), "- ERROR - FILE COULD NOT BE READ");
    DigestReader reader;
    HashSet set;
    EXPECT_EQ(reader.hash_file(path, all_kinds(), set), DigestStatus::read_failed);
    EXPECT_NE(set.text(DigestKind::sha256).find("ERROR"), std::string_view::npos);
    EXPECT_EQ(set.text(DigestKind::sha256).size(), 64U);
}

// A source that gives a few pieces and then fails.
struct FailingSource {
    int pieces_left;
    static std::int64_t read(void* self, void* buffer, std::size_t size) {
        auto* source = static_cast<FailingSource*>(self);
        if (source->pieces_left-- <= 0) {
            return -1;
        }
        std::memset(buffer, 'q', size);
        return static_cast<std::int64_t>(size);
    }
};

TEST(DigestReaderTest, ReadFailingPartWayGivesErrorTextsOfEveryKind) {
    DigestReader reader(64 * 1024);
    FailingSource source{3};
    HashSet set;
    EXPECT_EQ(reader.hash_source(&FailingSource::read, &source, all_kinds(), set), DigestStatus::read_failed);
    const std::size_t lengths[] = {32, 40, 64, 96, 128};
    std::size_t i = 0;
    for (DigestKind k :
         {DigestKind::md5, DigestKind::sha1, DigestKind::sha256, DigestKind::sha384, DigestKind::sha512}) {
        EXPECT_EQ(set.text(k).size(), lengths[i++]);
        EXPECT_NE(set.text(k).find("ERROR"), std::string_view::npos) << set.text(k);
        EXPECT_EQ(set.text(k), read_error_text(k));
    }

    // A failure before the first byte is no digest of empty input either.
    FailingSource at_once{0};
    HashSet none;
    EXPECT_EQ(reader.hash_source(&FailingSource::read, &at_once, DigestSelection{}, none), DigestStatus::read_failed);
    EXPECT_EQ(none.text(DigestKind::md5), md5_read_error_text);

    // The same reader then hashes a good source correctly.
    struct Abc {
        bool given = false;
        static std::int64_t read(void* self, void* buffer, std::size_t /*size*/) {
            auto* source = static_cast<Abc*>(self);
            if (source->given) {
                return 0;
            }
            source->given = true;
            std::memcpy(buffer, "abc", 3);
            return 3;
        }
    } abc;
    HashSet good;
    EXPECT_EQ(reader.hash_source(&Abc::read, &abc, DigestSelection{}, good), DigestStatus::ok);
    EXPECT_EQ(good.text(DigestKind::md5), "900150983CD24FB0D6963F7D28E17F72");
}

TEST_F(FileDigestTest, FileHeldOpenForWritingByAnotherProcessIsReallyHashed) {
    const std::string bytes = pattern(100'000);
    const std::string path = write_file("held", bytes);
    const std::string ready = (dir_ / "ready").string();
    // The child opens the file for appending, says so, and holds it until
    // its standard input closes.
    const std::string command = "exec 3>>'" + path + "'; : > '" + ready + "'; cat > /dev/null";
    FILE* child = popen(("sh -c \"" + command + "\"").c_str(), "w");
    ASSERT_NE(child, nullptr);
    for (int i = 0; i < 1000 && !fs::exists(ready); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(ready));

    const HashSet got = by_reader(path);
    EXPECT_EQ(pclose(child), 0);
    expect_same_texts(got, of_bytes(bytes));
}

}  // namespace
}  // namespace veldro::hash
