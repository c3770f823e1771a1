// The acquisition report: HTML text, what the tally keeps of the records,
// and a document that no name can add markup to.
#include <gtest/gtest.h>

#include <string>

#include "record/report.h"

namespace {

using veldro::record::FileRecord;
using veldro::record::ReportContent;
using veldro::record::ReportTally;
using veldro::record::Verdict;

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

FileRecord record(const std::string& source, Verdict verdict, std::uint64_t size = 0, const std::string& reason = {}) {
    FileRecord r;
    r.source = source;
    r.verdict = verdict;
    r.size = size;
    r.reason = reason;
    r.times_known = true;
    // 2021-01-01T00:00:00Z as a file time.
    r.times.last_write.ticks = (1609459200ULL + 11644473600ULL) * 10000000ULL;
    if (verdict != Verdict::not_copied) {
        r.destination = "/dst/" + source;
    }
    return r;
}

TEST(ReportTextTest, MarkupAndControlCharactersCannotPass) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"plain \xC3\xA9t\xC3\xA9", "plain \xC3\xA9t\xC3\xA9"},
        {"<img src=x onerror=alert(1)>", "&lt;img src=x onerror=alert(1)&gt;"},
        {"a&b \"q\" 'p'", "a&amp;b &quot;q&quot; &#39;p&#39;"},
        {"bell\x07"
         "del\x7F",
         "bell\xEF\xBF\xBD"
         "del\xEF\xBF\xBD"},
        {"tab\tline\n", "tab\tline\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(veldro::record::html_text(c.in), c.out) << c.in;
    }
}

TEST(ReportTextTest, Extensions) {
    const std::pair<const char*, const char*> cases[] = {
        {"Photo.JPG", "jpg"},  {"archive.tar.gz", "gz"}, {"README", "(none)"},
        {".bashrc", "(none)"}, {"trailing.", "(none)"},  {"x.averyverylongext", "(other)"},
    };
    for (const auto& [name, ext] : cases) {
        EXPECT_EQ(veldro::record::extension_of(name), ext) << name;
    }
}

TEST(ReportTallyTest, KeepsCountsListsAndChartTotals) {
    ReportTally t;
    t.add(record("/s/a.txt", Verdict::verified, 10));
    t.add(record("/s/b.TXT", Verdict::copied_new, 5));
    t.add(record("/s/c.bin", Verdict::mismatch, 7));
    FileRecord failed = record("/s/d.bin", Verdict::not_copied, 1, "reason: ******** COPY ERROR *******");
    failed.detail = "no room";
    t.add(failed);
    t.add(record("/s/e.bin", Verdict::not_copied, 1, "reason: AGE Criteria"));
    t.add(record("/s/f.bin", Verdict::not_copied, 1, "reason: AGE Criteria"));
    FileRecord renamed = record("/s/g.txt", Verdict::verified, 1);
    renamed.renamed_from = "/dst/g.txt";
    t.add(renamed);
    FileRecord stream = record("/s/a.txt:note", Verdict::copied_new, 3);
    stream.parent = "/s/a.txt";
    t.add(stream);

    EXPECT_EQ(t.records, 8U);
    EXPECT_EQ(t.copies, 4U);
    EXPECT_EQ(t.verified, 2U);
    EXPECT_EQ(t.streams, 1U);
    EXPECT_EQ(t.unverified, 1U);
    ASSERT_EQ(t.failures.size(), 1U);
    EXPECT_EQ(t.failures[0].source, "/s/d.bin");
    EXPECT_EQ(t.failures[0].detail, "COPY ERROR: no room");
    ASSERT_EQ(t.mismatches.size(), 1U);
    EXPECT_EQ(t.mismatches[0].source, "/s/c.bin");
    ASSERT_EQ(t.renames.size(), 1U);
    EXPECT_EQ(t.renames[0].detail, "/dst//s/g.txt");
    EXPECT_EQ(t.not_copied.at("AGE Criteria"), 2U);
    EXPECT_EQ(t.types.at("txt").bytes, 16U);
    EXPECT_EQ(t.types.at("txt").files, 3U);
    EXPECT_EQ(t.types.at("bin").bytes, 7U);
    EXPECT_EQ(t.years.at(2021), 4U);
}

TEST(ReportTallyTest, DistinctExtensionsAreBounded) {
    ReportTally t;
    for (std::size_t i = 0; i < ReportTally::max_types + 50; ++i) {
        t.add(record("/s/f." + std::to_string(i), Verdict::copied_new, 1));
    }
    EXPECT_EQ(t.types.size(), ReportTally::max_types + 1);
    EXPECT_EQ(t.types.at("(other)").files, 50U);
}

TEST(ReportDocumentTest, EveryFailureListedAndNoNameAddsMarkup) {
    ReportTally t;
    const std::string hostile = "/s/<img src=x onerror=alert(1)>\n\"x\".txt";
    constexpr int many = 2500;
    for (int i = 0; i < many; ++i) {
        t.add(record("/s/fail" + std::to_string(i), Verdict::not_copied, 1, "reason: ******** COPY ERROR *******"));
    }
    t.add(record(hostile, Verdict::mismatch, 4));
    t.add(record(hostile + "2", Verdict::not_copied, 1, "reason: ******** COPY ERROR *******"));
    ReportContent c;
    c.program = "VELDRO <b>";
    c.command_line = "-p /s --REPORT=<script>";
    c.memo = "memo </pre><script>alert(1)</script>";
    c.arguments = {"veldro", "--NOTES=</span><script>"};
    c.case_number = "<script>";
    c.notes = "</pre><img src=x>";
    c.sources = {"/s/<i>"};
    c.exit_status = 9;
    veldro::record::SealEntry seal{"<svg onload=x>.LOG", "ab12"};
    c.seal = {seal};
    const std::string html = veldro::record::render_report(c, t);

    EXPECT_EQ(count_of(html, "<tr><td class=\"num\">"), static_cast<std::size_t>(many + 2));
    EXPECT_EQ(count_of(html, "<img"), 0U);
    EXPECT_EQ(count_of(html, "<script"), 0U);
    EXPECT_EQ(count_of(html, "<svg onload"), 0U);
    EXPECT_EQ(count_of(html, "<i>"), 0U);
    EXPECT_EQ(count_of(html, "<b>VELDRO"), 0U);
    EXPECT_EQ(count_of(html, "http:") + count_of(html, "https:"), 0U);
    // The line end is escaped as the logs escape it (on Linux).
    EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(html.find("id=\"exit-status\">9</b> &mdash; some file could not be copied"), std::string::npos);
    EXPECT_EQ(html.find("WRITE_ERROR"), std::string::npos);
    EXPECT_NE(html.find("ENDED WITH PROBLEMS"), std::string::npos);
}

// The copies not verified are accounted for; the seal's footnote comes
// only with a seal.
TEST(ReportDocumentTest, ProofWordsAndSeal) {
    ReportTally t;
    FileRecord link = record("/s/l.txt", Verdict::copied_new);
    link.is_link = true;
    for (const FileRecord& r : {record("/s/a", Verdict::verified), link, link, record("/s/b", Verdict::mismatch)}) {
        t.add(r);
    }
    ReportContent c;
    c.digest_kinds = "MD5";
    EXPECT_NE(veldro::record::render_report(c, t).find("The other 3: 2 links, made again as links with the same "
                                                       "target: a link holds no data to hash; 1 differ"),
              std::string::npos);
    EXPECT_EQ(veldro::record::render_report(c, t).find("The seal was written"), std::string::npos);
    c.seal_file = "/l/RUN.LOG.sha256";
    EXPECT_NE(veldro::record::render_report(c, t).find("The seal was written"), std::string::npos);
}

}  // namespace
