// Number text: the parsers against strtoull/strtoll at the range edges, their
// diagnostics, and the writers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/numtext.h"
#include "support/errorscope.h"
#include "kamessages.h"

namespace {

using katest::ErrorScope;

// What the C library makes of the text: 0 parsed, 1 out of range, 2 not a
// number (no digits, a sign it does not take, or anything left over).
template <typename T, typename Parse>
int libcOutcome(const char* text, T* value, Parse parse, bool allowMinus)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (!allowMinus && *p == '-')
        return 2;
    if ((p[0] == '-' || p[0] == '+') && (p[1] < '0' || p[1] > '9'))
        return 2;
    errno = 0;
    char* end = nullptr;
    T v = parse(p, &end);
    if (end == p)
        return 2;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != 0)
        return 2;
    if (errno == ERANGE)
        return 1;
    *value = v;
    return 0;
}

int outcomeOf(const ErrorScope& scope, int status)
{
    if (status == 0)
        return 0;
    EXPECT_EQ(scope.size(), 1u);
    if (scope.size() == 0)
        return -1;
    return scope.native(0) == MSG_NUMBER_OUT_OF_RANGE ? 1 : scope.native(0) == MSG_NUMBER_INVALID_CHARACTER ? 2 : -1;
}

const char* const kEdgeTexts[] = {
    "0",
    "1",
    "18446744073709551615",
    "18446744073709551616",
    "18446744073709551620",
    "99999999999999999999",
    "9223372036854775807",
    "9223372036854775808",
    "-9223372036854775808",
    "-9223372036854775809",
    " 42 ",
    "+7",
    "\t12\t",
    "12a",
    "1 2",
    "-1",
    "--5",
    "-+5",
    "+-5",
    "",
    "   ",
    "+",
    "-",
    "007",
    "4294967295",
    "4294967296",
    "-2147483648",
    "-2147483649",
    "2147483647",
    "2147483648",
};

TEST(NumTextParse, UnsignedAgreesWithStrtoull)
{
    for (const char* text : kEdgeTexts) {
        SCOPED_TRACE(text);
        unsigned long long expect = 0;
        int want = libcOutcome<unsigned long long>(
            text, &expect, [](const char* s, char** e) { return std::strtoull(s, e, 10); }, false);
        ErrorScope scope;
        uint64_t value = 12345;
        int got = outcomeOf(scope, textToU64(text, &value));
        EXPECT_EQ(got, want);
        EXPECT_EQ(value, want == 0 ? expect : 12345u);
    }
}

TEST(NumTextParse, SignedAgreesWithStrtoll)
{
    for (const char* text : kEdgeTexts) {
        SCOPED_TRACE(text);
        long long expect = 0;
        int want = libcOutcome<long long>(
            text, &expect, [](const char* s, char** e) { return std::strtoll(s, e, 10); }, true);
        ErrorScope scope;
        int64_t value = 12345;
        int got = outcomeOf(scope, textToI64(text, &value));
        EXPECT_EQ(got, want);
        EXPECT_EQ(value, want == 0 ? expect : 12345);

        // The UTF-16 parser reads the same digits the same way; it takes a
        // '+' only as the very first character.
        std::vector<uint16_t> wide(text, text + std::strlen(text) + 1);
        ErrorScope wscope;
        int64_t wvalue = 12345;
        int wgot = outcomeOf(wscope, textWToI64(wide.data(), &wvalue));
        if (text[0] != ' ' && text[0] != '\t') {
            EXPECT_EQ(wgot, want);
        }
    }
}

TEST(NumTextParse, ThirtyTwoBitsAgreeWithStrtolRange)
{
    for (const char* text : kEdgeTexts) {
        SCOPED_TRACE(text);
        long long wide = 0;
        int want = libcOutcome<long long>(
            text, &wide, [](const char* s, char** e) { return std::strtoll(s, e, 10); }, true);
        if (want == 0 && (wide < INT32_MIN || wide > INT32_MAX))
            want = 1;
        ErrorScope scope;
        int32_t value = 12345;
        EXPECT_EQ(outcomeOf(scope, textToI32(text, &value)), want);
        EXPECT_EQ(value, want == 0 ? wide : 12345);
    }
}

TEST(NumTextParse, RangesOfTheSmallTypes)
{
    struct Case {
        const char* text;
        int u32, u16, i16, u8, i8;
    } cases[] = {
        {"4294967295", 0, 1, 1, 1, 1}, {"4294967296", 1, 1, 1, 1, 1}, {"65535", 0, 0, 1, 1, 1},
        {"65536", 0, 1, 1, 1, 1},      {"32767", 0, 0, 0, 1, 1},      {"-32768", 2, 2, 0, 2, 1},
        {"-32769", 2, 2, 1, 2, 1},     {"255", 0, 0, 0, 0, 1},        {"256", 0, 0, 0, 1, 1},
        {"-128", 2, 2, 0, 2, 0},       {"-129", 2, 2, 0, 2, 1},       {"-1", 2, 2, 0, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        {
            ErrorScope s;
            EXPECT_EQ(outcomeOf(s, textToU32(c.text, nullptr)), c.u32);
        }
        {
            ErrorScope s;
            uint16_t v;
            EXPECT_EQ(outcomeOf(s, textToU16(c.text, &v)), c.u16);
        }
        {
            ErrorScope s;
            int16_t v;
            EXPECT_EQ(outcomeOf(s, textToI16(c.text, &v)), c.i16);
        }
        {
            ErrorScope s;
            uint8_t v;
            EXPECT_EQ(outcomeOf(s, textToU8(c.text, &v)), c.u8);
        }
        {
            ErrorScope s;
            int8_t v;
            EXPECT_EQ(outcomeOf(s, textToI8(c.text, &v)), c.i8);
        }
    }
}

TEST(NumTextParse, CountedEightBitTexts)
{
    ErrorScope scope;
    uint32_t u = 0;
    EXPECT_EQ(textToU32N("123abc", 3, &u), 0);
    EXPECT_EQ(u, 123u);
    int32_t i = 0;
    EXPECT_EQ(textToI32N("-2147483648xyz", 11, &i), 0);
    EXPECT_EQ(i, INT32_MIN);
    int64_t l = 0;
    EXPECT_EQ(textToI64N(" -42 ", 5, &l), 0);
    EXPECT_EQ(l, -42);
    uint64_t big = 0;
    EXPECT_EQ(textToU64N("18446744073709551615", 20, &big), 0);
    EXPECT_EQ(big, UINT64_MAX);
    uint16_t small = 0;
    EXPECT_EQ(textToU16N("65535", 5, &small), 0);
    EXPECT_EQ(scope.size(), 0u);

    EXPECT_EQ(textToU32N("12 3", 4, &u), 1);
    EXPECT_EQ(textToU32N("", 0, &u), 1);
    int16_t s16 = 0;
    EXPECT_EQ(textToI16N("-32769", 6, &s16), 1);
    ASSERT_EQ(scope.size(), 3u);
    EXPECT_EQ(scope.native(0), MSG_NUMBER_INVALID_CHARACTER);
    EXPECT_EQ(scope.native(1), MSG_NUMBER_INVALID_CHARACTER);
    EXPECT_EQ(scope.native(2), MSG_NUMBER_OUT_OF_RANGE);
    EXPECT_EQ(u, 123u);
}

std::vector<uint16_t> exactUnits(const char16_t* s, bool terminate = true)
{
    std::vector<uint16_t> v;
    while (*s)
        v.push_back(static_cast<uint16_t>(*s++));
    if (terminate)
        v.push_back(0);
    return v;
}

TEST(NumTextParse, Utf16Texts)
{
    struct Case {
        const char16_t* text;
        int outcome;
        uint64_t value;
    } cases[] = {
        {u"18446744073709551615", 0, UINT64_MAX},
        {u"18446744073709551616", 1, 0},
        {u"   ", 2, 0},
        {u" +5", 2, 0},
        {u"+ 5", 0, 5},
        {u"\u0661", 2, 0},
        {u"\u20037\u3000", 0, 7},
        {u"", 2, 0},
    };
    for (const Case& c : cases) {
        ErrorScope scope;
        uint64_t value = 99;
        std::vector<uint16_t> text = exactUnits(c.text);
        EXPECT_EQ(outcomeOf(scope, textWToU64(text.data(), &value)), c.outcome);
        EXPECT_EQ(value, c.outcome == 0 ? c.value : 99u);
        ErrorScope counted;
        uint64_t cvalue = 99;
        EXPECT_EQ(outcomeOf(counted, textWToU64N(text.data(), text.size() - 1, &cvalue)), c.outcome);
    }
    ErrorScope scope;
    int64_t v = 0;
    std::vector<uint16_t> min = exactUnits(u"-9223372036854775808");
    EXPECT_EQ(textWToI64(min.data(), &v), 0);
    EXPECT_EQ(v, INT64_MIN);
    std::vector<uint16_t> over = exactUnits(u"9223372036854775808");
    EXPECT_EQ(textWToI64(over.data(), &v), 1);
    int32_t i = 0;
    std::vector<uint16_t> imin = exactUnits(u"-2147483648");
    EXPECT_EQ(textWToI32(imin.data(), &i), 0);
    EXPECT_EQ(i, INT32_MIN);
    uint16_t u16 = 0;
    std::vector<uint16_t> port = exactUnits(u"10000");
    EXPECT_EQ(textWToU16(port.data(), &u16), 0);
    EXPECT_EQ(u16, 10000);
    std::vector<uint16_t> digits = exactUnits(u"123456", false);
    uint32_t u32 = 0;
    EXPECT_EQ(textWToU32N(digits.data(), 4, &u32), 0);
    EXPECT_EQ(u32, 1234u);
    EXPECT_EQ(textWToU32N(digits.data(), 0, &u32), 1);
}

TEST(NumTextParse, DiagnosticCarriesTheText)
{
    ASSERT_EQ(katest::openCatalogue(), 0);
    ErrorScope scope;
    uint32_t v;
    EXPECT_EQ(textToU32("12x", &v), 1);
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_NE(scope.text(0).find("12x"), std::string::npos) << scope.text(0);
    katest::closeCatalogue();
}

TEST(NumTextWrite, Digits)
{
    char buf[40 + 2];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(u64ToTextN(buf + 1, 10, 10000000000ull), 0u);
    EXPECT_EQ(buf[1], '#');
    EXPECT_EQ(u64ToTextN(buf + 1, 11, 10000000000ull), 11u);
    EXPECT_EQ(std::string(buf + 1, 12), "10000000000#");
    EXPECT_EQ(i64ToText(buf + 1, INT64_MIN), 20u);
    EXPECT_STREQ(buf + 1, "-9223372036854775808");
    EXPECT_EQ(u64ToText(buf + 1, UINT64_MAX), 20u);
    EXPECT_STREQ(buf + 1, "18446744073709551615");
    EXPECT_EQ(i32ToTextN(buf + 1, 2, -5), 2u);
    EXPECT_EQ(i32ToTextN(buf + 1, 2, -15), 0u);
    EXPECT_EQ(u32ToTextN(buf + 1, 1, 0), 1u);
    EXPECT_EQ(buf[1], '0');

    uint16_t w[kNumTextCapacity + 1];
    EXPECT_EQ(i64ToTextW(w, -42), 3u);
    EXPECT_EQ(w[0], '-');
    EXPECT_EQ(w[3], 0);
    uint16_t sw[4];
    EXPECT_EQ(i32ToTextWSwapN(sw, 4, -7), 2u);
    EXPECT_EQ(sw[0], 0x2D00);
    EXPECT_EQ(sw[1], 0x3700);
    uint32_t u32[kNumTextCapacity + 1];
    EXPECT_EQ(u32ToTextU32(u32, 4294967295u), 10u);
    EXPECT_EQ(u32[9], static_cast<uint32_t>('5'));
    EXPECT_EQ(u32[10], 0u);
    EXPECT_EQ(i64ToTextU32N(u32, 3, -99), 3u);
}

TEST(NumTextWrite, FixedFields)
{
    char buf[16];
    EXPECT_EQ(i64ToFixedText(buf, 6, -42, 0), 2u);
    EXPECT_STREQ(buf, "   -42");
    EXPECT_EQ(i64ToFixedText(buf, 6, -42, 1), 2u);
    EXPECT_STREQ(buf, "-42   ");
    EXPECT_EQ(u64ToFixedText(buf, 4, 123456, 0), 0u);
    EXPECT_STREQ(buf, "****");
    EXPECT_EQ(u64ToFixedText(buf, 5, 42, 0), 2u);
    EXPECT_STREQ(buf, "   42");
    EXPECT_EQ(u64ToFixedText(buf, 5, 42, 1), 2u);
    EXPECT_STREQ(buf, "42   ");
    EXPECT_EQ(u64ToFixedText(buf, 12, 7, 0), 1u);
    EXPECT_STREQ(buf, "           7");
    EXPECT_EQ(u64ToFixedText(buf, 3, 0, 0), 1u);
    EXPECT_STREQ(buf, "  0");
    EXPECT_EQ(i64ToFixedText(buf, 3, -100, 0), 0u);
}

}  // namespace
