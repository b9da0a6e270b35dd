// Bookmarks as row numbers on the test statement: a forward-only cursor
// takes SQL_ATTR_USE_BOOKMARKS and delivers each row's number as column 0
// through SQLGetData, bound columns and SQL_GET_BOOKMARK; a cursor type
// without bookmarks turns the attribute off with 01S02.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "support/guarded.h"
#include "support/stmtfixture.h"

namespace {

using katest::W;
using Bookmarks = katest::StmtFixture;

void* asPointer(int64_t v)
{
    return reinterpret_cast<void*>(static_cast<intptr_t>(v));
}

}  // namespace

TEST_F(Bookmarks, AForwardOnlyCursorGivesRowNumbers)
{
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_USE_BOOKMARKS, asPointer(SQL_UB_VARIABLE), 0), SQL_SUCCESS);
    SQLULEN on = 0;
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_USE_BOOKMARKS, &on, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(on, static_cast<SQLULEN>(SQL_UB_VARIABLE));
    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);

    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    ASSERT_EQ(stmt->describeCol(0, nullptr, 0, nullptr, &type, &size, nullptr, nullptr), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_BIGINT);

    for (int64_t row = 1; row <= 3; ++row) {
        SCOPED_TRACE(row);
        ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
        SQLLEN indicator = 0;
        if (row % 2 == 1) {
            katest::Guarded<uint8_t> raw(8);
            ASSERT_EQ(stmt->getData(0, SQL_C_VARBOOKMARK, raw.data(), 8, &indicator), SQL_SUCCESS);
            EXPECT_EQ(indicator, 8);
            EXPECT_EQ(raw.str(8), std::string(reinterpret_cast<const char*>(&row), 8));
            EXPECT_TRUE(raw.guardsIntact());
        } else if (row == 2) {
            // A fixed-size type's buffer length is not looked at.
            int64_t number = 0;
            ASSERT_EQ(stmt->getData(0, SQL_C_SBIGINT, &number, 0, &indicator), SQL_SUCCESS);
            EXPECT_EQ(number, row);
        } else {
            char text[8] = {};
            ASSERT_EQ(stmt->getData(0, SQL_C_CHAR, text, sizeof text, &indicator), SQL_SUCCESS);
            EXPECT_EQ(std::string(text), std::to_string(row));
        }
        // Read whole: a second read of the column has no data.
        int64_t number = 0;
        EXPECT_EQ(stmt->getData(0, SQL_C_SBIGINT, &number, 0, &indicator), SQL_NO_DATA);
        SQLULEN bookmark = 0;
        ASSERT_EQ(stmt->getStmtAttr(SQL_GET_BOOKMARK, &bookmark, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(bookmark, static_cast<SQLULEN>(row));
    }
    EXPECT_EQ(stmt->fetch(), SQL_NO_DATA);
}

TEST_F(Bookmarks, ABoundBookmarkColumnFollowsTheRowset)
{
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_USE_BOOKMARKS, asPointer(SQL_UB_VARIABLE), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 3"), SQL_SUCCESS);
    int64_t bookmarks[2] = {-1, -1};
    SQLLEN bookmarkLengths[2] = {};
    int32_t ids[2] = {};
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_ROW_ARRAY_SIZE, asPointer(2), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(0, SQL_C_VARBOOKMARK, bookmarks, sizeof bookmarks[0], bookmarkLengths), SQL_SUCCESS);
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, ids, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(bookmarks[0], 1);
    EXPECT_EQ(bookmarks[1], 2);
    EXPECT_EQ(bookmarkLengths[1], 8);
    EXPECT_EQ(ids[1], 2);
    bookmarks[1] = -1;
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(bookmarks[0], 3);
    EXPECT_EQ(ids[0], 3);
    EXPECT_EQ(bookmarks[1], -1);
}

TEST_F(Bookmarks, WithoutBookmarksColumnZeroAndTheBookmarkAreRefused)
{
    ASSERT_EQ(run(u"select rows 1"), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    int64_t number = 0;
    SQLLEN indicator = 0;
    EXPECT_EQ(stmt->getData(0, SQL_C_SBIGINT, &number, 0, &indicator), SQL_ERROR);
    EXPECT_EQ(state(), kBaseIdxBadDescIndex);
    SQLULEN bookmark = 0;
    EXPECT_EQ(stmt->getStmtAttr(SQL_GET_BOOKMARK, &bookmark, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(state(), MSG_SQLSTATE_ATTRIBUTE_CANNOT_BE_SET_NOW);
}

TEST_F(Bookmarks, ACursorTypeWithoutBookmarksTurnsThemOff)
{
    // The fake connection's static cursor has neither driver nor row-number
    // bookmarks.
    conn->staticCursorOps = 1;
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, asPointer(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_USE_BOOKMARKS, asPointer(SQL_UB_VARIABLE), 0), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(state(), kBaseIdxOptionChanged);
    SQLULEN on = 1;
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_USE_BOOKMARKS, &on, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(on, static_cast<SQLULEN>(SQL_UB_OFF));
    // With row-number bookmarks on the static cursor they are taken.
    conn->staticCursorOps |= 0x400000;
    EXPECT_EQ(stmt->setStmtAttr(SQL_ATTR_USE_BOOKMARKS, asPointer(SQL_UB_VARIABLE), 0), SQL_SUCCESS);
}
