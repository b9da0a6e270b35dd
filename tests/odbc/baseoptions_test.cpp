// The connection options: the lookup order (string, profile, data source,
// driver section, default) over real ini files, stored values, the option
// table's checks, the TLS protocol lists and the completed connection
// string.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseoptreader.h"
#include "odbc/basepool.h"
#include "odbc/baseresulthash.h"
#include "odbc/kavalueparser.h"
#include "security/bufxform.h"
#include "support/diagscope.h"
#include "support/testconnection.h"
#include "support/u16.h"
#include "support/iniconnection.h"

using katest::TestConnection;
using katest::TestConnectionControl;
using katest::TestEnv;
using katest::u16;
using katest::W;

namespace {

// The stored form of a text: "@01#$" and the hexadecimal of its scrambled
// UTF-16 units, as setup tools write it.
std::string storedForm(const std::u16string& text)
{
    std::u16string units = text;
    cryptEncodeW(units.data(), units.size(), KA_XFORM_TEA_MIX, nullptr);
    std::string bytes(reinterpret_cast<const char*>(units.data()), units.size() * 2);
    std::string out = "@01#$";
    static const char* digits = "0123456789ABCDEF";
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

class Options : public katest::IniConnectionTest {
protected:
    void SetUp() override
    {
        setUpConnection("", "");
        ASSERT_EQ(conn->drawConnectionKey(), 0);
    }

    std::unique_ptr<KaValueParserW> parse(const std::u16string& text)
    {
        auto parser = std::make_unique<KaValueParserW>(W(text.c_str()), text.size(), u';', nullptr, 0);
        parser->setQuoteChars(0, 0, 0);
        EXPECT_EQ(parser->addWordChars(W(u"_.()")), 0);
        BaseScopedKey key(conn->connectionKey);
        EXPECT_EQ(parser->parse(key.get(), nullptr), 0);
        return parser;
    }

    struct Found {
        int16_t rc;
        std::u16string value;
        int32_t source;
        bool null;
    };
    Found lookup(KaValueParserW* parser, const char16_t* shortKey, const char16_t* longKey,
                 const char16_t* def = nullptr, int32_t decode = 0)
    {
        uint16_t* value = nullptr;
        int32_t source = -1;
        int16_t rc = conn->getOptionValue(parser, shortKey != nullptr ? W(shortKey) : nullptr, W(longKey),
                                          def != nullptr ? W(def) : nullptr, &value, &source, decode);
        Found f{rc, u16(value), source, value == nullptr};
        ramFree(value);
        return f;
    }
};

TEST_F(Options, EachStageAnswersWhenTheEarlierOnesAreSilent)
{
    writeIni("odbc.ini", "[ODBC Data Sources]\nsales=SalesDriver\n"
                         "[sales]\nDriver=SalesDriver\nWORKAROUNDS=2\nDESCRIPTION=from dsn\n");
    writeIni("odbcinst.ini", "[SalesDriver]\nWORKAROUNDS=3\nWORKAROUNDS2=4\n"
                             "[OtherDriver]\nWORKAROUNDS=5\n");
    ASSERT_EQ(conn->checkDataSource(W(u"sales")), 0);
    struct Case {
        const char16_t* string;
        const char16_t* longKey;
        const char16_t* shortKey;
        const char16_t* expected;
        int32_t source;
    };
    const Case cases[] = {
        {u"DSN=sales;WA=1", u"WORKAROUNDS", u"WA", u"1", kBaseOptFromString},
        {u"DSN=sales;WORKAROUNDS=7", u"WORKAROUNDS", u"WA", u"7", kBaseOptFromString},
        {u"DSN=sales", u"WORKAROUNDS", u"WA", u"2", kBaseOptFromDataSource},
        {u"DSN=sales", u"WORKAROUNDS2", u"WA2", u"4", kBaseOptFromDriver},
        {u"DSN=sales", u"WORKAROUNDS3", u"WA3", u"0", kBaseOptFromDefault},
        // A DRIVER in the string names the driver section and skips the
        // data source.
        {u"DRIVER={OtherDriver};DSN=sales", u"WORKAROUNDS", u"WA", u"5", kBaseOptFromDriver},
        {u"DRIVER=SalesDriver", u"DESCRIPTION", u"DESC", u"0", kBaseOptFromDefault},
        // An empty value in the string is found there.
        {u"DSN=sales;WA=", u"WORKAROUNDS", u"WA", u"", kBaseOptFromString},
        // Quotes around a value go; inside, a quote escapes the next one.
        {u"DSN=sales;WA='1''2'", u"WORKAROUNDS", u"WA", u"1'2", kBaseOptFromString},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(std::u16string(c.string)) + " " + katest::narrow(std::u16string(c.longKey)));
        katest::DiagScope scope;
        auto parser = parse(c.string);
        Found f = lookup(parser.get(), c.shortKey, c.longKey, u"0");
        EXPECT_EQ(f.rc, 0);
        EXPECT_EQ(f.value, c.expected);
        EXPECT_EQ(f.source, c.source);
        EXPECT_EQ(scope.size(), 0u);
    }
}

TEST_F(Options, TheBestOfSeveralKeywordsIsTheOneFromTheEarliestStage)
{
    writeIni("odbc.ini", "[sales]\nDriver=SalesDriver\nOldHost=dsnhost\n");
    writeIni("odbcinst.ini", "[SalesDriver]\nHostName=drvhost\n");
    ASSERT_EQ(conn->checkDataSource(W(u"sales")), 0);
    katest::DiagScope scope;
    const uint16_t* more[] = {W(u"OldHost"), W(u"LegacyHost"), nullptr};
    struct Case {
        const char16_t* string;
        const char16_t* expected;
        int32_t source;
    };
    const Case cases[] = {
        {u"DSN=sales", u"dsnhost", kBaseOptFromDataSource},
        {u"DSN=sales;LegacyHost=s", u"s", kBaseOptFromString},
        {u"DSN=sales;HOST=h", u"h", kBaseOptFromString},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(std::u16string(c.string)));
        auto parser = parse(c.string);
        uint16_t* value = nullptr;
        int32_t source = -1;
        ASSERT_EQ(
            conn->getOptionValueBest(parser.get(), W(u"HOST"), W(u"HostName"), more, W(u"none"), &value, &source, 0),
            0);
        EXPECT_EQ(u16(value), c.expected);
        EXPECT_EQ(source, c.source);
        ramFree(value);
    }
}

TEST_F(Options, AProfileComesBeforeTheDataSourceAndIsChosenByName)
{
    writeIni("odbc.ini", "[sales]\nDriver=SalesDriver\nWORKAROUNDS=2\n");
    writeIni("odbcinst.ini", "[SalesDriver]\nWORKAROUNDS=3\n");
    writeIni("fast", "[SalesDriver]\nWORKAROUNDS=9\n");
    ASSERT_EQ(conn->checkDataSource(W(u"sales")), 0);
    katest::DiagScope scope;
    std::u16string text = u"DSN=sales;PN=fast;PD=" + katest::widen(dir);
    auto parser = parse(text);
    ASSERT_EQ(conn->readConnectOptions(W(text.c_str()), SQL_NTS, parser.get(), 0), 0);
    ASSERT_NE(conn->profilePathW, nullptr);
    EXPECT_EQ(conn->workarounds, 9u);
    Found f = lookup(parser.get(), u"WA", u"WORKAROUNDS");
    EXPECT_EQ(f.source, kBaseOptFromProfile);

    // A profile that does not exist fails the reading.
    std::u16string missing = u"DSN=sales;PN=absent;PD=" + katest::widen(dir);
    auto other = parse(missing);
    EXPECT_EQ(conn->readConnectOptions(W(missing.c_str()), SQL_NTS, other.get(), 0), 1);
    ASSERT_GE(scope.size(), 1u);
    EXPECT_EQ(scope.at(scope.size() - 1)->nativeCode, MSG_PROFILE_NOT_FOUND);
}

TEST_F(Options, StoredValuesAreDecodedWhereAskedAndLongValuesTakenAsTheyStand)
{
    std::string stored = storedForm(u"s3cr;t}");
    writeIni("odbc.ini", "[sales]\nDriver=D\nProxyPassword=" + stored + "\nPWD=" + stored + "\n");
    ASSERT_EQ(conn->checkDataSource(W(u"sales")), 0);
    katest::DiagScope scope;
    EXPECT_EQ(lookup(nullptr, nullptr, u"ProxyPassword", nullptr, 1).value, u"s3cr;t}");
    EXPECT_EQ(katest::narrow(lookup(nullptr, nullptr, u"ProxyPassword", nullptr, 0).value), stored);

    // The password read for a connect is decoded into its holder.
    int32_t source = -1;
    ASSERT_EQ(conn->readCredentialOption(nullptr, W(u"PWD"), W(u"PWD"), nullptr, conn->password, &source), 0);
    EXPECT_EQ(source, kBaseOptFromDataSource);
    KaMemoryBuffer plain;
    plain.state = KA_MEMBUF_PLAIN;
    ASSERT_EQ(conn->getPassword(plain), 0);
    EXPECT_EQ(u16(plain.data), u"s3cr;t}");

    // Bad hexadecimal text fails the lookup.
    writeIni("odbc.ini", "[sales]\nDriver=D\nProxyPassword=@01#$ZZZZZZZZZZZZZZZZ\n");
    EXPECT_EQ(lookup(nullptr, nullptr, u"ProxyPassword", nullptr, 1).rc, 1);
    EXPECT_EQ(scope.size() >= 1u, true);
}

TEST_F(Options, AStoredPasswordIsHandedOutDecodedWhereverItCameFrom)
{
    // The data source keeps the password encoded; an application may copy
    // that text into its connection string or SQLConnect's argument.
    const std::u16string secret = u"pa$$;w0rd}";
    const std::string stored = storedForm(secret);
    writeIni("odbc.ini", "[sales]\nDriver=D\nPWD=" + stored + "\n");
    ASSERT_EQ(conn->checkDataSource(W(u"sales")), 0);
    const std::u16string storedW(stored.begin(), stored.end());

    struct Case {
        const char* name;
        const char16_t* connectString;  // read with a parser when set
        std::u16string argument;        // else set as SQLConnect's password
        std::u16string expected;
    };
    const Case cases[] = {
        {"odbc.ini", nullptr, u"", secret},
        {"connection string", u"", u"", secret},
        {"SQLConnect argument", nullptr, storedW, secret},
        {"the bare prefix", nullptr, u"@01#$", u"@01#$"},
        {"a plain password", nullptr, u"@01#hunter2", u"@01#hunter2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        conn->password.clear();
        if (c.connectString != nullptr) {
            auto parser = parse(u"DSN=sales;PWD=" + storedW);
            ASSERT_EQ(conn->readCredentialOption(parser.get(), W(u"PWD"), W(u"PWD"), nullptr, conn->password, nullptr),
                      0);
        } else if (!c.argument.empty()) {
            ASSERT_EQ(conn->setPassword(W(c.argument.c_str()), SQL_NTS), 0);
        } else {
            ASSERT_EQ(conn->readCredentialOption(nullptr, W(u"PWD"), W(u"PWD"), nullptr, conn->password, nullptr), 0);
        }
        KaMemoryBuffer plain;
        plain.state = KA_MEMBUF_PLAIN;
        ASSERT_EQ(conn->getPassword(plain), 0);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(plain.data), plain.length), c.expected);
    }

    // An encoded text that does not decode is refused, and nothing of it
    // is handed out.
    katest::DiagScope scope;
    ASSERT_EQ(conn->setPassword(W(u"@01#$00ZZ1122"), SQL_NTS), 0);
    KaMemoryBuffer plain;
    plain.state = KA_MEMBUF_PLAIN;
    EXPECT_EQ(conn->getPassword(plain), 1);
    EXPECT_EQ(plain.data, nullptr);
    EXPECT_GE(scope.size(), 1u);
}

TEST_F(Options, TheOptionTableRefusesWhatItMust)
{
    struct Case {
        const char16_t* string;
        uint16_t message;  // the last diagnostic's; 0 succeeds
    };
    const Case cases[] = {
        {u"WA=", MSG_NUMBER_INVALID_CHARACTER},
        {u"WA=18446744073709551616", MSG_NUMBER_OUT_OF_RANGE},
        {u"XO=1", MSG_UNUSED_CONNECTION_ATTRIBUTE},
        {u"MXPS=1;MNPS=2", MSG_POOL_SIZE_INVALID},
        {u"WA=1;WORKAROUNDS=2", MSG_SYNTAX_ERROR_AT},
        {u"EM=3", MSG_ENCRYPTION_METHOD_INVALID},
        {u"EM=1;CPV=TLSV1.2,TLSV1", MSG_CRYPTO_PROTOCOLS_NOT_CONTIGUOUS},
        {u"EM=1;CPV=TLSV9", MSG_CRYPTO_PROTOCOL_INVALID},
        {u"EM=1;CPV=", MSG_CRYPTO_PROTOCOL_INVALID},
        {u"PXM=2", MSG_PROXY_MODE_INVALID},
        {u"PXM=1;PXPT=8080", MSG_PROXY_HOST_MISSING},
        {u"PXM=1;PXHN=proxy", MSG_PROXY_PORT_MISSING},
        {u"BLFD=ab", MSG_BULK_FIELD_DELIMITER_INVALID},
        {u"BLRD=ab", MSG_BULK_RECORD_DELIMITER_INVALID},
        {u"BLRD=", MSG_BULK_RECORD_DELIMITER_INVALID},
        {u"PXM=1;PXHN=proxy;PXPT=8080", 0},
        {u"WA=1;WORKAROUNDS=1", 0},
        {u"EM=1;CPV=tlsv1.1,TLSV1.2", 0},
    };
    conn->allowedEncryptionMethods = 1u << 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(std::u16string(c.string)));
        katest::DiagScope scope;
        auto parser = parse(c.string);
        int16_t rc = conn->readConnectOptions(W(c.string), SQL_NTS, parser.get(), 0);
        EXPECT_EQ(rc, c.message == 0 ? 0 : 1);
        if (c.message != 0) {
            ASSERT_GE(scope.size(), 1u);
            KaError* last = scope.list.last();
            EXPECT_EQ(last->nativeCode, c.message) << scope.text(scope.size() - 1);
        }
    }
}

TEST_F(Options, ProtocolListsGivePrimaryAndFallbackExclusions)
{
    conn->allowedEncryptionMethods = 1u << 1;
    struct Case {
        const char16_t* string;
        uint32_t primary;
        uint32_t fallback;
        int32_t explicitly;
    };
    const Case cases[] = {
        // Two protocols: the highest is offered first, the other after.
        {u"EM=1;CPV=TLSV1.1,TLSV1.2", 0x37000000, 0x2F000000, 1},
        // One protocol: nothing to fall back to.
        {u"EM=1;CPV=TLSV1.2", 0x37000000, 0x37000000, 1},
        // The default list, not given: no fallback is allowed to be used.
        {u"EM=1", 0x37000000, 0x2B000000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(std::u16string(c.string)));
        katest::DiagScope scope;
        auto parser = parse(c.string);
        conn->tlsProtocols = 0;
        ASSERT_EQ(conn->readConnectOptions(W(c.string), SQL_NTS, parser.get(), 0), 0);
        EXPECT_EQ(conn->tlsProtocols & kBaseTlsProtocolMask, c.primary);
        EXPECT_EQ(conn->tlsFallbackProtocols & kBaseTlsProtocolMask, c.fallback);
        EXPECT_EQ(conn->cryptoProtocolExplicit, c.explicitly);
    }
}

TEST_F(Options, NumbersAreBoundedAndConvertedAsTheTableSays)
{
    katest::DiagScope scope;
    const char16_t* text = u"SMRS=100;SSBS=99999999;SRBS=x;BLRD=\\n;BBT=2;BCT=-1;TSP= pw;VT=100;"
                           u"MINLVS=0;GDL=3";
    auto parser = parse(text);
    ASSERT_EQ(conn->readConnectOptions(W(text), SQL_NTS, parser.get(), 0), 0);
    EXPECT_EQ(conn->maxReadSize, 8192);
    EXPECT_EQ(conn->sendBufferSize, 8388608);
    // A lenient number that does not read takes its default quietly.
    EXPECT_EQ(conn->receiveBufferSize, 0);
    EXPECT_EQ(scope.size(), 0u) << scope.text(0);
    EXPECT_EQ(conn->bulkRecordDelimiter, 10);
    EXPECT_EQ(conn->bulkBinaryThreshold, 2048);
    EXPECT_EQ(conn->bulkCharacterThreshold, -1);
    ASSERT_NE(conn->trustStorePassword, nullptr);
    EXPECT_STREQ(conn->trustStorePassword, "pw");
    EXPECT_EQ(conn->varcharThreshold, 100u);
    EXPECT_EQ(conn->wvarcharThreshold, 100u);
    EXPECT_EQ(conn->minLongVarcharSize, -1);
    EXPECT_EQ(conn->getDataLength, 0);

    auto plain = parse(u"SMRS=0");
    ASSERT_EQ(conn->readConnectOptions(W(u"SMRS=0"), SQL_NTS, plain.get(), 0), 0);
    EXPECT_EQ(conn->maxReadSize, 0);
    EXPECT_EQ(conn->varcharThreshold, UINT32_MAX);
    EXPECT_EQ(conn->trustStorePassword, nullptr);
}

// Options that size memory or a number of connections: a value past the
// bound is brought to it with 01S02 naming the keyword and the value used,
// one that is not a number of the option's width is refused, and none of
// them reaches an allocation unchecked.
TEST_F(Options, SizingOptionsAreHeldToTheirBoundsWithADiagnostic)
{
    struct Case {
        const char16_t* string;
        int16_t rc;
        uint16_t message;  // the last diagnostic's; 0 none
        int64_t (*field)(BaseConnection*);
        int64_t expected;  // checked when the reading succeeded
    };
    auto maxPool = [](BaseConnection* c) -> int64_t { return c->maxPoolSize; };
    auto minPool = [](BaseConnection* c) -> int64_t { return c->minPoolSize; };
    auto cache = [](BaseConnection* c) -> int64_t { return static_cast<int64_t>(c->failoverCacheSize); };
    const int64_t poolLimit = kBasePoolSizeLimit;
    const auto cacheLimit = static_cast<int64_t>(kBaseFailoverCacheLimit);
    const Case cases[] = {
        {u"MXPS=100", 0, 0, maxPool, 100},
        {u"MXPS=0", 0, MSG_OPTION_VALUE_LIMITED, maxPool, 1},
        {u"MXPS=-1", 1, MSG_POOL_SIZE_INVALID, maxPool, 0},
        {u"MXPS=2147483647", 0, MSG_OPTION_VALUE_LIMITED, maxPool, poolLimit},
        {u"MXPS=4294967295", 0, MSG_OPTION_VALUE_LIMITED, maxPool, poolLimit},
        {u"MXPS=384307168202282326", 0, MSG_OPTION_VALUE_LIMITED, maxPool, poolLimit},
        {u"MXPS=9223372036854775807", 0, MSG_OPTION_VALUE_LIMITED, maxPool, poolLimit},
        {u"MXPS=18446744073709551615", 1, MSG_NUMBER_OUT_OF_RANGE, maxPool, 0},
        {u"MXPS=lots", 1, MSG_NUMBER_INVALID_CHARACTER, maxPool, 0},
        {u"MNPS=0", 0, 0, minPool, 0},
        {u"MNPS=-1", 0, MSG_OPTION_VALUE_LIMITED, minPool, 0},
        {u"MNPS=2147483647", 1, MSG_POOL_SIZE_INVALID, minPool, 0},
        {u"MXPS=9223372036854775807;MNPS=9223372036854775807", 0, MSG_OPTION_VALUE_LIMITED, minPool, poolLimit},
        {u"MXPS=4294967295;MNPS=4294967295", 0, MSG_OPTION_VALUE_LIMITED, minPool, poolLimit},
        {u"MNPS=lots", 1, MSG_NUMBER_INVALID_CHARACTER, minPool, 0},
        {u"FCS=0", 0, 0, cache, 0},
        {u"FCS=-1", 0, 0, cache, 100},
        {u"FCS=4294967295", 0, MSG_OPTION_VALUE_LIMITED, cache, cacheLimit},
        {u"FCS=18446744073709551615", 0, MSG_OPTION_VALUE_LIMITED, cache, cacheLimit},
        {u"FCS=lots", 0, 0, cache, 100},
    };
    conn->failoverSupported = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(std::u16string(c.string)));
        katest::DiagScope scope;
        auto parser = parse(c.string);
        EXPECT_EQ(conn->readConnectOptions(W(c.string), SQL_NTS, parser.get(), 0), c.rc);
        if (c.message == 0) {
            EXPECT_EQ(scope.size(), 0u) << scope.text(0);
        } else {
            ASSERT_GE(scope.size(), 1u);
            EXPECT_EQ(scope.list.last()->nativeCode, c.message) << scope.text(scope.size() - 1);
        }
        if (c.message == MSG_OPTION_VALUE_LIMITED) {
            size_t last = scope.size() - 1;
            EXPECT_TRUE(scope.warning(last));
            EXPECT_EQ(scope.index(last), MSG_SQLSTATE_OPTION_CHANGED);
            std::string text = scope.text(last);
            EXPECT_NE(text.find(std::to_string(c.expected) + " is used"), std::string::npos) << text;
        }
        if (c.rc == 0) {
            EXPECT_EQ(c.field(conn), c.expected);
        }
    }
}

TEST_F(Options, AutoTuneLimitsLongDataDescriptorsOnlyUnderItsHostProgram)
{
    // The process takes the name of the program under test, as the system
    // reports it, and gets its own back afterwards.
    char own[16] = {};
    ASSERT_EQ(prctl(PR_GET_NAME, own), 0);
    struct Case {
        const char* program;
        const char16_t* text;
        int64_t limit;
    };
    const Case cases[] = {
        {"tabprotosrv", u"AT=1", -32000},
        {"TabProtoSrv64", u"AutoTune=1", -32000},
        {"tabprotosrv", u"AT=0", 0},
        {"tabprotosrv", u"AT=1;LDDL=500", 500},
        {"tabprotosrv", u"AT=1;LDDL=", 0},
        {"tabprotos", u"AT=1", 0},
        {"isql", u"AT=1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + katest::narrow(c.text));
        ASSERT_EQ(prctl(PR_SET_NAME, c.program), 0);
        katest::DiagScope scope;
        auto parser = parse(c.text);
        EXPECT_EQ(conn->readConnectOptions(W(c.text), SQL_NTS, parser.get(), 0), 0);
        EXPECT_EQ(conn->longDataDescriptorLimit, c.limit);
        EXPECT_EQ(scope.size(), 0u) << scope.text(0);
    }
    ASSERT_EQ(prctl(PR_SET_NAME, own), 0);
}

TEST_F(Options, AnApplicationWithoutThreadsSwitchesTheHandleLockingOff)
{
    katest::DiagScope scope;
    auto parser = parse(u"AUT=1");
    ASSERT_EQ(conn->readConnectOptions(W(u"AUT=1"), SQL_NTS, parser.get(), 0), 0);
    EXPECT_FALSE(handle->lockingOff());
    auto off = parse(u"AUT=0;TCA=threadperconnection");
    ASSERT_EQ(conn->readConnectOptions(W(u"AUT=0;TCA=threadperconnection"), SQL_NTS, off.get(), 0), 0);
    EXPECT_EQ(conn->threadModel, kBaseThreadPerConnection);
    EXPECT_TRUE(handle->lockingOff());
}

TEST_F(Options, CompletedStringBracesCredentialsSoTheyCannotAddAttributes)
{
    katest::DiagScope scope;
    const char16_t* secret = u"a;DRIVER=evil;b}c{d";
    ASSERT_EQ(conn->setUserId(W(u"me"), SQL_NTS), 0);
    ASSERT_EQ(conn->setPassword(W(secret), SQL_NTS), 0);
    ASSERT_EQ(conn->setDsnName(W(u"sales")), 0);
    auto parser = parse(u"HOST=h");
    KaStringWEx out;
    ASSERT_EQ(conn->buildOutConnectString(out, parser.get()), 0);
    std::u16string text = u16(out.data, out.len);
    EXPECT_EQ(text, u"HOST=h;DSN=sales;UID=me;PWD={a;DRIVER=evil;b}}c{d};");
    // Parsed back, the string gives the same values and nothing more.
    auto back = parse(text);
    EXPECT_FALSE(back->hasKey(W(u"DRIVER")));
    int found = 0;
    KaMemoryBuffer holder;
    ASSERT_EQ(back->getSecret(W(u"PWD"), &found, holder), 0);
    ASSERT_EQ(found, 1);
    KaMemoryBuffer plain;
    plain.state = KA_MEMBUF_PLAIN;
    BaseScopedKey key(conn->connectionKey);
    ASSERT_EQ(plain.decryptFrom(holder, key.get()), 0);
    EXPECT_EQ(u16(plain.data), secret);
}

TEST(OptionHelpers, DelimitersKeywordListsAndRuns)
{
    struct Delim {
        const char16_t* text;
        uint16_t expected;
    };
    const Delim delims[] = {{u",", ','},  {u"\\n", 10}, {u"\\t", 9}, {u"\\f", 12}, {u"\\r", 13},
                            {u"\\v", 11}, {u"ab", 0},   {u"", 0},    {u"\\x", 0}};
    for (const Delim& d : delims)
        EXPECT_EQ(delimiterFromOption(W(d.text)), d.expected) << katest::narrow(std::u16string(d.text));

    const char* names[] = {"A", "BB", "C"};
    uint8_t flags[3] = {};
    const char* us = nullptr;
    const char* ue = nullptr;
    EXPECT_EQ(parseKeywordList(flags, " ( BB , C )", names, 3, nullptr, &us, &ue), 1);
    EXPECT_EQ(flags[0] + 10 * flags[1] + 100 * flags[2], 110);
    EXPECT_EQ(us, nullptr);
    EXPECT_EQ(parseKeywordList(flags, "A,X y,C", names, 3, nullptr, &us, &ue), 0);
    ASSERT_NE(us, nullptr);
    EXPECT_EQ(std::string(us, ue), "X y");
    const uint8_t defaults[3] = {1, 0, 1};
    parseKeywordList(flags, "", names, 3, defaults, &us, &ue);
    EXPECT_EQ(flags[0] + 10 * flags[1] + 100 * flags[2], 101);
    char out[16];
    EXPECT_EQ(buildKeywordList(out, sizeof out, flags, names, 3, 1), 5u);
    EXPECT_STREQ(out, "(A,C)");
    EXPECT_EQ(buildKeywordList(out, 4, flags, names, 3, 1), 0u);
    EXPECT_FALSE(flagsContiguous(flags, 3));
    const uint8_t run[5] = {0, 1, 1, 1, 0};
    EXPECT_TRUE(flagsContiguous(run, 5));
    char methods[32];
    encryptionMethodList(methods, sizeof methods, 0x2 | 0x40);
    EXPECT_STREQ(methods, "0, 1, 6");

    // A text without the stored prefix is left alone.
    uint16_t plain[] = {'a', 'b', 0};
    int64_t length = -1;
    EXPECT_EQ(decodeStoredOptionValue(plain, &length), 0);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(plain[0], 'a');
}

}  // namespace

namespace {

using Kw = BaseKeyword<BaseConnection>;
using K = BaseKwKind;

// Reads the row after it and stores both numbers' sum; fails on a sum of 0.
bool sumWithNext(BaseConnection& c, BaseOptionReader& r, const Kw* row) noexcept
{
    uint32_t a = 0;
    uint32_t b = 0;
    if (!row->get(r) || !r.number(&a) || !row[1].get(r) || !r.number(&b))
        return false;
    c.proxyPort = a + b;
    return c.proxyPort != 0;
}

// One row of each kind, over fields of several widths.
const Kw kTestKeywords[] = {
    {u"TestExact", u"TEX", u"0", K::Exact1, &BaseConnection::modifySql},
    {u"TestFirst", u"TFI", u"1", K::First1, &BaseConnection::failoverPreconnect},
    {u"TestNotZero", u"TNZ", nullptr, K::Not0, &BaseConnection::timestampTruncationBehavior},
    {u"TestNumber", u"TNU", u"0", K::Number, &BaseConnection::workarounds2},
    {u"TestLenient", u"TLE", u"5", K::Lenient, &BaseConnection::sendBufferSize, nullptr, nullptr, 7},
    {u"TestFlag16", u"TFL", u"0", K::U16Flag, &BaseConnection::keepAlive},
    {u"TestWide", u"TWI", nullptr, K::Wide, &BaseConnection::initializationString, nullptr, nullptr, 0, kBaseKwTrim},
    {u"TestNarrow", u"TNA", nullptr, K::Narrow, &BaseConnection::proxyHost, nullptr, nullptr, 0, kBaseKwNonEmpty},
    {u"TestSecret", u"TSE", nullptr, K::Secret, &BaseConnection::trustStorePassword},
    // Read only while TestExact is off.
    {u"TestWhen", u"TWH", u"1", K::Exact1, &BaseConnection::pooling, nullptr,
     [](const BaseConnection& c) noexcept { return c.modifySql == 0; }},
    {u"TestOwn", u"TOW", u"3", K::Own, {}, sumWithNext},
    {u"TestListed", u"TLI", u"4", K::Listed},
    {u"TestLast", u"TLA", u"1", K::Exact1, &BaseConnection::connectionReset},
};

TEST_F(Options, AKeywordTableIsReadRowByRowByKind)
{
    // Fields a row does not reach keep these.
    constexpr int32_t kUnread = -7;
    constexpr uint64_t kAny = UINT64_MAX;  // not checked
    struct Case {
        const char16_t* string;
        bool ok;
        size_t diagnostics;
        int32_t exact;
        int32_t first;
        int32_t notZero;
        uint64_t number;
        int64_t lenient;
        int32_t flag16;
        const char* wide;  // null: none
        const char* narrow;
        const char* secret;
        int32_t when;
        int32_t sum;
        int32_t last;
    };
    const Case cases[] = {
        // Every default.
        {u"X=1", true, 0, 0, 1, 1, 0, 5, 0, nullptr, nullptr, nullptr, 1, 7, 1},
        {u"TEX=1;TFI=2;TNZ=0;TNU=12;TLE=9;TFL=2;TWI=a b  ;TNA=n;TSE= pw;TOW=1;TLI=1;TLA=0", true, 0, 1, 0, 0, 12, 9, 1,
         "a b", "n", "pw", kUnread, 2, 0},
        // Long keywords, and values that count by their first character.
        {u"TestExact=10;TestFirst=12;TestNotZero=;TestWhen=0", true, 0, 0, 1, 1, 0, 5, 0, nullptr, nullptr, nullptr, 0,
         7, 1},
        // Empty narrow text stays null, empty wide text does not; bad
        // lenient text takes the row's fallback and says nothing.
        {u"TNA=;TLE=x;TWI=", true, 0, 0, 1, 1, 0, 7, 0, "", nullptr, nullptr, 1, 7, 1},
        // A strict number that does not read stops the walk there, its
        // diagnostic kept.
        {u"TNU=x;TLA=0", false, 1, 0, 1, 1, kAny, kUnread, kUnread, nullptr, nullptr, nullptr, kUnread, kUnread,
         kUnread},
        {u"TFL=70000", false, 1, 0, 1, 1, 0, 5, kUnread, nullptr, nullptr, nullptr, kUnread, kUnread, kUnread},
        // So does a hook that fails.
        {u"TOW=0;TLI=0;TLA=0", false, 0, 0, 1, 1, 0, 5, 0, nullptr, nullptr, nullptr, 1, 0, kUnread},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(std::u16string(c.string)));
        conn->modifySql = kUnread;
        conn->failoverPreconnect = 99;
        conn->timestampTruncationBehavior = 99;
        conn->sendBufferSize = kUnread;
        conn->keepAlive = kUnread;
        conn->pooling = kUnread;
        conn->proxyPort = uint32_t(kUnread);
        conn->connectionReset = kUnread;
        for (char** text : {&conn->proxyHost, &conn->trustStorePassword}) {
            ramFree(*text);
            *text = nullptr;
        }
        ramFree(conn->initializationString);
        conn->initializationString = nullptr;
        katest::DiagScope scope;
        auto parser = parse(c.string);
        BaseOptionReader r(conn, parser.get());
        EXPECT_EQ(baseReadKeywords(*conn, r, kTestKeywords), c.ok);
        EXPECT_EQ(scope.size(), c.diagnostics);
        EXPECT_EQ(conn->modifySql, c.exact);
        EXPECT_EQ(conn->failoverPreconnect, c.first);
        EXPECT_EQ(int32_t(conn->timestampTruncationBehavior), c.notZero);
        if (c.number != kAny) {
            EXPECT_EQ(conn->workarounds2, c.number);
        }
        EXPECT_EQ(conn->sendBufferSize, c.lenient);
        EXPECT_EQ(conn->keepAlive, c.flag16);
        auto text = [](const auto* value) {
            return value != nullptr ? std::optional(katest::narrow(u16(value))) : std::nullopt;
        };
        auto expected = [](const char* value) {
            return value != nullptr ? std::optional(std::string(value)) : std::nullopt;
        };
        EXPECT_EQ(text(conn->initializationString), expected(c.wide));
        EXPECT_EQ(conn->proxyHost != nullptr ? std::optional(std::string(conn->proxyHost)) : std::nullopt,
                  expected(c.narrow));
        EXPECT_EQ(conn->trustStorePassword != nullptr ? std::optional(std::string(conn->trustStorePassword))
                                                      : std::nullopt,
                  expected(c.secret));
        EXPECT_EQ(conn->pooling, c.when);
        EXPECT_EQ(int32_t(conn->proxyPort), c.sum);
        EXPECT_EQ(conn->connectionReset, c.last);
    }
}

}  // namespace
