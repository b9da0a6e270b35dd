// Prepare, execute, result description, column binding, the fetch core and
// SQLGetData of the statement framework, driven through the test statement
// whose hooks answer from scripted rows.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <vector>

#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basedescribe.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/connfixture.h"
#include "support/diagscope.h"
#include "support/guarded.h"
#include "support/stmtfixture.h"
#include "support/teststatement.h"
#include "support/u16.h"

namespace {

using katest::TestColumn;
using katest::TestResult;
using katest::TestValue;
using katest::W;

class StatementWork : public katest::StmtFixture {};

}  // namespace

// ---- Prepare and execute --------------------------------------------------------------------

TEST_F(StatementWork, PrepareThenExecuteOpensACursorAndCountsMarkers)
{
    ASSERT_EQ(stmt->prepare(W(u"select rows 3"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->statementState, kBaseStmtPrepared);
    EXPECT_EQ(stmt->markerCount, 0);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
    // Executing on the open cursor is a cursor-state error; closing it
    // leaves the text prepared for the next execution.
    EXPECT_EQ(stmt->execute(), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(stmt->statementState, kBaseStmtPrepared);
    EXPECT_EQ(stmt->execute(), SQL_SUCCESS);
    EXPECT_EQ(stmt->executions.size(), 2u);

    BaseStatement* other = nullptr;
    ASSERT_EQ(conn->createStatement(&other), 0);
    EXPECT_EQ(other->prepare(W(u"insert into t values (?, ?)"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(other->markerCount, 2);
    EXPECT_EQ(other->freeStmt(SQL_DROP), SQL_SUCCESS);
}

TEST_F(StatementWork, ExecuteWithoutPrepareIsASequenceErrorAndBadTextLengthsAreRefused)
{
    EXPECT_EQ(stmt->execute(), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);
    EXPECT_EQ(stmt->prepare(W(u"select rows 1"), -7), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadLength);
    EXPECT_EQ(stmt->execDirect(nullptr, SQL_NTS), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxNullPointer);
}

TEST_F(StatementWork, TheSameTextIsNotPreparedAgainButAPrefixOfItIs)
{
    katest::TestConnectionControl& c = control;
    c.numberInfo[SQL_CURSOR_COMMIT_BEHAVIOR] = SQL_CB_PRESERVE;
    ASSERT_EQ(stmt->prepare(W(u"select rows 12"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->prepare(W(u"select rows 12"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->prepared.size(), 1u);
    // "select rows 1" is the first 13 units of the saved text: a different
    // statement, which must be prepared.
    ASSERT_EQ(stmt->prepare(W(u"select rows 1"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->prepared.size(), 2u);
    EXPECT_EQ(stmt->prepared.back(), u"select rows 1");
}

TEST_F(StatementWork, AFailedExecDirectResetsTheStatement)
{
    EXPECT_EQ(run(u"fail now"), SQL_ERROR);
    EXPECT_EQ(stmt->statementState, kBaseStmtAllocated);
    EXPECT_EQ(stmt->execute(), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);
}

TEST_F(StatementWork, RowCountSumsTheParameterRowsAndIsUnknownForAResult)
{
    ASSERT_EQ(stmt->prepare(W(u"insert into t values (?)"), SQL_NTS), SQL_SUCCESS);
    int32_t values[3] = {7, 8, 9};
    SQLLEN lengths[3] = {4, 4, SQL_NULL_DATA};
    SQLUSMALLINT statuses[3] = {99, 99, 99};
    SQLULEN processed = 0;
    ASSERT_EQ(stmt->ensureDescriptorRecords(1, 4), 0);
    BaseAXDRecord* apd = stmt->currentApd->axdRecord(1);
    apd->setConciseType(SQL_C_SLONG);
    apd->dataPtr = values;
    apd->octetLength = 0;  // a fixed-size type strides by its own size
    apd->indicatorPtr = lengths;
    apd->octetLengthPtr = lengths;
    stmt->ipd->ipdRecord(1)->setConciseType(SQL_INTEGER);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAM_STATUS_PTR, statuses, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    ASSERT_EQ(stmt->executions.size(), 3u);
    EXPECT_EQ(stmt->executions[1][0].bytes, std::string(reinterpret_cast<char*>(&values[1]), 4));
    EXPECT_EQ(stmt->executions[2][0].length, SQL_NULL_DATA);
    EXPECT_EQ(processed, 3u);
    EXPECT_EQ(statuses[0], SQL_PARAM_SUCCESS);
    EXPECT_EQ(statuses[2], SQL_PARAM_SUCCESS);
    SQLLEN count = 0;
    ASSERT_EQ(stmt->rowCountApi(&count), SQL_SUCCESS);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(stmt->rowCountApi(nullptr), SQL_SUCCESS);

    BaseStatement* select = nullptr;
    ASSERT_EQ(conn->createStatement(&select), 0);
    ASSERT_EQ(select->execDirect(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(select->rowCountApi(&count), SQL_SUCCESS);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(select->freeStmt(SQL_DROP), SQL_SUCCESS);
}

TEST_F(StatementWork, AParameterWithoutAValueOrADefaultIndicatorFailsTheExecution)
{
    ASSERT_EQ(stmt->prepare(W(u"insert into t values (?)"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->execute(), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCountField);
    ASSERT_EQ(stmt->ensureDescriptorRecords(1, 4), 0);
    SQLLEN indicator = SQL_DEFAULT_PARAM;
    BaseAXDRecord* apd = stmt->currentApd->axdRecord(1);
    apd->setConciseType(SQL_C_CHAR);
    apd->dataPtr = const_cast<char*>("x");
    apd->indicatorPtr = &indicator;
    apd->octetLengthPtr = &indicator;
    EXPECT_EQ(stmt->execute(), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxDefaultParam);
    // SQL_NTS measures the text.
    indicator = SQL_NTS;
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    EXPECT_EQ(stmt->executions.back()[0].bytes, "x");
}

TEST_F(StatementWork, MoreResultsEndsTheResultAndClosesThePreparedCursor)
{
    ASSERT_EQ(stmt->prepare(W(u"select rows 2"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    EXPECT_EQ(stmt->moreResults(), SQL_NO_DATA);
    EXPECT_EQ(stmt->statementState, kBaseStmtPrepared);
    EXPECT_EQ(stmt->moreResults(), SQL_NO_DATA);
}

// ---- Result description -----------------------------------------------------------------------

TEST_F(StatementWork, DescribeColAnswersFromTheResultDescription)
{
    int16_t count = -1;
    // Nothing to describe before a text is prepared.
    EXPECT_EQ(stmt->numResultCols(&count), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);
    ASSERT_EQ(stmt->prepare(W(u"select rows 1"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->numResultCols(nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->numResultCols(&count), SQL_SUCCESS);
    EXPECT_EQ(count, 5);
    uint16_t name[16] = {};
    int16_t nameLength = 0;
    int16_t type = 0;
    uint64_t size = 0;
    int16_t digits = -1;
    int16_t nullable = -1;
    ASSERT_EQ(stmt->describeCol(2, name, 16, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(name), u"name");
    EXPECT_EQ(nameLength, 4);
    EXPECT_EQ(type, SQL_VARCHAR);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(digits, 0);
    EXPECT_EQ(nullable, SQL_NULLABLE);
    ASSERT_EQ(stmt->describeCol(1, name, 3, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(name), u"id");
    EXPECT_EQ(nameLength, 2);
    EXPECT_EQ(size, 10u);
    // Cut to two characters and a terminator.
    ASSERT_EQ(stmt->describeCol(2, name, 3, &nameLength, nullptr, nullptr, nullptr, nullptr), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(katest::u16(name), u"na");
    EXPECT_EQ(nameLength, 4);
    EXPECT_EQ(state(), kBaseIdxTruncated);
    EXPECT_EQ(stmt->describeCol(6, name, 16, nullptr, nullptr, nullptr, nullptr, nullptr), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescIndex);
}

TEST_F(StatementWork, DescribeColReportsLongVarcharPastTheThresholdAndNamesUnnamedColumns)
{
    stmt->resolve = [](const std::u16string&, TestResult* r) {
        *r = TestResult{};
        r->columns = {{u"", SQL_VARCHAR, 300, 0, 0, SQL_NULLABLE},
                      {u"ts", SQL_TYPE_TIMESTAMP, 0, 23, -1, SQL_NULLABLE},
                      {u"", SQL_INTERVAL_DAY_TO_SECOND, 0, 0, 0, SQL_NULLABLE}};
        return true;
    };
    conn->varcharThreshold = 255;
    conn->minLongVarcharSize = 1000;
    conn->workarounds |= 0x40;
    ASSERT_EQ(stmt->prepare(W(u"anything"), SQL_NTS), SQL_SUCCESS);
    stmt->ird->irdRecord(2)->intervalCode = SQL_CODE_TIMESTAMP;
    uint16_t name[8] = {};
    int16_t type = 0;
    uint64_t size = 0;
    int16_t digits = -1;
    ASSERT_EQ(stmt->describeCol(1, name, 8, nullptr, &type, &size, &digits, nullptr), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_LONGVARCHAR);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(katest::u16(name), u"C1");
    ASSERT_EQ(stmt->describeCol(2, name, 8, nullptr, &type, &size, &digits, nullptr), SQL_SUCCESS);
    EXPECT_EQ(digits, 0);
    SQLLEN n = 0;
    ASSERT_EQ(stmt->colAttribute(3, SQL_DESC_TYPE, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, SQL_INTERVAL);
    ASSERT_EQ(stmt->colAttribute(3, SQL_DESC_UNNAMED, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, SQL_UNNAMED);
}

TEST_F(StatementWork, ColAttributeAnswersNumbersAndTextsAndRefusesUnknownFields)
{
    SQLLEN n = -1;
    ASSERT_EQ(stmt->prepare(W(u"insert into t values (1)"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->colAttribute(1, SQL_DESC_COUNT, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(stmt->colAttribute(1, SQL_DESC_TYPE, nullptr, 0, nullptr, &n), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxNoResultSet);

    ASSERT_EQ(stmt->prepare(W(u"select rows 1"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->colAttribute(1, SQL_DESC_COUNT, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 5);
    ASSERT_EQ(stmt->colAttribute(4, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, SQL_VARBINARY);
    ASSERT_EQ(stmt->colAttribute(2, SQL_DESC_OCTET_LENGTH, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 20);
    ASSERT_EQ(stmt->colAttribute(1, SQL_DESC_NULLABLE, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, SQL_NO_NULLS);
    uint16_t text[8] = {};
    int16_t bytes = 0;
    ASSERT_EQ(stmt->colAttribute(3, SQL_DESC_NAME, text, sizeof text, &bytes, nullptr), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(text), u"wide");
    EXPECT_EQ(bytes, 8);
    ASSERT_EQ(stmt->colAttribute(3, SQL_DESC_LABEL, text, 6, &bytes, nullptr), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(katest::u16(text), u"wi");
    EXPECT_EQ(stmt->colAttribute(3, SQL_DESC_NAME, text, -2, &bytes, nullptr), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadLength);
    EXPECT_EQ(stmt->colAttribute(3, 4321, text, sizeof text, &bytes, nullptr), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescField);
}

TEST_F(StatementWork, ColumnSizesFollowTheirTypes)
{
    stmt->resolve = [](const std::u16string&, TestResult* r) {
        *r = TestResult{};
        r->columns = {{u"d", SQL_DOUBLE, 0, 3, 2, SQL_NULLABLE}, {u"b", SQL_BIGINT, 0, 0, 4, SQL_NULLABLE}};
        return true;
    };
    conn->reportBinaryPrecision = 0;
    ASSERT_EQ(stmt->prepare(W(u"x"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->ird->irdRecord(1)->precision, 15);
    EXPECT_EQ(stmt->ird->irdRecord(1)->scale, 0);
    EXPECT_EQ(stmt->ird->irdRecord(2)->precision, 19);
}

TEST(TypeSizes, OctetLengthDigitsAndRadixByType)
{
    EXPECT_EQ(baseOctetLengthForType(SQL_DECIMAL, 10, 2, 0), 12);
    EXPECT_EQ(baseOctetLengthForType(SQL_DECIMAL, 10, 0, 0), 11);
    EXPECT_EQ(baseOctetLengthForType(SQL_DECIMAL, 10, 2, 7), 7);
    EXPECT_EQ(baseOctetLengthForType(SQL_TYPE_TIMESTAMP, 23, 3, 0), 16);
    EXPECT_EQ(baseOctetLengthForType(SQL_INTERVAL_DAY, 2, 0, 0), 28);
    EXPECT_EQ(baseOctetLengthForType(SQL_WVARCHAR, 40, 0, 0), 40);
    EXPECT_EQ(baseDecimalDigits(SQL_INTEGER, 5), 0);
    EXPECT_EQ(baseDecimalDigits(SQL_VARCHAR, 5), kBaseNoDigits);
    EXPECT_EQ(baseDecimalDigits(SQL_DECIMAL, 5), 5);
    EXPECT_EQ(baseNumPrecRadix(SQL_DOUBLE, 0, true), 2);
    EXPECT_EQ(baseNumPrecRadix(SQL_DOUBLE, 0, false), 10);
    EXPECT_EQ(baseNumPrecRadix(SQL_CHAR, 0, false), kBaseNoDigits);
}

// ---- Binding --------------------------------------------------------------------------------

TEST_F(StatementWork, BindingGrowsTheArdAndUnbindingFindsTheHighestBoundColumn)
{
    int32_t a = 0;
    int32_t b = 0;
    ASSERT_EQ(stmt->bindCol(5, SQL_C_LONG, &a, 0, nullptr), SQL_SUCCESS);
    EXPECT_GE(stmt->currentArd->count(), 5);
    EXPECT_EQ(stmt->highestBoundColumn, 5);
    EXPECT_EQ(stmt->currentArd->axdRecord(5)->octetLength, 4);
    ASSERT_EQ(stmt->bindCol(2, SQL_C_LONG, &b, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(5, SQL_C_LONG, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->highestBoundColumn, 2);
    ASSERT_EQ(stmt->bindCol(2, SQL_C_LONG, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->highestBoundColumn, 0);
    // Without a scrollable cursor on the connection the bookmark (a
    // forward-only cursor's row number) still binds, and counts as no
    // bound result column.
    conn->staticCursorOps = 0;
    int64_t bookmark = 0;
    EXPECT_EQ(stmt->bindCol(0, SQL_C_VARBOOKMARK, &bookmark, sizeof bookmark, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->highestBoundColumn, 0);
}

TEST_F(StatementWork, EveryFixedSizeCTypeStridesByItsOwnSize)
{
    struct Case {
        int16_t cType;
        int64_t size;
    };
    const Case cases[] = {
        {SQL_C_GUID, 16},      {SQL_C_UTINYINT, 1},  {SQL_C_STINYINT, 1},        {SQL_C_BIT, 1},   {SQL_C_TINYINT, 1},
        {SQL_C_USHORT, 2},     {SQL_C_SSHORT, 2},    {SQL_C_SHORT, 2},           {SQL_C_ULONG, 4}, {SQL_C_SLONG, 4},
        {SQL_C_LONG, 4},       {SQL_C_UBIGINT, 8},   {SQL_C_SBIGINT, 8},         {SQL_C_FLOAT, 4}, {SQL_C_DOUBLE, 8},
        {SQL_C_TYPE_DATE, 6},  {SQL_C_TYPE_TIME, 6}, {SQL_C_TYPE_TIMESTAMP, 16}, {SQL_C_DATE, 6},  {SQL_C_TIME, 6},
        {SQL_C_TIMESTAMP, 16}, {SQL_C_NUMERIC, 19},  {SQL_C_INTERVAL_DAY, 28},   {SQL_C_CHAR, 33}, {SQL_C_BINARY, 33}};
    char buffer[64];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cType);
        ASSERT_EQ(stmt->bindCol(1, c.cType, buffer, 33, nullptr), SQL_SUCCESS);
        EXPECT_EQ(stmt->currentArd->axdRecord(1)->octetLength, c.size);
    }
    // The ODBC 2 date types become their ODBC 3 forms with the interval code.
    ASSERT_EQ(stmt->bindCol(1, SQL_C_DATE, buffer, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->currentArd->axdRecord(1)->conciseType, SQL_C_DATE);
    conn->workarounds2 |= 0x800;
    ASSERT_EQ(stmt->bindCol(1, SQL_C_DATE, buffer, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->currentArd->axdRecord(1)->conciseType, SQL_C_TYPE_DATE);
    EXPECT_EQ(stmt->currentArd->axdRecord(1)->intervalCode, 1);
}

// ---- Fetch ----------------------------------------------------------------------------------

TEST_F(StatementWork, FetchMovesRowsIntoBoundColumnsUntilNoData)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    int32_t id = 0;
    char name[21] = {};
    SQLLEN idLength = 0;
    SQLLEN nameLength = 0;
    SQLLEN noteLength = 0;
    char note[11] = {};
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, &id, 0, &idLength), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(2, SQL_C_CHAR, name, sizeof name, &nameLength), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(5, SQL_C_CHAR, note, sizeof note, &noteLength), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(id, 1);
    EXPECT_STREQ(name, "name-1");
    EXPECT_EQ(nameLength, 6);
    EXPECT_STREQ(note, "odd");
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(noteLength, SQL_NULL_DATA);
    EXPECT_EQ(stmt->fetch(), SQL_NO_DATA);
    // After the end the driver is not asked again.
    const int calls = stmt->fetchRowCalls;
    EXPECT_EQ(stmt->fetch(), SQL_NO_DATA);
    EXPECT_EQ(stmt->fetchRowCalls, calls);
}

TEST_F(StatementWork, FetchWithoutAResultIsACursorStateError)
{
    ASSERT_EQ(run(u"insert into t values (1)"), SQL_SUCCESS);
    EXPECT_EQ(stmt->fetch(), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);
    // A statement without a result is executed again without closing.
    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
}

TEST_F(StatementWork, ScrollingAForwardOnlyCursorFailsBeforeTheDriverIsAsked)
{
    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
    EXPECT_EQ(stmt->fetchScroll(SQL_FETCH_FIRST, 0), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxFetchType);
    EXPECT_EQ(stmt->fetchRowCalls, 0);
}

TEST_F(StatementWork, ABoundColumnBeyondTheResultFailsTheFetch)
{
    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
    int32_t v = 0;
    ASSERT_EQ(stmt->bindCol(6, SQL_C_LONG, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->fetch(), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescIndex);
}

TEST_F(StatementWork, ColumnWiseRowsetsWithStatusesAndRowsFetched)
{
    ASSERT_EQ(run(u"select rows 7"), SQL_SUCCESS);
    constexpr int kRows = 10;
    int32_t ids[kRows] = {};
    SQLLEN idLengths[kRows] = {};
    char names[kRows][8] = {};
    SQLLEN nameLengths[kRows] = {};
    SQLUSMALLINT statuses[kRows] = {};
    SQLULEN fetched = 0;
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(kRows), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_STATUS_PTR, statuses, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, ids, 0, idLengths), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(2, SQL_C_CHAR, names, 8, nameLengths), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(fetched, 7u);
    for (int i = 0; i < kRows; ++i) {
        SCOPED_TRACE(i);
        if (i < 7) {
            EXPECT_EQ(statuses[i], SQL_ROW_SUCCESS);
            EXPECT_EQ(ids[i], i + 1);
            EXPECT_EQ(std::string(names[i]), "name-" + std::to_string(i + 1));
        } else {
            EXPECT_EQ(statuses[i], SQL_ROW_NOROW);
        }
    }
    EXPECT_EQ(stmt->fetch(), SQL_NO_DATA);
}

TEST_F(StatementWork, RowWiseBindingWithABindOffsetWritesEachRowInItsPlace)
{
    struct Row {
        int32_t id;
        SQLLEN idLength;
        char name[8];
        SQLLEN nameLength;
        char pad[4];
    };
    static_assert(sizeof(Row) == 40);
    std::vector<uint8_t> space(1000 + sizeof(Row) * 3 + 64, 0xAB);
    auto* rows = reinterpret_cast<Row*>(space.data() + 1000);
    SQLLEN offset = 1000;
    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<void*>(sizeof(Row)), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0), SQL_SUCCESS);
    Row* base = reinterpret_cast<Row*>(space.data());
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, &base->id, 0, &base->idLength), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(2, SQL_C_CHAR, base->name, 8, &base->nameLength), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].id, i + 1);
        EXPECT_EQ(rows[i].nameLength, 6);
        EXPECT_EQ(std::string(rows[i].name), "name-" + std::to_string(i + 1));
        EXPECT_EQ(static_cast<uint8_t>(rows[i].pad[0]), 0xAB);
    }
    // The records keep the pointers they had.
    EXPECT_EQ(stmt->currentArd->axdRecord(1)->dataPtr, &base->id);
    EXPECT_EQ(static_cast<uint8_t>(space[999]), 0xAB);
}

TEST_F(StatementWork, ATruncatedRowIsAWarningAndNullWithoutIndicatorFailsTheRow)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    char name[4] = {};
    SQLLEN nameLength = 0;
    char note[8] = {};
    ASSERT_EQ(stmt->bindCol(2, SQL_C_CHAR, name, sizeof name, &nameLength), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(5, SQL_C_CHAR, note, sizeof note, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(name, "nam");
    EXPECT_EQ(nameLength, 6);
    EXPECT_EQ(state(), kBaseIdxTruncated);
    // Row 2's note is NULL and has no indicator: 22002, and that row fails.
    EXPECT_EQ(stmt->fetch(), SQL_ERROR);
    bool indicatorRequired = false;
    for (size_t i = 0; i < diags(); ++i)
        indicatorRequired |= state(i) == kBaseIdxIndicatorRequired;
    EXPECT_TRUE(indicatorRequired);
}

TEST_F(StatementWork, OneFailingRowOfARowsetIsAnErrorRowAndTheOthersComeThrough)
{
    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
    char notes[3][4] = {};
    SQLUSMALLINT statuses[3] = {};
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_STATUS_PTR, statuses, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(5, SQL_C_CHAR, notes, 4, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(statuses[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(statuses[1], SQL_ROW_ERROR);
    EXPECT_EQ(statuses[2], SQL_ROW_SUCCESS);
    ASSERT_GE(diags(), 1u);
    EXPECT_TRUE(stmt->diagnostics.recordAt(0)->isWarning());
    EXPECT_EQ(stmt->diagnostics.recordAt(0)->row, 2);
}

class ScrollingWork : public StatementWork {
protected:
    void open(int rows, int rowset)
    {
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
        std::u16string sql = u"select rows " + katest::widen(std::to_string(rows));
        ASSERT_EQ(stmt->execDirect(W(sql.c_str()), SQL_NTS), SQL_SUCCESS);
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(rowset), 0), SQL_SUCCESS);
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_STATUS_PTR, statuses, 0), SQL_SUCCESS);
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
        ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, ids, 0, nullptr), SQL_SUCCESS);
    }
    bool warned(uint16_t index)
    {
        for (size_t i = 0; i < diags(); ++i)
            if (state(i) == index)
                return true;
        return false;
    }
    int32_t ids[10] = {};
    SQLUSMALLINT statuses[10] = {};
    SQLULEN fetched = 0;
};

TEST_F(ScrollingWork, OrientationsMoveTheRowset)
{
    struct Step {
        int16_t orientation;
        int64_t offset;
        int16_t rc;
        int64_t firstId;    // 0: no data
        bool movedToFirst;  // warning 01S06
    };
    open(12, 5);
    const Step steps[] = {
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 1, false},       {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 6, false},
        {SQL_FETCH_RELATIVE, -2, SQL_SUCCESS, 4, false},  {SQL_FETCH_PRIOR, 0, SQL_SUCCESS_WITH_INFO, 1, true},
        {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, 0, false},      {SQL_FETCH_LAST, 0, SQL_SUCCESS, 8, false},
        {SQL_FETCH_ABSOLUTE, 3, SQL_SUCCESS, 3, false},   {SQL_FETCH_ABSOLUTE, -4, SQL_SUCCESS, 9, false},
        {SQL_FETCH_ABSOLUTE, -20, SQL_NO_DATA, 0, false}, {SQL_FETCH_ABSOLUTE, 0, SQL_NO_DATA, 0, false},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 1, false},      {SQL_FETCH_RELATIVE, -7, SQL_NO_DATA, 0, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.orientation << " " << s.offset);
        ids[0] = 0;
        EXPECT_EQ(stmt->fetchScroll(s.orientation, s.offset), s.rc);
        if (s.firstId != 0) {
            EXPECT_EQ(ids[0], s.firstId);
        }
        EXPECT_EQ(warned(kBaseIdxFetchBeforeFirst), s.movedToFirst);
    }
}

TEST_F(ScrollingWork, LastOnAShortResultMarksTheMissingRows)
{
    open(3, 5);
    EXPECT_EQ(stmt->fetchScroll(SQL_FETCH_LAST, 0), SQL_SUCCESS);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(statuses[2], SQL_ROW_SUCCESS);
    EXPECT_EQ(statuses[3], SQL_ROW_NOROW);
    EXPECT_EQ(statuses[4], SQL_ROW_NOROW);
}

TEST_F(ScrollingWork, ExtendedFetchWritesItsOwnStatusArrayUntilTheNextExecute)
{
    open(4, 1);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ROWSET_SIZE, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
    SQLUSMALLINT own[3] = {9, 9, 9};
    SQLULEN count = 0;
    ASSERT_EQ(stmt->extendedFetch(SQL_FETCH_NEXT, 0, &count, own), SQL_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(own[2], SQL_ROW_SUCCESS);
    SQLUSMALLINT* reported = nullptr;
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_ROW_STATUS_PTR, &reported, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(reported, own);
    // FetchScroll now writes the same array (with the ARD's rowset of 1).
    own[0] = 9;
    ASSERT_EQ(stmt->fetchScroll(SQL_FETCH_ABSOLUTE, 4), SQL_SUCCESS);
    EXPECT_EQ(own[0], SQL_ROW_SUCCESS);
}

// ---- SQLGetData -----------------------------------------------------------------------------

TEST_F(StatementWork, GetDataConvertsColumnsAndReportsNull)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    int32_t id = 0;
    SQLLEN length = 0;
    EXPECT_EQ(stmt->getData(1, SQL_C_LONG, &id, 0, nullptr), SQL_ERROR);  // no current row
    EXPECT_EQ(state(), kBaseIdxCursorState);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    // No buffer to write into.
    EXPECT_EQ(stmt->getData(1, SQL_C_LONG, nullptr, 0, &length), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxNullPointer);
    ASSERT_EQ(stmt->getData(1, SQL_C_DEFAULT, &id, 0, &length), SQL_SUCCESS);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(length, 4);
    // The value was read whole: the next call on the column has no data.
    EXPECT_EQ(stmt->getData(1, SQL_C_LONG, &id, 0, &length), SQL_NO_DATA);
    uint16_t wide[8] = {};
    ASSERT_EQ(stmt->getData(3, SQL_C_WCHAR, wide, sizeof wide, &length), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(wide), u"\u00fc-1");
    EXPECT_EQ(length, 6);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    char note[4] = "xx";
    ASSERT_EQ(stmt->getData(5, SQL_C_CHAR, note, sizeof note, &length), SQL_SUCCESS);
    EXPECT_EQ(length, SQL_NULL_DATA);
    EXPECT_EQ(stmt->getData(7, SQL_C_CHAR, note, sizeof note, &length), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescIndex);
}

// A long value read in pieces through buffers of every small size comes
// back whole, each piece a whole number of characters.
TEST_F(StatementWork, GetDataInPiecesReassemblesLongValuesExactly)
{
    stmt->charCodePage = kCodePageUtf8;
    ASSERT_EQ(run(u"select long 3001"), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    TestResult expected;
    ASSERT_TRUE(katest::builtinTestResult(u"select long 3001", &expected));
    const std::string& text = expected.rows[0][0].bytes;
    const std::string& bin = expected.rows[0][1].bytes;

    std::string got;
    char piece[100];
    SQLLEN length = 0;
    int16_t rc = 0;
    int pieces = 0;
    while ((rc = stmt->getData(1, SQL_C_CHAR, piece, sizeof piece, &length)) != SQL_NO_DATA) {
        ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
        ASSERT_NE(length, SQL_NULL_DATA);
        got += piece;
        ++pieces;
        ASSERT_LT(pieces, 1000);
    }
    EXPECT_EQ(got.size(), text.size());
    EXPECT_TRUE(got == text);
    EXPECT_GT(pieces, 1);

    std::string bytes;
    char chunk[77];
    while ((rc = stmt->getData(2, SQL_C_BINARY, chunk, sizeof chunk, &length)) != SQL_NO_DATA) {
        ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
        const SQLLEN n = length == SQL_NO_TOTAL || length > static_cast<SQLLEN>(sizeof chunk) ? sizeof chunk : length;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    EXPECT_EQ(bytes.size(), bin.size());
    EXPECT_TRUE(bytes == bin);
}

TEST_F(StatementWork, GetDataInWidePiecesReassemblesTheText)
{
    ASSERT_EQ(run(u"select long 1500"), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    TestResult expected;
    ASSERT_TRUE(katest::builtinTestResult(u"select long 1500", &expected));
    std::u16string got;
    uint16_t piece[33];
    SQLLEN length = 0;
    int16_t rc = 0;
    while ((rc = stmt->getData(1, SQL_C_WCHAR, piece, sizeof piece, &length)) != SQL_NO_DATA) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        got += katest::u16(piece);
    }
    std::u16string want;
    for (int i = 0; i < 1500; ++i)
        want += std::u16string(i % 4 == 0 ? u"a" : i % 4 == 1 ? u"\u00e9" : i % 4 == 2 ? u"\u20ac" : u"\U0001F600");
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}

TEST_F(StatementWork, GetDataRefusesAnotherCTypeAfterAPieceAndHonoursMaxLength)
{
    ASSERT_EQ(run(u"select long 300"), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    char piece[10];
    SQLLEN length = 0;
    ASSERT_EQ(stmt->getData(2, SQL_C_BINARY, piece, sizeof piece, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->getData(2, SQL_C_CHAR, piece, sizeof piece, &length), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBufferType);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);

    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_MAX_LENGTH, reinterpret_cast<void*>(100), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select long 300"), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    std::vector<char> big(1000);
    ASSERT_EQ(stmt->getData(2, SQL_C_BINARY, big.data(), 1000, &length), SQL_SUCCESS);
    EXPECT_EQ(length, 100);
    EXPECT_EQ(stmt->getData(2, SQL_C_BINARY, big.data(), 1000, &length), SQL_NO_DATA);
}

// ---- Every C type bound, guarded ---------------------------------------------------------------

// Each C type bound column-wise to a column it converts from, over a rowset
// of three rows, with a buffer length of 0 where the type has a fixed size:
// every row lands in its own element and nothing is written outside them.
TEST_F(StatementWork, EveryCTypeBoundColumnWiseStaysInsideItsElements)
{
    struct Case {
        int16_t cType;
        uint16_t column;  // 1 id INTEGER, 2 name VARCHAR(20), 4 data VARBINARY(8)
        size_t element;   // bytes per row
        int64_t bufferLength;
    };
    const Case cases[] = {
        {SQL_C_CHAR, 2, 12, 12},   {SQL_C_WCHAR, 2, 24, 24},        {SQL_C_BINARY, 4, 8, 8},
        {SQL_C_BIT, 1, 1, 0},      {SQL_C_TINYINT, 1, 1, 0},        {SQL_C_STINYINT, 1, 1, 0},
        {SQL_C_UTINYINT, 1, 1, 0}, {SQL_C_SHORT, 1, 2, 0},          {SQL_C_SSHORT, 1, 2, 0},
        {SQL_C_USHORT, 1, 2, 0},   {SQL_C_LONG, 1, 4, 0},           {SQL_C_SLONG, 1, 4, 0},
        {SQL_C_ULONG, 1, 4, 0},    {SQL_C_SBIGINT, 1, 8, 0},        {SQL_C_UBIGINT, 1, 8, 0},
        {SQL_C_FLOAT, 1, 4, 0},    {SQL_C_DOUBLE, 1, 8, 0},         {SQL_C_NUMERIC, 1, 19, 0},
        {SQL_C_DEFAULT, 1, 4, 0},  {SQL_C_INTERVAL_YEAR, 1, 28, 0}, {SQL_C_INTERVAL_SECOND, 1, 28, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cType);
        ASSERT_EQ(stmt->freeStmt(SQL_UNBIND), SQL_SUCCESS);
        ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
        katest::Guarded<uint8_t> data(c.element * 3);
        katest::Guarded<SQLLEN> lengths(3, 0x77);
        ASSERT_EQ(stmt->bindCol(c.column, c.cType, data.data(), c.bufferLength, lengths.data()), SQL_SUCCESS);
        const int16_t rc = stmt->fetch();
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << rc;
        EXPECT_TRUE(data.guardsIntact());
        EXPECT_TRUE(lengths.guardsIntact());
        for (int r = 0; r < 3; ++r)
            EXPECT_NE(lengths.data()[r], SQL_NULL_DATA);
        if (c.cType == SQL_C_LONG || c.cType == SQL_C_DEFAULT) {
            const auto* ids = reinterpret_cast<const int32_t*>(data.data());
            EXPECT_EQ(ids[0], 1);
            EXPECT_EQ(ids[1], 2);
            EXPECT_EQ(ids[2], 3);
        }
        if (c.cType == SQL_C_NUMERIC) {
            for (int r = 0; r < 3; ++r) {
                SQL_NUMERIC_STRUCT n;
                std::memcpy(&n, data.data() + r * c.element, sizeof n);
                EXPECT_EQ(n.val[0], r + 1);
            }
        }
        if (c.cType == SQL_C_CHAR) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data()) + 24), "name-3");
        }
        ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    }
}

TEST_F(StatementWork, ARowsetSizeOfZeroReadsOneRow)
{
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
    katest::Guarded<SQLUSMALLINT> statuses(1, 0x5A5A);
    SQLULEN fetched = 0;
    int32_t id = 0;
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(0), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_STATUS_PTR, statuses.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetchScroll(SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(statuses.data()[0], SQL_ROW_SUCCESS);
    EXPECT_TRUE(statuses.guardsIntact());
}

// A re-execution whose parameter description changed without a new
// prepare (a longer string, another type) is taken as it now stands.
TEST_F(StatementWork, AChangedParameterDescriptionIsAcceptedAtTheNextExecution)
{
    ASSERT_EQ(stmt->prepare(W(u"insert into t values (?)"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->ensureDescriptorRecords(1, 4), 0);
    char text[32] = "short";
    SQLLEN length = SQL_NTS;
    BaseAXDRecord* apd = stmt->currentApd->axdRecord(1);
    apd->setConciseType(SQL_C_CHAR);
    apd->dataPtr = text;
    apd->octetLength = sizeof text;
    apd->octetLengthPtr = &length;
    BaseIPDRecord* ipdRec = stmt->ipd->ipdRecord(1);
    ipdRec->setConciseType(SQL_VARCHAR);
    ipdRec->precision = 5;
    ipdRec->length = 32;
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    std::strcpy(text, "a longer value");
    ipdRec->precision = 14;
    ipdRec->setConciseType(SQL_WVARCHAR);
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    ASSERT_EQ(stmt->executions.size(), 2u);
    EXPECT_EQ(stmt->executions[1][0].bytes, "a longer value");
}

TEST_F(StatementWork, TheDefaultCTypeOfTextIsWideWhenTheNarrowCodePageDiffers)
{
    ASSERT_EQ(run(u"select rows 1"), SQL_SUCCESS);
    BaseIRDRecord* name = stmt->ird->irdRecord(2);
    stmt->charCodePage = kCodePageUtf8;
    EXPECT_EQ(stmt->checkColumnCType(SQL_VARCHAR, 2, name), SQL_C_CHAR);
    stmt->charCodePage = kCodePageLatin1;
    EXPECT_EQ(stmt->checkColumnCType(SQL_VARCHAR, 2, name), SQL_C_WCHAR);
    EXPECT_EQ(stmt->checkColumnCType(SQL_INTEGER, 1, stmt->ird->irdRecord(1)), SQL_C_LONG);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    uint16_t wide[16] = {};
    SQLLEN length = 0;
    ASSERT_EQ(stmt->getData(2, SQL_C_DEFAULT, wide, sizeof wide, &length), SQL_SUCCESS);
    EXPECT_EQ(katest::u16(wide), u"name-1");
}

TEST_F(StatementWork, GetDataGoesBackToAnEarlierColumnOnlyInAnyOrder)
{
    ASSERT_EQ(run(u"select rows 1"), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    int32_t id = 0;
    char name[16];
    SQLLEN length = 0;
    control.numberInfo[SQL_GETDATA_EXTENSIONS] = SQL_GD_ANY_COLUMN;
    ASSERT_EQ(stmt->getData(2, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
    EXPECT_EQ(stmt->getData(1, SQL_C_LONG, &id, 0, &length), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescIndex);
    control.numberInfo[SQL_GETDATA_EXTENSIONS] = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER;
    ASSERT_EQ(stmt->getData(1, SQL_C_LONG, &id, 0, &length), SQL_SUCCESS);
    EXPECT_EQ(id, 1);
}

TEST_F(StatementWork, TheLongDataDescriptorLimitCapsLongColumnLengths)
{
    stmt->resolve = [](const std::u16string&, TestResult* r) {
        *r = TestResult{};
        r->columns = {{u"t", SQL_LONGVARCHAR, 1000000, 0, 0, SQL_NULLABLE}};
        return true;
    };
    ASSERT_EQ(stmt->prepare(W(u"x"), SQL_NTS), SQL_SUCCESS);
    SQLLEN n = 0;
    conn->longDataDescriptorLimit = 4000;
    ASSERT_EQ(stmt->colAttribute(1, SQL_DESC_OCTET_LENGTH, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 4000);
    conn->longDataDescriptorLimit = -4000;
    ASSERT_EQ(stmt->colAttribute(1, SQL_DESC_OCTET_LENGTH, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 0);
    conn->longDataDescriptorLimit = INT64_MIN;
    ASSERT_EQ(stmt->colAttribute(1, SQL_DESC_OCTET_LENGTH, nullptr, 0, nullptr, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 1000000);
}

// In SQLExtendedFetch a row whose value could not be delivered is an error
// row with 01S01 in front of its diagnostics, which become warnings.
TEST_F(StatementWork, ExtendedFetchReportsAnErrorRowWithItsWarning)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ROWSET_SIZE, reinterpret_cast<void*>(2), 0), SQL_SUCCESS);
    char notes[2][4] = {};
    ASSERT_EQ(stmt->bindCol(5, SQL_C_CHAR, notes, 4, nullptr), SQL_SUCCESS);
    SQLULEN count = 0;
    SQLUSMALLINT statuses[2] = {};
    EXPECT_EQ(stmt->extendedFetch(SQL_FETCH_NEXT, 0, &count, statuses), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(statuses[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(statuses[1], SQL_ROW_ERROR);
    bool errorInRow = false;
    for (size_t i = 0; i < diags(); ++i) {
        EXPECT_TRUE(stmt->diagnostics.recordAt(i)->isWarning());
        errorInRow |= state(i) == kBaseIdxErrorInRow;
    }
    EXPECT_TRUE(errorInRow);
}

TEST_F(StatementWork, MaxRowsEndsAForwardOnlyResult)
{
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_MAX_ROWS, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 10"), SQL_SUCCESS);
    int32_t ids[2] = {};
    SQLULEN fetched = 0;
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(2), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, ids, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(ids[0], 3);
    EXPECT_EQ(stmt->fetch(), SQL_NO_DATA);
}

TEST_F(StatementWork, MaxRowsBoundsAScrollableResult)
{
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_MAX_ROWS, reinterpret_cast<void*>(5), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 10"), SQL_SUCCESS);
    int32_t ids[2] = {};
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(2), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, ids, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetchScroll(SQL_FETCH_LAST, 0), SQL_SUCCESS);
    EXPECT_EQ(ids[0], 4);
    EXPECT_EQ(ids[1], 5);
    EXPECT_EQ(stmt->fetchScroll(SQL_FETCH_ABSOLUTE, 6), SQL_NO_DATA);
}

TEST_F(StatementWork, GetDataOnABoundColumnNeedsTheDriversLeave)
{
    ASSERT_EQ(run(u"select rows 1"), SQL_SUCCESS);
    int32_t id = 0;
    char name[16];
    SQLLEN length = 0;
    ASSERT_EQ(stmt->bindCol(2, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    control.numberInfo[SQL_GETDATA_EXTENSIONS] = 0;
    EXPECT_EQ(stmt->getData(1, SQL_C_LONG, &id, 0, &length), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescIndex);
    control.numberInfo[SQL_GETDATA_EXTENSIONS] = SQL_GD_ANY_COLUMN;
    ASSERT_EQ(stmt->getData(1, SQL_C_LONG, &id, 0, &length), SQL_SUCCESS);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(stmt->getData(2, SQL_C_CHAR, name, sizeof name, &length), SQL_ERROR);
    control.numberInfo[SQL_GETDATA_EXTENSIONS] = SQL_GD_ANY_COLUMN | SQL_GD_BOUND;
    ASSERT_EQ(stmt->getData(2, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
    EXPECT_STREQ(name, "name-1");
    // Read whole: the next call has no data and reports length 0.
    length = 99;
    EXPECT_EQ(stmt->getData(2, SQL_C_CHAR, name, sizeof name, &length), SQL_NO_DATA);
    EXPECT_EQ(length, 0);
}

TEST_F(StatementWork, ABindingOfAnImpossibleTypeFailsTheFetch)
{
    ASSERT_EQ(run(u"select rows 1"), SQL_SUCCESS);
    SQL_DATE_STRUCT date;
    ASSERT_EQ(stmt->bindCol(4, SQL_C_TYPE_DATE, &date, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->fetch(), SQL_ERROR);
    EXPECT_EQ(state(), MSG_SQLSTATE_RESTRICTED_DATA_TYPE);
}

// An array of parameter rows stops at the first failing row: the rows
// before it succeeded, so the call succeeds with the error as a warning.
TEST_F(StatementWork, AParameterArrayStopsAtItsFirstFailingRow)
{
    ASSERT_EQ(stmt->prepare(W(u"insert into t values (?)"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->ensureDescriptorRecords(1, 4), 0);
    char values[4][3] = {"ok", "\xde\xad", "ok", "ok"};
    SQLLEN lengths[4] = {2, 2, 2, 2};
    SQLUSMALLINT operations[4] = {SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_PROCEED};
    SQLUSMALLINT statuses[4] = {};
    SQLULEN processed = 0;
    BaseAXDRecord* apd = stmt->currentApd->axdRecord(1);
    apd->setConciseType(SQL_C_CHAR);
    apd->dataPtr = values;
    apd->octetLength = 3;
    apd->octetLengthPtr = lengths;
    apd->indicatorPtr = lengths;
    stmt->ipd->ipdRecord(1)->setConciseType(SQL_VARCHAR);
    stmt->ipd->ipdRecord(1)->length = 2;
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAM_STATUS_PTR, statuses, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_PARAM_OPERATION_PTR, operations, 0), SQL_SUCCESS);
    EXPECT_EQ(stmt->execute(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(statuses[0], SQL_PARAM_SUCCESS);
    EXPECT_EQ(statuses[1], SQL_PARAM_ERROR);
    EXPECT_EQ(statuses[2], SQL_PARAM_UNUSED);
    EXPECT_EQ(processed, 2u);
    EXPECT_TRUE(stmt->diagnostics.recordAt(0)->isWarning());

    // The first row failing fails the call; an ignored row is passed over.
    std::memcpy(values[0], "\xde\xad", 3);
    operations[1] = SQL_PARAM_IGNORE;
    EXPECT_EQ(stmt->execute(), SQL_ERROR);
    EXPECT_EQ(statuses[0], SQL_PARAM_ERROR);
    EXPECT_EQ(processed, 1u);
    std::memcpy(values[0], "ok", 3);
    stmt->executions.clear();
    ASSERT_EQ(stmt->execute(), SQL_SUCCESS);
    EXPECT_EQ(statuses[1], SQL_PARAM_UNUSED);
    EXPECT_EQ(stmt->executions.size(), 2u);
    EXPECT_EQ(processed, 2u);
}

TEST_F(StatementWork, TheConnectionsAliasingReachesTheDriversText)
{
    stmt->resolve = [](const std::u16string&, TestResult* r) {
        *r = TestResult{};
        r->affected = 0;
        return true;
    };
    const char16_t* sql = u"select 1234567890123456789012345 from t";
    ASSERT_EQ(run(sql), SQL_SUCCESS);
    EXPECT_EQ(stmt->prepared.back(), sql);
    conn->numericLiteralAliasing = 1;
    ASSERT_EQ(run(sql), SQL_SUCCESS);
    EXPECT_EQ(stmt->prepared.back(), u"select 1234567890123456789012345BD AS TWCORE_NUMERIC_ALIAS0 from t");
    ASSERT_EQ(stmt->prepare(W(sql), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->prepared.back(), u"select 1234567890123456789012345BD AS TWCORE_NUMERIC_ALIAS0 from t");
}

// A number read as text into a buffer that holds only part of it is cut
// once: 01004, and the next call on the column has no data, since a number
// has no further pieces.
TEST_F(StatementWork, ACutNumberEndsAfterItsFirstPiece)
{
    stmt->resolve = [](const std::u16string&, TestResult* r) {
        *r = TestResult{};
        r->columns = {{u"d", SQL_DOUBLE, 0, 15, 0, SQL_NULLABLE}, {u"s", SQL_VARCHAR, 40, 0, 0, SQL_NULLABLE}};
        const double value = 1.234567;
        r->rows.push_back(
            {TestValue{false, std::string(reinterpret_cast<const char*>(&value), sizeof value), kBaseKindDouble},
             TestValue::text("abcdefghij")});
        return true;
    };
    ASSERT_EQ(run(u"x"), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    char piece[5] = {};
    SQLLEN length = 0;
    EXPECT_EQ(stmt->getData(1, SQL_C_CHAR, piece, sizeof piece, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(piece, "1.23");
    EXPECT_EQ(state(), kBaseIdxTruncated);
    EXPECT_EQ(stmt->getData(1, SQL_C_CHAR, piece, sizeof piece, &length), SQL_NO_DATA);
    // Text goes on piece by piece.
    std::string text;
    int16_t rc = 0;
    while ((rc = stmt->getData(2, SQL_C_CHAR, piece, sizeof piece, &length)) != SQL_NO_DATA) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        text += piece;
    }
    EXPECT_EQ(text, "abcdefghij");
}
