// The option table: every word leads to an option its source can set, and
// every switch has a setting to write.
#include <gtest/gtest.h>

#include <string_view>
#include <utility>

#include "config/option_table.h"

namespace {

using veldro::config::Option;
using veldro::config::option_words;
using veldro::config::row_of;
using veldro::config::Source;
using veldro::config::Value;

TEST(OptionTableTest, EveryWordNamesAnOptionOfItsSource) {
    for (const auto& word : option_words()) {
        const auto& row = row_of(word.option);
        EXPECT_GE(word.name.size(), word.letters) << word.name;
        if ((static_cast<unsigned>(word.source) & static_cast<unsigned>(Source::long_option)) != 0) {
            EXPECT_NE(row.long_value, Value::absent) << word.name;
        }
        if ((static_cast<unsigned>(word.source) & static_cast<unsigned>(Source::ini)) != 0) {
            EXPECT_NE(row.ini_value, Value::absent) << word.name;
        }
        // A flag on the command line writes a setting of its own.
        if (row.long_value == Value::flag || row.long_value == Value::on_off) {
            EXPECT_NE(row.field, nullptr) << word.name;
        }
    }
    for (char letter : std::string_view("AeIiMmORrUuVvz")) {
        EXPECT_NE(row_of(veldro::config::letter_option(letter)).field, nullptr) << letter;
    }
    EXPECT_EQ(veldro::config::letter_option('x'), Option::none);
}

// A word that names no keyword is offered the one keyword close to it.
TEST(OptionTableTest, SuggestsTheOneCloseKeyword) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"sha-256", "SHA256"}, {"SHA3-256", "SHA256"}, {"dfxm", "DFXML"}, {"dry-run", ""}, {"RE", ""}};
    for (const auto& [word, close] : cases) {
        EXPECT_EQ(veldro::config::closest_long_keyword(word), close) << word;
    }
}

}  // namespace
