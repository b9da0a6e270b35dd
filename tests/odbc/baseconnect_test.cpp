// Connect, driver connect and browse connect over the test connection,
// whose open step is scripted: the server passes and their order, the
// completed connection string, the TLS fallback, the completion's
// SQLGetInfo answers and the disconnect.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kathread.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "support/diagscope.h"
#include "support/guarded.h"
#include "support/stmtfixture.h"
#include "support/testconnection.h"
#include "support/u16.h"
#include "support/iniconnection.h"

using katest::TestConnection;
using katest::TestConnectionControl;
using katest::TestEnv;
using katest::TestOpenOutcome;
using katest::u16;
using katest::W;

namespace {

class Connect : public katest::IniConnectionTest {
protected:
    void SetUp() override
    {
        setUpConnection("[sales]\nDriver=TestDriver\nHostName=dsnhost\nPortNumber=5\n"
                        "LOGONID=fromini\n",
                        "[TestDriver]\nDriver=none\n");
    }

    int16_t driverConnect(const std::u16string& in, uint16_t completion = SQL_DRIVER_NOPROMPT)
    {
        katest::Guarded<uint16_t> out(512);
        int16_t length = -1;
        int16_t rc = conn->driverConnect(nullptr, W(in.c_str()), SQL_NTS, out.data(), 512, &length, completion);
        EXPECT_TRUE(out.guardsIntact());
        outString = u16(out.data());
        return rc;
    }

    std::vector<std::u16string> hosts() const
    {
        std::vector<std::u16string> seen;
        for (const auto& open : control.opens)
            seen.push_back(open.host);
        return seen;
    }

    // Message numbers of the handle's records, in diagnostic order.
    std::vector<uint32_t> messages()
    {
        std::vector<uint32_t> numbers;
        for (int64_t i = 1; i <= handle->diagnostics.diagCount(); ++i)
            numbers.push_back(handle->diagnostics.getRecord(i)->nativeCode);
        return numbers;
    }

    std::string text(int64_t record)
    {
        KaError* r = handle->diagnostics.getRecord(record);
        return r != nullptr ? katest::narrow(u16(r->messageW())) : "";
    }

    std::u16string outString;
};

TEST_F(Connect, DriverConnectCompletesTheStringAndWarnsOfUnusedAttributes)
{
    EXPECT_EQ(driverConnect(u"DRIVER={TestDriver};HOST=h;PORT=1;UID=me;PWD=p;BOGUS=1"), SQL_SUCCESS_WITH_INFO);
    EXPECT_TRUE(conn->isConnected());
    ASSERT_EQ(control.opens.size(), 1u);
    EXPECT_EQ(control.opens[0].host, u"h");
    EXPECT_EQ(control.opens[0].user, u"me");
    EXPECT_EQ(control.opens[0].password, u"p");
    EXPECT_EQ(outString, u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p;BOGUS=1");
    ASSERT_EQ(messages(), std::vector<uint32_t>{MSG_UNUSED_CONNECTION_ATTRIBUTE});
    EXPECT_NE(text(1).find("BOGUS"), std::string::npos);
    EXPECT_EQ(conn->dsnNameW, nullptr);
}

TEST_F(Connect, ConnectAndDriverConnectByDataSourceReadTheIniFiles)
{
    ASSERT_EQ(conn->connect(W(u"sales"), SQL_NTS, W(u"me"), SQL_NTS, W(u"pw"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(control.opens.size(), 1u);
    EXPECT_EQ(control.opens[0].host, u"dsnhost");
    EXPECT_EQ(control.opens[0].port, u"5");
    EXPECT_EQ(control.opens[0].user, u"me");
    EXPECT_EQ(control.opens[0].password, u"pw");
    EXPECT_EQ(conn->disconnect(), SQL_SUCCESS);
    EXPECT_FALSE(conn->isConnected());
    EXPECT_EQ(conn->userId.length, 0u);

    // The string's value wins over the data source's; the user id comes
    // from the data source and goes into the completed string.
    EXPECT_EQ(driverConnect(u"DSN=sales;PORT=9"), SQL_SUCCESS);
    ASSERT_EQ(control.opens.size(), 2u);
    EXPECT_EQ(control.opens[1].host, u"dsnhost");
    EXPECT_EQ(control.opens[1].port, u"9");
    EXPECT_EQ(control.opens[1].user, u"fromini");
    EXPECT_EQ(outString, u"DSN=sales;PORT=9;UID=fromini");
    EXPECT_EQ(conn->userIdFromFile, 1);

    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
}

TEST_F(Connect, SQLConnectToADataSourceInNeitherFileFailsNamingBothUnlessADefaultStandsIn)
{
    std::string user = dir + "/odbc.ini";
    std::string system = dir + "/sys/odbc.ini";
    EXPECT_EQ(conn->connect(W(u"nowhere"), SQL_NTS, W(u"me"), SQL_NTS, W(u"pw"), SQL_NTS), SQL_ERROR);
    EXPECT_TRUE(control.opens.empty());
    ASSERT_EQ(messages(), std::vector<uint32_t>{MSG_DATA_SOURCE_NOT_FOUND});
    EXPECT_EQ(handle->diagnostics.getRecord(1)->sqlstateMsg, kBaseIdxUnableToConnect);
    EXPECT_NE(text(1).find("Data source \"nowhere\" was not found in " + user + " or " + system), std::string::npos)
        << text(1);

    // A driver connect may carry everything itself: an unknown data source
    // becomes "Default" there, as before.
    EXPECT_EQ(driverConnect(u"DSN=nowhere;HOST=x"), SQL_SUCCESS);
    EXPECT_EQ(outString, u"DSN=Default;HOST=x");
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);

    // A [Default] data source serves unknown names, as unixODBC's DEFAULT.
    writeIni("odbc.ini", "[Default]\nDriver=TestDriver\nHostName=defaulthost\n");
    EXPECT_EQ(conn->connect(W(u"nowhere"), SQL_NTS, W(u"me"), SQL_NTS, W(u"pw"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(control.opens.size(), 2u);
    EXPECT_EQ(control.opens[1].host, u"defaulthost");
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
}

TEST_F(Connect, ADataSourceOnlyTheSystemFileHoldsIsFound)
{
    mkdir((dir + "/sys").c_str(), 0700);
    std::ofstream(dir + "/sys/odbc.ini") << "[shared]\nDriver=TestDriver\nHostName=syshost\nPortNumber=7\n";
    taskReleaseIniCache();
    ASSERT_EQ(conn->connect(W(u"shared"), SQL_NTS, W(u"me"), SQL_NTS, W(u"pw"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(control.opens.size(), 1u);
    EXPECT_EQ(control.opens[0].host, u"syshost");
    EXPECT_EQ(control.opens[0].port, u"7");
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
}

TEST_F(Connect, AConnectWithFailoverKeepsACompleteReconnectString)
{
    control.failoverSupported = 1;
    BaseConnection* made = nullptr;
    ASSERT_EQ(env->newConnection(0, &made), 0);
    auto* first = static_cast<TestConnection*>(made);
    ASSERT_EQ(handle->setCurrentConnection(first), 0);
    writeIni("odbc.ini", "[sales]\nDriver=TestDriver\nHostName=dsnhost\nFailoverMode=1\n");
    ASSERT_EQ(first->connect(W(u"sales"), SQL_NTS, W(u"me"), SQL_NTS, W(u"p;w}"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(first->failoverMode, 1);
    KaMemoryBuffer plain;
    plain.state = KA_MEMBUF_PLAIN;
    ASSERT_EQ(handle->decryptHandleValue(handle->connectString, plain), 0);
    EXPECT_EQ(u16(plain.data), u"DSN=sales;UID=me;PWD={p;w}}}");
    // The reconnect runs under it and reaches the same server as the user.
    EXPECT_EQ(first->callLosingLink(), SQL_ERROR);
    ASSERT_NE(handle->current, first);
    ASSERT_EQ(control.opens.size(), 2u);
    EXPECT_EQ(control.opens[1].host, u"dsnhost");
    EXPECT_EQ(control.opens[1].password, u"p;w}");
}

TEST_F(Connect, AFailedConnectClosesAndWipesWhatItRead)
{
    control.script = {{kBaseIdxUnableToConnect}};
    EXPECT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=h;UID=me;PWD=p;WA=0"), SQL_ERROR);
    EXPECT_FALSE(conn->isConnected());
    EXPECT_EQ(conn->userId.length, 0u);
    EXPECT_EQ(conn->password.length, 0u);
    EXPECT_EQ(conn->dsnNameW, nullptr);
    EXPECT_EQ(text(1).find("08001") == std::string::npos, true);
    EXPECT_EQ(handle->diagnostics.getRecord(1)->sqlstateMsg, kBaseIdxUnableToConnect);
}

struct PassCase {
    const char* name;
    const char16_t* extra;  // appended to the primary server's string
    std::vector<TestOpenOutcome> script;
    int16_t rc;
    std::vector<std::u16string> hosts;  // the order of the attempts
    uint32_t message;                   // the framework's own record; 0 none
};

class Passes : public Connect, public ::testing::WithParamInterface<PassCase> {};

TEST_P(Passes, ServersAreTriedInOrderOnlyAfterRetryableFailures)
{
    const PassCase& c = GetParam();
    control.script = c.script;
    std::u16string in = std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;") + c.extra;
    EXPECT_EQ(driverConnect(in), c.rc);
    EXPECT_EQ(hosts(), c.hosts);
    std::vector<uint32_t> seen = messages();
    for (uint32_t own : {MSG_CONNECTED_TO_ALTERNATE, MSG_CONNECT_FAILED_SERVERS, MSG_ALTERNATE_SERVERS_MISSING_KEYWORD,
                         MSG_ALTERNATE_SERVERS_DUPLICATE_KEYWORD, MSG_ALTERNATE_SERVERS_UNKNOWN_KEYWORD,
                         MSG_ALTERNATE_SERVERS_SYNTAX}) {
        bool found = std::find(seen.begin(), seen.end(), own) != seen.end();
        EXPECT_EQ(found, own == c.message) << own;
    }
}

const char16_t kTwo[] = u"ASRV=(HOST=b:PORT=2, HostName=c:PortNumber=3)";
const TestOpenOutcome kRefused{kBaseIdxUnableToConnect};
const TestOpenOutcome kLinkLost{kBaseIdxLinkFailure};
const TestOpenOutcome kTimedOut{kBaseIdxTimeout};
const TestOpenOutcome kBadLogin{kBaseIdxGeneralError};

INSTANTIATE_TEST_SUITE_P(
    Connect, Passes,
    ::testing::Values(
        PassCase{"FirstServerAnswers", kTwo, {}, SQL_SUCCESS, {u"a"}, 0},
        PassCase{"ThirdServerAnswers",
                 kTwo,
                 {kRefused, kLinkLost},
                 SQL_SUCCESS_WITH_INFO,
                 {u"a", u"b", u"c"},
                 MSG_CONNECTED_TO_ALTERNATE},
        PassCase{"BadLoginEndsAtOnce", kTwo, {kBadLogin}, SQL_ERROR, {u"a"}, 0},
        PassCase{"AllTimeOut",
                 kTwo,
                 {kTimedOut, kTimedOut, kTimedOut},
                 SQL_ERROR,
                 {u"a", u"b", u"c"},
                 MSG_CONNECT_FAILED_SERVERS},
        PassCase{"RetryPassOnTheOneServer", u"CRC=2;CRD=0", {kRefused, kRefused}, SQL_SUCCESS, {u"a", u"a", u"a"}, 0},
        PassCase{"RetriesUsedUpAddNoSummary", u"CRC=1;CRD=0", {kRefused, kRefused}, SQL_ERROR, {u"a", u"a"}, 0},
        PassCase{"LowerCaseKeywords",
                 u"ASRV=(host=b:port=2)",
                 {kRefused},
                 SQL_SUCCESS_WITH_INFO,
                 {u"a", u"b"},
                 MSG_CONNECTED_TO_ALTERNATE},
        PassCase{"PortMissing", u"ASRV=(HOST=b)", {}, SQL_ERROR, {}, MSG_ALTERNATE_SERVERS_MISSING_KEYWORD},
        PassCase{"HostTwice",
                 u"ASRV=(HOST=b:HostName=c:PORT=1)",
                 {},
                 SQL_ERROR,
                 {},
                 MSG_ALTERNATE_SERVERS_DUPLICATE_KEYWORD},
        PassCase{"UnknownKeyword",
                 u"ASRV=(HOST=b:PORT=1:COLOUR=red)",
                 {},
                 SQL_ERROR,
                 {},
                 MSG_ALTERNATE_SERVERS_UNKNOWN_KEYWORD},
        PassCase{"NoParenthesis", u"ASRV=HOST=b", {}, SQL_ERROR, {}, MSG_ALTERNATE_SERVERS_SYNTAX},
        PassCase{"QuotedAndBracedValues",
                 u"ASRV=(HOST=\" b \":PORT={2})",
                 {kRefused},
                 SQL_SUCCESS_WITH_INFO,
                 {u"a", u"b"},
                 MSG_CONNECTED_TO_ALTERNATE}),
    [](const ::testing::TestParamInfo<PassCase>& info) { return std::string(info.param.name); });

TEST_F(Connect, TheRetryDelayPassesBetweenPasses)
{
    control.script = {kRefused};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a;PORT=1;CRC=1;CRD=1"), SQL_SUCCESS);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(950));
    EXPECT_EQ(hosts(), (std::vector<std::u16string>{u"a", u"a"}));
}

TEST_F(Connect, AlternatesNeedNoPromptAndTheCompletedStringNamesThePrimary)
{
    EXPECT_EQ(driverConnect(std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;") + kTwo, SQL_DRIVER_COMPLETE),
              SQL_ERROR);
    EXPECT_EQ(messages(), std::vector<uint32_t>{MSG_ALTERNATE_SERVERS_NEED_NOPROMPT});
    EXPECT_TRUE(control.opens.empty());

    control.script = {kRefused};
    EXPECT_EQ(driverConnect(std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;") + kTwo), SQL_SUCCESS_WITH_INFO);
    EXPECT_NE(outString.find(u"HOST=a;PORT=1"), std::u16string::npos);
    ASSERT_NE(conn->serverNameA, nullptr);
    EXPECT_STREQ(conn->serverNameA, "HostName=b:PortNumber=2");
    // The warning naming the server reached comes first.
    EXPECT_EQ(messages().at(0), MSG_CONNECTED_TO_ALTERNATE);
    EXPECT_NE(text(1).find("HostName=b:PortNumber=2"), std::string::npos);
}

TEST_F(Connect, LoadBalancingStartsAnywhereAndKeepsToTheList)
{
    control.script = {kRefused, kRefused, kRefused};
    EXPECT_EQ(driverConnect(std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;LB=1;") + kTwo), SQL_ERROR);
    ASSERT_EQ(control.opens.size(), 3u);
    for (const auto& host : hosts())
        EXPECT_TRUE(host == u"a" || host == u"b" || host == u"c") << katest::narrow(host);
}

// Load-balanced connects on several threads share the one seed; each
// still tries every server of its pass.
TEST_F(Connect, LoadBalancedConnectsOnSeveralThreadsEachTryTheirServers)
{
    constexpr int kThreads = 4;
    std::vector<std::thread> threads;
    std::vector<size_t> attempts(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            TestConnectionControl own;
            own.script = {kRefused, kRefused, kRefused};
            TestEnv ownEnv(&own);
            auto* ownHandle = new BaseStubConnection(&ownEnv);
            BaseConnection* made = nullptr;
            if (ownEnv.newConnection(0, &made) == 0 && ownHandle->setCurrentConnection(made) == 0) {
                std::u16string in = std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;LB=1;") + kTwo;
                int16_t length = 0;
                (void)made->driverConnect(nullptr, W(in.c_str()), SQL_NTS, nullptr, 0, &length, SQL_DRIVER_NOPROMPT);
            }
            attempts[static_cast<size_t>(t)] = own.opens.size();
            delete ownHandle;
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (size_t n : attempts)
        EXPECT_EQ(n, 3u);
}

TEST_F(Connect, ARefusedProtocolFallsBackOnlyWhenTheUserNamedTheOlderOne)
{
    const char* refused = "error:14077102:SSL routines:unsupported protocol";
    conn->allowedEncryptionMethods = 1u << 1;
    control.script = {{kBaseIdxUnableToConnect, 0, refused}};
    EXPECT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a;EM=1"), SQL_ERROR);
    EXPECT_EQ(control.opens.size(), 1u);
    std::vector<uint32_t> seen = messages();
    EXPECT_NE(std::find(seen.begin(), seen.end(), MSG_TLS_PROTOCOL_REFUSED), seen.end());

    control.opens.clear();
    conn->allowedEncryptionMethods = 1u << 1;
    control.script = {{kBaseIdxUnableToConnect, 0, refused}};
    control.scriptNext = 0;
    EXPECT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a;EM=1;CPV=TLSV1.1,TLSV1.2"), SQL_SUCCESS);
    ASSERT_EQ(control.opens.size(), 2u);
    EXPECT_EQ(control.opens[0].tlsProtocols & kBaseTlsProtocolMask, 0x37000000u);
    EXPECT_EQ(control.opens[1].tlsProtocols & kBaseTlsProtocolMask, 0x2F000000u);
    // The downgrade served that attempt only.
    EXPECT_EQ(conn->tlsProtocols & kBaseTlsProtocolMask, 0x37000000u);
}

TEST_F(Connect, CompletionKeepsTheDriversAnswers)
{
    control.textInfo[SQL_NEED_LONG_DATA_LEN] = u"y";
    control.textInfo[SQL_DATA_SOURCE_READ_ONLY] = u"Y";
    control.textInfo[SQL_DBMS_NAME] = u"Hive";
    EXPECT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a"), SQL_SUCCESS);
    EXPECT_EQ(conn->needLongDataLen, 1);
    EXPECT_EQ(u16(conn->dbmsName), u"Hive");
    // Read-only, no keyset cursors, static emulation on: only the
    // emulated positioning and locking bits stay.
    EXPECT_EQ(conn->staticCursorOps, 0xC00000u);
    EXPECT_EQ(conn->keysetCursorOps, 0u);
    EXPECT_EQ(conn->defaultConcurrency, SQL_CONCUR_READ_ONLY);
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);

    // An ODBC 2 environment gets updatable statements by default.
    env->odbc2Mode = 1;
    EXPECT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a"), SQL_SUCCESS);
    EXPECT_EQ(conn->defaultConcurrency, SQL_CONCUR_VALUES);
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
    EXPECT_EQ(conn->defaultConcurrency, SQL_CONCUR_READ_ONLY);
    env->odbc2Mode = 0;

    control.textInfo[SQL_NEED_LONG_DATA_LEN] = u"";
    EXPECT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a"), SQL_ERROR);
    EXPECT_NE(text(1).find(" SQL_NEED_LONG_DATA_LEN returned "), std::string::npos) << text(1);
    EXPECT_FALSE(conn->isConnected());
}

TEST_F(Connect, AMissingTranslationLibraryFailsTheConnect)
{
    EXPECT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a;TRANSLATIONSHAREDLIBRARY=" + katest::widen(dir) + u"/none.so"),
              SQL_ERROR);
    EXPECT_EQ(handle->diagnostics.getRecord(1)->sqlstateMsg, kBaseIdxTranslationLoad);
    EXPECT_TRUE(control.opens.empty());
}

TEST_F(Connect, TheTranslationLibraryTranslatesAndItsFailuresAreErrors)
{
    std::u16string library = katest::widen(KA_TEST_TRANSLATOR);
    ASSERT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a;TRANSLATIONSHAREDLIBRARY=" + library), SQL_SUCCESS);
    ASSERT_NE(conn->translatorLibrary, nullptr);
    std::u16string text = u"abC";
    ASSERT_EQ(conn->translateToDriverW(reinterpret_cast<uint16_t*>(text.data()), 3), 0);
    EXPECT_EQ(text, u"ABC");
    struct Case {
        uint64_t option;
        uint32_t message;
    };
    // A library that returns FALSE has failed, with or without a message.
    for (const Case& c : {Case{7, MSG_TRANSLATION_FAILED}, Case{8, MSG_TRANSLATION_FAILED}}) {
        katest::DiagScope scope;
        conn->translationOption = c.option;
        EXPECT_EQ(conn->translateToDriverW(reinterpret_cast<uint16_t*>(text.data()), 3), 1);
        ASSERT_EQ(scope.size(), 1u);
        EXPECT_FALSE(scope.warning(0));
        EXPECT_EQ(scope.at(0)->nativeCode, c.message);
    }
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
    EXPECT_EQ(conn->translatorLibrary, nullptr);
}

TEST_F(Connect, RemarksOptionsPatchAPrivateCopyThatTheDisconnectRestores)
{
    ASSERT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a;CRDT=-9"), SQL_SUCCESS);
    ASSERT_NE(conn->columnsColumns, kBaseColumnsColumns);
    EXPECT_EQ(conn->columnsColumns[kBaseColumnsRemarks].sqlType, SQL_WVARCHAR);
    EXPECT_EQ(conn->columnsColumns[kBaseColumnsRemarks].columnSize, 254u);
    EXPECT_EQ(conn->tablesColumns[kBaseTablesRemarks].sqlType, SQL_WVARCHAR);
    EXPECT_EQ(kBaseColumnsColumns[kBaseColumnsRemarks].sqlType, SQL_VARCHAR);
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
    EXPECT_EQ(conn->columnsColumns[kBaseColumnsRemarks].sqlType, SQL_VARCHAR);

    // Without either option the built-in descriptions are used as they are.
    BaseConnection* made = nullptr;
    ASSERT_EQ(env->newConnection(0, &made), 0);
    auto* other = static_cast<TestConnection*>(made);
    handle->addConnection(other);
    int16_t length = 0;
    ASSERT_EQ(other->driverConnect(nullptr, W(u"DRIVER=TestDriver;HOST=a"), SQL_NTS, nullptr, 0, &length,
                                   SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS);
    EXPECT_EQ(other->columnsColumns, kBaseColumnsColumns);
}

TEST_F(Connect, AReconnectWalksOnFromTheServerAfterTheOneInUse)
{
    control.failoverSupported = 1;
    BaseConnection* made = nullptr;
    ASSERT_EQ(env->newConnection(0, &made), 0);
    auto* first = static_cast<TestConnection*>(made);
    ASSERT_EQ(handle->setCurrentConnection(first), 0);
    int16_t length = 0;
    ASSERT_EQ(first->driverConnect(nullptr,
                                   W((std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;FM=1;") + kTwo).c_str()),
                                   SQL_NTS, nullptr, 0, &length, SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS);
    EXPECT_EQ(first->failoverMode, 1);
    EXPECT_EQ(handle->nextServerIndex, 1u);
    control.script = {kRefused};
    control.scriptNext = 0;
    EXPECT_EQ(first->callLosingLink(), SQL_ERROR);
    ASSERT_NE(handle->current, first);
    EXPECT_EQ(hosts(), (std::vector<std::u16string>{u"a", u"b", u"c"}));
    ASSERT_EQ(handle->diagnostics.diagCount(), 1);
    KaError* record = handle->diagnostics.getRecord(1);
    EXPECT_EQ(record->nativeCode, MSG_CONNECTION_REESTABLISHED_TO);
    EXPECT_NE(katest::narrow(u16(record->messageW())).find("HostName=c:PortNumber=3"), std::string::npos);
}

TEST_F(Connect, BrowseTriesTheAlternatesItWasGiven)
{
    control.script = {kRefused};
    katest::Guarded<uint16_t> out(256);
    int16_t length = 0;
    std::u16string in = std::u16string(u"DRIVER=TestDriver;HOST=a;PORT=1;") + kTwo;
    EXPECT_EQ(conn->browseConnect(W(in.c_str()), SQL_NTS, out.data(), 256, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_TRUE(conn->isConnected());
    EXPECT_EQ(hosts(), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_NE(u16(out.data()).find(u"HOST=a;PORT=1"), std::u16string::npos);
}

TEST_F(Connect, WorkaroundBitsHideExtendedFetchAndSetDescField)
{
    ASSERT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a;WA=" + katest::widen(std::to_string(kBaseWaHideExtendedFetch))),
              SQL_SUCCESS);
    uint16_t bits[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = {};
    ASSERT_EQ(conn->getFunctions(SQL_API_ODBC3_ALL_FUNCTIONS, bits), SQL_SUCCESS);
    auto has = [&](uint16_t f) { return (bits[f >> 4] & (1u << (f & 0xF))) != 0; };
    EXPECT_FALSE(has(SQL_API_SQLEXTENDEDFETCH));
    EXPECT_TRUE(has(SQL_API_SQLCONNECT));
    uint16_t one = 9;
    ASSERT_EQ(conn->getFunctions(SQL_API_SQLEXTENDEDFETCH, &one), SQL_SUCCESS);
    EXPECT_EQ(one, SQL_FALSE);
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
    ASSERT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a;WA=" + katest::widen(std::to_string(kBaseWaHideSetDescField))),
              SQL_SUCCESS);
    ASSERT_EQ(conn->getFunctions(SQL_API_SQLSETDESCFIELD, &one), SQL_SUCCESS);
    EXPECT_EQ(one, SQL_FALSE);
}

TEST_F(Connect, AWorkaroundBitSpellsTheDatabaseKeywordOutInTheCompletedString)
{
    struct Case {
        std::u16string in;
        std::u16string out;
    };
    const std::u16string head = u"DRIVER=TestDriver;HOST=h;PORT=1;";
    const Case cases[] = {
        {u"WA=2048;db=sales", u"WA=2048;DATABASE=sales"},
        {u"WA=2048; Db =sales;X=1", u"WA=2048;DATABASE=sales;X=1"},
        // A braced value is passed over, however it reads.
        {u"WA=2048;PWD={a;DB=b}}c;db=d};DB=x", u"WA=2048;PWD={a;DB=b}}c;db=d};DATABASE=x"},
        {u"WA=2048;Database=sales;DBX=1;XDB=2", u"WA=2048;Database=sales;DBX=1;XDB=2"},
        {u"WA=0;DB=sales", u"WA=0;DB=sales"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(c.in));
        EXPECT_TRUE(SQL_SUCCEEDED(driverConnect(head + c.in)));
        EXPECT_EQ(outString, head + c.out);
        ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
    }
}

TEST_F(Connect, DisconnectInsideATransactionFailsAndKeepsTheLink)
{
    ASSERT_EQ(driverConnect(u"DRIVER=TestDriver;HOST=a"), SQL_SUCCESS);
    conn->connectionFlags |= kBaseConnTransactionActive;
    EXPECT_EQ(conn->disconnect(), SQL_ERROR);
    EXPECT_EQ(handle->diagnostics.getRecord(1)->sqlstateMsg, kBaseIdxInvalidTransactionState);
    EXPECT_TRUE(conn->isConnected());
    conn->connectionFlags &= ~kBaseConnTransactionActive;
    EXPECT_EQ(conn->disconnect(), SQL_SUCCESS);
}

TEST_F(Connect, BrowseAsksForWhatIsMissingThenConnects)
{
    katest::Guarded<uint16_t> out(256);
    int16_t length = 0;
    EXPECT_EQ(conn->browseConnect(W(u"DRIVER=TestDriver;HOST=h"), SQL_NTS, out.data(), 256, &length), SQL_NEED_DATA);
    EXPECT_EQ(u16(out.data()), u"PORT:PortNumber=?;*DB:Database=?;");
    EXPECT_FALSE(conn->isConnected());
    EXPECT_TRUE(control.opens.empty());
    EXPECT_EQ(conn->browseConnect(W(u"PORT=7;UID=me"), SQL_NTS, out.data(), 256, &length), SQL_SUCCESS);
    EXPECT_TRUE(out.guardsIntact());
    EXPECT_TRUE(conn->isConnected());
    ASSERT_EQ(control.opens.size(), 1u);
    EXPECT_EQ(control.opens[0].host, u"h");
    EXPECT_EQ(control.opens[0].port, u"7");
    EXPECT_EQ(control.opens[0].user, u"me");
    EXPECT_EQ(u16(out.data()), u"DRIVER=TestDriver;HOST=h;PORT=7;UID=me;");
}

// A statement that logs each close of its cursor (whether the connection
// was still connected then) and fails it on demand.
class ClosingStatement : public katest::TestStatement {
public:
    ClosingStatement(BaseConnection* c, std::vector<bool>* closes, const bool* fail) noexcept
        : TestStatement(c), closes_(closes), fail_(fail)
    {}
    int16_t closeCursorHook() noexcept override
    {
        closes_->push_back(connection->isConnected());
        if (*fail_) {
            basePostErrorTextA(kBaseIdxGeneralError, 0, "the cursor could not be closed", 3);
            return 1;
        }
        return TestStatement::closeCursorHook();
    }

private:
    std::vector<bool>* closes_;
    const bool* fail_;
};

class CloseConnection : public katest::StmtFixture {};

TEST_F(CloseConnection, EveryCursorIsClosedWhileTheLinkIsUpAndOneThatCannotBeKeepsTheConnection)
{
    std::vector<bool> closes;
    bool fail = true;
    BaseStatement* a = nullptr;
    BaseStatement* b = nullptr;
    ASSERT_EQ(katest::makeStatement<ClosingStatement>(&a, conn, &closes, &fail), 0);
    ASSERT_EQ(katest::makeStatement<ClosingStatement>(&b, conn, &closes, &fail), 0);
    ASSERT_EQ(a->execDirect(W(u"select rows 3"), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(b->execDirect(W(u"select rows 3"), SQL_NTS), SQL_SUCCESS);

    // Both are tried; the failure keeps the link and the statements, and
    // says why.
    EXPECT_EQ(conn->disconnect(), SQL_ERROR);
    EXPECT_EQ(closes, (std::vector<bool>{true, true}));
    EXPECT_TRUE(conn->isConnected());
    EXPECT_EQ(conn->statements.count, 3u);
    EXPECT_EQ(a->statementState, kBaseStmtAllocated);
    KaError* record = handle->diagnostics.getRecord(1);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(katest::narrow(u16(record->messageW())).find("the cursor could not be closed") != std::string::npos,
              true);

    // With its cursor closed, or closing as it should, the disconnect ends
    // the link and the statements with it.
    fail = false;
    ASSERT_EQ(a->execDirect(W(u"select rows 3"), SQL_NTS), SQL_SUCCESS);
    closes.clear();
    EXPECT_EQ(conn->disconnect(), SQL_SUCCESS);
    EXPECT_EQ(closes, std::vector<bool>{true});
    EXPECT_FALSE(conn->isConnected());
    EXPECT_EQ(conn->statements.count, 0u);
}

TEST_F(CloseConnection, ACursorThatCannotBeClosedOnADeadLinkDoesNotKeepTheConnection)
{
    std::vector<bool> closes;
    bool fail = true;
    BaseStatement* a = nullptr;
    ASSERT_EQ(katest::makeStatement<ClosingStatement>(&a, conn, &closes, &fail), 0);
    ASSERT_EQ(a->execDirect(W(u"select rows 3"), SQL_NTS), SQL_SUCCESS);
    static_cast<katest::TestStmtConnection*>(conn)->linkDead = true;

    // Nothing is left to close the cursor on: the failure is a warning and
    // the application's disconnect ends the connection.
    EXPECT_EQ(conn->disconnect(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(closes, std::vector<bool>{true});
    EXPECT_FALSE(conn->isConnected());
    EXPECT_EQ(conn->statements.count, 0u);
    KaError* record = handle->diagnostics.getRecord(1);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->isWarning());
}

}  // namespace
