// The HiveServer2 connection's SQLGetInfo answers, SQLGetFunctions answers
// and attribute rules through the exports, on a connection attached open:
// its table over the base one, the answers it gives from what the open
// learned and the options chose, and the version text of the build.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <regex>
#include <string>

#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "hive/hiveinfo.h"
#include "kadrivername.h"
#include "support/exportfixture.h"
#include "support/guarded.h"

using katest::diagOf;
using katest::Guarded;
using katest::narrow;
using katest::u16;

namespace {

class HiveInfo : public katest::ExportFixture {
protected:
    void SetUp() override
    {
        ExportFixture::SetUp();
        conn = attachOpen();
    }

    std::string text(SQLUSMALLINT info)
    {
        Guarded<SQLWCHAR> buffer(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetInfoW(dbc, info, buffer.data(), SQLSMALLINT(buffer.bytes()), &length);
        EXPECT_EQ(rc, SQL_SUCCESS) << info;
        EXPECT_TRUE(buffer.guardsIntact());
        if (!SQL_SUCCEEDED(rc))
            return "<failed>";
        std::string t = narrow(u16(buffer.data()));
        EXPECT_EQ(static_cast<size_t>(length), t.size() * 2) << info;
        return t;
    }

    uint32_t number(SQLUSMALLINT info, int width)
    {
        Guarded<uint8_t> buffer(static_cast<size_t>(width));
        SQLSMALLINT length = 0;
        EXPECT_EQ(SQLGetInfoW(dbc, info, buffer.data(), SQLSMALLINT(width), &length), SQL_SUCCESS) << info;
        EXPECT_EQ(length, width) << info;
        EXPECT_TRUE(buffer.guardsIntact()) << info;
        uint32_t n = 0;
        std::memcpy(&n, buffer.data(), static_cast<size_t>(width));
        return n;
    }

    HiveConnection* conn = nullptr;
};

}  // namespace

TEST_F(HiveInfo, TheTableIsSortedWithoutDuplicates)
{
    ASSERT_EQ(kHiveInfoTable.count, 77);
    for (int16_t i = 1; i < kHiveInfoTable.count; ++i)
        EXPECT_LT(kHiveInfoTable.entries[i - 1].infoType, kHiveInfoTable.entries[i].infoType) << i;
    EXPECT_EQ(conn->driverInfoTable, &kHiveInfoTable);
}

TEST_F(HiveInfo, AnswersThatNeedNoServer)
{
    struct Number {
        SQLUSMALLINT info;
        int width;
        uint32_t value;
    };
    const Number numbers[] = {
        {SQL_ODBC_API_CONFORMANCE, 2, SQL_OAC_LEVEL1},
        {SQL_ODBC_INTERFACE_CONFORMANCE, 4, SQL_OIC_CORE},  // from the base table
        {SQL_CONCAT_NULL_BEHAVIOR, 2, SQL_CB_NULL},         // the driver's over the base's
        {SQL_IDENTIFIER_CASE, 2, SQL_IC_LOWER},
        {SQL_MAX_COLUMN_NAME_LEN, 2, 128},
        {SQL_MAX_SCHEMA_NAME_LEN, 2, 128},
        {SQL_MAX_CATALOG_NAME_LEN, 2, 0},
        {SQL_MAX_IDENTIFIER_LEN, 2, 128},
        {SQL_SCROLL_CONCURRENCY, 4, SQL_SCCO_READ_ONLY},
        {SQL_TXN_ISOLATION_OPTION, 4, SQL_TXN_READ_UNCOMMITTED},
        {SQL_NUMERIC_FUNCTIONS, 4, 8388591},
        {SQL_STRING_FUNCTIONS, 4, 344063},
        {SQL_TIMEDATE_FUNCTIONS, 4, 1998823},
        {SQL_CONVERT_VARCHAR, 4, 160728},
        {SQL_CONVERT_VARBINARY, 4, 0},
        {SQL_SCHEMA_USAGE, 4, 29},
        {SQL_CATALOG_USAGE, 4, 0},
        {SQL_MAX_ROW_SIZE, 4, 2147483647},
        {SQL_OJ_CAPABILITIES, 4, 23},
        {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, 4, 2177},
        {SQL_QUOTED_IDENTIFIER_CASE, 2, SQL_IC_LOWER},
    };
    for (const Number& n : numbers)
        EXPECT_EQ(number(n.info, n.width), n.value) << n.info;
    EXPECT_EQ(text(SQL_IDENTIFIER_QUOTE_CHAR), "`");
    EXPECT_EQ(text(SQL_SCHEMA_TERM), "Database");
    EXPECT_EQ(text(SQL_CATALOG_TERM), "");
    EXPECT_EQ(text(SQL_CATALOG_NAME), "N");
    EXPECT_EQ(text(SQL_DRIVER_ODBC_VER), "03.52");
    // The file name of the module the driver runs in.
    std::string name = text(SQL_DRIVER_NAME);
    EXPECT_TRUE(std::regex_match(name, std::regex(R"([^/]+\.so)"))) << name;
    std::string keywords = text(SQL_KEYWORDS);
    EXPECT_EQ(keywords.rfind("ABSOLUTE,ACTION,ADA,", 0), 0u) << keywords;
    EXPECT_NE(keywords.find(",TBLPROPERTIES,TERMINATED,TEXTFILE,TINYINT,TRANSFORM"), std::string::npos);
    EXPECT_EQ(keywords.find(' '), std::string::npos);
}

TEST_F(HiveInfo, BitmaskAnswersKeepTheirValues)
{
    // The masks are written with the names of the bits they hold; the
    // numbers applications have always been given must not move.
    struct Mask {
        SQLUSMALLINT info;
        uint32_t value;
    };
    const Mask masks[] = {
        {SQL_CONVERT_FUNCTIONS, 3},
        {SQL_NUMERIC_FUNCTIONS, 8388591},
        {SQL_STRING_FUNCTIONS, 344063},
        {SQL_SYSTEM_FUNCTIONS, 6},
        {SQL_TIMEDATE_FUNCTIONS, 1998823},
        {SQL_CONVERT_BIGINT, 160728},
        {SQL_CONVERT_BIT, 160728},
        {SQL_CONVERT_INTEGER, 160728},
        {SQL_CONVERT_REAL, 160728},
        {SQL_CONVERT_SMALLINT, 160728},
        {SQL_CONVERT_TINYINT, 160728},
        {SQL_CONVERT_TIMESTAMP, 144152},
        {SQL_CONVERT_LONGVARCHAR, 160728},
        {SQL_SCHEMA_USAGE, 29},
        {SQL_UNION, 2},
        {SQL_MAX_STATEMENT_LEN, 2147483647},
        {SQL_TIMEDATE_ADD_INTERVALS, 16},
        {SQL_TIMEDATE_DIFF_INTERVALS, 16},
        {SQL_OJ_CAPABILITIES, 23},
        {SQL_CREATE_SCHEMA, 1},
        {SQL_CREATE_TABLE, 1},
        {SQL_DROP_SCHEMA, 7},
        {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, 1},
        {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, 2177},
        {SQL_SQL92_DATETIME_FUNCTIONS, 7},
        {SQL_SQL92_PREDICATES, 7687},
        {SQL_SQL92_RELATIONAL_JOIN_OPERATORS, 344},
        {SQL_SQL92_STRING_FUNCTIONS, 9},
        {SQL_SQL92_VALUE_EXPRESSIONS, 7},
        {SQL_STATIC_CURSOR_ATTRIBUTES2, 6273},
        {SQL_INSERT_STATEMENT, 2},
        {SQL_MAX_TABLE_NAME_LEN, 128},
    };
    for (const Mask& m : masks)
        EXPECT_EQ(number(m.info, m.info == SQL_MAX_TABLE_NAME_LEN ? 2 : 4), m.value) << m.info;
}

TEST_F(HiveInfo, TheVersionComesFromTheBuild)
{
    std::string version = text(SQL_DRIVER_VER);
    EXPECT_EQ(version, KA_DRIVER_VERSION);
    EXPECT_TRUE(std::regex_match(version, std::regex(R"(\d\d\.\d\d\.\d{4} \(B\d{4}, U\d{4}\))"))) << version;
}

TEST_F(HiveInfo, ServerAnswersReadWhatTheOpenLearned)
{
    // Before the open has told anything: the driver's own product name.
    EXPECT_EQ(text(SQL_DBMS_NAME), "HiveServer2");
    EXPECT_EQ(text(SQL_DBMS_VER), "");
    EXPECT_EQ(text(SQL_SERVER_NAME), "");
    std::strcpy(conn->dbmsNameText, "Apache Hive");
    std::strcpy(conn->dbmsVersion, "03.01.0003");
    auto* host = static_cast<uint16_t*>(ramAlloc(10 * 2));
    std::memcpy(host, u"localhost", 10 * 2);
    conn->hostName = host;
    EXPECT_EQ(text(SQL_DBMS_NAME), "Apache Hive");
    EXPECT_EQ(text(SQL_DBMS_VER), "03.01.0003");
    EXPECT_EQ(text(SQL_SERVER_NAME), "localhost");
    // The session's database: "default" unless Database named another.
    EXPECT_EQ(text(SQL_DATABASE_NAME), "default");
    auto* database = static_cast<uint16_t*>(ramAlloc(6 * 2));
    std::memcpy(database, u"sales", 6 * 2);
    conn->databaseName = database;
    EXPECT_EQ(text(SQL_DATABASE_NAME), "sales");
}

TEST_F(HiveInfo, OptionsDecideTransactionsDescribeParamAndGetData)
{
    EXPECT_EQ(number(SQL_TXN_CAPABLE, 2), uint32_t{SQL_TC_NONE});
    EXPECT_EQ(number(SQL_DEFAULT_TXN_ISOLATION, 4), 0u);
    EXPECT_EQ(text(SQL_DATA_SOURCE_READ_ONLY), "N");
    EXPECT_EQ(text(SQL_DESCRIBE_PARAMETER), "N");
    conn->longDataCache = 1;
    EXPECT_EQ(number(SQL_GETDATA_EXTENSIONS, 4), uint32_t{SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND});
    // Without transactions autocommit stays on.
    EXPECT_EQ(
        SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_AUTOCOMMIT_OFF}), 0),
        SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HYC00");

    conn->transactionMode = 1;
    conn->dataSourceReadOnly = 1;
    conn->enableDescribeParam = 1;
    conn->longDataCache = 0;
    EXPECT_EQ(number(SQL_TXN_CAPABLE, 2), uint32_t{SQL_TC_ALL});
    EXPECT_EQ(number(SQL_DEFAULT_TXN_ISOLATION, 4), uint32_t{SQL_TXN_READ_UNCOMMITTED});
    EXPECT_EQ(text(SQL_DATA_SOURCE_READ_ONLY), "Y");
    EXPECT_EQ(text(SQL_DESCRIBE_PARAMETER), "Y");
    EXPECT_EQ(number(SQL_GETDATA_EXTENSIONS, 4), uint32_t{SQL_GD_ANY_COLUMN | SQL_GD_BOUND});
    EXPECT_EQ(
        SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_AUTOCOMMIT_OFF}), 0),
        SQL_SUCCESS);
    EXPECT_EQ(conn->autocommit, SQL_AUTOCOMMIT_OFF);
}

TEST_F(HiveInfo, FunctionsTheDriverDoesNotOfferAreReportedSo)
{
    SQLUSMALLINT all[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = {};
    ASSERT_EQ(SQLGetFunctions(dbc, SQL_API_ODBC3_ALL_FUNCTIONS, all), SQL_SUCCESS);
    for (SQLUSMALLINT f :
         {SQL_API_SQLBROWSECONNECT, SQL_API_SQLPROCEDURECOLUMNS, SQL_API_SQLPROCEDURES, SQL_API_SQLSETPOS,
          SQL_API_SQLBULKOPERATIONS, SQL_API_SQLTABLEPRIVILEGES, SQL_API_SQLDESCRIBEPARAM})
        EXPECT_FALSE(SQL_FUNC_EXISTS(all, f)) << f;
    for (SQLUSMALLINT f : {SQL_API_SQLFETCH, SQL_API_SQLTABLES, SQL_API_SQLGETINFO, SQL_API_SQLPRIMARYKEYS,
                           SQL_API_SQLSETCURSORNAME, SQL_API_SQLGETCURSORNAME})
        EXPECT_TRUE(SQL_FUNC_EXISTS(all, f)) << f;
    SQLUSMALLINT one = 9;
    ASSERT_EQ(SQLGetFunctions(dbc, SQL_API_SQLPROCEDURES, &one), SQL_SUCCESS);
    EXPECT_EQ(one, SQL_FALSE);
    conn->enableDescribeParam = 1;
    ASSERT_EQ(SQLGetFunctions(dbc, SQL_API_SQLDESCRIBEPARAM, &one), SQL_SUCCESS);
    EXPECT_EQ(one, SQL_TRUE);
}

TEST_F(HiveInfo, PacketSizeIsNotOfferedAndALinkWithoutASocketIsDead)
{
    SQLUINTEGER value = 7;
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_PACKET_SIZE, &value, 4, nullptr), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HYC00");
    // Marked open, but no socket carries it.
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_CONNECTION_DEAD, &value, 4, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, SQLUINTEGER{SQL_CD_TRUE});
}
