// The Hive statement's descriptors and records, the SQL types and type rows
// of the driver's type codes, and the alias of the describe query.
#include "hive/hivedesc.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>

#include "hive/dummyenv.h"
#include "hive/hivecommunicator.h"
#include "hive/hiveconnection.h"
#include "hive/hivestatement.h"
#include "foundation/ram.h"
#include "support/diagscope.h"

namespace {

std::u16string u16(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

std::string alias(const std::string& text)
{
    std::u16string t = u16(text);
    char out[kHiveDescribeAliasSize];
    if (hiveDescribeAlias(reinterpret_cast<const uint16_t*>(t.data()), t.size(), out) != 0)
        return "<none>";
    return out;
}

TEST(HiveDescribeAlias, TakesTheFirstCandidateTheTextDoesNotContain)
{
    EXPECT_EQ("ka_subres", alias("SELECT a FROM t WHERE b = NULL"));
    EXPECT_EQ("ka_subresa", alias("SELECT ka_subres FROM t"));
    EXPECT_EQ("ka_subresaa", alias("SELECT ka_subres, ka_subresa FROM t"));
    // Every two-letter form of the first letter occurs: the next letter.
    std::string text = "SELECT ka_subres";
    for (char c = 'a'; c <= 'z'; ++c)
        text += std::string(", ka_subresa") + c;
    EXPECT_EQ("ka_subresb", alias(text + " FROM t"));
}

TEST(HiveDescribeAlias, FailsWhenEveryCandidateOccurs)
{
    std::string text = "ka_subres ";
    for (char a = 'a'; a <= 'z'; ++a) {
        for (char b = 'a'; b <= 'z'; ++b)
            text += std::string("ka_subres") + a + b + " ";
    }
    // Every one-letter candidate occurs inside its two-letter forms.
    EXPECT_EQ("<none>", alias(text));
    text += "zz";
    EXPECT_EQ("<none>", alias(text));
    // One two-letter candidate missing is found.
    std::string hole = text;
    hole.replace(hole.find("ka_subresqk"), 11, "xxxxxxxxxxx");
    EXPECT_EQ("ka_subresqk", alias(hole));
}

TEST(HiveNullMarker, WritesNull)
{
    uint16_t buffer[4] = {};
    EXPECT_EQ(4, hiveNullMarkerText(buffer));
    EXPECT_EQ(u"NULL", std::u16string(reinterpret_cast<char16_t*>(buffer), 4));
}

struct TypeCase {
    uint16_t code;
    int16_t sqlType;
    const char16_t* rowName;  // null: no row
    int32_t rowSize;
};

TEST(HiveTypeCodes, MapToTheirSqlTypesAndTypeRows)
{
    const TypeCase cases[] = {
        {HIVE_TYPE_UNKNOWN, SQL_WVARCHAR, u"string", 2147483647},
        {HIVE_TYPE_BOOLEAN, SQL_BIT, u"boolean", 1},
        {HIVE_TYPE_TINYINT, SQL_TINYINT, u"tinyint", 3},
        {HIVE_TYPE_SMALLINT, SQL_SMALLINT, u"smallint", 5},
        {HIVE_TYPE_INT, SQL_INTEGER, u"int", 10},
        {HIVE_TYPE_BIGINT, SQL_BIGINT, u"bigint", 19},
        {HIVE_TYPE_FLOAT, SQL_REAL, u"float", 24},
        {HIVE_TYPE_DOUBLE, SQL_DOUBLE, u"double", 53},
        {HIVE_TYPE_STRING, SQL_WVARCHAR, u"string", 2147483647},
        {HIVE_TYPE_DATE, SQL_TYPE_DATE, u"date", 10},
        {10, SQL_WVARCHAR, u"null", 1},
        {HIVE_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, u"timestamp", 29},
        {12, SQL_WVARCHAR, u"array", 2147483647},
        {HIVE_TYPE_MAP, SQL_WVARCHAR, u"map", 134217727},
        {HIVE_TYPE_STRUCT, SQL_WVARCHAR, u"struct", 134217727},
        {HIVE_TYPE_BINARY, SQL_VARBINARY, u"binary", 2147483647},
        {HIVE_TYPE_ARRAY, SQL_WVARCHAR, u"array", 2147483647},
        {HIVE_TYPE_UNION, SQL_WVARCHAR, u"uniontype", 134217727},
        {HIVE_TYPE_USER_DEFINED, SQL_WVARCHAR, u"user defined type", 2147483647},
        {HIVE_TYPE_DECIMAL, SQL_DECIMAL, u"decimal", 38},
        {20, SQL_WVARCHAR, u"null", 1},
        {HIVE_TYPE_NULL, SQL_WVARCHAR, u"null", 1},
        {HIVE_TYPE_VARCHAR, SQL_WVARCHAR, u"varchar", 65355},
        {HIVE_TYPE_CHAR, SQL_WCHAR, u"char", 255},
        {24, SQL_WVARCHAR, nullptr, 0},
    };
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.sqlType, hiveSqlTypeOf(c.code, SQL_WVARCHAR));
        const BaseTypeInfoBlock* row = hiveFindTypeRow(c.code);
        if (c.rowName == nullptr) {
            EXPECT_EQ(nullptr, row);
            continue;
        }
        ASSERT_NE(nullptr, row);
        EXPECT_EQ(std::u16string(c.rowName), std::u16string(reinterpret_cast<const char16_t*>(row->typeName)));
        EXPECT_EQ(c.rowSize, row->columnSize);
        EXPECT_EQ(SQL_NULLABLE, row->nullable);
    }
    // StringDescribeType chooses the type of text columns only.
    EXPECT_EQ(SQL_WLONGVARCHAR, hiveSqlTypeOf(HIVE_TYPE_STRING, SQL_WLONGVARCHAR));
    EXPECT_EQ(SQL_INTEGER, hiveSqlTypeOf(HIVE_TYPE_INT, SQL_WLONGVARCHAR));
    // Only the text rows are case sensitive; binary values are unsearchable.
    EXPECT_NE(0, hiveFindTypeRow(HIVE_TYPE_VARCHAR)->flags & kBaseRecCaseSensitive);
    EXPECT_EQ(0, hiveFindTypeRow(HIVE_TYPE_INT)->flags & kBaseRecCaseSensitive);
    EXPECT_EQ(SQL_UNSEARCHABLE, hiveFindTypeRow(HIVE_TYPE_BINARY)->searchable);
    EXPECT_EQ(9, hiveFindTypeRow(HIVE_TYPE_TIMESTAMP)->maximumScale);
}

class HiveDescriptorsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    katest::ThreadScope thread;
    katest::DiagScope diags;
    DummyEnv env;
    HiveConnection conn{&env};
};

TEST_F(HiveDescriptorsTest, TheStatementMakesHiveDescriptorsWithEmbeddedRecordZero)
{
    BaseStatement* made = nullptr;
    ASSERT_EQ(0, conn.createStatement(&made));
    auto* stmt = static_cast<HiveStatement*>(made);
    ASSERT_NE(nullptr, stmt->communicator);
    auto* ird = dynamic_cast<HiveIRD*>(stmt->ird);
    ASSERT_NE(nullptr, ird);
    EXPECT_EQ(&ird->record0, ird->record(0));
    EXPECT_EQ(1, ird->implementation);
    EXPECT_EQ(1, ird->isIRD);
    auto* ipd = dynamic_cast<HiveIPD*>(stmt->ipd);
    ASSERT_NE(nullptr, ipd);
    EXPECT_EQ(&ipd->record0, ipd->record(0));
    EXPECT_NE(nullptr, dynamic_cast<HiveIPD*>(stmt->procedureIpd));

    // New records are of the Hive kinds with the framework's defaults.
    ASSERT_EQ(0, ird->setRecordCount(3));
    auto* rec = dynamic_cast<HiveIRDRecord*>(ird->record(3));
    ASSERT_NE(nullptr, rec);
    EXPECT_EQ(static_cast<uint64_t>(kBaseIrdDefaultLength), rec->length);
    EXPECT_EQ(nullptr, rec->currentReader);
    EXPECT_EQ(nullptr, rec->storage.valueBuffer);
    ASSERT_EQ(0, ipd->setRecordCount(2));
    auto* prec = dynamic_cast<HiveIPDRecord*>(ipd->record(2));
    ASSERT_NE(nullptr, prec);
    EXPECT_EQ(2, prec->apdIndex);
    EXPECT_EQ(static_cast<void*>(prec->driverPart), prec->driverExtension());

    BaseCofC* cofc = nullptr;
    ASSERT_EQ(0, stmt->createCofC(&cofc));
    ASSERT_NE(nullptr, dynamic_cast<HiveCofC*>(cofc));
    ASSERT_EQ(0, cofc->setRecordCount(1));
    auto* crec = dynamic_cast<HiveCofCRecord*>(cofc->record(1));
    ASSERT_NE(nullptr, crec);
    EXPECT_EQ(-1, crec->apdIndex);
    delete cofc;
    delete stmt;
}

TEST_F(HiveDescriptorsTest, ACopyOfCDataRecordCopiesItsFlagAndValueButNotTheBuffer)
{
    HiveCofC from(nullptr);
    HiveCofC to(nullptr);
    ASSERT_EQ(0, from.setRecordCount(1));
    ASSERT_EQ(0, to.setRecordCount(1));
    auto* a = static_cast<HiveCofCRecord*>(from.record(1));
    auto* b = static_cast<HiveCofCRecord*>(to.record(1));
    a->driverPart.buffer = static_cast<uint8_t*>(ramAlloc(16));
    a->driverPart.owned = 1;
    a->driverPart.value = 77;
    ASSERT_EQ(0, b->copyFrom(*a));
    EXPECT_EQ(1, b->driverPart.owned);
    EXPECT_EQ(77, b->driverPart.value);
    EXPECT_EQ(nullptr, b->driverPart.buffer);
    // Only the record that owns the buffer frees it (the sanitizer would
    // see a double free otherwise).
    b->driverPart.owned = 0;
}

}  // namespace
