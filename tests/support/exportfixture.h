// A fixture for tests that call the exported entry points as a driver
// manager does: an environment (made by the Hive environment class, which
// the fixture registers) and a connection handle on it, with readers of the
// diagnostics the exports leave.
#pragma once
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdlib>
#include <string>

#include "hive/hiveconnection.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "support/diagscope.h"
#include "support/envfactory.h"

namespace katest {

inline SQLWCHAR* W(std::u16string& s)
{
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

struct Diag {
    SQLRETURN rc;
    std::string state;
    std::string text;
};

inline Diag diagOf(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT rec = 1)
{
    SQLWCHAR state[6] = {};
    SQLWCHAR text[600] = {};
    SQLSMALLINT len = 0;
    SQLINTEGER native = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, rec, state, &native, text, 600, &len);
    return {rc, narrow(u16(state)), narrow(u16(text))};
}

// What SQLConnect to the data source "spark", which no odbc.ini defines,
// answers: the two files searched, as the environment names them.
inline const std::string kConnectRefused = [] {
    const char* ini = std::getenv("ODBCINI");
    if (ini == nullptr)
        ini = std::getenv("ODBC_INI");
    const char* home = std::getenv("HOME");
    std::string user = ini != nullptr ? ini : std::string(home != nullptr ? home : "") + "/.odbc.ini";
    const char* sys = std::getenv("ODBCSYSINI");
    std::string system = std::string(sys != nullptr && sys[0] != 0 ? sys : "/etc") + "/odbc.ini";
    return "[Mirrowen][ODBC HiveServer2 driver]Data source \"spark\" was not found in " + user + " or " + system + ".";
}();

// The handles alone: an ODBC 3 environment and a connection handle on it,
// made through the exports by whichever environment class the deriving
// fixture registers (its EnvFactoryScope member exists before SetUp runs).
class ExportHandles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(openCatalogue(), 0);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
        ASSERT_NE(env, nullptr);
        ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC3}), 0),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
        ASSERT_NE(dbc, nullptr);
    }

    void TearDown() override
    {
        if (dbc != nullptr) {
            EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
            EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
        }
        EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
        closeCatalogue();
    }

    BaseStubConnection* handleObject() { return static_cast<BaseStubConnection*>(dbc); }

    SQLHANDLE env = nullptr;
    SQLHANDLE dbc = nullptr;
};

class ExportFixture : public ExportHandles {
protected:
    // A failed connect leaves the physical connection attached, unopened.
    void failConnect()
    {
        std::u16string dsn = u"spark";
        ASSERT_EQ(SQLConnectW(dbc, W(dsn), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
        ASSERT_NE(handleObject()->current, nullptr);
    }

    // Attaches a physical connection that counts as open, so that statement
    // and descriptor handles can be made on it.
    HiveConnection* attachOpen()
    {
        auto* conn = new HiveConnection(static_cast<BaseEnv*>(env));
        conn->connectionFlags |= kBaseConnConnected;
        handleObject()->setCurrentConnection(conn);
        return conn;
    }

    EnvFactoryScope factory;
};

}  // namespace katest
