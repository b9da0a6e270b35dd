// SQLGetTypeInfo, SQLStatistics, SQLSpecialColumns, SQLPrimaryKeys,
// SQLForeignKeys, SQLProcedures, SQLProcedureColumns, SQLColumnPrivileges
// and SQLTablePrivileges over a scripted driver: results built from the
// hooks' rows (or the connection's type table), filtered, sorted and read
// back through the statement's fetch and SQLGetData, with the Hive
// connection's SQLGetInfo answers.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "catalog/basecata.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/basestmterr.h"
#include "support/catalogrows.h"
#include "support/connfixture.h"
#include "support/teststatement.h"
#include "support/u16.h"

namespace {

using katest::W;

using katest::Cell;
using katest::Row;

// The hooks a result comes from.
enum class Source { TypeInfo, Statistics, Special, Columns, Primary, Foreign, Procs, ProcCols, ColPrivs, TabPrivs };

// A statement whose catalog hooks each start a scripted driver result.
class ScriptedStatement : public BaseCatalogStatement {
public:
    explicit ScriptedStatement(BaseConnection* conn) noexcept : BaseCatalogStatement(conn) {}

    std::map<Source, std::vector<Row>> results;
    std::vector<Source> started;
    bool specialAnswers = false;
    int16_t statisticsFlag = -1;

    int16_t start(Source s) noexcept
    {
        started.push_back(s);
        current = &results[s];
        cursor = 0;
        return 0;
    }
    int16_t getTypeInfoHook(int16_t) noexcept override { return start(Source::TypeInfo); }
    int16_t statisticsHook(int16_t flag) noexcept override
    {
        statisticsFlag = flag;
        return start(Source::Statistics);
    }
    int16_t specialColumnsHook(int16_t* noAnswer) noexcept override
    {
        *noAnswer = specialAnswers ? 0 : 1;
        return start(Source::Special);
    }
    int16_t columnsHook() noexcept override { return start(Source::Columns); }
    int16_t primaryKeysHook() noexcept override { return start(Source::Primary); }
    int16_t foreignKeysHook() noexcept override { return start(Source::Foreign); }
    int16_t proceduresHook() noexcept override { return start(Source::Procs); }
    int16_t procedureColumnsHook() noexcept override { return start(Source::ProcCols); }
    int16_t columnPrivilegesHook() noexcept override { return start(Source::ColPrivs); }
    int16_t tablePrivilegesHook() noexcept override { return start(Source::TabPrivs); }

    int16_t catalogFetchRow(int16_t* end) noexcept override
    {
        if (current == nullptr || cursor >= current->size()) {
            *end = 1;
            return 0;
        }
        ++cursor;
        *end = 0;
        return 0;
    }
    int16_t catalogColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override
    {
        return katest::putScriptedCell((*current)[cursor - 1], column, cType, out);
    }

private:
    std::vector<Row>* current = nullptr;
    size_t cursor = 0;
};

// The driver's look at SQLGetTypeInfo's rows before they are ordered: it
// may drop some, or fail the call.
class TypeHookConnection : public katest::TestStmtConnection {
public:
    using TestStmtConnection::TestStmtConnection;
    int16_t typeInfoHook(KaSortedArray* rows, int16_t dataType) noexcept override
    {
        requested.push_back(dataType);
        if (failTypeInfo) {
            basePostError(kBaseIdxGeneralError);
            return 1;
        }
        // Keeps every row but the last, to show the hook works on the rows
        // the result is made of.
        if (dropLastRow && rows->count != 0)
            rows->deleteAt(rows->count - 1);
        return TestStmtConnection::typeInfoHook(rows, dataType);
    }
    std::vector<int16_t> requested;
    bool failTypeInfo = false;
    bool dropLastRow = false;
};

class CatalogFunctions : public katest::ConnectedFixture<katest::TestEnvOf<TypeHookConnection>> {
protected:
    void SetUp() override
    {
        // The answers of the Hive connection.
        control.numberInfo[SQL_IDENTIFIER_CASE] = SQL_IC_LOWER;
        control.numberInfo[SQL_QUOTED_IDENTIFIER_CASE] = SQL_IC_LOWER;
        control.numberInfo[SQL_MAX_CATALOG_NAME_LEN] = 0;
        control.numberInfo[SQL_MAX_SCHEMA_NAME_LEN] = 128;
        control.numberInfo[SQL_MAX_TABLE_NAME_LEN] = 128;
        control.numberInfo[SQL_MAX_COLUMN_NAME_LEN] = 128;
        control.numberInfo[SQL_MAX_PROCEDURE_NAME_LEN] = 128;
        control.numberInfo[SQL_NULL_COLLATION] = SQL_NC_END;
        control.textInfo[SQL_IDENTIFIER_QUOTE_CHAR] = u"`";
        control.textInfo[SQL_SEARCH_PATTERN_ESCAPE] = u"\\";
        ConnectedFixture::SetUp();
        if (HasFatalFailure())
            return;
        conn->staticCursorOps |= 1;
        BaseStatement* s = nullptr;
        ASSERT_EQ(katest::makeStatement<ScriptedStatement>(&s, conn), 0);
        stmt = static_cast<ScriptedStatement*>(s);
        stmt->attributeValues[kBaseAttrCursorType] = SQL_CURSOR_STATIC;
    }

    // Every row of the current result, columns 1 to n as text ("<null>").
    std::vector<std::vector<std::u16string>> readAll(uint16_t n)
    {
        std::vector<std::vector<std::u16string>> out;
        for (;;) {
            const int16_t rc = stmt->fetch();
            if (rc == SQL_NO_DATA)
                break;
            EXPECT_EQ(rc, SQL_SUCCESS);
            if (rc != SQL_SUCCESS)
                break;
            std::vector<std::u16string> row;
            for (uint16_t c = 1; c <= n; ++c) {
                uint16_t buffer[64] = {};
                SQLLEN indicator = 0;
                EXPECT_EQ(stmt->getData(c, SQL_C_WCHAR, buffer, sizeof buffer, &indicator), SQL_SUCCESS) << c;
                row.push_back(indicator == SQL_NULL_DATA ? u"<null>" : katest::u16(buffer));
            }
            out.push_back(row);
        }
        EXPECT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
        return out;
    }

    // Column `c` of every row.
    std::vector<std::u16string> column(uint16_t c, uint16_t n)
    {
        std::vector<std::u16string> out;
        for (const auto& r : readAll(n))
            out.push_back(r[c - 1]);
        return out;
    }

    int16_t columnCount()
    {
        SQLSMALLINT n = -1;
        EXPECT_EQ(stmt->numResultCols(&n), SQL_SUCCESS);
        return n;
    }

    std::u16string columnName(uint16_t c)
    {
        uint16_t name[64] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        EXPECT_EQ(stmt->describeCol(c, name, 64, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
        return katest::u16(name);
    }

    uint16_t lastState()
    {
        const size_t n = stmt->diagnostics.recordCount();
        return n == 0 ? 0 : stmt->diagnostics.recordAt(n - 1)->sqlstateMsg;
    }

    void expectFailedAndReset(int16_t rc, uint16_t state)
    {
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(lastState(), state);
        EXPECT_EQ(stmt->catalogInfoW, nullptr);
        EXPECT_EQ(stmt->statementState, kBaseStmtAllocated);
    }

    ScriptedStatement* stmt = nullptr;
};

BaseTypeRow typeRow(const char16_t* name, int16_t type, uint32_t size)
{
    BaseTypeRow r{};
    r.name = reinterpret_cast<const uint16_t*>(name);
    r.sqlType = type;
    r.columnSize = size;
    r.nullable = SQL_NULLABLE;
    r.searchable = SQL_SEARCHABLE;
    return r;
}

class CatalogTypeInfo : public CatalogFunctions {
protected:
    void SetUp() override
    {
        CatalogFunctions::SetUp();
        table = {typeRow(u"double", SQL_DOUBLE, 15), typeRow(u"string", SQL_VARCHAR, 255),
                 typeRow(u"int", SQL_INTEGER, 10), typeRow(u"varchar", SQL_VARCHAR, 65355),
                 typeRow(u"timestamp", SQL_TYPE_TIMESTAMP, 29)};
        conn->typeTable = table.data();
        conn->typeTableCount = table.size();
    }
    void TearDown() override
    {
        conn->typeTable = nullptr;
        conn->typeTableCount = 0;
        CatalogFunctions::TearDown();
    }
    std::vector<BaseTypeRow> table;
};

TEST_F(CatalogTypeInfo, AllTypesByDataTypeWithTheirColumns)
{
    ASSERT_EQ(stmt->getTypeInfo(SQL_ALL_TYPES), SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 19);
    EXPECT_EQ(columnName(12), u"AUTO_UNIQUE");
    EXPECT_EQ(columnName(19), u"INTERVAL_PRECISION");
    std::vector<std::vector<std::u16string>> rows = readAll(3);
    std::vector<std::vector<std::u16string>> expected = {
        {u"int", u"4", u"10"},         {u"double", u"8", u"53"},     {u"string", u"12", u"255"},
        {u"varchar", u"12", u"65355"}, {u"timestamp", u"93", u"29"},
    };
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(stmt->started.size(), 0u) << "a type table needs no hook";
}

// A type without a size (COLUMN_SIZE 0 in the table) reports NULL there,
// as text and as a number alike.
TEST_F(CatalogTypeInfo, AZeroColumnSizeIsNull)
{
    table = {typeRow(u"unsized", SQL_LONGVARBINARY, 0), typeRow(u"sized", SQL_LONGVARBINARY, 1)};
    conn->typeTable = table.data();
    conn->typeTableCount = table.size();
    ASSERT_EQ(stmt->getTypeInfo(SQL_LONGVARBINARY), SQL_SUCCESS);
    std::vector<std::vector<std::u16string>> expected = {{u"unsized", u"-4", u"<null>"}, {u"sized", u"-4", u"1"}};
    EXPECT_EQ(readAll(3), expected);
    ASSERT_EQ(stmt->getTypeInfo(SQL_LONGVARBINARY), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    int32_t size = -7;
    SQLLEN indicator = 0;
    ASSERT_EQ(stmt->getData(3, SQL_C_SLONG, &size, sizeof size, &indicator), SQL_SUCCESS);
    EXPECT_EQ(indicator, SQL_NULL_DATA);
}

TEST_F(CatalogTypeInfo, OneTypeAnEmptyAnswerAndRefusedTypes)
{
    ASSERT_EQ(stmt->getTypeInfo(SQL_VARCHAR), SQL_SUCCESS);
    EXPECT_EQ(column(1, 1), (std::vector<std::u16string>{u"string", u"varchar"}));
    ASSERT_EQ(stmt->getTypeInfo(SQL_TYPE_TIME), SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 19);
    EXPECT_EQ(readAll(1).size(), 0u);
    expectFailedAndReset(stmt->getTypeInfo(50), MSG_SQLSTATE_INVALID_SQL_DATA_TYPE);
    expectFailedAndReset(stmt->getTypeInfo(-100), MSG_SQLSTATE_INVALID_SQL_DATA_TYPE);
    // An ODBC 3 application's 11 is no type; an ODBC 2 application means
    // the timestamp.
    expectFailedAndReset(stmt->getTypeInfo(SQL_TIMESTAMP), MSG_SQLSTATE_INVALID_SQL_DATA_TYPE);
    conn->env->odbc2Mode = 1;
    ASSERT_EQ(stmt->getTypeInfo(SQL_TIMESTAMP), SQL_SUCCESS);
    std::vector<std::vector<std::u16string>> expected = {{u"timestamp", u"11"}};
    EXPECT_EQ(readAll(2), expected);
    conn->env->odbc2Mode = 0;
}

TEST_F(CatalogTypeInfo, TheConnectionSeesTheRowsBeforeTheyAreOrderedAndMayFailTheCall)
{
    auto* hooked = static_cast<TypeHookConnection*>(conn);
    ASSERT_EQ(stmt->getTypeInfo(SQL_VARCHAR), SQL_SUCCESS);
    EXPECT_EQ(column(1, 1), (std::vector<std::u16string>{u"string", u"varchar"}));
    hooked->dropLastRow = true;
    ASSERT_EQ(stmt->getTypeInfo(SQL_VARCHAR), SQL_SUCCESS);
    EXPECT_EQ(column(1, 1), (std::vector<std::u16string>{u"string"}));
    hooked->failTypeInfo = true;
    expectFailedAndReset(stmt->getTypeInfo(SQL_ALL_TYPES), MSG_SQLSTATE_GENERAL_ERROR);
    EXPECT_EQ(hooked->requested, (std::vector<int16_t>{SQL_VARCHAR, SQL_VARCHAR, SQL_ALL_TYPES}));
}

TEST_F(CatalogTypeInfo, ADriverWithoutATypeTableAnswersThroughItsHook)
{
    conn->typeTable = nullptr;
    conn->typeTableCount = 0;
    auto hookRow = [](const char16_t* name, int16_t type, int32_t size) {
        Row r(19, Cell::null());
        r[0] = Cell::t(name);
        r[1] = Cell::n(type);
        r[2] = Cell::n(size);
        r[6] = Cell::n(SQL_NULLABLE);
        return r;
    };
    stmt->results[Source::TypeInfo] = {hookRow(u"text", SQL_VARCHAR, 100), hookRow(u"real", SQL_REAL, 7),
                                       hookRow(u"small", SQL_SMALLINT, 5)};
    ASSERT_EQ(stmt->getTypeInfo(SQL_ALL_TYPES), SQL_SUCCESS);
    std::vector<std::vector<std::u16string>> expected = {
        {u"small", u"5", u"5"}, {u"real", u"7", u"24"}, {u"text", u"12", u"100"}};
    EXPECT_EQ(readAll(3), expected);
    ASSERT_EQ(stmt->getTypeInfo(SQL_REAL), SQL_SUCCESS);
    EXPECT_EQ(column(1, 1), std::vector<std::u16string>{u"real"});
}

Row statRow(int16_t type, std::optional<int16_t> nonUnique, const char16_t* index, int16_t ordinal,
            const char16_t* column)
{
    Row r(13, Cell::null());
    r[1] = Cell::t(u"db");
    r[2] = Cell::t(u"t");
    if (nonUnique)
        r[3] = Cell::n(*nonUnique);
    if (index != nullptr)
        r[5] = Cell::t(index);
    r[6] = Cell::n(type);
    if (column != nullptr) {
        r[7] = Cell::n(ordinal);
        r[8] = Cell::t(column);
        r[9] = Cell::t(u"A");
    }
    return r;
}

TEST_F(CatalogFunctions, StatisticsOrderTheIndexesAndPutTheTableRowWhereNullsSort)
{
    stmt->results[Source::Statistics] = {
        statRow(SQL_TABLE_STAT, std::nullopt, nullptr, 0, nullptr),
        statRow(SQL_INDEX_OTHER, 1, u"by_name", 1, u"name"),
        statRow(SQL_INDEX_OTHER, 0, u"pk", 2, u"b"),
        statRow(SQL_INDEX_OTHER, 0, u"pk", 1, u"a"),
    };
    for (int16_t collation : {int16_t(SQL_NC_END), int16_t(SQL_NC_START)}) {
        SCOPED_TRACE(collation);
        control.numberInfo[SQL_NULL_COLLATION] = uint32_t(collation);
        ASSERT_EQ(stmt->statistics(nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK), SQL_SUCCESS);
        EXPECT_EQ(stmt->statisticsFlag, 0);
        EXPECT_EQ(columnCount(), 13);
        std::vector<std::u16string> columns = column(9, 13);
        std::vector<std::u16string> expected = {u"a", u"b", u"name"};
        expected.insert(collation == SQL_NC_END ? expected.end() : expected.begin(), u"<null>");
        EXPECT_EQ(columns, expected);
    }
    control.numberInfo[SQL_NULL_COLLATION] = SQL_NC_END;
    ASSERT_EQ(stmt->statistics(nullptr, 0, W(u"db"), SQL_NTS, W(u"t"), SQL_NTS, SQL_INDEX_UNIQUE, SQL_QUICK),
              SQL_SUCCESS);
    std::vector<std::vector<std::u16string>> unique = readAll(10);
    ASSERT_EQ(unique.size(), 3u) << "the non-unique index is left out";
    std::vector<std::u16string> first = {u"<null>", u"db", u"t", u"0", u"<null>", u"pk", u"3", u"1", u"a", u"A"};
    EXPECT_EQ(unique[0], first);
    std::vector<std::u16string> table = {u"<null>", u"db", u"t",      u"<null>", u"<null>",
                                         u"<null>", u"0",  u"<null>", u"<null>", u"<null>"};
    EXPECT_EQ(unique[2], table);
    expectFailedAndReset(stmt->statistics(nullptr, 0, nullptr, 0, nullptr, 0, SQL_INDEX_ALL, SQL_QUICK),
                         kBaseIdxNullPointer);
}

// Applications that read ASC_OR_DESC as UTF-16 into exactly two bytes get
// its one character narrowed under WORKAROUNDS2 0x2000, and else the cut
// text with its warning.
TEST_F(CatalogFunctions, AscOrDescIntoTwoBytes)
{
    stmt->results[Source::Statistics] = {statRow(SQL_INDEX_OTHER, 0, u"pk", 1, u"a")};
    conn->wideCharCodePage = 1014;
    for (bool narrowed : {true, false}) {
        SCOPED_TRACE(narrowed);
        if (narrowed)
            conn->workarounds2 |= 0x2000;
        else
            conn->workarounds2 &= ~uint64_t{0x2000};
        ASSERT_EQ(stmt->statistics(nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK), SQL_SUCCESS);
        ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
        unsigned char buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        SQLLEN indicator = 0;
        const int16_t rc = stmt->getData(10, SQL_C_WCHAR, buffer, 2, &indicator);
        if (narrowed) {
            EXPECT_EQ(rc, SQL_SUCCESS);
            EXPECT_EQ(indicator, 1);
            EXPECT_EQ(buffer[0], 'A');
            EXPECT_EQ(buffer[1], 0);
        } else {
            EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
            EXPECT_EQ(indicator, 2);
            EXPECT_EQ(buffer[0], 0);
            EXPECT_EQ(buffer[1], 0);
        }
        EXPECT_EQ(buffer[2], 0xEE) << "nothing beyond the buffer";
        ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    }
}

Row columnRow(const char16_t* column, int16_t type, const char16_t* typeName, int32_t size, int16_t nullable)
{
    return {Cell::null(),  Cell::t(u"db"), Cell::t(u"t"), Cell::t(column), Cell::n(type),     Cell::t(typeName),
            Cell::n(size), Cell::n(size),  Cell::n(0),    Cell::n(10),     Cell::n(nullable), Cell::null(),
            Cell::null(),  Cell::n(type),  Cell::null(),  Cell::null(),    Cell::n(1),        Cell::null()};
}

class CatalogSpecialColumns : public CatalogFunctions {
protected:
    void SetUp() override
    {
        CatalogFunctions::SetUp();
        stmt->results[Source::Statistics] = {
            statRow(SQL_TABLE_STAT, std::nullopt, nullptr, 0, nullptr),
            statRow(SQL_INDEX_OTHER, 0, u"pk", 1, u"a"),
            statRow(SQL_INDEX_OTHER, 0, u"pk", 2, u"b"),
            statRow(SQL_INDEX_OTHER, 0, u"zz_alt", 1, u"c"),
            statRow(SQL_INDEX_OTHER, 1, u"by_d", 1, u"d"),
        };
    }
    void columns(int16_t bNullable)
    {
        stmt->results[Source::Columns] = {
            columnRow(u"a", SQL_INTEGER, u"int", 10, SQL_NO_NULLS),
            columnRow(u"b", SQL_WVARCHAR, u"string", 40, bNullable),
            columnRow(u"c", SQL_BIGINT, u"bigint", 19, SQL_NO_NULLS),
            columnRow(u"d", SQL_INTEGER, u"int", 10, SQL_NO_NULLS),
        };
    }
};

TEST_F(CatalogSpecialColumns, WithoutADriverAnswerTheFirstUsableUniqueIndexIdentifiesARow)
{
    columns(SQL_NO_NULLS);
    ASSERT_EQ(stmt->specialColumns(SQL_BEST_ROWID, nullptr, 0, W(u"db"), SQL_NTS, W(u"t"), SQL_NTS, SQL_SCOPE_CURROW,
                                   SQL_NO_NULLS),
              SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 8);
    ASSERT_NE(stmt->catalogInfoW, nullptr);
    EXPECT_EQ(stmt->catalogInfoW->next, nullptr) << "the nested results are gone";
    std::vector<std::vector<std::u16string>> expected = {
        {u"2", u"a", u"4", u"int", u"10", u"4", u"0", u"1"},
        {u"2", u"b", u"-9", u"string", u"40", u"40", u"<null>", u"1"},
    };
    EXPECT_EQ(readAll(8), expected);
    EXPECT_EQ(stmt->statisticsFlag, 1);
}

TEST_F(CatalogSpecialColumns, AnIndexWithANullableColumnGivesWayUnlessNullsAreAllowed)
{
    columns(SQL_NULLABLE);
    ASSERT_EQ(
        stmt->specialColumns(SQL_BEST_ROWID, nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, SQL_SCOPE_CURROW, SQL_NO_NULLS),
        SQL_SUCCESS);
    EXPECT_EQ(column(2, 2), std::vector<std::u16string>{u"c"});
    ASSERT_EQ(
        stmt->specialColumns(SQL_BEST_ROWID, nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE),
        SQL_SUCCESS);
    EXPECT_EQ(column(2, 2), (std::vector<std::u16string>{u"a", u"b"}));
}

// A driver's rows come by scope; rows of one scope keep the driver's order.
TEST_F(CatalogSpecialColumns, RowVersionsAndDriverAnswers)
{
    columns(SQL_NO_NULLS);
    ASSERT_EQ(
        stmt->specialColumns(SQL_ROWVER, nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE),
        SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 8);
    EXPECT_EQ(readAll(8).size(), 0u);
    stmt->specialAnswers = true;
    stmt->results[Source::Special] = {
        {Cell::n(SQL_SCOPE_SESSION), Cell::t(u"late"), Cell::n(SQL_TYPE_DATE), Cell::t(u"date"), Cell::n(10),
         Cell::n(6), Cell::null(), Cell::n(SQL_PC_NOT_PSEUDO)},
        {Cell::n(SQL_SCOPE_CURROW), Cell::t(u"rowid"), Cell::n(SQL_BIGINT), Cell::t(u"bigint"), Cell::n(19), Cell::n(8),
         Cell::n(0), Cell::n(SQL_PC_PSEUDO)},
        {Cell::n(SQL_SCOPE_CURROW), Cell::t(u"alpha"), Cell::n(SQL_BIGINT), Cell::t(u"bigint"), Cell::n(19), Cell::n(8),
         Cell::n(0), Cell::n(SQL_PC_NOT_PSEUDO)},
    };
    ASSERT_EQ(
        stmt->specialColumns(SQL_BEST_ROWID, nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, SQL_SCOPE_CURROW, SQL_NULLABLE),
        SQL_SUCCESS);
    std::vector<std::vector<std::u16string>> expected = {
        {u"0", u"rowid", u"-5", u"bigint", u"19", u"8", u"0", u"2"},
        {u"0", u"alpha", u"-5", u"bigint", u"19", u"8", u"0", u"1"},
        {u"2", u"late", u"91", u"date", u"10", u"6", u"<null>", u"1"},
    };
    EXPECT_EQ(readAll(8), expected);
    expectFailedAndReset(
        stmt->specialColumns(SQL_BEST_ROWID, nullptr, 0, nullptr, 0, nullptr, 0, SQL_SCOPE_CURROW, SQL_NULLABLE),
        kBaseIdxNullPointer);
}

TEST_F(CatalogFunctions, PrimaryAndForeignKeysInKeyOrder)
{
    auto pk = [](int16_t seq, const char16_t* column) {
        return Row{Cell::null(), Cell::t(u"db"), Cell::t(u"t"), Cell::t(column), Cell::n(seq), Cell::t(u"pk_t")};
    };
    stmt->results[Source::Primary] = {pk(2, u"b"), pk(1, u"a"), pk(3, u"c")};
    ASSERT_EQ(stmt->primaryKeys(nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 6);
    EXPECT_EQ(column(4, 6), (std::vector<std::u16string>{u"a", u"b", u"c"}));
    expectFailedAndReset(stmt->primaryKeys(nullptr, 0, nullptr, 0, nullptr, 0), kBaseIdxNullPointer);
    expectFailedAndReset(stmt->primaryKeys(W(u"cat"), SQL_NTS, nullptr, 0, W(u"t"), SQL_NTS), kBaseIdxBadLength);

    auto fk = [](const char16_t* fkTable, int16_t seq, int32_t deleteRule) {
        return Row{Cell::null(),        Cell::t(u"db"),   Cell::t(u"p"),    Cell::t(u"id"), Cell::null(),
                   Cell::t(u"db"),      Cell::t(fkTable), Cell::t(u"p_id"), Cell::n(seq),   Cell::n(SQL_RESTRICT),
                   Cell::n(deleteRule), Cell::null(),     Cell::null(),     Cell::null()};
    };
    stmt->results[Source::Foreign] = {fk(u"orders", 2, SQL_RESTRICT), fk(u"lines", 1, SQL_CASCADE),
                                      fk(u"orders", 1, SQL_NO_ACTION)};
    ASSERT_EQ(stmt->foreignKeys(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 14);
    std::vector<std::vector<std::u16string>> rows;
    for (const auto& r : readAll(14))
        rows.push_back({r[6], r[8], r[9], r[10], r[13]});
    std::vector<std::vector<std::u16string>> expected = {
        {u"lines", u"1", u"1", u"0", u"<null>"},
        {u"orders", u"1", u"1", u"3", u"<null>"},
        {u"orders", u"2", u"1", u"3", u"<null>"},
    };
    EXPECT_EQ(rows, expected);
}

Row procRow(const char16_t* schema, const char16_t* name)
{
    return {Cell::null(), Cell::t(schema), Cell::t(name),    Cell::null(),
            Cell::null(), Cell::null(),    Cell::t(u"note"), Cell::n(SQL_PT_PROCEDURE)};
}

Row procColumnRow(const char16_t* proc, const char16_t* column, int16_t columnType, int16_t type, int16_t nullable,
                  Cell isNullable = Cell::null())
{
    Row r(19, Cell::null());
    r[1] = Cell::t(u"db");
    r[2] = Cell::t(proc);
    r[3] = Cell::t(column);
    r[4] = Cell::n(columnType);
    r[5] = Cell::n(type);
    r[6] = Cell::t(u"t");
    r[7] = Cell::n(10);
    r[11] = Cell::n(nullable);
    r[18] = isNullable;
    return r;
}

TEST_F(CatalogFunctions, ProceduresMatchTheirPatterns)
{
    stmt->results[Source::Procs] = {procRow(u"db", u"report"), procRow(u"db", u"purge"), procRow(u"other", u"print"),
                                    procRow(u"db", u"p_x")};
    ASSERT_EQ(stmt->procedures(nullptr, 0, W(u"DB"), SQL_NTS, W(u"p%"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 8);
    EXPECT_EQ(column(3, 8), (std::vector<std::u16string>{u"p_x", u"purge"}));
    ASSERT_EQ(stmt->procedures(nullptr, 0, nullptr, 0, W(u"p\\_x"), SQL_NTS), SQL_SUCCESS);
    std::vector<std::vector<std::u16string>> expected = {
        {u"<null>", u"db", u"p_x", u"<null>", u"<null>", u"<null>", u"note", u"1"}};
    EXPECT_EQ(readAll(8), expected);
    std::u16string tooLong(129, u'p');
    expectFailedAndReset(stmt->procedures(nullptr, 0, nullptr, 0, W(tooLong.c_str()), SQL_NTS), kBaseIdxBadLength);
}

TEST_F(CatalogFunctions, ProcedureColumnsAreNumberedAndOrdered)
{
    stmt->results[Source::ProcCols] = {
        procColumnRow(u"p", u"col", SQL_RESULT_COL, SQL_VARCHAR, SQL_NULLABLE),
        procColumnRow(u"p", u"rc", SQL_RETURN_VALUE, SQL_INTEGER, SQL_NO_NULLS),
        procColumnRow(u"p", u"in", SQL_PARAM_INPUT, SQL_INTEGER, SQL_NULLABLE_UNKNOWN),
        procColumnRow(u"p", u"out", SQL_PARAM_OUTPUT, SQL_TYPE_DATE, SQL_NULLABLE, Cell::t(u"YES")),
        procColumnRow(u"q", u"skip", SQL_PARAM_INPUT, SQL_INTEGER, SQL_NULLABLE),
    };
    ASSERT_EQ(stmt->procedureColumns(nullptr, 0, nullptr, 0, W(u"p"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 19);
    std::vector<std::vector<std::u16string>> rows;
    for (const auto& r : readAll(19))
        rows.push_back({r[3], r[9], r[14], r[15], r[17], r[18]});
    // Numbered in the driver's order (the return value takes no place),
    // listed return value first, then parameters, then result columns.
    std::vector<std::vector<std::u16string>> expected = {
        {u"rc", u"0", u"4", u"<null>", u"0", u"NO"},
        {u"in", u"0", u"4", u"<null>", u"2", u""},
        {u"out", u"<null>", u"9", u"1", u"3", u"YES"},
        {u"col", u"<null>", u"12", u"<null>", u"1", u"YES"},
    };
    EXPECT_EQ(rows, expected);
}

Row privilegeRow(std::vector<const char16_t*> values)
{
    Row r;
    for (const char16_t* v : values)
        r.push_back(v != nullptr ? Cell::t(v) : Cell::null());
    return r;
}

TEST_F(CatalogFunctions, ColumnPrivilegesExpandAllAndShowTheOwnersGrantAsSystem)
{
    stmt->results[Source::ColPrivs] = {
        privilegeRow({nullptr, u"s", u"t", u"c", u"dba", u"s", u"ALL", u"YES"}),
        privilegeRow({nullptr, u"s", u"t", u"b", u"dba", u"bob", u"all", u"NO"}),
        privilegeRow({nullptr, u"s", u"t", u"x", u"dba", u"bob", u"SELECT", u"NO"}),
    };
    ASSERT_EQ(stmt->columnPrivileges(nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 8);
    std::vector<std::vector<std::u16string>> rows;
    for (const auto& r : readAll(8))
        rows.push_back({r[3], r[4], r[6]});
    std::vector<std::vector<std::u16string>> expected = {
        {u"b", u"dba", u"all"},        {u"c", u"_SYSTEM", u"INSERT"}, {u"c", u"_SYSTEM", u"REFERENCES"},
        {u"c", u"_SYSTEM", u"SELECT"}, {u"c", u"_SYSTEM", u"UPDATE"}, {u"x", u"dba", u"SELECT"},
    };
    EXPECT_EQ(rows, expected);
    ASSERT_EQ(stmt->columnPrivileges(nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, W(u"C%"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(column(4, 8).size(), 4u);
    expectFailedAndReset(stmt->columnPrivileges(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), kBaseIdxNullPointer);
}

TEST_F(CatalogFunctions, TablePrivilegesExpandAllIntoFiveAndKeepTheGrantor)
{
    stmt->results[Source::TabPrivs] = {
        privilegeRow({nullptr, u"s", u"t", u"dba", u"s", u"ALL", u"YES"}),
        privilegeRow({nullptr, u"other", u"t", u"dba", u"s", u"SELECT", u"YES"}),
    };
    ASSERT_EQ(stmt->tablePrivileges(nullptr, 0, W(u"s"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(columnCount(), 7);
    std::vector<std::vector<std::u16string>> rows;
    for (const auto& r : readAll(7))
        rows.push_back({r[3], r[5]});
    std::vector<std::vector<std::u16string>> expected = {
        {u"dba", u"DELETE"}, {u"dba", u"INSERT"}, {u"dba", u"REFERENCES"}, {u"dba", u"SELECT"}, {u"dba", u"UPDATE"},
    };
    EXPECT_EQ(rows, expected);
    ASSERT_EQ(stmt->tablePrivileges(nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(readAll(7).size(), 6u);
}

TEST_F(CatalogFunctions, AHookFailureLeavesNoResult)
{
    // The base statement's hooks fail without a driver; its diagnostics are
    // the driver's to post.
    BaseStatement* s = nullptr;
    ASSERT_EQ(katest::makeStatement<BaseCatalogStatement>(&s, conn), 0);
    EXPECT_EQ(s->primaryKeys(nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(s->catalogInfoW, nullptr);
    EXPECT_EQ(s->statementState, kBaseStmtAllocated);
    delete s;
}

}  // namespace
