// Cursor names on the test statement: the rules SQLSetCursorName applies to a
// name (length, reserved prefixes, the connection's limit, names in use
// compared without regard to case), SQLGetCursorName's buffer handling, the
// name a statement is given with its first result, and a positioned
// statement looking its cursor up by name.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/kaobject.h"
#include "kamessages.h"
#include "odbc/basecalllock.h"
#include "odbc/baseenv.h"
#include "odbc/basestmterr.h"
#include "support/guarded.h"
#include "support/stmtfixture.h"

namespace {

using katest::W;

class CursorNames : public katest::StmtFixture {
protected:
    // The statement's name through SQLGetCursorName, read whole.
    std::u16string nameOf(BaseStatement* s)
    {
        uint16_t buffer[64] = {};
        int16_t length = -1;
        EXPECT_EQ(s->getCursorName(buffer, 64, &length), SQL_SUCCESS);
        EXPECT_EQ(length, static_cast<int16_t>(katest::u16(buffer).size()));
        return katest::u16(buffer);
    }
    // The SQLSTATE index and message number of the statement's first record.
    std::pair<uint16_t, uint16_t> diag(BaseStatement* s)
    {
        if (s->diagnostics.recordCount() == 0)
            return {0, 0};
        const KaError* e = s->diagnostics.recordAt(0);
        return {e->sqlstateMsg, e->nativeCode};
    }
    // The name a statement generates: "SQL_CUR" and its handle's bytes in
    // memory order.
    static std::u16string generatedFor(BaseStatement* s)
    {
        const auto* handle = static_cast<const KaObject*>(s);
        unsigned char bytes[sizeof handle];
        std::memcpy(bytes, &handle, sizeof bytes);
        std::string text = "SQL_CUR";
        char two[3];
        for (unsigned char b : bytes) {
            std::snprintf(two, sizeof two, "%02X", b);
            text += two;
        }
        return katest::widen(text);
    }
};

struct NameCase {
    const char16_t* name;
    int16_t length;
    uint16_t sqlstate;  // 0: accepted
    uint16_t message;   // 0: any
    const char16_t* stored;
};

}  // namespace

TEST_F(CursorNames, SetCursorNameAppliesItsRulesToEachName)
{
    // The fake connection answers SQL_MAX_CURSOR_NAME_LEN with 26.
    const NameCase cases[] = {
        {u"C1", SQL_NTS, 0, 0, u"C1"},
        {u"SQLX12", SQL_NTS, 0, 0, u"SQLX12"},
        {u"sqlcur77", SQL_NTS, 0, 0, u"sqlcur77"},
        {u"SQLCU", SQL_NTS, 0, 0, u"SQLCU"},
        {u"SQL_CU", SQL_NTS, 0, 0, u"SQL_CU"},
        {u"Cürsor_ß", SQL_NTS, 0, 0, u"Cürsor_ß"},
        {u"abcdef", 3, 0, 0, u"abc"},
        {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ", SQL_NTS, 0, 0, u"ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {u"SQLCURSOR1", SQL_NTS, kBaseIdxCursorName, MSG_CURSOR_NAME_RESERVED, nullptr},
        {u"SQLCUR", SQL_NTS, kBaseIdxCursorName, MSG_CURSOR_NAME_RESERVED, nullptr},
        {u"SQL_CUR1", SQL_NTS, kBaseIdxCursorName, MSG_CURSOR_NAME_RESERVED, nullptr},
        // The generated names' prefix in any case: such a name could match a
        // generated one when names are looked up.
        {u"sql_cur1", SQL_NTS, kBaseIdxCursorName, MSG_CURSOR_NAME_RESERVED, nullptr},
        {u"Sql_Cur00000000000000000", SQL_NTS, kBaseIdxCursorName, MSG_CURSOR_NAME_RESERVED, nullptr},
        {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ1", SQL_NTS, kBaseIdxCursorName, MSG_CURSOR_NAME_TOO_LONG, nullptr},
        {u"ab\0cd", 5, kBaseIdxCursorName, MSG_CURSOR_NAME_HAS_NUL, nullptr},
        {u"", SQL_NTS, kBaseIdxBadLength, 0, nullptr},
        {u"C1", 0, kBaseIdxBadLength, 0, nullptr},
        {u"C1", -1, kBaseIdxBadLength, 0, nullptr},
        {u"C1", -4, kBaseIdxBadLength, 0, nullptr},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(katest::narrow(c.name));
        BaseStatement* s = make<katest::TestStatement>();
        ASSERT_NE(s, nullptr);
        const int16_t rc = s->setCursorName(W(c.name), c.length);
        if (c.sqlstate == 0) {
            EXPECT_EQ(rc, SQL_SUCCESS);
            EXPECT_EQ(nameOf(s), c.stored);
        } else {
            EXPECT_EQ(rc, SQL_ERROR);
            EXPECT_EQ(diag(s).first, c.sqlstate);
            if (c.message != 0) {
                EXPECT_EQ(diag(s).second, c.message);
            }
            EXPECT_EQ(s->cursorName, nullptr);
        }
        EXPECT_EQ(s->freeStmt(SQL_DROP), SQL_SUCCESS);
    }
    EXPECT_EQ(stmt->setCursorName(nullptr, SQL_NTS), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxNullPointer);
}

TEST_F(CursorNames, NamesInUseAreRefusedWhateverTheirCase)
{
    BaseStatement* other = make<katest::TestStatement>();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(stmt->setCursorName(W(u"C1"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(stmt->setCursorName(W(u"Ärger"), SQL_NTS), SQL_SUCCESS);

    const struct {
        const char16_t* name;
        bool taken;
    } cases[] = {
        {u"Ärger", true},
        {u"äRGER", true},
        {u"ÄRGER", true},
        {u"Ärger2", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(katest::narrow(c.name));
        const int16_t rc = other->setCursorName(W(c.name), SQL_NTS);
        EXPECT_EQ(rc, c.taken ? SQL_ERROR : SQL_SUCCESS);
        if (c.taken) {
            EXPECT_EQ(diag(other).first, kBaseIdxDuplicateCursorName);
            EXPECT_EQ(diag(other).second, MSG_CURSOR_NAME_IN_USE);
        }
    }
    // The first statement gave C1 up when it took its second name.
    EXPECT_EQ(other->setCursorName(W(u"c1"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(stmt->setCursorName(W(u"C1"), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(diag(stmt).first, kBaseIdxDuplicateCursorName);
    // A statement may be given the name it has again.
    EXPECT_EQ(stmt->setCursorName(W(u"ärger"), SQL_NTS), SQL_SUCCESS);
    {
        KaLockGuard<KaCriticalSection> guard(*baseHandleListLock());
        EXPECT_EQ(conn->findStatementByCursorName(W(u"C1"), 2), other);
        EXPECT_EQ(conn->findStatementByCursorName(W(u"ÄRGERlich"), 5), stmt);
        EXPECT_EQ(conn->findStatementByCursorName(W(u"C2"), 2), nullptr);
        EXPECT_EQ(conn->findStatementByCursorName(W(u"C1"), 0), nullptr);
    }
    // A freed statement's name is free again.
    EXPECT_EQ(other->freeStmt(SQL_DROP), SQL_SUCCESS);
    EXPECT_EQ(stmt->setCursorName(W(u"C1"), SQL_NTS), SQL_SUCCESS);
}

TEST_F(CursorNames, AStatementWithAResultIsNamedFromItsHandle)
{
    ASSERT_EQ(run(u"insert into t values (1)"), SQL_SUCCESS);
    EXPECT_EQ(stmt->cursorName, nullptr);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    ASSERT_NE(stmt->cursorName, nullptr);
    const std::u16string generated = generatedFor(stmt);
    EXPECT_EQ(generated.size(), 23u);
    EXPECT_EQ(nameOf(stmt), generated);

    // A name the application set stays through executions.
    BaseStatement* named = make<katest::TestStatement>();
    ASSERT_NE(named, nullptr);
    ASSERT_EQ(named->setCursorName(W(u"mine"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(named->execDirect(W(u"select rows 1"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(nameOf(named), u"mine");
    EXPECT_EQ(named->freeStmt(SQL_DROP), SQL_SUCCESS);

    // Before any result an ODBC 3 application reads the name the cursor
    // will carry; an ODBC 2 application is told there is none.
    BaseStatement* fresh = make<katest::TestStatement>();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(nameOf(fresh), generatedFor(fresh));
    EXPECT_EQ(fresh->freeStmt(SQL_DROP), SQL_SUCCESS);
    conn->env->odbc2Mode = 1;
    fresh = make<katest::TestStatement>();
    ASSERT_NE(fresh, nullptr);
    uint16_t buffer[32] = {};
    EXPECT_EQ(fresh->getCursorName(buffer, 32, nullptr), SQL_ERROR);
    EXPECT_EQ(diag(fresh).first, kBaseIdxNoCursorName);
    EXPECT_EQ(fresh->cursorName, nullptr);
    EXPECT_EQ(fresh->freeStmt(SQL_DROP), SQL_SUCCESS);
    conn->env->odbc2Mode = 0;
}

TEST_F(CursorNames, GetCursorNameCutsTheNameToTheBuffer)
{
    ASSERT_EQ(run(u"select rows 1"), SQL_SUCCESS);
    const std::u16string full = generatedFor(stmt);
    // Buffer lengths count characters.
    const struct {
        int16_t chars;
        bool cut;
    } cases[] = {{4, true}, {1, true}, {23, true}, {24, false}, {40, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chars);
        katest::Guarded<uint16_t> out(static_cast<size_t>(c.chars));
        int16_t length = -1;
        EXPECT_EQ(stmt->getCursorName(out.data(), c.chars, &length), c.cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
        EXPECT_EQ(length, 23);
        const size_t kept = c.cut ? static_cast<size_t>(c.chars - 1) : full.size();
        EXPECT_EQ(katest::u16(out.data()), full.substr(0, kept));
        EXPECT_TRUE(out.guardsIntact());
        if (c.cut) {
            EXPECT_EQ(state(), kBaseIdxTruncated);
        }
    }
    // No room: nothing written, the length and the warning still given.
    katest::Guarded<uint16_t> none(4);
    int16_t length = -1;
    EXPECT_EQ(stmt->getCursorName(none.data(), 0, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(length, 23);
    EXPECT_TRUE(none.untouched());
    // No buffer: only the length.
    EXPECT_EQ(stmt->getCursorName(nullptr, 10, &length), SQL_SUCCESS);
    EXPECT_EQ(length, 23);
    EXPECT_EQ(stmt->getCursorName(none.data(), -1, &length), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadLength);
}

TEST_F(CursorNames, TheNameIsFixedWhileTheStatementHasBeenExecuted)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    EXPECT_EQ(stmt->setCursorName(W(u"late"), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);
    ASSERT_EQ(stmt->freeStmt(SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(stmt->setCursorName(W(u"late"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(run(u"insert into t values (1)"), SQL_SUCCESS);
    EXPECT_EQ(stmt->setCursorName(W(u"later"), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);
    EXPECT_EQ(nameOf(stmt), u"late");
}

TEST_F(CursorNames, APositionedStatementLooksItsCursorUpByName)
{
    ASSERT_EQ(stmt->setCursorName(W(u"Orders"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    BaseStatement* update = make<katest::TestStatement>();
    ASSERT_NE(update, nullptr);

    const struct {
        const char16_t* text;
        uint16_t message;
    } cases[] = {
        {u"update t set a = 1 where current of nosuch", MSG_POSITIONED_CURSOR_NOT_FOUND},
        {u"update t set a = 1 where current of ORDERS", MSG_POSITIONED_CURSOR_READ_ONLY},
        {u"delete from t where current of orders", MSG_POSITIONED_CURSOR_READ_ONLY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(katest::narrow(c.text));
        EXPECT_EQ(update->prepare(W(c.text), SQL_NTS), SQL_ERROR);
        EXPECT_EQ(diag(update).first, kBaseIdxCursorName);
        EXPECT_EQ(diag(update).second, c.message);
        EXPECT_EQ(update->statementState, kBaseStmtAllocated);
    }
    // An updatable cursor is found, but rows are not changed through it.
    stmt->attributeValues[kBaseAttrConcurrency] = SQL_CONCUR_LOCK;
    EXPECT_EQ(update->prepare(W(u"delete from t where current of orders"), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(diag(update).first, kBaseIdxNotSupported);
    EXPECT_EQ(update->freeStmt(SQL_DROP), SQL_SUCCESS);
}
