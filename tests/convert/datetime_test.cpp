// Date, time, timestamp and interval values. Day numbers come from Python's
// date.toordinal() + 1721425.
#include <gtest/gtest.h>

#include <sqltypes.h>

#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "convert/basecvt.h"
#include "convert/datetime.h"
#include "convert/number.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosenv.h"
#include "support/diagscope.h"
#include "support/guarded.h"

using katest::DiagScope;

static_assert(sizeof(BaseDate) == sizeof(SQL_DATE_STRUCT), "date structure");
static_assert(sizeof(BaseTime) == sizeof(SQL_TIME_STRUCT), "time structure");
static_assert(sizeof(BaseTimestamp) == sizeof(SQL_TIMESTAMP_STRUCT), "timestamp structure");
static_assert(offsetof(BaseTimestamp, fraction) == offsetof(SQL_TIMESTAMP_STRUCT, fraction), "timestamp fraction");
static_assert(sizeof(BaseInterval) == sizeof(SQL_INTERVAL_STRUCT), "interval structure");
static_assert(offsetof(BaseInterval, fields) == offsetof(SQL_INTERVAL_STRUCT, intval), "interval fields");
static_assert(static_cast<int>(kBaseIntervalYear) == static_cast<int>(SQL_IS_YEAR) &&
                  static_cast<int>(kBaseIntervalMinuteToSecond) == static_cast<int>(SQL_IS_MINUTE_TO_SECOND) &&
                  static_cast<int>(kBaseIntervalDayToSecond) == static_cast<int>(SQL_IS_DAY_TO_SECOND),
              "interval codes");

namespace {

constexpr int64_t kLatin1 = 4;
constexpr uint32_t kFetch3 = kBaseFlagOdbc3 | kBaseFlagFetch;
constexpr uint32_t kFetch2 = kBaseFlagOdbc2 | kBaseFlagFetch;
constexpr uint32_t kParam3 = kBaseFlagOdbc3 | kBaseFlagParam;
// Room bytes start as this, which no date or time text holds.
constexpr uint8_t kUnwritten = 0xFF;

template <typename T>
int16_t convertText(const std::string& text, int32_t dstKind, T* out, int32_t trunc = kBaseTruncWarn,
                    uint32_t flags = kFetch3, const BaseConvertContext* ctx = nullptr, int16_t scale = 9)
{
    int64_t produced = 0;
    return baseConvertToChar(ctx, kBaseKindText, kLatin1, text.data(), static_cast<int64_t>(text.size()), dstKind, 0,
                             out, &produced, 0, scale, trunc, 59, false, flags);
}

struct TextOut {
    int16_t rc;
    std::string text;
    int64_t produced;
};

TextOut toText(int32_t kind, const void* value, int64_t room, int16_t scale, int32_t trunc = kBaseTruncWarn,
               uint32_t flags = kFetch3, const BaseConvertContext* ctx = nullptr, bool negativeYears = false)
{
    katest::Guarded<> buf(static_cast<size_t>(room), kUnwritten);
    int64_t produced = -1;
    int16_t rc = baseConvertToChar(ctx, kind, 0, value, 16, kBaseKindText, kLatin1, buf.data(), &produced, room, scale,
                                   trunc, 59, negativeYears, flags);
    EXPECT_TRUE(buf.guardsIntact());
    size_t written = 0;
    while (rc == 0 && written < buf.size() && buf.data()[written] != kUnwritten)
        ++written;
    return {rc, buf.str(written), produced};
}

}  // namespace

TEST(DayNumber, MatchesThePythonOrdinal)
{
    struct Case {
        int32_t y, m, d;
        int64_t day;
    } cases[] = {
        {1, 1, 1, 1721426},    {1582, 10, 15, 2299161}, {1900, 2, 28, 2415079},  {1900, 3, 1, 2415080},
        {1970, 1, 1, 2440588}, {2000, 1, 1, 2451545},   {2000, 2, 29, 2451604},  {2000, 3, 1, 2451605},
        {2001, 3, 1, 2451970}, {2024, 12, 31, 2460676}, {9999, 12, 31, 5373484}, {1600, 2, 29, 2305507},
        {1700, 3, 1, 2342032},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(baseDayNumber(c.y, c.m, c.d), c.day) << c.y << "-" << c.m << "-" << c.d;
        int32_t y = 0, m = 0, d = 0;
        baseDateOfDayNumber(c.day, &y, &m, &d);
        EXPECT_EQ(y, c.y);
        EXPECT_EQ(m, c.m);
        EXPECT_EQ(d, c.d);
    }
}

TEST(DayNumber, RoundTripsAndIsContinuous)
{
    int64_t previous = baseDayNumber(1, 1, 1) - 1;
    for (int64_t day = 1721426; day <= 5373484; day += 13) {
        int32_t y = 0, m = 0, d = 0;
        baseDateOfDayNumber(day, &y, &m, &d);
        ASSERT_EQ(baseDayNumber(y, m, d), day);
        ASSERT_GT(day, previous);
        previous = day;
    }
    // Before year 1: 1 BC (-1) is a leap year and ends the day before 1 January 1.
    int32_t y = 0, m = 0, d = 0;
    baseDateOfDayNumber(1721425, &y, &m, &d);
    EXPECT_EQ(y, -1);
    EXPECT_EQ(m, 12);
    EXPECT_EQ(d, 31);
    EXPECT_EQ(baseDayNumber(-1, 3, 1) - baseDayNumber(-1, 2, 28), 2);
    EXPECT_EQ(baseDayNumber(-1, 12, 31), 1721425);
}

TEST(DayNumber, JulianCalendar)
{
    // The Julian 5 October 1582 is the Gregorian 15 October 1582.
    EXPECT_EQ(baseJulianDayNumber(1582, 10, 5), 2299161);
    EXPECT_EQ(baseJulianDayNumber(1, 1, 1), 1721424);
    for (int64_t day = 1721424; day < 2500000; day += 97) {
        int32_t y = 0, m = 0, d = 0;
        baseJulianDateOfDayNumber(day, &y, &m, &d);
        ASSERT_EQ(baseJulianDayNumber(y, m, d), day);
    }
    // Every fourth year is a leap year, 1900 included.
    EXPECT_EQ(baseJulianDayNumber(1900, 3, 1) - baseJulianDayNumber(1900, 2, 28), 2);
}

TEST(CheckDate, Validity)
{
    struct Case {
        int32_t y, m, d;
        bool negativeYears;
        bool ok;
    } cases[] = {
        {1900, 2, 29, false, false}, {2000, 2, 29, false, true},  {2001, 2, 29, false, false},
        {2004, 2, 30, false, false}, {2001, 4, 31, false, false}, {2001, 12, 31, false, true},
        {0, 1, 1, true, false},      {-1, 2, 29, true, true},     {-2, 2, 29, true, false},
        {-5, 2, 29, true, true},     {-1, 1, 1, false, false},    {9999, 12, 31, false, true},
        {10000, 1, 1, false, false}, {2001, 13, 1, false, false}, {2001, 1, 0, false, false},
    };
    for (const Case& c : cases) {
        DiagScope d;
        EXPECT_EQ(baseCheckDate(c.y, c.m, c.d, c.negativeYears) == 0, c.ok) << c.y << "-" << c.m << "-" << c.d;
        if (!c.ok) {
            ASSERT_EQ(d.size(), 1u);
            EXPECT_EQ(d.index(0), MSG_SQLSTATE_INVALID_DATETIME_FORMAT);
        }
    }
}

TEST(Formatting, DigitsAndFractions)
{
    char two[2], three[3], four[4], frac[9];
    baseFormat2Digits(two, 7);
    EXPECT_EQ(std::string(two, 2), "07");
    baseFormat2Digits(two, 100);
    EXPECT_EQ(std::string(two, 2), "**");
    baseFormat3Digits(three, 999);
    EXPECT_EQ(std::string(three, 3), "999");
    baseFormat4Digits(four, 10000);
    EXPECT_EQ(std::string(four, 4), "****");
    baseFormat4Digits(four, 42);
    EXPECT_EQ(std::string(four, 4), "0042");
    baseFormatFraction(frac, 5);
    EXPECT_EQ(std::string(frac, 9), "000000005");
    baseFormatFraction(frac, -3);
    EXPECT_EQ(std::string(frac, 9), "000000000");
    baseFormatFraction(frac, 1000000000);
    EXPECT_EQ(std::string(frac, 9), "*********");
    uint16_t wide[9];
    baseFormatFractionW(wide, 120000000);
    EXPECT_EQ(wide[0], '1');
    EXPECT_EQ(wide[1], '2');
    EXPECT_EQ(wide[8], '0');
    const uint8_t le[] = {'a', 0, 0xE9, 0, 'b', 0};
    char out[4] = {};
    EXPECT_EQ(baseNarrowFromUtf16Le(out, 2, le, 3), 2);
    EXPECT_EQ(std::string(out, 2), "a*");
    const uint8_t be[] = {0, 'x', 0x30, 0x00};
    EXPECT_EQ(baseNarrowFromUtf16Be(out, 4, be, 2), 2);
    EXPECT_EQ(std::string(out, 2), "x*");
}

TEST(Formatting, UtcTimestampText)
{
    char* text = baseUtcTimestampText(0);
    ASSERT_NE(text, nullptr);
    std::string s(text);
    ASSERT_EQ(s.size(), 20u);
    EXPECT_EQ(s[4], '-');
    EXPECT_EQ(s[7], '-');
    EXPECT_EQ(s[10], 'T');
    EXPECT_EQ(s[13], ':');
    EXPECT_EQ(s[16], ':');
    EXPECT_EQ(s[19], 'Z');
    ramFree(text);
}

TEST(ParseText, Dates)
{
    struct Case {
        const char* text;
        bool ok;
        int16_t y;
        uint16_t m, d;
    } cases[] = {
        {"2001-02-03", true, 2001, 2, 3}, {"2001/02/03", true, 2001, 2, 3},  // separators are not examined
        {"2001-2-3xx", false, 0, 0, 0},                                      // the fields are positional
        {"2001-02-30", false, 0, 0, 0},   {"20O1-02-03", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        for (uint32_t flags : {kFetch3, kFetch2}) {
            DiagScope d;
            BaseDate date{};
            int16_t rc = baseParseDate(c.text, 10, &date, false, flags);
            EXPECT_EQ(rc == 0, c.ok) << c.text;
            if (c.ok) {
                EXPECT_EQ(date.year, c.y);
                EXPECT_EQ(date.month, c.m);
                EXPECT_EQ(date.day, c.d);
                EXPECT_EQ(d.size(), 0u);
            } else {
                // Only the replacing diagnostic remains.
                ASSERT_EQ(d.size(), 1u) << c.text;
                EXPECT_EQ(d.index(0),
                          flags == kFetch3 ? MSG_SQLSTATE_INVALID_CAST : MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
            }
        }
    }
    DiagScope d;
    BaseDate date{};
    ASSERT_EQ(baseParseDate("-0044-03-15", 11, &date, true, kFetch3), 0);
    EXPECT_EQ(date.year, -44);
    EXPECT_EQ(baseParseDate("2001-02", 7, &date, false, kFetch3), 1);
}

TEST(ParseText, Shapes)
{
    struct Case {
        const char* text;
        int32_t time;
        int32_t timestamp;
    } cases[] = {
        {"12:30:00", 1, 0},
        {"12:30:00.5", 1, 0},
        {"12:30:00+01:00", 1, 1},  // the shapes overlap; a time is tried first    {"12:30:00 ", 0, 0},
        {"1:30:00", 0, 0},
        {"2001-02-03 04:05:06", 0, 1},
        {"2001-02-03 04:05", 0, 1},
        {"2001-02-03", 0, 0},
        {"2001-02-03 04:05:06.5", 0, 1},
        {"2001-02-03 04-05-06", 0, 0},
        {"2001-02-03 04:05:06x1", 0, 0},
    };
    for (const Case& c : cases) {
        int64_t n = static_cast<int64_t>(std::strlen(c.text));
        EXPECT_EQ(baseLooksLikeTime(c.text, n), c.time) << c.text;
        EXPECT_EQ(baseLooksLikeTimestamp(c.text, n), c.timestamp) << c.text;
    }
}

TEST(ParseText, Times)
{
    struct Case {
        const char* text;
        int32_t kind;
        int32_t highest;
        bool allow24;
        bool ok;
        uint32_t fraction;
        bool warned;
    } cases[] = {
        {"12:00:00.5", kBaseKindTimeFraction, 59, false, true, 500000000, false},
        {"12:30:00.123456789123", kBaseKindTimeFraction, 59, false, true, 123456789, true},
        {"12:30:00.123456789000", kBaseKindTimeFraction, 59, false, true, 123456789, false},
        {"12:30:00.25", kBaseKindTime, 59, false, true, 0, true},
        {"12:30:00.", kBaseKindTimeFraction, 59, false, true, 0, false},
        {"12:30:00.5-05:00", kBaseKindTimeFraction, 59, false, true, 500000000, false},
        {"12:30:00+05:00", kBaseKindTimeFraction, 59, false, true, 0, false},
        {"12:30:00x", kBaseKindTime, 59, false, true, 0, false},
        {"12:30:00x", kBaseKindTimeFraction, 59, false, false, 0, false},
        {"12:30:00.5x", kBaseKindTimeFraction, 59, false, false, 0, false},
        {"24:00:00", kBaseKindTime, 59, true, true, 0, false},
        {"24:00:00", kBaseKindTime, 59, false, false, 0, false},
        {"24:00:01", kBaseKindTime, 59, true, false, 0, false},
        {"24:00:00.1", kBaseKindTimeFraction, 59, true, false, 0, false},
        {"23:59:61", kBaseKindTime, 61, false, true, 0, false},
        {"23:59:60", kBaseKindTime, 59, false, false, 0, false},
        {"12:60:00", kBaseKindTime, 59, false, false, 0, false},
        {"1a:00:00", kBaseKindTime, 59, false, false, 0, false},
    };
    for (const Case& c : cases) {
        DiagScope d;
        BaseTimeFraction t{};
        int16_t rc = baseParseTime(c.text, static_cast<int64_t>(std::strlen(c.text)), &t, c.kind, c.highest, kFetch3,
                                   true, c.allow24);
        EXPECT_EQ(rc == 0, c.ok) << c.text;
        if (!c.ok) {
            ASSERT_EQ(d.size(), 1u) << c.text;
            EXPECT_EQ(d.index(0), MSG_SQLSTATE_INVALID_CAST);
            continue;
        }
        if (c.kind == kBaseKindTimeFraction) {
            EXPECT_EQ(t.fraction, c.fraction) << c.text;
        }
        EXPECT_EQ(d.size(), c.warned ? 1u : 0u) << c.text;
        if (c.warned) {
            EXPECT_EQ(d.index(0), MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
        }
    }
}

TEST(ParseText, Timestamps)
{
    struct Case {
        const char* text;
        bool ok;
        BaseTimestamp ts;
    } cases[] = {
        {"2001-02-03", true, {2001, 2, 3, 0, 0, 0, 0}},
        {"2001-02-03 04:05", true, {2001, 2, 3, 4, 5, 0, 0}},
        {"2001-02-03T04:05:06", true, {2001, 2, 3, 4, 5, 6, 0}},
        {"2001-02-03 04:05:06.120000000", true, {2001, 2, 3, 4, 5, 6, 120000000}},
        {"2001-02-03 04:05:06.7+01:00", true, {2001, 2, 3, 4, 5, 6, 700000000}},
        {"2001-02", false, {}},
        {"2001-02-29 04:05:06", false, {}},
        {"2001-02-03 25:05:06", false, {}},
    };
    for (const Case& c : cases) {
        DiagScope d;
        BaseTimestamp ts{};
        int16_t rc =
            baseParseTimestamp(c.text, static_cast<int64_t>(std::strlen(c.text)), &ts, 59, false, kFetch3, true, false);
        EXPECT_EQ(rc == 0, c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(std::memcmp(&ts, &c.ts, sizeof ts), 0) << c.text;
        } else {
            ASSERT_EQ(d.size(), 1u) << c.text;
        }
    }
    // Text of 30 characters or more for an ODBC 3 parameter is a datetime overflow.
    DiagScope d;
    BaseTimestamp ts{};
    const char* longText = "2001-02-03 04:05:06.1234567890";
    EXPECT_EQ(baseParseTimestamp(longText, 30, &ts, 59, false, kParam3, true, false), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
}

TEST(ConvertToChar, TextIntoStructures)
{
    DiagScope d;
    BaseDate date{};
    ASSERT_EQ(convertText("  2001-02-03  ", kBaseKindDate, &date), 0);
    EXPECT_EQ(date.day, 3);
    EXPECT_EQ(d.size(), 0u);
    // A date out of a timestamp with a time: the time is cut, 01S07.
    ASSERT_EQ(convertText("2001-02-03 10:00:00", kBaseKindDate, &date), 0);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
    d.list.clear();
    // The same for an ODBC 3 parameter is an error.
    EXPECT_EQ(convertText("2001-02-03 10:00:00", kBaseKindDate, &date, kBaseTruncWarn, kParam3), 1);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
    d.list.clear();

    BaseTime t{};
    ASSERT_EQ(convertText("2001-02-03 10:11:12", kBaseKindTime, &t), 0);
    EXPECT_EQ(t.hour, 10);
    EXPECT_EQ(t.second, 12);
    BaseTimeFraction tf{};
    ASSERT_EQ(convertText("10:11:12.25", kBaseKindTimeFraction, &tf), 0);
    EXPECT_EQ(tf.fraction, 250000000u);
    EXPECT_EQ(convertText("hello", kBaseKindTime, &t), 1);
    EXPECT_EQ(convertText("hello", kBaseKindTime, &t, kBaseTruncWarn, kFetch2), 1);
    EXPECT_EQ(d.index(d.size() - 1), MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
    d.list.clear();

    BaseTimestamp ts{};
    ASSERT_EQ(convertText("2001-02-03", kBaseKindTimestamp, &ts), 0);
    EXPECT_EQ(ts.hour, 0);
    // UTF-16 text with blanks around it.
    const uint16_t wide[] = {' ', '2', '0', '0', '1', '-', '0', '2', '-', '0', '3',
                             ' ', '0', '4', ':', '0', '5', ':', '0', '6', ' ', ' '};
    int64_t produced = 0;
    ASSERT_EQ(baseConvertToChar(nullptr, kBaseKindText, 1014, wide, sizeof wide, kBaseKindTimestamp, 0, &ts, &produced,
                                0, 9, kBaseTruncWarn, 59, false, kFetch3),
              0);
    EXPECT_EQ(ts.minute, 5);
    EXPECT_EQ(produced, 16);
}

TEST(ConvertToChar, TimeTextTakesTodaysDate)
{
    BosLocalTime before{}, after{};
    bosGetLocalTime(&before);
    BaseTimestamp ts{};
    DiagScope d;
    ASSERT_EQ(convertText("10:15:00", kBaseKindTimestamp, &ts), 0);
    bosGetLocalTime(&after);
    EXPECT_EQ(ts.hour, 10);
    EXPECT_EQ(ts.minute, 15);
    if (before.day == after.day) {
        EXPECT_EQ(ts.year, before.year);
        EXPECT_EQ(ts.month, before.month);
        EXPECT_EQ(ts.day, before.day);
    }
}

TEST(ConvertToChar, Hour24MovesToTheNextDay)
{
    BaseConvertContext ctx;
    ctx.settings.allowTime24 = true;
    DiagScope d;
    BaseTimestamp ts{};
    ASSERT_EQ(convertText("2001-02-28 24:00:00", kBaseKindTimestamp, &ts, kBaseTruncWarn, kFetch3, &ctx), 0);
    EXPECT_EQ(ts.month, 3);
    EXPECT_EQ(ts.day, 1);
    EXPECT_EQ(ts.hour, 0);
    ctx.settings.allowHH24 = true;
    ASSERT_EQ(convertText("2001-02-28 24:00:00", kBaseKindTimestamp, &ts, kBaseTruncWarn, kFetch3, &ctx), 0);
    EXPECT_EQ(ts.day, 28);
    EXPECT_EQ(ts.hour, 24);
    BaseTime t{24, 0, 0};
    baseNormalizeHour24(&t, kBaseKindTime);
    EXPECT_EQ(t.hour, 0);
}

TEST(ConvertToChar, StructuresIntoStructures)
{
    DiagScope d;
    BaseTimestamp ts{2001, 2, 3, 4, 5, 6, 120000000};
    int64_t produced = 0;
    BaseTimestamp out{};
    // Scale 3 holds .120; scale 1 would lose the 2.
    ASSERT_EQ(baseConvertToChar(nullptr, kBaseKindTimestamp, 0, &ts, 16, kBaseKindTimestamp, 0, &out, &produced, 0, 3,
                                kBaseTruncWarn, 59, false, kFetch3),
              0);
    EXPECT_EQ(baseConvertToChar(nullptr, kBaseKindTimestamp, 0, &ts, 16, kBaseKindTimestamp, 0, &out, &produced, 0, 1,
                                kBaseTruncWarn, 59, false, kFetch3),
              1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
    BaseConvertContext ctx;
    ctx.settings.timestampTruncationBehavior = 1;
    EXPECT_EQ(baseConvertToChar(&ctx, kBaseKindTimestamp, 0, &ts, 16, kBaseKindTimestamp, 0, &out, &produced, 0, 1,
                                kBaseTruncWarn, 59, false, kFetch3),
              0);
    d.list.clear();

    BaseDate date{};
    ASSERT_EQ(baseConvertToChar(nullptr, kBaseKindTimestamp, 0, &ts, 16, kBaseKindDate, 0, &date, &produced, 0, 0,
                                kBaseTruncWarn, 59, false, kFetch3),
              0);
    EXPECT_EQ(date.day, 3);
    EXPECT_EQ(produced, 6);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.index(0), MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
    d.list.clear();

    BaseTimestamp fromDate{};
    ASSERT_EQ(baseConvertToChar(nullptr, kBaseKindDate, 0, &date, 6, kBaseKindTimestamp, 0, &fromDate, &produced, 0, 0,
                                kBaseTruncWarn, 59, false, kFetch3),
              0);
    EXPECT_EQ(fromDate.year, 2001);
    EXPECT_EQ(fromDate.hour, 0);
    BaseTimeFraction tf{};
    ASSERT_EQ(baseConvertToChar(nullptr, kBaseKindTimestamp, 0, &ts, 16, kBaseKindTimeFraction, 0, &tf, &produced, 0, 9,
                                kBaseTruncWarn, 59, false, kFetch3),
              0);
    EXPECT_EQ(tf.fraction, 120000000u);
    EXPECT_EQ(produced, 12);
    // A date as a number: its day number.
    int64_t day = 0;
    ASSERT_EQ(baseConvertToChar(nullptr, kBaseKindDate, 0, &date, 6, kBaseKindBigInt, 0, &day, &produced, 0, 0,
                                kBaseTruncWarn, 59, false, kFetch3),
              0);
    EXPECT_EQ(day, baseDayNumber(2001, 2, 3));
}

TEST(ConvertToChar, StructuresAsText)
{
    BaseTimestamp ts{2001, 2, 3, 4, 5, 6, 120000000};
    struct Case {
        int16_t scale;
        int64_t room;
        const char* text;
        bool cut;
    } cases[] = {
        {3, 40, "2001-02-03 04:05:06.120", false},
        {1, 40, "2001-02-03 04:05:06.12", true},  // digits beyond the scale: all nine, trimmed
        {0, 40, "2001-02-03 04:05:06", true},
        {9, 40, "2001-02-03 04:05:06.120000000", false},
        {9, 22, "2001-02-03 04:05:06.12", false},  // trailing zeros give way to the room
        {9, 20, "2001-02-03 04:05:06.", true},     // zeros removed, then cut to the room
        {3, 19, "2001-02-03 04:05:06", true},
    };
    for (const Case& c : cases) {
        DiagScope d;
        TextOut r = toText(kBaseKindTimestamp, &ts, c.room, c.scale);
        ASSERT_EQ(r.rc, 0) << c.scale << "/" << c.room;
        EXPECT_EQ(r.text, c.text) << c.scale << "/" << c.room;
        EXPECT_EQ(d.size(), c.cut ? 1u : 0u) << c.scale << "/" << c.room;
        if (c.cut) {
            EXPECT_EQ(d.index(0), MSG_SQLSTATE_STRING_RIGHT_TRUNCATED);
        }
    }
    BaseTimestamp big{static_cast<int16_t>(10000), 1, 1, 0, 0, 0, 0};
    DiagScope d;
    EXPECT_EQ(toText(kBaseKindTimestamp, &big, 30, 0).text, "10000-01-01 00:00:00");
    BaseTimestamp bc{-44, 3, 15, 12, 0, 0, 0};
    EXPECT_EQ(toText(kBaseKindTimestamp, &bc, 30, 0, kBaseTruncWarn, kFetch3, nullptr, true).text,
              "-0044-03-15 12:00:00");
    BaseDate date{1999, 12, 31};
    EXPECT_EQ(toText(kBaseKindDate, &date, 10, 0).text, "1999-12-31");
    BaseTime t{23, 59, 58};
    EXPECT_EQ(toText(kBaseKindTime, &t, 8, 0).text, "23:59:58");
    BaseTimeFraction tf{1, 2, 3, 456000000};
    EXPECT_EQ(toText(kBaseKindTimeFraction, &tf, 20, 2).text, "01:02:03.45");
    BaseDate bad{2001, 123, 400};
    EXPECT_EQ(toText(kBaseKindDate, &bad, 10, 0).text, "2001-**-**");
}

TEST(ConvertToChar, RoomBelowTheMinimum)
{
    BaseDate date{1999, 12, 31};
    {
        DiagScope d;
        EXPECT_EQ(toText(kBaseKindDate, &date, 9, 0).rc, 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    }
    {
        DiagScope d;
        EXPECT_EQ(toText(kBaseKindDate, &date, 9, 0, kBaseTruncWarn, kParam3).rc, 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_STRING_TRUNCATION);
    }
    {
        // The room is counted in characters: 18 bytes of UTF-16 hold 9.
        DiagScope d;
        katest::Guarded<> buf(20);
        int64_t produced = 0;
        EXPECT_EQ(baseConvertToChar(nullptr, kBaseKindDate, 0, &date, 6, kBaseKindText, 1014, buf.data(), &produced, 18,
                                    0, kBaseTruncWarn, 59, false, kFetch3),
                  1);
        ASSERT_EQ(baseConvertToChar(nullptr, kBaseKindDate, 0, &date, 6, kBaseKindText, 1014, buf.data(), &produced, 20,
                                    0, kBaseTruncWarn, 59, false, kFetch3),
                  0);
        EXPECT_EQ(produced, 20);
        EXPECT_EQ(std::memcmp(buf.data(),
                              "1\0"
                              "9\0"
                              "9\0"
                              "9\0"
                              "-\0",
                              10),
                  0);
        EXPECT_TRUE(buf.guardsIntact());
    }
}

TEST(ConvertToChar, CutTextReportsFullLengthUnderSilentPolicy)
{
    BaseTimestamp ts{2001, 2, 3, 4, 5, 6, 0};
    DiagScope d;
    TextOut r = toText(kBaseKindTimestamp, &ts, 19, 3, kBaseTruncSilent);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, "2001-02-03 04:05:06");
    EXPECT_EQ(r.produced, 19);
    BaseTimestamp frac{2001, 2, 3, 4, 5, 6, 500000000};
    r = toText(kBaseKindTimestamp, &frac, 20, 3, kBaseTruncSilent);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, "2001-02-03 04:05:06.");
    EXPECT_EQ(r.produced, 21);
    EXPECT_EQ(d.size(), 0u);
}

TEST(Interval, ParseLiterals)
{
    DiagScope d;
    BaseInterval iv{};
    const char* text = "INTERVAL '-3 04:05:06.5' DAY TO SECOND";
    ASSERT_EQ(baseParseInterval(kBaseIntervalDayToSecond, text, static_cast<int64_t>(std::strlen(text)), &iv, nullptr),
              0);
    EXPECT_EQ(iv.code, kBaseIntervalDayToSecond);
    EXPECT_EQ(iv.sign, 1);
    EXPECT_EQ(iv.fields.daySecond.day, 3u);
    EXPECT_EQ(iv.fields.daySecond.hour, 4u);
    EXPECT_EQ(iv.fields.daySecond.minute, 5u);
    EXPECT_EQ(iv.fields.daySecond.second, 6u);
    EXPECT_EQ(iv.fields.daySecond.fraction, 500000000u);
    struct Case {
        int32_t code;
        const char* text;
        uint16_t index;  // 0 when it parses
    } cases[] = {
        {kBaseIntervalDay, "'5'", 0},
        {kBaseIntervalDay, "INTERVAL '5' DAY", 0},
        {kBaseIntervalDay, "5", MSG_SQLSTATE_INVALID_CAST},
        {kBaseIntervalDay, "'5", MSG_SQLSTATE_INVALID_CAST},
        {kBaseIntervalDay, "'x'", MSG_SQLSTATE_INVALID_CAST},
        {kBaseIntervalHour, "'100'", 0},  // a leading field has no upper bound
        {kBaseIntervalDayToHour, "'1 24'", MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW},
        {kBaseIntervalDayToHour, "'1:2'", MSG_SQLSTATE_INVALID_CAST},
        {kBaseIntervalYearToMonth, "'1-11'", 0},
        {kBaseIntervalYearToMonth, "'1-12'", MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW},
        {kBaseIntervalMinuteToSecond, "'5:60'", MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW},
        {kBaseIntervalSecond, "'1.1234567891'", MSG_SQLSTATE_INVALID_CAST},
        {kBaseIntervalSecond, "'1.'", MSG_SQLSTATE_INVALID_CAST},
        {kBaseIntervalDay, "'4294967295'", 0},
        {kBaseIntervalDay, "'4294967296'", MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW},  // fields are 32-bit
        {kBaseIntervalDay, "'18446744073709551617'", MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW},
        {0, "'1'", MSG_SQLSTATE_GENERAL_ERROR},
    };
    for (const Case& c : cases) {
        DiagScope scope;
        BaseInterval out{};
        int16_t rc = baseParseInterval(c.code, c.text, static_cast<int64_t>(std::strlen(c.text)), &out, nullptr);
        EXPECT_EQ(rc == 0, c.index == 0) << c.text;
        if (c.index != 0) {
            ASSERT_EQ(scope.size(), 1u) << c.text;
            EXPECT_EQ(scope.index(0), c.index) << c.text;
        }
    }
}

TEST(Interval, FormatLiterals)
{
    auto make = [](int32_t code, int32_t sign, uint32_t a, uint32_t b = 0, uint32_t c = 0, uint32_t e = 0,
                   uint32_t f = 0) {
        BaseInterval iv{};
        iv.code = code;
        iv.sign = sign;
        if (code == kBaseIntervalYear || code == kBaseIntervalMonth || code == kBaseIntervalYearToMonth) {
            iv.fields.yearMonth.year = a;
            iv.fields.yearMonth.month = b;
        } else {
            iv.fields.daySecond.day = a;
            iv.fields.daySecond.hour = b;
            iv.fields.daySecond.minute = c;
            iv.fields.daySecond.second = e;
            iv.fields.daySecond.fraction = f;
        }
        return iv;
    };
    struct Case {
        BaseInterval iv;
        int64_t size, scale;
        const char* text;
    } cases[] = {
        {make(kBaseIntervalDayToSecond, 1, 3, 4, 5, 6, 500000000), 16, 6,
         "INTERVAL '-3 04:05:06.500000' DAY(0) TO SECOND(6)"},
        {make(kBaseIntervalDayToSecond, 0, 3, 4, 5, 6, 0), 12, 0, "INTERVAL '3 04:05:06.' DAY(3) TO SECOND(0)"},
        {make(kBaseIntervalYearToMonth, 0, 12, 3), 5, 0, "INTERVAL '12-03' YEAR(2) TO MONTH"},
        {make(kBaseIntervalMonth, 0, 0, 27), 2, 0, "INTERVAL '27' MONTH(2)"},
        {make(kBaseIntervalHour, 0, 0, 26), 4, 0, "INTERVAL '26' HOUR(4)"},
        {make(kBaseIntervalSecond, 0, 0, 0, 0, 75, 250000000), 6, 2, "INTERVAL '75.25' SECOND(6,2)"},
        {make(kBaseIntervalMinuteToSecond, 0, 0, 0, 7, 8, 0), 9, 3, "INTERVAL '7:08.000' MINUTE(2) TO SECOND(3)"},
        {make(kBaseIntervalHourToMinute, 1, 0, 1, 2), 5, 0, "INTERVAL '-1:02' HOUR(2) TO MINUTE"},
    };
    for (const Case& c : cases) {
        DiagScope d;
        char text[kBaseIntervalTextSize];
        int64_t produced = 0;
        int16_t rc = baseFormatInterval(c.iv.code, &c.iv, text, &produced, c.size, c.scale);
        if (std::strcmp(c.text, "INTERVAL '-3 04:05:06.500000' DAY(0) TO SECOND(6)") == 0) {
            // DAY(16 - 10 - 6) is 0, too small for the day 3.
            EXPECT_EQ(rc, 1);
            ASSERT_EQ(d.size(), 1u);
            EXPECT_EQ(d.index(0), MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW);
            continue;
        }
        ASSERT_EQ(rc, 0) << c.text;
        EXPECT_EQ(std::string(text, static_cast<size_t>(produced)), c.text);
    }
    BaseInterval iv = make(kBaseIntervalDayToSecond, 0, 1, 2, 3, 4, 123000000);
    char text[kBaseIntervalTextSize];
    int64_t produced = 0;
    DiagScope d;
    EXPECT_EQ(baseFormatInterval(iv.code, &iv, text, &produced, 20, 2), 1);  // .123 into 2 digits
    EXPECT_EQ(baseFormatInterval(iv.code, &iv, text, &produced, 20, -1), 1);
    iv.fields.daySecond.hour = 24;
    EXPECT_EQ(baseFormatInterval(iv.code, &iv, text, &produced, 30, 3), 1);
    EXPECT_EQ(baseFormatInterval(14, &iv, text, &produced, 30, 3), 1);
    EXPECT_EQ(d.index(d.size() - 1), MSG_SQLSTATE_GENERAL_ERROR);
}

TEST(Interval, Conversion)
{
    BaseInterval dh{};
    dh.code = kBaseIntervalDayToHour;
    dh.fields.daySecond.day = 1;
    dh.fields.daySecond.hour = 2;
    BaseInterval out{};
    {
        DiagScope d;
        ASSERT_EQ(baseConvertInterval(dh.code, &dh, kBaseIntervalHour, &out), 0);
        EXPECT_EQ(out.code, kBaseIntervalHour);
        EXPECT_EQ(out.fields.daySecond.hour, 26u);
        EXPECT_EQ(d.size(), 0u);
    }
    {
        DiagScope d;
        ASSERT_EQ(baseConvertInterval(dh.code, &dh, kBaseIntervalDay, &out), 0);
        EXPECT_EQ(out.fields.daySecond.day, 1u);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
    }
    {
        DiagScope d;
        BaseInterval s{};
        s.code = kBaseIntervalSecond;
        s.sign = 1;
        s.fields.daySecond.second = 3725;
        s.fields.daySecond.fraction = 5;
        ASSERT_EQ(baseConvertInterval(s.code, &s, kBaseIntervalHourToSecond, &out), 0);
        EXPECT_EQ(out.sign, 1);
        EXPECT_EQ(out.fields.daySecond.hour, 1u);
        EXPECT_EQ(out.fields.daySecond.minute, 2u);
        EXPECT_EQ(out.fields.daySecond.second, 5u);
        EXPECT_EQ(out.fields.daySecond.fraction, 5u);
        EXPECT_EQ(d.size(), 0u);
        // A quotient beyond 32 bits overflows instead of wrapping.
        BaseInterval days{};
        days.code = kBaseIntervalDay;
        days.fields.daySecond.day = 4294967295u;
        EXPECT_EQ(baseConvertInterval(days.code, &days, kBaseIntervalMinute, &out), 1);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d.index(0), MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW);
    }
    {
        DiagScope d;
        BaseInterval ym{};
        ym.code = kBaseIntervalYearToMonth;
        ym.fields.yearMonth.year = 2;
        ym.fields.yearMonth.month = 5;
        ASSERT_EQ(baseConvertInterval(ym.code, &ym, kBaseIntervalMonth, &out), 0);
        EXPECT_EQ(out.fields.yearMonth.month, 29u);
        // Classes do not mix, and that fails without a diagnostic.
        EXPECT_EQ(baseConvertInterval(ym.code, &ym, kBaseIntervalDay, &out), 1);
        EXPECT_EQ(d.size(), 0u);
    }
    int32_t cls = 0;
    uint32_t mask = 0;
    baseIntervalFields(kBaseIntervalDayToMinute, &cls, &mask);
    EXPECT_EQ(cls, kBaseIntervalClassDayTime);
    EXPECT_EQ(mask, 14u);
    baseIntervalFields(kBaseIntervalYearToMonth, &cls, &mask);
    EXPECT_EQ(cls, kBaseIntervalClassYearMonth);
    EXPECT_EQ(mask, 48u);
}

TEST(Interval, ParseUnsigned)
{
    uint32_t v = 0;
    int64_t used = 0;
    EXPECT_EQ(baseParseUnsigned("  42x", 5, &used, &v), 0);
    EXPECT_EQ(v, 42u);
    EXPECT_EQ(used, 4);
    EXPECT_EQ(baseParseUnsigned("  x", 3, &used, &v), 1);
    EXPECT_EQ(baseParseUnsigned("4294967295", 10, &used, &v), 0);
    EXPECT_EQ(v, 4294967295u);
    EXPECT_EQ(baseParseUnsigned("4294967296", 10, &used, &v), 2);
}
