// The usage pages explain every option the program accepts, keep the fixed
// lines and fit an 80-column console.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "config/usage.h"
#include "util/text.h"

namespace {

std::string all_usage_text() {
    std::string text;
    for (const std::string& page : veldro::config::usage_pages()) {
        text += page;
    }
    return text + veldro::config::usage_closing_text();
}

bool mentions(const std::string& text, std::string_view word) {
    return text.find(word) != std::string::npos;
}

TEST(UsageText, HasEighteenPagesAndFourLogHelpPages) {
    EXPECT_EQ(veldro::config::usage_pages().size(), 19U);
    EXPECT_EQ(veldro::config::log_help_pages().size(), 4U);
}

TEST(UsageText, ExplainsEveryShortOption) {
    const std::string text = all_usage_text();
    for (const char* option :
         {"-1",  "-2",   "-3",   "+1", "-A", "+A", "-a", "-D", "-d", "-E", "-e", "-F", "-f", "-G", "-g", "-H",
          "-h=", "-hs=", "-hd=", "-I", "-i", "-L", "-l", "-M", "-m", "-N", "-n", "-O", "-p", "-R", "+R", "-r",
          "-S",  "-s",   "-T",   "-t", "+T", "-U", "-u", "-V", "-v", "-W", "-w", "+w", "-X", "-x", "-z"}) {
        EXPECT_TRUE(mentions(text, std::string(" ") + option) || mentions(text, std::string("(") + option)) << option;
    }
    for (const char* modifier : {"e encrypted", "h hidden", "m archive", "r read-only", "s system"}) {
        EXPECT_TRUE(mentions(text, modifier)) << modifier;
    }
}

TEST(UsageText, ExplainsEveryLongKeyword) {
    // Keywords are matched on their leading letters in any case.
    const std::string text = veldro::util::to_upper(all_usage_text());
    for (const char* keyword :
         {"ALL",  "ACC",  "LOG",      "ADSEXTRACT", "ADSPARENT", "ADSCHILD", "OLD",  "BEF",  "NEW",
          "YOU",  "AFT",  "BYP",      "EXC",        "CHK",       "DES",      "OUT",  "DEL",  "DIR",
          "ERR",  "EXI",  "GRE",      "HASHLOG",    "UNICODE",   "HASH",     "MD5",  "IM",   "LES",
          "LIS",  "MAIN", "MAINTAIN", "MILLI",      "NOC",       "IGN",      "NOD",  "OVER", "PATH",
          "RET",  "REC",  "NOR",      "RES",        "SHADOW",    "SHA1",     "160",  "SHA2", "256",
          "SHA3", "384",  "SHA5",     "512",        "TEST",      "FLAT",     "WID",  "ZERO", "ZUL",
          "SIL",  "HELP", "VERSION",  "THR",        "CASE",      "EXHI",     "EXAM", "NOTE"}) {
        EXPECT_TRUE(mentions(text, std::string("--") + keyword)) << keyword;
    }
}

TEST(UsageText, ExplainsEveryIniDirectiveAndEnvironmentVariable) {
    const std::string text = veldro::util::to_upper(all_usage_text());
    for (const char* directive :
         {"ACCT=",      "ACCTING=",   "ACCOUNT=",  "LOGFILE=", "LOGS=",     "APPEND=", "BYPASS=",
          "CHK_TILDE=", "CRC=",       "DELIM=",    "DEST=",    "DISPLAY=",  "HASH=",   "IMMED=",
          "NO_COUNT=",  "LIST_ONLY=", "MAINTAIN=", "GREATER=", "LESSTHAN=", "MEMO=",   "MAKE=",
          "MILITARY=",  "NAMEONLY=",  "FLAT=",     "NODUPE=",  "YOUNGER=",  "NEWER=",  "OLDER=",
          "OUTPUT=",    "PATHONLY=",  "PATH=",     "REC=",     "RESET=",    "SHA1=",   "SHA2=",
          "SHA3=",      "SHA5=",      "SILENT=",   "TIME=",    "WIDTH=",    "ZULU=",   "THREADS="}) {
        EXPECT_TRUE(mentions(text, directive)) << directive;
    }
    for (const char* variable : {"SILENT=", "RESET=", "NORESET", "ACCT=", "WIDTH=", "THREADS="}) {
        EXPECT_TRUE(mentions(text, variable)) << variable;
    }
    EXPECT_TRUE(mentions(text, "KANDRELX.INI"));
    EXPECT_TRUE(mentions(text, "[BASE]"));
}

TEST(UsageText, KeepsTheFixedLines) {
    const std::vector<std::string> pages = veldro::config::usage_pages();
    EXPECT_EQ(pages[0].rfind("Usage: veldro  (optional)source_dir  (optional)destination_dir  -[OPTIONS]\n\n", 0), 0U);
    EXPECT_TRUE(mentions(pages[0], "\n     The -p and -d are really mandatory\n\n"));
    EXPECT_TRUE(mentions(pages[0], "[PATH=...]"));
    EXPECT_TRUE(mentions(pages[0], "[DEST=...]"));
    EXPECT_TRUE(mentions(pages[1], "original_name.ext[adsfilename.ext]"));
    EXPECT_TRUE(mentions(pages[3], "--flatten[=xx]"));
    EXPECT_TRUE(mentions(pages[5], "[MAKE=1]"));
    EXPECT_TRUE(mentions(pages[5], "[MAINTAIN=ON]"));
    EXPECT_TRUE(mentions(pages[8], "\nFor ALL logfiles use: a number higher than 255\n"));
    EXPECT_TRUE(mentions(pages[10], "[OLDER=xxx]"));
    EXPECT_TRUE(mentions(pages[10], "[YOUNGER=xxx]"));
    EXPECT_TRUE(mentions(pages[10], "[GREATER=xxx]"));
    EXPECT_TRUE(mentions(pages[10], "[LESSTHAN=xxx]"));
    EXPECT_TRUE(
        mentions(pages[11], "\norder of preference: command line option -R, ini_file, environment -set RESET=\n"));
    EXPECT_TRUE(mentions(pages[13], "--dirs=pathfilename"));
    EXPECT_TRUE(mentions(pages[14], "--UNICODE=filename_output"));
    EXPECT_TRUE(mentions(pages[17], ".D[nnnnn]"));
    EXPECT_TRUE(mentions(pages[18], "--DFXML=file") && mentions(pages[18], "--AUDITSET=file") &&
                mentions(pages[18], "--REPORT=file"));
    EXPECT_TRUE(mentions(pages[15], " DFXML=file  AUDITSET=file  SEAL=ON"));

    const std::vector<std::string> help = veldro::config::log_help_pages();
    EXPECT_EQ(help[0].rfind("There are 3 ways to get logfile creations. \n", 0), 0U);
    EXPECT_TRUE(mentions(help[2], "\nexample:  --logfile=logname.ext!2   --err=12\n"));
    EXPECT_TRUE(mentions(help[3], "\nLOGFILE=name[ [[!|;] [bitmask] keyword,keyword..]]\n"));
    EXPECT_TRUE(mentions(help[3], "\nLOGS=keyword,keyword...\n"));
}

TEST(UsageText, EndsWithTwoLogSamplesAndThreeBuildLines) {
    const std::string closing = veldro::config::usage_closing_text();
    EXPECT_TRUE(mentions(closing, "3 DATES\\TIMES"));
    EXPECT_TRUE(mentions(closing, "==>"));
    ASSERT_FALSE(closing.empty());
    EXPECT_EQ(closing.back(), '\n');
    // Three "\n%20s, %s, %s" lines: the label right-aligned in 20 columns.
    const std::size_t first = closing.find("\n               Built, ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(closing.find("\n             Release, ", first), std::string::npos);
    EXPECT_NE(closing.find("\n            Compiler, ", first), std::string::npos);
}

class UsagePlatformText : public ::testing::TestWithParam<veldro::paths::Style> {};

TEST_P(UsagePlatformText, EveryLineFitsEightyColumns) {
    std::vector<std::string> pages = veldro::config::usage_pages(GetParam());
    for (const std::string& page : veldro::config::log_help_pages(GetParam())) {
        pages.push_back(page);
    }
    pages.push_back(veldro::config::usage_closing_text(GetParam()));
    for (std::size_t p = 0; p < pages.size(); ++p) {
        std::size_t start = 0;
        while (start <= pages[p].size()) {
            std::size_t end = pages[p].find('\n', start);
            if (end == std::string::npos) {
                end = pages[p].size();
            }
            const std::string line = pages[p].substr(start, end - start);
            EXPECT_LE(veldro::util::char_count(line), 79U) << "page " << p + 1 << ": " << line;
            start = end + 1;
        }
    }
}

TEST_P(UsagePlatformText, PagesFitOneScreenBelowTheBanner) {
    for (const std::string& page : veldro::config::usage_pages(GetParam())) {
        int lines = 0;
        for (char c : page) {
            lines += c == '\n' ? 1 : 0;
        }
        // 25 console lines less the banner box and the prompt line.
        EXPECT_LE(lines, 19) << page;
    }
}

TEST_P(UsagePlatformText, EveryExamplePathIsFilledIn) {
    for (const std::string& page : veldro::config::usage_pages(GetParam())) {
        EXPECT_EQ(page.find("{"), std::string::npos) << page;
    }
    EXPECT_EQ(veldro::config::usage_closing_text(GetParam()).find("{"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BothPlatforms, UsagePlatformText,
                         ::testing::Values(veldro::paths::Style::posix, veldro::paths::Style::windows));

}  // namespace
