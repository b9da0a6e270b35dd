// Character stepping, classification, case and lead-byte tables.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <unicode/ucnv.h>

#include "foundation/dbcs.h"
#include "foundation/icucache.h"
#include "foundation/ram.h"
#include "support/localescope.h"

namespace {

TEST(DbcsUtf8, CharacterLengthsStopAtWhatFollows)
{
    EXPECT_EQ(KaDbcsCharLen("\x80", KA_TEXT_UTF8), 1u);
    EXPECT_EQ(KaDbcsCharLen("\xBF", KA_TEXT_UTF8), 1u);
    EXPECT_EQ(KaDbcsCharLen("\xF0\x9F\x98\x80", KA_TEXT_UTF8), 4u);
    EXPECT_EQ(KaDbcsCharLen("\xE2\x82\xAC", KA_TEXT_UTF8), 3u);
    // A lead byte cut short by the terminator: the step ends at it.
    EXPECT_EQ(KaDbcsCharLen("\xE2", KA_TEXT_UTF8), 1u);
    EXPECT_EQ(KaDbcsCharLen("\xE2\x82", KA_TEXT_UTF8), 2u);
    EXPECT_EQ(KaDbcsCharLen("\xF0"
                            "a",
                            KA_TEXT_UTF8),
              1u);
}

TEST(DbcsUtf8, SteppingNeverPassesTheTerminator)
{
    // The bytes after the terminator would complete the characters.
    const char text[] = "a\xF0\x9F\0\x98\x80"
                        "b\xE2\0\x82\xAC";
    const char* p = text;
    int steps = 0;
    while (*p != 0 && steps < 10) {
        p = KaDbcsNextChar(p, KA_TEXT_UTF8);
        ++steps;
    }
    EXPECT_EQ(p, text + 3);
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(KaDbcsCharCount(text, KA_TEXT_UTF8, SIZE_MAX), 2u);
    EXPECT_EQ(KaDbcsCharCountN("a\xE2\x82", 3, KA_TEXT_UTF8), 2u);
}

TEST(DbcsUtf8, SteppingBackwards)
{
    const char text[] = "a\xF0\x9F\x98\x80"
                        "b";
    EXPECT_EQ(KaDbcsPrevChar(text, text + 5, KA_TEXT_UTF8), text + 1);
    EXPECT_EQ(KaDbcsPrevChar(text, text + 6, KA_TEXT_UTF8), text + 5);
    EXPECT_EQ(KaDbcsPrevChar(text, text + 1, KA_TEXT_UTF8), text);
    EXPECT_EQ(KaDbcsPrevChar(text, text, KA_TEXT_UTF8), text);
    EXPECT_EQ(KaDbcsPrevIndex(text, 5, KA_TEXT_UTF8), 1u);
    EXPECT_EQ(KaDbcsPrevIndexFromStart(text, 5, KA_TEXT_UTF8), 1u);
    EXPECT_EQ(KaDbcsPrevIndexFromStart(text, 4, KA_TEXT_UTF8), 1u);
    EXPECT_EQ(KaDbcsLastChar(text, KA_TEXT_UTF8), text + 5);
    EXPECT_EQ(KaUtf8CharsInBytes("a\xC3\xA9\xE2\x82\xAC", 4), 2u);
    EXPECT_EQ(KaUtf8CharsInBytes("a\xC3\xA9\xE2\x82\xAC", 6), 3u);
    EXPECT_EQ(KaDbcsCharEqual("\xC3\xA9x", "\xC3\xA9y", KA_TEXT_UTF8), 1);
    EXPECT_EQ(KaDbcsCharEqual("\xC3\xA9", "\xC3\xA8", KA_TEXT_UTF8), 0);
}

TEST(DbcsUtf8, CutPositions)
{
    struct Case {
        const char* text;
        size_t pos;
        size_t cut;
    } cases[] = {
        {"", 0, 0},
        {"ab", 2, 2},
        {"\xC3\xA9", 2, 2},
        {"\xC3", 1, 0},
        {"a\xC3", 2, 0},
        {"\xE2\x82\xAC", 3, 3},
        {"\xE2\x82", 2, 0},
        {"abcd\xE2\x82", 6, 4},
        {"abc\xF0\x9F\x98\x80", 7, 7},
        {"abc\xF0\x9F\x98", 6, 3},
        {"abcd\xC3", 5, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KaUtf8CutPos(c.text, c.pos), c.cut) << c.text << " " << c.pos;
}

TEST(DbcsCodePoints, CaseOfLatin1AndBeyond)
{
    EXPECT_EQ(KaUToUpper(0xE9), 0xC9);
    EXPECT_EQ(KaUToUpper(0xF7), 0xF7);
    EXPECT_EQ(KaUToUpper(0xFF), 0x178);
    EXPECT_EQ(KaUToUpper('a'), 'A');
    EXPECT_EQ(KaUToUpper(0x3B1), 0x391);
    EXPECT_EQ(KaUToLower(0xD7), 0xD7);
    EXPECT_EQ(KaUToLower(0xC9), 0xE9);
    EXPECT_EQ(KaUToLower('Q'), 'q');
}

using katest::Utf8Locale;

TEST(DbcsLocale, UpperCaseInPlaceNeverChangesTheLength)
{
    Utf8Locale locale;
    ASSERT_TRUE(locale.ok);
    // U+0131 (2 bytes) upper-cases to 'I' (1 byte): it stays as it is.
    char text[] = "a\xC4\xB1\xC3\xA9\xC3\xBFz";
    KaDbcsStrUpper(text);
    EXPECT_STREQ(text, "A\xC4\xB1\xC3\x89\xC5\xB8Z");
    char lower[] = "ABC\xC3\x89";
    KaDbcsStrLower(lower);
    EXPECT_STREQ(lower, "abc\xC3\xA9");
    char part[] = "abcdef";
    KaDbcsStrUpperN(part, 3);
    EXPECT_STREQ(part, "ABCdef");
    EXPECT_EQ(KaDbcsIsSpace(" x"), 1);
    EXPECT_EQ(KaDbcsIsSpace("\xE3\x80\x80"), 1);
    EXPECT_EQ(KaDbcsIsAlpha("\xC3\xA9"), 1);
    EXPECT_EQ(KaDbcsIsAlnum("7"), 1);
    EXPECT_EQ(KaDbcsIsAlnum("-"), 0);
    const char spaced[] = " \t\xE3\x80\x80x";
    EXPECT_EQ(KaDbcsSkipSpaces(spaced, KA_TEXT_UTF8), spaced + 5);
    EXPECT_EQ(KaDbcsCharLen("\xC3\xA9", KA_TEXT_LOCALE), 2u);
    KaDbcsStrUpper(nullptr);
}

TEST(DbcsUtf8, UpperCaseKeepsByteLengths)
{
    char text[] = "\xC4\xB1\xC3\xA9x";
    utf8StrUpper(text);
    EXPECT_STREQ(text, "\xC4\xB1\xC3\x89X");
    char cut[] = "ab\xC3";
    utf8StrUpperN(cut, 3);
    EXPECT_STREQ(cut, "AB\xC3");
}

TEST(DbcsUtf16, SteppingOverSurrogates)
{
    const uint16_t pair[] = {'a', 0xD83D, 0xDE00, 'b', 0};
    EXPECT_EQ(KaUtf16Next(pair + 1), pair + 3);
    EXPECT_EQ(KaUtf16NextIndex(pair, 1), 3u);
    EXPECT_EQ(KaUtf16PrevIndex(pair, 3), 1u);
    EXPECT_EQ(KaUtf16PrevChar(pair, pair + 3), pair + 1);
    EXPECT_EQ(KaUtf16PrevChar(pair, pair), pair);
    EXPECT_EQ(KaUtf16CharCount(pair), 3u);
    // A high surrogate before the terminator steps one unit only.
    const uint16_t cut[] = {'a', 0xD83D, 0, 0xDE00, 0};
    EXPECT_EQ(KaUtf16Next(cut + 1), cut + 2);
    EXPECT_EQ(KaUtf16CharCount(cut), 2u);
    const uint16_t low[] = {0xDE00, 'x'};
    EXPECT_EQ(KaUtf16PrevIndexChecked(low, 0), 0u);
    EXPECT_EQ(KaUtf16PrevIndex(low, 1), 0u);
    const uint16_t loneLow[] = {'a', 'b', 0xDE00};
    EXPECT_EQ(KaUtf16PrevIndex(loneLow, 3), 2u);
}

TEST(DbcsUtf16, ClassesAndCase)
{
    const uint16_t ideographic[] = {0x3000, 'x', 0};
    EXPECT_EQ(KaUIsWhitespace(ideographic), 1);
    EXPECT_EQ(KaUtf16SkipSpaces(ideographic), ideographic + 1);
    EXPECT_EQ(KaUtf16SkipSpaces(static_cast<const uint16_t*>(nullptr)), nullptr);
    const uint16_t z[] = {'Z', 0};
    EXPECT_EQ(KaUIsAlnum(z), 1);
    const uint16_t e[] = {0xE9, 0};
    EXPECT_EQ(KaUIsAlnum(e), 1);
    EXPECT_EQ(KaUIsAlpha(e), 1);
    const uint16_t dash[] = {'-', 0};
    EXPECT_EQ(KaUIsAlnum(dash), 0);
    const uint16_t spaceBE[] = {0x0030, 0};  // U+3000 in the other byte order
    EXPECT_EQ(KaUIsWhitespaceBE(spaceBE), 1);

    uint16_t text[] = {'a', 0xE9, 0xD801, 0xDC28, 'z', 0xD801, 0};
    KaUtf16StrUpper(text);
    EXPECT_EQ(text[0], 'A');
    EXPECT_EQ(text[1], 0xC9);
    EXPECT_EQ(text[2], 0xD801);
    EXPECT_EQ(text[3], 0xDC00);
    EXPECT_EQ(text[4], 'Z');
    EXPECT_EQ(text[5], 0xD801);
    KaUtf16StrLower(text);
    EXPECT_EQ(text[0], 'a');
    EXPECT_EQ(text[3], 0xDC28);
    uint16_t part[] = {'a', 'b', 0xD801, 0xDC28, 0};
    KaUtf16StrUpperN(part, 3);
    EXPECT_EQ(part[1], 'B');
    EXPECT_EQ(part[3], 0xDC28);
}

TEST(DbcsUtf, EncodingHelpers)
{
    char buf[4];
    EXPECT_EQ(utf8Encode(buf, 0x20AC) - buf, 3);
    EXPECT_EQ(std::string(buf, 3), "\xE2\x82\xAC");
    EXPECT_EQ(utf8Encode(buf, 0x1F600) - buf, 4);
    EXPECT_EQ(utf8EncodePacked(0xE9), 0xA9C3u);
    EXPECT_EQ(codePointToUtf16Packed(0x41), 0x41u);
    EXPECT_EQ(codePointToUtf16Packed(0x1F600), 0xDE00D83Du);
    EXPECT_EQ(codePointToUtf16Packed(0x110000), 0u);
    EXPECT_EQ(isCodePageAvailable(106), 1);
    EXPECT_EQ(isCodePageAvailable(17), 0);
}

TEST(DbcsUtf, Utf32RoundTrip)
{
    const uint32_t text[] = {'a', 0xE9, 0x1F600, 0};
    uint16_t* wide = nullptr;
    size_t count = 0;
    ASSERT_EQ(utf32ToUtf16Alloc(text, -1, &wide, &count), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(wide[2], 0xD83D);
    EXPECT_EQ(wide[4], 0);
    uint32_t back[3 + 1] = {9, 9, 9, 0xBEEF};
    size_t total = 0;
    EXPECT_EQ(utf16ToUtf32(wide, -1, back, 3, &total), 0);
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(back[0], 'a');
    EXPECT_EQ(back[1], 0xE9u);
    EXPECT_EQ(back[2], 0u);
    EXPECT_EQ(back[3], 0xBEEFu);
    size_t length = 4;
    EXPECT_EQ(utf16ToUtf32Len(wide, 4, back, &length), 0);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(back[2], 0x1F600u);
    ramFree(wide);

    // Not UTF-32: bytes of 8-bit text are widened.
    alignas(4) const char narrow[8] = "hi!";
    ASSERT_EQ(utf32ToUtf16Alloc(narrow, -1, &wide, &count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(wide[1], 'i');
    ramFree(wide);
}

struct Conv {
    UConverter* c;
    explicit Conv(const char* name)
    {
        UErrorCode status = U_ZERO_ERROR;
        c = ucnv_open(name, &status);
        EXPECT_TRUE(U_SUCCESS(status)) << name;
    }
    ~Conv() { ucnv_close(c); }
};

TEST(DbcsLeadBytes, TableOfShiftJis)
{
    Conv sjis("ibm-943_P15A-2003");
    uint8_t* table = nullptr;
    ASSERT_EQ(KaLeadByteTableBuild(sjis.c, &table), 0);
    EXPECT_EQ(table[0x41], 0);
    EXPECT_EQ(table[0x81], 1);
    EXPECT_EQ(table[0x88], 1);
    EXPECT_EQ(table[0xA1], 0);  // half-width katakana: one byte
    KaPtrTableCache cache;
    ASSERT_EQ(cache.add(2024, table), 0);
    uint8_t info = 9;
    EXPECT_EQ(KaLeadByteInfo(&cache, 2024, 0x81, &info), 0);
    EXPECT_EQ(info, 1);
    EXPECT_EQ(KaLeadByteInfo(&cache, 4, 0x81, &info), 1);
    size_t chars = 0;
    size_t bytes = 0;
    EXPECT_EQ(KaLeadCharCount(&cache, 2024,
                              "a\x88\x9F"
                              "b",
                              4, &chars),
              0);
    EXPECT_EQ(chars, 3u);
    EXPECT_EQ(KaLeadCharCountFit(&cache, 2024, "a\x88\x9F", 2, &bytes, &chars), 0);
    EXPECT_EQ(bytes, 1u);
    EXPECT_EQ(chars, 1u);
    size_t pos = 0;
    EXPECT_EQ(KaLeadPrevPos(&cache, 2024, "a\x88", 2, &pos), 0);
    EXPECT_EQ(pos, 1u);
}

TEST(DbcsLeadBytes, BoundariesFoundFromTheStart)
{
    KaPtrTableCache cache;
    Conv latin("ISO-8859-1");
    size_t out = 99;
    EXPECT_EQ(KaLeadPrevCharPos(&cache, latin.c, 4, "abc", 2, &out), 0);
    EXPECT_EQ(out, 2u);

    // U+4E9C U+4E9C in Shift_JIS: the trail byte 0x9F is also a lead byte.
    Conv sjis("ibm-943_P15A-2003");
    const char text[] = "\x88\x9F\x88\x9F";
    const size_t expect[] = {0, 0, 2, 2, 4};
    for (size_t p = 0; p <= 4; ++p) {
        EXPECT_EQ(KaLeadPrevCharPos(&cache, sjis.c, 2024, text, p, &out), 0);
        EXPECT_EQ(out, expect[p]) << p;
    }
    EXPECT_NE(cache.find(2024), nullptr);

    // Four-byte characters of GB18030.
    Conv gb("GB18030");
    const char four[] = "a\x81\x30\x81\x30"
                        "b";
    EXPECT_EQ(KaLeadPrevCharPos(&cache, gb.c, 114, four, 3, &out), 0);
    EXPECT_EQ(out, 1u);
    EXPECT_EQ(KaLeadPrevCharPos(&cache, gb.c, 114, four, 5, &out), 0);
    EXPECT_EQ(out, 5u);
    EXPECT_EQ(KaLeadPrevCharPos(&cache, gb.c, 114, four, 6, &out), 0);
    EXPECT_EQ(out, 6u);
}

}  // namespace
