// C-to-SQL parameter conversion: the allowed pairs (07006), and one table
// over C type x SQL type x target kind for the rules of each SQL type: text
// cut at the column (22001 / 01004), numbers checked against the column's
// type (22003), dropped fractions (01S07), invalid date and time structures
// (22007 / 22008), binary images of the wrong length, hexadecimal text,
// intervals and GUIDs; parameters described by their descriptor records.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "convert/datetime.h"
#include "convert/paramcvt.h"
#include "kamessages.h"
#include "support/cvtfixture.h"
#include "support/diagscope.h"

using cvttest::bytesOf;
using cvttest::date;
using cvttest::Guarded;
using cvttest::guidValue;
using cvttest::kGuidText;
using cvttest::stamp;
using cvttest::states;
using cvttest::Stmt;
using cvttest::time;
using cvttest::u16le;
using katest::DiagScope;

namespace {

class CToSql : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

bool expectedAllowed(int16_t c, int16_t s)
{
    const std::set<int16_t> charTypes{
        SQL_CHAR, SQL_VARCHAR, SQL_LONGVARCHAR, SQL_WCHAR, SQL_WVARCHAR, SQL_WLONGVARCHAR, -95, -96, -97};
    if (charTypes.count(s) || s == -150)
        return true;
    if (c == SQL_C_CHAR || c == SQL_C_WCHAR || c == SQL_C_BINARY || c == SQL_C_DEFAULT)
        return true;
    const std::set<int16_t> numbersSql{SQL_NUMERIC, SQL_DECIMAL, SQL_INTEGER, SQL_SMALLINT, SQL_FLOAT,
                                       SQL_REAL,    SQL_DOUBLE,  SQL_BIT,     SQL_TINYINT,  SQL_BIGINT};
    const std::set<int16_t> exactSql{SQL_NUMERIC, SQL_DECIMAL, SQL_INTEGER, SQL_SMALLINT, SQL_TINYINT, SQL_BIGINT};
    const std::set<int16_t> single{101, 102, 103, 104, 105, 106};
    const std::set<int16_t> dayTime{103, 104, 105, 106, 108, 109, 110, 111, 112, 113};
    switch (c) {
    case SQL_C_NUMERIC:
    case SQL_C_LONG:
    case SQL_C_SHORT:
    case SQL_C_TINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_UBIGINT:
    case SQL_C_STINYINT:
    case SQL_C_SBIGINT:
    case SQL_C_ULONG:
    case SQL_C_USHORT:
    case SQL_C_SLONG:
    case SQL_C_SSHORT: return numbersSql.count(s) || single.count(s);
    case SQL_C_FLOAT:
    case SQL_C_DOUBLE:
    case SQL_C_BIT: return numbersSql.count(s) != 0;
    case SQL_C_TYPE_DATE: return s == SQL_TYPE_DATE || s == SQL_TYPE_TIMESTAMP;
    case SQL_C_TYPE_TIME: return s == SQL_TYPE_TIME || s == SQL_TYPE_TIMESTAMP;
    case SQL_C_TYPE_TIMESTAMP: return s == SQL_TYPE_DATE || s == SQL_TYPE_TIME || s == SQL_TYPE_TIMESTAMP;
    case SQL_C_INTERVAL_YEAR:
    case SQL_C_INTERVAL_MONTH: return exactSql.count(s) || s == 101 || s == 102 || s == 107;
    case SQL_C_INTERVAL_YEAR_TO_MONTH: return s == 101 || s == 102 || s == 107;
    case SQL_C_GUID: return s == SQL_GUID;
    default:
        if (c >= 103 && c <= 106)
            return exactSql.count(s) || dayTime.count(s);
        if (c >= 108 && c <= 113)
            return dayTime.count(s) != 0;
        return false;
    }
}

SQL_INTERVAL_STRUCT dayInterval(unsigned days)
{
    SQL_INTERVAL_STRUCT v{};
    v.interval_type = SQL_IS_DAY;
    v.intval.day_second.day = days;
    return v;
}

SQL_INTERVAL_STRUCT secondInterval(unsigned seconds, unsigned fraction)
{
    SQL_INTERVAL_STRUCT v{};
    v.interval_type = SQL_IS_SECOND;
    v.intval.day_second.second = seconds;
    v.intval.day_second.fraction = fraction;
    return v;
}

SQL_INTERVAL_STRUCT hourInterval(unsigned hours)
{
    SQL_INTERVAL_STRUCT v{};
    v.interval_type = SQL_IS_HOUR;
    v.intval.day_second.hour = hours;
    return v;
}

SQL_NUMERIC_STRUCT numeric(int precision, int scale, bool positive, uint64_t magnitude)
{
    SQL_NUMERIC_STRUCT v{};
    v.precision = static_cast<SQLCHAR>(precision);
    v.scale = static_cast<SQLSCHAR>(scale);
    v.sign = positive ? 1 : 0;
    std::memcpy(v.val, &magnitude, 8);
    return v;
}

// Kind 12 as the engine stores it.
std::string decimal(int exponent, const char* digits, bool negative = false)
{
    BaseDecimal d{};
    d.exponent = static_cast<int16_t>(exponent);
    d.digitCount = static_cast<uint16_t>(std::strlen(digits));
    d.negative = negative ? 1 : 0;
    std::memcpy(d.digits, digits, d.digitCount);
    return std::string(reinterpret_cast<const char*>(&d), kBaseDecimalHeader + d.digitCount);
}

struct Case {
    const char* name;
    int16_t cType;
    std::string src;
    int16_t sqlType;
    int64_t size;
    int16_t scale;
    int32_t dstKind;
    int64_t dstCp;
    int64_t dstSize;
    int16_t rc;
    std::string expect;
    int64_t produced;
    std::string states;
    bool odbc2 = false;
    bool columnSizeAsCharacter = false;
    bool zeroExcess = false;
};

std::vector<Case> cases()
{
    const int64_t utf8 = kCodePageUtf8;
    const std::string none;
    return {
        // Text into character columns.
        {"text longer than the column", SQL_C_CHAR, "abcdef", SQL_VARCHAR, 4, 0, kBaseKindText, utf8, 20, 1, none, -1,
         "22001"},
        {"text longer than the column, ODBC 2", SQL_C_CHAR, "abcdef", SQL_VARCHAR, 4, 0, kBaseKindText, utf8, 20, 0,
         "abcd", 4, "01004", true},
        {"sizes counted in characters", SQL_C_CHAR, "abcdef", SQL_VARCHAR, 4, 0, kBaseKindText, utf8, 20, 0, "abcdef",
         6, "", false, true},
        {"text longer than the target", SQL_C_CHAR, "abcdef", SQL_VARCHAR, 100, 0, kBaseKindText, utf8, 4, 1, none, -1,
         "22001", false, true},
        {"latin1 into wide column", SQL_C_CHAR, "caf\xc3\xa9", SQL_WVARCHAR, 10, 0, kBaseKindText, kCodePageUtf16LE, 20,
         0, u16le(u"caf\u00e9"), 8, ""},
        {"number into text", SQL_C_SLONG, bytesOf<int32_t>(-5), SQL_VARCHAR, 10, 0, kBaseKindText, utf8, 20, 0, "-5", 2,
         ""},
        {"double into text", SQL_C_DOUBLE, bytesOf<double>(2.5), SQL_VARCHAR, 10, 0, kBaseKindText, utf8, 20, 0, "2.5",
         3, ""},
        {"number wider than the column", SQL_C_SLONG, bytesOf<int32_t>(123456), SQL_VARCHAR, 3, 0, kBaseKindText, utf8,
         20, 1, none, -1, "22001"},
        {"number into wide text", SQL_C_SLONG, bytesOf<int32_t>(42), SQL_WVARCHAR, 10, 0, kBaseKindText,
         kCodePageUtf16LE, 20, 0, u16le(u"42"), 4, ""},
        {"date into wide text", SQL_C_TYPE_DATE, bytesOf(date(2001, 2, 3)), SQL_WVARCHAR, 10, 0, kBaseKindText,
         kCodePageUtf16LE, 40, 0, u16le(u"2001-02-03"), 20, ""},
        {"guid into text", SQL_C_GUID, bytesOf(guidValue()), SQL_VARCHAR, 36, 0, kBaseKindText, utf8, 40, 0, kGuidText,
         36, ""},
        {"interval into text", SQL_C_INTERVAL_DAY, bytesOf(dayInterval(5)), SQL_VARCHAR, 255, 0, kBaseKindText, utf8,
         300, 0, "INTERVAL '5' DAY(255)", 21, ""},
        {"binary bytes as text", SQL_C_BINARY, "xyz", SQL_VARCHAR, 2, 0, kBaseKindText, utf8, 20, 1, none, -1, "22001"},

        // Numbers checked against the column's type.
        {"double into integer", SQL_C_DOUBLE, bytesOf<double>(3.7), SQL_INTEGER, 10, 0, kBaseKindInteger, 0, 4, 0,
         bytesOf<int32_t>(3), 4, ""},
        {"double into integer, ODBC 2", SQL_C_DOUBLE, bytesOf<double>(3.7), SQL_INTEGER, 10, 0, kBaseKindInteger, 0, 4,
         0, bytesOf<int32_t>(3), 4, "01S07", true},
        {"300 into tinyint text", SQL_C_LONG, bytesOf<int32_t>(300), SQL_TINYINT, 3, 0, kBaseKindText, utf8, 20, 1,
         none, -1, "22003"},
        {"text into integer", SQL_C_CHAR, "12", SQL_INTEGER, 10, 0, kBaseKindInteger, 0, 4, 0, bytesOf<int32_t>(12), 4,
         ""},
        {"bad text into integer", SQL_C_CHAR, "x", SQL_INTEGER, 10, 0, kBaseKindInteger, 0, 4, 1, none, -1, "22018"},
        {"wide text into bigint", SQL_C_WCHAR, u16le(u"-42"), SQL_BIGINT, 19, 0, kBaseKindBigInt, 0, 8, 0,
         bytesOf<int64_t>(-42), 8, ""},
        {"bit into integer", SQL_C_BIT, bytesOf<uint8_t>(1), SQL_INTEGER, 10, 0, kBaseKindInteger, 0, 4, 0,
         bytesOf<int32_t>(1), 4, ""},
        {"decimal text", SQL_C_CHAR, "123.45", SQL_DECIMAL, 5, 2, kBaseKindDecimal, 0, 1008, 0, decimal(3, "12345"), 13,
         ""},
        {"decimal of unknown precision", SQL_C_CHAR, "-123.45", SQL_DECIMAL, 0, 2, kBaseKindDecimal, 0, 1008, 0,
         decimal(3, "12345", true), 13, ""},
        {"decimal too wide", SQL_C_CHAR, "123.45", SQL_DECIMAL, 4, 2, kBaseKindDecimal, 0, 1008, 1, none, -1, "22003"},
        {"decimal digits dropped", SQL_C_CHAR, "1.239", SQL_DECIMAL, 10, 2, kBaseKindDecimal, 0, 1008, 1, none, -1,
         "22001"},
        {"decimal digits dropped, ODBC 2", SQL_C_CHAR, "1.239", SQL_DECIMAL, 10, 2, kBaseKindDecimal, 0, 1008, 0,
         decimal(1, "123"), 11, "01S07", true},
        {"numeric structure", SQL_C_NUMERIC, bytesOf(numeric(5, 2, false, 12345)), SQL_DECIMAL, 10, 2, kBaseKindDecimal,
         0, 1008, 0, decimal(3, "12345", true), 13, ""},
        {"numeric into text", SQL_C_NUMERIC, bytesOf(numeric(5, 2, true, 12345)), SQL_NUMERIC, 10, 2, kBaseKindText,
         utf8, 20, 0, "123.45", 6, ""},
        {"numeric into double", SQL_C_NUMERIC, bytesOf(numeric(3, 1, true, 125)), SQL_DOUBLE, 15, 0, kBaseKindDouble, 0,
         8, 0, bytesOf<double>(12.5), 8, ""},

        // Dates and times.
        {"time 25:00:00", SQL_C_TYPE_TIME, bytesOf(time(25, 0, 0)), SQL_TYPE_TIME, 8, 0, kBaseKindTime, 0, 6, 1, none,
         -1, "22007"},
        {"time 25:00:00, ODBC 2", SQL_C_TYPE_TIME, bytesOf(time(25, 0, 0)), SQL_TYPE_TIME, 8, 0, kBaseKindTime, 0, 6, 1,
         none, -1, "22008", true},
        {"time 25:00:00 into varchar", SQL_C_TYPE_TIME, bytesOf(time(25, 0, 0)), SQL_VARCHAR, 20, 0, kBaseKindText,
         utf8, 20, 1, none, -1, "22008"},
        {"30 February", SQL_C_TYPE_DATE, bytesOf(date(2001, 2, 30)), SQL_TYPE_DATE, 10, 0, kBaseKindDate, 0, 6, 1, none,
         -1, "22007"},
        {"30 February into varchar", SQL_C_TYPE_DATE, bytesOf(date(2001, 2, 30)), SQL_VARCHAR, 20, 0, kBaseKindText,
         utf8, 20, 1, none, -1, "22008"},
        {"bad date in a timestamp keeps 22007", SQL_C_TYPE_TIMESTAMP, bytesOf(stamp(2001, 2, 30, 0, 0, 0, 0)),
         SQL_VARCHAR, 30, 0, kBaseKindText, utf8, 40, 1, none, -1, "22007"},
        {"time escape", SQL_C_CHAR, "{t '10:11:12'}", SQL_TYPE_TIME, 8, 0, kBaseKindTime, 0, 6, 0,
         bytesOf(time(10, 11, 12)), 6, ""},
        {"time part of a timestamp text", SQL_C_CHAR, "2001-02-03 10:11:12.5", SQL_TYPE_TIME, 8, 0, kBaseKindTime, 0, 6,
         0, bytesOf(time(10, 11, 12)), 6, ""},
        {"timestamp into text", SQL_C_TYPE_TIMESTAMP, bytesOf(stamp(2001, 2, 3, 4, 5, 6, 120000000)),
         SQL_TYPE_TIMESTAMP, 23, 3, kBaseKindText, utf8, 40, 0, "2001-02-03 04:05:06.120", 23, ""},
        {"timestamp into a small target", SQL_C_TYPE_TIMESTAMP, bytesOf(stamp(2001, 2, 3, 4, 5, 6, 0)),
         SQL_TYPE_TIMESTAMP, 19, 0, kBaseKindText, utf8, 12, 1, none, -1, "22001"},
        {"interval into a small target", SQL_C_INTERVAL_DAY, bytesOf(dayInterval(5)), SQL_VARCHAR, 255, 0,
         kBaseKindText, utf8, 10, 1, none, -1, "22001"},
        {"date into timestamp", SQL_C_TYPE_DATE, bytesOf(date(1999, 12, 31)), SQL_TYPE_TIMESTAMP, 19, 0,
         kBaseKindTimestamp, 0, 16, 0, bytesOf(stamp(1999, 12, 31, 0, 0, 0, 0)), 16, ""},

        // Binary images and hexadecimal text.
        {"3 bytes into integer", SQL_C_BINARY, "\x01\x02\x03", SQL_INTEGER, 10, 0, kBaseKindInteger, 0, 4, 1, none, -1,
         "22003"},
        {"4 bytes into integer", SQL_C_BINARY, bytesOf<int32_t>(99), SQL_INTEGER, 10, 0, kBaseKindText, utf8, 20, 0,
         "99", 2, ""},
        {"hex longer than the column", SQL_C_CHAR, "0A0B", SQL_BINARY, 1, 0, kBaseKindBinary, 0, 10, 1, none, -1,
         "22001"},
        {"hex longer than the column, ODBC 2", SQL_C_CHAR, "0A0B", SQL_BINARY, 1, 0, kBaseKindBinary, 0, 10, 0, "\x0A",
         1, "01004", true},
        {"hex with zero excess", SQL_C_CHAR, "0A00", SQL_BINARY, 1, 0, kBaseKindBinary, 0, 10, 0, "\x0A", 1, "", false,
         false, true},
        {"bad hex digit", SQL_C_CHAR, "0G", SQL_VARBINARY, 10, 0, kBaseKindBinary, 0, 10, 1, none, -1, "22018"},
        {"hex text into hex text", SQL_C_CHAR, "0aff", SQL_VARBINARY, 10, 0, kBaseKindText, utf8, 10, 0, "0AFF", 4, ""},
        {"wide hex into bytes", SQL_C_WCHAR, u16le(u"BEEF"), SQL_VARBINARY, 10, 0, kBaseKindBinary, 0, 10, 0,
         "\xBE\xEF", 2, ""},
        {"bytes into hex text", SQL_C_BINARY, "\x01\xAB", SQL_VARBINARY, 10, 0, kBaseKindText, kCodePageUtf16LE, 20, 0,
         u16le(u"01AB"), 8, ""},
        {"bytes longer than the column", SQL_C_BINARY, "\x01\x02\x03", SQL_VARBINARY, 2, 0, kBaseKindBinary, 0, 10, 1,
         none, -1, "22001"},
        {"bytes cut at the column, ODBC 2", SQL_C_BINARY, "\x01\x02\x03", SQL_VARBINARY, 2, 0, kBaseKindBinary, 0, 10,
         0, "\x01\x02", 2, "01004", true},
        {"zero bytes beyond the column", SQL_C_BINARY, std::string("\x01\x02\x00", 3), SQL_VARBINARY, 2, 0,
         kBaseKindBinary, 0, 10, 0, "\x01\x02", 2, "", false, false, true},

        // Intervals and GUIDs.
        {"hours into day to hour", SQL_C_INTERVAL_HOUR, bytesOf(hourInterval(26)), SQL_INTERVAL_DAY_TO_HOUR, 5, 0,
         kBaseKindText, utf8, 64, 0, "INTERVAL '1 02' DAY(2) TO HOUR", 30, ""},
        {"interval day into integer", SQL_C_INTERVAL_DAY, bytesOf(dayInterval(5)), SQL_INTEGER, 10, 0, kBaseKindInteger,
         0, 4, 0, bytesOf<int32_t>(5), 4, ""},
        {"interval seconds into decimal text", SQL_C_INTERVAL_SECOND, bytesOf(secondInterval(12, 500000000)),
         SQL_DECIMAL, 10, 1, kBaseKindText, utf8, 20, 0, "12.5", 4, ""},
        {"interval structure as binary image", SQL_C_BINARY, bytesOf(dayInterval(4)), SQL_INTERVAL_DAY, 5, 0,
         kBaseKindText, utf8, 40, 0, "INTERVAL '4' DAY(5)", 19, ""},
        {"interval literal text", SQL_C_CHAR, "INTERVAL '3' DAY", SQL_INTERVAL_DAY, 5, 0, kBaseKindText, utf8, 20, 0,
         "3", 1, ""},
        {"guid text into guid", SQL_C_CHAR, kGuidText, SQL_GUID, 36, 0, kBaseKindGuid, 0, 16, 0, bytesOf(guidValue()),
         16, ""},
        {"guid into guid", SQL_C_GUID, bytesOf(guidValue()), SQL_GUID, 36, 0, kBaseKindGuid, 0, 16, 0,
         bytesOf(guidValue()), 16, ""},
        {"guid into guid text", SQL_C_GUID, bytesOf(guidValue()), SQL_GUID, 36, 0, kBaseKindText, utf8, 40, 0,
         kGuidText, 36, ""},
        {"narrow guid text into wide text", SQL_C_CHAR, kGuidText, SQL_GUID, 36, 0, kBaseKindText, kCodePageUtf16LE, 80,
         0, u16le(u"12345678-9ABC-DEF0-0123-456789ABCDEF"), 72, ""},
        {"wide guid text into wide text", SQL_C_WCHAR, u16le(u"12345678-9ABC-DEF0-0123-456789ABCDEF"), SQL_GUID, 36, 0,
         kBaseKindText, kCodePageUtf16LE, 80, 0, u16le(u"12345678-9ABC-DEF0-0123-456789ABCDEF"), 72, ""},
        {"wide guid text into narrow text", SQL_C_WCHAR, u16le(u"12345678-9ABC-DEF0-0123-456789ABCDEF"), SQL_GUID, 36,
         0, kBaseKindText, utf8, 40, 0, kGuidText, 36, ""},
        {"guid text longer than the target", SQL_C_CHAR, kGuidText, SQL_GUID, 36, 0, kBaseKindText, kCodePageUtf16LE,
         40, 1, none, -1, "22001"},
    };
}

}  // namespace

TEST_F(CToSql, AllowedPairsAndRefusals)
{
    const int16_t cTypes[] = {SQL_C_CHAR,
                              SQL_C_WCHAR,
                              SQL_C_BINARY,
                              SQL_C_DEFAULT,
                              SQL_C_NUMERIC,
                              SQL_C_LONG,
                              SQL_C_SHORT,
                              SQL_C_FLOAT,
                              SQL_C_DOUBLE,
                              SQL_C_BIT,
                              SQL_C_TINYINT,
                              SQL_C_STINYINT,
                              SQL_C_UTINYINT,
                              SQL_C_SSHORT,
                              SQL_C_USHORT,
                              SQL_C_SLONG,
                              SQL_C_ULONG,
                              SQL_C_SBIGINT,
                              SQL_C_UBIGINT,
                              SQL_C_TYPE_DATE,
                              SQL_C_TYPE_TIME,
                              SQL_C_TYPE_TIMESTAMP,
                              101,
                              102,
                              103,
                              104,
                              105,
                              106,
                              107,
                              108,
                              109,
                              110,
                              111,
                              112,
                              113,
                              SQL_C_GUID};
    const int16_t sqlTypes[] = {SQL_CHAR,
                                SQL_VARCHAR,
                                SQL_LONGVARCHAR,
                                SQL_WCHAR,
                                SQL_WVARCHAR,
                                SQL_WLONGVARCHAR,
                                SQL_DECIMAL,
                                SQL_NUMERIC,
                                SQL_SMALLINT,
                                SQL_INTEGER,
                                SQL_REAL,
                                SQL_FLOAT,
                                SQL_DOUBLE,
                                SQL_BIT,
                                SQL_TINYINT,
                                SQL_BIGINT,
                                SQL_BINARY,
                                SQL_VARBINARY,
                                SQL_LONGVARBINARY,
                                SQL_TYPE_DATE,
                                SQL_TYPE_TIME,
                                SQL_TYPE_TIMESTAMP,
                                SQL_INTERVAL_YEAR,
                                SQL_INTERVAL_MONTH,
                                SQL_INTERVAL_DAY,
                                SQL_INTERVAL_HOUR,
                                SQL_INTERVAL_MINUTE,
                                SQL_INTERVAL_SECOND,
                                SQL_INTERVAL_YEAR_TO_MONTH,
                                SQL_INTERVAL_DAY_TO_HOUR,
                                SQL_INTERVAL_DAY_TO_MINUTE,
                                SQL_INTERVAL_DAY_TO_SECOND,
                                SQL_INTERVAL_HOUR_TO_MINUTE,
                                SQL_INTERVAL_HOUR_TO_SECOND,
                                SQL_INTERVAL_MINUTE_TO_SECOND,
                                SQL_GUID,
                                -95,
                                -96,
                                -97,
                                -150};
    for (int16_t c : cTypes) {
        for (int16_t s : sqlTypes) {
            DiagScope d;
            bool allowed = expectedAllowed(c, s);
            EXPECT_EQ(baseCheckCToSql(2, c, s), allowed ? 0 : 1) << "C " << c << " SQL " << s;
            if (!allowed) {
                ASSERT_EQ(d.size(), 1u);
                EXPECT_EQ(katest::sqlstate(d.at(0)), "07006");
                EXPECT_EQ(d.at(0)->nativeCode, MSG_C_TO_SQL_REFUSED);
            }
        }
    }
    DiagScope d;
    EXPECT_EQ(baseCheckCToSql(2, SQL_C_GUID, SQL_INTEGER), 1);
    EXPECT_EQ(d.text(0), "Parameter 2: C type -11 cannot be converted to SQL type 4");
}

namespace {

// A valid application value of C type c for a parameter of SQL type s.
std::string appValueFor(int16_t c, int16_t s)
{
    const int sCode = s >= 101 && s <= 113 ? s - 100 : 0;
    const int cCode = c >= 101 && c <= 113 ? c - 100 : 0;
    static const char* literals[] = {"",           "'1'",    "'1'",    "'1'",       "'1'",          "'1'",
                                     "'1'",        "'1-02'", "'1 02'", "'1 02:03'", "'1 02:03:04'", "'01:02'",
                                     "'01:02:03'", "'01:02'"};
    auto text = [&]() -> std::string {
        if (s == SQL_TYPE_DATE)
            return "2001-02-03";
        if (s == SQL_TYPE_TIME)
            return "10:11:12";
        if (s == SQL_TYPE_TIMESTAMP)
            return "2001-02-03 10:11:12";
        if (s == SQL_GUID)
            return kGuidText;
        if (s == SQL_BINARY || s == SQL_VARBINARY || s == SQL_LONGVARBINARY)
            return "0A";
        if (sCode != 0)
            return literals[sCode];
        return "1";
    };
    switch (c) {
    case SQL_C_CHAR: return text();
    case SQL_C_WCHAR: {
        std::string t = text();
        return u16le(std::u16string(t.begin(), t.end()));
    }
    case SQL_C_BINARY:
        switch (s) {
        case SQL_INTEGER: return bytesOf<int32_t>(1);
        case SQL_SMALLINT: return bytesOf<int16_t>(1);
        case SQL_REAL: return bytesOf<float>(1);
        case SQL_FLOAT:
        case SQL_DOUBLE: return bytesOf<double>(1);
        case SQL_BIT:
        case SQL_TINYINT: return std::string("\x01", 1);
        case SQL_BIGINT: return bytesOf<int64_t>(1);
        case SQL_NUMERIC:
        case SQL_DECIMAL: return std::string("\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x1C", 11);
        case SQL_TYPE_DATE: return bytesOf(date(2001, 2, 3));
        case SQL_TYPE_TIME: return bytesOf(time(10, 11, 12));
        case SQL_TYPE_TIMESTAMP: return bytesOf(stamp(2001, 2, 3, 0, 0, 0, 0));
        case SQL_GUID: return bytesOf(guidValue());
        default:
            if (sCode != 0) {
                SQL_INTERVAL_STRUCT v{};
                v.interval_type = static_cast<SQLINTERVAL>(sCode);
                v.intval.day_second.day = 0;
                return bytesOf(v);
            }
            return "ab";
        }
    case SQL_C_NUMERIC: return bytesOf(numeric(1, 0, true, 1));
    case SQL_C_FLOAT: return bytesOf<float>(1);
    case SQL_C_DOUBLE: return bytesOf<double>(1);
    case SQL_C_TYPE_DATE: return bytesOf(date(2001, 2, 3));
    case SQL_C_TYPE_TIME: return bytesOf(time(10, 11, 12));
    case SQL_C_TYPE_TIMESTAMP: return bytesOf(stamp(2001, 2, 3, 0, 0, 0, 0));
    case SQL_C_GUID: return bytesOf(guidValue());
    default: break;
    }
    if (cCode != 0) {
        SQL_INTERVAL_STRUCT v{};
        v.interval_type = static_cast<SQLINTERVAL>(cCode);
        if (cCode == 1 || cCode == 7)
            v.intval.year_month.year = 1;
        else if (cCode == 2)
            v.intval.year_month.month = 1;
        else if (cCode == 3 || (cCode >= 8 && cCode <= 10))
            v.intval.day_second.day = 1;
        else if (cCode == 4 || cCode == 11 || cCode == 12)
            v.intval.day_second.hour = 1;
        else if (cCode == 5 || cCode == 13)
            v.intval.day_second.minute = 1;
        else
            v.intval.day_second.second = 1;
        return bytesOf(v);
    }
    // The integer C types.
    return bytesOf<int64_t>(1);
}

}  // namespace

TEST_F(CToSql, EveryAllowedPairConverts)
{
    const int16_t cTypes[] = {SQL_C_CHAR,
                              SQL_C_WCHAR,
                              SQL_C_BINARY,
                              SQL_C_NUMERIC,
                              SQL_C_LONG,
                              SQL_C_SHORT,
                              SQL_C_FLOAT,
                              SQL_C_DOUBLE,
                              SQL_C_BIT,
                              SQL_C_TINYINT,
                              SQL_C_STINYINT,
                              SQL_C_UTINYINT,
                              SQL_C_SSHORT,
                              SQL_C_USHORT,
                              SQL_C_SLONG,
                              SQL_C_ULONG,
                              SQL_C_SBIGINT,
                              SQL_C_UBIGINT,
                              SQL_C_TYPE_DATE,
                              SQL_C_TYPE_TIME,
                              SQL_C_TYPE_TIMESTAMP,
                              101,
                              102,
                              103,
                              104,
                              105,
                              106,
                              107,
                              108,
                              109,
                              110,
                              111,
                              112,
                              113,
                              SQL_C_GUID};
    const int16_t sqlTypes[] = {SQL_CHAR,
                                SQL_VARCHAR,
                                SQL_LONGVARCHAR,
                                SQL_WCHAR,
                                SQL_WVARCHAR,
                                SQL_WLONGVARCHAR,
                                SQL_DECIMAL,
                                SQL_NUMERIC,
                                SQL_SMALLINT,
                                SQL_INTEGER,
                                SQL_REAL,
                                SQL_FLOAT,
                                SQL_DOUBLE,
                                SQL_BIT,
                                SQL_TINYINT,
                                SQL_BIGINT,
                                SQL_BINARY,
                                SQL_VARBINARY,
                                SQL_LONGVARBINARY,
                                SQL_TYPE_DATE,
                                SQL_TYPE_TIME,
                                SQL_TYPE_TIMESTAMP,
                                SQL_INTERVAL_YEAR,
                                SQL_INTERVAL_MONTH,
                                SQL_INTERVAL_DAY,
                                SQL_INTERVAL_HOUR,
                                SQL_INTERVAL_MINUTE,
                                SQL_INTERVAL_SECOND,
                                SQL_INTERVAL_YEAR_TO_MONTH,
                                SQL_INTERVAL_DAY_TO_HOUR,
                                SQL_INTERVAL_DAY_TO_MINUTE,
                                SQL_INTERVAL_DAY_TO_SECOND,
                                SQL_INTERVAL_HOUR_TO_MINUTE,
                                SQL_INTERVAL_HOUR_TO_SECOND,
                                SQL_INTERVAL_MINUTE_TO_SECOND,
                                SQL_GUID};
    int converted = 0;
    for (int16_t c : cTypes) {
        for (int16_t s : sqlTypes) {
            if (!expectedAllowed(c, s))
                continue;
            const std::string value = appValueFor(c, s);
            const bool wide = s == SQL_WCHAR || s == SQL_WVARCHAR || s == SQL_WLONGVARCHAR;
            // As literal text, and as the column's own kind.
            for (int32_t kind : {static_cast<int32_t>(kBaseKindText), baseColumnKindOfSqlType(s, false)}) {
                SCOPED_TRACE(testing::Message() << "C " << c << " SQL " << s << " kind " << kind);
                Stmt st;
                st.ctx.settings.columnSizeAsCharacter = true;
                Guarded buf(1100);
                int64_t produced = -1;
                DiagScope d;
                int16_t rc = st.cToSql(c, 20, 0, false, value.data(), static_cast<int64_t>(value.size()), s, kind,
                                       wide ? kCodePageUtf16LE : kCodePageUtf8, buf.data(), &produced, 1100);
                EXPECT_EQ(rc, 0) << states(d);
                EXPECT_FALSE(d.list.hasErrors()) << states(d);
                EXPECT_TRUE(buf.guardsIntact());
                EXPECT_GE(produced, 0);
                ++converted;
            }
        }
    }
    EXPECT_GT(converted, 500);
}

TEST_F(CToSql, ValuesIntoSqlTypes)
{
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        Stmt s;
        s.setOdbc2(c.odbc2);
        s.ctx.settings.columnSizeAsCharacter = c.columnSizeAsCharacter;
        s.ctx.settings.zeroExcess = c.zeroExcess;
        Guarded buf(static_cast<size_t>(c.dstSize));
        int64_t produced = -1;
        DiagScope d;
        int16_t rc = s.cToSql(c.cType, c.size, c.scale, false, c.src.data(), static_cast<int64_t>(c.src.size()),
                              c.sqlType, c.dstKind, c.dstCp, buf.data(), &produced, c.dstSize);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(states(d), c.states);
        EXPECT_TRUE(buf.guardsIntact());
        if (c.rc == 0) {
            EXPECT_EQ(produced, c.produced);
            EXPECT_EQ(buf.str(c.expect.size()), c.expect);
        }
    }
}

TEST_F(CToSql, TextTargetWithoutLengthGetsATerminator)
{
    Stmt s;
    Guarded buf(8);
    DiagScope d;
    EXPECT_EQ(s.cToSql(SQL_C_CHAR, 10, 0, false, "abc", 3, SQL_VARCHAR, kBaseKindText, kCodePageUtf16LE, buf.data(),
                       nullptr, 8),
              0);
    EXPECT_EQ(buf.str(8), std::string("a\0b\0c\0\0\0", 8));
    EXPECT_TRUE(buf.guardsIntact());

    // The terminator needs room too.
    Guarded small(6);
    EXPECT_EQ(s.cToSql(SQL_C_CHAR, 10, 0, false, "abc", 3, SQL_VARCHAR, kBaseKindText, kCodePageUtf16LE, small.data(),
                       nullptr, 6),
              1);
    EXPECT_TRUE(small.guardsIntact());
}

TEST_F(CToSql, NumericParametersTakeTheScaleOfTheirApplicationRecord)
{
    // 12345 with scale 2 in the structure; the application record says 3.
    SQL_NUMERIC_STRUCT value = numeric(5, 2, true, 12345);
    Guarded buf(32);
    int64_t produced = -1;
    DiagScope d;
    Stmt s;
    ASSERT_EQ(s.cToSql(SQL_C_NUMERIC, 10, 0, false, &value, sizeof value, SQL_VARCHAR, kBaseKindText, kCodePageUtf8,
                       buf.data(), &produced, 32),
              0);
    EXPECT_EQ(buf.str(static_cast<size_t>(produced)), "123.45");
    s.ctx.hasAppRecord = true;
    s.ctx.appScale = 3;
    ASSERT_EQ(baseConvertParamValue(s.ctx, &value, sizeof value, kBaseKindText, buf.data(), 32, &produced), 0);
    EXPECT_EQ(buf.str(static_cast<size_t>(produced)), "12.345");
    EXPECT_TRUE(buf.guardsIntact());
    EXPECT_EQ(d.size(), 0u);
}

TEST_F(CToSql, ValuesForResultColumnsTakeTheColumnsKind)
{
    struct {
        int16_t sqlType;
        bool isUnsigned;
        int32_t kind;
    } kinds[] = {
        {SQL_NUMERIC, false, kBaseKindDecimal},
        {SQL_DECIMAL, false, kBaseKindDecimal},
        {SQL_INTEGER, false, kBaseKindInteger},
        {SQL_INTEGER, true, kBaseKindUInteger},
        {SQL_SMALLINT, true, kBaseKindUSmallInt},
        {SQL_FLOAT, false, kBaseKindDouble},
        {SQL_DOUBLE, false, kBaseKindDouble},
        {SQL_REAL, false, kBaseKindReal},
        {SQL_TYPE_DATE, false, kBaseKindDate},
        {SQL_TYPE_TIME, false, kBaseKindTime},
        {SQL_TYPE_TIMESTAMP, false, kBaseKindTimestamp},
        {SQL_GUID, false, kBaseKindGuid},
        {SQL_BIT, false, kBaseKindBit},
        {SQL_TINYINT, true, kBaseKindUTinyInt},
        {SQL_BIGINT, false, kBaseKindBigInt},
        {SQL_VARBINARY, false, kBaseKindBinary},
        {SQL_VARCHAR, false, kBaseKindText},
        {SQL_INTERVAL_DAY, false, kBaseKindText},
    };
    for (const auto& k : kinds)
        EXPECT_EQ(baseColumnKindOfSqlType(k.sqlType, k.isUnsigned), k.kind) << k.sqlType;

    Stmt s;
    int32_t chosen = -1;
    int64_t produced = -1;
    Guarded buf(16);
    DiagScope d;
    s.describe(SQL_SMALLINT, 5);
    s.ctx.cType = SQL_C_CHAR;
    EXPECT_EQ(baseConvertToColumnType(s.ctx, "-12", 3, buf.data(), &chosen, &produced, 16), 0);
    EXPECT_EQ(chosen, kBaseKindSmallInt);
    EXPECT_EQ(buf.str(2), bytesOf<int16_t>(-12));
    s.describe(SQL_VARCHAR, 10, 0, kCodePageUtf8);
    s.ctx.cType = SQL_C_DOUBLE;
    EXPECT_EQ(baseConvertToColumnType(s.ctx, nullptr, 0, buf.data(), &chosen, &produced, 16),
              1);  // a fixed-size C value needs its data
    DiagScope d2;
    double v = 0.25;
    EXPECT_EQ(baseConvertToColumnType(s.ctx, &v, 8, buf.data(), &chosen, &produced, 16), 0);
    EXPECT_EQ(chosen, kBaseKindText);
    EXPECT_EQ(buf.str(static_cast<size_t>(produced)), ".25");
    EXPECT_TRUE(buf.guardsIntact());
}
