// The catalog framework over a scripted driver: SQLTables and SQLColumns
// results built from the hook's rows, filtered, sorted and read back through
// the statement's fetch and SQLGetData; argument preparation and matching
// with the answers the Hive connection gives.
#include "catalog/basecata.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's count of the bytes allocated and not yet freed.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <malloc.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "catalog/basecols.h"
#include "catalog/basetabl.h"
#include "catalog/catalogholder.h"
#include "catalog/catalognames.h"
#include "kamessages.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmterr.h"
#include "support/alloccount.h"
#include "support/catalogrows.h"
#include "support/connfixture.h"
#include "support/teststatement.h"
#include "support/u16.h"

namespace {

using katest::W;

using katest::Cell;
using katest::Row;

// A statement whose catalog hooks start a scripted driver result.
class ScriptedCatalogStatement : public BaseCatalogStatement {
public:
    explicit ScriptedCatalogStatement(BaseConnection* conn) noexcept : BaseCatalogStatement(conn) {}

    std::vector<Row> rows;
    size_t cursor = 0;
    int hookCalls = 0;
    bool failHook = false;
    // What the table-type enumeration's hook puts in the type set.
    uint32_t typeSetForTypes = kCatalogTypeTable | kCatalogTypeView | kCatalogTypeSystemTable;

    int16_t tablesHook(const uint16_t*, int16_t) noexcept override
    {
        ++hookCalls;
        cursor = 0;
        auto* h = static_cast<BaseTablesInfoW*>(catalogInfoW);
        if (h->enumeration == kTablesTypes)
            h->typeSet = typeSetForTypes;
        if (failHook) {
            basePostError(kBaseIdxGeneralError);
            return 1;
        }
        return 0;
    }
    int16_t columnsHook() noexcept override
    {
        ++hookCalls;
        cursor = 0;
        return 0;
    }
    int16_t catalogFetchRow(int16_t* end) noexcept override
    {
        if (cursor >= rows.size()) {
            *end = 1;
            return 0;
        }
        ++cursor;
        *end = 0;
        return 0;
    }
    int16_t catalogColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept override
    {
        return katest::putScriptedCell(rows[cursor - 1], column, cType, out);
    }
};

// The driver's answer to which wide column types SQLColumns lists under
// their narrow names.
class NarrowingConnection : public katest::TestStmtConnection {
public:
    using TestStmtConnection::TestStmtConnection;
    int16_t columnsWideTypes(int32_t reserved, const uint16_t* typeName) noexcept override
    {
        for (const std::u16string& name : narrowTypeNames)
            if (typeName != nullptr && katest::u16(typeName) == name)
                return 0;
        return TestStmtConnection::columnsWideTypes(reserved, typeName);
    }
    std::vector<std::u16string> narrowTypeNames;
};

class CatalogFramework : public katest::ConnectedFixture<katest::TestEnvOf<NarrowingConnection>> {
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
        control.textInfo[SQL_IDENTIFIER_QUOTE_CHAR] = u"`";
        control.textInfo[SQL_SEARCH_PATTERN_ESCAPE] = u"\\";
        ConnectedFixture::SetUp();
        if (HasFatalFailure())
            return;
        conn->staticCursorOps |= 1;
        BaseStatement* s = nullptr;
        ASSERT_EQ(katest::makeStatement<ScriptedCatalogStatement>(&s, conn), 0);
        stmt = static_cast<ScriptedCatalogStatement*>(s);
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
            out.push_back(readRow(n));
        }
        return out;
    }

    std::vector<std::u16string> readRow(uint16_t n)
    {
        std::vector<std::u16string> row;
        for (uint16_t c = 1; c <= n; ++c) {
            uint16_t buffer[64] = {};
            SQLLEN indicator = 0;
            EXPECT_EQ(stmt->getData(c, SQL_C_WCHAR, buffer, sizeof buffer, &indicator), SQL_SUCCESS);
            row.push_back(indicator == SQL_NULL_DATA ? u"<null>" : katest::u16(buffer));
        }
        return row;
    }

    uint16_t lastState()
    {
        const size_t n = stmt->diagnostics.recordCount();
        return n == 0 ? 0 : stmt->diagnostics.recordAt(n - 1)->sqlstateMsg;
    }

    ScriptedCatalogStatement* stmt = nullptr;
};

Row tableRow(const char16_t* schema, const char16_t* name, const char16_t* type, const char16_t* remarks = nullptr)
{
    return {Cell::null(), Cell::t(schema), Cell::t(name), Cell::t(type), remarks ? Cell::t(remarks) : Cell::null()};
}

TEST_F(CatalogFramework, TablesAreFilteredByTypeSortedByTypeThenNameAndWithoutDuplicates)
{
    stmt->rows = {tableRow(u"db", u"orders", u"TABLE"),         tableRow(u"db", u"v_orders", u"VIEW"),
                  tableRow(u"db", u"Emp", u"TABLE", u"people"), tableRow(u"db", u"emp", u"TABLE"),
                  tableRow(u"db", u"orders", u"TABLE"),         tableRow(u"db", u"tmp1", u"TEMPORARY TABLE"),
                  tableRow(u"sys", u"idx", u"SYSTEM TABLE")};
    ASSERT_EQ(stmt->tables(nullptr, 0, nullptr, 0, nullptr, 0, W(u"'TABLE', 'SYSTEM TABLE'"), SQL_NTS), SQL_SUCCESS);
    std::vector<std::vector<std::u16string>> expected = {
        {u"<null>", u"sys", u"idx", u"SYSTEM TABLE", u"<null>"},
        {u"<null>", u"db", u"Emp", u"TABLE", u"people"},
        {u"<null>", u"db", u"emp", u"TABLE", u"<null>"},
        {u"<null>", u"db", u"orders", u"TABLE", u"<null>"},
    };
    EXPECT_EQ(readAll(5), expected);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
}

TEST_F(CatalogFramework, TablesResultColumnsAreWideUnlessTheApplicationIsAnsi)
{
    for (bool ansi : {false, true}) {
        SCOPED_TRACE(ansi);
        if (ansi)
            conn->connectionFlags |= kBaseConnAnsiApp;
        stmt->rows = {tableRow(u"db", u"t", u"TABLE")};
        ASSERT_EQ(stmt->tables(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
        uint16_t name[32] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        ASSERT_EQ(stmt->describeCol(3, name, 32, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
        EXPECT_EQ(katest::u16(name), u"TABLE_NAME");
        EXPECT_EQ(type, ansi ? SQL_VARCHAR : SQL_WVARCHAR);
        EXPECT_EQ(size, 128u);
        ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    }
}

TEST_F(CatalogFramework, AWorkaroundHidesTheCatalogColumn)
{
    stmt->rows = {{Cell::t(u"cat"), Cell::t(u"db"), Cell::t(u"t"), Cell::t(u"TABLE"), Cell::null()}};
    for (uint64_t wa : {uint64_t{0}, uint64_t{0x2}}) {
        SCOPED_TRACE(wa);
        conn->workarounds = wa;
        ASSERT_EQ(stmt->tables(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
        const std::vector<std::u16string> row = readAll(3).at(0);
        EXPECT_EQ(row[0], wa != 0 ? u"<null>" : u"cat");
        EXPECT_EQ(row[2], u"t");
        ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    }
}

TEST_F(CatalogFramework, TableTypeEnumerationListsTheDriversTypesWithoutReadingRows)
{
    stmt->rows = {tableRow(u"db", u"t", u"TABLE")};
    ASSERT_EQ(stmt->tables(W(u""), 0, W(u""), 0, W(u""), 0, W(u"%"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->cursor, 0u);
    std::vector<std::vector<std::u16string>> expected = {
        {u"<null>", u"<null>", u"<null>", u"SYSTEM TABLE", u"<null>"},
        {u"<null>", u"<null>", u"<null>", u"TABLE", u"<null>"},
        {u"<null>", u"<null>", u"<null>", u"VIEW", u"<null>"},
    };
    EXPECT_EQ(readAll(5), expected);
}

TEST_F(CatalogFramework, SchemaEnumerationKeepsOnlyTheSchemaAndDropsDuplicates)
{
    stmt->rows = {tableRow(u"zeta", u"x", u"TABLE"), tableRow(u"alpha", u"y", u"TABLE"),
                  tableRow(u"zeta", u"z", u"TABLE")};
    ASSERT_EQ(stmt->tables(W(u""), 0, W(u"%"), 1, W(u""), 0, nullptr, 0), SQL_SUCCESS);
    std::vector<std::vector<std::u16string>> expected = {
        {u"<null>", u"alpha", u"<null>", u"<null>", u"<null>"},
        {u"<null>", u"zeta", u"<null>", u"<null>", u"<null>"},
    };
    EXPECT_EQ(readAll(5), expected);
}

TEST_F(CatalogFramework, CatalogEnumerationIsRefusedWhereTheSourceHasNoCatalogs)
{
    EXPECT_EQ(stmt->tables(W(u"%"), SQL_NTS, W(u""), 0, W(u""), 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(lastState(), kBaseIdxNotSupported);
    EXPECT_EQ(stmt->catalogInfoW, nullptr);
    EXPECT_EQ(stmt->statementState, kBaseStmtAllocated);
}

TEST_F(CatalogFramework, ANonEmptyCatalogArgumentIsTooLong)
{
    EXPECT_EQ(stmt->tables(W(u"cat"), SQL_NTS, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    const size_t n = stmt->diagnostics.recordCount();
    ASSERT_GT(n, 0u);
    EXPECT_EQ(stmt->diagnostics.recordAt(n - 1)->sqlstateMsg, kBaseIdxBadLength);
    EXPECT_EQ(stmt->diagnostics.recordAt(n - 1)->nativeCode, MSG_CATALOG_NAME_TOO_LONG);
}

TEST_F(CatalogFramework, AFailingHookLeavesNoResult)
{
    stmt->failHook = true;
    EXPECT_EQ(stmt->tables(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(stmt->catalogInfoW, nullptr);
    EXPECT_EQ(stmt->resultColumnCount, 0);
    EXPECT_EQ(stmt->fetch(), SQL_ERROR);
}

TEST_F(CatalogFramework, AnOpenCursorIsRefusedAndStaysOpen)
{
    stmt->rows = {tableRow(u"db", u"a", u"TABLE"), tableRow(u"db", u"b", u"TABLE")};
    ASSERT_EQ(stmt->tables(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt->tables(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(lastState(), kBaseIdxCursorState);
    EXPECT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(readRow(3)[2], u"b");
}

TEST_F(CatalogFramework, NestedHoldersWorkInTheirOwnDescriptorAndPutTheOuterOneBack)
{
    stmt->rows = {tableRow(u"db", u"a", u"TABLE")};
    ASSERT_EQ(stmt->tables(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    BaseIRD* outer = stmt->ird;
    auto* nested = new BaseTablesInfoW(stmt);
    ASSERT_EQ(stmt->pushColumnsInfo(nested), 0);
    EXPECT_NE(stmt->ird, outer);
    EXPECT_EQ(stmt->resultColumnCount, 0);
    EXPECT_EQ(stmt->popColumnsInfo(), 0);
    EXPECT_EQ(stmt->ird, outer);
    EXPECT_EQ(stmt->resultColumnCount, 5);
    // A holder left nested is undone with the statement's reset.
    ASSERT_EQ(stmt->pushColumnsInfo(new BaseTablesInfoW(stmt)), 0);
    ASSERT_EQ(stmt->resetStatement(), 0);
    EXPECT_EQ(stmt->ird, outer);
    EXPECT_EQ(stmt->catalogInfoW, nullptr);
}

Row columnRow(const char16_t* table, const char16_t* column, int16_t type, const char16_t* typeName, int32_t size,
              Cell octets, int32_t position)
{
    return {Cell::null(),  Cell::t(u"db"), Cell::t(table), Cell::t(column), Cell::n(type),         Cell::t(typeName),
            Cell::n(size), Cell::n(size),  Cell::n(0),     Cell::n(10),     Cell::n(SQL_NULLABLE), Cell::null(),
            Cell::null(),  Cell::n(type),  Cell::null(),   octets,          Cell::n(position),     Cell::null()};
}

class CatalogColumns : public CatalogFramework {
protected:
    void SetUp() override
    {
        CatalogFramework::SetUp();
        if (HasFatalFailure())
            return;
        // Table b's rows come first and out of position order; the framework
        // orders tables by name and columns by position.
        stmt->rows = {
            columnRow(u"b", u"b2", SQL_INTEGER, u"int", 10, Cell::null(), 2),
            columnRow(u"b", u"b1", SQL_WVARCHAR, u"varchar", 40, Cell::null(), 1),
            columnRow(u"b", u"b3", SQL_TYPE_TIMESTAMP, u"timestamp", 29, Cell::null(), 3),
            columnRow(u"a", u"a1", SQL_BIGINT, u"bigint", 19, Cell::null(), 1),
            columnRow(u"a", u"a2", SQL_WVARCHAR, u"string", 300, Cell::null(), 2),
        };
        stmt->attributeValues[kBaseAttrCursorType] = SQL_CURSOR_STATIC;
    }
};

TEST_F(CatalogColumns, RowsRunAcrossTablesInNameAndPositionOrder)
{
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    std::vector<std::u16string> names;
    for (const auto& r : readAll(4))
        names.push_back(r[2] + u"." + r[3]);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"a.a1", u"a.a2", u"b.b1", u"b.b2", u"b.b3"}));
}

TEST_F(CatalogColumns, AbsolutePositionsCountColumnRowsAndRestartWhenGoingBack)
{
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    struct Step {
        int64_t row;
        const char16_t* column;  // null: no row
    };
    const Step steps[] = {{4, u"b2"}, {2, u"a2"}, {5, u"b3"}, {6, nullptr}, {1, u"a1"}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.row);
        const int16_t rc = stmt->fetchScroll(SQL_FETCH_ABSOLUTE, s.row);
        if (s.column == nullptr) {
            EXPECT_EQ(rc, SQL_NO_DATA);
            continue;
        }
        ASSERT_EQ(rc, SQL_SUCCESS);
        EXPECT_EQ(readRow(4)[3], s.column);
    }
}

TEST_F(CatalogColumns, DerivedValuesFollowTheType)
{
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, W(u"b"), SQL_NTS, W(u"b3"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    auto shortOf = [&](uint16_t c, SQLLEN* ind) {
        int16_t v = -99;
        EXPECT_EQ(stmt->getData(c, SQL_C_SSHORT, &v, sizeof v, ind), SQL_SUCCESS);
        return v;
    };
    SQLLEN ind = 0;
    EXPECT_EQ(shortOf(5, &ind), SQL_TYPE_TIMESTAMP);
    EXPECT_EQ(shortOf(14, &ind), SQL_DATETIME);
    EXPECT_EQ(shortOf(15, &ind), SQL_CODE_TIMESTAMP);
    int32_t octets = 0;
    EXPECT_EQ(stmt->getData(16, SQL_C_SLONG, &octets, sizeof octets, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, SQL_NULL_DATA);
    EXPECT_EQ(stmt->fetch(), SQL_NO_DATA);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    // A character column without CHAR_OCTET_LENGTH reports its size there,
    // and has no SQL_DATETIME_SUB.
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, W(u"a"), SQL_NTS, W(u"a2"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt->getData(16, SQL_C_SLONG, &octets, sizeof octets, &ind), SQL_SUCCESS);
    EXPECT_EQ(octets, 300);
    shortOf(15, &ind);
    EXPECT_EQ(ind, SQL_NULL_DATA);
}

TEST_F(CatalogColumns, AnOdbc2ApplicationSeesTheOldDateTimeTypeNumbers)
{
    conn->env->odbc2Mode = 1;
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, W(u"b"), SQL_NTS, W(u"b3"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    int16_t dataType = 0;
    int16_t sqlDataType = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(stmt->getData(5, SQL_C_SSHORT, &dataType, sizeof dataType, &ind), SQL_SUCCESS);
    ASSERT_EQ(stmt->getData(14, SQL_C_SSHORT, &sqlDataType, sizeof sqlDataType, &ind), SQL_SUCCESS);
    EXPECT_EQ(dataType, SQL_TIMESTAMP);
    EXPECT_EQ(sqlDataType, SQL_DATETIME);
    conn->env->odbc2Mode = 0;
}

TEST_F(CatalogColumns, PatternsDropTablesAndColumnsCaseBlind)
{
    ASSERT_EQ(stmt->columns(nullptr, 0, W(u"DB"), SQL_NTS, W(u"%"), SQL_NTS, W(u"_2"), SQL_NTS), SQL_SUCCESS);
    std::vector<std::u16string> names;
    for (const auto& r : readAll(4))
        names.push_back(r[2] + u"." + r[3]);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"a.a2", u"b.b2"}));
    // A table whose columns all fail the pattern is not listed.
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, W(u"b%"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(readAll(4).size(), 3u);
}

TEST_F(CatalogColumns, VarcharThresholdAndMinimumSizeChangeTheReportedType)
{
    conn->varcharThreshold = 255;
    conn->wvarcharThreshold = 255;
    conn->minWLongVarcharSize = 1000;
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, W(u"a"), SQL_NTS, W(u"a2"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    int16_t type = 0;
    int32_t size = 0;
    int32_t octets = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(stmt->getData(5, SQL_C_SSHORT, &type, sizeof type, &ind), SQL_SUCCESS);
    ASSERT_EQ(stmt->getData(7, SQL_C_SLONG, &size, sizeof size, &ind), SQL_SUCCESS);
    ASSERT_EQ(stmt->getData(16, SQL_C_SLONG, &octets, sizeof octets, &ind), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_WLONGVARCHAR);
    EXPECT_EQ(size, 1000);
    EXPECT_EQ(octets, 2000);
}

TEST_F(CatalogColumns, TheDriverMayListSomeWideTypesUnderTheirNarrowNames)
{
    // Every type stays as the driver gave it until the driver names one.
    auto typesOf = [&] {
        std::vector<std::u16string> types;
        EXPECT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
        for (const auto& r : readAll(5))
            types.push_back(r[3] + u"=" + r[4]);
        EXPECT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
        return types;
    };
    EXPECT_EQ(typesOf(), (std::vector<std::u16string>{u"a1=-5", u"a2=-9", u"b1=-9", u"b2=4", u"b3=93"}));
    static_cast<NarrowingConnection*>(conn)->narrowTypeNames = {u"varchar"};
    EXPECT_EQ(typesOf(), (std::vector<std::u16string>{u"a1=-5", u"a2=-9", u"b1=12", u"b2=4", u"b3=93"}));
}

TEST_F(CatalogColumns, ALongCommentIsKeptWhole)
{
    std::u16string comment(5000, u'c');
    comment.back() = u'z';
    stmt->rows.resize(1);
    stmt->rows[0][11] = Cell{comment, 0, false};
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    std::vector<uint16_t> buffer(6000);
    SQLLEN ind = 0;
    ASSERT_EQ(stmt->getData(12, SQL_C_WCHAR, buffer.data(), buffer.size() * 2, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 10000);
    EXPECT_EQ(katest::u16(buffer.data()), comment);
}

// The heap the process holds now: the sanitizer's count under
// AddressSanitizer, else the C library's.
size_t liveHeapBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

TEST_F(CatalogColumns, AResultKeepsItsTextsAtTheirOwnLength)
{
    // A warehouse's SQLColumns holds every column row until it is read:
    // each name, type and comment must cost its own length, not the size of
    // the buffer it was first read into.
    constexpr int kRows = 4000;
    stmt->rows.clear();
    std::vector<std::u16string> names(kRows);
    for (int i = 0; i < kRows; ++i) {
        names[i] = u"c" + katest::widen(std::to_string(i));
        stmt->rows.push_back(columnRow(u"t", names[i].c_str(), SQL_INTEGER, u"int", 10, Cell::null(), i + 1));
        stmt->rows.back()[11] = Cell::t(u"a short comment");
    }
    const size_t before = liveHeapBytes();
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    const size_t held = liveHeapBytes() - before;
    EXPECT_LT(held / kRows, 1024u) << held << " bytes held for " << kRows << " rows";
    // The texts are whole.
    ASSERT_EQ(stmt->fetchScroll(SQL_FETCH_ABSOLUTE, kRows), SQL_SUCCESS);
    uint16_t buffer[32] = {};
    SQLLEN ind = 0;
    ASSERT_EQ(stmt->getData(4, SQL_C_WCHAR, buffer, sizeof buffer, &ind), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(buffer), names.back());
    ASSERT_EQ(stmt->getData(12, SQL_C_WCHAR, buffer, sizeof buffer, &ind), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(buffer), u"a short comment");
}

TEST_F(CatalogColumns, ARowKeepsItsTextsInOneBlock)
{
    // A warehouse's listing reads millions of rows: each costs its row
    // object and one block for all of its texts, not a block per cell.
    constexpr int kTables = 10;
    constexpr int kColumns = 100;
    stmt->rows.clear();
    std::vector<std::u16string> tables(kTables);
    std::vector<std::u16string> names(kColumns);
    for (int c = 0; c < kColumns; ++c)
        names[c] = u"column_" + katest::widen(std::to_string(c));
    for (int t = 0; t < kTables; ++t) {
        tables[t] = u"table_" + katest::widen(std::to_string(t));
        for (int c = 0; c < kColumns; ++c) {
            Row row = columnRow(tables[t].c_str(), names[c].c_str(), SQL_WVARCHAR, u"string", 100, Cell::null(), c + 1);
            row[11] = Cell::t(u"a comment");
            row[12] = Cell::t(u"'default'");
            row[17] = Cell::t(u"YES");
            stmt->rows.push_back(row);
        }
    }
    const uint64_t before = kacount::totals().allocs;
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    const uint64_t allocs = kacount::totals().allocs - before;
    // Two blocks a row and two a table; each table's array of columns
    // doubles as it grows, and the result description takes a few more.
    constexpr uint64_t kRows = kTables * kColumns;
    EXPECT_LE(allocs, 2 * kRows + 12 * kTables + 100) << allocs << " allocations for " << kRows << " rows";
    // Every text is its own.
    ASSERT_EQ(stmt->fetchScroll(SQL_FETCH_ABSOLUTE, static_cast<SQLLEN>(kRows)), SQL_SUCCESS);
    EXPECT_EQ(readRow(18), (std::vector<std::u16string>{u"<null>", u"db", tables.back(), names.back(), u"-9", u"string",
                                                        u"100", u"100", u"<null>", u"<null>", u"1", u"a comment",
                                                        u"'default'", u"-9", u"<null>", u"100", u"100", u"YES"}));
}

TEST_F(CatalogFramework, ATablesRowKeepsItsTextsInOneBlock)
{
    constexpr int kRows = 1000;
    stmt->attributeValues[kBaseAttrCursorType] = SQL_CURSOR_STATIC;
    std::vector<std::u16string> names(kRows);
    for (int i = 0; i < kRows; ++i) {
        names[i] = u"t" + katest::widen(std::to_string(100000 + i));
        stmt->rows.push_back(tableRow(u"db", names[i].c_str(), u"TABLE", u"a comment"));
    }
    const uint64_t before = kacount::totals().allocs;
    ASSERT_EQ(stmt->tables(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    const uint64_t allocs = kacount::totals().allocs - before;
    EXPECT_LE(allocs, 2u * kRows + 100) << allocs << " allocations for " << kRows << " rows";
    ASSERT_EQ(stmt->fetchScroll(SQL_FETCH_ABSOLUTE, kRows), SQL_SUCCESS);
    EXPECT_EQ(readRow(5), (std::vector<std::u16string>{u"<null>", u"db", names.back(), u"TABLE", u"a comment"}));
}

// A row of two cells for the holder template: a number, and a text that
// may be NULL.
class PairRow : public KaObject {
public:
    PairRow(int32_t n, const char16_t* t) noexcept : number(n), text(reinterpret_cast<const uint16_t*>(t)) {}
    CatalogCell cell(uint16_t column) const noexcept
    {
        return column == 1   ? CatalogCell::longValue(number)
               : column == 2 ? CatalogCell::textValue(text)
                             : CatalogCell::none();
    }
    int32_t number;
    const uint16_t* text;
};

// A holder whose second column its own rule gives: the text upper-cased.
class PairHolder : public CatalogHolder<PairRow> {
public:
    using CatalogHolder::CatalogHolder;

protected:
    CatalogCell cellOf(const PairRow& row, uint16_t column) const noexcept override
    {
        if (column != 2 || row.text == nullptr || !upper)
            return CatalogHolder::cellOf(row, column);
        return CatalogCell::textValue(reinterpret_cast<const uint16_t*>(u"SHOUTED"));
    }

public:
    bool upper = false;
};

const BaseCatalogColumn kPairColumns[] = {
    {reinterpret_cast<const uint16_t*>(u"NUMBER"), SQL_INTEGER, SQL_NO_NULLS, 10},
    {reinterpret_cast<const uint16_t*>(u"TEXT"), SQL_VARCHAR, SQL_NULLABLE, 128},
};

TEST_F(CatalogFramework, TheHolderTemplateReadsItsRowsCellsAndOwnsItsArguments)
{
    for (const bool upper : {false, true}) {
        SCOPED_TRACE(upper ? "cells by the holder's own rule" : "cells by the rows");
        ASSERT_EQ(stmt->checkCatalogState(), 0);
        auto* holder = catalogPushHolder<PairHolder>(stmt, kCatalogKindTables, kPairColumns);
        ASSERT_NE(holder, nullptr);
        EXPECT_EQ(stmt->catalogInfoW, holder);
        holder->upper = upper;
        // The arguments go with the holder (the leak checker sees them).
        holder->schemaName = baseCatalogCopyText(reinterpret_cast<const uint16_t*>(u"db"), SQL_NTS);
        holder->tablePattern = baseCatalogCopyText(reinterpret_cast<const uint16_t*>(u"t%"), SQL_NTS);
        ASSERT_NE(catalogAppendNew(holder->rows, new PairRow(7, u"seven")), nullptr);
        ASSERT_NE(catalogAppendNew(holder->rows, new PairRow(8, nullptr)), nullptr);
        ASSERT_EQ(stmt->bindCatalogColumns(2, kPairColumns, -1), 0);
        ASSERT_EQ(stmt->finishCatalogExecute(), 0);
        EXPECT_EQ(readAll(2), (std::vector<std::vector<std::u16string>>{
                                  {u"7", upper ? u"SHOUTED" : u"seven"},
                                  {u"8", u"<null>"},
                              }));
        EXPECT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
        EXPECT_EQ(stmt->catalogInfoW, nullptr);
    }
}

// DATA_TYPE, COLUMN_SIZE, CHAR_OCTET_LENGTH and ORDINAL_POSITION of the
// current row.
struct Reported {
    int16_t type = 0;
    int32_t size = 0;
    int32_t octets = 0;
    int32_t position = 0;
    bool operator==(const Reported&) const = default;
};

void PrintTo(const Reported& r, std::ostream* os)
{
    *os << "{type " << r.type << ", size " << r.size << ", octets " << r.octets << ", position " << r.position << "}";
}

TEST_F(CatalogColumns, ThresholdsAndMinimumSizesAtTheirBoundariesForNarrowAndWideTypes)
{
    // The narrow and the wide settings differ, so that one used for the
    // other shows.
    conn->varcharThreshold = 100;
    conn->wvarcharThreshold = 255;
    conn->minLongVarcharSize = 1000;
    conn->minWLongVarcharSize = 600;
    struct Case {
        const char16_t* column;
        int16_t type;
        int32_t size;
        Reported want;
    };
    const Case cases[] = {
        {u"c01", SQL_VARCHAR, 100, {SQL_VARCHAR, 100, 100, 1}},
        {u"c02", SQL_VARCHAR, 101, {SQL_LONGVARCHAR, 1000, 1000, 2}},
        {u"c03", SQL_VARCHAR, 2000, {SQL_LONGVARCHAR, 2000, 2000, 3}},
        {u"c04", SQL_LONGVARCHAR, 50, {SQL_LONGVARCHAR, 1000, 1000, 4}},
        {u"c05", SQL_LONGVARCHAR, 1000, {SQL_LONGVARCHAR, 1000, 1000, 5}},
        {u"c06", SQL_WVARCHAR, 101, {SQL_WVARCHAR, 101, 101, 6}},
        {u"c07", SQL_WVARCHAR, 255, {SQL_WVARCHAR, 255, 255, 7}},
        {u"c08", SQL_WVARCHAR, 256, {SQL_WLONGVARCHAR, 600, 1200, 8}},
        {u"c09", SQL_WLONGVARCHAR, 700, {SQL_WLONGVARCHAR, 700, 700, 9}},
        {u"c10", SQL_CHAR, 5000, {SQL_CHAR, 5000, 5000, 10}},
    };
    stmt->rows.clear();
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        stmt->rows.push_back(columnRow(u"t", cases[i].column, cases[i].type, u"varchar", cases[i].size, Cell::null(),
                                       static_cast<int32_t>(i + 1)));
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(c.column));
        ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
        Reported got;
        SQLLEN ind = 0;
        ASSERT_EQ(stmt->getData(5, SQL_C_SSHORT, &got.type, sizeof got.type, &ind), SQL_SUCCESS);
        ASSERT_EQ(stmt->getData(7, SQL_C_SLONG, &got.size, sizeof got.size, &ind), SQL_SUCCESS);
        ASSERT_EQ(stmt->getData(16, SQL_C_SLONG, &got.octets, sizeof got.octets, &ind), SQL_SUCCESS);
        ASSERT_EQ(stmt->getData(17, SQL_C_SLONG, &got.position, sizeof got.position, &ind), SQL_SUCCESS);
        EXPECT_EQ(got, c.want);
    }
    EXPECT_EQ(stmt->fetch(), SQL_NO_DATA);
}

TEST_F(CatalogColumns, AMissingOrdinalPositionIsThePlaceInTheTable)
{
    stmt->rows = {
        columnRow(u"z", u"z1", SQL_INTEGER, u"int", 10, Cell::null(), 0),
        columnRow(u"z", u"z2", SQL_INTEGER, u"int", 10, Cell::null(), 0),
        columnRow(u"z", u"z3", SQL_INTEGER, u"int", 10, Cell::null(), 0),
    };
    ASSERT_EQ(stmt->columns(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    std::vector<std::u16string> got;
    for (const auto& r : readAll(17))
        got.push_back(r[3] + u"@" + r[16]);
    EXPECT_EQ(got, (std::vector<std::u16string>{u"z1@1", u"z2@2", u"z3@3"}));
}

// More columns than a 16-bit index counts: the holder walks every one once,
// then ends.
TEST_F(CatalogColumns, ATableWiderThan65535ColumnsEnds)
{
    constexpr int32_t kColumns = 70000;
    BaseColumnsInfoW holder(stmt);
    auto* table = new PerTableInfo();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(holder.rows.append(table), 0);
    ASSERT_EQ(table->columns.reserve(kColumns, 1), 0);
    for (int32_t i = 1; i <= kColumns; ++i) {
        auto* column = new PerColumnInfo();
        ASSERT_NE(column, nullptr);
        column->ordinalPosition = i;
        ASSERT_EQ(table->columns.append(column), 0);
    }
    int32_t fetched = 0;
    int16_t end = 0;
    // Bounded: a wrapping index would start over without end.
    while (fetched <= kColumns) {
        ASSERT_EQ(holder.fetchNext(&end), 0);
        if (end != 0)
            break;
        ++fetched;
        // The row the holder stands on is the next column of the table.
        ASSERT_EQ(holder.tableIndex, 0u);
        ASSERT_LT(holder.columnIndex, table->columns.count);
        ASSERT_EQ(static_cast<const PerColumnInfo*>(table->columns.at(holder.columnIndex))->ordinalPosition, fetched);
    }
    EXPECT_EQ(fetched, kColumns);
    EXPECT_NE(end, 0);
}

// ---- Argument preparation and matching ------------------------------------------------------

struct PrepareCase {
    const char16_t* value;
    bool metadataId;
    bool asPattern;
    const char16_t* name;     // null: stays null
    const char16_t* pattern;  // null: stays null
};

TEST_F(CatalogFramework, ArgumentsArePreparedAsHiveWouldHaveThem)
{
    const PrepareCase cases[] = {
        {u"%", false, true, nullptr, nullptr},           {u"my_tab", true, true, u"my_tab", u"my\\_tab"},
        {u"MyTab", true, true, u"mytab", u"mytab"},      {u"`MyTab`", true, true, u"MyTab", u"MyTab"},
        {u"  abc  ", true, false, u"abc", nullptr},      {u"a\\b", false, true, u"ab", u"a\\\\b"},
        {u"my\\_t%", false, true, u"my_t%", u"my\\_t%"}, {u"`we``ird`", false, false, u"we`ird", nullptr},
    };
    for (const PrepareCase& c : cases) {
        SCOPED_TRACE(std::string(c.value, c.value + std::char_traits<char16_t>::length(c.value)));
        stmt->attributeValues[kBaseAttrFlags] =
            c.metadataId ? kBaseStmtFlagMetadataId : stmt->attributeValues[kBaseAttrFlags] & ~kBaseStmtFlagMetadataId;
        uint16_t* name = nullptr;
        uint16_t* pattern = nullptr;
        ASSERT_EQ(stmt->prepareCatalogArgument(W(c.value), SQL_NTS, kCatalogInfoTable, &name,
                                               c.asPattern ? &pattern : nullptr),
                  0);
        EXPECT_EQ(name == nullptr ? std::u16string(u"<null>") : katest::u16(name), c.name ? c.name : u"<null>");
        EXPECT_EQ(pattern == nullptr ? std::u16string(u"<null>") : katest::u16(pattern),
                  c.pattern ? c.pattern : u"<null>");
        ramFree(name);
        ramFree(pattern);
    }
}

TEST_F(CatalogFramework, ANullArgumentUnderMetadataIdIsRefusedWhereSuchNamesExist)
{
    stmt->attributeValues[kBaseAttrFlags] |= kBaseStmtFlagMetadataId;
    EXPECT_EQ(stmt->tables(nullptr, 0, nullptr, 0, W(u"t"), SQL_NTS, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(lastState(), kBaseIdxNullPointer);
    // The source has no catalogs: a null catalog argument is fine.
    stmt->rows = {tableRow(u"db", u"t", u"TABLE")};
    EXPECT_EQ(stmt->tables(nullptr, 0, W(u"db"), SQL_NTS, W(u"t"), SQL_NTS, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(readAll(3).size(), 1u);
}

TEST_F(CatalogFramework, MatchingIsCaseBlindUnlessAQuotedNameIsComparedUnderMetadataId)
{
    EXPECT_EQ(stmt->matchName(W(u"employees"), W(u"EMP%"), 0), 1);
    EXPECT_EQ(stmt->matchName(W(u"departments"), W(u"EMP%"), 0), 0);
    EXPECT_EQ(stmt->matchName(nullptr, nullptr, 0), 1);
    EXPECT_EQ(stmt->matchName(nullptr, W(u"x"), 0), 0);
    conn->identifierCaseSensitive = 1;
    stmt->attributeValues[kBaseAttrFlags] |= kBaseStmtFlagMetadataId;
    EXPECT_EQ(stmt->matchName(W(u"MyTab"), W(u"MyTab"), 1), 1);
    EXPECT_EQ(stmt->matchName(W(u"mytab"), W(u"MyTab"), 1), 0);
    EXPECT_EQ(stmt->matchName(W(u"MYTAB"), W(u"mytab"), 1), 1);
}

}  // namespace
