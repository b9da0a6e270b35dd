// The reading of a Hive column type text for SQLColumns: the type, the name
// reported as TYPE_NAME and the numbers in its parentheses.
#include "hive/hivecatalog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/ram.h"
#include "hive/hivecommunicator.h"

namespace {

struct TypeCase {
    const char* text;
    uint8_t code;
    const char* name;
    int32_t precision;
    int32_t scale;
};

TEST(HiveColumnTypeText, TypeNameAndNumbers)
{
    const TypeCase cases[] = {
        {"int", HIVE_TYPE_INT, "int", 0, 0},
        {"INT", HIVE_TYPE_INT, "INT", 0, 0},
        {"bigint   ", HIVE_TYPE_BIGINT, "bigint", 0, 0},
        {"decimal(12,2)", HIVE_TYPE_DECIMAL, "decimal", 12, 2},
        {"decimal(38, 10)", HIVE_TYPE_DECIMAL, "decimal", 38, 10},
        {"decimal", HIVE_TYPE_DECIMAL, "decimal", 0, 0},
        {"decimal(10)", HIVE_TYPE_DECIMAL, "decimal", 10, 0},
        // A number counts only where the text goes on as the form says.
        {"decimal(10", HIVE_TYPE_DECIMAL, "decimal", 0, 0},
        {"decimal(10,2", HIVE_TYPE_DECIMAL, "decimal", 10, 0},
        {"varchar(64)", HIVE_TYPE_VARCHAR, "varchar", 64, 0},
        {"char (10)", HIVE_TYPE_CHAR, "char", 10, 0},
        {"string", HIVE_TYPE_STRING, "string", 0, 0},
        {"timestamp", HIVE_TYPE_TIMESTAMP, "timestamp", 0, 0},
        {"date", HIVE_TYPE_DATE, "date", 0, 0},
        {"binary", HIVE_TYPE_BINARY, "binary", 0, 0},
        // Complex types keep their whole text, parentheses inside included.
        {"array<int>", HIVE_TYPE_ARRAY, "array<int>", 0, 0},
        {"map<string,decimal(10,2)>", HIVE_TYPE_MAP, "map<string,decimal(10,2)>", 0, 0},
        {"struct<a:int,b:string>", HIVE_TYPE_STRUCT, "struct<a:int,b:string>", 0, 0},
        {"uniontype<int,string>", HIVE_TYPE_UNION, "uniontype<int,string>", 0, 0},
        // Types the driver has no code of are read as their text.
        {"interval_year_month", HIVE_TYPE_STRING, "interval_year_month", 0, 0},
        {"", HIVE_TYPE_STRING, "", 0, 0},
        // A precision too long for 32 bits stops at the digit that would overflow.
        {"varchar(99999999999999)", HIVE_TYPE_VARCHAR, "varchar", 0, 0},
    };
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.text);
        HiveColumnType t;
        hiveParseColumnType(c.text, std::strlen(c.text), &t);
        EXPECT_EQ(t.code, c.code);
        EXPECT_EQ(std::string(t.name, t.nameLength), c.name);
        EXPECT_EQ(t.precision, c.precision);
        EXPECT_EQ(t.scale, c.scale);
    }
}

TEST(HiveColumnTypeText, NothingIsReadPastTheGivenLength)
{
    // The text is not NUL-terminated: "(12,2)" lies beyond the length.
    const char text[] = {'d', 'e', 'c', 'i', 'm', 'a', 'l', '(', '1', '2', ',', '2', ')'};
    HiveColumnType t;
    hiveParseColumnType(text, 7, &t);
    EXPECT_EQ(t.code, HIVE_TYPE_DECIMAL);
    EXPECT_EQ(t.precision, 0);
    hiveParseColumnType(text, 11, &t);
    EXPECT_EQ(t.precision, 12);
    EXPECT_EQ(t.scale, 0);
}

// GetColumns names a primitive type in upper case and carries its numbers
// in COLUMN_SIZE and DECIMAL_DIGITS; the listing turns that back into the
// text DESCRIBE gives, so both ways give the same rows.
TEST(HiveColumnTypeText, GetColumnsTypesReadAsDescribeWritesThem)
{
    struct Case {
        const char* name;  // null: a NULL cell
        int32_t size;
        int32_t digits;
        const char* want;
    };
    const Case cases[] = {
        {"STRING", 2147483647, 0, "string"},
        {"DECIMAL", 10, 2, "decimal(10,2)"},
        {"DECIMAL", 38, -1, "decimal(38,0)"},
        {"DECIMAL", 0, 0, "decimal"},
        {"VARCHAR", 50, 0, "varchar(50)"},
        {"CHAR", 2147483647, 0, "char(2147483647)"},
        {"TIMESTAMP", 29, 9, "timestamp"},
        {"INTERVAL_DAY_TIME", 0, 0, "interval_day_time"},
        {"decimal(5,1)", 5, 1, "decimal(5,1)"},
        {"array<int>", 0, 0, "array<int>"},
        {"struct<a:INT,b:DECIMAL>", 0, 0, "struct<a:INT,b:DECIMAL>"},
        {"", 10, 0, ""},
        {nullptr, 10, 0, ""},
    };
    for (const Case& c : cases) {
        const HiveCatalogCell in =
            c.name != nullptr ? HiveCatalogCell{c.name, static_cast<int32_t>(std::strlen(c.name))} : HiveCatalogCell{};
        HiveCatalogCell out;
        ASSERT_EQ(0, hiveGetColumnsTypeText(in, c.size, c.digits, &out));
        EXPECT_EQ(std::string(out.data, static_cast<size_t>(out.length)), c.want) << (c.name ? c.name : "NULL");
        ramFree(const_cast<char*>(out.data));
    }
}

}  // namespace
