// The connection exports as a driver manager calls them, with an
// environment class whose connections connect (the fake of tests/support):
// attributes set before the connect are read back after it, a refused one
// reaches SQLGetDiagRec as a warning, and what was set on one connection
// carries to the next connect of the handle.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>

#include "kamessages.h"
#include "support/envfactory.h"
#include "support/exportfixture.h"
#include "support/testconnection.h"

using katest::diagOf;

namespace {

katest::TestConnectionControl gControl;

BaseEnv* makeTestEnv() noexcept
{
    return new katest::TestEnv(&gControl);
}

class ConnExports : public katest::ExportHandles {
protected:
    void SetUp() override
    {
        gControl.connectFailures = 0;
        ExportHandles::SetUp();
    }

    SQLRETURN connect()
    {
        std::u16string in = u"DSN=test;UID=u;PWD=p";
        SQLSMALLINT outLength = 0;
        return SQLDriverConnectW(dbc, nullptr, katest::W(in), SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT);
    }

    SQLRETURN set(SQLINTEGER attribute, intptr_t value)
    {
        return SQLSetConnectAttrW(dbc, attribute, reinterpret_cast<SQLPOINTER>(value), 0);
    }

    SQLUINTEGER get(SQLINTEGER attribute)
    {
        SQLUINTEGER value = 0xdead;
        EXPECT_EQ(SQLGetConnectAttrW(dbc, attribute, &value, 0, nullptr), SQL_SUCCESS);
        return value;
    }

    katest::EnvFactoryScope factory{makeTestEnv};
};

}  // namespace

TEST_F(ConnExports, AttributesSetBeforeConnectAreReadBackAfterIt)
{
    ASSERT_EQ(set(SQL_ATTR_LOGIN_TIMEOUT, 11), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_READ_COMMITTED), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS);
    ASSERT_EQ(connect(), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_LOGIN_TIMEOUT), 11u);
    EXPECT_EQ(get(SQL_ATTR_AUTOCOMMIT), SQLUINTEGER{SQL_AUTOCOMMIT_OFF});
    EXPECT_EQ(get(SQL_ATTR_TXN_ISOLATION), SQLUINTEGER{SQL_TXN_SERIALIZABLE});
}

TEST_F(ConnExports, ARefusedBufferedAttributeIsAWarningOfTheConnect)
{
    ASSERT_EQ(set(SQL_ATTR_TXN_ISOLATION, 3), SQL_SUCCESS);
    ASSERT_EQ(connect(), SQL_SUCCESS_WITH_INFO);
    katest::Diag first = diagOf(SQL_HANDLE_DBC, dbc, 1);
    katest::Diag second = diagOf(SQL_HANDLE_DBC, dbc, 2);
    EXPECT_EQ(first.rc, SQL_SUCCESS);
    EXPECT_EQ(second.rc, SQL_SUCCESS);
    // Both warnings: the refusal and the option-changed notice.
    EXPECT_TRUE(first.state == "01S02" || second.state == "01S02") << first.state << " " << second.state;
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc, 3).rc, SQL_NO_DATA);
    // Not offered to the next connect.
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(connect(), SQL_SUCCESS);
}

TEST_F(ConnExports, WhatWasSetOnOneConnectionCarriesToTheNextConnect)
{
    ASSERT_EQ(connect(), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_REPEATABLE_READ), SQL_SUCCESS);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    auto* handle = static_cast<BaseStubConnection*>(dbc);
    ASSERT_NE(handle->findBufferedAttr(SQL_ATTR_TXN_ISOLATION), nullptr);
    ASSERT_EQ(connect(), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_TXN_ISOLATION), SQLUINTEGER{SQL_TXN_REPEATABLE_READ});
}

TEST_F(ConnExports, AFailedConnectReachesSqlGetDiagRec)
{
    gControl.connectFailures = 1;
    EXPECT_EQ(connect(), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08001");
}
