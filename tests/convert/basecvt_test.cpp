// SQL-to-C value conversion: the allowed pairs and their refusal (07006),
// default C types, and one table over value kind x C type for the fixed-size
// targets (numbers, the numeric structure, dates and times, intervals, GUIDs,
// binary images) with their range, cast, truncation and datetime errors;
// column entry with its direct copy and column marks; output parameters.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "convert/datetime.h"
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
using katest::DiagScope;

namespace {

const int16_t kSqlTypes[] = {SQL_CHAR,
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
                             SQL_DATE,
                             SQL_TIME,
                             SQL_TIMESTAMP,
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

const int16_t kCTypes[] = {SQL_C_CHAR,
                           SQL_C_WCHAR,
                           SQL_C_BINARY,
                           SQL_C_DEFAULT,
                           SQL_ARD_TYPE,
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
                           SQL_C_INTERVAL_YEAR,
                           SQL_C_INTERVAL_MONTH,
                           SQL_C_INTERVAL_DAY,
                           SQL_C_INTERVAL_HOUR,
                           SQL_C_INTERVAL_MINUTE,
                           SQL_C_INTERVAL_SECOND,
                           SQL_C_INTERVAL_YEAR_TO_MONTH,
                           SQL_C_INTERVAL_DAY_TO_HOUR,
                           SQL_C_INTERVAL_DAY_TO_MINUTE,
                           SQL_C_INTERVAL_DAY_TO_SECOND,
                           SQL_C_INTERVAL_HOUR_TO_MINUTE,
                           SQL_C_INTERVAL_HOUR_TO_SECOND,
                           SQL_C_INTERVAL_MINUTE_TO_SECOND,
                           SQL_C_GUID};

// The allowed pairs, written out from the conversion table of ODBC drivers
// of this family rather than computed like the engine does.
bool expectedAllowed(int16_t s, int16_t c)
{
    const std::set<int16_t> always{SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY, SQL_C_DEFAULT, SQL_ARD_TYPE};
    if (always.count(c))
        return true;
    const std::set<int16_t> anyC{
        -150, -97, -96, -95, SQL_WLONGVARCHAR, SQL_WVARCHAR, SQL_WCHAR, SQL_LONGVARCHAR, SQL_CHAR, SQL_VARCHAR};
    if (anyC.count(s))
        return true;
    const std::set<int16_t> numbers{SQL_C_NUMERIC,  SQL_C_LONG,    SQL_C_SHORT,    SQL_C_FLOAT,   SQL_C_DOUBLE,
                                    SQL_C_UTINYINT, SQL_C_UBIGINT, SQL_C_STINYINT, SQL_C_SBIGINT, SQL_C_ULONG,
                                    SQL_C_USHORT,   SQL_C_SLONG,   SQL_C_SSHORT,   SQL_C_BIT,     SQL_C_TINYINT};
    const std::set<int16_t> single{101, 102, 103, 104, 105, 106};
    const std::set<int16_t> dayTime{103, 104, 105, 106, 108, 109, 110, 111, 112, 113};
    const std::set<int16_t> ints{SQL_C_UTINYINT, SQL_C_UBIGINT, SQL_C_STINYINT, SQL_C_SBIGINT,
                                 SQL_C_ULONG,    SQL_C_USHORT,  SQL_C_SLONG,    SQL_C_SSHORT,
                                 SQL_C_TINYINT,  SQL_C_NUMERIC, SQL_C_LONG,     SQL_C_SHORT};
    switch (s) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT: return numbers.count(c) || single.count(c);
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
    case SQL_BIT: return numbers.count(c) != 0;
    case SQL_TYPE_DATE: return c == SQL_C_TYPE_DATE || c == SQL_C_TYPE_TIMESTAMP;
    case SQL_TYPE_TIME: return c == SQL_C_TYPE_TIME || c == SQL_C_TYPE_TIMESTAMP;
    case SQL_TYPE_TIMESTAMP: return c == SQL_C_TYPE_DATE || c == SQL_C_TYPE_TIME || c == SQL_C_TYPE_TIMESTAMP;
    case SQL_INTERVAL_YEAR:
    case SQL_INTERVAL_MONTH: return ints.count(c) || c == 101 || c == 102 || c == 107;
    case SQL_INTERVAL_DAY:
    case SQL_INTERVAL_HOUR:
    case SQL_INTERVAL_MINUTE:
    case SQL_INTERVAL_SECOND: return ints.count(c) || dayTime.count(c);
    case SQL_INTERVAL_YEAR_TO_MONTH: return c == 101 || c == 102 || c == 107;
    case SQL_GUID: return c == SQL_C_GUID;
    default:
        if (s >= 108 && s <= 113)
            return dayTime.count(c) != 0;
        return false;
    }
}

class SqlToC : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

}  // namespace

TEST_F(SqlToC, AllowedPairsAndRefusals)
{
    for (int16_t s : kSqlTypes) {
        for (int16_t c : kCTypes) {
            DiagScope d;
            int16_t rc = baseCheckSqlToC(7, s, c);
            bool allowed = expectedAllowed(s, c);
            EXPECT_EQ(rc, allowed ? 0 : 1) << "SQL " << s << " C " << c;
            if (allowed) {
                EXPECT_EQ(d.size(), 0u);
            } else {
                ASSERT_EQ(d.size(), 1u);
                EXPECT_EQ(katest::sqlstate(d.at(0)), "07006");
                EXPECT_FALSE(d.warning(0));
                EXPECT_EQ(d.at(0)->nativeCode, MSG_SQL_TO_C_REFUSED);
            }
        }
    }
    DiagScope d;
    EXPECT_EQ(baseCheckSqlToC(3, SQL_TYPE_DATE, SQL_C_LONG), 1);
    EXPECT_EQ(d.text(0), "Column 3: SQL type 91 cannot be converted to C type 4");
}

TEST_F(SqlToC, DefaultCTypes)
{
    struct {
        int16_t sql;
        int16_t narrow;
        int16_t wide;
    } cases[] = {
        {SQL_INTEGER, SQL_C_LONG, SQL_C_LONG},
        {SQL_SMALLINT, SQL_C_SHORT, SQL_C_SHORT},
        {SQL_FLOAT, SQL_C_DOUBLE, SQL_C_DOUBLE},
        {SQL_DOUBLE, SQL_C_DOUBLE, SQL_C_DOUBLE},
        {SQL_REAL, SQL_C_FLOAT, SQL_C_FLOAT},
        {SQL_TYPE_DATE, SQL_C_TYPE_DATE, SQL_C_TYPE_DATE},
        {SQL_TYPE_TIMESTAMP, SQL_C_TYPE_TIMESTAMP, SQL_C_TYPE_TIMESTAMP},
        {SQL_INTERVAL_DAY_TO_SECOND, SQL_C_INTERVAL_DAY_TO_SECOND, SQL_C_INTERVAL_DAY_TO_SECOND},
        {SQL_GUID, SQL_C_GUID, SQL_C_GUID},
        {SQL_BIT, SQL_C_BIT, SQL_C_BIT},
        {SQL_TINYINT, SQL_C_TINYINT, SQL_C_TINYINT},
        {SQL_BIGINT, SQL_C_SBIGINT, SQL_C_SBIGINT},
        {SQL_VARBINARY, SQL_C_BINARY, SQL_C_BINARY},
        {SQL_WVARCHAR, SQL_C_CHAR, SQL_C_WCHAR},
        {SQL_WLONGVARCHAR, SQL_C_CHAR, SQL_C_WCHAR},
        {SQL_VARCHAR, SQL_C_CHAR, SQL_C_CHAR},
        {SQL_DECIMAL, SQL_C_CHAR, SQL_C_CHAR},
        {SQL_NUMERIC, SQL_C_CHAR, SQL_C_CHAR},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(baseDefaultCType(c.sql, 1), c.narrow) << c.sql;
        EXPECT_EQ(baseDefaultCType(c.sql, 0), c.wide) << c.sql;
    }
    EXPECT_EQ(baseIntervalCodeOfSqlType(SQL_INTERVAL_YEAR), SQL_IS_YEAR);
    EXPECT_EQ(baseIntervalCodeOfSqlType(SQL_INTERVAL_MINUTE_TO_SECOND), SQL_IS_MINUTE_TO_SECOND);
    EXPECT_EQ(baseIntervalCodeOfCType(SQL_C_INTERVAL_HOUR_TO_SECOND), SQL_IS_HOUR_TO_SECOND);
    EXPECT_EQ(baseIntervalCodeOfSqlType(100), 0);
    EXPECT_EQ(baseIntervalCodeOfCType(114), 0);
    EXPECT_EQ(baseIntervalCodeOfCType(SQL_C_LONG), 0);
}

namespace {

SQL_INTERVAL_STRUCT dayInterval(unsigned days, bool negative = false)
{
    SQL_INTERVAL_STRUCT v{};
    v.interval_type = SQL_IS_DAY;
    v.interval_sign = negative ? SQL_TRUE : SQL_FALSE;
    v.intval.day_second.day = days;
    return v;
}

SQL_INTERVAL_STRUCT hourInterval(unsigned hours)
{
    SQL_INTERVAL_STRUCT v{};
    v.interval_type = SQL_IS_HOUR;
    v.intval.day_second.hour = hours;
    return v;
}

SQL_NUMERIC_STRUCT numeric(int precision, int scale, bool positive, uint64_t magnitude, uint64_t high = 0)
{
    SQL_NUMERIC_STRUCT v{};
    v.precision = static_cast<SQLCHAR>(precision);
    v.scale = static_cast<SQLSCHAR>(scale);
    v.sign = positive ? 1 : 0;
    std::memcpy(v.val, &magnitude, 8);
    std::memcpy(v.val + 8, &high, 8);
    return v;
}

struct Case {
    const char* name;
    int16_t sqlType;
    int64_t size;
    int16_t scale;
    int32_t kind;
    std::string src;
    int16_t cType;
    int64_t bufferLength;
    int16_t rc;
    std::string expect;  // the bytes written, compared over their length
    int64_t length;      // reported length; -99 when none is reported
    std::string states;
    bool odbc2 = false;
    bool usePositiveScale = false;
    bool isUnsigned = false;
};

std::string text(const char* s)
{
    return std::string(s);
}

std::vector<Case> fixedCases()
{
    const std::string none;
    return {
        // Integers of every width, in range and out of it.
        {"int to tinyint", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(127), SQL_C_TINYINT, 1, 0,
         bytesOf<int8_t>(127), 1, ""},
        {"int 300 to tinyint", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(300), SQL_C_TINYINT, 1, 1, none,
         -99, "22003"},
        {"int -1 to utinyint", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(-1), SQL_C_UTINYINT, 1, 1, none,
         -99, "22003"},
        {"int to slong", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(-123456), SQL_C_SLONG, 4, 0,
         bytesOf<int32_t>(-123456), 4, ""},
        {"int to long ignores buffer length", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(42), SQL_C_LONG, 0,
         0, bytesOf<int32_t>(42), 4, ""},
        {"unsigned column to long", SQL_INTEGER, 10, 0, kBaseKindUInteger, bytesOf<uint32_t>(4000000000u), SQL_C_LONG,
         4, 0, bytesOf<uint32_t>(4000000000u), 4, "", false, false, true},
        {"bigint to ubigint", SQL_BIGINT, 19, 0, kBaseKindBigInt, bytesOf<int64_t>(-5), SQL_C_UBIGINT, 8, 1, none, -99,
         "22003"},
        {"bigint to sbigint", SQL_BIGINT, 19, 0, kBaseKindBigInt, bytesOf<int64_t>(INT64_MIN), SQL_C_SBIGINT, 8, 0,
         bytesOf<int64_t>(INT64_MIN), 8, ""},
        {"bigint to sshort", SQL_BIGINT, 19, 0, kBaseKindBigInt, bytesOf<int64_t>(40000), SQL_C_SSHORT, 2, 1, none, -99,
         "22003"},
        {"smallint to ushort", SQL_SMALLINT, 5, 0, kBaseKindSmallInt, bytesOf<int16_t>(65), SQL_C_USHORT, 2, 0,
         bytesOf<uint16_t>(65), 2, ""},
        {"text to slong", SQL_VARCHAR, 20, 0, kBaseKindText, text(" -17 "), SQL_C_SLONG, 4, 0, bytesOf<int32_t>(-17), 4,
         ""},
        {"text not a number", SQL_VARCHAR, 20, 0, kBaseKindText, text("12abc"), SQL_C_SLONG, 4, 1, none, -99, "22018"},
        {"text with fraction to slong", SQL_VARCHAR, 20, 0, kBaseKindText, text("2.5"), SQL_C_SLONG, 4, 0,
         bytesOf<int32_t>(2), 4, "01S07"},
        {"double to slong drops fraction", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(3.7), SQL_C_SLONG, 4, 0,
         bytesOf<int32_t>(3), 4, "01S07"},
        {"double to ulong out of range", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(5e9), SQL_C_ULONG, 4, 1,
         none, -99, "22003"},
        {"double to float", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(0.5), SQL_C_FLOAT, 4, 0,
         bytesOf<float>(0.5f), 4, ""},
        {"double beyond float", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(1e300), SQL_C_FLOAT, 4, 1, none,
         -99, "22003"},
        {"real to double", SQL_REAL, 7, 0, kBaseKindReal, bytesOf<float>(1.25f), SQL_C_DOUBLE, 8, 0,
         bytesOf<double>(1.25), 8, ""},
        {"text 1e400 to double", SQL_VARCHAR, 20, 0, kBaseKindText, text("1e400"), SQL_C_DOUBLE, 8, 1, none, -99,
         "22003"},
        {"text to double", SQL_VARCHAR, 20, 0, kBaseKindText, text("-0.125"), SQL_C_DOUBLE, 8, 0,
         bytesOf<double>(-0.125), 8, ""},
        {"decimal text to double", SQL_DECIMAL, 10, 2, kBaseKindText, text("12.50"), SQL_C_DOUBLE, 8, 0,
         bytesOf<double>(12.5), 8, ""},
        {"bit to bit", SQL_BIT, 1, 0, kBaseKindBit, bytesOf<uint8_t>(1), SQL_C_BIT, 1, 0, bytesOf<uint8_t>(1), 1, ""},
        {"text 2 to bit", SQL_VARCHAR, 5, 0, kBaseKindText, text("2"), SQL_C_BIT, 1, 1, none, -99, "22003"},
        {"int to stinyint", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(-128), SQL_C_STINYINT, 1, 0,
         bytesOf<int8_t>(-128), 1, ""},

        // The numeric structure.
        {"decimal 1200 to numeric", SQL_DECIMAL, 10, 0, kBaseKindText, text("1200"), SQL_C_NUMERIC, 19, 0,
         bytesOf(numeric(2, -2, true, 12)), 19, ""},
        {"decimal 1200 to numeric, positive scale", SQL_DECIMAL, 10, 0, kBaseKindText, text("1200"), SQL_C_NUMERIC, 19,
         0, bytesOf(numeric(4, 0, true, 1200)), 19, "", false, true},
        {"0.001 to numeric", SQL_DECIMAL, 10, 3, kBaseKindText, text("0.001"), SQL_C_NUMERIC, 19, 0,
         bytesOf(numeric(3, 3, true, 1)), 19, ""},
        {"negative decimal to numeric", SQL_DECIMAL, 10, 1, kBaseKindText, text("-12.5"), SQL_C_NUMERIC, 19, 0,
         bytesOf(numeric(3, 1, false, 125)), 19, ""},
        {"zero to numeric", SQL_DECIMAL, 10, 1, kBaseKindText, text("0.0"), SQL_C_NUMERIC, 19, 0,
         bytesOf(numeric(1, 0, true, 0)), 19, ""},
        {"integer to numeric", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(-7), SQL_C_NUMERIC, 19, 0,
         bytesOf(numeric(1, 0, false, 7)), 19, ""},
        {"2^128-1 to numeric", SQL_DECIMAL, 39, 0, kBaseKindText, text("340282366920938463463374607431768211455"),
         SQL_C_NUMERIC, 19, 0, bytesOf(numeric(39, 0, true, UINT64_MAX, UINT64_MAX)), 19, ""},
        {"2^128 to numeric", SQL_DECIMAL, 39, 0, kBaseKindText, text("340282366920938463463374607431768211456"),
         SQL_C_NUMERIC, 19, 1, none, -99, "22003"},
        {"41 fraction digits to numeric", SQL_DECIMAL, 41, 41, kBaseKindText,
         text("0.12345678901234567890123456789012345678901"), SQL_C_NUMERIC, 19, 0, none, 19, "01S07"},
        {"tiny value to numeric", SQL_DOUBLE, 15, 0, kBaseKindDouble, bytesOf<double>(1e-50), SQL_C_NUMERIC, 19, 0,
         bytesOf(numeric(1, 0, true, 0)), 19, "01S07"},

        // Dates, times and timestamps.
        {"date text to date", SQL_VARCHAR, 20, 0, kBaseKindText, text("2001-02-03"), SQL_C_TYPE_DATE, 6, 0,
         bytesOf(date(2001, 2, 3)), 6, ""},
        {"timestamp text to date", SQL_VARCHAR, 30, 0, kBaseKindText, text("2001-02-03 10:00:00"), SQL_C_TYPE_DATE, 6,
         0, bytesOf(date(2001, 2, 3)), 6, "01S07"},
        {"bad month text to date", SQL_VARCHAR, 20, 0, kBaseKindText, text("2001-13-03"), SQL_C_TYPE_DATE, 6, 1, none,
         -99, "22018"},
        {"not a date", SQL_VARCHAR, 20, 0, kBaseKindText, text("yesterday"), SQL_C_TYPE_DATE, 6, 1, none, -99, "22018"},
        {"not a date, ODBC 2", SQL_VARCHAR, 20, 0, kBaseKindText, text("yesterday"), SQL_C_TYPE_DATE, 6, 1, none, -99,
         "22008", true},
        {"date column to timestamp", SQL_TYPE_DATE, 10, 0, kBaseKindDate, bytesOf(date(1999, 12, 31)),
         SQL_C_TYPE_TIMESTAMP, 16, 0, bytesOf(stamp(1999, 12, 31, 0, 0, 0, 0)), 16, ""},
        {"timestamp to date drops time", SQL_TYPE_TIMESTAMP, 29, 9, kBaseKindTimestamp,
         bytesOf(stamp(2020, 5, 6, 7, 8, 9, 0)), SQL_C_TYPE_DATE, 6, 0, bytesOf(date(2020, 5, 6)), 6, "01S07"},
        {"timestamp text to timestamp", SQL_TYPE_TIMESTAMP, 29, 9, kBaseKindText, text("2020-05-06 07:08:09.123456789"),
         SQL_C_TYPE_TIMESTAMP, 16, 0, bytesOf(stamp(2020, 5, 6, 7, 8, 9, 123456789)), 16, ""},
        {"time text to time", SQL_TYPE_TIME, 8, 0, kBaseKindText, text("10:11:12"), SQL_C_TYPE_TIME, 6, 0,
         bytesOf(time(10, 11, 12)), 6, ""},
        {"time text with fraction to time", SQL_TYPE_TIME, 12, 3, kBaseKindText, text("10:11:12.500"), SQL_C_TYPE_TIME,
         6, 0, bytesOf(time(10, 11, 12)), 6, "01S07"},
        {"hour 24 becomes next day", SQL_TYPE_TIMESTAMP, 29, 9, kBaseKindTimestamp,
         bytesOf(stamp(2020, 12, 31, 24, 0, 0, 0)), SQL_C_TYPE_TIMESTAMP, 16, 0, bytesOf(stamp(2021, 1, 1, 0, 0, 0, 0)),
         16, ""},

        // Intervals.
        {"text 5 to interval day", SQL_VARCHAR, 20, 0, kBaseKindText, text("5"), SQL_C_INTERVAL_DAY, 28, 1, none, -99,
         "22018"},
        {"quoted 5 to interval day", SQL_VARCHAR, 20, 0, kBaseKindText, text("'5'"), SQL_C_INTERVAL_DAY, 28, 0,
         bytesOf(dayInterval(5)), 28, ""},
        {"literal to interval day", SQL_VARCHAR, 20, 0, kBaseKindText, text("INTERVAL '5' DAY"), SQL_C_INTERVAL_DAY, 28,
         0, bytesOf(dayInterval(5)), 28, ""},
        {"negative literal", SQL_INTERVAL_DAY, 5, 0, kBaseKindText, text("'-12'"), SQL_C_INTERVAL_DAY, 28, 0,
         bytesOf(dayInterval(12, true)), 28, ""},
        {"decimal text to interval day", SQL_DECIMAL, 10, 0, kBaseKindText, text("-3"), SQL_C_INTERVAL_DAY, 28, 0,
         bytesOf(dayInterval(3, true)), 28, ""},
        {"integer to interval day", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(7), SQL_C_INTERVAL_DAY, 28,
         0, bytesOf(dayInterval(7)), 28, ""},
        {"day to hour interval to hours", SQL_INTERVAL_DAY_TO_HOUR, 5, 0, kBaseKindText, text("'1 02'"),
         SQL_C_INTERVAL_HOUR, 28, 0, bytesOf(hourInterval(26)), 28, ""},

        // GUIDs.
        {"guid text to guid", SQL_GUID, 36, 0, kBaseKindText, text(kGuidText), SQL_C_GUID, 16, 0, bytesOf(guidValue()),
         16, ""},
        {"guid to guid", SQL_GUID, 36, 0, kBaseKindGuid, bytesOf(guidValue()), SQL_C_GUID, 16, 0, bytesOf(guidValue()),
         16, ""},
        {"guid into 8 bytes", SQL_GUID, 36, 0, kBaseKindGuid, bytesOf(guidValue()), SQL_C_GUID, 8, 1, none, -99,
         "22003"},
        {"short guid text", SQL_GUID, 36, 0, kBaseKindText, text("12345678-9ABC"), SQL_C_GUID, 16, 1, none, -99,
         "22018"},

        // Binary images and raw bytes.
        {"integer image", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(0x01020304), SQL_C_BINARY, 4, 0,
         bytesOf<int32_t>(0x01020304), 4, ""},
        {"integer image from text", SQL_INTEGER, 10, 0, kBaseKindText, text("258"), SQL_C_BINARY, 8, 0,
         bytesOf<int32_t>(258), 4, ""},
        {"integer image too small", SQL_INTEGER, 10, 0, kBaseKindInteger, bytesOf<int32_t>(1), SQL_C_BINARY, 2, 1, none,
         -99, "22003"},
        {"date image", SQL_TYPE_DATE, 10, 0, kBaseKindText, text("2001-02-03"), SQL_C_BINARY, 6, 0,
         bytesOf(date(2001, 2, 3)), 6, ""},
        {"packed decimal image", SQL_DECIMAL, 5, 2, kBaseKindText, text("-123.45"), SQL_C_BINARY, 3, 0,
         std::string("\x12\x34\x5D", 3), 3, ""},
        {"varbinary raw", SQL_VARBINARY, 10, 0, kBaseKindBinary, std::string("\x00\x01\xff", 3), SQL_C_BINARY, 3, 0,
         std::string("\x00\x01\xff", 3), 3, ""},
        {"varchar raw", SQL_VARCHAR, 10, 0, kBaseKindText, text("h\xc3\xa9"), SQL_C_BINARY, 10, 0, text("h\xc3\xa9"), 3,
         ""},
        {"interval raw must fit", SQL_INTERVAL_DAY, 5, 0, kBaseKindText, text("'5'"), SQL_C_BINARY, 2, 1, none, -99,
         "22003"},

        // A C type the engine does not produce: nothing written.
        {"unknown C type", SQL_VARCHAR, 10, 0, kBaseKindText, text("x"), 12345, 8, 0, none, -99, ""},
    };
}

}  // namespace

TEST_F(SqlToC, FixedSizeTargets)
{
    for (const Case& c : fixedCases()) {
        SCOPED_TRACE(c.name);
        Stmt s;
        s.setOdbc2(c.odbc2);
        s.ctx.settings.usePositiveScale = c.usePositiveScale;
        // Fixed-size targets ignore the buffer length: the buffer holds the type.
        size_t room = c.bufferLength > 0 ? static_cast<size_t>(c.bufferLength) : c.expect.size();
        Guarded buf(room > 0 ? room : 1);
        int64_t length = -99;
        BaseOutString out(buf.data(), c.bufferLength, &length, nullptr);
        DiagScope d;
        int16_t rc = s.sqlToC(c.sqlType, c.size, c.scale, c.isUnsigned, c.cType, &out, c.src.data(),
                              static_cast<int64_t>(c.src.size()), c.kind, kCodePageUtf8);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(states(d), c.states);
        EXPECT_TRUE(buf.guardsIntact());
        if (c.rc == 0) {
            EXPECT_EQ(length, c.length);
            if (!c.expect.empty()) {
                EXPECT_EQ(buf.str(c.expect.size()), c.expect);
            }
        }
        if (c.cType == 12345) {
            EXPECT_TRUE(buf.untouched());
        }
    }
}

namespace {

// An interval literal of each interval code.
const char* intervalLiteral(int code)
{
    static const char* literals[] = {"",           "'1'",    "'1'",    "'1'",       "'1'",          "'1'",
                                     "'1'",        "'1-02'", "'1 02'", "'1 02:03'", "'1 02:03:04'", "'01:02'",
                                     "'01:02:03'", "'01:02'"};
    return code >= 1 && code <= 13 ? literals[code] : "";
}

// A value of the column's type, as text in UTF-8 (or in its own kind), that
// suits the C type asked for.
void sourceFor(int16_t s, int16_t c, std::string* value, int32_t* kind)
{
    *kind = kBaseKindText;
    const int cCode = baseIntervalCodeOfCType(c);
    const int sCode = baseIntervalCodeOfSqlType(s);
    if (s == SQL_BINARY || s == SQL_VARBINARY || s == SQL_LONGVARBINARY) {
        *value = std::string("\x01\x02\x03", 3);
        *kind = kBaseKindBinary;
    } else if (s == SQL_GUID) {
        *value = kGuidText;
    } else if (s == SQL_TYPE_DATE) {
        *value = "2001-02-03";
    } else if (s == SQL_TYPE_TIME) {
        *value = "10:11:12";
    } else if (s == SQL_TYPE_TIMESTAMP) {
        *value = "2001-02-03 10:11:12";
    } else if (sCode != 0) {
        *value = cCode != 0 ? intervalLiteral(sCode) : "1";
    } else if (!baseIsCharacterType(s) && s != -150) {
        *value = "1";
    } else if (c == SQL_C_TYPE_DATE) {
        *value = "2001-02-03";
    } else if (c == SQL_C_TYPE_TIME) {
        *value = "10:11:12";
    } else if (c == SQL_C_TYPE_TIMESTAMP) {
        *value = "2001-02-03 10:11:12";
    } else if (cCode != 0) {
        *value = intervalLiteral(cCode);
    } else if (c == SQL_C_GUID) {
        *value = kGuidText;
    } else {
        *value = "1";
    }
}

}  // namespace

TEST_F(SqlToC, EveryAllowedPairConverts)
{
    int converted = 0;
    for (int16_t s : kSqlTypes) {
        for (int16_t c : kCTypes) {
            // The callers resolve SQL_C_DEFAULT and SQL_ARD_TYPE first.
            if (!expectedAllowed(s, c) || c == SQL_C_DEFAULT || c == SQL_ARD_TYPE)
                continue;
            SCOPED_TRACE(testing::Message() << "SQL " << s << " C " << c);
            Stmt st;
            st.ctx.settings.graphicAsChar = true;
            std::string value;
            int32_t kind = 0;
            sourceFor(s, c, &value, &kind);
            // Wide columns deliver UTF-16 text.
            int64_t cp = kCodePageUtf8;
            if (kind == kBaseKindText && (s == SQL_WCHAR || s == SQL_WVARCHAR || s == SQL_WLONGVARCHAR)) {
                std::u16string w(value.begin(), value.end());
                value = cvttest::u16le(w);
                cp = kCodePageUtf16LE;
            }
            Guarded buf(96);
            int64_t length = -99;
            BaseOutString out(buf.data(), 96, &length, nullptr);
            st.resetLongData();
            DiagScope d;
            int16_t rc =
                st.sqlToC(s, 20, 0, false, c, &out, value.data(), static_cast<int64_t>(value.size()), kind, cp);
            EXPECT_EQ(rc, 0) << states(d);
            EXPECT_FALSE(d.list.hasErrors()) << states(d);
            EXPECT_TRUE(buf.guardsIntact());
            EXPECT_NE(length, -99);
            ++converted;
        }
    }
    EXPECT_GT(converted, 500);
}

TEST_F(SqlToC, NumericStructureTakesTheArdPrecisionAndScale)
{
    struct {
        const char* value;
        int16_t precision;
        int16_t scale;
        int16_t rc;
        SQL_NUMERIC_STRUCT expect;
        const char* states;
    } cases[] = {
        {"12.345", 10, 2, 0, numeric(10, 2, true, 1234), "01S07"},
        {"12.3", 10, 4, 0, numeric(10, 4, true, 123000), ""},
        {"-7", 5, 0, 0, numeric(5, 0, false, 7), ""},
        {"123456789.5", 5, 2, 1, {}, "22003"},
        {"999.99", 5, 2, 0, numeric(5, 2, true, 99999), ""},
        {"1000", 5, 2, 1, {}, "22003"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Stmt s;
        s.ctx.hasAppRecord = true;
        s.ctx.appScaleRequested = true;
        s.ctx.appPrecision = c.precision;
        s.ctx.appScale = c.scale;
        Guarded buf(19);
        int64_t length = -99;
        BaseOutString out(buf.data(), 19, &length, nullptr);
        DiagScope d;
        int16_t rc = s.sqlToC(SQL_DECIMAL, 20, 4, false, SQL_C_NUMERIC, &out, c.value,
                              static_cast<int64_t>(std::strlen(c.value)), kBaseKindText, kCodePageUtf8);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(states(d), c.states);
        if (c.rc == 0) {
            EXPECT_EQ(buf.str(19), bytesOf(c.expect));
        } else {
            EXPECT_EQ(d.at(0)->nativeCode, MSG_VALUE_DOES_NOT_FIT);
        }
        EXPECT_TRUE(buf.guardsIntact());
    }
}

TEST_F(SqlToC, BinaryPiecesOfAVarbinaryColumn)
{
    Stmt s;
    std::string value;
    for (int i = 0; i < 300; ++i)
        value.push_back(static_cast<char>(i * 7));
    s.resetLongData();
    std::string got;
    for (int piece = 0; piece < 100; ++piece) {
        Guarded buf(64);
        int64_t length = -99;
        BaseOutString out(buf.data(), 64, &length, nullptr);
        DiagScope d;
        ASSERT_EQ(s.sqlToC(SQL_VARBINARY, 300, 0, false, SQL_C_BINARY, &out, value.data(), 300, kBaseKindBinary, 0), 0);
        EXPECT_TRUE(buf.guardsIntact());
        EXPECT_EQ(length, 300 - static_cast<int64_t>(got.size()));
        int64_t piece_bytes = length < 64 ? length : 64;
        got += buf.str(static_cast<size_t>(piece_bytes));
        if (s.advanceLongData(64) == 0)
            break;
    }
    EXPECT_EQ(got, value);
}

TEST_F(SqlToC, ColumnEntryMarksDiagnosticsWithTheColumn)
{
    Stmt s;
    s.describe(SQL_INTEGER, 10);
    int32_t value = 300;
    int8_t target = 0;
    int64_t length = -99;
    BaseOutString out(&target, 1, &length, nullptr);
    s.ctx.column = 1;
    s.ctx.cType = SQL_C_TINYINT;
    s.ctx.out = &out;
    DiagScope d;
    EXPECT_EQ(baseConvertColumnValue(s.ctx, &value, 4, kBaseKindInteger), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(katest::sqlstate(d.at(0)), "22003");
    EXPECT_NE(d.text(0).find(" (column 1)"), std::string::npos) << d.text(0);

    // A column number beyond 16 bits is refused, not truncated.
    DiagScope d2;
    EXPECT_EQ(baseConvertColumnValueInt(s.ctx, 65537, &value, 4, kBaseKindInteger), 1);
    EXPECT_EQ(katest::sqlstate(d2.at(0)), "HY000");
    EXPECT_EQ(s.ctx.column, 1);
}

TEST_F(SqlToC, DirectCopyOfCharacterColumnsInPieces)
{
    // UTF-8 text in a UTF-8 application: no conversion, served from the source.
    Stmt s(kCodePageUtf8);
    s.describe(SQL_VARCHAR, 100, 0, kCodePageUtf8);
    s.ctx.column = 1;
    s.ctx.cType = SQL_C_CHAR;
    const std::string value = "Gr\xc3\xbc\xc3\x9f"
                              "e \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80 end";
    s.resetLongData();
    std::string got;
    int pieces = 0;
    for (; pieces < 50; ++pieces) {
        Guarded buf(5);
        int64_t length = -99;
        BaseOutString out(buf.data(), 5, &length, nullptr);
        s.ctx.out = &out;
        DiagScope d;
        ASSERT_EQ(baseConvertColumnValue(s.ctx, value.data(), static_cast<int64_t>(value.size()), kBaseKindText), 0);
        EXPECT_TRUE(buf.guardsIntact());
        EXPECT_EQ(length, static_cast<int64_t>(value.size() - got.size()));
        size_t n = std::strlen(reinterpret_cast<char*>(buf.data()));
        EXPECT_LE(n, 4u);
        got.append(reinterpret_cast<char*>(buf.data()), n);
        if (length > 4) {
            ASSERT_EQ(d.size(), 1u);
            EXPECT_EQ(katest::sqlstate(d.at(0)), "01004");
            EXPECT_NE(d.text(0).find("(column 1)"), std::string::npos);
        } else {
            EXPECT_EQ(d.size(), 0u);
        }
        if (s.advanceLongData(4) == 0)
            break;
    }
    EXPECT_EQ(got, value);
    EXPECT_EQ(s.ctx.convertBuffer, nullptr);  // no conversion buffer was needed
    EXPECT_EQ(pieces, 5);                     // 23 bytes in pieces of 4
}

TEST_F(SqlToC, NullOutputParameterFillsIndicatorAndClearsTheBuffer)
{
    struct {
        int16_t cType;
        int16_t sqlType;
        size_t cleared;
    } cases[] = {
        {SQL_C_CHAR, SQL_VARCHAR, 1},        {SQL_C_LONG, SQL_INTEGER, 4},   {SQL_C_SHORT, SQL_SMALLINT, 2},
        {SQL_C_DOUBLE, SQL_DOUBLE, 8},       {SQL_C_WCHAR, SQL_WVARCHAR, 2}, {SQL_C_FLOAT, SQL_REAL, 4},
        {SQL_C_TYPE_DATE, SQL_TYPE_DATE, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cType);
        Stmt s;
        s.describe(c.sqlType, 10);
        Guarded buf(16, 0x77);
        int64_t indicator = 0;
        BaseOutString out(buf.data(), int64_t{16}, &indicator, nullptr);
        s.ctx.cType = c.cType;
        s.ctx.out = &out;
        DiagScope d;
        EXPECT_EQ(baseConvertOutputParam(s.ctx, nullptr, SQL_NULL_DATA, kBaseKindText), 0);
        EXPECT_EQ(indicator, SQL_NULL_DATA);
        for (size_t i = 0; i < 16; ++i)
            EXPECT_EQ(buf.data()[i], i < c.cleared ? 0 : 0x77) << i;
        EXPECT_TRUE(buf.guardsIntact());
    }
    // Without any indicator NULL cannot be reported: 22002.
    Stmt s;
    s.describe(SQL_INTEGER, 10);
    int32_t target = 5;
    BaseOutString out(&target, int64_t{4}, nullptr, nullptr);
    s.ctx.cType = SQL_C_LONG;
    s.ctx.out = &out;
    DiagScope d;
    EXPECT_EQ(baseConvertOutputParam(s.ctx, nullptr, SQL_NULL_DATA, kBaseKindText), 1);
    EXPECT_EQ(katest::sqlstate(d.at(0)), "22002");
}

TEST_F(SqlToC, OutputParameterDiagnosticsCarryTheRow)
{
    Stmt s;
    s.describe(SQL_INTEGER, 10);
    int32_t value = -1;
    int64_t length = -7;
    BaseOutString out(&value, int64_t{4}, &length, nullptr);
    s.ctx.cType = SQL_C_LONG;
    s.ctx.out = &out;
    s.ctx.paramRow = 3;
    DiagScope d;
    int32_t v = 77;
    EXPECT_EQ(baseConvertOutputParam(s.ctx, &v, 4, kBaseKindInteger), 0);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(d.size(), 0u);
    EXPECT_EQ(baseConvertOutputParam(s.ctx, "1x", 2, kBaseKindText), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(katest::sqlstate(d.at(0)), "22018");
    EXPECT_NE(d.text(0).find("(row 3)"), std::string::npos) << d.text(0);
}

TEST(ReportLength, ALengthBeyondTheFieldIsTheLargestItHolds)
{
    // Wrapped, 2^31 + 3 would read as a negative length (SQL_NULL_DATA or
    // SQL_NTS for some values) in a 32-bit field.
    const int64_t huge = (int64_t{1} << 31) + 3;
    int32_t length32 = 0;
    int32_t flag32 = 7;
    BaseOutString out32(nullptr, int32_t{0}, &length32, &flag32);
    baseReportLength(&out32, huge);
    EXPECT_EQ(length32, INT32_MAX);
    EXPECT_EQ(flag32, 0);
    int16_t length16 = 0;
    BaseOutString out16(nullptr, int16_t{0}, &length16);
    baseReportLength(&out16, 70000);
    EXPECT_EQ(length16, INT16_MAX);
    int64_t length64 = 0;
    BaseOutString out64(nullptr, int64_t{0}, &length64, nullptr);
    baseReportLength(&out64, huge);
    EXPECT_EQ(length64, huge);
    baseReportLength(&out32, 12);
    EXPECT_EQ(length32, 12);
}

TEST(TerminatedText, EndsAtAZeroUnitOfTheCodePagesWidth)
{
    // "AB" in UTF-16BE and UTF-32LE begins or is full of zero bytes.
    const unsigned char utf16be[] = {0, 'A', 0, 'B', 0, 0};
    const unsigned char utf32le[] = {'A', 0, 0, 0, 'B', 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(baseTerminatedLength(utf16be, baseCodePageUnitWidth(1013)), 4);
    EXPECT_EQ(baseTerminatedLength(utf32le, baseCodePageUnitWidth(1019)), 8);
    EXPECT_EQ(baseTerminatedLength("abc", baseCodePageUnitWidth(106)), 3);
}

TEST_F(SqlToC, DirectCopyOfWideColumnsIntoAnOddBufferLosesNoByte)
{
    Stmt s(kCodePageUtf8);
    s.describe(SQL_WVARCHAR, 100, 0, kCodePageUtf16LE);
    s.ctx.column = 1;
    s.ctx.cType = SQL_C_WCHAR;
    std::u16string text;
    for (int i = 0; i < 30; ++i)
        text += u"\u65e5\u20ac";
    const std::string value = cvttest::u16le(text);
    s.resetLongData();
    std::string got;
    for (int piece = 0; piece < 200; ++piece) {
        Guarded buf(9);
        int64_t length = -99;
        BaseOutString out(buf.data(), 9, &length, nullptr);
        s.ctx.out = &out;
        DiagScope d;
        ASSERT_EQ(baseConvertColumnValue(s.ctx, value.data(), static_cast<int64_t>(value.size()), kBaseKindText), 0);
        ASSERT_TRUE(buf.guardsIntact());
        got += buf.str(static_cast<size_t>(length < 6 ? length : 6));
        if (s.advanceLongData(7) == 0)
            break;
    }
    EXPECT_EQ(got, value);
    EXPECT_EQ(s.ctx.convertBuffer, nullptr);
}

TEST_F(SqlToC, EmptyTextWithoutABufferIntoEveryCType)
{
    // A zero-length value may come with a null pointer; every target either
    // takes it or refuses it with a diagnostic, and reads nothing through it.
    const int16_t sqlTypes[] = {SQL_VARCHAR, SQL_DECIMAL, SQL_INTERVAL_DAY, SQL_INTERVAL_HOUR_TO_SECOND};
    for (int16_t sqlType : sqlTypes) {
        for (int16_t cType : kCTypes) {
            SCOPED_TRACE(std::to_string(sqlType) + " -> " + std::to_string(cType));
            Stmt s;
            Guarded buf(64);
            int64_t length = -99;
            BaseOutString out(buf.data(), 64, &length, nullptr);
            DiagScope d;
            int16_t rc = s.sqlToC(sqlType, 10, 0, false, cType, &out, nullptr, 0, kBaseKindText, kCodePageUtf8);
            EXPECT_TRUE(rc == 0 || d.size() > 0) << rc;
            EXPECT_TRUE(buf.guardsIntact());
        }
    }
}
