// Time stamps: reading the clock, text in both directions, comparisons.
#include "platform/katime.h"

#include <cstdio>
#include <cstring>

namespace {

// The fields in comparison order, most significant first, for the
// date-and-hour comparisons.
int laterBy(const KaTimeStamp* a, const KaTimeStamp* b, int fields)
{
    const uint16_t av[] = {a->year, a->month, a->day, a->hour};
    const uint16_t bv[] = {b->year, b->month, b->day, b->hour};
    for (int i = 0; i < fields; ++i) {
        if (av[i] != bv[i])
            return av[i] > bv[i] ? 1 : 0;
    }
    return 0;
}

template <typename Compare>
int everyField(const KaTimeStamp* a, const KaTimeStamp* b, Compare cmp)
{
    return cmp(a->day, b->day) && cmp(a->month, b->month) && cmp(a->year, b->year) && cmp(a->hour, b->hour) &&
                   cmp(a->minute, b->minute) && cmp(a->second, b->second) && cmp(a->millisecond, b->millisecond)
               ? 1
               : 0;
}

// Decimal digits up to the separator (or the end when sep is 0); at most
// five digits so that the value fits 16 bits' checks.
int readPiece(const char** p, char sep, uint32_t* value)
{
    const char* s = *p;
    uint32_t v = 0;
    int digits = 0;
    while (*s >= '0' && *s <= '9') {
        if (++digits > 5)
            return 1;
        v = v * 10 + uint32_t(*s - '0');
        ++s;
    }
    if (digits == 0 || *s != sep)
        return 1;
    *value = v;
    *p = sep != 0 ? s + 1 : s;
    return 0;
}

}  // namespace

void katimeNow(KaTimeStamp* stamp)
{
    bosGetLocalTime(stamp);
}

void katimeClear(KaTimeStamp* stamp)
{
    memset(stamp, 0, sizeof *stamp);
}

size_t katimeFormatTimeOf(const KaTimeStamp* s, char out[KATIME_TIME_TEXT_SIZE])
{
    int n = snprintf(out, KATIME_TIME_TEXT_SIZE, "%02u:%02u:%02u.%02u", unsigned(s->hour % 100),
                     unsigned(s->minute % 100), unsigned(s->second % 100), unsigned(s->millisecond % 1000 / 10));
    return n > 0 ? size_t(n) : 0;
}

size_t katimeFormatDateTimeOf(const KaTimeStamp* s, char out[KATIME_DATETIME_TEXT_SIZE])
{
    int n = snprintf(out, KATIME_DATETIME_TEXT_SIZE, "%02u:%02u:%04u:%02u:%02u:%02u.%02u", unsigned(s->month % 100),
                     unsigned(s->day % 100), unsigned(s->year % 10000), unsigned(s->hour % 100),
                     unsigned(s->minute % 100), unsigned(s->second % 100), unsigned(s->millisecond % 1000 / 10));
    return n > 0 ? size_t(n) : 0;
}

size_t katimeFormatTime(char out[KATIME_TIME_TEXT_SIZE])
{
    KaTimeStamp now;
    katimeNow(&now);
    return katimeFormatTimeOf(&now, out);
}

size_t katimeFormatDateTime(char out[KATIME_DATETIME_TEXT_SIZE])
{
    KaTimeStamp now;
    katimeNow(&now);
    return katimeFormatDateTimeOf(&now, out);
}

int katimeParse(KaTimeStamp* stamp, const char* text)
{
    katimeClear(stamp);
    if (text == nullptr)
        return 1;
    uint32_t v[7];
    const char seps[] = {':', ':', ':', ':', ':', '.', 0};
    const char* p = text;
    for (int i = 0; i < 7; ++i)
        if (readPiece(&p, seps[i], &v[i]) != 0)
            return 1;
    // month, day, year, hour, minute, second, fraction
    if (v[0] > 12 || v[1] >= 32 || v[2] > 2100 || v[3] > 23 || v[4] >= 60 || v[5] >= 60 || v[6] >= 100)
        return 1;
    stamp->month = uint16_t(v[0]);
    stamp->day = uint16_t(v[1]);
    stamp->year = uint16_t(v[2]);
    stamp->hour = uint16_t(v[3]);
    stamp->minute = uint16_t(v[4]);
    stamp->second = uint16_t(v[5]);
    stamp->millisecond = uint16_t(v[6]);
    return 0;
}

int katimeEqual(const KaTimeStamp* a, const KaTimeStamp* b)
{
    return everyField(a, b, [](uint16_t x, uint16_t y) { return x == y; });
}

int katimeAllLess(const KaTimeStamp* a, const KaTimeStamp* b)
{
    return everyField(a, b, [](uint16_t x, uint16_t y) { return x < y; });
}

int katimeAllGreater(const KaTimeStamp* a, const KaTimeStamp* b)
{
    return everyField(a, b, [](uint16_t x, uint16_t y) { return x > y; });
}

int katimeLaterToHour(const KaTimeStamp* a, const KaTimeStamp* b)
{
    return laterBy(a, b, 4);
}

int katimeLaterDate(const KaTimeStamp* a, const KaTimeStamp* b)
{
    return laterBy(a, b, 3);
}
