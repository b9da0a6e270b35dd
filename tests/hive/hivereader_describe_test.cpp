// How a result column is described from what GetResultSetMetadata gives for
// it, before any value is read: the sizes and scales taken when the server
// leaves out a type's qualifiers, the name of a column the server leaves
// unnamed, a UTF-8 name, and the text slot that a DECIMAL's longest value
// needs column-wise.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>

#include "hive/hivedesc.h"
#include "hive/hivereaders.h"
#include "hive/hivestatement.h"
#include "wiredconn.h"

namespace {

class ColumnDescription : public katest::WiredConnection {
protected:
    void SetUp() override
    {
        WiredConnection::SetUp();
        BaseStatement* made = nullptr;
        ASSERT_EQ(0, conn.createStatement(&made));
        stmt = static_cast<HiveStatement*>(made);
        ASSERT_EQ(0, stmt->ensureDescriptorRecords(4, 1));
    }
    void TearDown() override { delete stmt; }

    // Column n (1-based) bound as the metadata reply would bind it.
    HiveIRDRecord* bind(uint16_t n, const std::string& name, uint8_t code, int32_t first = 0, int32_t second = 0)
    {
        if (stmt->bindResultColumn(uint16_t(n - 1), name.data(), name.size(), code, first, second) != 0)
            return nullptr;
        return stmt->columnRecord(n);
    }

    HiveStatement* stmt = nullptr;
};

std::u16string text(const uint16_t* t)
{
    std::u16string out;
    for (; t != nullptr && *t != 0; ++t)
        out += char16_t(*t);
    return out;
}

TEST_F(ColumnDescription, TypesWithoutQualifiersTakeTheDefaultSizes)
{
    struct Case {
        uint8_t code;
        int32_t first;
        int32_t second;
        int64_t precision;
        int64_t scale;
        uint64_t length;
    } cases[] = {
        // A DECIMAL without precision and scale, with both limits at their
        // defaults: 38 digits, 6 of them after the point.
        {HIVE_TYPE_DECIMAL, 0, 0, 38, 6, 38},   {HIVE_TYPE_DECIMAL, 12, 2, 12, 2, 12},
        {HIVE_TYPE_VARCHAR, 0, 0, 0, 0, 65355}, {HIVE_TYPE_VARCHAR, 40, 0, 0, 0, 40},
        {HIVE_TYPE_CHAR, 0, 0, 0, 0, 255},      {HIVE_TYPE_CHAR, 3, 0, 0, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.code) << " (" << c.first << "," << c.second << ")");
        HiveIRDRecord* rec = bind(1, "c", c.code, c.first, c.second);
        ASSERT_NE(nullptr, rec);
        EXPECT_EQ(c.length, rec->length);
        if (c.code == HIVE_TYPE_DECIMAL) {
            EXPECT_EQ(c.precision, rec->precision);
            EXPECT_EQ(c.scale, rec->scale);
        } else {
            EXPECT_EQ(int64_t(c.length), rec->octetLength);
        }
    }
}

TEST_F(ColumnDescription, AnUnnamedColumnIsCalledByItsNumberAndANameIsUtf8)
{
    struct Case {
        uint16_t column;
        std::string sent;
        std::u16string name;
    } cases[] = {
        {1, "", u"1"},
        {3, "", u"3"},
        {2, "caf\xc3\xa9", u"caf\u00e9"},
        {4, "\xe5\x90\x8d\xf0\x9f\x98\x80", u"\u540d\U0001F600"},
        // Bytes that are not UTF-8 are kept, one unit each.
        {4, "a\xe9z", u"a\u00e9z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column);
        HiveIRDRecord* rec = bind(c.column, c.sent, HIVE_TYPE_INT);
        ASSERT_NE(nullptr, rec);
        EXPECT_EQ(c.name, text(rec->name));
        EXPECT_EQ(c.name, text(rec->label));
        EXPECT_EQ(c.name, text(rec->baseColumnName));
    }
}

TEST_F(ColumnDescription, ADecimalsSlotAndDisplaySizeHoldItsLongestText)
{
    struct Case {
        int32_t precision;
        int32_t scale;
        const char* longest;
    } cases[] = {
        {1, 0, "-9"},
        {2, 2, "-0.99"},
        {1, 1, "-0.9"},
        {5, 3, "-99.999"},
        {38, 0, "-99999999999999999999999999999999999999"},
        {38, 38, "-0.99999999999999999999999999999999999999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "DECIMAL(" << c.precision << "," << c.scale << ")");
        HiveIRDRecord* rec = bind(1, "d", HIVE_TYPE_DECIMAL, c.precision, c.scale);
        ASSERT_NE(nullptr, rec);
        const int64_t width = int64_t(std::string(c.longest).size());
        EXPECT_EQ(width, rec->displaySize());
        EXPECT_EQ(uint32_t(width), hiveSlotWidth(&rec->storage));
    }
}

}  // namespace
