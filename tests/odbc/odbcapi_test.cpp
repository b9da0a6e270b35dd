// The exported ODBC functions called as a driver manager calls them: handle
// allocation and checking, connects that cannot reach a server yet, the
// connection handle before and after its physical connection exists, the
// second call and the pool retry, and the diagnostics exports with their
// ODBC 2 SQLSTATEs.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "hive/hiveconnection.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/bulkapi.h"
#include "odbc/exportcall.h"
#include "support/diagscope.h"
#include "support/envfactory.h"
#include "support/exportfixture.h"
#include "support/guarded.h"

using katest::narrow;
using katest::u16;

namespace {

using katest::Diag;
using katest::diagOf;
using katest::kConnectRefused;
using katest::W;

using Exports = katest::ExportFixture;

// A physical connection whose operations answer as the test says.
class ScriptedConnection : public BaseConnection {
public:
    explicit ScriptedConnection(BaseEnv* env) : BaseConnection(env) {}

    int16_t getFunctions(uint16_t, uint16_t* supported) noexcept override
    {
        ++functionsCalls;
        *supported = 1;
        return functionsAnswers[std::min<size_t>(functionsCalls - 1, functionsAnswers.size() - 1)];
    }

    int16_t getConnectAttr(int32_t, void* value, int32_t, int32_t*) noexcept override
    {
        if (enterApi(SQL_API_SQLGETCONNECTATTR) != 0)
            return leaveApi(SQL_ERROR);
        ++attrCalls;
        int16_t rc = SQL_SUCCESS;
        if (attrCalls == 1) {
            // The call lost its link and the exit step reconnected it.
            KaError* record = basePostError(kBaseIdxReconnected);
            if (record != nullptr && reconnectUnsent)
                record->flags |= kBaseErrorRequestUnsent;
            rc = SQL_ERROR;
        } else {
            *static_cast<SQLUINTEGER*>(value) = 42;
        }
        return leaveApi(rc);
    }

    std::vector<int16_t> functionsAnswers{SQL_SUCCESS};
    size_t functionsCalls = 0;
    int attrCalls = 0;
    bool reconnectUnsent = false;
};

}  // namespace

TEST_F(Exports, HandlesOfTheWrongKindOrNullAreInvalid)
{
    std::u16string text = u"select 1";
    SQLINTEGER value = 0;
    SQLUSMALLINT flag = 0;
    SQLHANDLE out = nullptr;
    struct Case {
        const char* call;
        SQLRETURN rc;
    };
    const Case cases[] = {
        {"SQLGetEnvAttr(dbc)", SQLGetEnvAttr(dbc, SQL_ATTR_ODBC_VERSION, &value, 4, nullptr)},
        {"SQLSetEnvAttr(null)", SQLSetEnvAttr(nullptr, SQL_ATTR_ODBC_VERSION, nullptr, 0)},
        {"SQLAllocHandle(DBC, dbc)", SQLAllocHandle(SQL_HANDLE_DBC, dbc, &out)},
        {"SQLAllocHandle(STMT, env)", SQLAllocHandle(SQL_HANDLE_STMT, env, &out)},
        {"SQLAllocHandle(DESC, null)", SQLAllocHandle(SQL_HANDLE_DESC, nullptr, &out)},
        {"SQLConnectW(env)", SQLConnectW(env, nullptr, 0, nullptr, 0, nullptr, 0)},
        {"SQLDisconnect(env)", SQLDisconnect(env)},
        {"SQLGetFunctions(env)", SQLGetFunctions(env, SQL_API_SQLFETCH, &flag)},
        {"SQLGetInfoW(null)", SQLGetInfoW(nullptr, SQL_DRIVER_VER, nullptr, 0, nullptr)},
        {"SQLExecDirectW(dbc)", SQLExecDirectW(dbc, W(text), SQL_NTS)},
        {"SQLFetch(env)", SQLFetch(env)},
        {"SQLFreeStmt(null)", SQLFreeStmt(nullptr, SQL_CLOSE)},
        {"SQLGetDescFieldW(dbc)", SQLGetDescFieldW(dbc, 0, SQL_DESC_COUNT, &value, 4, nullptr)},
        {"SQLCopyDesc(env, dbc)", SQLCopyDesc(env, dbc)},
        {"SQLFreeHandle(STMT, dbc)", SQLFreeHandle(SQL_HANDLE_STMT, dbc)},
        {"SQLFreeHandle(DBC, env)", SQLFreeHandle(SQL_HANDLE_DBC, env)},
        {"SQLFreeHandle(ENV, dbc)", SQLFreeHandle(SQL_HANDLE_ENV, dbc)},
        {"SQLGetDiagRecW(STMT, dbc)", SQLGetDiagRecW(SQL_HANDLE_STMT, dbc, 1, nullptr, nullptr, nullptr, 0, nullptr)},
        {"SQLEndTran(DBC, env)", SQLEndTran(SQL_HANDLE_DBC, env, SQL_COMMIT)},
        {"SQLEndTran(STMT, dbc)", SQLEndTran(SQL_HANDLE_STMT, dbc, SQL_COMMIT)},
        {"SQLEndTran(7, env)", SQLEndTran(7, env, SQL_COMMIT)},
        {"ExportTableToFile(env)", ExportTableToFile(env, nullptr, nullptr, 0, 0, 0, nullptr)},
        {"ValidateTableFromFileW(null)", ValidateTableFromFileW(nullptr, nullptr, nullptr, nullptr, 0, nullptr)},
        {"LoadTableFromFile(env)", LoadTableFromFile(env, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, 0, 0, 0)},
        {"GetBulkDiagRecW(ENV, env)", GetBulkDiagRecW(SQL_HANDLE_ENV, env, 1, nullptr, nullptr, nullptr, 0, nullptr)},
        {"GetBulkDiagRec(DBC, env)", GetBulkDiagRec(SQL_HANDLE_DBC, env, 1, nullptr, nullptr, nullptr, 0, nullptr)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.rc, SQL_INVALID_HANDLE) << c.call;
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(static_cast<BaseEnv*>(env)->connectionCount, 1);
}

TEST_F(Exports, HandlesStillInUseAreNotFreed)
{
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_ERROR);
    Diag d = diagOf(SQL_HANDLE_ENV, env);
    EXPECT_EQ(d.state, "HY010");
    EXPECT_EQ(d.text, "[Mirrowen][ODBC ]Function sequence error: the handle still has "
                      "connection handles that must be freed first");

    attachOpen();
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_ERROR);
    d = diagOf(SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(d.state, "HY010");
    EXPECT_NE(d.text.find("the connection is still open"), std::string::npos) << d.text;
    EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    dbc = nullptr;
}

TEST_F(Exports, UnknownHandleTypesFail)
{
    SQLHANDLE out = env;
    EXPECT_EQ(SQLAllocHandle(9, env, &out), SQL_ERROR);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, nullptr), SQL_ERROR);
    EXPECT_EQ(SQLFreeHandle(9, env), SQL_ERROR);
    EXPECT_EQ(SQLGetDiagRecW(9, env, 1, nullptr, nullptr, nullptr, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(SQLGetDiagFieldW(9, env, 0, SQL_DIAG_NUMBER, nullptr, 0, nullptr), SQL_ERROR);
}

TEST_F(Exports, EveryConnectIsRefusedWithUnableToConnect)
{
    std::u16string dsn = u"spark";
    std::u16string user = u"me";
    std::u16string password = u"secret";
    // Nothing listens on port 1.
    std::u16string in = u"DRIVER={VYspark28};HOST=localhost;PORT=1;UID=me;PWD=secret";

    EXPECT_EQ(SQLConnectW(dbc, W(dsn), SQL_NTS, W(user), SQL_NTS, W(password), SQL_NTS), SQL_ERROR);
    Diag d = diagOf(SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(d.rc, SQL_SUCCESS);
    EXPECT_EQ(d.state, "08001");
    EXPECT_EQ(d.text, kConnectRefused);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc, 2).rc, SQL_NO_DATA);

    katest::Guarded<SQLWCHAR> out(32);
    SQLSMALLINT outLength = -9;
    EXPECT_EQ(SQLDriverConnectW(dbc, nullptr, W(in), SQL_NTS, out.data(), 32, &outLength, SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    EXPECT_EQ(out.data()[0], 0);
    EXPECT_TRUE(out.guardsIntact());
    EXPECT_EQ(outLength, 0);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08001");
    EXPECT_NE(diagOf(SQL_HANDLE_DBC, dbc).text.find("The connection to localhost on port 1 failed"), std::string::npos)
        << diagOf(SQL_HANDLE_DBC, dbc).text;

    // A browse opens once the driver's first level is complete: it asks
    // for the principal name and the proxy user too.
    std::u16string browseIn = in + u";SPN=;PXU=";
    EXPECT_EQ(SQLBrowseConnectW(dbc, W(browseIn), SQL_NTS, out.data(), 32, &outLength), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08001");
    EXPECT_TRUE(out.guardsIntact());

    // Disconnecting the never-opened connection is harmless.
    EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(handleObject()->connections.count, 1u);
}

TEST_F(Exports, StatementsAndDescriptorsNeedAnOpenConnection)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1)
            failConnect();
        for (SQLSMALLINT type : {SQL_HANDLE_STMT, SQL_HANDLE_DESC}) {
            SQLHANDLE out = env;
            EXPECT_EQ(SQLAllocHandle(type, dbc, &out), SQL_ERROR);
            EXPECT_EQ(out, nullptr);
            Diag d = diagOf(SQL_HANDLE_DBC, dbc);
            EXPECT_EQ(d.state, "08003");
            EXPECT_NE(d.text.find("]Connection not open"), std::string::npos) << d.text;
        }
    }
}

TEST_F(Exports, ConnectionAttributesBeforeConnectAreKeptForTheConnection)
{
    SQLUINTEGER value = 99;
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, &value, 0, nullptr), SQL_NO_DATA);
    EXPECT_EQ(value, 99u);

    EXPECT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(intptr_t{5}), 0),
              SQL_SUCCESS);
    EXPECT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(intptr_t{7}), 0),
              SQL_SUCCESS);
    std::u16string catalog = u"sales";
    EXPECT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, W(catalog), SQL_NTS), SQL_SUCCESS);
    catalog = u"XXXXX";  // the handle keeps its own copy
    ASSERT_EQ(handleObject()->bufferedAttrs.count, 2u);
    BaseBufferedAttr* kept = handleObject()->findBufferedAttr(SQL_ATTR_CURRENT_CATALOG);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(narrow(u16(reinterpret_cast<const uint16_t*>(kept->value))), "sales");
    EXPECT_EQ(kept->length, 5);

    // A negative byte length of a text attribute is refused.
    EXPECT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, W(catalog), -20), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HY090");
    // The ANSI-application attribute is recorded but reported unsupported.
    EXPECT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_ANSI_APP, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_AA_TRUE}), 0),
              SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HYC00");
    EXPECT_EQ(handleObject()->ansiApp, 1u);

    // A connection that did not open has no attribute to read but whether
    // its link is dead; what is set on it waits for the next connect.
    failConnect();
    value = 99;
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, &value, 0, nullptr), SQL_NO_DATA);
    EXPECT_EQ(value, 99u);
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_CONNECTION_DEAD, &value, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, SQLUINTEGER{SQL_CD_TRUE});
    EXPECT_EQ(
        SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_AUTOCOMMIT_OFF}), 0),
        SQL_SUCCESS);
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, &value, 0, nullptr), SQL_NO_DATA);
}

TEST_F(Exports, GetInfoAnswersBeforeConnect)
{
    struct Case {
        SQLUSMALLINT info;
        const char* text;
    };
    const Case cases[] = {
        {SQL_DRIVER_VER, "08.01.0427 (B0547, U0390)"},
        {SQL_DRIVER_ODBC_VER, "03.52"},
        {SQL_DBMS_NAME, "HiveServer2"},
    };
    for (const Case& c : cases) {
        katest::Guarded<SQLWCHAR> buffer(64);
        SQLSMALLINT length = 0;
        EXPECT_EQ(SQLGetInfoW(dbc, c.info, buffer.data(), SQLSMALLINT(buffer.bytes()), &length), SQL_SUCCESS) << c.info;
        EXPECT_EQ(narrow(u16(buffer.data())), c.text);
        EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen(c.text) * 2));
        EXPECT_TRUE(buffer.guardsIntact());
    }
    // A buffer of four characters takes three and the terminator.
    katest::Guarded<SQLWCHAR> small(4);
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetInfoW(dbc, SQL_DRIVER_VER, small.data(), SQLSMALLINT(small.bytes()), &length),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(narrow(u16(small.data())), "08.");
    EXPECT_TRUE(small.guardsIntact());
    EXPECT_EQ(length, 50);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "01004");

    SQLUSMALLINT behaviour = 9;
    EXPECT_EQ(SQLGetInfoW(dbc, SQL_CURSOR_COMMIT_BEHAVIOR, &behaviour, 2, nullptr), SQL_SUCCESS);
    EXPECT_EQ(behaviour, SQL_CB_PRESERVE);
    // The driver manager answers SQL_DRIVER_HSTMT; the driver knows nothing of it.
    EXPECT_EQ(SQLGetInfoW(dbc, SQL_DRIVER_HSTMT, &behaviour, 2, nullptr), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "HYC00");
}

TEST_F(Exports, CallsThatNeedAPhysicalConnectionSayConnectionNotOpen)
{
    SQLUSMALLINT flags[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = {};
    std::u16string sql = u"select 1";
    SQLWCHAR out[16];
    SQLINTEGER outLength = 0;
    struct Case {
        const char* call;
        SQLRETURN rc;
    };
    const Case before[] = {
        {"SQLGetFunctions", SQLGetFunctions(dbc, SQL_API_ODBC3_ALL_FUNCTIONS, flags)},
        {"SQLNativeSqlW", SQLNativeSqlW(dbc, W(sql), SQL_NTS, out, 16, &outLength)},
        {"SQLEndTran", SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT)},
        {"ExportTableToFile", ExportTableToFile(dbc, reinterpret_cast<const SQLCHAR*>("t"),
                                                reinterpret_cast<const SQLCHAR*>("f"), 4, -1, -1, nullptr)},
        {"ValidateTableFromFile", ValidateTableFromFile(dbc, reinterpret_cast<const SQLCHAR*>("t"),
                                                        reinterpret_cast<const SQLCHAR*>("d"), nullptr, 0, nullptr)},
        {"LoadTableFromFileW", LoadTableFromFileW(dbc, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, 1, 1, 64)},
    };
    for (const Case& c : before) {
        EXPECT_EQ(c.rc, SQL_ERROR) << c.call;
    }
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08003");
    EXPECT_EQ(handleObject()->current, nullptr);

    failConnect();
    EXPECT_EQ(SQLGetFunctions(dbc, SQL_API_ODBC3_ALL_FUNCTIONS, flags), SQL_SUCCESS);
    EXPECT_TRUE(SQL_FUNC_EXISTS(flags, SQL_API_SQLEXECDIRECT));
    EXPECT_TRUE(SQL_FUNC_EXISTS(flags, SQL_API_SQLGETDIAGREC));
    EXPECT_FALSE(SQL_FUNC_EXISTS(flags, SQL_API_SQLALLOCENV));
    EXPECT_FALSE(SQL_FUNC_EXISTS(flags, SQL_API_SQLTRANSACT));
    SQLUSMALLINT one = 7;
    EXPECT_EQ(SQLGetFunctions(dbc, SQL_API_SQLFETCH, &one), SQL_SUCCESS);
    EXPECT_EQ(one, SQL_TRUE);
    // The driver does not offer browsing to applications.
    EXPECT_EQ(SQLGetFunctions(dbc, SQL_API_SQLBROWSECONNECT, &one), SQL_SUCCESS);
    EXPECT_EQ(one, SQL_FALSE);
    EXPECT_EQ(SQLNativeSqlW(dbc, W(sql), SQL_NTS, out, 16, &outLength), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08003");
    // Nothing is open, so there is no transaction to end.
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, env, SQL_COMMIT), SQL_SUCCESS);
}

TEST_F(Exports, EndTranOnAStatementHandleIsAnInvalidHandleType)
{
    attachOpen();
    SQLHANDLE stmt = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, stmt, SQL_COMMIT), SQL_ERROR);
    Diag d = diagOf(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(d.state, "HY092");
    EXPECT_EQ(d.text, "[Mirrowen][ODBC HiveServer2 driver]Invalid attribute/option "
                      "identifier: the handle type 3 cannot be used with this function");
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
}

TEST_F(Exports, StatementAndDescriptorHandlesLiveOnAnOpenConnection)
{
    HiveConnection* conn = attachOpen();
    SQLHANDLE stmt = nullptr;
    SQLHANDLE desc = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    EXPECT_EQ(conn->statements.count, 1u);
    EXPECT_EQ(conn->descriptors.count, 1u);
    auto* d = static_cast<BaseDescriptor*>(desc);
    EXPECT_EQ(d->autoAllocated, 0);
    ASSERT_NE(d->record(0), nullptr);
    EXPECT_EQ(d->record(0)->conciseType, SQL_C_DEFAULT);

    std::u16string sql = u"select 1";
    EXPECT_EQ(SQLExecDirectW(stmt, W(sql), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_STMT, stmt).state, "HY000");
    SQLSMALLINT count = -1;
    EXPECT_EQ(SQLGetDescFieldW(desc, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(count, 0);
    // Handles of one kind are refused where the other is expected.
    EXPECT_EQ(SQLFetch(desc), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLGetDescFieldW(stmt, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_INVALID_HANDLE);

    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, desc), SQL_SUCCESS);
    EXPECT_EQ(conn->descriptors.count, 0u);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
    EXPECT_EQ(conn->statements.count, 0u);
    // A statement left allocated goes with its connection.
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
}

// Applications that link the driver directly have no driver manager to
// catch a handle freed twice or a pointer that never was a handle: each is
// refused as an invalid handle, and nothing of its memory is read.
TEST_F(Exports, FreedAndForeignHandlesAreInvalidHandles)
{
    attachOpen();
    SQLHANDLE stmt = nullptr;
    SQLHANDLE desc = nullptr;
    SQLHANDLE secondEnv = nullptr;
    SQLHANDLE secondDbc = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &secondEnv), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &secondDbc), SQL_SUCCESS);
    // A statement's own descriptor is a handle while the statement lives.
    SQLHANDLE ownArd = nullptr;
    ASSERT_EQ(SQLGetStmtAttrW(stmt, SQL_ATTR_APP_ROW_DESC, &ownArd, 0, nullptr), SQL_SUCCESS);
    SQLSMALLINT count = -1;
    EXPECT_EQ(SQLGetDescFieldW(ownArd, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);

    const struct {
        SQLSMALLINT type;
        SQLHANDLE handle;
    } freed[] = {
        {SQL_HANDLE_STMT, stmt}, {SQL_HANDLE_DESC, desc}, {SQL_HANDLE_DBC, secondDbc}, {SQL_HANDLE_ENV, secondEnv}};
    for (const auto& f : freed)
        ASSERT_EQ(SQLFreeHandle(f.type, f.handle), SQL_SUCCESS) << f.type;

    // Memory that never held a handle: a heap block of noise, a stack word,
    // a pointer into a live handle and an odd address.
    std::vector<unsigned char> noise(4096);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<unsigned char>(i * 131 + 17);
    uint64_t word = 0x5a5a5a5a5a5a5a5aULL;
    SQLHANDLE foreign[] = {noise.data(), &word, static_cast<char*>(dbc) + 16,
                           reinterpret_cast<SQLHANDLE>(uintptr_t{0xdeadbeef})};

    for (const auto& f : freed) {
        EXPECT_EQ(SQLFreeHandle(f.type, f.handle), SQL_INVALID_HANDLE) << "freed twice, type " << f.type;
        EXPECT_EQ(SQLGetDiagRecW(f.type, f.handle, 1, nullptr, nullptr, nullptr, 0, nullptr), SQL_INVALID_HANDLE)
            << f.type;
    }
    // The freed statement took its own descriptor along.
    EXPECT_EQ(SQLGetDescFieldW(ownArd, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_INVALID_HANDLE);
    for (SQLHANDLE p : foreign) {
        for (SQLSMALLINT type : {SQL_HANDLE_ENV, SQL_HANDLE_DBC, SQL_HANDLE_STMT, SQL_HANDLE_DESC}) {
            EXPECT_EQ(SQLFreeHandle(type, p), SQL_INVALID_HANDLE) << p << " type " << type;
            EXPECT_EQ(SQLGetDiagRecW(type, p, 1, nullptr, nullptr, nullptr, 0, nullptr), SQL_INVALID_HANDLE) << p;
        }
        EXPECT_EQ(SQLFetch(p), SQL_INVALID_HANDLE) << p;
        EXPECT_EQ(SQLGetDescFieldW(p, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_INVALID_HANDLE) << p;
        EXPECT_EQ(SQLGetEnvAttr(p, SQL_ATTR_ODBC_VERSION, &count, 0, nullptr), SQL_INVALID_HANDLE) << p;
        EXPECT_EQ(SQLGetFunctions(p, SQL_API_SQLFETCH, nullptr), SQL_INVALID_HANDLE) << p;
        EXPECT_EQ(ExportTableToFile(p, nullptr, nullptr, 0, 0, 0, nullptr), SQL_INVALID_HANDLE) << p;
        EXPECT_EQ(getConnectionErrors(p), nullptr) << p;
    }
    for (const auto& f : freed)
        EXPECT_EQ(getConnectionErrors(f.handle), nullptr) << f.type;
    // The handles in use are untouched by all this.
    SQLUSMALLINT flag = 0;
    EXPECT_EQ(SQLGetFunctions(dbc, SQL_API_SQLFETCH, &flag), SQL_SUCCESS);
}

TEST_F(Exports, AStatementsOwnDescriptorsCannotBeFreed)
{
    attachOpen();
    SQLHANDLE stmt = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    BaseAXD implicit(static_cast<BaseStatement*>(stmt)->connection);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, &implicit), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DESC, &implicit).state, "HY017");
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
}

TEST_F(Exports, AnOperationIsCalledOnceMoreWhenItAsksAndNeverPassesTheRequestOn)
{
    auto* conn = new ScriptedConnection(static_cast<BaseEnv*>(env));
    handleObject()->setCurrentConnection(conn);
    SQLUSMALLINT flag = 0;

    conn->functionsAnswers = {kBaseRcAgain, SQL_SUCCESS};
    EXPECT_EQ(SQLGetFunctions(dbc, SQL_API_SQLFETCH, &flag), SQL_SUCCESS);
    EXPECT_EQ(conn->functionsCalls, 2u);

    conn->functionsCalls = 0;
    conn->functionsAnswers = {kBaseRcAgain, kBaseRcAgain, kBaseRcAgain};
    EXPECT_EQ(SQLGetFunctions(dbc, SQL_API_SQLFETCH, &flag), SQL_ERROR);
    EXPECT_EQ(conn->functionsCalls, 2u);
    Diag d = diagOf(SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(d.state, "HY000");
    EXPECT_NE(d.text.find("The operation did not finish"), std::string::npos) << d.text;
}

TEST_F(Exports, AFreshPooledConnectionRepeatsOnlyACallWhoseRequestNeverLeft)
{
    auto* conn = new ScriptedConnection(static_cast<BaseEnv*>(env));
    handleObject()->setCurrentConnection(conn);
    struct Case {
        const char* name;
        uint32_t fromPool;
        bool unsent;
        int calls;
        SQLRETURN rc;
    };
    const Case cases[] = {
        {"not taken from a pool", 0, true, 1, SQL_ERROR},
        {"request sent", 1, false, 1, SQL_ERROR},
        {"request never left", 1, true, 2, SQL_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SQLUINTEGER value = 0;
        conn->attrCalls = 0;
        conn->freshFromPool = c.fromPool;
        conn->reconnectUnsent = c.unsent;
        conn->failoverMode = 1;
        conn->configuredFailoverMode = 1;
        EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, &value, 0, nullptr), c.rc);
        EXPECT_EQ(conn->attrCalls, c.calls);
        EXPECT_EQ(value, c.rc == SQL_SUCCESS ? 42u : 0u);
        EXPECT_EQ(conn->freshFromPool, 0u);
        // The repeat leaves the user's failover choice as it was.
        EXPECT_EQ(conn->failoverMode, 1);
        if (c.rc == SQL_ERROR) {
            EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08S01");
        }
    }
}

TEST_F(Exports, OdbcTwoApplicationsReadOdbcTwoSqlstates)
{
    SQLINTEGER value = 0;
    ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC2}), 0),
              SQL_SUCCESS);
    EXPECT_EQ(SQLGetEnvAttr(env, SQL_ATTR_CONNECTION_POOLING, &value, 4, nullptr), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_ENV, env).state, "S1C00");
    SQLWCHAR state[6] = {};
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetDiagFieldW(SQL_HANDLE_ENV, env, 1, SQL_DIAG_SQLSTATE, state, sizeof state, &length), SQL_SUCCESS);
    EXPECT_EQ(narrow(u16(state)), "S1C00");
    // Connection diagnostics follow their environment's version.
    failConnect();
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "08001");
    SQLUSMALLINT info = 0;
    EXPECT_EQ(SQLGetInfoW(dbc, SQL_DRIVER_HSTMT, &info, 2, nullptr), SQL_ERROR);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc).state, "S1C00");
}

TEST_F(Exports, ConnectionErrorsComeAsOneText)
{
    failConnect();
    char* text = getConnectionErrors(dbc);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), kConnectRefused);
    std::free(text);
}

TEST_F(Exports, CallsOnOneConnectionFromManyThreadsTakeTurns)
{
    failConnect();
    ASSERT_EQ(handleObject()->current->threadModel, kBaseThreadPerConnection);
    constexpr int kThreads = 4;
    constexpr int kCalls = 500;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                SQLUSMALLINT flag = 0;
                SQLUINTEGER dead = 0;
                if (SQLGetFunctions(dbc, SQL_API_SQLFETCH, &flag) != SQL_SUCCESS || flag != 1)
                    ++failures[t];
                if (SQLGetConnectAttrW(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr) != SQL_SUCCESS ||
                    dead != SQL_CD_TRUE)
                    ++failures[t];
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

namespace {

BaseEnv* noEnvironment() noexcept
{
    return nullptr;
}

// An environment class whose environments are not usable.
class UnusableEnv : public BaseEnv {
public:
    UnusableEnv() noexcept : BaseEnv(0) {}
    int16_t initCheck() noexcept override { return 1; }
};

BaseEnv* unusableEnvironment() noexcept
{
    return new UnusableEnv();
}

}  // namespace

TEST(EnvironmentExports, WithoutAUsableEnvironmentClassNoEnvironmentIsMade)
{
    struct Case {
        const char* what;
        BaseEnvFactory factory;
    };
    const Case cases[] = {
        {"none registered", nullptr},
        {"the factory makes nothing", noEnvironment},
        {"the environment is not usable", unusableEnvironment},
    };
    for (const Case& c : cases) {
        katest::EnvFactoryScope scope(c.factory);
        SQLHANDLE env = &env;
        EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_ERROR) << c.what;
        EXPECT_EQ(env, nullptr) << c.what;
        EXPECT_EQ(baseLiveEnvironments(), 0) << c.what;
    }
    // Registered again, the driver's class makes the environments.
    katest::EnvFactoryScope scope;
    EXPECT_EQ(baseEnvFactory(), hiveMakeEnv);
    SQLHANDLE env = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    EXPECT_NE(dynamic_cast<DummyEnv*>(static_cast<KaObject*>(env)), nullptr);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}
