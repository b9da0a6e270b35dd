// Time stamps: the text form, parsing it back with its range checks, the
// comparisons, and the clock against the system's own.
#include "platform/katime.h"

#include <ctime>
#include <string>

#include <gtest/gtest.h>

namespace {

KaTimeStamp stamp(uint16_t month, uint16_t day, uint16_t year, uint16_t hour, uint16_t minute, uint16_t second,
                  uint16_t ms)
{
    KaTimeStamp s;
    s.day = day;
    s.month = month;
    s.year = year;
    s.hour = hour;
    s.minute = minute;
    s.second = second;
    s.millisecond = ms;
    return s;
}

TEST(KaTime, FormatsMonthDayYearAndTwoFractionDigits)
{
    KaTimeStamp s = stamp(3, 9, 2025, 14, 5, 7, 468);
    char text[KATIME_DATETIME_TEXT_SIZE + 1];
    text[KATIME_DATETIME_TEXT_SIZE] = '#';  // guard
    EXPECT_EQ(22u, katimeFormatDateTimeOf(&s, text));
    EXPECT_STREQ("03:09:2025:14:05:07.46", text);
    EXPECT_EQ('#', text[KATIME_DATETIME_TEXT_SIZE]);
    char time[KATIME_TIME_TEXT_SIZE];
    EXPECT_EQ(11u, katimeFormatTimeOf(&s, time));
    EXPECT_STREQ("14:05:07.46", time);
}

TEST(KaTime, ParseAcceptsOnlyFieldsInRange)
{
    struct {
        const char* text;
        int result;
    } cases[] = {
        {"12:31:2024:23:59:59.99", 0},
        {"13:01:2024:00:00:00.00", 1},
        {"01:02:2024", 1},
        {"01:32:2024:00:00:00.00", 1},
        {"01:31:2101:00:00:00.00", 1},
        {"01:31:2024:24:00:00.00", 1},
        {"01:31:2024:00:60:00.00", 1},
        {"01:31:2024:00:00:60.00", 1},
        {"01:31:2024:00:00:00.100", 1},
        {"01:31:2024:00:00:00.5x", 1},
        {"01:31:2024::00:00.00", 1},
        {"01:31:2024:00:00:00:00", 1},
        {"", 1},
    };
    for (const auto& c : cases) {
        KaTimeStamp s = stamp(1, 1, 1, 1, 1, 1, 1);
        EXPECT_EQ(c.result, katimeParse(&s, c.text)) << c.text;
        if (c.result != 0) {
            KaTimeStamp zero{};
            EXPECT_EQ(1, katimeEqual(&s, &zero)) << c.text;
        }
    }
    KaTimeStamp s;
    ASSERT_EQ(0, katimeParse(&s, "12:31:2024:23:59:59.99"));
    KaTimeStamp expected = stamp(12, 31, 2024, 23, 59, 59, 99);
    EXPECT_EQ(1, katimeEqual(&expected, &s));
}

TEST(KaTime, FormattedTextReadsBack)
{
    KaTimeStamp s = stamp(7, 4, 2026, 9, 8, 7, 654);
    char text[KATIME_DATETIME_TEXT_SIZE];
    katimeFormatDateTimeOf(&s, text);
    KaTimeStamp back;
    ASSERT_EQ(0, katimeParse(&back, text));
    KaTimeStamp expected = stamp(7, 4, 2026, 9, 8, 7, 65);
    EXPECT_EQ(1, katimeEqual(&expected, &back));
}

TEST(KaTime, Comparisons)
{
    KaTimeStamp a = stamp(5, 10, 2024, 10, 59, 0, 0);
    KaTimeStamp b = stamp(5, 10, 2024, 10, 1, 30, 500);
    EXPECT_EQ(0, katimeLaterToHour(&a, &b));
    EXPECT_EQ(0, katimeLaterToHour(&b, &a));
    KaTimeStamp c = stamp(5, 10, 2024, 11, 0, 0, 0);
    EXPECT_EQ(1, katimeLaterToHour(&c, &a));
    EXPECT_EQ(0, katimeLaterDate(&c, &a));
    KaTimeStamp d = stamp(1, 1, 2025, 0, 0, 0, 0);
    EXPECT_EQ(1, katimeLaterDate(&d, &c));  // the year decides before the month
    EXPECT_EQ(0, katimeLaterDate(&c, &d));

    KaTimeStamp lo = stamp(1, 1, 2000, 1, 1, 1, 1);
    KaTimeStamp hi = stamp(2, 2, 2001, 2, 2, 2, 2);
    EXPECT_EQ(1, katimeAllLess(&lo, &hi));
    EXPECT_EQ(1, katimeAllGreater(&hi, &lo));
    hi.minute = 1;
    EXPECT_EQ(0, katimeAllLess(&lo, &hi));
    EXPECT_EQ(0, katimeAllGreater(&hi, &lo));
    EXPECT_EQ(0, katimeEqual(&lo, &hi));
}

TEST(KaTime, NowIsTheLocalClock)
{
    time_t before = time(nullptr);
    KaTimeStamp now;
    katimeNow(&now);
    time_t after = time(nullptr);
    struct tm lo, hi;
    localtime_r(&before, &lo);
    localtime_r(&after, &hi);
    EXPECT_TRUE(now.year == lo.tm_year + 1900 || now.year == hi.tm_year + 1900);
    EXPECT_TRUE(now.month == lo.tm_mon + 1 || now.month == hi.tm_mon + 1);
    EXPECT_TRUE(now.day == lo.tm_mday || now.day == hi.tm_mday);
    EXPECT_LE(now.millisecond, 999);
    char text[KATIME_DATETIME_TEXT_SIZE];
    EXPECT_EQ(22u, katimeFormatDateTime(text));
    KaTimeStamp parsed;
    EXPECT_EQ(0, katimeParse(&parsed, text));
    char time[KATIME_TIME_TEXT_SIZE];
    EXPECT_EQ(11u, katimeFormatTime(time));
}

}  // namespace
