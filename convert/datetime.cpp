// Date, time, timestamp and interval values: calendar arithmetic,
// conversions between structures, text and numbers, and interval literals.
#include "convert/datetime.h"

#include <cctype>
#include <cstring>
#include <ctime>

#include "convert/basecvt.h"
#include "convert/basediag.h"
#include "convert/number.h"
#include "convert/textcvt.h"
#include "foundation/dbcs.h"
#include "foundation/kaencode.h"
#include "foundation/kaerror.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosenv.h"

namespace {

// Day number of 1 January 1970 (Julian day numbering).
constexpr int64_t kDayNumber1970 = 2440588;

// Days before month m (1-12) in a year, less 30 (m - 1), plus one from March on.
constexpr int32_t kMonthTable[13] = {0, 1, 0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6};

struct Settings {
    uint32_t timestampTruncationBehavior;
    uint32_t allowHH24;
    uint32_t allowTime24;
};

Settings settingsOf(const BaseConvertContext* ctx) noexcept
{
    Settings s{0, 0, 0};
    if (ctx != nullptr) {
        s.timestampTruncationBehavior = ctx->settings.timestampTruncationBehavior;
        s.allowHH24 = ctx->settings.allowHH24 ? 1 : 0;
        s.allowTime24 = ctx->settings.allowTime24 ? 1 : 0;
    }
    return s;
}

bool odbc3(uint32_t flags) noexcept
{
    return (flags & kBaseFlagOdbc3) != 0;
}

bool odbc3Param(uint32_t flags) noexcept
{
    return (flags & kBaseFlagOdbc3) != 0 && (flags & kBaseFlagParam) != 0;
}

// A bad date, time or timestamp text: 22018 for ODBC 3, 22008 for ODBC 2.
int16_t errBadText(uint32_t flags) noexcept
{
    baseCvtPostError(odbc3(flags) ? MSG_SQLSTATE_INVALID_CAST : MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
    return 1;
}

// The step that failed posted its own diagnostic; the caller sees this one.
int16_t replaceWithBadText(KaErrorList* list, size_t before, uint32_t flags) noexcept
{
    if (list != nullptr)
        while (list->recordCount() > before)
            list->discardLast();
    return errBadText(flags);
}

size_t countOf(KaErrorList* list) noexcept
{
    return list != nullptr ? list->recordCount() : 0;
}

bool leapYear(int64_t y) noexcept
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int64_t floorDiv(int64_t a, int64_t b) noexcept
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// Days from 1970-01-01 of a proleptic Gregorian date in astronomical years.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) noexcept
{
    y -= m <= 2 ? 1 : 0;
    int64_t era = floorDiv(y, 400);
    int64_t yoe = y - era * 400;
    int64_t mp = (m + 9) % 12;
    int64_t doy = (153 * mp + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d) noexcept
{
    z += 719468;
    int64_t era = floorDiv(z, 146097);
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

void todayLocal(int32_t* y, int32_t* m, int32_t* d) noexcept
{
    BosLocalTime t{};
    bosGetLocalTime(&t);
    *y = t.year;
    *m = t.month;
    *d = t.day;
}

// A two-character field read by the counted text-to-number routine.
int16_t parseField(const char* text, size_t n, uint32_t* value) noexcept
{
    return static_cast<int16_t>(textToU32N(text, n, value));
}

template <typename T>
T load(const void* p) noexcept
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void store(void* p, T v) noexcept
{
    std::memcpy(p, &v, sizeof v);
}

bool isTimeKind(int32_t kind) noexcept
{
    return kind == kBaseKindTime || kind == kBaseKindTimeFraction;
}

bool isDateTimeKind(int32_t kind) noexcept
{
    return kind == kBaseKindDate || kind == kBaseKindTimestamp || isTimeKind(kind);
}

}  // namespace

// ---- Calendar ----------------------------------------------------------------

int64_t baseDayNumber(int32_t year, int32_t month, int32_t day) noexcept
{
    if (year >= 1) {
        int64_t c = year - 1;
        int64_t k = month - 1;
        if (k < 0 || k > 12)
            k = 0;
        int64_t base = (!leapYear(year) && month > 2) ? 1721424 : 1721425;
        return base + 365 * c + c / 4 - c / 100 + c / 400 + 30 * k + kMonthTable[k] + day;
    }
    // Years before 1 count 1 BC as -1: its astronomical number is year + 1.
    return daysFromCivil(year + 1, month, day) + kDayNumber1970;
}

void baseDateOfDayNumber(int64_t dayNumber, int32_t* year, int32_t* month, int32_t* day) noexcept
{
    int64_t y = 0, m = 0, d = 0;
    civilFromDays(dayNumber - kDayNumber1970, &y, &m, &d);
    if (y <= 0)
        --y;  // astronomical year 0 is 1 BC, written -1
    *year = static_cast<int32_t>(y);
    *month = static_cast<int32_t>(m);
    *day = static_cast<int32_t>(d);
}

int64_t baseJulianDayNumber(int32_t year, int32_t month, int32_t day) noexcept
{
    int64_t y = year < 0 ? year + 1 : year;
    int64_t a = (14 - month) / 12;
    int64_t yy = y + 4800 - a;
    int64_t mm = month + 12 * a - 3;
    return day + (153 * mm + 2) / 5 + 365 * yy + floorDiv(yy, 4) - 32083;
}

void baseJulianDateOfDayNumber(int64_t dayNumber, int32_t* year, int32_t* month, int32_t* day) noexcept
{
    int64_t c = dayNumber + 32082;
    int64_t d = floorDiv(4 * c + 3, 1461);
    int64_t e = c - floorDiv(1461 * d, 4);
    int64_t m = (5 * e + 2) / 153;
    *day = static_cast<int32_t>(e - (153 * m + 2) / 5 + 1);
    *month = static_cast<int32_t>(m + 3 - 12 * (m / 10));
    int64_t y = d - 4800 + m / 10;
    if (y <= 0)
        --y;
    *year = static_cast<int32_t>(y);
}

int16_t baseCheckDate(int32_t year, int32_t month, int32_t day, bool negativeYears) noexcept
{
    bool yearOk = negativeYears ? (year >= -9999 && year <= 9999 && year != 0) : (year >= 1 && year <= 9999);
    bool ok = yearOk && month >= 1 && month <= 12 && day >= 1 && day <= 31;
    if (ok && day == 31 && (month == 4 || month == 6 || month == 9 || month == 11))
        ok = false;
    if (ok && month == 2) {
        int64_t y = year < 0 ? 399 - int64_t{year} : year;
        if (day > 29 || (day == 29 && !leapYear(y)))
            ok = false;
    }
    if (ok)
        return 0;
    baseCvtPostError(MSG_SQLSTATE_INVALID_DATETIME_FORMAT);
    return 1;
}

// ---- Digits ------------------------------------------------------------------

namespace {

template <typename T>
void formatDigits(T* out, int64_t value, int width) noexcept
{
    int64_t limit = 1;
    for (int i = 0; i < width; ++i)
        limit *= 10;
    if (value < 0 || value >= limit) {
        for (int i = 0; i < width; ++i)
            out[i] = '*';
        return;
    }
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<T>('0' + value % 10);
        value /= 10;
    }
}

template <typename T>
void formatFraction(T* out, int64_t value) noexcept
{
    if (value <= 0) {
        for (int i = 0; i < 9; ++i)
            out[i] = '0';
        return;
    }
    formatDigits(out, value, 9);
}

}  // namespace

void baseFormat2Digits(char* out, int32_t value) noexcept
{
    formatDigits(out, value, 2);
}
void baseFormat3Digits(char* out, int32_t value) noexcept
{
    formatDigits(out, value, 3);
}
void baseFormat4Digits(char* out, int32_t value) noexcept
{
    formatDigits(out, value, 4);
}
void baseFormatFraction(char* out, int64_t value) noexcept
{
    formatFraction(out, value);
}
void baseFormat2DigitsW(uint16_t* out, int32_t value) noexcept
{
    formatDigits(out, value, 2);
}
void baseFormat3DigitsW(uint16_t* out, int32_t value) noexcept
{
    formatDigits(out, value, 3);
}
void baseFormat4DigitsW(uint16_t* out, int32_t value) noexcept
{
    formatDigits(out, value, 4);
}
void baseFormatFractionW(uint16_t* out, int64_t value) noexcept
{
    formatFraction(out, value);
}

int64_t baseNarrowFromUtf16Le(char* out, int64_t room, const uint8_t* text, int64_t units) noexcept
{
    int64_t n = room < units ? room : units;
    for (int64_t i = 0; i < n; ++i) {
        uint16_t u = static_cast<uint16_t>(text[2 * i] | (text[2 * i + 1] << 8));
        out[i] = u < 128 ? static_cast<char>(u) : '*';
    }
    return n < 0 ? 0 : n;
}

int64_t baseNarrowFromUtf16Be(char* out, int64_t room, const uint8_t* text, int64_t units) noexcept
{
    int64_t n = room < units ? room : units;
    for (int64_t i = 0; i < n; ++i) {
        uint16_t u = static_cast<uint16_t>((text[2 * i] << 8) | text[2 * i + 1]);
        out[i] = u < 128 ? static_cast<char>(u) : '*';
    }
    return n < 0 ? 0 : n;
}

char* baseUtcTimestampText(int64_t secondsToAdd) noexcept
{
    constexpr size_t kSize = 21;
    auto* out = static_cast<char*>(ramAlloc(kSize));
    if (out == nullptr)
        return nullptr;
    std::time_t now = std::time(nullptr) + static_cast<std::time_t>(secondsToAdd);
    std::tm tm{};
    gmtime_r(&now, &tm);
    formatDigits(out, tm.tm_year + 1900, 4);
    out[4] = '-';
    formatDigits(out + 5, tm.tm_mon + 1, 2);
    out[7] = '-';
    formatDigits(out + 8, tm.tm_mday, 2);
    out[10] = 'T';
    formatDigits(out + 11, tm.tm_hour, 2);
    out[13] = ':';
    formatDigits(out + 14, tm.tm_min, 2);
    out[16] = ':';
    formatDigits(out + 17, tm.tm_sec, 2);
    out[19] = 'Z';
    out[20] = 0;
    return out;
}

// ---- Parsing -----------------------------------------------------------------

int16_t baseParseDate(const char* text, int64_t length, BaseDate* out, bool negativeYears, uint32_t flags) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    size_t before = countOf(list);
    // A negative year is written with its sign in front of four digits.
    int64_t shift = (negativeYears && length > 0 && text[0] == '-') ? 1 : 0;
    if (length < 10 + shift)
        return errBadText(flags);
    uint32_t y = 0, m = 0, d = 0;
    if (parseField(text + shift, 4, &y) != 0 || parseField(text + shift + 5, 2, &m) != 0 ||
        parseField(text + shift + 8, 2, &d) != 0)
        return replaceWithBadText(list, before, flags);
    int32_t year = shift != 0 ? -static_cast<int32_t>(y) : static_cast<int32_t>(y);
    if (baseCheckDate(year, static_cast<int32_t>(m), static_cast<int32_t>(d), negativeYears) != 0)
        return replaceWithBadText(list, before, flags);
    out->year = static_cast<int16_t>(year);
    out->month = static_cast<uint16_t>(m);
    out->day = static_cast<uint16_t>(d);
    return 0;
}

int32_t baseLooksLikeTime(const char* text, int64_t length) noexcept
{
    if (length < 8 || text[2] != ':' || text[5] != ':')
        return 0;
    return (length == 8 || text[8] == '-' || text[8] == '.' || text[8] == '+') ? 1 : 0;
}

int32_t baseLooksLikeTimestamp(const char* text, int64_t length) noexcept
{
    if (length <= 10)
        return 0;
    if (length > 16 && (text[13] != ':' || text[16] != ':'))
        return 0;
    if (length >= 20 && text[19] != '-' && text[19] != '.' && text[19] != '+')
        return 0;
    return 1;
}

int16_t baseParseTime(const char* text, int64_t length, void* out, int32_t targetKind, int32_t highestSecond,
                      uint32_t flags, bool reportDrop, bool allow24) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    size_t before = countOf(list);
    if (length < 8)
        return errBadText(flags);
    uint32_t h = 0, m = 0, s = 0;
    if (parseField(text, 2, &h) != 0 || parseField(text + 3, 2, &m) != 0 || parseField(text + 6, 2, &s) != 0)
        return replaceWithBadText(list, before, flags);
    bool is24 = allow24 && h == 24 && m == 0 && s == 0;
    if (!is24 && !(h < 24 && m < 60 && s <= static_cast<uint32_t>(highestSecond)))
        return errBadText(flags);
    uint32_t fraction = 0;
    bool droppedNonZero = false;
    if (length > 8) {
        char c = text[8];
        if (c == '.') {
            int64_t i = 9;
            int counted = 0;
            while (i < length && text[i] >= '0' && text[i] <= '9') {
                if (counted < 9) {
                    fraction = fraction * 10 + static_cast<uint32_t>(text[i] - '0');
                    ++counted;
                } else if (text[i] != '0') {
                    droppedNonZero = true;
                }
                ++i;
            }
            for (int k = counted; k < 9; ++k)
                fraction *= 10;
            if (i < length && text[i] != '-' && text[i] != '+')
                return errBadText(flags);
            if (is24 && (fraction != 0 || droppedNonZero))
                return errBadText(flags);
            bool lost = droppedNonZero || (targetKind == kBaseKindTime && fraction != 0);
            bool tell = odbc3(flags) || ((flags & kBaseFlagOdbc2) != 0 && (flags & kBaseFlagParam) != 0);
            if (lost && reportDrop && tell)
                baseCvtPostWarning(MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
        } else if (c == '-' || c == '+') {
            // an offset from UTC: ignored
        } else if (targetKind == kBaseKindTimeFraction) {
            return errBadText(flags);
        }
    }
    if (targetKind == kBaseKindTimeFraction) {
        store<BaseTimeFraction>(out, BaseTimeFraction{static_cast<uint16_t>(h), static_cast<uint16_t>(m),
                                                      static_cast<uint16_t>(s), fraction});
    } else {
        store<BaseTime>(out, BaseTime{static_cast<uint16_t>(h), static_cast<uint16_t>(m), static_cast<uint16_t>(s)});
    }
    return 0;
}

int16_t baseParseTimestamp(const char* text, int64_t length, BaseTimestamp* out, int32_t highestSecond,
                           bool negativeYears, uint32_t flags, bool reportDrop, bool allow24) noexcept
{
    if (length < 10) {
        baseCvtPostError(odbc3(flags) ? MSG_SQLSTATE_INVALID_CAST : MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
        return 1;
    }
    if (length >= 30 && reportDrop && odbc3Param(flags)) {
        baseCvtPostError(MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
        return 1;
    }
    int64_t shift = (negativeYears && text[0] == '-') ? 1 : 0;
    BaseDate date{};
    if (baseParseDate(text, length, &date, negativeYears, flags) != 0)
        return 1;
    const char* t = text + shift;
    int64_t len = length - shift;
    BaseTimeFraction time{0, 0, 0, 0};
    if (len <= 18) {
        // A short time is laid over midnight: 2001-02-03 04:05 has 0 seconds.
        char buf[9] = "00:00:00";
        for (int64_t i = 11; i < len && i < 19; ++i)
            buf[i - 11] = t[i];
        if (baseParseTime(buf, 8, &time, kBaseKindTimeFraction, highestSecond, flags, reportDrop, allow24) != 0)
            return 1;
    } else if (baseParseTime(t + 11, len - 11, &time, kBaseKindTimeFraction, highestSecond, flags, reportDrop,
                             allow24) != 0) {
        return 1;
    }
    *out = BaseTimestamp{date.year, date.month, date.day, time.hour, time.minute, time.second, time.fraction};
    return 0;
}

void baseNormalizeHour24(void* value, int32_t kind) noexcept
{
    if (kind == kBaseKindTime || kind == kBaseKindTimeFraction) {
        auto t = load<BaseTime>(value);
        if (t.hour > 23) {
            t.hour = 0;
            store<BaseTime>(value, t);
        }
    } else if (kind == kBaseKindTimestamp) {
        auto ts = load<BaseTimestamp>(value);
        if (ts.hour > 23) {
            int32_t y = 0, m = 0, d = 0;
            baseDateOfDayNumber(baseDayNumber(ts.year, ts.month, ts.day) + 1, &y, &m, &d);
            ts.year = static_cast<int16_t>(y);
            ts.month = static_cast<uint16_t>(m);
            ts.day = static_cast<uint16_t>(d);
            ts.hour = 0;
            store<BaseTimestamp>(value, ts);
        }
    }
}

// ---- Conversion --------------------------------------------------------------

namespace {

struct Call {
    const BaseConvertContext* ctx;
    Settings s;
    int32_t dstKind;
    int64_t dstCp;
    void* dst;
    int64_t* produced;
    int64_t maxLength;
    int32_t scale;
    int32_t truncation;
    int32_t highestSecond;
    bool negativeYears;
    uint32_t flags;
    bool cut;
};

int16_t errRoom(const Call& c) noexcept
{
    if (odbc3Param(c.flags) && c.dstKind == kBaseKindText)
        baseCvtPostError(MSG_SQLSTATE_STRING_TRUNCATION);
    else
        baseCvtPostError(MSG_SQLSTATE_NUMERIC_OUT_OF_RANGE);
    return 1;
}

int64_t producedSize(int32_t kind) noexcept
{
    switch (kind) {
    case kBaseKindDate:
    case kBaseKindTime: return 6;
    case kBaseKindTimeFraction: return 12;
    default: return 16;
    }
}

// Stores a timestamp value into the target kind, marking what it loses.
int16_t storeFromTimestamp(Call& c, const BaseTimestamp& ts, bool fromTimestamp) noexcept
{
    switch (c.dstKind) {
    case kBaseKindDate:
        if (fromTimestamp && (ts.hour != 0 || ts.minute != 0 || ts.second != 0 || ts.fraction != 0)) {
            if (odbc3Param(c.flags)) {
                baseCvtPostError(MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
                return 1;
            }
            c.cut = true;
        }
        store<BaseDate>(c.dst, BaseDate{ts.year, ts.month, ts.day});
        break;
    case kBaseKindTime:
        if (ts.fraction != 0) {
            if (odbc3Param(c.flags)) {
                baseCvtPostError(MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
                return 1;
            }
            c.cut = true;
        }
        store<BaseTime>(c.dst, BaseTime{ts.hour, ts.minute, ts.second});
        break;
    case kBaseKindTimeFraction:
        store<BaseTimeFraction>(c.dst, BaseTimeFraction{ts.hour, ts.minute, ts.second, ts.fraction});
        break;
    case kBaseKindTimestamp: store<BaseTimestamp>(c.dst, ts); break;
    default: return 1;
    }
    *c.produced = producedSize(c.dstKind);
    return 0;
}

// Text into a date-time structure.
int16_t fromText(Call& c, int64_t srcCp, const void* src, int64_t srcLength) noexcept
{
    char text[kBaseMaxDateText + 1];
    char wide[kBaseMaxDateText * 4 + 1];
    const char* p = nullptr;
    int64_t n = 0;
    if (srcLength < 0)
        srcLength = 0;
    if (srcCp == kCodePageUtf16LE || srcCp == kCodePageUtf16 || srcCp == kCodePageUtf16BE) {
        const auto* b = static_cast<const uint8_t*>(src);
        int64_t units = srcLength / 2;
        bool be = srcCp == kCodePageUtf16BE;
        auto unitAt = [&](int64_t i) -> uint16_t {
            return be ? static_cast<uint16_t>(b[2 * i] << 8 | b[2 * i + 1])
                      : static_cast<uint16_t>(b[2 * i + 1] << 8 | b[2 * i]);
        };
        int64_t first = 0, last = units;
        while (first < last && unitAt(first) < 256 && std::isspace(unitAt(first)))
            ++first;
        while (last > first && unitAt(last - 1) < 256 && std::isspace(unitAt(last - 1)))
            --last;
        if (last - first > kBaseMaxDateText)
            return errBadText(c.flags);
        n = be ? baseNarrowFromUtf16Be(text, kBaseMaxDateText, b + 2 * first, last - first)
               : baseNarrowFromUtf16Le(text, kBaseMaxDateText, b + 2 * first, last - first);
        p = text;
    } else {
        p = static_cast<const char*>(src);
        n = srcLength;
        if (srcCp < 0) {
            int64_t produced = 0;
            int32_t truncated = 0;
            if (baseConvertText(srcCp, src, srcLength, kCodePageUtf8, wide, sizeof wide - 1, &produced, &truncated,
                                baseConvertCache(c.ctx), 1) != 0)
                return 1;
            p = wide;
            n = produced;
        }
        while (n > 0 && std::isspace(static_cast<unsigned char>(*p))) {
            ++p;
            --n;
        }
        while (n > 0 && std::isspace(static_cast<unsigned char>(p[n - 1])))
            --n;
    }
    const bool reportDrop = c.s.timestampTruncationBehavior != 1;
    const bool allow24 = c.s.allowTime24 != 0;
    int64_t dateLen = (c.negativeYears && n > 0 && p[0] == '-') ? 11 : 10;
    BaseTimestamp ts{};
    switch (c.dstKind) {
    case kBaseKindDate: {
        if (n == dateLen) {
            BaseDate d{};
            if (baseParseDate(p, n, &d, c.negativeYears, c.flags) != 0)
                return 1;
            ts = BaseTimestamp{d.year, d.month, d.day, 0, 0, 0, 0};
        } else if (baseParseTimestamp(p, n, &ts, c.highestSecond, c.negativeYears, c.flags, reportDrop, allow24) != 0) {
            return 1;
        }
        return storeFromTimestamp(c, ts, true);
    }
    case kBaseKindTime:
    case kBaseKindTimeFraction: {
        if (baseLooksLikeTime(p, n) != 0) {
            BaseTimeFraction t{};
            if (baseParseTime(p, n, &t, kBaseKindTimeFraction, c.highestSecond, c.flags,
                              reportDrop && c.dstKind == kBaseKindTimeFraction, allow24) != 0)
                return 1;
            if (c.dstKind == kBaseKindTime) {
                // The time structure has no fraction: dropping one is a cut.
                if (t.fraction != 0) {
                    if (odbc3Param(c.flags) && reportDrop) {
                        baseCvtPostError(MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
                        return 1;
                    }
                    c.cut = true;
                }
                t.fraction = 0;
            }
            ts = BaseTimestamp{0, 0, 0, t.hour, t.minute, t.second, t.fraction};
            return storeFromTimestamp(c, ts, false);
        }
        if (baseLooksLikeTimestamp(p, n) != 0) {
            if (baseParseTimestamp(p, n, &ts, c.highestSecond, c.negativeYears, c.flags, reportDrop, allow24) != 0)
                return 1;
            return storeFromTimestamp(c, ts, true);
        }
        return errBadText(c.flags);
    }
    case kBaseKindTimestamp: {
        if (n == dateLen) {
            BaseDate d{};
            if (baseParseDate(p, n, &d, c.negativeYears, c.flags) != 0)
                return 1;
            ts = BaseTimestamp{d.year, d.month, d.day, 0, 0, 0, 0};
        } else if (baseLooksLikeTime(p, n) != 0) {
            // A time alone is read on a fixed date, which today's date then replaces.
            constexpr char kFixedDate[] = "2002-05-15 ";
            constexpr int64_t kFixedLen = sizeof kFixedDate - 1;
            constexpr int64_t kMaxTimeChars = 36;
            char buf[kFixedLen + kMaxTimeChars];
            std::memcpy(buf, kFixedDate, kFixedLen);
            int64_t take = n < kMaxTimeChars ? n : kMaxTimeChars;
            std::memcpy(buf + kFixedLen, p, static_cast<size_t>(take));
            if (baseParseTimestamp(buf, kFixedLen + take, &ts, c.highestSecond, false, c.flags, reportDrop, allow24) !=
                0)
                return 1;
            int32_t y = 0, m = 0, d = 0;
            todayLocal(&y, &m, &d);
            ts.year = static_cast<int16_t>(y);
            ts.month = static_cast<uint16_t>(m);
            ts.day = static_cast<uint16_t>(d);
        } else if (baseParseTimestamp(p, n, &ts, c.highestSecond, c.negativeYears, c.flags, reportDrop, allow24) != 0) {
            return 1;
        }
        return storeFromTimestamp(c, ts, false);
    }
    default: return 1;
    }
}

// A date-time structure into another.
int16_t fromStructure(Call& c, int32_t srcKind, const void* src) noexcept
{
    BaseTimestamp ts{};
    switch (srcKind) {
    case kBaseKindDate: {
        auto d = load<BaseDate>(src);
        ts = BaseTimestamp{d.year, d.month, d.day, 0, 0, 0, 0};
        break;
    }
    case kBaseKindTime:
    case kBaseKindTimeFraction: {
        uint32_t fraction = 0;
        auto t = load<BaseTime>(src);
        if (srcKind == kBaseKindTimeFraction)
            fraction = load<BaseTimeFraction>(src).fraction;
        int32_t y = 0, m = 0, d = 0;
        if (c.dstKind == kBaseKindTimestamp)
            todayLocal(&y, &m, &d);
        ts = BaseTimestamp{static_cast<int16_t>(y),
                           static_cast<uint16_t>(m),
                           static_cast<uint16_t>(d),
                           t.hour,
                           t.minute,
                           t.second,
                           fraction};
        break;
    }
    default: ts = load<BaseTimestamp>(src); break;
    }
    if (srcKind == kBaseKindDate && isTimeKind(c.dstKind))
        return 2;  // not a date-time conversion: numbers
    if (isTimeKind(srcKind) && c.dstKind == kBaseKindDate)
        return 2;
    if (srcKind == kBaseKindTimestamp && c.dstKind == kBaseKindTimestamp) {
        int32_t s = c.scale;
        bool lost = false;
        if (s >= 0 && s <= 8) {
            uint32_t unit = 1;
            for (int32_t i = s; i < 9; ++i)
                unit *= 10;
            lost = ts.fraction % unit != 0;
        } else if (s < 0) {
            lost = ts.second != 0 || ts.fraction != 0 || (s == -4 && ts.minute != 0);
        }
        if (lost && c.s.timestampTruncationBehavior != 1) {
            baseCvtPostError(MSG_SQLSTATE_DATETIME_FIELD_OVERFLOW);
            return 1;
        }
    }
    return storeFromTimestamp(c, ts, srcKind == kBaseKindTimestamp);
}

// Writes the 8-bit text of a date-time value into the target code page.
int16_t writeText(Call& c, const char* text, int64_t len) noexcept
{
    const int64_t unit = baseCodePageUnitWidth(c.dstCp);
    int64_t room = c.maxLength > 0 ? c.maxLength / unit : 0;
    int64_t n = len;
    bool cut = false;
    if (n > room) {
        n = room;
        cut = true;
        bool silent = c.s.timestampTruncationBehavior == 1 && (unit == 1 || room > 18);
        if (!silent)
            c.cut = true;
    }
    auto* out = static_cast<uint8_t*>(c.dst);
    int64_t bytes = 0;
    if (unit == 1) {
        if (c.dstCp < 0) {
            int32_t truncated = 0;
            if (baseConvertText(kCodePageUtf8, text, n, c.dstCp, c.dst, c.maxLength, &bytes, &truncated,
                                baseConvertCache(c.ctx), 0) != 0)
                return 1;
        } else {
            std::memcpy(out, text, static_cast<size_t>(n));
            bytes = n;
        }
    } else {
        bool be = c.dstCp == kCodePageUtf16BE || c.dstCp == kCodePageUtf32BE;
        for (int64_t i = 0; i < n; ++i) {
            uint8_t* u = out + i * unit;
            std::memset(u, 0, static_cast<size_t>(unit));
            u[be ? unit - 1 : 0] = static_cast<uint8_t>(text[i]);
        }
        bytes = n * unit;
    }
    if (cut)
        *c.produced = c.truncation == kBaseTruncSilent ? len * unit : room * unit;
    else
        *c.produced = bytes;
    return 0;
}

int64_t writeDate(char* out, int32_t year, int32_t month, int32_t day, bool fiveDigitYear) noexcept
{
    int64_t pos = 0;
    if (year < 0) {
        out[pos++] = '-';
        baseFormat4Digits(out + pos, -year);
        pos += 4;
    } else if (fiveDigitYear && year == 10000) {
        std::memcpy(out, "10000", 5);
        pos = 5;
    } else {
        baseFormat4Digits(out + pos, year);
        pos += 4;
    }
    out[pos++] = '-';
    baseFormat2Digits(out + pos, month);
    pos += 2;
    out[pos++] = '-';
    baseFormat2Digits(out + pos, day);
    return pos + 2;
}

int64_t writeTime(char* out, int32_t h, int32_t m, int32_t s) noexcept
{
    baseFormat2Digits(out, h);
    out[2] = ':';
    baseFormat2Digits(out + 3, m);
    out[5] = ':';
    baseFormat2Digits(out + 6, s);
    return 8;
}

// A date-time value as text.
int16_t toText(Call& c, int32_t srcKind, const void* src) noexcept
{
    const int64_t unit = baseCodePageUnitWidth(c.dstCp);
    // The minimum room is counted in characters of the target: half a date in
    // UTF-16 is no date.
    int64_t room = c.maxLength > 0 ? c.maxLength / unit : 0;
    char text[64];
    int64_t len = 0;
    int64_t minimum = 0;
    switch (srcKind) {
    case kBaseKindDate: {
        auto d = load<BaseDate>(src);
        len = writeDate(text, d.year, d.month, d.day, false);
        minimum = 10;
        break;
    }
    case kBaseKindTime: {
        auto t = load<BaseTime>(src);
        len = writeTime(text, t.hour, t.minute, t.second);
        minimum = 8;
        break;
    }
    case kBaseKindTimeFraction: {
        auto t = load<BaseTimeFraction>(src);
        len = writeTime(text, t.hour, t.minute, t.second);
        int32_t s = c.scale > 9 ? 9 : c.scale;
        if (s >= 1) {
            char frac[9];
            baseFormatFraction(frac, t.fraction);
            text[len++] = '.';
            std::memcpy(text + len, frac, static_cast<size_t>(s));
            len += s;
        }
        minimum = 8;
        break;
    }
    default: {
        auto ts = load<BaseTimestamp>(src);
        len = writeDate(text, ts.year, ts.month, ts.day, true);
        text[len++] = ' ';
        len += writeTime(text + len, ts.hour, ts.minute, ts.second);
        minimum = 19;
        char frac[9];
        baseFormatFraction(frac, ts.fraction);
        int32_t s = c.scale;
        bool silent = c.s.timestampTruncationBehavior == 1;
        if (s < 1) {
            if (ts.fraction != 0 && !silent)
                c.cut = true;
        } else {
            bool beyond = false;
            for (int32_t i = s; i < 9; ++i)
                if (frac[i] != '0')
                    beyond = true;
            if (s <= 8 && beyond) {
                if (!silent)
                    c.cut = true;
                int32_t keep = 9;
                while (keep > 2 && frac[keep - 1] == '0')
                    --keep;
                text[len++] = '.';
                std::memcpy(text + len, frac, static_cast<size_t>(keep));
                len += keep;
            } else {
                int32_t keep = s > 9 ? 9 : s;
                int64_t dot = len;
                text[len++] = '.';
                std::memcpy(text + len, frac, static_cast<size_t>(keep));
                len += keep;
                while (len > room && len > dot + 1 && text[len - 1] == '0')
                    --len;
                if (len == dot + 1 && len > room)
                    --len;
            }
        }
        break;
    }
    }
    if (room < minimum)
        return errRoom(c);
    return writeText(c, text, len);
}

}  // namespace

int16_t baseConvertToChar(const BaseConvertContext* ctx, int32_t srcKind, int64_t srcCodePage, const void* src,
                          int64_t srcLength, int32_t dstKind, int64_t dstCodePage, void* dst, int64_t* produced,
                          int64_t maxLength, int16_t fractionDigits, int32_t truncation, int32_t highestSecond,
                          bool negativeYears, uint32_t flags) noexcept
{
    Call c{ctx,        settingsOf(ctx), dstKind,       dstCodePage, dst,  produced, maxLength, fractionDigits,
           truncation, highestSecond,   negativeYears, flags,       false};
    int16_t rc = 2;
    if (srcKind == kBaseKindText && isDateTimeKind(dstKind))
        rc = fromText(c, srcCodePage, src, srcLength);
    else if (isDateTimeKind(srcKind) && isDateTimeKind(dstKind))
        rc = fromStructure(c, srcKind, src);
    else if (isDateTimeKind(srcKind) && dstKind == kBaseKindText)
        rc = toText(c, srcKind, src);
    if (rc == 2) {
        // Numbers: a date is its day number, a time its seconds since midnight.
        int32_t numSrc = srcKind == kBaseKindTimeFraction ? kBaseKindTime : srcKind;
        int32_t numDst = dstKind == kBaseKindTimeFraction ? kBaseKindTime : dstKind;
        BaseTimeFraction tf{};
        void* target = dstKind == kBaseKindTimeFraction ? static_cast<void*>(&tf) : dst;
        int64_t len = 0;
        if (baseConvertNumeric(ctx, numSrc, srcCodePage, src, srcLength, numDst, dstCodePage, target, &len, maxLength,
                               fractionDigits, truncation, flags) != 0)
            return 1;
        if (dstKind == kBaseKindTimeFraction) {
            tf.fraction = 0;
            store<BaseTimeFraction>(dst, tf);
            len = 12;
        }
        *produced = len;
        rc = 0;
    }
    if (rc != 0)
        return rc;
    if (c.s.allowHH24 == 0 && (isTimeKind(dstKind) || dstKind == kBaseKindTimestamp))
        baseNormalizeHour24(dst, dstKind);
    if (c.cut && truncation != kBaseTruncSilent) {
        if (truncation == kBaseTruncStrict && odbc3(flags))
            return errRoom(c);
        baseCvtPostWarning(dstKind == kBaseKindText ? MSG_SQLSTATE_STRING_RIGHT_TRUNCATED
                                                    : MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
    }
    return 0;
}

// ---- Intervals ---------------------------------------------------------------

void baseIntervalFields(int32_t code, int32_t* intervalClass, uint32_t* fieldMask) noexcept
{
    static const uint32_t kMasks[14] = {0, 32, 16, 8, 4, 2, 1, 48, 12, 14, 15, 6, 7, 3};
    uint32_t mask = (code >= 1 && code <= 13) ? kMasks[code] : 0;
    *fieldMask = mask;
    *intervalClass = (code == 1 || code == 2 || code == 7) ? kBaseIntervalClassYearMonth
                     : mask != 0                           ? kBaseIntervalClassDayTime
                                                           : 0;
}

int16_t baseParseUnsigned(const char* text, int64_t length, int64_t* consumed, uint32_t* value) noexcept
{
    int64_t i = 0;
    while (i < length && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    int64_t start = i;
    uint64_t v = 0;
    bool overflow = false;
    while (i < length && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > UINT32_MAX) {
            overflow = true;
            v = UINT32_MAX;
        }
        ++i;
    }
    if (i == start)
        return 1;
    if (overflow)
        return 2;
    *value = static_cast<uint32_t>(v);
    if (consumed != nullptr)
        *consumed = i;
    return 0;
}

namespace {

int16_t errInterval() noexcept
{
    baseCvtPostError(MSG_SQLSTATE_INTERVAL_FIELD_OVERFLOW);
    return 1;
}

int16_t errIntervalText() noexcept
{
    baseCvtPostError(MSG_SQLSTATE_INVALID_CAST);
    return 1;
}

}  // namespace

int16_t baseParseInterval(int32_t code, const char* text, int64_t length, BaseInterval* out,
                          const void* appRecord) noexcept
{
    (void)appRecord;
    int32_t cls = 0;
    uint32_t mask = 0;
    baseIntervalFields(code, &cls, &mask);
    if (mask == 0) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    int64_t i = 0;
    // Characters, not bytes, are stepped: a trail byte is never taken for an apostrophe.
    while (i < length && text[i] != '\'') {
        size_t step = KaDbcsCharLen(text + i, KA_TEXT_LOCALE);
        i += step == 0 ? 1 : static_cast<int64_t>(step);
    }
    if (i >= length)
        return errIntervalText();
    ++i;
    BaseInterval r{};
    r.code = code;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        r.sign = text[i] == '-' ? 1 : 0;
        ++i;
    }
    auto number = [&](uint32_t* v) -> int16_t {
        int64_t used = 0;
        int16_t rc = baseParseUnsigned(text + i, length - i, &used, v);
        if (rc == 1)
            return errIntervalText();
        if (rc == 2)
            return errInterval();
        i += used;
        return 0;
    };
    auto expect = [&](char c) -> bool {
        if (i < length && text[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    bool leading = true;
    if (cls == kBaseIntervalClassYearMonth) {
        if ((mask & kBaseFieldYear) != 0) {
            if (number(&r.fields.yearMonth.year) != 0)
                return 1;
            leading = false;
        }
        if ((mask & kBaseFieldMonth) != 0) {
            if (!leading && !expect('-'))
                return errIntervalText();
            if (number(&r.fields.yearMonth.month) != 0)
                return 1;
            if (!leading && r.fields.yearMonth.month > 11)
                return errInterval();
        }
    } else {
        auto& f = r.fields.daySecond;
        if ((mask & kBaseFieldDay) != 0) {
            if (number(&f.day) != 0)
                return 1;
            leading = false;
        }
        if ((mask & kBaseFieldHour) != 0) {
            if (!leading) {
                if (i >= length || !std::isspace(static_cast<unsigned char>(text[i])))
                    return errIntervalText();
            }
            if (number(&f.hour) != 0)
                return 1;
            if (!leading && f.hour > 23)
                return errInterval();
            leading = false;
        }
        if ((mask & kBaseFieldMinute) != 0) {
            if (!leading && !expect(':'))
                return errIntervalText();
            if (number(&f.minute) != 0)
                return 1;
            if (!leading && f.minute >= 60)
                return errInterval();
            leading = false;
        }
        if ((mask & kBaseFieldSecond) != 0) {
            if (!leading && !expect(':'))
                return errIntervalText();
            if (number(&f.second) != 0)
                return 1;
            if (!leading && f.second >= 60)
                return errInterval();
            if (expect('.')) {
                int digits = 0;
                uint32_t fraction = 0;
                while (i < length && text[i] >= '0' && text[i] <= '9') {
                    if (++digits > 9)
                        return errIntervalText();
                    fraction = fraction * 10 + static_cast<uint32_t>(text[i] - '0');
                    ++i;
                }
                if (digits == 0)
                    return errIntervalText();
                for (int k = digits; k < 9; ++k)
                    fraction *= 10;
                f.fraction = fraction;
            }
        }
    }
    while (i < length && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (!expect('\''))
        return errIntervalText();
    *out = r;
    return 0;
}

namespace {

int64_t digitsOf(uint64_t v) noexcept
{
    int64_t n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

struct TextBuf {
    char* p;
    int64_t len;
    int64_t cap;
    void put(const char* s, int64_t n) noexcept
    {
        for (int64_t i = 0; i < n && len < cap; ++i)
            p[len++] = s[i];
    }
    void put(const char* s) noexcept { put(s, static_cast<int64_t>(std::strlen(s))); }
    void number(int64_t v) noexcept
    {
        char tmp[kNumTextCapacity + 1];
        put(tmp, static_cast<int64_t>(i64ToText(tmp, v)));
    }
    void padded(uint32_t v) noexcept
    {
        char tmp[2];
        baseFormat2Digits(tmp, static_cast<int32_t>(v));
        put(tmp, 2);
    }
};

}  // namespace

int16_t baseFormatInterval(int32_t code, const BaseInterval* interval, char* text, int64_t* produced,
                           int64_t leadingPrecision, int64_t secondsPrecision) noexcept
{
    int32_t cls = 0;
    uint32_t mask = 0;
    baseIntervalFields(code, &cls, &mask);
    if (mask == 0) {
        baseCvtPostError(MSG_SQLSTATE_GENERAL_ERROR);
        return 1;
    }
    const int64_t b = leadingPrecision;
    const int64_t s = secondsPrecision;
    if (s < 0)
        return errInterval();
    TextBuf out{text, 0, kBaseIntervalTextSize - 1};
    out.put("INTERVAL '");
    if (interval->sign == 1)
        out.put("-");
    uint64_t leadingValue = 0;
    if (cls == kBaseIntervalClassYearMonth) {
        const auto& f = interval->fields.yearMonth;
        if ((mask & kBaseFieldYear) != 0) {
            leadingValue = f.year;
            out.number(f.year);
            if ((mask & kBaseFieldMonth) != 0) {
                if (f.month > 11)
                    return errInterval();
                out.put("-");
                out.padded(f.month);
            }
        } else {
            leadingValue = f.month;
            out.number(f.month);
        }
    } else {
        const auto& f = interval->fields.daySecond;
        bool leading = true;
        auto field = [&](uint32_t bit, uint32_t v, uint32_t limit, const char* sep) -> bool {
            if ((mask & bit) == 0)
                return true;
            if (leading) {
                leadingValue = v;
                out.number(v);
                leading = false;
                return true;
            }
            if (v > limit)
                return false;
            out.put(sep);
            out.padded(v);
            return true;
        };
        if (!field(kBaseFieldDay, f.day, UINT32_MAX, "") || !field(kBaseFieldHour, f.hour, 23, " ") ||
            !field(kBaseFieldMinute, f.minute, 59, ":") || !field(kBaseFieldSecond, f.second, 59, ":"))
            return errInterval();
        if ((mask & kBaseFieldSecond) != 0) {
            if (f.fraction > 999999999)
                return errInterval();
            char frac[9];
            baseFormatFraction(frac, f.fraction);
            int64_t keep = s > 9 ? 9 : s;
            for (int64_t k = keep; k < 9; ++k)
                if (frac[k] != '0')
                    return errInterval();
            out.put(".");
            out.put(frac, keep);
        }
    }
    out.put("' ");
    int64_t p = b;
    switch (code) {
    case kBaseIntervalYear: out.put("YEAR("); break;
    case kBaseIntervalMonth: out.put("MONTH("); break;
    case kBaseIntervalDay: out.put("DAY("); break;
    case kBaseIntervalHour: out.put("HOUR("); break;
    case kBaseIntervalMinute: out.put("MINUTE("); break;
    case kBaseIntervalSecond: out.put("SECOND("); break;
    case kBaseIntervalYearToMonth:
        p = b - 3;
        out.put("YEAR(");
        break;
    case kBaseIntervalDayToHour:
        p = b - 3;
        out.put("DAY(");
        break;
    case kBaseIntervalDayToMinute:
        p = b - 6;
        out.put("DAY(");
        break;
    case kBaseIntervalDayToSecond:
        p = s == 0 ? b - 9 : b - 10 - s;
        out.put("DAY(");
        break;
    case kBaseIntervalHourToMinute:
        p = b - 3;
        out.put("HOUR(");
        break;
    case kBaseIntervalHourToSecond:
        p = s == 0 ? b - 6 : b - 7 - s;
        out.put("HOUR(");
        break;
    default:
        p = s == 0 ? b - 3 : b - 4 - s;
        out.put("MINUTE(");
        break;
    }
    if (p < digitsOf(leadingValue))
        return errInterval();
    out.number(p);
    if (code == kBaseIntervalSecond) {
        out.put(",");
        out.number(s);
    }
    out.put(")");
    switch (code) {
    case kBaseIntervalYearToMonth: out.put(" TO MONTH"); break;
    case kBaseIntervalDayToHour: out.put(" TO HOUR"); break;
    case kBaseIntervalDayToMinute:
    case kBaseIntervalHourToMinute: out.put(" TO MINUTE"); break;
    case kBaseIntervalDayToSecond:
    case kBaseIntervalHourToSecond:
    case kBaseIntervalMinuteToSecond:
        out.put(" TO SECOND(");
        out.number(s);
        out.put(")");
        break;
    default: break;
    }
    text[out.len] = 0;
    *produced = out.len;
    return 0;
}

int16_t baseConvertInterval(int32_t codeFrom, const BaseInterval* interval, int32_t codeTo, BaseInterval* out) noexcept
{
    int32_t clsFrom = 0, clsTo = 0;
    uint32_t maskFrom = 0, maskTo = 0;
    baseIntervalFields(codeFrom, &clsFrom, &maskFrom);
    baseIntervalFields(codeTo, &clsTo, &maskTo);
    if (clsFrom == 0 || clsFrom != clsTo)
        return 1;
    BaseInterval r{};
    r.code = codeTo;
    r.sign = interval->sign;
    bool remainder = false;
    // Totals are exact integers: 2^32 days in seconds is far below 2^64.
    if (clsFrom == kBaseIntervalClassYearMonth) {
        const auto& f = interval->fields.yearMonth;
        uint64_t months = 0;
        if ((maskFrom & kBaseFieldYear) != 0)
            months += uint64_t{f.year} * 12;
        if ((maskFrom & kBaseFieldMonth) != 0)
            months += f.month;
        if ((maskTo & kBaseFieldYear) != 0) {
            uint64_t years = months / 12;
            if (years > UINT32_MAX)
                return errInterval();
            r.fields.yearMonth.year = static_cast<uint32_t>(years);
            months %= 12;
        }
        if ((maskTo & kBaseFieldMonth) != 0) {
            if (months > UINT32_MAX)
                return errInterval();
            r.fields.yearMonth.month = static_cast<uint32_t>(months);
            months = 0;
        }
        remainder = months != 0;
    } else {
        const auto& f = interval->fields.daySecond;
        uint64_t total = 0;
        if ((maskFrom & kBaseFieldDay) != 0)
            total += uint64_t{f.day} * 86400;
        if ((maskFrom & kBaseFieldHour) != 0)
            total += uint64_t{f.hour} * 3600;
        if ((maskFrom & kBaseFieldMinute) != 0)
            total += uint64_t{f.minute} * 60;
        uint32_t fraction = 0;
        if ((maskFrom & kBaseFieldSecond) != 0) {
            total += f.second;
            fraction = f.fraction;
        }
        struct Part {
            uint32_t bit;
            uint64_t unit;
            uint32_t* field;
        };
        auto& g = r.fields.daySecond;
        const Part parts[4] = {{kBaseFieldDay, 86400, &g.day},
                               {kBaseFieldHour, 3600, &g.hour},
                               {kBaseFieldMinute, 60, &g.minute},
                               {kBaseFieldSecond, 1, &g.second}};
        for (const Part& part : parts) {
            if ((maskTo & part.bit) == 0)
                continue;
            uint64_t q = total / part.unit;
            if (q > UINT32_MAX)
                return errInterval();
            *part.field = static_cast<uint32_t>(q);
            total %= part.unit;
        }
        if ((maskTo & kBaseFieldSecond) != 0)
            g.fraction = fraction;
        else if (fraction != 0)
            remainder = true;
        if (total != 0)
            remainder = true;
    }
    if (remainder)
        baseCvtPostWarning(MSG_SQLSTATE_FRACTIONAL_TRUNCATION);
    *out = r;
    return 0;
}
