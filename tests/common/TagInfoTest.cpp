#include "common/TagInfo.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

using namespace quelvox;

TEST(GenreName, NamesTheListEntries) {
    EXPECT_EQ(GenreName(0), "Blues");
    EXPECT_EQ(GenreName(8), "Jazz");
    EXPECT_EQ(GenreName(17), "Rock");
    EXPECT_EQ(GenreName(67), "Psychadelic");
    EXPECT_EQ(GenreName(79), "Hard Rock");
    EXPECT_EQ(GenreName(80), "Folk");
    EXPECT_EQ(GenreName(136), "Christian Gangsta Rap");
    EXPECT_EQ(GenreName(147), "Synthpop");
}

TEST(GenreName, EveryIndexHasItsOwnName) {
    std::set<std::string> names;
    for (int i = 0; i < kGenreCount; ++i) {
        ASSERT_FALSE(GenreName(i).empty()) << i;
        names.insert(std::string(GenreName(i)));
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kGenreCount));
}

TEST(GenreName, OutOfRangeIndexesHaveNoName) {
    EXPECT_TRUE(GenreName(-1).empty());
    EXPECT_TRUE(GenreName(148).empty());
    EXPECT_TRUE(GenreName(255).empty());
    EXPECT_TRUE(GenreName(INT_MIN).empty());
    EXPECT_TRUE(GenreName(INT_MAX).empty());
}

TEST(ParseDecimal, ReadsLeadingDigits) {
    EXPECT_EQ(ParseDecimal("7/12"), 7);
    EXPECT_EQ(ParseDecimal("3/12"), 3);
    EXPECT_EQ(ParseDecimal("12"), 12);
    EXPECT_EQ(ParseDecimal("007"), 7);
    EXPECT_EQ(ParseDecimal("  \t\n42 tracks"), 42);
    EXPECT_EQ(ParseDecimal("+5"), 5);
    EXPECT_EQ(ParseDecimal("-3x"), -3);
}

TEST(ParseDecimal, TextWithoutLeadingDigitsIsZero) {
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("   "), 0);
    EXPECT_EQ(ParseDecimal("x3"), 0);
    EXPECT_EQ(ParseDecimal("/12"), 0);
    EXPECT_EQ(ParseDecimal("-"), 0);
    EXPECT_EQ(ParseDecimal("- 3"), 0);
    EXPECT_EQ(ParseDecimal("+-3"), 0);
}

TEST(ParseDecimal, ClampsToTheIntRange) {
    EXPECT_EQ(ParseDecimal("2147483647"), INT_MAX);
    EXPECT_EQ(ParseDecimal("2147483648"), INT_MAX);
    EXPECT_EQ(ParseDecimal("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseDecimal("-2147483649"), INT_MIN);
    EXPECT_EQ(ParseDecimal(std::string(400, '9')), INT_MAX);
    EXPECT_EQ(ParseDecimal("-" + std::string(400, '9')), INT_MIN);
}

TEST(ParseDecimal, StopsAtTheEndOfTheView) {
    const char digits[] = "123456";
    EXPECT_EQ(ParseDecimal(std::string_view(digits, 3)), 123);
    EXPECT_EQ(ParseDecimal(std::string_view(digits, 0)), 0);
}
