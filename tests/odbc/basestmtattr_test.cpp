// Statement attributes on the test statement: each read back whole at its
// ODBC width, the values the driver replaces with 01S02, the refused ones,
// and SQLSetScrollOptions. The fake connection offers forward-only and
// static cursors, read only.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/stmtfixture.h"

namespace {

using katest::W;

using StmtAttr = katest::StmtFixture;

void* asPointer(uint64_t v)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(v));
}

// What setting one attribute to a value gives, and what reads back.
struct AttrCase {
    int32_t attribute;
    uint64_t set;
    int16_t setRc;
    uint64_t readBack;
};

}  // namespace

TEST_F(StmtAttr, EachAttributeReadsBackWholeAtItsOdbcWidth)
{
    static SQLUSMALLINT statuses[4];
    static SQLULEN processed;
    const auto p = [](const void* q) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(q)); };
    const AttrCase cases[] = {
        {SQL_ATTR_MAX_ROWS, 5000000000ULL, SQL_SUCCESS, 5000000000ULL},
        {SQL_ATTR_MAX_LENGTH, 4096, SQL_SUCCESS, 4096},
        {SQL_ATTR_NOSCAN, SQL_NOSCAN_ON, SQL_SUCCESS, SQL_NOSCAN_ON},
        {SQL_ATTR_RETRIEVE_DATA, SQL_RD_OFF, SQL_SUCCESS, SQL_RD_OFF},
        {SQL_ATTR_METADATA_ID, SQL_TRUE, SQL_SUCCESS, SQL_TRUE},
        {SQL_ATTR_ROW_BIND_TYPE, 24, SQL_SUCCESS, 24},
        {SQL_ATTR_PARAM_BIND_TYPE, 16, SQL_SUCCESS, 16},
        {SQL_ATTR_PARAMSET_SIZE, 3, SQL_SUCCESS, 3},
        {SQL_ATTR_ROW_ARRAY_SIZE, 4, SQL_SUCCESS, 4},
        {SQL_ROWSET_SIZE, 7, SQL_SUCCESS, 7},
        {SQL_ATTR_ROW_STATUS_PTR, p(statuses), SQL_SUCCESS, p(statuses)},
        {SQL_ATTR_ROWS_FETCHED_PTR, p(&processed), SQL_SUCCESS, p(&processed)},
        {SQL_ATTR_PARAM_STATUS_PTR, p(statuses), SQL_SUCCESS, p(statuses)},
        {SQL_ATTR_PARAMS_PROCESSED_PTR, p(&processed), SQL_SUCCESS, p(&processed)},
        {SQL_ATTR_PARAM_OPERATION_PTR, p(statuses), SQL_SUCCESS, p(statuses)},
        {SQL_ATTR_ROW_OPERATION_PTR, p(statuses), SQL_SUCCESS, p(statuses)},
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC, SQL_SUCCESS, SQL_CURSOR_STATIC},
        // Replaced by what the driver has, with 01S02.
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC, SQL_SUCCESS_WITH_INFO, SQL_CURSOR_STATIC},
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, SQL_SUCCESS_WITH_INFO, SQL_CURSOR_STATIC},
        {SQL_ATTR_CONCURRENCY, SQL_CONCUR_LOCK, SQL_SUCCESS_WITH_INFO, SQL_CONCUR_READ_ONLY},
        {SQL_ATTR_CONCURRENCY, SQL_CONCUR_VALUES, SQL_SUCCESS_WITH_INFO, SQL_CONCUR_READ_ONLY},
        {SQL_ATTR_KEYSET_SIZE, 100, SQL_SUCCESS_WITH_INFO, 0},
        {SQL_ATTR_SIMULATE_CURSOR, SQL_SC_UNIQUE, SQL_SUCCESS_WITH_INFO, 0},
        {SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE, SQL_SUCCESS_WITH_INFO, SQL_UB_OFF},
        {SQL_ATTR_CURSOR_SENSITIVITY, SQL_SENSITIVE, SQL_SUCCESS_WITH_INFO, SQL_UNSPECIFIED},
    };
    for (const AttrCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "attribute " << c.attribute << " set to " << c.set);
        EXPECT_EQ(stmt->setStmtAttr(c.attribute, asPointer(c.set), 0), c.setRc);
        if (c.setRc == SQL_SUCCESS_WITH_INFO) {
            ASSERT_EQ(diags(), 1u);
            EXPECT_EQ(state(), kBaseIdxOptionChanged);
        }
        // Every byte of the application's word is written.
        uint64_t value = 0xa5a5a5a5a5a5a5a5ULL;
        int32_t length = 0;
        EXPECT_EQ(stmt->getStmtAttr(c.attribute, &value, 0, &length), SQL_SUCCESS);
        EXPECT_EQ(value, c.readBack);
        EXPECT_EQ(length, 8);
    }
}

TEST_F(StmtAttr, TheDefaultsAreTheOdbcOnes)
{
    const std::pair<int32_t, uint64_t> defaults[] = {
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY},
        {SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY},
        {SQL_ATTR_RETRIEVE_DATA, SQL_RD_ON},
        {SQL_ATTR_NOSCAN, SQL_NOSCAN_OFF},
        {SQL_ATTR_ROW_ARRAY_SIZE, 1},
        {SQL_ATTR_PARAMSET_SIZE, 1},
        {SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE},
        {SQL_ATTR_CURSOR_SENSITIVITY, SQL_UNSPECIFIED},
        {SQL_ATTR_USE_BOOKMARKS, SQL_UB_OFF},
        {SQL_ATTR_MAX_ROWS, 0},
        {SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN},
        {SQL_ATTR_METADATA_ID, SQL_FALSE},
    };
    for (const auto& [attribute, expected] : defaults) {
        SCOPED_TRACE(attribute);
        uint64_t value = ~0ULL;
        EXPECT_EQ(stmt->getStmtAttr(attribute, &value, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(value, expected);
    }
}

TEST_F(StmtAttr, UnsupportedAttributesAreRefusedAndImplementationDescriptorsAreReadOnly)
{
    SQLULEN value = 0;
    for (int32_t attribute : {SQL_ATTR_ENABLE_AUTO_IPD, 12345}) {
        EXPECT_EQ(stmt->getStmtAttr(attribute, &value, 0, nullptr), SQL_ERROR);
        EXPECT_EQ(state(), kBaseIdxNotSupported);
        EXPECT_EQ(stmt->setStmtAttr(attribute, asPointer(1), 0), SQL_ERROR);
    }
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_IMP_ROW_DESC, stmt->ird, 0), SQL_ERROR);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_IMP_PARAM_DESC, stmt->ipd, 0), SQL_ERROR);
    // Asynchronous execution is not offered by this connection.
    conn->enableAsyncSupport = 0;
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_ASYNC_ENABLE, asPointer(SQL_ASYNC_ENABLE_ON), 0), SQL_ERROR);
}

TEST_F(StmtAttr, ARowsetAboveTheConnectionMaximumIsClamped)
{
    conn->maxRowsetSize = 50;
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, asPointer(500), 0), SQL_SUCCESS_WITH_INFO);
    SQLULEN value = 0;
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, 50u);
}

TEST_F(StmtAttr, ScrollableAndSensitivityChooseTheCursorType)
{
    SQLULEN value = 0;
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_SCROLLABLE, asPointer(SQL_SCROLLABLE), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_CURSOR_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_CURSOR_STATIC));
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_CURSOR_SCROLLABLE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_SCROLLABLE));
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_SCROLLABLE, asPointer(SQL_NONSCROLLABLE), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_CURSOR_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_CURSOR_FORWARD_ONLY));

    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_SENSITIVITY, asPointer(SQL_INSENSITIVE), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_CURSOR_TYPE, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_CURSOR_STATIC));
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_CONCURRENCY, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY));
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_CURSOR_SENSITIVITY, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, static_cast<SQLULEN>(SQL_INSENSITIVE));
}

TEST_F(StmtAttr, RowNumberCountsFromTheRowsetStart)
{
    SQLULEN value = 0;
    EXPECT_EQ(stmt->getStmtAttr(SQL_ROW_NUMBER, &value, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, asPointer(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, asPointer(10), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 30"), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetchScroll(SQL_FETCH_ABSOLUTE, 11), SQL_SUCCESS);
    stmt->rowsetPosition = 2;  // the third row of the rowset, where SQLSetPos puts it
    ASSERT_EQ(stmt->getStmtAttr(SQL_ROW_NUMBER, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, 13u);
    // No bookmarks are kept, so none can be read.
    EXPECT_EQ(stmt->getStmtAttr(SQL_GET_BOOKMARK, &value, 0, nullptr), SQL_ERROR);
}

TEST_F(StmtAttr, TheCursorOfAnOpenResultCannotChange)
{
    ASSERT_EQ(run(u"select rows 2"), SQL_SUCCESS);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, asPointer(SQL_CURSOR_STATIC), 0), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxCursorState);
    // The rowset size may change between fetches.
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, asPointer(2), 0), SQL_SUCCESS);
}

TEST_F(StmtAttr, SetScrollOptionsChecksWhatTheDriverOffers)
{
    EXPECT_EQ(stmt->setScrollOptions(SQL_CONCUR_READ_ONLY, 1, 10), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxNotSupported);
    EXPECT_EQ(stmt->setScrollOptions(SQL_CONCUR_LOCK, SQL_SCROLL_STATIC, 10), SQL_ERROR);
    EXPECT_EQ(stmt->setScrollOptions(SQL_CONCUR_READ_ONLY, SQL_SCROLL_DYNAMIC, 10), SQL_ERROR);

    ASSERT_EQ(stmt->setScrollOptions(SQL_CONCUR_READ_ONLY, SQL_SCROLL_STATIC, 20), SQL_SUCCESS);
    SQLULEN value = 0;
    const std::pair<int32_t, SQLULEN> expected[] = {{SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC},
                                                    {SQL_ATTR_KEYSET_SIZE, 0},
                                                    {SQL_ATTR_ROW_ARRAY_SIZE, 20},
                                                    {SQL_ROWSET_SIZE, 20},
                                                    {SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY}};
    for (const auto& [attribute, v] : expected) {
        ASSERT_EQ(stmt->getStmtAttr(attribute, &value, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(value, v) << attribute;
    }
}

TEST_F(StmtAttr, ANullValuePointerReadsNothing)
{
    EXPECT_EQ(stmt->getStmtAttr(SQL_ATTR_MAX_ROWS, nullptr, 0, nullptr), SQL_SUCCESS);
}
