#include "foundation/karandom.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

TEST(RandomLettersTest, OnlyLettersAndEveryOneOfThemTurnsUp)
{
    std::set<char> seen;
    for (int round = 0; round < 200; ++round) {
        char letters[16];
        ASSERT_EQ(KaRandomLetters(letters, sizeof letters), 0);
        for (char c : letters) {
            EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) << int(c);
            seen.insert(c);
        }
    }
    EXPECT_EQ(seen.size(), 52u);
}

TEST(RandomLettersTest, TheApplicationsRandStateIsLeftAlone)
{
    std::srand(7);
    int first = std::rand();
    std::srand(7);
    char letters[16];
    ASSERT_EQ(KaRandomLetters(letters, sizeof letters), 0);
    EXPECT_EQ(std::rand(), first);
}

TEST(RandomLettersTest, TwoDrawsDiffer)
{
    char a[16];
    char b[16];
    ASSERT_EQ(KaRandomLetters(a, sizeof a), 0);
    ASSERT_EQ(KaRandomLetters(b, sizeof b), 0);
    EXPECT_NE(std::string(a, 16), std::string(b, 16));
}
