// Local time stamps: the current time as seven 16-bit fields, its text form
// "MM:DD:YYYY:hh:mm:ss.ff" (and "hh:mm:ss.ff"), the parsing of that text
// with range checks, and comparisons of stamps. Used by trace and log lines.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/bosenv.h"

// day, month, year, hour, minute, second, milliseconds, in this order.
using KaTimeStamp = BosLocalTime;

constexpr size_t KATIME_TIME_TEXT_SIZE = 12;      // "hh:mm:ss.ff" and NUL
constexpr size_t KATIME_DATETIME_TEXT_SIZE = 23;  // "MM:DD:YYYY:hh:mm:ss.ff" and NUL

void katimeNow(KaTimeStamp* stamp);
void katimeClear(KaTimeStamp* stamp);
// Both return the text's length (11 and 22); the fraction is the hundreds
// and tens digits of the milliseconds.
size_t katimeFormatTime(char out[KATIME_TIME_TEXT_SIZE]);
size_t katimeFormatDateTime(char out[KATIME_DATETIME_TEXT_SIZE]);
size_t katimeFormatTimeOf(const KaTimeStamp* stamp, char out[KATIME_TIME_TEXT_SIZE]);
size_t katimeFormatDateTimeOf(const KaTimeStamp* stamp, char out[KATIME_DATETIME_TEXT_SIZE]);
// Reads the date-time text back; its two fraction digits land in the
// milliseconds field as they stand. 1 (the stamp cleared) when a separator
// is missing, a piece is not a number or a field is out of range.
[[nodiscard]] int katimeParse(KaTimeStamp* stamp, const char* text);

int katimeEqual(const KaTimeStamp* a, const KaTimeStamp* b);
// Every field of a below (above) the same field of b.
int katimeAllLess(const KaTimeStamp* a, const KaTimeStamp* b);
int katimeAllGreater(const KaTimeStamp* a, const KaTimeStamp* b);
// a later than b by year, month, day and hour (minutes and below ignored).
int katimeLaterToHour(const KaTimeStamp* a, const KaTimeStamp* b);
// a later than b by year, month and day.
int katimeLaterDate(const KaTimeStamp* a, const KaTimeStamp* b);
