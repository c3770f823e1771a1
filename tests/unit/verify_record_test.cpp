#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_file_system.h"
#include "verify/check.h"
#include "verify/record.h"

namespace veldro::verify {
namespace {

const std::string md5a(32, 'a');
const std::string md5b(32, 'b');
const std::string sha256a(64, 'c');

bool read_lines(const std::vector<std::string>& lines, Record& out, std::string& error) {
    RecordReader reader;
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    for (std::size_t at = 0, end = 0; at < all.size(); at = end + 1) {
        end = all.find('\n', at);
        if (!reader.read_line(std::string_view(all).substr(at, end - at))) {
            error = reader.error();
            return false;
        }
    }
    if (!reader.finish()) {
        error = reader.error();
        return false;
    }
    out = std::move(reader.record());
    return true;
}

std::string dfxml_object(const std::string& destination_element, const std::string& digest_line) {
    return "  <fileobject>\n    <filename>/src/a</filename>\n" + destination_element + "\n" + digest_line +
           "\n    <veldro:verdict>verified</veldro:verdict>\n  </fileobject>";
}

// Each record kind read from its writer's form: the copy's path below the
// root the record names, and the digests it is to be checked against.
TEST(VerifyRecord, ReadsEachKindInItsWritersForm) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        RecordKind kind;
        std::string root;
        std::string path;
        std::string expected;
    };
    const std::string side = "  | " + md5a + "  | " + sha256a + " ";
    const std::vector<Case> cases{
        {"hash log",
         {"", "/src/x/a\\x7Cb" + side + "|/dst/x/a\\x7Cb" + side + "|[OK]"},
         RecordKind::hash_log,
         "/dst/x",
         "a|b",
         "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA" + std::string(64, 'C')},
        {"hash log, a mismatch checked against the source",
         {"", "/src/a  | " + md5a + " |/dst/a  | " + md5b + " |[HASH ERROR]", "AT LEAST 1 HASHES DIDN'T MATCH"},
         RecordKind::hash_log,
         "/dst",
         "a",
         std::string(32, 'A')},
        {"hash log appended to by a later run",
         {"", "/src/a  | " + md5a + " |/dst/a  | " + md5a + " |[OK]", "",
          "/src/a  | " + md5b + " |/dst/a  | " + md5b + " |[OK]"},
         RecordKind::hash_log,
         "/dst",
         "a",
         std::string(32, 'B')},
        {"DFXML, escaped name",
         {"<?xml version=\"1.0\"?>", "<dfxml version=\"x\">",
          "      <command_line>veldro -p /src -d /dst </command_line>",
          dfxml_object("    <veldro:destination veldro:escaped=\"1\">/dst/d/t&amp;\\x01</veldro:destination>",
                       "    <veldro:hashdigest type=\"md5\">" + md5b + "</veldro:hashdigest>"),
          "</dfxml>"},
         RecordKind::dfxml,
         "/dst",
         "d/t&\x01",
         std::string(32, 'B')},
        {"audit set, relative names",
         {"%%%% HASHDEEP-1.0", "%%%% size,md5,sha256,filename", "## Invoked from: /dst", "## $ veldro", "##",
          "5," + md5a + "," + sha256a + ",./x/n,a\\x0Ab"},
         RecordKind::audit_set,
         "/dst",
         "x/n,a\nb",
         std::string(32, 'A') + std::string(64, 'C')},
    };
    for (const Case& c : cases) {
        Record r;
        std::string error;
        ASSERT_TRUE(read_lines(c.lines, r, error)) << c.what << ": " << error;
        EXPECT_EQ(r.kind, c.kind) << c.what;
        EXPECT_EQ(r.root, c.root) << c.what;
        ASSERT_EQ(r.copies.size(), 1U) << c.what;
        EXPECT_EQ(r.copies[0].path, c.path) << c.what;
        EXPECT_EQ(r.copies[0].expected, c.expected) << c.what;
    }
}

// A record is hostile input: a line not in its writer's form refuses it.
TEST(VerifyRecord, RefusesLinesNotInTheWritersForm) {
    const std::string side = "  | " + md5a + " ";
    const std::vector<std::vector<std::string>> cases{
        {"just text"},
        {"", "/src/a" + side + "|/dst/../etc/passwd" + side + "|[OK]"},
        {"", "/src/a" + side + "|dst/a" + side + "|[OK]"},
        {"", "/dst/a" + side},  // one side only: it may be a source
        {"", "/src/a  | not-a-digest |/dst/a" + side + "|[OK]"},
        {"", "/src/a" + side + "|/dst/a\\q" + side + "|[OK]"},
        {"%%%% HASHDEEP-1.0", "%%%% size,tiger,filename"},
        {"%%%% HASHDEEP-1.0", "%%%% size,md5,filename", "x," + md5a + ",/dst/a"},
        {"%%%% HASHDEEP-1.0", "%%%% size,md5,filename", "## Invoked from: /dst", "1," + md5a + ",../a"},
        {"%%%% HASHDEEP-1.0", "%%%% size,md5,filename", "1," + md5a + ",a"},  // relative, no directory
        {"<?xml version=\"1.0\"?>", "<dfxml>", "  <fileobject>", "    <veldro:hashdigest type=\"md5\">" + md5a},
        {"<?xml version=\"1.0\"?>", "<dfxml>", "  <fileobject>",
         "    <veldro:hashdigest type=\"sha1\">" + md5a + "</veldro:hashdigest>"},
        {"<?xml version=\"1.0\"?>", "<dfxml>", "  <fileobject>"},
    };
    for (const auto& lines : cases) {
        Record r;
        std::string error;
        EXPECT_FALSE(read_lines(lines, r, error)) << lines.back();
        EXPECT_FALSE(error.empty()) << lines.back();
    }
}

// The check reads each copy, finds what was altered, is missing, cannot
// be read or was added, and reports in record order.
TEST(VerifyCheck, FindsEachKindOfDifference) {
    test::FakeFileSystem fs;
    fs.add("/new", "", platform::EntryKind::directory);
    fs.add("/new/same", "abc");  // MD5 900150983cd24fb0d6963f7d28e17f72
    fs.add("/new/changed", "abd");
    fs.add("/new/locked", "abc");
    fs.add("/new/extra", "x");
    fs.add("/new/own.log", "x");
    fs.fail(test::FsOp::read_back, 0, std::errc::permission_denied, "/new/locked");
    Record r;
    const std::string abc = "900150983CD24FB0D6963F7D28E17F72";
    const std::uint8_t md5 = kind_bit(hash::DigestKind::md5);
    r.copies = {{"same", abc, md5}, {"changed", abc, md5}, {"gone", abc, md5}, {"locked", abc, md5}};
    {
        std::vector<std::string> seen;
        const CheckCounts n = check_copies(fs, r, "/new", 1, {"/new/own.log"}, [&](const Checked& c) {
            seen.push_back(c.path + ":" + std::to_string(static_cast<int>(c.finding)) + ":" + c.reason);
        });
        EXPECT_EQ(seen, (std::vector<std::string>{
                            "same:0:", "changed:1:", "gone:2:",
                            "locked:3:" + std::make_error_code(std::errc::permission_denied).message(), "extra:4:"}));
        EXPECT_EQ(n.matched + n.altered + n.missing + n.unreadable + n.added, 5U);
    }
}

}  // namespace
}  // namespace veldro::verify
