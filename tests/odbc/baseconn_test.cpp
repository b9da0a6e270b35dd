// The physical connection and its handle: attributes buffered before a
// connect, recorded settings, credentials kept encrypted, and the reconnect
// after a link failure, through the fake connection of tests/support.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string.h>
#include <fstream>
#include <string>
#include <unistd.h>

#include "kamessages.h"
#include "foundation/codepage.h"
#include "odbc/baseconn.h"
#include "odbc/basestmt.h"
#include "support/diagscope.h"
#include "support/testconnection.h"

using katest::TestConnection;
using katest::TestConnectionControl;
using katest::TestEnv;
using katest::u16;
using katest::W;

namespace {

void* asValue(intptr_t v)
{
    return reinterpret_cast<void*>(v);
}

class ConnTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(katest::openCatalogue(), 0);
        env = new TestEnv(&control);
        handle = new BaseStubConnection(env);
    }
    void TearDown() override
    {
        delete handle;
        delete env;
        katest::closeCatalogue();
    }

    // Makes the physical connection the way SQLConnect does, and connects it.
    TestConnection* connect(int32_t failoverMode = 0, const char16_t* text = u"DSN=x;PWD=secret")
    {
        BaseConnection* made = nullptr;
        EXPECT_EQ(env->newConnection(0, &made), 0);
        auto* conn = static_cast<TestConnection*>(made);
        conn->failoverMode = failoverMode;
        EXPECT_EQ(handle->setCurrentConnection(conn), 0);
        int16_t outLength = 0;
        EXPECT_TRUE(
            SQL_SUCCEEDED(conn->driverConnect(nullptr, W(text), SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT)));
        return conn;
    }

    size_t kindZeroEvents(BaseConnection* conn, int32_t attribute)
    {
        size_t n = 0;
        KaDNode* node = conn->events.first();
        for (size_t i = 0; i < conn->events.count; ++i, node = node->next) {
            auto* e = static_cast<BaseBufferedEvent*>(node);
            n += e->kind == kBaseEventConnectAttr && e->code == attribute ? 1 : 0;
        }
        return n;
    }

    std::string diagState(int16_t rec)
    {
        uint16_t state[6] = {};
        if (handle->diagnostics.getDiagRec(rec, state, nullptr, nullptr, 0, nullptr) != SQL_SUCCESS)
            return "none";
        return katest::narrow(u16(state));
    }

    TestConnectionControl control;
    TestEnv* env = nullptr;
    BaseStubConnection* handle = nullptr;
};

// A statement whose SQLNumResultCols loses the link while the test asks
// it to, counting every call (across the connections it moves to).
class LinkLosingStatement : public BaseStatement {
public:
    using BaseStatement::BaseStatement;
    // The text is taken as the server would take it.
    int16_t prepareHook(BaseSqlStringW*) noexcept override { return 0; }
    int16_t numResultCols(int16_t* count) noexcept override
    {
        ++calls;
        if (enterFunction(SQL_API_SQLNUMRESULTCOLS) != 0)
            return exitFunction(SQL_ERROR);
        if (losses > 0) {
            --losses;
            KaErrorList* list = KaErrorCurrentList();
            const size_t before = list != nullptr ? list->recordCount() : 0;
            basePostErrorMsg(kBaseIdxLinkFailure, MSG_CONNECTION_NOT_OPEN);
            if (beforeSending)
                baseMarkRequestUnsent(list, before, kBaseIdxLinkFailure);
            return exitFunction(SQL_ERROR);
        }
        *count = 3;
        return exitFunction(SQL_SUCCESS);
    }
    int calls = 0;
    int losses = 0;
    bool beforeSending = false;
};

}  // namespace

TEST_F(ConnTest, AttributeBufferedTwiceKeepsTheSecondValueAndConnectingAppliesIt)
{
    for (intptr_t v : {SQL_TXN_READ_COMMITTED, SQL_TXN_SERIALIZABLE})
        ASSERT_EQ(handle->setBufferedAttr(SQL_ATTR_TXN_ISOLATION, asValue(v), 0), SQL_SUCCESS);
    ASSERT_EQ(handle->bufferedAttrs.count, 1u);
    TestConnection* conn = connect();
    EXPECT_EQ(conn->txnIsolation, SQL_TXN_SERIALIZABLE);
    int32_t value = 0;
    EXPECT_EQ(conn->getConnectAttr(SQL_ATTR_TXN_ISOLATION, &value, 4, nullptr), SQL_SUCCESS);
    EXPECT_EQ(value, SQL_TXN_SERIALIZABLE);
}

TEST_F(ConnTest, OnlyLoginSettingsApplyBeforeTheOpenAndTheRestAfterIt)
{
    ASSERT_EQ(handle->setBufferedAttr(SQL_ATTR_LOGIN_TIMEOUT, asValue(9), 0), SQL_SUCCESS);
    ASSERT_EQ(handle->setBufferedAttr(SQL_ATTR_AUTOCOMMIT, asValue(SQL_AUTOCOMMIT_OFF), 0), SQL_SUCCESS);
    BaseConnection* made = nullptr;
    ASSERT_EQ(env->newConnection(0, &made), 0);
    ASSERT_EQ(handle->setCurrentConnection(made), 0);
    EXPECT_EQ(made->loginTimeout, 9);
    EXPECT_EQ(made->autocommit, SQL_AUTOCOMMIT_ON);
    int16_t outLength = 0;
    ASSERT_EQ(made->driverConnect(nullptr, W(u"DSN=x"), SQL_NTS, nullptr, 0, &outLength, 0), SQL_SUCCESS);
    EXPECT_EQ(made->autocommit, SQL_AUTOCOMMIT_OFF);
}

TEST_F(ConnTest, RefusedBufferedAttributeWarnsOnTheConnectAndIsDropped)
{
    ASSERT_EQ(handle->setBufferedAttr(SQL_ATTR_TXN_ISOLATION, asValue(3), 0), SQL_SUCCESS);
    connect();
    // The refusal became a warning, followed by the option-changed warning.
    ASSERT_EQ(handle->diagnostics.diagCount(), 2);
    EXPECT_TRUE(handle->diagnostics.getRecord(1)->isWarning());
    EXPECT_TRUE(handle->diagnostics.getRecord(2)->isWarning());
    EXPECT_EQ(handle->diagnostics.getRecord(2)->sqlstateMsg, MSG_SQLSTATE_OPTION_VALUE_CHANGED);
    EXPECT_EQ(handle->findBufferedAttr(SQL_ATTR_TXN_ISOLATION), nullptr);
}

TEST_F(ConnTest, AttributesOfTheFirstConnectionReachTheNextAfterDisconnect)
{
    TestConnection* first = connect();
    ASSERT_EQ(first->setConnectAttr(SQL_ATTR_AUTOCOMMIT, asValue(SQL_AUTOCOMMIT_OFF), 0), SQL_SUCCESS);
    ASSERT_EQ(first->saveBufferedAttrs(), 0);
    handle->removeConnection(first);
    delete first;
    TestConnection* second = connect();
    EXPECT_EQ(second->autocommit, SQL_AUTOCOMMIT_OFF);
}

TEST_F(ConnTest, RecordingKeepsOneSettingWithoutFailoverAndEverySettingWithIt)
{
    for (int32_t mode : {0, 1}) {
        TestConnection* conn = connect(mode);
        for (intptr_t v : {SQL_AUTOCOMMIT_OFF, SQL_AUTOCOMMIT_ON, SQL_AUTOCOMMIT_OFF})
            ASSERT_EQ(conn->setConnectAttr(SQL_ATTR_AUTOCOMMIT, asValue(v), 0), SQL_SUCCESS);
        EXPECT_EQ(kindZeroEvents(conn, SQL_ATTR_AUTOCOMMIT), mode == 0 ? 1u : 3u) << mode;
        handle->removeConnection(conn);
        delete conn;
    }
}

TEST_F(ConnTest, EncryptedAttributeIsKeptEncryptedAndClearedByAnEmptyValue)
{
    const char16_t secret[] = u"token-value";
    ASSERT_EQ(handle->setBufferedAttr(kBaseAttrEncrypted, const_cast<char16_t*>(secret), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(handle->attr1069Value.length, 11u);
    EXPECT_EQ(::memmem(handle->attr1069Value.data, handle->attr1069Value.size, secret, 8), nullptr);
    KaMemoryBuffer plain;
    ASSERT_EQ(handle->decryptHandleValue(handle->attr1069Value, plain), 0);
    EXPECT_EQ(u16(plain.data), u"token-value");
    // A new connection string draws new letters; the value follows them.
    ASSERT_EQ(handle->storeConnectString(W(u"DSN=y")), 0);
    ASSERT_EQ(handle->decryptHandleValue(handle->attr1069Value, plain), 0);
    EXPECT_EQ(u16(plain.data), u"token-value");

    ASSERT_EQ(handle->setBufferedAttr(kBaseAttrEncrypted, const_cast<char16_t*>(u""), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(handle->attr1069Value.length, 0u);
    EXPECT_EQ(handle->attr1069Value.data, nullptr);
}

TEST_F(ConnTest, AnsiAppAttributeFailsButIsRecorded)
{
    EXPECT_EQ(handle->setBufferedAttr(SQL_ATTR_ANSI_APP, asValue(SQL_AA_TRUE), 0), SQL_ERROR);
    EXPECT_EQ(handle->ansiApp, 1u);
    EXPECT_EQ(diagState(1), "HYC00");
}

TEST_F(ConnTest, ConnectionStringIsStoredEncryptedUnderNewLettersEachTime)
{
    ASSERT_EQ(handle->storeConnectString(W(u"DSN=x;PWD=secret")), 0);
    uint8_t firstLetters[kBaseKeyLetters];
    std::memcpy(firstLetters, handle->handleKey, sizeof firstLetters);
    for (uint8_t c : firstLetters)
        EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    EXPECT_EQ(::memmem(handle->connectString.data, handle->connectString.size, u"secret", 12), nullptr);
    std::srand(3);
    int expected = std::rand();
    std::srand(3);
    ASSERT_EQ(handle->storeConnectString(W(u"DSN=x;PWD=other"), 15), 0);
    EXPECT_EQ(std::rand(), expected);  // the application's generator is untouched
    EXPECT_NE(std::memcmp(firstLetters, handle->handleKey, sizeof firstLetters), 0);
    KaMemoryBuffer plain;
    ASSERT_EQ(handle->decryptHandleValue(handle->connectString, plain), 0);
    EXPECT_EQ(u16(plain.data), u"DSN=x;PWD=other");
}

TEST_F(ConnTest, CredentialsStayEncryptedAndSurviveANewConnectionKey)
{
    TestConnection* conn = connect();
    ASSERT_EQ(conn->drawConnectionKey(), 0);
    ASSERT_EQ(conn->setUserId(W(u"alice"), SQL_NTS), 0);
    ASSERT_EQ(conn->setPasswordCStr(W(u"hunter2")), 0);
    EXPECT_EQ(::memmem(conn->password.data, conn->password.size, u"hunter2", 14), nullptr);
    ASSERT_EQ(conn->drawConnectionKey(), 0);
    KaMemoryBuffer plain;
    ASSERT_EQ(conn->getPassword(plain), 0);
    EXPECT_EQ(u16(plain.data), u"hunter2");
    ASSERT_EQ(conn->getUserId(plain), 0);
    EXPECT_EQ(u16(plain.data), u"alice");
}

TEST_F(ConnTest, KeyBytesTakeLowNibblesAndFlipTheTopBitOverAnEvenCount)
{
    const uint8_t letters[kBaseKeyLetters] = {'A', 'B', 'a', 'b', 'Z', 'z', 'C', 'c',
                                              'D', 'd', 'E', 'e', 'F', 'f', 'G', 'g'};
    uint8_t key[KA_MEMBUF_KEY_SIZE];
    baseDeriveKey(letters, key);
    // 'A','B' give 0x12, two ones: the top bit is flipped on; 'Z','z' give
    // 0xAA, three ones below the top bit: kept as it is.
    const uint8_t expected[KA_MEMBUF_KEY_SIZE] = {0x92, 0x92, 0xAA, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7};
    for (size_t i = 0; i < KA_MEMBUF_KEY_SIZE; ++i)
        EXPECT_EQ(key[i], expected[i]) << i;
}

TEST_F(ConnTest, DroppedLinkReconnectsReplaysAndReportsOneDiagnostic)
{
    TestConnection* old = connect(1, u"DSN=x;UID=u;PWD=p");
    ASSERT_EQ(old->setConnectAttr(SQL_ATTR_AUTOCOMMIT, asValue(SQL_AUTOCOMMIT_OFF), 0), SQL_SUCCESS);
    int madeBefore = control.made;
    control.lastConnectString.clear();

    EXPECT_EQ(old->callLosingLink(), SQL_ERROR);
    ASSERT_NE(handle->current, old);
    ASSERT_NE(handle->current, nullptr);
    EXPECT_EQ(control.made, madeBefore + 1);
    // The reconnect runs under the completed string of the first connect,
    // which names the data source the driver found ("x" is not defined).
    EXPECT_EQ(control.lastConnectString, u"DSN=Default;UID=u;PWD=p");
    EXPECT_TRUE(handle->current->isConnected());
    EXPECT_EQ(handle->current->autocommit, SQL_AUTOCOMMIT_OFF);
    EXPECT_EQ(handle->reconnecting, 0);
    EXPECT_EQ(handle->ownerThreadSet, 0u);
    ASSERT_EQ(handle->diagnostics.diagCount(), 1);
    KaError* record = handle->diagnostics.getRecord(1);
    EXPECT_EQ(record->sqlstateMsg, kBaseIdxReconnected);
    EXPECT_EQ(record->nativeCode, MSG_CONNECTION_REESTABLISHED);
    // The old connection stays with the handle until it is freed.
    EXPECT_EQ(handle->connections.count, 2u);
}

TEST_F(ConnTest, ReconnectMessageNamesTheServerReachedWhenAlternatesWereGiven)
{
    connect(1);
    // The connect loop records both texts; the fake sets them by hand.
    BaseConnection* old = handle->current;
    old->serverNameW = static_cast<uint16_t*>(std::calloc(8, 2));
    std::memcpy(old->serverNameW, u"h1,h2", 12);
    control.connectFailures = 1;
    EXPECT_EQ(static_cast<TestConnection*>(old)->callLosingLink(), SQL_ERROR);
    EXPECT_EQ(handle->current, old);
    std::free(old->serverNameW);
    old->serverNameW = nullptr;
    bool found = false;
    for (int64_t i = 1; i <= handle->diagnostics.diagCount(); ++i) {
        KaError* r = handle->diagnostics.getRecord(i);
        if (r->nativeCode == MSG_RECONNECT_FAILED_SERVERS) {
            found = true;
            EXPECT_NE(katest::narrow(u16(r->messageW())).find("h1,h2"), std::string::npos);
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(ConnTest, FailedReconnectKeepsTheOldConnectionAndReportsTheLostLink)
{
    TestConnection* old = connect(1);
    control.connectFailures = 1;
    EXPECT_EQ(old->callLosingLink(), SQL_ERROR);
    EXPECT_EQ(handle->current, old);
    EXPECT_EQ(handle->connections.count, 1u);
    EXPECT_EQ(handle->reconnecting, 0);
    bool found = false;
    for (int64_t i = 1; i <= handle->diagnostics.diagCount(); ++i) {
        KaError* r = handle->diagnostics.getRecord(i);
        if (r->nativeCode == MSG_RECONNECT_FAILED) {
            found = true;
            EXPECT_EQ(r->sqlstateMsg, kBaseIdxLinkFailure);
        }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(diagState(1), "08S01");
}

TEST_F(ConnTest, OnlyTheLinkFailureSqlstateReconnectsAndOnlyWithFailoverOn)
{
    TestConnection* conn = connect(1);
    int made = control.made;
    // A native code of 27 is a message number, not a lost link.
    EXPECT_EQ(conn->callFailingWithNative27(), SQL_ERROR);
    EXPECT_EQ(handle->current, conn);
    EXPECT_EQ(control.made, made);
    // With failover off a lost link is only reported.
    conn->failoverMode = 0;
    EXPECT_EQ(conn->callLosingLink(), SQL_ERROR);
    EXPECT_EQ(handle->current, conn);
    EXPECT_EQ(control.made, made);
    EXPECT_TRUE(conn->hasLinkFailure(SQL_ERROR));
    EXPECT_FALSE(conn->hasLinkFailure(SQL_SUCCESS_WITH_INFO));
}

TEST_F(ConnTest, ReconnectUsesAReadyStandbyWithoutANewConnection)
{
    TestConnection* old = connect(1);
    old->failoverPreconnect = 1;
    BaseConnection* standby = nullptr;
    ASSERT_EQ(env->newConnection(1, &standby), 0);
    handle->addConnection(standby);
    standby->connectionFlags |= kBaseConnConnected;
    handle->standbyReady = 1;
    int made = control.made;
    int connects = control.connects;
    EXPECT_EQ(old->callLosingLink(), SQL_ERROR);
    EXPECT_EQ(handle->current, standby);
    EXPECT_EQ(control.made, made);
    EXPECT_EQ(control.connects, connects);
    EXPECT_EQ(handle->standbyReady, 0);
}

TEST(AppCodePageTest, ReadFromTheUserIniThenTheInstIniAndDefaultsToTheLocalesSilently)
{
    struct Case {
        const char* odbcIni;      // IANAAPPCODEPAGE line of odbc.ini, or null
        const char* odbcInstIni;  // of odbcinst.ini
        int64_t expected;
        const char* locale;  // LC_ALL while read
    };
    const Case cases[] = {
        {"106", "2026", 106, "xx_YY.ISO-8859-1"},
        {nullptr, "2026", 2026, "C"},
        {"-999", "2026", 2026, "C"},
        {nullptr, nullptr, kCodePageUtf8, "C"},
        {nullptr, nullptr, kCodePageUtf8, "C.UTF-8"},
        {nullptr, nullptr, kCodePageLatin1, "xx_YY.ISO-8859-1"},
        {"utf8", nullptr, kCodePageUtf8, "C"},
        {"12x", nullptr, kCodePageLatin1, "xx_YY.ISO-8859-1"},
        {"99999999999999", nullptr, kCodePageUtf8, "C"},
    };
    std::string dir = katest::buildDir() + "/tests/appcodepage-" + std::to_string(getpid());
    ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
    const char* saved[] = {"ODBCINI", "ODBCINST", "ODBC_INI", "ODBCINSTINI", "LC_ALL", "LC_CTYPE", "LANG"};
    std::string before[7];
    bool had[7];
    for (int i = 0; i < 7; ++i) {
        const char* v = std::getenv(saved[i]);
        had[i] = v != nullptr;
        before[i] = v != nullptr ? v : "";
    }
    int n = 0;
    for (const Case& c : cases) {
        // Fresh file names each time: the ini reader caches by name.
        std::string odbc = dir + "/odbc" + std::to_string(n) + ".ini";
        std::string inst = dir + "/odbcinst" + std::to_string(n) + ".ini";
        ++n;
        std::ofstream(odbc) << "[ODBC]\n"
                            << (c.odbcIni != nullptr ? std::string("IANAAPPCODEPAGE=") + c.odbcIni
                                                     : std::string("Trace=0"))
                            << "\n";
        std::ofstream(inst) << "[ODBC]\n"
                            << (c.odbcInstIni != nullptr ? std::string("IANAAPPCODEPAGE=") + c.odbcInstIni
                                                         : std::string("Trace=0"))
                            << "\n";
        setenv("ODBCINI", odbc.c_str(), 1);
        setenv("ODBCINST", inst.c_str(), 1);
        setenv("LC_ALL", c.locale, 1);
        unsetenv("LC_CTYPE");
        unsetenv("LANG");
        katest::DiagScope scope;
        EXPECT_EQ(baseReadAppCodePage(), c.expected) << odbc;
        EXPECT_EQ(scope.size(), 0u);
    }
    for (int i = 0; i < 7; ++i) {
        if (had[i])
            setenv(saved[i], before[i].c_str(), 1);
        else
            unsetenv(saved[i]);
    }
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

TEST_F(ConnTest, EncryptedAttributeOnAConnectionGoesToTheHandleUnderEveryThreadModel)
{
    TestConnection* conn = connect();
    for (int32_t model : {kBaseThreadSafe, kBaseThreadPerConnection, kBaseThreadPerDriver}) {
        conn->threadModel = model;
        ASSERT_EQ(conn->setConnectAttr(kBaseAttrEncrypted, const_cast<char16_t*>(u"abc"), 6), SQL_SUCCESS);
        KaMemoryBuffer plain;
        ASSERT_EQ(handle->decryptHandleValue(handle->attr1069Value, plain), 0);
        EXPECT_EQ(u16(plain.data), u"abc");
        EXPECT_EQ(conn->setConnectAttr(kBaseAttrEncrypted, const_cast<char16_t*>(u"abc"), -8), SQL_ERROR);
        EXPECT_EQ(diagState(1), "HY090");
    }
}

// A call on a connection just taken from a pool that finds the link dead is
// repeated on the re-established link only when its request never left the
// driver; a request that reached the network may have run and is reported.
// The user's failover mode decides whether the link is re-established.
TEST_F(ConnTest, APooledCallIsRepeatedAfterItsLinkWasReestablishedOnlyWhenNothingWasSent)
{
    struct Case {
        const char* name;
        int32_t failoverMode;
        uint32_t fromPool;
        bool beforeSending;
        int calls;       // the call counted on the fake
        SQLRETURN rc;    // what the application gets
        uint16_t index;  // its diagnostic's SQLSTATE index (0: none)
    };
    const Case cases[] = {
        {"unsent, pooled", 1, 1, true, 2, SQL_SUCCESS, 0},
        {"sent, pooled", 1, 1, false, 1, SQL_ERROR, kBaseIdxReconnected},
        {"unsent, not pooled", 1, 0, true, 1, SQL_ERROR, kBaseIdxReconnected},
        {"unsent, pooled, failover off", 0, 1, true, 1, SQL_ERROR, kBaseIdxLinkFailure},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete handle;
        handle = new BaseStubConnection(env);
        TestConnection* conn = connect(c.failoverMode);
        conn->freshFromPool = c.fromPool;
        control.nativeSqlCalls = 0;
        control.nativeSqlLosses = 1;
        control.lossBeforeSending = c.beforeSending;
        uint16_t out[32];
        std::memset(out, 0xAB, sizeof out);
        SQLINTEGER outLength = -1;
        SQLWCHAR text[] = {'S', 'E', 'L', 'E', 'C', 'T', ' ', '1', 0};
        SQLRETURN rc = SQLNativeSqlW(handle, text, SQL_NTS, out, 16, &outLength);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(control.nativeSqlCalls, c.calls);
        for (size_t i = 16; i < 32; ++i)
            EXPECT_EQ(out[i], 0xABAB) << i;
        if (rc == SQL_SUCCESS) {
            EXPECT_EQ(u16(out), u"SELECT 1");
            EXPECT_EQ(handle->diagnostics.diagCount(), 0);
        } else {
            ASSERT_EQ(handle->diagnostics.diagCount(), 1);
            EXPECT_EQ(handle->diagnostics.getRecord(1)->sqlstateMsg, c.index);
        }
        // Once the link was re-established, the pooled link's first call
        // is over.
        EXPECT_EQ(handle->current->freshFromPool, c.failoverMode == 0 ? c.fromPool : 0u);
    }
}

// The same on a statement: its own failover reconnects, and the pooled
// call is repeated on the new link only when its request never left, or it
// is a query and the user chose failover mode 2, which replays queries.
TEST_F(ConnTest, APooledStatementCallIsRepeatedOnlyWhenItsRequestNeverLeft)
{
    struct Case {
        const char* name;
        bool beforeSending;
        int32_t failoverMode;  // as the user configured it
        const char16_t* text;  // prepared on the statement
        int calls;
        SQLRETURN rc;
    };
    const char16_t* insert = u"INSERT INTO t VALUES (1)";
    const char16_t* query = u"SELECT a FROM t";
    const Case cases[] = {
        {"sent", false, 1, insert, 1, SQL_ERROR},
        {"never left", true, 1, insert, 2, SQL_SUCCESS},
        {"sent query, replay not chosen", false, 1, query, 1, SQL_ERROR},
        {"sent query, replay chosen", false, 2, query, 2, SQL_SUCCESS},
        {"sent insert, replay chosen", false, 2, insert, 1, SQL_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete handle;
        handle = new BaseStubConnection(env);
        // The re-established link reads the user's FailoverMode again.
        control.failoverSupported = 1;
        TestConnection* conn =
            connect(c.failoverMode, c.failoverMode == 2 ? u"DSN=x;FailoverMode=2" : u"DSN=x;FailoverMode=1");
        conn->freshFromPool = 1;
        BaseStatement* made = nullptr;
        ASSERT_EQ(katest::makeStatement<LinkLosingStatement>(&made, static_cast<BaseConnection*>(conn)), 0);
        auto* stmt = static_cast<LinkLosingStatement*>(made);
        stmt->losses = 1;
        stmt->beforeSending = c.beforeSending;
        ASSERT_EQ(stmt->prepare(W(c.text), SQL_NTS), SQL_SUCCESS);
        SQLSMALLINT count = -1;
        EXPECT_EQ(SQLNumResultCols(static_cast<SQLHSTMT>(static_cast<KaObject*>(stmt)), &count), c.rc);
        EXPECT_EQ(stmt->calls, c.calls);
        EXPECT_NE(stmt->connection, conn);  // moved to the re-established link
        EXPECT_EQ(stmt->connection->freshFromPool, 0u);
        if (c.rc == SQL_SUCCESS) {
            EXPECT_EQ(count, 3);
        } else {
            ASSERT_GE(stmt->diagnostics.recordCount(), 1u);
            EXPECT_EQ(stmt->diagnostics.recordAt(0)->sqlstateMsg, kBaseIdxReconnected);
        }
    }
}
