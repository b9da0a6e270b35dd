// SQLGetInfoW through the exports: every information type of the base
// table before a connection and on a connected fake, at its width (numbers
// never cut, texts cut with 01004), and the answers that the connection's
// state and the driver's own table change.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "foundation/errpost.h"
#include "foundation/ram.h"
#include "kadrivername.h"
#include "kamessages.h"
#include "odbc/baseinfo.h"
#include "support/exportfixture.h"
#include "support/guarded.h"
#include "support/testconnection.h"

using katest::diagOf;
using katest::Guarded;
using katest::narrow;
using katest::u16;

namespace {

const char16_t* const kVersion = KA_DRIVER_VERSION_W;

// The base table as the framework documents it: info type, width of a
// number (0 a text, -1 a resource text by number), number, text.
struct Expected {
    SQLUSMALLINT info;
    int width;
    uint32_t number;
    const char16_t* text;
};
const Expected kTable[] = {
    {SQL_MAX_DRIVER_CONNECTIONS, 2, 0u, nullptr},
    {SQL_MAX_CONCURRENT_ACTIVITIES, 2, 0u, nullptr},
    {SQL_DRIVER_VER, 0, 0, kVersion},
    {SQL_FETCH_DIRECTION, 4, 1u, nullptr},
    {SQL_ODBC_API_CONFORMANCE, 2, 1u, nullptr},
    {SQL_ROW_UPDATES, 0, 0, u"N"},
    {SQL_ODBC_SAG_CLI_CONFORMANCE, 2, 1u, nullptr},
    {SQL_SERVER_NAME, 0, 0, u""},
    {SQL_SEARCH_PATTERN_ESCAPE, 0, 0, u"\\"},
    {SQL_ODBC_SQL_CONFORMANCE, 2, 0u, nullptr},
    {SQL_DBMS_NAME, -1, 20101, nullptr},
    {SQL_ACCESSIBLE_TABLES, 0, 0, u"N"},
    {SQL_ACCESSIBLE_PROCEDURES, 0, 0, u"N"},
    {SQL_PROCEDURES, 0, 0, u"Y"},
    {SQL_CONCAT_NULL_BEHAVIOR, 2, 1u, nullptr},
    {SQL_CURSOR_COMMIT_BEHAVIOR, 2, 2u, nullptr},
    {SQL_CURSOR_ROLLBACK_BEHAVIOR, 2, 2u, nullptr},
    {SQL_DATA_SOURCE_READ_ONLY, 0, 0, u"N"},
    {SQL_EXPRESSIONS_IN_ORDERBY, 0, 0, u"N"},
    {SQL_IDENTIFIER_CASE, 2, 1u, nullptr},
    {SQL_IDENTIFIER_QUOTE_CHAR, 0, 0, u" "},
    {SQL_MAX_CURSOR_NAME_LEN, 2, 26u, nullptr},
    {SQL_MAX_SCHEMA_NAME_LEN, 2, 0u, nullptr},
    {SQL_MAX_PROCEDURE_NAME_LEN, 2, 0u, nullptr},
    {SQL_MAX_CATALOG_NAME_LEN, 2, 0u, nullptr},
    {SQL_MULT_RESULT_SETS, 0, 0, u"N"},
    {SQL_MULTIPLE_ACTIVE_TXN, 0, 0, u"Y"},
    {SQL_OUTER_JOINS, 0, 0, u"Y"},
    {SQL_SCHEMA_TERM, -1, 20102, nullptr},
    {SQL_PROCEDURE_TERM, -1, 20105, nullptr},
    {SQL_CATALOG_NAME_SEPARATOR, 0, 0, u"."},
    {SQL_CATALOG_TERM, -1, 20104, nullptr},
    {SQL_SCROLL_CONCURRENCY, 4, 9u, nullptr},
    {SQL_SCROLL_OPTIONS, 4, 1u, nullptr},
    {SQL_TABLE_TERM, -1, 20106, nullptr},
    {SQL_TXN_CAPABLE, 2, 1u, nullptr},
    {SQL_CONVERT_FUNCTIONS, 4, 0u, nullptr},
    {SQL_CONVERT_BIGINT, 4, 0u, nullptr},
    {SQL_CONVERT_BINARY, 4, 0u, nullptr},
    {SQL_CONVERT_BIT, 4, 0u, nullptr},
    {SQL_CONVERT_CHAR, 4, 0u, nullptr},
    {SQL_CONVERT_DATE, 4, 0u, nullptr},
    {SQL_CONVERT_DECIMAL, 4, 0u, nullptr},
    {SQL_CONVERT_DOUBLE, 4, 0u, nullptr},
    {SQL_CONVERT_FLOAT, 4, 0u, nullptr},
    {SQL_CONVERT_INTEGER, 4, 0u, nullptr},
    {SQL_CONVERT_LONGVARCHAR, 4, 0u, nullptr},
    {SQL_CONVERT_NUMERIC, 4, 0u, nullptr},
    {SQL_CONVERT_REAL, 4, 0u, nullptr},
    {SQL_CONVERT_SMALLINT, 4, 0u, nullptr},
    {SQL_CONVERT_TIME, 4, 0u, nullptr},
    {SQL_CONVERT_TIMESTAMP, 4, 0u, nullptr},
    {SQL_CONVERT_TINYINT, 4, 0u, nullptr},
    {SQL_CONVERT_VARBINARY, 4, 0u, nullptr},
    {SQL_CONVERT_VARCHAR, 4, 0u, nullptr},
    {SQL_CONVERT_LONGVARBINARY, 4, 0u, nullptr},
    {SQL_INTEGRITY, 0, 0, u"N"},
    {SQL_CORRELATION_NAME, 2, 2u, nullptr},
    {SQL_NON_NULLABLE_COLUMNS, 2, 1u, nullptr},
    {SQL_DRIVER_ODBC_VER, 0, 0, u"03.52"},
    {SQL_LOCK_TYPES, 4, 0u, nullptr},
    {SQL_POSITIONED_STATEMENTS, 4, 7u, nullptr},
    {SQL_GETDATA_EXTENSIONS, 4, 11u, nullptr},
    {SQL_BOOKMARK_PERSISTENCE, 4, 0u, nullptr},
    {SQL_STATIC_SENSITIVITY, 4, 0u, nullptr},
    {SQL_FILE_USAGE, 2, 0u, nullptr},
    {SQL_NULL_COLLATION, 2, 1u, nullptr},
    {SQL_ALTER_TABLE, 4, 1u, nullptr},
    {SQL_COLUMN_ALIAS, 0, 0, u"N"},
    {SQL_GROUP_BY, 2, 2u, nullptr},
    {SQL_KEYWORDS, 0, 0, u""},
    {SQL_ORDER_BY_COLUMNS_IN_SELECT, 0, 0, u"Y"},
    {SQL_SCHEMA_USAGE, 4, 31u, nullptr},
    {SQL_CATALOG_USAGE, 4, 1u, nullptr},
    {SQL_QUOTED_IDENTIFIER_CASE, 2, 3u, nullptr},
    {SQL_SPECIAL_CHARACTERS, 0, 0, u""},
    {SQL_SUBQUERIES, 4, 31u, nullptr},
    {SQL_UNION, 4, 3u, nullptr},
    {SQL_MAX_COLUMNS_IN_GROUP_BY, 2, 0u, nullptr},
    {SQL_MAX_COLUMNS_IN_INDEX, 2, 0u, nullptr},
    {SQL_MAX_COLUMNS_IN_ORDER_BY, 2, 0u, nullptr},
    {SQL_MAX_COLUMNS_IN_SELECT, 2, 0u, nullptr},
    {SQL_MAX_COLUMNS_IN_TABLE, 2, 0u, nullptr},
    {SQL_MAX_INDEX_SIZE, 4, 0u, nullptr},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, 0, 0, u"N"},
    {SQL_MAX_ROW_SIZE, 4, 0u, nullptr},
    {SQL_MAX_STATEMENT_LEN, 4, 0u, nullptr},
    {SQL_MAX_TABLES_IN_SELECT, 2, 0u, nullptr},
    {SQL_MAX_CHAR_LITERAL_LEN, 4, 0u, nullptr},
    {SQL_TIMEDATE_ADD_INTERVALS, 4, 0u, nullptr},
    {SQL_TIMEDATE_DIFF_INTERVALS, 4, 0u, nullptr},
    {SQL_NEED_LONG_DATA_LEN, 0, 0, u"Y"},
    {SQL_MAX_BINARY_LITERAL_LEN, 4, 0u, nullptr},
    {SQL_LIKE_ESCAPE_CLAUSE, 0, 0, u"N"},
    {SQL_CATALOG_LOCATION, 2, 1u, nullptr},
    {SQL_OJ_CAPABILITIES, 4, 41u, nullptr},
    {SQL_ACTIVE_ENVIRONMENTS, 2, 0u, nullptr},
    {SQL_ALTER_DOMAIN, 4, 0u, nullptr},
    {SQL_SQL_CONFORMANCE, 4, 1u, nullptr},
    {SQL_DATETIME_LITERALS, 4, 0u, nullptr},
    {SQL_BATCH_ROW_COUNT, 4, 0u, nullptr},
    {SQL_BATCH_SUPPORT, 4, 0u, nullptr},
    {SQL_CONVERT_WCHAR, 4, 0u, nullptr},
    {SQL_CONVERT_INTERVAL_DAY_TIME, 4, 0u, nullptr},
    {SQL_CONVERT_INTERVAL_YEAR_MONTH, 4, 0u, nullptr},
    {SQL_CONVERT_WLONGVARCHAR, 4, 0u, nullptr},
    {SQL_CONVERT_WVARCHAR, 4, 0u, nullptr},
    {SQL_CREATE_ASSERTION, 4, 0u, nullptr},
    {SQL_CREATE_CHARACTER_SET, 4, 0u, nullptr},
    {SQL_CREATE_COLLATION, 4, 0u, nullptr},
    {SQL_CREATE_DOMAIN, 4, 0u, nullptr},
    {SQL_CREATE_SCHEMA, 4, 0u, nullptr},
    {SQL_CREATE_TABLE, 4, 0u, nullptr},
    {SQL_CREATE_TRANSLATION, 4, 0u, nullptr},
    {SQL_CREATE_VIEW, 4, 1u, nullptr},
    {SQL_DROP_ASSERTION, 4, 0u, nullptr},
    {SQL_DROP_CHARACTER_SET, 4, 0u, nullptr},
    {SQL_DROP_COLLATION, 4, 0u, nullptr},
    {SQL_DROP_DOMAIN, 4, 0u, nullptr},
    {SQL_DROP_SCHEMA, 4, 0u, nullptr},
    {SQL_DROP_TABLE, 4, 1u, nullptr},
    {SQL_DROP_TRANSLATION, 4, 0u, nullptr},
    {SQL_DROP_VIEW, 4, 1u, nullptr},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, 4, 0u, nullptr},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, 4, 0u, nullptr},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, 4, 1u, nullptr},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, 4, 2176u, nullptr},
    {SQL_INDEX_KEYWORDS, 4, 3u, nullptr},
    {SQL_INFO_SCHEMA_VIEWS, 4, 0u, nullptr},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, 4, 0u, nullptr},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, 4, 0u, nullptr},
    {SQL_ODBC_INTERFACE_CONFORMANCE, 4, 1u, nullptr},
    {SQL_PARAM_ARRAY_ROW_COUNTS, 4, 2u, nullptr},
    {SQL_PARAM_ARRAY_SELECTS, 4, 3u, nullptr},
    {SQL_SQL92_DATETIME_FUNCTIONS, 4, 0u, nullptr},
    {SQL_SQL92_FOREIGN_KEY_DELETE_RULE, 4, 0u, nullptr},
    {SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, 4, 0u, nullptr},
    {SQL_SQL92_GRANT, 4, 0u, nullptr},
    {SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, 4, 0u, nullptr},
    {SQL_SQL92_PREDICATES, 4, 0u, nullptr},
    {SQL_SQL92_RELATIONAL_JOIN_OPERATORS, 4, 0u, nullptr},
    {SQL_SQL92_REVOKE, 4, 0u, nullptr},
    {SQL_SQL92_ROW_VALUE_CONSTRUCTOR, 4, 0u, nullptr},
    {SQL_SQL92_STRING_FUNCTIONS, 4, 0u, nullptr},
    {SQL_SQL92_VALUE_EXPRESSIONS, 4, 0u, nullptr},
    {SQL_STANDARD_CLI_CONFORMANCE, 4, 3u, nullptr},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, 4, 0u, nullptr},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, 4, 0u, nullptr},
    {SQL_AGGREGATE_FUNCTIONS, 4, 64u, nullptr},
    {SQL_DDL_INDEX, 4, 3u, nullptr},
    {SQL_INSERT_STATEMENT, 4, 7u, nullptr},
    {1012, 0, 0, u""},
    {1013, 0, 0, u""},
    {1014, 0, 0, u""},
    {1015, 0, 0, u""},
    {1016, 0, 0, u"_0123456789"},
    {1018, 0, 0, u""},
    {1019, 0, 0, u"_0123456789"},
    {1020, 2, 0u, nullptr},
    {1021, 2, 65535u, nullptr},
    {1022, 2, 0u, nullptr},
    {1023, 0, 0, u"FOR UPDATE OF"},
    {1024, 2, 1u, nullptr},
    {1025, 4, 0u, nullptr},
    {1026, 2, 0u, nullptr},
    {1027, 0, 0, u""},
    {SQL_XOPEN_CLI_YEAR, 0, 0, u"1995"},
    {SQL_CURSOR_SENSITIVITY, 4, 1u, nullptr},
    {SQL_DESCRIBE_PARAMETER, 0, 0, u"N"},
    {SQL_COLLATION_SEQ, 0, 0, u""},
    {SQL_MAX_IDENTIFIER_LEN, 2, 0u, nullptr},
    {SQL_ASYNC_MODE, 4, 0u, nullptr},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, 4, 0u, nullptr},
};

katest::TestConnectionControl gControl;

BaseEnv* makeTestEnv() noexcept
{
    return new katest::TestEnv(&gControl);
}

// What one SQLGetInfoW call gave.
struct Answer {
    SQLRETURN rc;
    std::u16string text;
    uint32_t number;
    SQLSMALLINT length;
    bool guardsIntact;
};

class InfoTest : public katest::ExportHandles {
protected:
    void connect()
    {
        std::u16string in = u"DSN=test;UID=someone;PWD=p";
        SQLSMALLINT outLength = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(
            SQLDriverConnectW(dbc, nullptr, katest::W(in), SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT)));
    }

    // A number into a buffer of exactly its width: a wider write hits the
    // guards.
    Answer number(SQLUSMALLINT info, int width)
    {
        Guarded<uint8_t> buffer(static_cast<size_t>(width));
        SQLSMALLINT length = -1;
        SQLRETURN rc = SQLGetInfoW(dbc, info, buffer.data(), SQLSMALLINT(width), &length);
        uint32_t n = 0;
        if (width == 2) {
            uint16_t v = 0;
            std::memcpy(&v, buffer.data(), 2);
            n = v;
        } else {
            std::memcpy(&n, buffer.data(), 4);
        }
        return {rc, {}, n, length, buffer.guardsIntact()};
    }

    Answer text(SQLUSMALLINT info, size_t units = 1024)
    {
        Guarded<SQLWCHAR> buffer(units);
        SQLSMALLINT length = -1;
        SQLRETURN rc = SQLGetInfoW(dbc, info, buffer.data(), SQLSMALLINT(buffer.bytes()), &length);
        std::u16string t = SQL_SUCCEEDED(rc) ? u16(buffer.data()) : u"<failed>";
        return {rc, t, 0, length, buffer.guardsIntact()};
    }

    static std::u16string resource(uint32_t number)
    {
        uint16_t text[512] = {};
        errLoadMessageW(text, 512, static_cast<uint16_t>(number));
        return u16(text);
    }

    // Every entry at its width, with its value unless skipped.
    void checkTable(const std::map<SQLUSMALLINT, bool>& skipValue)
    {
        for (const Expected& e : kTable) {
            bool value = skipValue.count(e.info) == 0;
            if (e.width > 0) {
                Answer a = number(e.info, e.width);
                EXPECT_EQ(a.rc, SQL_SUCCESS) << e.info;
                EXPECT_EQ(a.length, e.width) << e.info;
                EXPECT_TRUE(a.guardsIntact) << e.info;
                if (value) {
                    EXPECT_EQ(a.number, e.number) << e.info;
                }
                continue;
            }
            std::u16string want = e.width == 0 ? std::u16string(e.text) : resource(e.number);
            Answer a = text(e.info);
            EXPECT_EQ(a.rc, SQL_SUCCESS) << e.info;
            EXPECT_TRUE(a.guardsIntact) << e.info;
            if (!value)
                continue;
            EXPECT_EQ(a.text, want) << e.info;
            EXPECT_EQ(a.length, static_cast<SQLSMALLINT>(want.size() * 2)) << e.info;
            if (want.size() < 2)
                continue;
            // Two units hold one character and the terminator: the rest is
            // cut with a warning, and the full length is still reported.
            Answer cut = text(e.info, 2);
            EXPECT_EQ(cut.rc, SQL_SUCCESS_WITH_INFO) << e.info;
            EXPECT_EQ(cut.text, want.substr(0, 1)) << e.info;
            EXPECT_EQ(cut.length, static_cast<SQLSMALLINT>(want.size() * 2)) << e.info;
            EXPECT_TRUE(cut.guardsIntact) << e.info;
            EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "01004") << e.info;
        }
    }

    katest::EnvFactoryScope factory{makeTestEnv};
};

// A driver's table over the base one, and a driver answer by hook.
const BaseInfoEntry kDriverEntries[] = {
    {SQL_DBMS_VER, 0, nullptr, kBaseInfoDriver},
    {SQL_CONCAT_NULL_BEHAVIOR, SQL_CB_NON_NULL, nullptr, kBaseInfoShort},
    {SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_DELETE, nullptr, kBaseInfoShort},
    {SQL_MAX_CATALOG_NAME_LEN, 64, nullptr, kBaseInfoShort},
    {SQL_MULT_RESULT_SETS, 0, u"Y", kBaseInfoText},
    {SQL_TXN_ISOLATION_OPTION, SQL_TXN_READ_COMMITTED, nullptr, kBaseInfoInt},
    {SQL_MAX_INDEX_SIZE, 0, nullptr, kBaseInfoDriver},
};
const BaseInfoTable kDriverTable = {static_cast<int16_t>(std::size(kDriverEntries)), nullptr, kDriverEntries};

class TableConnection : public katest::TestConnection {
public:
    TableConnection(BaseEnv* env, katest::TestConnectionControl* control) noexcept : TestConnection(env, control)
    {
        driverInfoTable = &kDriverTable;
    }
    int16_t driverInfoValue(uint16_t infoType, uint64_t* value, int32_t* kind) noexcept override
    {
        ++hookCalls;
        if (infoType == SQL_DBMS_VER) {
            auto* text = static_cast<uint16_t*>(ramAlloc(6 * 2));
            if (text == nullptr)
                return 1;
            std::memcpy(text, u"01.02", 6 * 2);
            *value = reinterpret_cast<uintptr_t>(text);
            *kind = kBaseInfoText;
        } else if (infoType == SQL_MAX_INDEX_SIZE) {
            *value = 4096;
            *kind = kBaseInfoLimit;
        }
        return 0;
    }
    int hookCalls = 0;
};

}  // namespace

TEST_F(InfoTest, TheBaseTableIsSortedWithoutDuplicates)
{
    ASSERT_EQ(kBaseInfoTable.count, static_cast<int16_t>(std::size(kTable)));
    for (int16_t i = 1; i < kBaseInfoTable.count; ++i)
        EXPECT_LT(kBaseInfoTable.entries[i - 1].infoType, kBaseInfoTable.entries[i].infoType) << i;
}

TEST_F(InfoTest, EveryBaseAnswerBeforeConnectingHasItsTypeAndWidth)
{
    // Numbers are written as numbers even before a connection exists.
    checkTable({});
    EXPECT_EQ(handleObject()->current, nullptr);
}

TEST_F(InfoTest, EveryBaseAnswerOnAConnectionHasItsTypeAndWidth)
{
    connect();
    // What the connection's state decides: no procedures, schemas or
    // catalogs in the base table, the cursor emulation, the thread model.
    const std::map<SQLUSMALLINT, bool> stateful = {
        {SQL_FETCH_DIRECTION, true},
        {SQL_SCROLL_OPTIONS, true},
        {SQL_ACCESSIBLE_PROCEDURES, true},
        {SQL_PROCEDURES, true},
        {SQL_SCHEMA_TERM, true},
        {SQL_PROCEDURE_TERM, true},
        {SQL_CATALOG_NAME_SEPARATOR, true},
        {SQL_CATALOG_TERM, true},
        {SQL_SCROLL_CONCURRENCY, true},
        {SQL_LOCK_TYPES, true},
        {SQL_BOOKMARK_PERSISTENCE, true},
        {SQL_SCHEMA_USAGE, true},
        {SQL_CATALOG_USAGE, true},
        {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, true},
        {SQL_KEYSET_CURSOR_ATTRIBUTES1, true},
        {SQL_STATIC_CURSOR_ATTRIBUTES1, true},
        {SQL_STATIC_CURSOR_ATTRIBUTES2, true},
        {SQL_CATALOG_LOCATION, true},
        {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, true},
        // The fake's DBMS name tells what its open was asked.
        {SQL_DBMS_NAME, true},
    };
    checkTable(stateful);
    EXPECT_EQ(text(SQL_PROCEDURES).text, u"N");
    EXPECT_EQ(text(SQL_ACCESSIBLE_PROCEDURES).text, u"N");
    EXPECT_EQ(text(SQL_PROCEDURE_TERM).text, u"");
    EXPECT_EQ(text(SQL_SCHEMA_TERM).text, u"");
    EXPECT_EQ(text(SQL_CATALOG_TERM).text, u"");
    EXPECT_EQ(text(SQL_CATALOG_NAME_SEPARATOR).text, u"");
    EXPECT_EQ(text(SQL_CATALOG_NAME).text, u"N");
    EXPECT_EQ(number(SQL_CATALOG_USAGE, 4).number, 0u);
    EXPECT_EQ(number(SQL_SCHEMA_USAGE, 4).number, 0u);
    EXPECT_EQ(number(SQL_CATALOG_LOCATION, 2).number, 0u);
    // Only the driver says what concurrency its cursors offer: read-only
    // and values by default, never the base table's answer by fallback.
    EXPECT_EQ(number(SQL_SCROLL_CONCURRENCY, 4).number, uint32_t{SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_VALUES});
    EXPECT_EQ(number(kBaseInfoThreadModel, 2).number, uint32_t(kBaseThreadPerConnection));
    EXPECT_EQ(number(kBaseInfoPrivateFeature, 4).number, 7u);
    EXPECT_EQ(text(SQL_USER_NAME).text, u"someone");
    EXPECT_EQ(text(SQL_DATABASE_NAME).text, u"");
}

TEST_F(InfoTest, OldNumbersAnswerAsTheirOdbcInfoTypes)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1)
            connect();
        EXPECT_EQ(number(kBaseInfoFileUsageOld, 2).number, number(SQL_FILE_USAGE, 2).number);
        EXPECT_EQ(text(kBaseInfoKeywordsOld).text, text(SQL_KEYWORDS).text);
    }
}

TEST_F(InfoTest, UnknownInfoTypesAndBadLengthsAreRefused)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1)
            connect();
        SQLUSMALLINT out = 0;
        EXPECT_EQ(SQLGetInfoW(dbc, 9999, &out, 2, nullptr), SQL_ERROR);
        EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HYC00");
        SQLWCHAR text[8];
        EXPECT_EQ(SQLGetInfoW(dbc, SQL_DRIVER_VER, text, -2, nullptr), SQL_ERROR);
        EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HY090");
        // A null buffer only measures.
        SQLSMALLINT length = 0;
        EXPECT_EQ(SQLGetInfoW(dbc, SQL_KEYWORDS, nullptr, 0, &length), SQL_SUCCESS);
        EXPECT_EQ(length, 0);
    }
}

TEST_F(InfoTest, TheDriversTableComesFirstAndItsHookAnswersWhatItLeavesOpen)
{
    auto* conn = new TableConnection(static_cast<BaseEnv*>(env), &gControl);
    handleObject()->setCurrentConnection(conn);
    conn->connectionFlags |= kBaseConnConnected;
    EXPECT_EQ(number(SQL_CONCAT_NULL_BEHAVIOR, 2).number, uint32_t{SQL_CB_NON_NULL});
    EXPECT_EQ(number(SQL_NULL_COLLATION, 2).number, 1u);  // the base table's
    EXPECT_EQ(text(SQL_DBMS_VER).text, u"01.02");
    EXPECT_EQ(number(SQL_MAX_INDEX_SIZE, 4).number, 4096u);
    EXPECT_EQ(conn->hookCalls, 2);
    // The database the open switched to, which the connection owns.
    auto* database = static_cast<uint16_t*>(ramAlloc(6 * 2));
    std::memcpy(database, u"sales", 6 * 2);
    conn->databaseNameW = database;
    EXPECT_EQ(text(SQL_DATABASE_NAME).text, u"sales");
    // Catalogs exist here: their name, term and separator come through.
    EXPECT_EQ(text(SQL_CATALOG_NAME).text, u"Y");
    EXPECT_EQ(text(SQL_CATALOG_TERM).text, u"catalog");
    EXPECT_EQ(text(SQL_CATALOG_NAME_SEPARATOR).text, u".");
    // WORKAROUNDS bit 1 keeps prepared statements: deleting becomes closing.
    EXPECT_EQ(number(SQL_CURSOR_COMMIT_BEHAVIOR, 2).number, uint32_t{SQL_CB_DELETE});
    conn->workarounds |= 0x1;
    EXPECT_EQ(number(SQL_CURSOR_COMMIT_BEHAVIOR, 2).number, uint32_t{SQL_CB_CLOSE});
    // WORKAROUNDS bit 2 says there are no catalogs.
    conn->workarounds |= 0x2;
    EXPECT_EQ(number(SQL_MAX_CATALOG_NAME_LEN, 2).number, 0u);
    EXPECT_EQ(text(SQL_CATALOG_NAME).text, u"N");
    EXPECT_EQ(text(SQL_CATALOG_TERM).text, u"");
    // WORKAROUNDS2 bit 0x400 reports no multiple result sets.
    EXPECT_EQ(text(SQL_MULT_RESULT_SETS).text, u"Y");
    conn->workarounds2 |= 0x400;
    EXPECT_EQ(text(SQL_MULT_RESULT_SETS).text, u"N");
    // Lock-based concurrency when the driver's table has none.
    conn->infoFlags |= kBaseInfoLockConcurrency;
    EXPECT_EQ(number(SQL_SCROLL_CONCURRENCY, 4).number, uint32_t{SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK});
    // Static cursors add to the scroll options.
    conn->infoFlags |= kBaseInfoStaticCursors;
    EXPECT_EQ(number(SQL_SCROLL_OPTIONS, 4).number, uint32_t{SQL_SO_FORWARD_ONLY | SQL_SO_STATIC});
}

TEST_F(InfoTest, ThePrivateInfoTypesFollowAttribute1139)
{
    connect();
    EXPECT_EQ(number(kBaseInfoPrivateSwitch, 2).rc, SQL_SUCCESS);
    ASSERT_EQ(SQLSetConnectAttrW(dbc, 1139, reinterpret_cast<SQLPOINTER>(intptr_t{0}), 0), SQL_SUCCESS);
    for (SQLUSMALLINT info : {kBaseInfoPrivateSwitch, kBaseInfoPrivateFeature}) {
        EXPECT_EQ(number(info, 4).rc, SQL_ERROR) << info;
        EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HYC00");
    }
}

TEST_F(InfoTest, PrivateTextsMayComeInTheApplicationsCodePage)
{
    connect();
    auto* conn = handleObject()->current;
    conn->infoFlags |= kBaseInfoPrivateTextsNarrow;
    char buffer[32] = {};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetInfoW(dbc, 1023, buffer, sizeof buffer, &length), SQL_SUCCESS);
    EXPECT_STREQ(buffer, "FOR UPDATE OF");
    EXPECT_EQ(length, 13);
    length = 0;
    EXPECT_EQ(SQLGetInfoW(dbc, 1023, nullptr, 0, &length), SQL_SUCCESS);
    EXPECT_EQ(length, 13);
    // ODBC's own texts above the private range stay wide.
    EXPECT_EQ(text(SQL_XOPEN_CLI_YEAR).text, u"1995");
    Guarded<char> small(5);
    EXPECT_EQ(SQLGetInfoW(dbc, 1023, small.data(), SQLSMALLINT(small.bytes()), &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(small.data()), "FOR ");
    EXPECT_TRUE(small.guardsIntact());
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "01004");
}
