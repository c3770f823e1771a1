// Collecting the memo from the console and where it is written.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/memo.h"

namespace {

std::string collect(const std::string& typed) {
    std::FILE* input = std::tmpfile();
    std::fwrite(typed.data(), 1, typed.size(), input);
    std::rewind(input);
    veldro::OwnedRun s;
    veldro::config::collect_memo(s.options.logs, input);
    std::fclose(input);
    return s.logs.memo_text;
}

TEST(Memo, TwoBlankLinesRightAwayGiveOneLineEnd) {
    EXPECT_EQ(collect("\n\nnot read\n"), "\n");
}

TEST(Memo, ABlankLineBetweenTextLinesIsKept) {
    EXPECT_EQ(collect("first line\n\nsecond line\n\n\nnot read\n"), "first line\n\nsecond line\n\n");
}

TEST(Memo, CarriageReturnsAreLineEndsToo) {
    EXPECT_EQ(collect("case 12\r\n\r\n\r\n"), "case 12\n\n");
}

TEST(Memo, OneCharacterLinesCountAsBlank) {
    EXPECT_EQ(collect("text\nx\ny\nmore\n"), "text\n\n");
}

TEST(Memo, EndOfInputEndsTheMemo) {
    EXPECT_EQ(collect("only line\nlast without end"), "only line\nlast without end\n");
}

TEST(Memo, StopsAfterTheLineThatReachesTheLimit) {
    const std::string line(999, 'a');  // 1,000 characters with its line end
    std::string typed;
    for (int i = 0; i < 7; ++i) {
        typed += line + "\n";
    }
    // 5 lines give 5,000 characters, the sixth passes 5,001 and ends it.
    EXPECT_EQ(collect(typed).size(), 6000U);
}

TEST(Memo, AnOverlongLineIsCutAndItsRestDropped) {
    const std::string memo = collect(std::string(7000, 'b') + "\nnext\n\n\n");
    EXPECT_EQ(memo, std::string(4999, 'b') + "\nnext\n");
}

TEST(Memo, IsAppendedToTheDefaultLogMarkedAsTheRunsMemo) {
    const std::filesystem::path log =
        std::filesystem::temp_directory_path() / ("veldro_memo_test_" + std::to_string(::getpid()) + "_RUN.LOG");
    std::ofstream(log) << "earlier text";
    veldro::OwnedRun s;
    s.logs.default_log_path = log.string();
    veldro::config::write_memo_to_logs(s.logs, s.files);  // nothing taken: nothing written
    s.logs.memo_text = "seized laptop\n\nroom 12\n";
    veldro::config::write_memo_to_logs(s.logs, s.files);
    EXPECT_EQ(s.files.default_log, nullptr) << "the log stays closed, as the run header left it";
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    EXPECT_EQ(text.str(), "earlier text\n MEMO:\nseized laptop\n\nroom 12\n END MEMO\n");
    std::filesystem::remove(log);
}

TEST(Memo, TakeMemoAppendsTheTextToTheMemoFile) {
    // take_memo reads standard input; the memo file part is checked through
    // a memo stream and an input that ends at once.
    veldro::OwnedRun s;
    s.files.memo_stream = std::tmpfile();
    std::FILE* saved = std::freopen("/dev/null", "r", stdin);
    ASSERT_NE(saved, nullptr);
    veldro::config::take_memo(s.options.logs, s.files.memo_stream);
    std::rewind(s.files.memo_stream);
    EXPECT_EQ(std::fgetc(s.files.memo_stream), EOF) << "an empty memo writes nothing";
    std::fclose(s.files.memo_stream);
}

}  // namespace
