// The manifests: XML text and times, the audit-set rows, the verdict each
// file's reports add up to, and the seal.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "record/audit_set_writer.h"
#include "record/dfxml_writer.h"
#include "record/manifests.h"
#include "record/output_faults.h"
#include "test_files.h"

namespace fs = std::filesystem;
using veldro::record::FileRecord;
using veldro::record::Verdict;

namespace {

TEST(ManifestText, XmlTextEscapesWhatXmlCannotCarry) {
    struct Case {
        std::string in;
        std::string out;
        bool escaped;
    };
    const std::vector<Case> cases{
        {"C:\\DATA\\a.txt", "C:\\DATA\\a.txt", false},
        {"a&b<c>\"d\"", "a&amp;b&lt;c&gt;&quot;d&quot;", false},
        {"line\nend\r\tx", "line&#10;end&#13;&#9;x", false},
        {"\xC3\xA9t\xC3\xA9 \xF0\x9F\x93\x81", "\xC3\xA9t\xC3\xA9 \xF0\x9F\x93\x81", false},
        // Not UTF-8, a control character, an overlong form, a surrogate:
        // the escaped form, where the backslash is doubled too.
        {"dir\\q\xFF", "dir\\\\q\\xFF", true},
        {"bell\x07<", "bell\\x07&lt;", true},
        {"\xC0\xAF", "\\xC0\\xAF", true},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80", true},
        {"cut\xE2\x82", "cut\\xE2\\x82", true},
    };
    std::string out;
    for (const Case& c : cases) {
        EXPECT_EQ(veldro::record::xml_text(c.in, out), c.escaped) << c.in;
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(ManifestText, TimesAreIsoUtcWithTheirFraction) {
    constexpr std::uint64_t epoch_1970 = 116444736000000000ULL;
    struct Case {
        veldro::platform::FileTime time;
        int digits;
        const char* text;
    };
    const std::vector<Case> cases{
        {{epoch_1970, 0}, 9, "1970-01-01T00:00:00.000000000Z"},
        {{epoch_1970 + 12345678, 42}, 9, "1970-01-01T00:00:01.234567842Z"},
        {{epoch_1970 + 12345678, 42}, 7, "1970-01-01T00:00:01.2345678Z"},
        {{epoch_1970 + 17091648000000000ULL, 0}, 9, "2024-02-29T00:00:00.000000000Z"},
        {{1, 0}, 7, "1601-01-01T00:00:00.0000001Z"},
        {{0, 0}, 9, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(veldro::record::iso8601_utc(c.time, c.digits), c.text);
    }
    EXPECT_EQ(veldro::record::iso8601_utc_seconds(-1), "1969-12-31T23:59:59Z");
}

void set_md5(veldro::hash::HashSet& set, const char* text) {
    std::snprintf(set.md5.data(), set.md5.size(), "%s", text);
}

TEST(ManifestAuditSet, RowsListCopiesWithUsableDigests) {
    veldro::hash::DigestSelection kinds;
    kinds.sha256 = true;
    EXPECT_EQ(veldro::record::audit_set_columns(kinds), "size,md5,sha256,filename");

    FileRecord r;
    r.destination = "/copy/a\nb\t\r\x7F";
    r.size = 5;
    r.verdict = Verdict::verified;
    r.destination_hashed = true;
    set_md5(r.destination_digests, "5D41402ABC4B2A76B9719D911017C592");
    std::snprintf(r.destination_digests.sha256.data(), r.destination_digests.sha256.size(), "%s", "AB12");
    // Named below the destination as hashdeep names it; only a line end is escaped.
    EXPECT_EQ(veldro::record::audit_set_row(r, kinds, "/copy"),
              "5,5d41402abc4b2a76b9719d911017c592,ab12,./a\\nb\t\r\x7F");
    EXPECT_EQ(veldro::record::audit_set_row(r, kinds, "/"),
              "5,5d41402abc4b2a76b9719d911017c592,ab12,./copy/a\\nb\t\r\x7F");

    // A copy that still differs is listed with its source's digests.
    r.verdict = Verdict::mismatch;
    r.source_hashed = true;
    set_md5(r.source_digests, "00FF");
    r.source_digests.sha256[0] = 'C';
    EXPECT_EQ(veldro::record::audit_set_row(r, kinds, "/cop"), "5,00ff,c,/copy/a\\nb\t\r\x7F");

    FileRecord unusable = r;
    unusable.verdict = Verdict::updated;
    unusable.destination_digests.status = veldro::hash::DigestStatus::read_failed;
    EXPECT_EQ(veldro::record::audit_set_row(unusable, kinds, "/copy"), "");
    unusable.verdict = Verdict::not_copied;
    EXPECT_EQ(veldro::record::audit_set_row(unusable, kinds, "/copy"), "");
    r.is_link = true;  // the DFXML lists links; hashdeep's audit of regular files does not
    EXPECT_EQ(veldro::record::audit_set_row(r, kinds, "/copy"), "");
}

TEST(ManifestProofFile, ALaterFileIsNumberedBeforeTheLastExtension) {
    using veldro::record::numbered_name;
    EXPECT_EQ(numbered_name("/logs/run.dfxml", 2), "/logs/run.2.dfxml");
    EXPECT_EQ(numbered_name("/logs/RUN.LOG.sha256", 3), "/logs/RUN.LOG.3.sha256");
    EXPECT_EQ(numbered_name("/lo.gs/known", 2), "/lo.gs/known.2");
    EXPECT_EQ(numbered_name("/logs/.report", 12), "/logs/.report.12");
}

// Keeps every record the fan-out hands out.
class Capture final : public veldro::record::ManifestWriter {
public:
    explicit Capture(std::vector<FileRecord>& out) : out_(out) {}
    void write(const FileRecord& record) override { out_.push_back(record); }
    bool close() override { return true; }

private:
    std::vector<FileRecord>& out_;
};

class ManifestFanOut : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("veldro_manifest_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        veldro::test::write_file(dir_ / "src", "data");
        veldro::record::subscribe(files_, std::make_unique<Capture>(records_));
    }
    void TearDown() override {
        veldro::record::close_manifests(files_);
        fs::remove_all(dir_);
    }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    veldro::platform::FindRecord entry() const {
        veldro::platform::FindRecord e;
        e.size = 4;
        EXPECT_FALSE(veldro::platform::lookup_path(path("src"), e));
        return e;
    }
    veldro::OwnedRun run_;
    veldro::OpenFiles& files_ = run_.files;
    std::vector<FileRecord> records_;
    fs::path dir_;
};

TEST_F(ManifestFanOut, EachFileIsRecordedOnceWithItsVerdict) {
    using namespace veldro::record;
    veldro::hash::HashSet digests;
    set_md5(digests, "AA");

    begin_file(files_, path("src"), entry());
    note_renamed(files_, path("dst"));
    note_digests(files_, &digests, &digests, true, true);
    file_done(files_, path("dst[0000]"), true, false);

    begin_file(files_, path("src"), entry());
    note_digests(files_, &digests, &digests, true, false);
    file_done(files_, path("dst"), true, true);

    begin_file(files_, path("src"), entry());
    file_not_copied(files_, path("src"), "reason: AGE Criteria");
    file_not_copied(files_, path("src"), "reason: AGE Criteria");  // said twice, written once

    begin_file(files_, path("src"), entry());
    file_done(files_, path("dst"), false, false);

    begin_file(files_, path("src"), entry());
    file_done(files_, path("dst"), true, true);

    begin_file(files_, path("src"), entry());  // still in work when the run ends
    close_manifests(files_);

    ASSERT_EQ(records_.size(), 6U);
    EXPECT_EQ(records_[0].verdict, Verdict::verified);
    EXPECT_EQ(records_[0].renamed_from, path("dst"));
    EXPECT_EQ(records_[0].destination, path("dst[0000]"));
    EXPECT_EQ(records_[1].verdict, Verdict::mismatch);
    EXPECT_TRUE(records_[1].renamed_from.empty());
    EXPECT_EQ(records_[2].verdict, Verdict::not_copied);
    EXPECT_EQ(records_[2].reason, "reason: AGE Criteria");
    EXPECT_EQ(records_[3].verdict, Verdict::not_copied);
    EXPECT_TRUE(records_[3].destination.empty());
    EXPECT_EQ(records_[4].verdict, Verdict::updated);
    EXPECT_EQ(records_[5].verdict, Verdict::not_copied);
    EXPECT_EQ(records_[5].reason, "the run ended before the file was finished");
}

TEST_F(ManifestFanOut, ASourceThatChangedDuringTheCopyIsSaidSo) {
    using namespace veldro::record;
    begin_file(files_, path("src"), entry());
    note_source_changed(files_, true);
    file_done(files_, path("dst"), true, false);
    begin_file(files_, path("src"), entry());  // the next file starts unchanged
    file_done(files_, path("dst"), true, false);
    ASSERT_EQ(records_.size(), 2U);
    EXPECT_EQ(records_[0].verdict, Verdict::source_changed);
    EXPECT_EQ(records_[1].verdict, Verdict::copied_new);
}

// What one run recorded (a manifest written, an output not written whole)
// is that run's alone: another run in the same process starts clean.
TEST(RecorderState, BelongsToItsRun) {
    veldro::OwnedRun first;
    veldro::OwnedRun second;
    testing::internal::CaptureStderr();
    veldro::record::note_output_fault(first.files, "/logs/RUN.LOG",
                                      std::make_error_code(std::errc::no_space_on_device));
    testing::internal::GetCapturedStderr();
    veldro::record::note_written_file(first.files, "/logs/RUN.LOG");
    EXPECT_EQ(veldro::record::status_with_output_faults(first.files, 0), veldro::WRITE_ERROR);
    EXPECT_EQ(veldro::record::status_with_output_faults(second.files, 0), 0);
    EXPECT_TRUE(veldro::record::written_files(second.files).empty());
}

TEST(ManifestSeal, ListsEveryWrittenFileForSha256sum) {
    const fs::path dir = fs::temp_directory_path() / ("veldro_seal_" + std::to_string(::getpid()));
    fs::create_directories(dir / "sub");
    veldro::test::write_file(dir / "RUN.LOG", "log");
    veldro::test::write_file(dir / "sub" / "x\\y", "");
    veldro::OwnedRun s;
    veldro::record::note_written_file(s.files, (dir / "RUN.LOG").string());
    veldro::record::note_written_file(s.files, (dir / "sub" / "x\\y").string());
    veldro::record::note_written_file(s.files, (dir / "gone.txt").string());  // never made: left out
    s.logs.default_log_path = (dir / "RUN.LOG").string();
    const std::string seal = veldro::record::seal_written_files(s);
    EXPECT_EQ(seal, (dir / "RUN.LOG.sha256").string());
    // These two are listed, and the one never made is not.
    const std::string text = veldro::test::read_file(seal);
    EXPECT_NE(text.find("836ff184e7b41b1e13cb5fd89fa1de98dbbab99e9d2918913ff43b86a5c7c213  RUN.LOG\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n\\e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  sub/x\\\\y\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("gone.txt"), std::string::npos);
    fs::remove_all(dir);
}

}  // namespace
