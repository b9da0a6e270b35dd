// The bulk exports as applications call them: the load that this version
// cannot carry out, the export and validation that need an open connection,
// and a connection's diagnostics in the application's code page.
#include "odbc/bulkapi.h"

#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>

#include "foundation/codepage.h"
#include "support/exportfixture.h"
#include "support/guarded.h"

using katest::diagOf;
using katest::kConnectRefused;
using katest::narrow;
using katest::u16;

using BulkExports = katest::ExportFixture;

TEST_F(BulkExports, LoadingATableFailsWithoutADiagnostic)
{
    failConnect();
    std::u16string table = u"t";
    std::u16string file = u"/nonexistent/data";
    EXPECT_EQ(LoadTableFromFileW(dbc, reinterpret_cast<SQLWCHAR*>(table.data()),
                                 reinterpret_cast<SQLWCHAR*>(file.data()), -1, -1, nullptr, nullptr, nullptr, 1, 10,
                                 64),
              SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).rc, SQL_NO_DATA);
    EXPECT_EQ(LoadTableFromFile(dbc, reinterpret_cast<const SQLCHAR*>("t"),
                                reinterpret_cast<const SQLCHAR*>("data.txt"), -1, -1,
                                reinterpret_cast<const SQLCHAR*>("data.xml"), nullptr, nullptr, 1, 10, 64),
              SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).rc, SQL_NO_DATA);
    // The export and the validation still need an open connection.
    EXPECT_EQ(ExportTableToFileW(dbc, reinterpret_cast<SQLWCHAR*>(table.data()),
                                 reinterpret_cast<SQLWCHAR*>(file.data()), kCodePageUtf16LE, -1, -1, nullptr),
              SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08003");
    SQLINTEGER count = -1;
    EXPECT_EQ(ValidateTableFromFileW(dbc, reinterpret_cast<SQLWCHAR*>(table.data()),
                                     reinterpret_cast<SQLWCHAR*>(file.data()), nullptr, 0, &count),
              SQL_ERROR);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08003");
}

TEST_F(BulkExports, BulkDiagnosticsInTheApplicationCodePage)
{
    failConnect();
    katest::Guarded<SQLCHAR> state(6);
    katest::Guarded<SQLCHAR> message(258);
    SQLINTEGER native = -1;
    SQLSMALLINT length = 0;
    EXPECT_EQ(GetBulkDiagRec(SQL_HANDLE_DBC, dbc, 1, state.data(), &native, message.data(), SQLSMALLINT(message.size()),
                             &length),
              SQL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(state.data())), "08001");
    EXPECT_TRUE(state.guardsIntact());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(message.data())), kConnectRefused);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(kConnectRefused.size()));
    EXPECT_TRUE(message.guardsIntact());

    // Cut to the buffer, and measured without one.
    katest::Guarded<SQLCHAR> cut(10);
    EXPECT_EQ(
        GetBulkDiagRec(SQL_HANDLE_DBC, dbc, 1, state.data(), &native, cut.data(), SQLSMALLINT(cut.size()), &length),
        SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cut.data())), kConnectRefused.substr(0, 9));
    EXPECT_TRUE(cut.guardsIntact());
    length = 0;
    EXPECT_EQ(GetBulkDiagRec(SQL_HANDLE_DBC, dbc, 1, nullptr, nullptr, nullptr, 0, &length), SQL_SUCCESS);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(kConnectRefused.size()));
    EXPECT_EQ(GetBulkDiagRec(SQL_HANDLE_DBC, dbc, 2, state.data(), &native, message.data(), SQLSMALLINT(message.size()),
                             &length),
              SQL_NO_DATA);

    katest::Guarded<SQLWCHAR> stateW(6);
    katest::Guarded<SQLWCHAR> messageW(260);
    EXPECT_EQ(GetBulkDiagRecW(SQL_HANDLE_DBC, dbc, 1, stateW.data(), &native, messageW.data(),
                              SQLSMALLINT(messageW.size()), &length),
              SQL_SUCCESS);
    EXPECT_EQ(narrow(u16(stateW.data())), "08001");
    EXPECT_EQ(narrow(u16(messageW.data())), kConnectRefused);
    EXPECT_TRUE(stateW.guardsIntact());
    EXPECT_TRUE(messageW.guardsIntact());
}
