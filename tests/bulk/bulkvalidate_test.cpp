// The column comparison of table validation: a table of column pairs with
// the findings each must give, in order (message lines recognised by their
// catalogue texts), the signedness shown when two integer words are alike,
// and a buffer too small for a finding.
#include "bulk/bulkvalidate.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <vector>

#include "bulk/bulkloadfile.h"
#include "foundation/codepage.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/u16.h"

namespace {

// Words of each finding's catalogue text.
std::string keyOf(uint16_t msg)
{
    switch (msg) {
    case MSG_BULK_TYPES_INCOMPATIBLE: return "is incompatible";
    case MSG_BULK_VALUES_MAY_ROUND: return "lose digits";
    case MSG_BULK_VALUES_MAY_TRUNCATE: return "truncated";
    case MSG_BULK_VALUES_MAY_OVERFLOW: return "out of range";
    case MSG_BULK_VALUES_MAY_LOSE_PRECISION: return "lose precision";
    case MSG_BULK_VALUES_MAY_NOT_CONVERT: return "may not convert";
    case MSG_BULK_DOUBLE_TO_DECFLOAT: return "decimal-float";
    case MSG_BULK_CODEPAGE_MISMATCH: return "in code page";
    case MSG_BULK_NULLS_NOT_ALLOWED: return "does not allow";
    default: return "?";
    }
}

struct Case {
    const char* what;
    int64_t descType;
    uint64_t descLength;
    int64_t descScale;
    int64_t descCodePage;
    int64_t descNullable;
    int16_t tableType;
    uint64_t tableSize;
    int64_t tablePrecision;
    int64_t tableScale;
    int64_t tableCodePage;
    int16_t tableNullable;
    std::vector<uint16_t> findings;
    bool incompatible;
};

class BulkValidate : public ::testing::Test {
protected:
    void SetUp() override { katest::openCatalogue(); }
    void TearDown() override { katest::closeCatalogue(); }

    // The lines one comparison writes, and its incompatible flag.
    std::vector<std::string> compare(const Case& c, bool* incompatible, std::string* all = nullptr)
    {
        uint16_t buffer[4096] = {};
        int32_t count = 0;
        BulkValidator v(nullptr, nullptr, buffer, 4096, &count);
        std::u16string descName = u"d";
        BulkColumnDesc d{};
        d.name = reinterpret_cast<uint16_t*>(descName.data());
        d.nameLength = 1;
        d.datatype = c.descType;
        d.length = c.descLength;
        d.scale = c.descScale;
        d.sourceCodePage = c.descCodePage;
        d.nullable = c.descNullable;
        d.columnNumber = 1;
        BulkTableColumn t{};
        t.name[0] = u't';
        t.type = c.tableType;
        t.size = c.tableSize;
        t.precision = c.tablePrecision;
        t.scale = c.tableScale;
        t.codePage = c.tableCodePage;
        t.nullable = c.tableNullable;
        v.compare(t, d, incompatible);
        std::string text = katest::narrow(katest::u16(buffer));
        if (all != nullptr)
            *all = text;
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
            lines.push_back(text.substr(start, nl - start));
            start = nl + 1;
        }
        EXPECT_EQ(size_t(count), lines.size());
        return lines;
    }

    katest::ErrorScope scope;
};

TEST_F(BulkValidate, FindingsOfColumnPairs)
{
    const int64_t utf8 = kCodePageUtf8;
    const int64_t latin1 = kCodePageLatin1;
    const Case cases[] = {
        {"longer varchar",
         SQL_VARCHAR,
         20,
         0,
         utf8,
         1,
         SQL_VARCHAR,
         10,
         10,
         0,
         utf8,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_TRUNCATE},
         false},
        {"same varchar", SQL_VARCHAR, 10, 0, utf8, 1, SQL_VARCHAR, 10, 10, 0, utf8, SQL_NULLABLE, {}, false},
        {"wide text into latin1",
         SQL_WVARCHAR,
         5,
         0,
         0,
         1,
         SQL_VARCHAR,
         10,
         10,
         0,
         latin1,
         SQL_NULLABLE,
         {MSG_BULK_CODEPAGE_MISMATCH},
         false},
        {"longer wide text into latin1",
         SQL_WVARCHAR,
         20,
         0,
         0,
         1,
         SQL_VARCHAR,
         10,
         10,
         0,
         latin1,
         SQL_NULLABLE,
         {MSG_BULK_CODEPAGE_MISMATCH, MSG_BULK_VALUES_MAY_TRUNCATE},
         false},
        {"guid", SQL_GUID, 0, 0, 0, 1, SQL_VARCHAR, 10, 10, 0, utf8, SQL_NULLABLE, {MSG_BULK_TYPES_INCOMPATIBLE}, true},
        {"nulls into not null",
         SQL_C_SLONG,
         0,
         0,
         0,
         2,
         SQL_C_SLONG,
         10,
         10,
         0,
         0,
         SQL_NO_NULLS,
         {MSG_BULK_NULLS_NOT_ALLOWED},
         false},
        {"decimal with a scale into int",
         SQL_DECIMAL,
         10,
         2,
         0,
         1,
         SQL_C_SLONG,
         10,
         10,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_ROUND, MSG_BULK_VALUES_MAY_OVERFLOW},
         false},
        {"decimal that fits int", SQL_DECIMAL, 9, 0, 0, 1, SQL_C_SLONG, 10, 10, 0, 0, SQL_NULLABLE, {}, false},
        {"bigint into smallint",
         SQL_C_SBIGINT,
         0,
         0,
         0,
         1,
         SQL_C_SSHORT,
         5,
         5,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_OVERFLOW},
         false},
        {"double into real",
         SQL_DOUBLE,
         0,
         0,
         0,
         1,
         SQL_REAL,
         7,
         7,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_OVERFLOW},
         false},
        {"double into decfloat",
         SQL_DOUBLE,
         0,
         0,
         0,
         1,
         129,
         16,
         16,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_DOUBLE_TO_DECFLOAT},
         false},
        {"bigint into real",
         SQL_C_SBIGINT,
         0,
         0,
         0,
         1,
         SQL_REAL,
         7,
         7,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_LOSE_PRECISION},
         false},
        {"finer timestamp",
         SQL_TIMESTAMP,
         0,
         9,
         0,
         1,
         SQL_TYPE_TIMESTAMP,
         23,
         23,
         3,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_LOSE_PRECISION},
         false},
        {"date into time",
         SQL_DATE,
         0,
         0,
         0,
         1,
         SQL_TYPE_TIME,
         8,
         8,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_TYPES_INCOMPATIBLE},
         true},
        {"long binary into varbinary",
         SQL_LONGVARBINARY,
         0,
         0,
         0,
         1,
         SQL_VARBINARY,
         10,
         10,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_TRUNCATE},
         false},
        {"text into date",
         SQL_VARCHAR,
         10,
         0,
         utf8,
         1,
         SQL_TYPE_DATE,
         10,
         10,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_NOT_CONVERT},
         false},
        {"narrower decimal",
         SQL_DECIMAL,
         20,
         4,
         0,
         1,
         SQL_DECIMAL,
         10,
         10,
         2,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_OVERFLOW},
         false},
        {"finer decimal",
         SQL_DECIMAL,
         8,
         4,
         0,
         1,
         SQL_DECIMAL,
         10,
         10,
         2,
         0,
         SQL_NULLABLE,
         {MSG_BULK_VALUES_MAY_LOSE_PRECISION},
         false},
        {"an interval column",
         SQL_VARCHAR,
         10,
         0,
         utf8,
         1,
         SQL_INTERVAL_DAY_TO_SECOND,
         10,
         10,
         0,
         0,
         SQL_NULLABLE,
         {MSG_BULK_TYPES_INCOMPATIBLE},
         true},
    };
    for (const Case& c : cases) {
        bool incompatible = false;
        std::vector<std::string> lines = compare(c, &incompatible);
        EXPECT_EQ(c.incompatible, incompatible) << c.what;
        ASSERT_EQ(c.findings.size(), lines.size()) << c.what;
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_NE(std::string::npos, lines[i].find(keyOf(c.findings[i]))) << c.what << ": " << lines[i];
    }
}

TEST_F(BulkValidate, IntegerWordsShowTheirSignednessWhenAlike)
{
    Case c{"signed into unsigned", SQL_C_SLONG, 0, 0, 0, 1, SQL_C_ULONG, 10, 10, 0, 0, SQL_NULLABLE, {}, false};
    bool incompatible = false;
    std::string all;
    std::vector<std::string> lines = compare(c, &incompatible, &all);
    ASSERT_EQ(1u, lines.size()) << all;
    EXPECT_NE(std::string::npos, lines[0].find("(SIGNED INTEGER)")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("(UNSIGNED INTEGER)")) << lines[0];
    // Sizes are shown where the type has one.
    Case d{"decimal", SQL_DECIMAL, 10, 2, 0, 1, SQL_C_SSHORT, 5, 5, 0, 0, SQL_NULLABLE, {}, false};
    lines = compare(d, &incompatible, &all);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos, lines[0].find("DECIMAL (10,2)")) << lines[0];
}

TEST_F(BulkValidate, AFindingThatDoesNotFitLeavesTheBufferAndFails)
{
    uint16_t buffer[40];
    for (uint16_t& unit : buffer)
        unit = 0xBEEF;
    buffer[0] = 0;
    int32_t count = 0;
    BulkValidator v(nullptr, nullptr, buffer, 30, &count);
    std::u16string name = u"d";
    BulkColumnDesc d{};
    d.name = reinterpret_cast<uint16_t*>(name.data());
    d.nameLength = 1;
    d.datatype = SQL_GUID;
    EXPECT_EQ(1, v.add(MSG_BULK_DESCRIPTION_COLUMN_EXTRA, nullptr, &d, 3));
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, buffer[0]);
    // Nothing was written beyond the length given.
    for (int i = 30; i < 40; ++i)
        EXPECT_EQ(0xBEEF, buffer[i]);
    ASSERT_EQ(1u, scope.size());
    EXPECT_EQ("22001", katest::sqlstate(scope.at(0)));
}

}  // namespace
