// The one-token tokenizer: the token kinds of each mode, case, the cursor
// left behind the token, unterminated text and over-long tokens.
#include "foundation/buttoken.h"

#include <string>

#include <gtest/gtest.h>

#include "errorscope.h"
#include "foundation/katext.h"
#include "foundation/ram.h"
#include "guarded.h"
#include "kamessages.h"

namespace {

struct TokenCase {
    const char* text;
    uint32_t flags;
    const char* token;
    const char* rest;  // what the cursor is left on
};

TEST(ButToken, TokenKindsByMode)
{
    katest::ErrorScope errors;
    const TokenCase cases[] = {
        {"  select x", 0, "SELECT", " x"},
        {"'it''s' rest", 0, "'it's'", " rest"},
        {"<=b", 0, "<=", "b"},
        {"a<=b", 0, "A", "<=b"},
        {"(+) x", 0, "(+)", " x"},
        {"**2", 0, "**", "2"},
        {"12.5e", 0, "12.5", "e"},
        {".75,", 0, ".75", ","},
        {"1.2.3", 0, "1.2", ".3"},
        {"{fn now()} x", 0, "{fn now()}", " x"},
        {"?name_1 x", 0, "?name_1", " x"},
        {"? x", 0, "?", " x"},
        {"; x", 0, ";", " x"},
        {"\"Mixed Case\"", 0, "\"Mixed Case\"", ""},
        {"Keep", BUT_TOKEN_KEEP_CASE, "Keep", ""},
        {"ab#c$d x", BUT_MODE_HASH, "AB#C$D", " x"},
        {"#tmp", BUT_MODE_HASH_ALT, "#TMP", ""},
        {"a\\-b c", BUT_MODE_HASH, "A\\-B", " c"},
        {"ab#c", 0, "AB", "#c"},
        {"s.t.u x", BUT_MODE_DOTTED, "S.T.U", " x"},
        {"s..t", BUT_MODE_DOTTED, "S.", ".t"},
        {"1.a", BUT_MODE_DOTTED, "1", ".a"},
        {"db:s.t x", BUT_MODE_QUALIFIED, "DB:S.T", " x"},
        {"9a.b", BUT_MODE_QUALIFIED, "9A.B", ""},
        {":x", BUT_MODE_QUALIFIED, ":X", ""},
        {"a`b c`d e", BUT_MODE_LIST, "A`B C`D", " e"},
        {",a", BUT_MODE_LIST, ",", "a"},
        {"   ", 0, "", ""},
    };
    for (const TokenCase& c : cases) {
        katest::Guarded<char> out(64);
        const char* cursor = c.text;
        ASSERT_EQ(0, butToken(out.data(), &cursor, c.flags, 64, KA_TEXT_UTF8)) << c.text;
        EXPECT_STREQ(c.token, out.data()) << c.text;
        EXPECT_STREQ(c.rest, cursor) << c.text;
        EXPECT_TRUE(out.guardsIntact()) << c.text;
    }
    EXPECT_EQ(0u, errors.size());
}

TEST(ButToken, TwoByteCharactersStayWhole)
{
    katest::ErrorScope errors;
    const char* text = "\xc3\xa9t\xc3\xa9 x";  // été
    char out[16];
    const char* cursor = text;
    ASSERT_EQ(0, butToken(out, &cursor, BUT_TOKEN_KEEP_CASE, sizeof out, KA_TEXT_UTF8));
    EXPECT_STREQ("\xc3\xa9t\xc3\xa9", out);
    EXPECT_STREQ(" x", cursor);

    // No room for the second byte: the character is not split.
    char small[4];
    cursor = "a\xc3\xa9";
    ASSERT_EQ(0, butToken(small, &cursor, BUT_TOKEN_CUT | BUT_TOKEN_KEEP_CASE, 3, KA_TEXT_UTF8));
    EXPECT_STREQ("a", small);
}

TEST(ButToken, UnterminatedTextIsReported)
{
    for (const char* text : {"'abc", "'", "{fn x", "\"a\"\""}) {
        katest::ErrorScope errors;
        char out[32];
        const char* cursor = text;
        EXPECT_EQ(1, butToken(out, &cursor, 0, sizeof out, KA_TEXT_UTF8)) << text;
        ASSERT_EQ(1u, errors.size()) << text;
        EXPECT_EQ(MSG_TOKEN_UNTERMINATED, errors.native(0));
        EXPECT_EQ(text, cursor);
    }
}

TEST(ButToken, OverLongTokensFailCutOrGrowForEveryKind)
{
    // The qualified and hash names are length-checked like every other kind.
    for (uint32_t mode : {BUT_MODE_PLAIN, BUT_MODE_QUALIFIED, BUT_MODE_HASH_ALT}) {
        std::string text = "abcdefghijklmnop.q:r rest";
        katest::ErrorScope errors;
        katest::Guarded<char> out(8);
        const char* cursor = text.c_str();
        EXPECT_EQ(1, butToken(out.data(), &cursor, mode, 8, KA_TEXT_UTF8)) << mode;
        ASSERT_EQ(1u, errors.size());
        EXPECT_EQ(MSG_TOKEN_TOO_LONG, errors.native(0));
        EXPECT_TRUE(out.guardsIntact());

        cursor = text.c_str();
        ASSERT_EQ(0, butToken(out.data(), &cursor, mode | BUT_TOKEN_CUT, 8, KA_TEXT_UTF8));
        EXPECT_STREQ("ABCDEFG", out.data());
        EXPECT_TRUE(out.guardsIntact());

        cursor = text.c_str();
        char* grown = nullptr;
        ASSERT_EQ(0, butToken(out.data(), &cursor, mode | BUT_TOKEN_GROW, 8, KA_TEXT_UTF8, &grown));
        ASSERT_NE(nullptr, grown);
        std::string expected = mode == BUT_MODE_QUALIFIED ? "ABCDEFGHIJKLMNOP.Q:R" : "ABCDEFGHIJKLMNOP";
        EXPECT_EQ(expected, grown);
        EXPECT_STREQ("ABCDEFG", out.data());
        EXPECT_TRUE(out.guardsIntact());
        ramFree(grown);
    }
    // Growing without a place for the pointer fails as an over-long token.
    katest::ErrorScope errors;
    char out[4];
    const char* cursor = "abcdef";
    EXPECT_EQ(1, butToken(out, &cursor, BUT_TOKEN_GROW, sizeof out, KA_TEXT_UTF8));
    EXPECT_EQ(MSG_TOKEN_TOO_LONG, errors.native(0));
}

}  // namespace
