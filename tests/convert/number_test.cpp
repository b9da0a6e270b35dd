// The number engine: parsing, range checks, rounding, decimal and exponent
// text, doubles with 15 and reals with 7 digits, packed decimals and the
// numeric structure's magnitude. Expected values come from strtod/printf
// and from Python's decimal module (exact binary values rounded half up).
#include <gtest/gtest.h>

#include <sqltypes.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "convert/basecvt.h"
#include "convert/datetime.h"
#include "convert/number.h"
#include "kamessages.h"
#include "support/diagscope.h"
#include "support/guarded.h"

using katest::DiagScope;

static_assert(sizeof(BaseNumeric) == sizeof(SQL_NUMERIC_STRUCT), "numeric structure");
static_assert(kBaseNumericMagnitude == SQL_MAX_NUMERIC_LEN, "numeric magnitude");

namespace {

constexpr int64_t kLatin1 = 4;
constexpr uint32_t kFetch3 = kBaseFlagOdbc3 | kBaseFlagFetch;
constexpr uint32_t kParam3 = kBaseFlagOdbc3 | kBaseFlagParam;
// Room bytes start as this, which no number text holds.
constexpr uint8_t kUnwritten = 0xFF;

struct Result {
    int16_t rc;
    std::string text;
    int64_t produced;
};

// Converts into a text target with guard bytes around the buffer.
Result toText(int32_t kind, const void* src, int64_t len, int64_t room, int16_t scale = 0,
              int32_t trunc = kBaseTruncSilent, uint32_t flags = kFetch3, const BaseConvertContext* ctx = nullptr)
{
    katest::Guarded<> buf(static_cast<size_t>(room), kUnwritten);
    int64_t produced = -1;
    int16_t rc = baseConvertNumeric(ctx, kind, kLatin1, src, len, kBaseKindText, kLatin1, buf.data(), &produced, room,
                                    scale, trunc, flags);
    EXPECT_TRUE(buf.guardsIntact());
    // A cut text reports its full length: what was written ends at the first
    // untouched byte.
    size_t written = 0;
    while (rc == 0 && written < buf.size() && buf.data()[written] != kUnwritten)
        ++written;
    return {rc, buf.str(written), produced};
}

Result textToText(const std::string& s, int64_t room, int16_t scale = 0, int32_t trunc = kBaseTruncSilent,
                  uint32_t flags = kFetch3)
{
    return toText(kBaseKindText, s.data(), static_cast<int64_t>(s.size()), room, scale, trunc, flags);
}

Result doubleText(double d, int64_t room, int32_t trunc = kBaseTruncSilent, const BaseConvertContext* ctx = nullptr)
{
    return toText(kBaseKindDouble, &d, 8, room, 0, trunc, kFetch3, ctx);
}

template <typename T>
int16_t fromText(const std::string& s, int32_t kind, T* out, int32_t trunc = kBaseTruncWarn, uint32_t flags = kFetch3,
                 const BaseConvertContext* ctx = nullptr, int16_t scale = 0, int64_t maxLength = 0)
{
    int64_t produced = 0;
    return baseConvertNumeric(ctx, kBaseKindText, kLatin1, s.data(), static_cast<int64_t>(s.size()), kind, 0, out,
                              &produced, maxLength, scale, trunc, flags);
}

std::string digitsOf(const BaseNumber& n)
{
    return std::string(n.digits, static_cast<size_t>(n.digitCount));
}

}  // namespace

TEST(NumberParse, DecimalForm)
{
    struct Case {
        const char* text;
        const char* digits;
        int32_t exponent;
        bool negative;
        bool exponentForm;
    } cases[] = {
        {" -0012.50 ", "125", 2, true, false},
        {"0.05", "5", -1, false, false},
        {".5", "5", 0, false, false},
        {"5.", "5", 1, false, false},
        {"1200", "12", 4, false, false},
        {"+ 7", "7", 1, false, false},
        {"0", "0", 1, false, false},
        {"-0.000", "0", 1, false, false},
        {"1.25E-7", "125", -6, false, true},
        {"-3e+2", "3", 3, true, true},
        {"000100.0010", "100001", 3, false, false},
        {"\t42\n", "42", 2, false, false},
    };
    for (const Case& c : cases) {
        DiagScope d;
        BaseNumber n{};
        ASSERT_EQ(baseParseNumberText(c.text, static_cast<int64_t>(std::strlen(c.text)), &n), 0) << c.text;
        EXPECT_EQ(digitsOf(n), c.digits) << c.text;
        EXPECT_EQ(n.exponent, c.exponent) << c.text;
        EXPECT_EQ(n.negative, c.negative) << c.text;
        EXPECT_EQ(n.fromExponentForm, c.exponentForm) << c.text;
        EXPECT_EQ(d.size(), 0u);
    }
}

TEST(NumberParse, NotANumberIs22018)
{
    std::string tooMany(1001, '7');
    std::string enough(1000, '7');
    for (std::string text :
         {std::string(""), std::string("   "), std::string("."), std::string("abc"), std::string("1.2.3"),
          std::string("12 3"), std::string("1e"), std::string("1e+"), std::string("e5"), std::string("1e99999"),
          std::string("--1"), std::string("1x"), std::string("1e5x"), tooMany}) {
        DiagScope d;
        BaseNumber n{};
        EXPECT_EQ(baseParseNumberText(text.data(), static_cast<int64_t>(text.size()), &n), 1) << text;
        ASSERT_EQ(d.size(), 1u) << text;
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_INVALID_CAST);
    }
    DiagScope d;
    BaseNumber n{};
    EXPECT_EQ(baseParseNumberText(enough.data(), 1000, &n), 0);
    EXPECT_EQ(n.digitCount, 1000);
    // Held-back zeros count only when stored: 1000 digits then zeros still fit.
    std::string zeros = enough + "000";
    EXPECT_EQ(baseParseNumberText(zeros.data(), static_cast<int64_t>(zeros.size()), &n), 0);
    EXPECT_EQ(n.exponent, 1003);
}

TEST(NumberParse, Exponent)
{
    struct Case {
        const char* text;
        int32_t used;
        int16_t value;
    } cases[] = {{"12", 2, 12},    {"+3x", 2, 3}, {"-32768", 6, -32768}, {"32767", 5, 32767}, {"32768", 0, 0},
                 {"-32769", 0, 0}, {"", 0, 0},    {"-", 0, 0},           {"007", 3, 7}};
    for (const Case& c : cases) {
        int16_t v = 0;
        EXPECT_EQ(baseParseExponent(c.text, static_cast<int32_t>(std::strlen(c.text)), &v), c.used) << c.text;
        if (c.used != 0) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(NumberParse, Utf16TextIsTrimmedAndMustBeAscii)
{
    // U+3000 ideographic space around the digits is white space.
    const uint16_t ok[] = {0x3000, '-', '1', '2', '.', '5', 0x3000, ' '};
    double d = 0;
    int64_t produced = 0;
    DiagScope scope;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindText, 1014, ok, sizeof ok, kBaseKindDouble, 0, &d, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(d, -12.5);
    EXPECT_EQ(produced, 8);
    // Big-endian units.
    const uint8_t be[] = {0, '4', 0, '2'};
    int32_t i = 0;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindText, 1013, be, sizeof be, kBaseKindInteger, 0, &i, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(i, 42);
    // An Arabic-Indic digit is no digit here.
    const uint16_t arabic[] = {'1', 0x0661};
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindText, 1014, arabic, sizeof arabic, kBaseKindInteger, 0, &i,
                                 &produced, 0, 0, kBaseTruncWarn, kFetch3),
              1);
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.index(0), MSG_SQLSTATE_INVALID_CAST);
}

TEST(NumberRange, IntegerTargets)
{
    struct Case {
        const char* text;
        int32_t kind;
        bool ok;
        uint64_t bits;  // the stored value's bits
    } cases[] = {
        {"127", kBaseKindTinyInt, true, 127},
        {"128", kBaseKindTinyInt, false, 0},
        {"-128", kBaseKindTinyInt, true, 0x80},
        {"-129", kBaseKindTinyInt, false, 0},
        {"255", kBaseKindUTinyInt, true, 255},
        {"256", kBaseKindUTinyInt, false, 0},
        {"-1", kBaseKindUTinyInt, false, 0},
        {"32767", kBaseKindSmallInt, true, 32767},
        {"-32769", kBaseKindSmallInt, false, 0},
        {"65535", kBaseKindUSmallInt, true, 65535},
        {"2147483647", kBaseKindInteger, true, 2147483647},
        {"-2147483648", kBaseKindInteger, true, 0x80000000},
        {"2147483648", kBaseKindInteger, false, 0},
        {"4294967295", kBaseKindUInteger, true, 4294967295u},
        {"4294967296", kBaseKindUInteger, false, 0},
        {"9223372036854775807", kBaseKindBigInt, true, 0x7FFFFFFFFFFFFFFFull},
        {"-9223372036854775808", kBaseKindBigInt, true, 0x8000000000000000ull},
        {"9223372036854775808", kBaseKindBigInt, false, 0},
        {"18446744073709551615", kBaseKindUBigInt, true, 0xFFFFFFFFFFFFFFFFull},
        {"18446744073709551616", kBaseKindUBigInt, false, 0},
        {"99999999999999999999", kBaseKindUBigInt, false, 0},
        {"-1", kBaseKindUBigInt, false, 0},
        {"1e3", kBaseKindSmallInt, true, 1000},
        {"1", kBaseKindBit, true, 1},
        {"2", kBaseKindBit, false, 0},
        {"12345678901", kBaseKindInteger, false, 0},
    };
    for (const Case& c : cases) {
        DiagScope d;
        uint64_t out = 0;
        int16_t rc = fromText(c.text, c.kind, &out);
        EXPECT_EQ(rc == 0, c.ok) << c.text << " kind " << c.kind;
        if (c.ok) {
            EXPECT_EQ(out, c.bits) << c.text;
            EXPECT_EQ(d.size(), 0u);
        } else {
            ASSERT_EQ(d.size(), 1u) << c.text;
            EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE) << c.text;
        }
    }
}

TEST(NumberRange, DroppedFractionWarnsUnderPolicy)
{
    {
        DiagScope d;
        int32_t v = 0;
        ASSERT_EQ(fromText("2.5", kBaseKindInteger, &v, kBaseTruncWarn), 0);
        EXPECT_EQ(v, 2);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
        EXPECT_TRUE(d.warning(0));
    }
    {
        DiagScope d;
        int32_t v = 0;
        ASSERT_EQ(fromText("-2.9", kBaseKindInteger, &v, kBaseTruncSilent), 0);
        EXPECT_EQ(v, -2);
        EXPECT_EQ(d.size(), 0u);
    }
    {
        // Strict policy: an ODBC 3 parameter that loses digits fails.
        DiagScope d;
        int32_t v = 0;
        EXPECT_EQ(fromText("2.5", kBaseKindInteger, &v, kBaseTruncStrict, kParam3), 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_STRING_TRUNCATION);
    }
    {
        DiagScope d;
        uint8_t bit = 9;
        ASSERT_EQ(fromText("0.5", kBaseKindBit, &bit), 0);
        EXPECT_EQ(bit, 0);
        EXPECT_EQ(d.size(), 1u);
    }
}

TEST(NumberRange, DoublesIntoIntegers)
{
    struct Case {
        double value;
        int32_t kind;
        bool ok;
        int64_t result;
    } cases[] = {
        {9223372036854775808.0, kBaseKindBigInt, false, 0},  // 2^63 itself overflows
        {-9223372036854775808.0, kBaseKindBigInt, true, INT64_MIN},
        {9223372036854774784.0, kBaseKindBigInt, true, 9223372036854774784},
        {18446744073709551616.0, kBaseKindUBigInt, false, 0},
        {-0.5, kBaseKindUBigInt, true, 0},
        {-1.0, kBaseKindUBigInt, false, 0},
        {2147483647.9, kBaseKindInteger, true, 2147483647},
        {2147483648.0, kBaseKindInteger, false, 0},
        {-2147483648.5, kBaseKindInteger, true, INT32_MIN},
        {4294967295.0, kBaseKindUInteger, true, 4294967295},
        {300.0, kBaseKindUTinyInt, false, 0},
        {-3.0, kBaseKindBit, false, 0},
        {std::numeric_limits<double>::quiet_NaN(), kBaseKindInteger, false, 0},
        {std::numeric_limits<double>::infinity(), kBaseKindBigInt, false, 0},
    };
    for (const Case& c : cases) {
        DiagScope d;
        int64_t out = 0;
        int64_t produced = 0;
        int16_t rc = baseConvertNumeric(nullptr, kBaseKindDouble, 0, &c.value, 8, c.kind, 0, &out, &produced, 0, 0,
                                        kBaseTruncWarn, kFetch3);
        EXPECT_EQ(rc == 0, c.ok) << c.value << " kind " << c.kind;
        if (!c.ok) {
            ASSERT_EQ(d.size(), 1u);
            EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
            continue;
        }
        int64_t got = out;
        if (c.kind == kBaseKindInteger)
            got = static_cast<int32_t>(out);
        else if (c.kind == kBaseKindUInteger)
            got = static_cast<uint32_t>(out);
        EXPECT_EQ(got, c.result) << c.value;
    }
}

TEST(NumberRange, TextToDouble)
{
    for (const char* text : {"1e308", "-1.7976931348623157e308", "0.1", "123.456", "4.9e-324",
                             "2.2250738585072014e-308", "1e-400", "9007199254740993"}) {
        DiagScope d;
        double v = 0;
        ASSERT_EQ(fromText(text, kBaseKindDouble, &v), 0) << text;
        EXPECT_EQ(v, std::strtod(text, nullptr)) << text;
    }
    for (const char* text : {"1e400", "-1e309", "2e308"}) {
        DiagScope d;
        double v = 0;
        EXPECT_EQ(fromText(text, kBaseKindDouble, &v), 1) << text;
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    }
    DiagScope d;
    float f = 0;
    EXPECT_EQ(fromText("3.5e38", kBaseKindReal, &f), 1);
    ASSERT_EQ(fromText("3.14159274", kBaseKindReal, &f), 0);
    EXPECT_EQ(f, 3.14159274f);
}

TEST(NumberRange, SecondsAndDayNumbers)
{
    DiagScope d;
    int64_t produced = 0;
    uint32_t seconds = 86400;
    BaseTime t{};
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindUInteger, 0, &seconds, 4, kBaseKindTime, 0, &t, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              1);
    seconds = 86399;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindUInteger, 0, &seconds, 4, kBaseKindTime, 0, &t, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_EQ(t.second, 59);
    EXPECT_EQ(produced, 6);

    BaseDate date{2000, 1, 1};
    int64_t day = 0;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindDate, 0, &date, 6, kBaseKindBigInt, 0, &day, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(day, 2451545);
    BaseDate back{};
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindBigInt, 0, &day, 8, kBaseKindDate, 0, &back, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(back.year, 2000);
    EXPECT_EQ(back.month, 1);
    EXPECT_EQ(back.day, 1);

    BaseTimestamp noon{2000, 1, 1, 12, 0, 0, 0};
    double asDouble = 0;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindTimestamp, 0, &noon, 16, kBaseKindDouble, 0, &asDouble, &produced, 0,
                                 0, kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(asDouble, 2451545.5);
    BaseTimestamp ts{};
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindDouble, 0, &asDouble, 8, kBaseKindTimestamp, 0, &ts, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(ts.year, 2000);
    EXPECT_EQ(ts.hour, 12);
    EXPECT_EQ(produced, 16);
    // A day number far beyond any 16-bit year is out of range, not a wrapped year.
    int64_t far = 2000000000;
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindBigInt, 0, &far, 8, kBaseKindDate, 0, &back, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              1);
}

TEST(DoubleText, TableRows)
{
    struct Row {
        int32_t e;
        int16_t m;
        uint64_t t;
    } rows[] = {
        // 10^M x 2^(e - 1068) rounded half up, computed exactly with Python's fractions.
        {0, 340, 0x2BE1C08EE6FC3B9BULL},     {6, 338, 0x1C1599F50EB5E8B5ULL},     {58, 323, 0x7E7B160EF71C1621ULL},
        {500, 190, 0x8FA475791A569D11ULL},   {1000, 39, 0x2F050FE938943ACCULL},   {1068, 19, 0x8AC7230489E80000ULL},
        {1080, 15, 0x38D7EA4C68000000ULL},   {1131, 0, 0x8000000000000000ULL},    {1132, -1, 0x199999999999999AULL},
        {1133, -1, 0x3333333333333333ULL},   {1500, -111, 0x99EA0196163FA42EULL}, {2000, -262, 0x3261D0D1D12B21D4ULL},
        {2103, -293, 0x3317F065BFBF5F43ULL},
    };
    for (const Row& r : rows) {
        int16_t m = 0;
        uint64_t t = 0;
        baseDoubleTableEntry(r.e, &m, &t);
        EXPECT_EQ(m, r.m) << r.e;
        EXPECT_EQ(t, r.t) << r.e;
    }
}

TEST(DoubleText, DigitsMatchExactValuesRoundedHalfUp)
{
    struct Case {
        uint64_t bits;
        int32_t kind;
        const char* digits;  // with a leading '-' for negative values
        int32_t exponent;
    } cases[] = {
        {0x3FB999999999999AULL, 14, "1", 0},                    // 0.1
        {0x3FD5555555555555ULL, 14, "333333333333333", 0},      // 0.3333333333333333
        {0x3FE5555555555555ULL, 14, "666666666666667", 0},      // 0.6666666666666666
        {0x4415AF1D78B58C40ULL, 14, "1", 21},                   // 1e+20
        {0x3EE4F8B588E368F1ULL, 14, "1", -4},                   // 1e-05
        {0x0000000000000001ULL, 14, "494065645841247", -323},   // 5e-324
        {0x0010000000000000ULL, 14, "22250738585072", -307},    // 2.2250738585072014e-308
        {0x7FEFFFFFFFFFFFFFULL, 14, "179769313486232", 309},    // 1.7976931348623157e+308
        {0x437B69B4BA630F35ULL, 14, "123456789012346", 18},     // 1.2345678901234568e+17
        {0x3FE0000000000000ULL, 14, "5", 0},                    // 0.5
        {0x4004000000000000ULL, 14, "25", 1},                   // 2.5
        {0xC0934A456D5CFAADULL, 14, "-12345678", 4},            // -1234.5678
        {0x430C6BF52633FFFCULL, 14, "1", 16},                   // 999999999999999.5
        {0x4341C37937E07FFEULL, 14, "1", 17},                   // 9999999999999996.0
        {0x4011666666666666ULL, 14, "435", 1},                  // 4.35
        {0x3FF0147AE147AE14ULL, 14, "1005", 1},                 // 1.005
        {0x4005666666666666ULL, 14, "2675", 1},                 // 2.675
        {0xBF201F31F46ED246ULL, 14, "-123", -3},                // -0.000123
        {0x44DFE185CA57C517ULL, 14, "602214076", 24},           // 6.02214076e+23
        {0x00000000000007E8ULL, 14, "999988867182683", -320},   // 1e-320
        {0x400921FB60000000ULL, 13, "3141593", 1},              // 3.1415927410125732
        {0x415EB27120000000ULL, 13, "8047045", 7},              // 8047044.5
        {0x47D2CED320000000ULL, 13, "1", 39},                   // 9.999999680285692e+37
        {0x3810000000000000ULL, 13, "1175494", -37},            // 1.1754943508222875e-38
        {0x36A0000000000000ULL, 13, "1401298", -44},            // 1.401298464324817e-45
        {0x3FB99999A0000000ULL, 13, "1", 0},                    // 0.10000000149011612
        {0xC004000000000000ULL, 13, "-25", 1},                  // -2.5
        {0x4170000000000000ULL, 13, "1677722", 8},              // 16777216.0
        {0x47EFFFFFE0000000ULL, 13, "3402823", 39},             // 3.4028234663852886e+38
        {0xDDA1494C73CF256DULL, 14, "-105397564855307", 144},   // -1.0539756485530688e+143
        {0xDB5B5FAB8F4D3E27ULL, 14, "-121437216663525", 133},   // -1.2143721666352482e+132
        {0xC7FDE805EC99108DULL, 14, "-636037518499332", 39},    // -6.360375184993316e+38
        {0x73AB48767734D7C1ULL, 14, "152608762973031", 250},    // 1.526087629730313e+249
        {0xDAE445508201E2BDULL, 14, "-702551513787579", 130},   // -7.02551513787579e+129
        {0x309D6B79965EDA32ULL, 14, "162607717857267", -73},    // 1.6260771785726701e-74
        {0xCDCC69292F45E678ULL, 14, "-598400968509366", 67},    // -5.984009685093657e+66
        {0x79CB9E86830C71C2ULL, 14, "489595852645769", 279},    // 4.8959585264576934e+278
        {0x9D2C67EDA13FFE79ULL, 14, "-376341448280299", -167},  // -3.7634144828029947e-168
        {0x2FA91425CB008853ULL, 14, "423015419548372", -78},    // 4.2301541954837196e-79
        {0x7253EDC618187993ULL, 14, "531542208846255", 243},    // 5.315422088462547e+242
        {0x244CAF9C4DABB481ULL, 14, "789335454806146", -133},   // 7.893354548061464e-134
        {0x89E7D15F17362F25ULL, 14, "-605112961290967", -260},  // -6.0511296129096725e-261
        {0xE3EFF9C0CF44DD3FULL, 14, "-247141798838365", 174},   // -2.471417988383651e+173
        {0xA26B7F62B1852F27ULL, 14, "-704671737627971", -142},  // -7.046717376279707e-143
        {0x986E86CB0AB8AB67ULL, 14, "-535266770251267", -190},  // -5.352667702512672e-191
        {0x656ABD72FB710734ULL, 14, "34674435816113", 181},     // 3.467443581611296e+180
        {0x73F778AAF6FA5DB8ULL, 14, "420121241924993", 251},    // 4.201212419249933e+250
        {0xBD299753A7677796ULL, 14, "-454589614086099", -13},   // -4.545896140860994e-14
        {0xA66B0D389D95847EULL, 14, "-127880837686644", -122},  // -1.278808376866442e-123
        {0x9F8558A628518867ULL, 14, "-77738217566588", -156},   // -7.773821756658801e-157
        {0xD4EA65D003D71684ULL, 14, "-115476800130767", 102},   // -1.1547680013076696e+101
        {0x102B938B8743FEB6ULL, 14, "888116792998917", -230},   // 8.88116792998917e-231
        {0x09208A650F3EBDD3ULL, 14, "102594764441423", -263},   // 1.0259476444142278e-264
        {0xE12B2B8F30B17D0BULL, 14, "-11937126864957", 161},    // -1.1937126864956989e+160
        {0x998092253DEFFA38ULL, 14, "-761690039492239", -185},  // -7.616900394922395e-186
        {0xC7321CC007B37E14ULL, 14, "-940444651131201", 35},    // -9.404446511312006e+34
        {0x5387F61376C468AEULL, 14, "249906671134116", 95},     // 2.4990667113411633e+94
        {0x97491E2370C6A5B8ULL, 14, "-168009251919724", -195},  // -1.6800925191972358e-196
        {0x320094EAD7A94DEDULL, 14, "768812185340044", -67},    // 7.688121853400444e-68
        {0x3BD0334684E55160ULL, 14, "137221834393465", -19},    // 1.3722183439346506e-20
        {0x4B4D8474A3EA284DULL, 14, "565441140225084", 55},     // 5.654411402250841e+54
        {0x012D0EA67FF12229ULL, 14, "529649488793037", -302},   // 5.2964948879303666e-303
        {0x15C1D2DFA9964AEFULL, 14, "710610180002806", -203},   // 7.106101800028059e-204
        {0xA7A1149075139237ULL, 14, "-846657855142261", -117},  // -8.466578551422606e-118
        {0x6822A6B24735AF1CULL, 14, "425473999764627", 194},    // 4.254739997646274e+193
        {0x8D1FE1DAFF666589ULL, 14, "-182394811931708", -244},  // -1.82394811931708e-245
        {0xEE82EC3FFEE5A5B2ULL, 14, "-218883673151127", 225},   // -2.1888367315112703e+224
        {0x154CD2AAD7185DDAULL, 14, "448880712297644", -205},   // 4.48880712297644e-206
        {0x4105CCA7B53302FCULL, 14, "178580963476203", 6},      // 178580.96347620327
    };
    for (const Case& c : cases) {
        double d;
        std::memcpy(&d, &c.bits, 8);
        char out[400];
        int64_t len = 0;
        BaseNumber form{};
        int32_t ok = 0;
        baseFormatDouble(c.kind, out, sizeof out, &len, kLatin1, &form, d, &ok);
        ASSERT_EQ(ok, 1) << d;
        BaseNumber n{};
        ASSERT_EQ(baseParseNumberText(out, len, &n), 0) << std::string(out, len);
        EXPECT_EQ((n.negative ? "-" : "") + digitsOf(n), c.digits) << d;
        EXPECT_EQ(n.exponent, c.exponent) << d;
    }
}

TEST(DoubleText, PlainAndExponentForms)
{
    struct Case {
        double value;
        int64_t room;
        const char* text;
    } cases[] = {
        {0.1, 30, ".1"},
        {1e20, 21, "100000000000000000000"},
        {1e20, 4, "1E20"},
        {1.0, 30, "1"},
        {-0.0, 30, "-0"},
        {0.0, 30, "0"},
        {1.5e20, 5, "1.5E20"},  // does not fit: cut by the decimal rules below
        {1e-5, 30, ".00001"},
        {1e-5, 4, "1E-5"},
        {-1234.5678, 30, "-1234.5678"},
        {123456789012345678.0, 30, "123456789012346000"},
        {1.7976931348623157e308, 30, "1.79769313486232E308"},
        {5e-324, 30, "4.94065645841247E-324"},
    };
    for (const Case& c : cases) {
        DiagScope d;
        char out[64];
        int64_t len = 0;
        BaseNumber form{};
        int32_t ok = 0;
        baseFormatDouble(kBaseKindDouble, out, c.room, &len, kLatin1, &form, c.value, &ok);
        if (std::string(c.text).size() <= static_cast<size_t>(c.room)) {
            ASSERT_EQ(ok, 1) << c.value;
            EXPECT_EQ(std::string(out, len), c.text) << c.value;
        } else {
            EXPECT_EQ(ok, 0) << c.value;
        }
    }
    char out[16];
    int64_t len = 0;
    BaseNumber form{};
    int32_t ok = 0;
    float real = 3.14159274f;
    baseFormatDouble(kBaseKindReal, out, sizeof out, &len, kLatin1, &form, real, &ok);
    EXPECT_EQ(std::string(out, len), "3.141593");
}

TEST(DoubleText, SpecialValues)
{
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {std::numeric_limits<double>::infinity(), "1.#INF"},
        {-std::numeric_limits<double>::infinity(), "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), "1.#QNAN"},
        {-std::numeric_limits<double>::quiet_NaN(), "-1.#QNAN"},
        {std::numeric_limits<double>::signaling_NaN(), "1.#SNAN"},
    };
    for (const Case& c : cases) {
        Result r = doubleText(c.value, 20);
        ASSERT_EQ(r.rc, 0);
        EXPECT_EQ(r.text, c.text);
    }
    // Cut: the start of the special text, and its full length reported.
    Result cut = doubleText(std::numeric_limits<double>::infinity(), 3);
    ASSERT_EQ(cut.rc, 0);
    EXPECT_EQ(cut.text, "1.#");
    EXPECT_EQ(cut.produced, 6);
}

TEST(DoubleText, ThroughTheEngine)
{
    Result r = doubleText(1.5e20, 5);  // neither form fits: fewer mantissa digits, cut
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, "1E20");
    EXPECT_EQ(r.produced, 6);
    r = doubleText(123.456, 5);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, "123.4");
    EXPECT_EQ(r.produced, 7);
    {
        DiagScope d;
        r = doubleText(123.456, 5, kBaseTruncWarn);
        ASSERT_EQ(r.rc, 0);
        EXPECT_EQ(r.produced, 5);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
    }
    {
        DiagScope d;
        r = doubleText(123456.0, 3);  // the integer part does not fit
        EXPECT_EQ(r.rc, 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    }
    {
        DiagScope d;
        r = doubleText(1.0, 0);  // no room at all
        EXPECT_EQ(r.rc, 1);
    }
    BaseConvertContext ctx;
    ctx.settings.doubleToStringPrecision = 17;
    r = doubleText(0.1, 30, kBaseTruncSilent, &ctx);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, ".10000000000000001");
    // UTF-16LE and UTF-32BE targets hold the same characters.
    double v = -2.5;
    uint8_t wide[32];
    int64_t produced = 0;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindDouble, 0, &v, 8, kBaseKindText, 1014, wide, &produced, sizeof wide,
                                 0, 0, kFetch3),
              0);
    EXPECT_EQ(produced, 8);
    EXPECT_EQ(std::memcmp(wide,
                          "-\0"
                          "2\0"
                          ".\0"
                          "5\0",
                          8),
              0);
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindDouble, 0, &v, 8, kBaseKindText, 1018, wide, &produced, sizeof wide,
                                 0, 0, kFetch3),
              0);
    EXPECT_EQ(produced, 16);
    EXPECT_EQ(std::memcmp(wide,
                          "\0\0\0-\0\0\0"
                          "2\0\0\0.\0\0\0"
                          "5",
                          16),
              0);
}

TEST(DecimalText, PlainForm)
{
    struct Case {
        const char* in;
        int64_t room;
        int16_t scale;
        const char* out;
        int64_t produced;
    } cases[] = {
        {"-0.05", 10, 0, "-.05", 4},
        {"0.05", 10, 0, ".05", 3},
        {"-0.5", 10, 0, "-0.5", 4},
        {"12.5", 10, 3, "12.500", 6},
        {"100", 10, 3, "100.000", 7},
        {"12.5", 5, 3, "12.50", 5},
        {"1200", 10, 0, "1200", 4},
        {"-7", 10, 0, "-7", 2},
        {"0", 10, 0, "0", 1},
        {"1.25E-7", 20, 0, ".000000125", 10},
        {"1.25E-7", 8, 0, "1.25E-7", 7},
        {"1.2345E-7", 6, 0, "1.2E-7", 9},  // cut: the smaller full length is remembered
        {"12.345", 4, 0, "12.3", 6},
        {"0.05", 1, 0, "0", 3},
        {"123E20", 10, 0, "1.23E22", 7},
    };
    for (const Case& c : cases) {
        DiagScope d;
        Result r = textToText(c.in, c.room, c.scale);
        ASSERT_EQ(r.rc, 0) << c.in;
        EXPECT_EQ(r.text, c.out) << c.in;
        EXPECT_EQ(r.produced, c.produced) << c.in;
        EXPECT_EQ(d.size(), 0u) << c.in;
    }
}

TEST(DecimalText, IntegerPartThatDoesNotFit)
{
    {
        DiagScope d;
        Result r = textToText("123456", 5);
        EXPECT_EQ(r.rc, 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    }
    {
        DiagScope d;
        Result r = textToText("123456", 5, 0, kBaseTruncWarn, kParam3);
        EXPECT_EQ(r.rc, 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_STRING_TRUNCATION);
    }
    {
        DiagScope d;
        int64_t big = -1234567;
        Result r = toText(kBaseKindBigInt, &big, 8, 7);
        EXPECT_EQ(r.rc, 1);
        r = toText(kBaseKindBigInt, &big, 8, 8);
        ASSERT_EQ(r.rc, 0);
        EXPECT_EQ(r.text, "-1234567");
    }
}

TEST(DecimalKind12, RoundingModeAndScale)
{
    struct Case {
        const char* in;
        int16_t scale;
        uint16_t rounding;
        const char* digits;  // rounded with Python's decimal (half up, or cut)
        int16_t exponent;
    } cases[] = {
        {"2.675", 2, 1, "268", 1}, {"2.675", 2, 0, "267", 1}, {"-2.675", 2, 1, "268", 1},
        {"9.995", 2, 1, "1", 2},   {"9.995", 2, 0, "999", 1}, {"0.005", 2, 1, "1", -1},
        {"0.004", 2, 1, "0", 1},   {"99.5", 0, 1, "1", 3},    {"123.4567", 0, 0, "123", 3},
    };
    for (const Case& c : cases) {
        BaseConvertContext ctx;
        ctx.settings.roundingMode = c.rounding;
        DiagScope d;
        BaseDecimal out{};
        ASSERT_EQ(fromText(c.in, kBaseKindDecimal, &out, kBaseTruncSilent, kFetch3, &ctx, c.scale, 38), 0) << c.in;
        EXPECT_EQ(std::string(out.digits, out.digitCount), c.digits) << c.in << " rm " << c.rounding;
        EXPECT_EQ(out.exponent, c.exponent) << c.in;
    }
}

TEST(DecimalKind12, RangeAndNegativeScale)
{
    DiagScope d;
    BaseDecimal out{};
    EXPECT_EQ(fromText("12345", kBaseKindDecimal, &out, kBaseTruncWarn, kFetch3, nullptr, 2, 6), 1);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    ASSERT_EQ(fromText("1234", kBaseKindDecimal, &out, kBaseTruncWarn, kFetch3, nullptr, 2, 6), 0);
    // Scale -2: hundreds only.
    ASSERT_EQ(fromText("1200", kBaseKindDecimal, &out, kBaseTruncWarn, kFetch3, nullptr, -2, 6), 0);
    EXPECT_EQ(std::string(out.digits, out.digitCount), "12");
    EXPECT_EQ(fromText("1250", kBaseKindDecimal, &out, kBaseTruncWarn, kFetch3, nullptr, -2, 6), 1);
    EXPECT_EQ(fromText("50", kBaseKindDecimal, &out, kBaseTruncWarn, kFetch3, nullptr, -2, 6), 1);
    // The keep-all-digits flag takes the value as it is.
    BaseDecimal all{};
    all.keepAllDigits = 1;
    ASSERT_EQ(fromText("3.14159", kBaseKindDecimal, &all, kBaseTruncWarn, kFetch3, nullptr, 0, 1), 0);
    EXPECT_EQ(std::string(all.digits, all.digitCount), "314159");
    // And back to text from the stored form.
    Result r = toText(kBaseKindDecimal, &all, kBaseDecimalHeader + all.digitCount, 20);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, "3.14159");
}

TEST(Packed, WriteAndRead)
{
    DiagScope d;
    uint8_t packed[3] = {};
    ASSERT_EQ(fromText("123.45", kBaseKindPacked, packed, kBaseTruncWarn, kFetch3, nullptr, 2, 5), 0);
    EXPECT_EQ(packed[0], 0x12);
    EXPECT_EQ(packed[1], 0x34);
    EXPECT_EQ(packed[2], 0x5C);
    ASSERT_EQ(fromText("-1.5", kBaseKindPacked, packed, kBaseTruncWarn, kFetch3, nullptr, 2, 5), 0);
    EXPECT_EQ(packed[0], 0x00);
    EXPECT_EQ(packed[1], 0x15);
    EXPECT_EQ(packed[2], 0x0D);
    EXPECT_EQ(fromText("1234", kBaseKindPacked, packed, kBaseTruncWarn, kFetch3, nullptr, 2, 5), 1);
    const uint8_t source[3] = {0x98, 0x76, 0x5D};
    double v = 0;
    int64_t produced = 0;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindPacked, 0, source, 3, kBaseKindDouble, 0, &v, &produced, 5, 3,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(v, -98.765);
}

TEST(NumericMagnitude, TextAndDigits)
{
    uint8_t max[16];
    std::memset(max, 0xFF, sizeof max);
    char text[kBaseU128TextSize];
    EXPECT_EQ(baseNumericValToText(max, text), 39);
    EXPECT_STREQ(text, "340282366920938463463374607431768211455");
    uint8_t zero[16] = {};
    EXPECT_EQ(baseNumericValToText(zero, text), 1);
    EXPECT_STREQ(text, "0");
    uint8_t back[16];
    DiagScope d;
    ASSERT_EQ(baseDigitsToNumericVal("340282366920938463463374607431768211455", 39, back), 0);
    EXPECT_EQ(std::memcmp(back, max, 16), 0);
    EXPECT_EQ(baseDigitsToNumericVal("340282366920938463463374607431768211456", 39, back), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    EXPECT_EQ(d.at(0)->nativeCode, MSG_VALUE_DOES_NOT_FIT);
    // Round trips of values of every width.
    unsigned __int128 v = 1;
    for (int i = 0; i < 127; ++i) {
        v = v * 3 + static_cast<unsigned>(i);
        uint8_t mag[16];
        unsigned __int128 t = v;
        for (auto& b : mag) {
            b = static_cast<uint8_t>(t);
            t >>= 8;
        }
        int32_t n = baseU128ToText(mag, 16, text);
        uint8_t again[16];
        ASSERT_EQ(baseDigitsToNumericVal(text, n, again), 0) << text;
        EXPECT_EQ(std::memcmp(again, mag, 16), 0) << text;
        if (v > (~static_cast<unsigned __int128>(0)) / 4)
            break;
    }
    EXPECT_EQ(baseDigitsToU32("123456789", 9), 123456789u);
    EXPECT_EQ(baseDigitsToU64("123456789012345678", 18), 123456789012345678ull);
}

TEST(IntegerText, EveryEncoding)
{
    int32_t v = -42;
    uint8_t out[32];
    int64_t produced = 0;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindInteger, 0, &v, 4, kBaseKindText, 1014, out, &produced, sizeof out,
                                 0, 0, kFetch3),
              0);
    EXPECT_EQ(produced, 6);
    EXPECT_EQ(std::memcmp(out,
                          "-\0"
                          "4\0"
                          "2\0",
                          6),
              0);
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindInteger, 0, &v, 4, kBaseKindText, 1013, out, &produced, sizeof out,
                                 0, 0, kFetch3),
              0);
    EXPECT_EQ(std::memcmp(out,
                          "\0-\0"
                          "4\0"
                          "2",
                          6),
              0);
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindInteger, 0, &v, 4, kBaseKindText, 1019, out, &produced, sizeof out,
                                 0, 0, kFetch3),
              0);
    EXPECT_EQ(produced, 12);
    EXPECT_EQ(std::memcmp(out,
                          "-\0\0\0"
                          "4\0\0\0"
                          "2\0\0\0",
                          12),
              0);
    // Room is counted in characters of the target: 5 bytes of UTF-16 hold 2.
    DiagScope d;
    EXPECT_EQ(
        baseConvertNumeric(nullptr, kBaseKindInteger, 0, &v, 4, kBaseKindText, 1014, out, &produced, 5, 0, 0, kFetch3),
        1);
}

TEST(NumberSources, BitAndOtherKinds)
{
    DiagScope d;
    uint8_t bit = 2;
    int32_t out = 0;
    int64_t produced = 0;
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindBit, 0, &bit, 1, kBaseKindInteger, 0, &out, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_INVALID_CAST);
    uint16_t us = 65535;
    int64_t wide = 0;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindUSmallInt, 0, &us, 2, kBaseKindBigInt, 0, &wide, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(wide, 65535);
    EXPECT_EQ(produced, 8);
    float f = 1.5f;
    float back = 0;
    ASSERT_EQ(baseConvertNumeric(nullptr, kBaseKindReal, 0, &f, 4, kBaseKindReal, 0, &back, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              0);
    EXPECT_EQ(back, 1.5f);
    double big = 1e39;
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindDouble, 0, &big, 8, kBaseKindReal, 0, &back, &produced, 0, 0,
                                 kBaseTruncWarn, kFetch3),
              1);
}

TEST(NumberRange, NegativeFractionIsNoBit)
{
    // A bit holds 0 and 1; any value below 0 is out of its range, even one
    // whose integer part is 0.
    DiagScope d;
    uint8_t bit = 0x5A;
    int64_t produced = -1;
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindText, 106, "-0.5", 4, kBaseKindBit, 0, &bit, &produced, 0, 0,
                                 kBaseTruncWarn, 6),
              1);
    double negative = -0.25;
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindDouble, 0, &negative, 8, kBaseKindBit, 0, &bit, &produced, 0, 0,
                                 kBaseTruncWarn, 6),
              1);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    EXPECT_EQ(d.index(1), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    EXPECT_EQ(bit, 0x5A);
    // A fraction between 0 and 1 is cut to 0 with 01S07; -0 is 0.
    DiagScope d2;
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindText, 106, "0.5", 3, kBaseKindBit, 0, &bit, &produced, 0, 0,
                                 kBaseTruncWarn, 6),
              0);
    EXPECT_EQ(bit, 0);
    double negZero = -0.0;
    EXPECT_EQ(baseConvertNumeric(nullptr, kBaseKindDouble, 0, &negZero, 8, kBaseKindBit, 0, &bit, &produced, 0, 0,
                                 kBaseTruncWarn, 6),
              0);
    EXPECT_EQ(bit, 0);
}
