// SQLSetPos and SQLBulkOperations of the statement framework, driven through
// a scripted driver statement whose cursor capability words, row positioning
// and native row hooks the tests control; the emulated operations run on
// work statements of the same scripted kind, whose texts and parameter
// values the tests read back.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/codepage.h"
#include "foundation/kastringw.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/connfixture.h"
#include "support/diagscope.h"
#include "support/guarded.h"
#include "support/teststatement.h"
#include "support/u16.h"

namespace {

using katest::TestColumn;
using katest::TestParam;
using katest::TestResult;
using katest::TestValue;
using katest::W;

// Capability bits of a cursor type's word.
constexpr uint64_t kNativeUpdate = 0x1;
constexpr uint64_t kNativeDelete = 0x2;
constexpr uint64_t kNativeRefresh = 0x4;
constexpr uint64_t kNativePosition = 0x8;
constexpr uint64_t kNativeAdd = 0x10;
constexpr uint64_t kLockNoChange = 0x20;
constexpr uint64_t kEmulatedUpdate = 0x10000;
constexpr uint64_t kEmulatedDelete = 0x20000;
constexpr uint64_t kEmulatedAdd = 0x100000;

// What the scripted statements of a test saw: texts prepared, parameter
// values of each execution, and the native hooks in the order called with
// the column values handed over.
struct Script {
    std::function<bool(const std::u16string&, TestResult*)> resolve;
    std::vector<std::u16string> prepared;
    std::vector<std::vector<TestParam>> executions;
    std::vector<std::string> hooks;
    std::vector<std::string> columnValues;  // "c=<bytes>" or "c=NULL"
    std::vector<int32_t> columnKinds;
    bool failColumnData = false;
};
Script* gScript = nullptr;

// "select c1, c2, c3 from t": an INTEGER and two VARCHAR(10) columns, rows
// (i, "a<i>", "b<i>"); "select narrow from t" and "select wide from t": one
// VARCHAR(1000), resp. WVARCHAR(1000), column;
// anything else as the built-in table has it.
bool scriptedResult(const std::u16string& sql, TestResult* out)
{
    if (sql.find(u"c1, c2, c3") != std::u16string::npos) {
        *out = TestResult{};
        out->columns = {{u"c1", SQL_INTEGER, 0, 10, 0, SQL_NULLABLE},
                        {u"c2", SQL_VARCHAR, 10, 0, 0, SQL_NULLABLE},
                        {u"c3", SQL_VARCHAR, 10, 0, 0, SQL_NULLABLE}};
        for (int i = 1; i <= 5; ++i)
            out->rows.push_back({TestValue::integer(i), TestValue::text("a" + std::to_string(i)),
                                 TestValue::text("b" + std::to_string(i))});
        return true;
    }
    if (sql.find(u"select wide") != std::u16string::npos || sql.find(u"select narrow") != std::u16string::npos) {
        *out = TestResult{};
        const bool wide = sql.find(u"select wide") != std::u16string::npos;
        out->columns = {{u"v", static_cast<int16_t>(wide ? SQL_WVARCHAR : SQL_VARCHAR), 1000, 0, 0, SQL_NULLABLE}};
        out->rows.push_back({TestValue::text("x")});
        return true;
    }
    return katest::builtinTestResult(sql, out);
}

class SetPosStatement : public katest::TestStatement {
public:
    explicit SetPosStatement(BaseConnection* conn) noexcept : TestStatement(conn)
    {
        resolve = [](const std::u16string& sql, TestResult* out) { return gScript->resolve(sql, out); };
    }

    int16_t prepareHook(BaseSqlStringW* text) noexcept override
    {
        gScript->prepared.emplace_back(reinterpret_cast<const char16_t*>(text->data), text->len);
        return TestStatement::prepareHook(text);
    }
    int16_t executeHook() noexcept override
    {
        gScript->executions.push_back(pending);
        return TestStatement::executeHook();
    }
    // The result's columns may be changed through the cursor.
    int16_t describeStatement() noexcept override
    {
        if (TestStatement::describeStatement() != 0)
            return 1;
        for (uint16_t c = 1; c <= resultColumnCount; ++c)
            ird->irdRecord(c)->updatable = SQL_ATTR_WRITE;
        return 0;
    }
    // The scripted driver keeps every concurrency it is asked for.
    int16_t setStmtAttrHook(int32_t attribute, void* value, int32_t length) noexcept override
    {
        if (attribute == SQL_ATTR_CONCURRENCY) {
            attributeValues[kBaseAttrConcurrency] = reinterpret_cast<intptr_t>(value);
            return 0;
        }
        return TestStatement::setStmtAttrHook(attribute, value, length);
    }

    int16_t setPosAbort() noexcept override { return note("abort"); }
    int16_t setPosDelete() noexcept override { return note("delete"); }
    int16_t setPosAddBegin() noexcept override { return note("add-begin"); }
    int16_t setPosAddExecute() noexcept override { return note("add-execute"); }
    int16_t setPosUpdateBegin() noexcept override { return note("update-begin"); }
    int16_t setPosUpdateExecute() noexcept override { return note("update-execute"); }
    int16_t setPosColumnData(uint16_t column, const BaseSetPosValue* value) noexcept override
    {
        if (gScript->failColumnData) {
            basePostErrorTextA(kBaseIdxGeneralError, 0, "the scripted driver refused the value", 3);
            return 1;
        }
        std::string v = std::to_string(column) + "=";
        if (value->isNull != 0)
            v += "NULL";
        else
            v.append(static_cast<const char*>(value->data), static_cast<size_t>(value->length));
        gScript->columnValues.push_back(v);
        gScript->columnKinds.push_back(value->kind);
        return 0;
    }

private:
    static int16_t note(const char* what) noexcept
    {
        gScript->hooks.emplace_back(what);
        return 0;
    }
};

class SetPosConnection : public katest::TestStmtConnection {
public:
    using TestStmtConnection::TestStmtConnection;
    int16_t createStatement(BaseStatement** out) noexcept override
    {
        return katest::makeStatement<SetPosStatement>(out, this);
    }
};

class SetPosWork : public katest::ConnectedFixture<katest::TestEnvOf<SetPosConnection>> {
protected:
    void SetUp() override
    {
        ConnectedFixture::SetUp();
        if (HasFatalFailure())
            return;
        script.resolve = scriptedResult;
        gScript = &script;
    }
    void TearDown() override
    {
        ConnectedFixture::TearDown();
        gScript = nullptr;
    }

    // A statement over `sql` with cursor type `type`, whose capability word
    // is `caps`, concurrency `concurrency`, a rowset of `rowset` rows with
    // the status array `statuses`; the first rowset is fetched.
    void open(const char16_t* sql, uint64_t caps, int64_t type = SQL_CURSOR_STATIC,
              int64_t concurrency = SQL_CONCUR_LOCK, int64_t rowset = 1, bool fetch = true)
    {
        conn->staticCursorOps = caps;
        conn->forwardCursorOps = caps;
        BaseStatement* s = nullptr;
        ASSERT_EQ(conn->createStatement(&s), 0);
        stmt = static_cast<SetPosStatement*>(s);
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, reinterpret_cast<void*>(type), 0), SQL_SUCCESS);
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CONCURRENCY, reinterpret_cast<void*>(concurrency), 0), SQL_SUCCESS);
        ASSERT_EQ(stmt->setCursorName(W(u"C1"), SQL_NTS), SQL_SUCCESS);
        ASSERT_EQ(stmt->execDirect(W(sql), SQL_NTS), SQL_SUCCESS);
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<void*>(rowset), 0), SQL_SUCCESS);
        ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_STATUS_PTR, statuses, 0), SQL_SUCCESS);
        if (fetch) {
            ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, ids, 0, idLengths), SQL_SUCCESS);
            ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
        }
    }
    // Binds c2 and c3 of the three-column result as text of the rowset.
    void bindTexts()
    {
        ASSERT_EQ(stmt->bindCol(2, SQL_C_CHAR, c2[0], sizeof c2[0], c2Lengths), SQL_SUCCESS);
        ASSERT_EQ(stmt->bindCol(3, SQL_C_CHAR, c3[0], sizeof c3[0], c3Lengths), SQL_SUCCESS);
    }
    uint16_t state(size_t i = 0) { return stmt->diagnostics.recordAt(i)->sqlstateMsg; }
    size_t diags() { return stmt->diagnostics.recordCount(); }
    bool posted(uint16_t index)
    {
        for (size_t i = 0; i < diags(); ++i)
            if (state(i) == index)
                return true;
        return false;
    }

    Script script;
    SetPosStatement* stmt = nullptr;
    int32_t ids[5] = {};
    SQLLEN idLengths[5] = {};
    char c2[5][12] = {};
    SQLLEN c2Lengths[5] = {};
    char c3[5][12] = {};
    SQLLEN c3Lengths[5] = {};
    SQLUSMALLINT statuses[5] = {};
};

}  // namespace

// ---- The refusals -------------------------------------------------------------------------------

TEST_F(SetPosWork, EachRefusalHasItsSqlstateAndLeavesTheDriverAlone)
{
    const uint64_t all =
        kNativePosition | kNativeRefresh | kEmulatedUpdate | kEmulatedDelete | kEmulatedAdd | kLockNoChange;
    struct Case {
        const char* what;
        uint64_t caps;
        int64_t type;
        int64_t concurrency;
        int64_t rowset;
        bool fetch;
        bool bind;
        int bulk;  // 0: SQLSetPos, else SQLBulkOperations with this operation
        uint64_t row;
        uint16_t operation;
        uint16_t lock;
        uint16_t expected;
    };
    const Case cases[] = {
        {"no rowset yet", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, false, true, 0, 1, SQL_REFRESH,
         SQL_LOCK_NO_CHANGE, kBaseIdxCursorState},
        {"forward-only position", all, SQL_CURSOR_FORWARD_ONLY, SQL_CONCUR_LOCK, 1, true, true, 0, 1, SQL_POSITION,
         SQL_LOCK_NO_CHANGE, kBaseIdxCursorPosition},
        {"unknown operation", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true, true, 0, 1, 7, SQL_LOCK_NO_CHANGE,
         kBaseIdxNotSupported},
        {"unknown lock", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true, true, 0, 1, SQL_POSITION, 3,
         kBaseIdxNotSupported},
        {"lock the driver lacks", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true, true, 0, 1, SQL_POSITION,
         SQL_LOCK_EXCLUSIVE, kBaseIdxNotSupported},
        {"operation the word lacks", kNativePosition | kLockNoChange, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true, true,
         0, 1, SQL_REFRESH, SQL_LOCK_NO_CHANGE, kBaseIdxNotSupported},
        {"update read-only", all, SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY, 1, true, true, 0, 1, SQL_UPDATE,
         SQL_LOCK_NO_CHANGE, MSG_SQLSTATE_INVALID_ATTRIBUTE_IDENTIFIER},
        {"update nothing bound", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true, false, 0, 1, SQL_UPDATE,
         SQL_LOCK_NO_CHANGE, MSG_SQLSTATE_DEGREE_MISMATCH},
        {"position row 0", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true, true, 0, 0, SQL_POSITION,
         SQL_LOCK_NO_CHANGE, kBaseIdxCursorPosition},
        {"row beyond the rowset", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 3, true, true, 0, 4, SQL_REFRESH,
         SQL_LOCK_NO_CHANGE, kBaseIdxRowValue},
        {"whole-rowset update", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 3, true, true, 0, 0, SQL_UPDATE,
         SQL_LOCK_NO_CHANGE, kBaseIdxNotSupported},
        {"bulk update by bookmark", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true, true, SQL_UPDATE_BY_BOOKMARK, 0,
         0, 0, kBaseIdxNotSupported},
        {"bulk add read-only", all, SQL_CURSOR_FORWARD_ONLY, SQL_CONCUR_READ_ONLY, 1, true, true, SQL_ADD, 0, 0, 0,
         MSG_SQLSTATE_INVALID_ATTRIBUTE_IDENTIFIER},
        {"bulk add without the add bit", kNativePosition | kLockNoChange, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true,
         true, SQL_ADD, 0, 0, 0, kBaseIdxNotSupported},
        {"bulk add nothing bound", all, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK, 1, true, false, SQL_ADD, 0, 0, 0,
         MSG_SQLSTATE_DEGREE_MISMATCH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        script = Script{};
        script.resolve = scriptedResult;
        open(u"select c1, c2, c3 from t", c.caps, c.type, c.concurrency, c.rowset, c.fetch);
        if (HasFatalFailure())
            return;
        if (!c.bind) {
            ASSERT_EQ(stmt->freeStmt(SQL_UNBIND), SQL_SUCCESS);
        } else if (!c.fetch) {
            ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, ids, 0, idLengths), SQL_SUCCESS);
        }
        const size_t prepared = script.prepared.size();
        const int16_t rc =
            c.bulk != 0 ? stmt->bulkOperations(static_cast<int16_t>(c.bulk)) : stmt->setPos(c.row, c.operation, c.lock);
        EXPECT_EQ(rc, SQL_ERROR);
        ASSERT_GE(diags(), 1u);
        EXPECT_EQ(state(), c.expected);
        EXPECT_TRUE(script.hooks.empty());
        EXPECT_EQ(script.prepared.size(), prepared);
        EXPECT_EQ(stmt->freeStmt(SQL_DROP), SQL_SUCCESS);
        stmt = nullptr;
    }
}

// ---- Positioning and refreshing -----------------------------------------------------------------

TEST_F(SetPosWork, PositionOnRowThreeLeavesTheCursorThereForGetData)
{
    open(u"select c1, c2, c3 from t", kNativePosition | kLockNoChange, SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY, 5);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(stmt->setPos(3, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
    EXPECT_EQ(stmt->rowsetPosition, 2u);
    katest::Guarded<char> text(8);
    SQLLEN length = 0;
    ASSERT_EQ(stmt->getData(2, SQL_C_CHAR, text.data(), static_cast<int64_t>(text.bytes()), &length), SQL_SUCCESS);
    EXPECT_EQ(std::string(text.data(), static_cast<size_t>(length)), "a3");
    EXPECT_TRUE(text.guardsIntact());
    SQLULEN number = 0;
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_ROW_NUMBER, &number, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(number, 3u);
}

TEST_F(SetPosWork, PositionOnARowTheRowsetDoesNotHoldIsRefused)
{
    // The last rowset of five rows holds rows 4 and 5 only: its third row
    // is none, and the cursor stays on the row it stood on.
    open(u"select c1, c2, c3 from t", kNativePosition | kLockNoChange, SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY, 3);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    ASSERT_EQ(statuses[2], SQL_ROW_NOROW);
    ASSERT_EQ(stmt->setPos(2, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
    EXPECT_EQ(stmt->setPos(3, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorPosition);
    EXPECT_EQ(stmt->rowsetPosition, 1u);
    int32_t id = 0;
    ASSERT_EQ(stmt->getData(1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(id, 5);
}

TEST_F(SetPosWork, RefreshReadsTheRowsAgainAndMarksEachRow)
{
    // The rows change on the server after the fetch; row 2's new value no
    // longer converts to the bound integer.
    open(u"select c1, c2, c3 from t", kNativeRefresh | kLockNoChange, SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY, 3);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(stmt->ird->irdRecord(1)->conciseType, SQL_INTEGER);
    stmt->result.rows[0][0] = TestValue::integer(11);
    stmt->result.rows[1][0] = TestValue::text("not a number");
    stmt->result.rows[2][0] = TestValue::integer(33);
    ids[0] = ids[1] = ids[2] = 0;

    // One row: only that row is read again.
    ASSERT_EQ(stmt->setPos(3, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
    EXPECT_EQ(ids[2], 33);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(statuses[2], SQL_ROW_SUCCESS);

    // The whole rowset: the failing row is an error row, its error a
    // warning, and the call succeeds with information.
    ASSERT_EQ(stmt->setPos(0, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(ids[0], 11);
    EXPECT_EQ(ids[2], 33);
    EXPECT_EQ(statuses[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(statuses[1], SQL_ROW_ERROR);
    EXPECT_EQ(statuses[2], SQL_ROW_SUCCESS);
    ASSERT_GE(diags(), 1u);
    EXPECT_EQ(stmt->diagnostics.recordAt(0)->row, 2);
    EXPECT_TRUE(stmt->diagnostics.hasOnlyWarnings());
    // The cursor stays on the row the single-row refresh left it on.
    EXPECT_EQ(stmt->rowsetPosition, 2u);

    // Every row failing fails the call.
    for (auto& row : stmt->result.rows)
        row[0] = TestValue::text("nope");
    EXPECT_EQ(stmt->setPos(0, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_EQ(statuses[0], SQL_ROW_ERROR);
    EXPECT_EQ(statuses[1], SQL_ROW_ERROR);
    EXPECT_EQ(statuses[2], SQL_ROW_ERROR);
}

// ---- The emulation ------------------------------------------------------------------------------

TEST_F(SetPosWork, EmulationTextsNameTheTableAndTheColumnsTaken)
{
    struct Case {
        const char16_t* sql;
        uint16_t operation;
        const char16_t* quote;
        bool ignoreC2;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"select c1, c2, c3 from s.t where c1 > 0", SQL_UPDATE, u"\"", false,
         u" UPDATE s.t SET \"c1\"=?,\"c2\"=?,\"c3\"=? WHERE CURRENT OF C1"},
        {u"SELECT c1, c2, c3 FROM t ORDER BY c1", SQL_ADD, u" ", true, u" INSERT INTO t(c1,c3)values(?,?)"},
        {u"select c1, c2, c3 from t", SQL_ADD, u"`", false, u" INSERT INTO t(`c1`,`c2`,`c3`)values(?,?,?)"},
        {u"select c1, c2, c3 from s.t for update", SQL_DELETE, u"\"", false, u" DELETE FROM s.t WHERE CURRENT OF C1"},
        {u"select c1, c2, c3", SQL_DELETE, u"\"", false, u" DELETE FROM  WHERE CURRENT OF C1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(c.sql));
        control.textInfo[SQL_IDENTIFIER_QUOTE_CHAR] = c.quote;
        open(c.sql, kEmulatedUpdate | kEmulatedDelete | kEmulatedAdd | kNativePosition | kLockNoChange);
        if (HasFatalFailure())
            return;
        bindTexts();
        c2Lengths[0] = c.ignoreC2 ? SQL_COLUMN_IGNORE : SQL_NTS;
        BaseStatement* work = nullptr;
        ASSERT_EQ(conn->createStatement(&work), 0);
        KaStringW text;
        ASSERT_EQ(stmt->buildEmulationText(work, 0, c.operation, &text), 0);
        EXPECT_EQ(katest::u16(text.data, text.len), c.expected);
        const int64_t params = c.operation == SQL_DELETE ? 0 : c.ignoreC2 ? 2 : 3;
        if (params != 0) {
            EXPECT_EQ(work->ipd->count(), params);
            EXPECT_EQ(work->currentApd->count(), params);
        }
        EXPECT_EQ(work->freeStmt(SQL_DROP), SQL_SUCCESS);
        EXPECT_EQ(stmt->freeStmt(SQL_DROP), SQL_SUCCESS);
        stmt = nullptr;
    }
}

TEST_F(SetPosWork, EmulatedAddInsertsTheBoundRowsAndLeavesIgnoredOnesOut)
{
    control.textInfo[SQL_IDENTIFIER_QUOTE_CHAR] = u" ";
    open(u"select c1, c2, c3 from t", kEmulatedAdd | kLockNoChange, SQL_CURSOR_FORWARD_ONLY, SQL_CONCUR_LOCK, 3);
    ASSERT_FALSE(HasFatalFailure());
    bindTexts();
    SQLUSMALLINT operations[3] = {SQL_ROW_PROCEED, SQL_ROW_IGNORE, SQL_ROW_PROCEED};
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_OPERATION_PTR, operations, 0), SQL_SUCCESS);
    const int32_t newIds[3] = {7, 8, 9};
    std::memcpy(ids, newIds, sizeof newIds);
    for (int r = 0; r < 3; ++r) {
        std::snprintf(c2[r], sizeof c2[r], "x%d", r);
        std::snprintf(c3[r], sizeof c3[r], "y%d", r);
        c2Lengths[r] = r == 0 ? SQL_COLUMN_IGNORE : SQL_NTS;
        c3Lengths[r] = SQL_NTS;
        statuses[r] = 99;
    }
    const size_t before = script.executions.size();
    ASSERT_EQ(stmt->bulkOperations(SQL_ADD), SQL_SUCCESS);
    ASSERT_EQ(script.executions.size(), before + 2);
    EXPECT_EQ(script.prepared.back(), u" INSERT INTO t(c1,c2,c3)values(?,?,?)");
    EXPECT_NE(std::find(script.prepared.begin(), script.prepared.end(), u" INSERT INTO t(c1,c3)values(?,?)"),
              script.prepared.end());
    // Row 1: c2 ignored; row 3: all three; row 2 marked to be ignored.
    const std::vector<TestParam>& first = script.executions[before];
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].bytes, std::string(reinterpret_cast<const char*>(&newIds[0]), 4));
    EXPECT_EQ(first[1].bytes, "y0");
    const std::vector<TestParam>& third = script.executions[before + 1];
    ASSERT_EQ(third.size(), 3u);
    EXPECT_EQ(third[0].bytes, std::string(reinterpret_cast<const char*>(&newIds[2]), 4));
    EXPECT_EQ(third[1].bytes, "x2");
    EXPECT_EQ(third[2].bytes, "y2");
    EXPECT_EQ(statuses[0], SQL_ROW_ADDED);
    EXPECT_EQ(statuses[2], SQL_ROW_ADDED);
    EXPECT_NE(statuses[1], SQL_ROW_ADDED);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
}

TEST_F(SetPosWork, ATableNameOfThreeHundredCharactersFailsBeforeAnythingIsSent)
{
    const std::u16string table(300, u'n');
    const std::u16string sql = u"select c1, c2, c3 from " + table;
    open(sql.c_str(), kEmulatedAdd | kEmulatedUpdate | kNativePosition | kLockNoChange);
    ASSERT_FALSE(HasFatalFailure());
    bindTexts();
    const size_t prepared = script.prepared.size();
    const size_t executed = script.executions.size();
    for (uint16_t operation : {SQL_UPDATE, SQL_ADD}) {
        EXPECT_EQ(operation == SQL_ADD ? stmt->bulkOperations(SQL_ADD)
                                       : stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE),
                  SQL_ERROR);
        ASSERT_GE(diags(), 1u);
        EXPECT_EQ(state(), kBaseIdxGeneralError);
        EXPECT_EQ(stmt->diagnostics.recordAt(0)->nativeCode,
                  operation == SQL_ADD ? MSG_SETPOS_ADD_TABLE_TOO_LONG : MSG_SETPOS_OP_TABLE_TOO_LONG);
        EXPECT_EQ(statuses[0], SQL_ROW_ERROR);
    }
    EXPECT_EQ(script.prepared.size(), prepared);
    EXPECT_EQ(script.executions.size(), executed);
}

TEST_F(SetPosWork, AnEmulatedUpdateThatTheServerRefusesIsAnErrorRow)
{
    // Positioned statements are not run through this framework's cursors:
    // the update fails and says so instead of reporting a changed row.
    control.textInfo[SQL_IDENTIFIER_QUOTE_CHAR] = u"\"";
    open(u"select c1, c2, c3 from t", kEmulatedUpdate | kNativePosition | kLockNoChange);
    ASSERT_FALSE(HasFatalFailure());
    bindTexts();
    EXPECT_EQ(stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_EQ(statuses[0], SQL_ROW_ERROR);
    EXPECT_TRUE(posted(kBaseIdxNotSupported));
    EXPECT_TRUE(script.executions.size() == 1u);  // the cursor's own execution only
    EXPECT_FALSE(stmt->forUpdateClause);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
}

TEST_F(SetPosWork, EmulatedAddTakesAValueAtExecutionThroughTheWorkStatement)
{
    control.textInfo[SQL_IDENTIFIER_QUOTE_CHAR] = u" ";
    open(u"select c1, c2, c3 from t", kEmulatedAdd | kLockNoChange, SQL_CURSOR_FORWARD_ONLY);
    ASSERT_FALSE(HasFatalFailure());
    bindTexts();
    ids[0] = 42;
    c2Lengths[0] = SQL_DATA_AT_EXEC;
    std::strcpy(c3[0], "z");
    c3Lengths[0] = SQL_NTS;
    ASSERT_EQ(stmt->bulkOperations(SQL_ADD), SQL_NEED_DATA);
    void* token = nullptr;
    ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, c2[0]);
    ASSERT_EQ(stmt->putData(const_cast<char*>("ab"), 2), SQL_SUCCESS);
    ASSERT_EQ(stmt->putData(const_cast<char*>("cd"), 2), SQL_SUCCESS);
    ASSERT_EQ(stmt->paramData(&token), SQL_SUCCESS);
    ASSERT_FALSE(script.executions.empty());
    const std::vector<TestParam>& sent = script.executions.back();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].bytes, "abcd");
    EXPECT_EQ(sent[2].bytes, "z");
    EXPECT_EQ(statuses[0], SQL_ROW_ADDED);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
    EXPECT_EQ(stmt->setPosWork, nullptr);
    // The statement is out of data at execution: another SQLParamData is
    // out of sequence.
    EXPECT_EQ(stmt->paramData(&token), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);
}

// ---- The native operations ----------------------------------------------------------------------

TEST_F(SetPosWork, NativeUpdateWithAValueAtExecutionCompletesThroughPutData)
{
    open(u"select c1, c2, c3 from t", kNativeUpdate | kNativePosition | kLockNoChange);
    ASSERT_FALSE(HasFatalFailure());
    bindTexts();
    ids[0] = 5;
    c2Lengths[0] = SQL_LEN_DATA_AT_EXEC(4);
    c3Lengths[0] = SQL_NULL_DATA;
    ASSERT_EQ(stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA);
    EXPECT_EQ(script.hooks, (std::vector<std::string>{"update-begin"}));
    void* token = nullptr;
    ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, c2[0]);
    ASSERT_EQ(stmt->putData(const_cast<char*>("new"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->putData(const_cast<char*>("er"), 2), SQL_SUCCESS);
    ASSERT_EQ(stmt->paramData(&token), SQL_SUCCESS);
    EXPECT_EQ(script.hooks, (std::vector<std::string>{"update-begin", "update-execute"}));
    const std::string five(reinterpret_cast<const char*>(&ids[0]), 4);
    EXPECT_EQ(script.columnValues, (std::vector<std::string>{"1=" + five, "2=newer", "3=NULL"}));
    EXPECT_EQ(statuses[0], SQL_ROW_UPDATED);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
}

TEST_F(SetPosWork, NativeValuesThatGrowInConversionReachTheDriverWhole)
{
    // Text becomes longer as the column's UTF-8: UTF-16 euro signs take
    // three bytes each, Latin-1 letters with accents two.
    struct Case {
        const char* what;
        int16_t cType;
        std::string value;
        std::string expected;
        bool atExecution;
    };
    std::string euros16;
    std::string euros8;
    for (int i = 0; i < 200; ++i) {
        euros16 += std::string("\xac\x20", 2);
        euros8 += "\xe2\x82\xac";
    }
    const std::string latin1(300, '\xe9');
    std::string accents8;
    for (int i = 0; i < 300; ++i)
        accents8 += "\xc3\xa9";
    const Case cases[] = {
        {"wide text bound", SQL_C_WCHAR, euros16, euros8, false},
        {"wide text at execution", SQL_C_WCHAR, euros16, euros8, true},
        {"Latin-1 text bound", SQL_C_CHAR, latin1, accents8, false},
        {"Latin-1 text at execution", SQL_C_CHAR, latin1, accents8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        script = Script{};
        script.resolve = scriptedResult;
        open(u"select narrow from t", kNativeUpdate | kNativePosition | kLockNoChange, SQL_CURSOR_STATIC,
             SQL_CONCUR_LOCK, 1, false);
        if (HasFatalFailure())
            return;
        stmt->charCodePage = kCodePageLatin1;
        std::vector<char> buffer(c.value.begin(), c.value.end());
        SQLLEN length = c.atExecution ? SQL_DATA_AT_EXEC : static_cast<SQLLEN>(c.value.size());
        ASSERT_EQ(stmt->bindCol(1, c.cType, buffer.data(), static_cast<int64_t>(buffer.size()), &length), SQL_SUCCESS);
        ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
        length = c.atExecution ? SQL_DATA_AT_EXEC : static_cast<SQLLEN>(c.value.size());
        std::copy(c.value.begin(), c.value.end(), buffer.begin());
        const int16_t rc = stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE);
        if (c.atExecution) {
            ASSERT_EQ(rc, SQL_NEED_DATA);
            void* token = nullptr;
            ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
            ASSERT_EQ(stmt->putData(const_cast<char*>(c.value.data()), static_cast<int64_t>(c.value.size())),
                      SQL_SUCCESS);
            ASSERT_EQ(stmt->paramData(&token), SQL_SUCCESS);
        } else {
            ASSERT_EQ(rc, SQL_SUCCESS);
        }
        ASSERT_EQ(script.columnValues.size(), 1u);
        EXPECT_EQ(script.columnValues[0], "1=" + c.expected);
        EXPECT_EQ(statuses[0], SQL_ROW_UPDATED);
        EXPECT_EQ(stmt->freeStmt(SQL_DROP), SQL_SUCCESS);
        stmt = nullptr;
    }
}

TEST_F(SetPosWork, ANativeColumnTheDriverRefusesAbortsTheRow)
{
    open(u"select c1, c2, c3 from t", kNativeUpdate | kNativeDelete | kNativePosition | kLockNoChange);
    ASSERT_FALSE(HasFatalFailure());
    script.failColumnData = true;
    EXPECT_EQ(stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_EQ(script.hooks, (std::vector<std::string>{"update-begin", "abort"}));
    EXPECT_EQ(statuses[0], SQL_ROW_ERROR);
    // A row in error is refused for a single-row change.
    script.hooks.clear();
    EXPECT_EQ(stmt->setPos(1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorPosition);
    EXPECT_TRUE(script.hooks.empty());
}

TEST_F(SetPosWork, AValueAtExecutionTheDriverRefusesEndsTheOperation)
{
    open(u"select c1, c2, c3 from t", kNativeUpdate | kNativePosition | kLockNoChange);
    ASSERT_FALSE(HasFatalFailure());
    bindTexts();
    c2Lengths[0] = SQL_DATA_AT_EXEC;
    ASSERT_EQ(stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA);
    void* token = nullptr;
    ASSERT_EQ(stmt->paramData(&token), SQL_NEED_DATA);
    ASSERT_EQ(stmt->putData(const_cast<char*>("v"), 1), SQL_SUCCESS);
    script.failColumnData = true;
    EXPECT_EQ(stmt->paramData(&token), SQL_ERROR);
    EXPECT_EQ(script.hooks, (std::vector<std::string>{"update-begin", "abort"}));
    EXPECT_EQ(statuses[0], SQL_ROW_ERROR);
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
    // Nothing waits any more.
    EXPECT_EQ(stmt->paramData(&token), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);
    EXPECT_EQ(stmt->putData(const_cast<char*>("v"), 1), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxSequence);
}

TEST_F(SetPosWork, AfterExtendedFetchAFailingRowOfARefreshIsAnnouncedFirst)
{
    open(u"select c1, c2, c3 from t", kNativeRefresh | kLockNoChange, SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY, 1,
         false);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(stmt->setStmtAttr(SQL_ROWSET_SIZE, reinterpret_cast<void*>(3), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, ids, 0, idLengths), SQL_SUCCESS);
    SQLUSMALLINT own[3] = {9, 9, 9};
    SQLULEN count = 0;
    ASSERT_EQ(stmt->extendedFetch(SQL_FETCH_NEXT, 0, &count, own), SQL_SUCCESS);
    stmt->result.rows[1][0] = TestValue::text("not a number");
    own[0] = own[1] = own[2] = 9;
    ASSERT_EQ(stmt->setPos(0, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(own[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(own[1], SQL_ROW_ERROR);
    EXPECT_EQ(own[2], SQL_ROW_SUCCESS);
    ASSERT_GE(diags(), 2u);
    EXPECT_EQ(state(0), kBaseIdxErrorInRow);
    EXPECT_TRUE(stmt->diagnostics.hasOnlyWarnings());
}

TEST_F(SetPosWork, AnInvalidLengthInABoundColumnFailsTheRowEitherWay)
{
    struct Case {
        const char* what;
        uint64_t caps;
        SQLLEN length;
        std::vector<std::string> hooks;
    };
    const Case cases[] = {
        {"native, length -7", kNativeUpdate | kNativePosition | kLockNoChange, -7, {"update-begin", "abort"}},
        {"emulated, length -7", kEmulatedUpdate | kNativePosition | kLockNoChange, -7, {}},
        {"native, length -99", kNativeUpdate | kNativePosition | kLockNoChange, -99, {"update-begin", "abort"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        script = Script{};
        script.resolve = scriptedResult;
        open(u"select c1, c2, c3 from t", c.caps);
        if (HasFatalFailure())
            return;
        bindTexts();
        c2Lengths[0] = c.length;
        EXPECT_EQ(stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
        EXPECT_TRUE(posted(kBaseIdxBadLength));
        EXPECT_EQ(script.hooks, c.hooks);
        EXPECT_EQ(statuses[0], SQL_ROW_ERROR);
        EXPECT_EQ(script.prepared.size(), 1u);  // the cursor's text alone
        EXPECT_EQ(stmt->freeStmt(SQL_DROP), SQL_SUCCESS);
        stmt = nullptr;
    }
}

TEST_F(SetPosWork, CancelEndsAWaitingOperationAndKeepsTheCursor)
{
    open(u"select c1, c2, c3 from t", kNativeUpdate | kNativePosition | kLockNoChange);
    ASSERT_FALSE(HasFatalFailure());
    bindTexts();
    c2Lengths[0] = SQL_DATA_AT_EXEC;
    ASSERT_EQ(stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA);
    ASSERT_EQ(stmt->cancel(), SQL_SUCCESS);
    EXPECT_EQ(diags(), 0u);
    EXPECT_EQ(script.hooks, (std::vector<std::string>{"update-begin", "abort"}));
    EXPECT_EQ(stmt->statementState, kBaseStmtCursorOpen);
    EXPECT_FALSE(stmt->setPosDataAtExec);
    c2Lengths[0] = SQL_NTS;
    std::strcpy(c2[0], "q");
    EXPECT_EQ(stmt->setPos(1, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS);
    EXPECT_EQ(statuses[0], SQL_ROW_UPDATED);
}

// ---- What SQLGetFunctions reports ----------------------------------------------------------------

TEST_F(SetPosWork, SetPosIsOfferedOnlyWhereItDoesSomething)
{
    struct Case {
        uint64_t forward;
        uint64_t statik;
        uint32_t concurrency;
        bool setPos;
        bool bulk;
    };
    const Case cases[] = {
        {0, 0, SQL_SCCO_LOCK, false, false},
        {kEmulatedAdd | kLockNoChange, 0, SQL_SCCO_READ_ONLY, false, false},
        {kEmulatedAdd | kLockNoChange, 0, SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK, true, true},
        {0, kNativePosition | kLockNoChange, SQL_SCCO_READ_ONLY, true, false},
        {0, 0x40000 | 0x200000, SQL_SCCO_READ_ONLY, true, false},
        {0, kEmulatedUpdate | kLockNoChange, SQL_SCCO_READ_ONLY, false, false},
        {0, kEmulatedUpdate | kLockNoChange, SQL_SCCO_OPT_VALUES, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.forward << " " << c.statik << " " << c.concurrency);
        conn->forwardCursorOps = c.forward;
        conn->staticCursorOps = c.statik;
        conn->keysetCursorOps = conn->dynamicCursorOps = 0;
        control.numberInfo[SQL_SCROLL_CONCURRENCY] = c.concurrency;
        EXPECT_EQ(baseSetPosOffered(conn, SQL_API_SQLSETPOS), c.setPos);
        EXPECT_EQ(baseSetPosOffered(conn, SQL_API_SQLBULKOPERATIONS), c.bulk);
    }
}

TEST_F(SetPosWork, TheFrameworksNativeRowHooksRefuseAsNotCapable)
{
    // A driver whose capability words claim native operations supplies the
    // hooks; the framework's own refuse as not capable.
    BaseStatement* made = nullptr;
    ASSERT_EQ(katest::makeStatement<katest::TestStatement>(&made, conn), 0);
    BaseSetPosValue value{"x", 1, 0, 0};
    const std::function<int16_t()> refused[] = {
        [&] { return made->setPosDelete(); },
        [&] { return made->setPosAddExecute(); },
        [&] { return made->setPosUpdateBegin(); },
        [&] { return made->setPosAddBegin(); },
        [&] { return made->setPosColumnData(1, &value); },
        [&] { return made->setPosUpdateExecute(); },
    };
    for (size_t i = 0; i < std::size(refused); ++i) {
        SCOPED_TRACE(i);
        katest::DiagScope scope;
        EXPECT_EQ(refused[i](), 1);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_EQ(scope.list.recordAt(0)->sqlstateMsg, kBaseIdxNotSupported);
    }
    EXPECT_EQ(made->setPosAbort(), 0);
    EXPECT_EQ(made->freeStmt(SQL_DROP), SQL_SUCCESS);
}
