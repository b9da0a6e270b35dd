// The Hive connection's options and its open and close, in process: the
// option rules and defaults, the version text, credentials masked out of
// server texts, and the open against the bundled test server under each
// identity, with the server's name, version and type table it learns.
#include <gtest/gtest.h>

#include <sql.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/kathread.h"
#include "hive/dummyenv.h"
#include "hive/hiveconnection.h"
#include "kamessages.h"
#include "odbc/baseoptreader.h"
#include "odbc/kavalueparser.h"
#include "support/diagscope.h"
#include "support/errorscope.h"
#include "support/freewatch.h"
#include "support/hs2process.h"
#include "support/platformtest.h"

namespace {

class HiveOpenTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
    void SetUp() override
    {
        // No ini file of the machine's takes part.
        ASSERT_FALSE(dir.path().empty());
        for (const char* name : {"ODBCINI", "ODBCINST", "ODBCSYSINI", "ODBCINSTINI", "ODBC_INI"})
            vars.unset(name);
        vars.set("ODBCINI", dir.path() + "/odbc.ini");
        vars.set("ODBCINST", dir.path() + "/odbcinst.ini");
        std::ofstream(dir.path() + "/odbc.ini") << "[ODBC]\n";
        std::ofstream(dir.path() + "/odbcinst.ini") << "[ODBC]\n";
        taskReleaseIniCache();
        conn = new HiveConnection(&env);
        ASSERT_NE(nullptr, conn);
        ASSERT_EQ(0, conn->drawConnectionKey());
    }
    void TearDown() override
    {
        delete parser;
        delete conn;
        taskReleaseIniCache();
    }

    // Reads the Hive options from a connection string; 0 or 1.
    int16_t read(const std::u16string& text)
    {
        delete parser;
        parser = new KaValueParserW(reinterpret_cast<const uint16_t*>(text.c_str()), text.size(), ';', nullptr, 0);
        if (parser == nullptr)
            return 1;
        parser->setQuoteChars(0, 0, 0);
        BaseScopedKey key(conn->connectionKey);
        if (parser->addWordChars(reinterpret_cast<const uint16_t*>(u"_.()")) != 0 ||
            parser->parse(key.get(), nullptr) != 0)
            return 1;
        return conn->readDriverOptions(parser, nullptr);
    }
    static std::string narrow(const uint16_t* text)
    {
        std::string out;
        for (; text != nullptr && *text != 0; ++text)
            out.push_back(char(*text));
        return out;
    }

    katest::ThreadScope thread;
    katest::DiagScope diags;
    katest::EnvScope vars;
    katest::TempDir dir{"ka-hiveopen"};
    DummyEnv env;
    HiveConnection* conn = nullptr;
    KaValueParserW* parser = nullptr;
};

TEST_F(HiveOpenTest, AConnectionStringWithoutHiveKeywordsGivesTheDefaults)
{
    ASSERT_EQ(0, read(u"HOST=h;PORT=1"));
    EXPECT_EQ("default", narrow(conn->databaseName));
    EXPECT_EQ("default", narrow(conn->catalogDatabase));
    EXPECT_EQ(HIVE_RESULT_ROW_WISE, conn->resultStyle);
    EXPECT_EQ(kHiveProtocolUnset, conn->clientProtocol);
    EXPECT_EQ(0, conn->authenticationMethod);
    EXPECT_EQ(-9, conn->stringDescribeType);
    EXPECT_EQ(2, conn->batchMechanism);
    EXPECT_EQ(-1, conn->maxRowsInFetch);
    EXPECT_EQ(25, conn->operationStatusDelay);
    EXPECT_EQ(150000, conn->arrayFetchSize);
    EXPECT_EQ(16778240, conn->arrayInsertLimit);
    EXPECT_EQ(1, conn->enableCookieAuthentication);
    EXPECT_EQ(38u, conn->maxNumericPrecision);
    EXPECT_EQ(38u, conn->maxNumericScale);
    EXPECT_EQ(1, conn->quoteAliases);
    EXPECT_EQ(1, conn->longDataCache);
    EXPECT_EQ(2097152u, conn->longDataBufferSize);
    EXPECT_EQ(INT32_MAX, conn->maxStringSize);
    EXPECT_EQ("cliservice", narrow(conn->httpPath));
    EXPECT_EQ(nullptr, conn->gssLibraryName);
    EXPECT_EQ(0u, diags.size()) << diags.text(0);
}

TEST_F(HiveOpenTest, EachOptionFollowsItsRule)
{
    struct Case {
        std::u16string text;
        int64_t (*field)(HiveConnection*);
        int64_t expected;
    };
    const Case cases[] = {
        {u"AM=4", [](HiveConnection* c) -> int64_t { return c->authenticationMethod; }, HIVE_AUTH_KERBEROS},
        {u"AM=-1", [](HiveConnection* c) -> int64_t { return c->authenticationMethod; }, HIVE_AUTH_NONE},
        {u"AM=2", [](HiveConnection* c) -> int64_t { return c->authenticationMethod; }, 0},
        {u"SDT=-10 - SQL_WLONGVARCHAR", [](HiveConnection* c) -> int64_t { return c->stringDescribeType; }, -9},
        {u"SDT=-10", [](HiveConnection* c) -> int64_t { return c->stringDescribeType; }, -10},
        {u"OSD=0", [](HiveConnection* c) -> int64_t { return c->operationStatusDelay; }, 25},
        {u"OSD=lots", [](HiveConnection* c) -> int64_t { return c->operationStatusDelay; }, 25},
        {u"MRIF=0", [](HiveConnection* c) -> int64_t { return c->maxRowsInFetch; }, 1},
        {u"AIS=-5;BMS=100", [](HiveConnection* c) -> int64_t { return c->arrayInsertLimit; }, 103424},
        {u"AFS=-1;AS=7", [](HiveConnection* c) -> int64_t { return c->arrayFetchSize; }, 7},
        {u"CM=3;UNCF=2", [](HiveConnection* c) -> int64_t { return c->catalogMode; }, 2},
        {u"CM=3;UNCF=9", [](HiveConnection* c) -> int64_t { return c->catalogMode; }, 0},
        {u"LDCS=-1", [](HiveConnection* c) -> int64_t { return c->longDataCache; }, 0},
        {u"LDCS=0", [](HiveConnection* c) -> int64_t { return int64_t(c->longDataBufferSize); }, 2097152},
        {u"LDCS=4", [](HiveConnection* c) -> int64_t { return int64_t(c->longDataBufferSize); }, 4096},
        {u"UAE=1", [](HiveConnection* c) -> int64_t { return c->pollCompletionStatus; }, 1},
        {u"UAE=11;APCS=1",
         [](HiveConnection* c) -> int64_t { return c->useAsyncExecute * 10 + c->pollCompletionStatus; }, 1},
        {u"NB=1", [](HiveConnection* c) -> int64_t { return c->nullBehavior; }, 0},
        {u"TM=7", [](HiveConnection* c) -> int64_t { return c->transactionMode; }, 0},
        {u"BM=1", [](HiveConnection* c) -> int64_t { return c->batchMechanism; }, 1},
        {u"BM=3", [](HiveConnection* c) -> int64_t { return c->batchMechanism; }, 2},
        {u"MSS=0;MVS=300", [](HiveConnection* c) -> int64_t { return c->maxStringSize; }, 300},
        {u"TRM=5", [](HiveConnection* c) -> int64_t { return c->transportMode; }, 0},
        {u"CSP=3", [](HiveConnection* c) -> int64_t { return c->clientProtocol; }, 3},
        {u"QA=0", [](HiveConnection* c) -> int64_t { return c->quoteAliases; }, 0},
        {u"DIS=yes", [](HiveConnection* c) -> int64_t { return c->decimalIsSearchable; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        ASSERT_EQ(0, read(c.text));
        EXPECT_EQ(c.expected, c.field(conn));
    }
    // Fallbacks leave no diagnostic behind.
    EXPECT_EQ(0u, diags.size()) << diags.text(0);
}

// The framework's flags and the Hive connection's are read by one rule: a
// flag that is on unless zero looks at the first character only.
TEST_F(HiveOpenTest, FlagsOfBothLayersReadAValueAlike)
{
    const struct {
        const char16_t* value;
        int32_t on;
    } cases[] = {{u"0", 0}, {u"00", 0}, {u"01", 0}, {u"1", 1}, {u" 1", 1}, {u"yes", 1}, {u"", 1}};
    for (const auto& c : cases) {
        std::u16string text = std::u16string(u"MS=") + c.value + u";ECA=" + c.value;
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        ASSERT_EQ(0, read(text));
        ASSERT_EQ(0, conn->readConnectOptions(reinterpret_cast<const uint16_t*>(text.c_str()), SQL_NTS, parser, 0));
        EXPECT_EQ(c.on, conn->modifySql);
        EXPECT_EQ(c.on, conn->enableCookieAuthentication);
    }
}

TEST_F(HiveOpenTest, TheOptionReaderWipesTheValuesItFrees)
{
    if (!katest::SecretWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    ASSERT_EQ(0, read(u"PXU=Zq9-xW!plainProxySecret"));
    BaseOptionReader r(conn, parser);
    katest::SecretWatch watch("Zq9-xW!plainProxySecret");
    // The next lookup frees the value of the previous one.
    ASSERT_TRUE(r.get(u"ProxyUser", u"PXU", nullptr));
    ASSERT_TRUE(r.present());
    ASSERT_TRUE(r.get(u"ProxyUser", u"PXU", nullptr));
    ASSERT_TRUE(r.get(u"HostName", u"HOST", nullptr));
    EXPECT_GT(watch.frees(), 0);
    EXPECT_EQ(watch.leaks(), 0);
}

// Sizes past their bound are brought to it with a warning; smaller ones
// keep their meaning.
TEST_F(HiveOpenTest, SizingOptionsAreHeldToTheirBounds)
{
    const struct {
        const char16_t* text;
        int64_t (*field)(HiveConnection*);
        int64_t expected;
        bool warned;
    } cases[] = {
        {u"LDCS=4", [](HiveConnection* c) -> int64_t { return int64_t(c->longDataBufferSize); }, 4096, false},
        {u"LDCS=18014398509481984", [](HiveConnection* c) -> int64_t { return int64_t(c->longDataBufferSize); },
         int64_t(1) << 30, true},
        {u"LDCS=18446744073709551615", [](HiveConnection* c) -> int64_t { return int64_t(c->longDataBufferSize); },
         int64_t(1) << 30, true},
        {u"AFS=2147483647", [](HiveConnection* c) -> int64_t { return c->arrayFetchSize; }, 10000000, true},
        {u"AFS=1000", [](HiveConnection* c) -> int64_t { return c->arrayFetchSize; }, 1000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
        diags.list.clear();
        ASSERT_EQ(0, read(c.text));
        EXPECT_EQ(c.expected, c.field(conn));
        ASSERT_EQ(c.warned ? 1u : 0u, diags.size());
        if (c.warned) {
            EXPECT_TRUE(diags.warning(0));
            EXPECT_EQ(MSG_OPTION_VALUE_LIMITED, diags.at(0)->nativeCode) << diags.text(0);
        }
    }
}

TEST_F(HiveOpenTest, AProtocolThatDoesNotParseFailsTheRead)
{
    EXPECT_EQ(1, read(u"CSP=new"));
    EXPECT_GE(diags.size(), 1u);
}

TEST_F(HiveOpenTest, TheVersionTextIsTwoTwoAndFourDigits)
{
    struct Case {
        const char* given;
        const char* kept;
        uint32_t major, minor, patch;
    };
    const Case cases[] = {
        {"2.4.0", "02.04.0000", 2, 4, 0},
        {"3.1.2-SNAPSHOT", "03.01.0002", 3, 1, 2},
        {"2.1", "02.01.0000", 2, 1, 0},
        {"3.1.3 r4df4d75bf1e16fe0af75aad0b4179c34c07fc975", "03.01.0003", 3, 1, 3},
        {"7", "07.00.0000", 7, 0, 0},
        {"100.2.12345", "**.02.****", 100, 2, 12345},
        {"99999999999.1", "00.01.0000", 0, 1, 0},
        {"", "00.00.0000", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        char text[kHiveDbmsTextSize] = {};
        std::strncpy(text, c.given, sizeof text - 1);
        uint32_t major = 9, minor = 9, patch = 9;
        hiveFormatDbmsVersion(text, sizeof text, &major, &minor, &patch);
        EXPECT_STREQ(c.kept, text);
        EXPECT_EQ(c.major, major);
        EXPECT_EQ(c.minor, minor);
        EXPECT_EQ(c.patch, patch);
    }
}

TEST_F(HiveOpenTest, CredentialsAreMaskedOutOfServerTexts)
{
    struct Case {
        const char* given;
        const char* shown;
    };
    const Case cases[] = {
        // The test server's refusal repeats the request as Java prints it.
        {"Required field 'client_protocol' is unset! Struct:TOpenSessionReq(client_protocol:null, username:ann, "
         "password:se;cr, et, configuration:{a=b})",
         "Required field 'client_protocol' is unset! Struct:TOpenSessionReq(client_protocol:null, username:***, "
         "password:***, configuration:{a=b})"},
        {"TOpenSessionReq(client_protocol:null, password:pw)", "TOpenSessionReq(client_protocol:null, password:**)"},
        {"failed for UID=ann;PWD=secret;HOST=h", "failed for UID=ann;PWD=***;HOST=h"},
        {"user=bob&Password=x y", "user=***&Password=* y"},
        {"superuser:none; passwords differ", "superuser:none; passwords differ"},
    };
    for (const Case& c : cases) {
        std::string text = c.given;
        hiveMaskCredentials(text.data());
        EXPECT_STREQ(c.shown, text.c_str());
    }
}

TEST_F(HiveOpenTest, TheOpenLearnsTheServerAndItsTypesUnderEachIdentity)
{
    struct Case {
        const char* identity;
        std::u16string options;
        const char* version;
        const char* name;
        int32_t spark21;
        uint8_t decimalKind;
        int32_t varchar;
        int32_t date;
        int32_t resultStyle;
        size_t rows;
    };
    const Case cases[] = {
        {"hive-1.2", u"", "01.02.0001", "Apache Hive", 0, HIVE_DECIMAL_PLAIN, 1, 1, HIVE_RESULT_COLUMN_WISE, 18},
        {"hive-2.3", u"", "02.03.0009", "Apache Hive", 0, HIVE_DECIMAL_PRECISION_SCALE, 1, 1, HIVE_RESULT_COLUMN_WISE,
         18},
        {"hive-3.1", u"CSP=3;", "03.01.0003", "Apache Hive", 0, HIVE_DECIMAL_NONE, 0, 1, HIVE_RESULT_ROW_WISE, 15},
        {"spark-3", u"", "03.01.0003", "Spark SQL", 1, HIVE_DECIMAL_PRECISION_SCALE, 1, 1, HIVE_RESULT_COLUMN_WISE, 18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity);
        katest::Hs2Process server({"--server", c.identity, "--user", "ann", "--password", "pw"});
        ASSERT_NE(0, server.port());
        std::string port = server.portText();
        ASSERT_EQ(0, read(c.options + u"HOST=127.0.0.1;PORT=" + std::u16string(port.begin(), port.end())));
        ASSERT_EQ(0, conn->setUserIdCStr(reinterpret_cast<const uint16_t*>(u"ann")));
        ASSERT_EQ(0, conn->setPasswordCStr(reinterpret_cast<const uint16_t*>(u"pw")));
        ASSERT_EQ(0, conn->openPhysical()) << diags.text(0);
        EXPECT_EQ(1, conn->sessionOpen);
        EXPECT_STREQ(c.version, conn->dbmsVersion);
        EXPECT_STREQ(c.name, conn->dbmsNameText);
        EXPECT_EQ(c.spark21, conn->spark21);
        EXPECT_EQ(c.decimalKind, conn->decimalKind);
        EXPECT_EQ(c.varchar, conn->serverHasVarchar);
        EXPECT_EQ(c.date, conn->serverHasDate);
        // Every server sends timestamps with their nanoseconds, in both
        // layouts: the row describes what arrives.
        EXPECT_EQ(29, conn->typeRows[10].columnSize);
        EXPECT_EQ(9, conn->typeRows[10].maximumScale);
        EXPECT_EQ(c.resultStyle, conn->resultStyle);
        EXPECT_EQ(c.rows, conn->typeRowCount);
        EXPECT_EQ(conn->typeRowCount, conn->typeTableCount);
        EXPECT_EQ(0u, diags.size()) << diags.text(0);
        EXPECT_EQ(0, conn->closePhysical());
        EXPECT_EQ(0, conn->sessionOpen);
        EXPECT_EQ(nullptr, conn->socket);
    }
}

TEST_F(HiveOpenTest, AFailedOpenLeavesNoSocketAndSaysUnableToConnect)
{
    katest::Hs2Process server({"--user", "ann", "--password", "pw"});
    std::string port = server.portText();
    ASSERT_EQ(0, read(u"HOST=127.0.0.1;PORT=" + std::u16string(port.begin(), port.end())));
    ASSERT_EQ(0, conn->setUserIdCStr(reinterpret_cast<const uint16_t*>(u"ann")));
    ASSERT_EQ(0, conn->setPasswordCStr(reinterpret_cast<const uint16_t*>(u"wrong")));
    EXPECT_EQ(1, conn->openPhysical());
    EXPECT_EQ(nullptr, conn->socket);
    EXPECT_EQ(0, conn->sessionOpen);
    ASSERT_EQ(1u, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_UNABLE_TO_CONNECT, diags.index(0));
    // The same connection opens once the password is right.
    ASSERT_EQ(0, conn->setPasswordCStr(reinterpret_cast<const uint16_t*>(u"pw")));
    EXPECT_EQ(0, conn->openPhysical()) << diags.text(1);
    EXPECT_EQ(0, conn->closePhysical());
}

}  // namespace
