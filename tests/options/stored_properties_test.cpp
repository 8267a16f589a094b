#include "archives/StoredProperties.h"

#include <gtest/gtest.h>

using namespace archives;

TEST(StoredProperties, StringLiterals) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "''"},         {std::string(1, '\0'), "#0"},
        {"abc", "'abc'"},   {"it's", "'it''s'"},
        {"'", "''''"},      {std::string("a\0b", 3), "'a'#0'b'"},
        {"\r\n", "#13#10"}, {"日本", "'日本'"},
    };
    for (const auto &[value, literal] : cases) {
        EXPECT_EQ(QuoteStringLiteral(value), literal);
        EXPECT_EQ(ParseStringLiteral(literal), value) << literal;
    }
    EXPECT_EQ(ParseStringLiteral(" #39'x' "), "'x");
    for (const char *bad : {"", "abc", "'open", "'a' b", "#", "#1000", "'a'x"})
        EXPECT_THROW(ParseStringLiteral(bad), EReadError) << bad;
}

TEST(StoredProperties, ListLiteralsAndText) {
    const std::vector<std::string> lines = {"*.bak", "", "a'b"};
    EXPECT_EQ(QuoteStringListLiteral(lines), "('*.bak' '' 'a''b')");
    EXPECT_EQ(ParseStringListLiteral("('*.bak' '' 'a''b')"), lines);
    EXPECT_EQ(ParseStringListLiteral("()"), std::vector<std::string>{});
    EXPECT_THROW(ParseStringListLiteral("'a'"), EReadError);
    EXPECT_THROW(ParseStringListLiteral("('a' x)"), EReadError);

    const TPropertyValues values = {{"Options.x", "1"}, {"Options.w", "'a = b'"}};
    const std::string text = PropertiesToText(values);
    EXPECT_EQ(text, "Options.x = 1\nOptions.w = 'a = b'\n");
    EXPECT_EQ(PropertiesFromText("\r\n" + text + "\n"), values);
    EXPECT_THROW(PropertiesFromText("no equals sign"), EReadError);
}
