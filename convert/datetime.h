// Date, time, timestamp and interval values: conversions between their
// structures, text and numbers, day-number calendar arithmetic and interval
// literals. Used by the SQL-to-C and C-to-SQL conversions.
#pragma once
#include <cstdint>

struct BaseConvertContext;

// Value layouts (those of the ODBC date, time, timestamp and interval
// structures; kind 25 is the time followed by a 32-bit fraction).
struct BaseDate {
    int16_t year;
    uint16_t month;
    uint16_t day;
};
struct BaseTime {
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
};
struct BaseTimestamp {
    int16_t year;
    uint16_t month;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint32_t fraction;  // nanoseconds
};
struct BaseTimeFraction {
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint32_t fraction;
};
struct BaseInterval {
    int32_t code;  // 1 YEAR .. 13 MINUTE TO SECOND
    int32_t sign;  // 1 negative
    union {
        struct {
            uint32_t year;
            uint32_t month;
        } yearMonth;
        struct {
            uint32_t day;
            uint32_t hour;
            uint32_t minute;
            uint32_t second;
            uint32_t fraction;
        } daySecond;
    } fields;
};
static_assert(sizeof(BaseDate) == 6 && sizeof(BaseTime) == 6, "date and time are 6 bytes");
static_assert(sizeof(BaseTimestamp) == 16, "timestamp is 16 bytes");
static_assert(sizeof(BaseTimeFraction) == 12, "time with fraction is 12 bytes");
static_assert(sizeof(BaseInterval) == 28, "interval is 28 bytes");

// Interval codes (the ODBC interval types less 100).
enum BaseIntervalCode : int32_t {
    kBaseIntervalYear = 1,
    kBaseIntervalMonth = 2,
    kBaseIntervalDay = 3,
    kBaseIntervalHour = 4,
    kBaseIntervalMinute = 5,
    kBaseIntervalSecond = 6,
    kBaseIntervalYearToMonth = 7,
    kBaseIntervalDayToHour = 8,
    kBaseIntervalDayToMinute = 9,
    kBaseIntervalDayToSecond = 10,
    kBaseIntervalHourToMinute = 11,
    kBaseIntervalHourToSecond = 12,
    kBaseIntervalMinuteToSecond = 13,
};
// Field mask bits and classes of the interval codes.
constexpr uint32_t kBaseFieldYear = 32;
constexpr uint32_t kBaseFieldMonth = 16;
constexpr uint32_t kBaseFieldDay = 8;
constexpr uint32_t kBaseFieldHour = 4;
constexpr uint32_t kBaseFieldMinute = 2;
constexpr uint32_t kBaseFieldSecond = 1;
constexpr int32_t kBaseIntervalClassYearMonth = 1;
constexpr int32_t kBaseIntervalClassDayTime = 2;

// Characters of date text looked at after trimming.
constexpr int32_t kBaseMaxDateText = 32;
// Room an interval text can need (INTERVAL '-...' DAY(n) TO SECOND(n)).
constexpr int32_t kBaseIntervalTextSize = 128;

// A date, time or timestamp value between text, its structures and numbers
// (a date is its day number, a time its seconds since midnight). 0, or 1
// after posting. ctx gives the settings and the converters (null: the
// defaults).
[[nodiscard]] int16_t baseConvertToChar(const BaseConvertContext* ctx, int32_t srcKind, int64_t srcCodePage,
                                        const void* src, int64_t srcLength, int32_t dstKind, int64_t dstCodePage,
                                        void* dst, int64_t* produced, int64_t maxLength, int16_t fractionDigits,
                                        int32_t truncation, int32_t highestSecond, bool negativeYears,
                                        uint32_t flags) noexcept;

// Text of at least 10 characters (11 with a negative year).
[[nodiscard]] int16_t baseParseDate(const char* text, int64_t length, BaseDate* out, bool negativeYears,
                                    uint32_t flags) noexcept;
[[nodiscard]] int16_t baseParseTime(const char* text, int64_t length, void* out, int32_t targetKind,
                                    int32_t highestSecond, uint32_t flags, bool reportDrop, bool allow24) noexcept;
[[nodiscard]] int16_t baseParseTimestamp(const char* text, int64_t length, BaseTimestamp* out, int32_t highestSecond,
                                         bool negativeYears, uint32_t flags, bool reportDrop, bool allow24) noexcept;
[[nodiscard]] int16_t baseCheckDate(int32_t year, int32_t month, int32_t day, bool negativeYears) noexcept;
int32_t baseLooksLikeTime(const char* text, int64_t length) noexcept;
int32_t baseLooksLikeTimestamp(const char* text, int64_t length) noexcept;
void baseNormalizeHour24(void* value, int32_t kind) noexcept;

int64_t baseDayNumber(int32_t year, int32_t month, int32_t day) noexcept;
void baseDateOfDayNumber(int64_t dayNumber, int32_t* year, int32_t* month, int32_t* day) noexcept;
int64_t baseJulianDayNumber(int32_t year, int32_t month, int32_t day) noexcept;
void baseJulianDateOfDayNumber(int64_t dayNumber, int32_t* year, int32_t* month, int32_t* day) noexcept;

void baseFormat2Digits(char* out, int32_t value) noexcept;
void baseFormat3Digits(char* out, int32_t value) noexcept;
void baseFormat4Digits(char* out, int32_t value) noexcept;
void baseFormatFraction(char* out, int64_t value) noexcept;
void baseFormat2DigitsW(uint16_t* out, int32_t value) noexcept;
void baseFormat3DigitsW(uint16_t* out, int32_t value) noexcept;
void baseFormat4DigitsW(uint16_t* out, int32_t value) noexcept;
void baseFormatFractionW(uint16_t* out, int64_t value) noexcept;
int64_t baseNarrowFromUtf16Le(char* out, int64_t room, const uint8_t* text, int64_t units) noexcept;
int64_t baseNarrowFromUtf16Be(char* out, int64_t room, const uint8_t* text, int64_t units) noexcept;
// 21 bytes from ramAlloc (the caller frees them); null without memory.
char* baseUtcTimestampText(int64_t secondsToAdd) noexcept;

void baseIntervalFields(int32_t code, int32_t* intervalClass, uint32_t* fieldMask) noexcept;
// Skips white space and reads decimal digits: 0, 1 when there is no digit,
// 2 when the value exceeds 4294967295. Posts nothing.
[[nodiscard]] int16_t baseParseUnsigned(const char* text, int64_t length, int64_t* consumed, uint32_t* value) noexcept;
[[nodiscard]] int16_t baseParseInterval(int32_t code, const char* text, int64_t length, BaseInterval* out,
                                        const void* appRecord) noexcept;
// text holds kBaseIntervalTextSize bytes.
[[nodiscard]] int16_t baseFormatInterval(int32_t code, const BaseInterval* interval, char* text, int64_t* produced,
                                         int64_t leadingPrecision, int64_t secondsPrecision) noexcept;
[[nodiscard]] int16_t baseConvertInterval(int32_t codeFrom, const BaseInterval* interval, int32_t codeTo,
                                          BaseInterval* out) noexcept;
