// The statement as the source of a persisted result set: attribute 1053 on
// the framework's test statement with a static cursor writes every row
// through the statement's own reading, leaves the application's bound
// columns alone and puts the cursor back on its row.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <fstream>
#include <iterator>
#include <string>

#include "bulk/xpstsource.h"
#include "odbc/basedriverattr.h"
#include "odbc/basestmt.h"
#include "support/stmtfixture.h"
#include "support/tmpfiletest.h"

namespace {

void* asPointer(int64_t v)
{
    return reinterpret_cast<void*>(static_cast<intptr_t>(v));
}

using StatementSource = katest::StmtFixture;

}  // namespace

TEST_F(StatementSource, PersistingAStaticCursorPutsItBackOnItsRow)
{
    const BaseXmlPersister before = baseSetXmlPersister(xpstPersistStatement);
    katest::TmpDirScope dir;
    const std::string target = dir.path() + "/rows.xml";
    const std::u16string wideTarget(target.begin(), target.end());
    ASSERT_EQ(stmt->setStmtAttr(SQL_ATTR_CURSOR_TYPE, asPointer(SQL_CURSOR_STATIC), 0), SQL_SUCCESS);
    ASSERT_EQ(run(u"select rows 5"), SQL_SUCCESS);
    int32_t id = 0;
    SQLLEN indicator = 0;
    ASSERT_EQ(stmt->bindCol(1, SQL_C_LONG, &id, 0, &indicator), SQL_SUCCESS);
    ASSERT_EQ(stmt->fetchScroll(SQL_FETCH_ABSOLUTE, 3), SQL_SUCCESS);
    ASSERT_EQ(id, 3);
    id = 0;
    ASSERT_EQ(stmt->setStmtAttr(kBaseStmtAttrPersistXml, const_cast<char16_t*>(wideTarget.c_str()), SQL_NTS),
              SQL_SUCCESS);
    // The bound column was not written by the persistence's own reading.
    EXPECT_EQ(id, 0);
    SQLULEN row = 0;
    ASSERT_EQ(stmt->getStmtAttr(SQL_ATTR_ROW_NUMBER, &row, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(row, 3u);
    ASSERT_EQ(stmt->fetch(), SQL_SUCCESS);
    EXPECT_EQ(id, 4);

    std::ifstream in(target);
    const std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* text : {"name-1", "name-5", "\xc3\xbc-5", "odd"})
        EXPECT_NE(document.find(text), std::string::npos) << text << "\n" << document;
    baseSetXmlPersister(before);
}
