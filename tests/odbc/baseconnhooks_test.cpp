// The physical connection's driver hooks that the framework answers itself:
// what each base form gives and posts, the column sizes catalog results
// report, and that the framework's callers (the escape walk and SQLNativeSql,
// the reset of a pooled connection) reach a driver's overrides.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/kaarray.h"
#include "foundation/kastring.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/kavalueparser.h"
#include "sql/basesql.h"
#include "sql/escape.h"
#include "support/connfixture.h"
#include "support/diagscope.h"
#include "support/testconnection.h"
#include "support/teststatement.h"
#include "convert/basecvt.h"

namespace {

using katest::u16;
using katest::W;

// What a driver could do with the hooks, switched on per test.
struct HookScript {
    bool ownEscapes = false;     // translateEscape writes "<fn>"
    bool ownDispatch = false;    // dispatchEscape writes "<kind N>" for every clause
    bool upperLiterals = false;  // fixQuotedLiterals turns the text to upper case
    int16_t resetAnswer = 0;     // what resetHook answers
    int32_t convertAnswer = 0;   // what convertHook answers
    std::vector<int16_t> convertAsked;
    int resetCalls = 0;
    std::vector<int32_t> kinds;  // the kinds translateEscape was asked
};
HookScript gScript;

class HookConnection : public katest::TestConnection {
public:
    HookConnection(BaseEnv* env, katest::TestConnectionControl* control) noexcept : TestConnection(env, control) {}

    int16_t translateEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind, uint32_t code) noexcept override
    {
        if (!gScript.ownEscapes)
            return TestConnection::translateEscape(body, out, kind, code);
        gScript.kinds.push_back(kind);
        return out.append(katest::W(u"<fn>"), 4) != 0 ? 1 : 0;
    }
    int16_t dispatchEscape(KaEscapeHost& host, const KaEscapeBody& body, KaStringW& out, EscapeKind kind,
                           uint32_t code) noexcept override
    {
        if (!gScript.ownDispatch)
            return TestConnection::dispatchEscape(host, body, out, kind, code);
        std::u16string text = u"<kind " + std::u16string(1, char16_t(u'0' + kind % 10)) + u">";
        return out.append(katest::W(text.c_str()), text.size()) != 0 ? 1 : 0;
    }
    int32_t convertHook(int16_t sqlType) noexcept override
    {
        gScript.convertAsked.push_back(sqlType);
        return gScript.convertAnswer;
    }
    int16_t fixQuotedLiterals(uint16_t* text, int64_t units) noexcept override
    {
        if (!gScript.upperLiterals)
            return TestConnection::fixQuotedLiterals(text, units);
        for (int64_t i = 0; i < units; ++i)
            if (text[i] >= u'a' && text[i] <= u'z')
                text[i] = uint16_t(text[i] - u'a' + u'A');
        return 0;
    }
    int16_t resetHook() noexcept override
    {
        ++gScript.resetCalls;
        if (gScript.resetAnswer != 0)
            basePostError(kBaseIdxGeneralError);
        return gScript.resetAnswer;
    }
};

using HookEnv = katest::TestEnvOf<HookConnection>;

class ConnectionHooks : public katest::ConnectedFixture<HookEnv> {
protected:
    void SetUp() override
    {
        gScript = HookScript{};
        ConnectedFixture::SetUp();
    }

    // SQLNativeSql's answer for the text, or the SQLSTATE and message of
    // its failure as "!STATE message".
    std::string nativeSql(const char16_t* in)
    {
        uint16_t out[256];
        out[255] = 0xBEEF;  // guard
        int32_t length = -1;
        int16_t rc = conn->nativeSql(W(in), SQL_NTS, out, 255, &length);
        EXPECT_EQ(out[255], 0xBEEF);
        if (rc == SQL_SUCCESS)
            return katest::narrow(u16(out));
        BaseErrorList& list = handle->diagnostics;
        if (list.recordCount() == 0)
            return "!no diagnostic";
        KaError* rec = list.getRecord(1);
        return "!" + katest::sqlstate(rec) + " " + katest::messageText(rec);
    }
};

// One base form: how it is asked, what it answers, and the SQLSTATE it
// posts ("" for none).
struct DefaultCase {
    const char* hook;
    std::function<int64_t(BaseConnection&)> call;
    int64_t answer;
    const char* sqlstate;
};

TEST_F(ConnectionHooks, EachBaseFormAnswersAndPostsAsTheFrameworkExpects)
{
    const KaEscapeBody body{W(u"ucase('a')"), 10};
    const DefaultCase cases[] = {
        {"readDriverOptionsA", [](BaseConnection& c) { return c.readDriverOptionsA(nullptr, nullptr); }, 1, "HY000"},
        {"connectWithAttrsA",
         [](BaseConnection& c) { return c.connectWithAttrsA(nullptr, SQL_DRIVER_NOPROMPT, nullptr); }, 1, "HY000"},
        {"translateEscape",
         [&](BaseConnection& c) {
             KaStringW out;
             return c.translateEscape(body, out, KA_ESC_FUNCTION, 0);
         },
         1, "HY000"},
        {"translateEscapeA",
         [](BaseConnection& c) {
             KaString out;
             return c.translateEscapeA("ucase('a')", 10, out, KA_ESC_FUNCTION, 0);
         },
         1, "HY000"},
        {"openBrowsedA: its narrow option hook refuses", [](BaseConnection& c) { return c.openBrowsedA(nullptr); }, 1,
         "HY000"},
        {"convertHook", [](BaseConnection& c) { return c.convertHook(SQL_BINARY); }, 0, ""},
        {"browseAttrHook",
         [](BaseConnection& c) {
             KaStringW out;
             int64_t rc = c.browseAttrHook(W(u"HOST"), out, nullptr, 0);
             return out.len == 0 ? rc : -99;
         },
         0, ""},
        {"promptHookA clears the cancel flag",
         [](BaseConnection& c) {
             int32_t cancelled = 7;
             int64_t rc = c.promptHookA(nullptr, SQL_DRIVER_NOPROMPT, &cancelled, nullptr);
             return cancelled == 0 ? rc : -99;
         },
         0, ""},
        {"optionSourceHookA", [](BaseConnection& c) { return c.optionSourceHookA() == nullptr ? 0 : -99; }, 0, ""},
        {"columnsHook is never asked: it complains but answers 0", [](BaseConnection& c) { return c.columnsHook(); }, 0,
         "HY000"},
        {"defaultSendBufferSize", [](BaseConnection& c) { return c.defaultSendBufferSize(); }, -1, ""},
        {"defaultReceiveBufferSize", [](BaseConnection& c) { return c.defaultReceiveBufferSize(); }, -1, ""},
        {"statementFailoverHook", [](BaseConnection& c) { return c.statementFailoverHook(nullptr); }, 0, ""},
        {"addResourceString gives no id",
         [](BaseConnection& c) {
             uint32_t id = 65000;
             int64_t rc = c.addResourceString(W(u"text"), &id);
             return id == 0 ? rc : -99;
         },
         1, "HY000"},
        {"fixQuotedLiterals leaves the text",
         [](BaseConnection& c) {
             std::u16string text = u"'it''s'";
             int64_t rc =
                 c.BaseConnection::fixQuotedLiterals(reinterpret_cast<uint16_t*>(text.data()), int64_t(text.size()));
             return text == u"'it''s'" ? rc : -99;
         },
         0, ""},
        {"columnsWideTypes keeps wide types wide",
         [](BaseConnection& c) { return c.columnsWideTypes(0, W(u"string")); }, 1, ""},
        {"typeInfoHook leaves the rows",
         [](BaseConnection& c) {
             KaSortedArray rows;
             int64_t rc = c.typeInfoHook(&rows, SQL_ALL_TYPES);
             return rows.count == 0 ? rc : -99;
         },
         0, ""},
        {"reservedHook", [](BaseConnection& c) { return c.reservedHook(); }, 0, ""},
    };
    for (const DefaultCase& c : cases) {
        SCOPED_TRACE(c.hook);
        katest::DiagScope diags(conn);
        EXPECT_EQ(c.call(*conn), c.answer);
        if (c.sqlstate[0] == 0) {
            EXPECT_EQ(diags.size(), 0u);
            continue;
        }
        ASSERT_EQ(diags.size(), 1u);
        EXPECT_EQ(katest::sqlstate(diags.at(0)), c.sqlstate);
        EXPECT_FALSE(diags.warning(0));
    }
}

TEST_F(ConnectionHooks, ARefusedResourceStringAndEscapeSayWhatWasRefused)
{
    {
        katest::DiagScope diags(conn);
        uint32_t id = 1;
        ASSERT_EQ(conn->addResourceString(W(u"text"), &id), 1);
        ASSERT_EQ(diags.size(), 1u);
        const std::string text = diags.text(0);
        EXPECT_EQ(text.substr(text.size() - 18), " addResourceString") << text;
    }
    katest::DiagScope diags(conn);
    KaStringW out;
    ASSERT_EQ(conn->translateEscape(KaEscapeBody{W(u"x"), 1}, out, KA_ESC_FUNCTION, 0), 1);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags.at(0)->nativeCode, MSG_ESCAPE_NO_SERVER_FORM);
    EXPECT_EQ(out.len, 0u);
}

// COLUMN_SIZE by type: fixed sizes for the numeric and date types, binary
// or decimal precision for the floating types, a BIGINT by its qualifier,
// the stored size for the rest.
TEST_F(ConnectionHooks, TypeColumnSizeGivesTheFixedSizesAndTheStoredOneForTheRest)
{
    struct Case {
        int16_t type;
        int32_t size;
        int32_t qualifier;
        int32_t binary;
        int32_t expected;
    };
    const Case cases[] = {
        {SQL_INTEGER, 99, 2, 1, 10}, {SQL_TYPE_DATE, 99, 2, 1, 10},      {SQL_SMALLINT, 99, 2, 1, 5},
        {SQL_FLOAT, 99, 2, 1, 53},   {SQL_FLOAT, 99, 2, 0, 15},          {SQL_DOUBLE, 99, 2, 1, 53},
        {SQL_DOUBLE, 99, 2, 0, 15},  {SQL_REAL, 99, 2, 1, 24},           {SQL_REAL, 99, 2, 0, 7},
        {-150, 99, 2, 1, 8000},      {SQL_GUID, 99, 2, 1, 36},           {SQL_BIT, 99, 2, 1, 1},
        {SQL_TINYINT, 99, 2, 1, 3},  {SQL_BIGINT, 99, 2, 1, 99},         {SQL_BIGINT, 99, 0, 1, 19},
        {SQL_BIGINT, 99, 1, 1, 20},  {SQL_VARCHAR, 255, 0, 1, 255},      {SQL_WVARCHAR, 32767, 2, 0, 32767},
        {SQL_DECIMAL, 38, 2, 1, 38}, {SQL_TYPE_TIMESTAMP, 29, 2, 1, 29},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " qualifier " << c.qualifier << " binary " << c.binary);
        EXPECT_EQ(conn->typeColumnSize(c.type, c.size, W(u"name"), c.qualifier, c.binary), c.expected);
        EXPECT_EQ(baseTypeColumnSize(c.type, c.size, c.qualifier, c.binary), c.expected);
    }
}

TEST_F(ConnectionHooks, TheEscapeWalkHandsEachClauseToTheConnection)
{
    // Without a driver's translation a function escape is refused, and says
    // so; NATIVE and REFRESH are the framework's own.
    EXPECT_EQ(nativeSql(u"select {fn ucase('a')} from t"), "!HY000 The escape clause has no form the server accepts.")
        << "the catalogue text of the refusal";
    // The walk puts a blank where each clause stood; the parentheses of a
    // native clause become blanks too.
    EXPECT_EQ(nativeSql(u"select 1 from {native (t where x)}"), "select 1 from   t where x ");
    EXPECT_EQ(nativeSql(u"{refresh t}").substr(0, 7), "!42000 ");
    EXPECT_NE(nativeSql(u"{refresh t}").find("{REFRESH}"), std::string::npos);
    EXPECT_EQ(nativeSql(u"{native (a) b}").substr(0, 7), "!42000 ");

    gScript.ownEscapes = true;
    EXPECT_EQ(nativeSql(u"select {fn ucase('a')}, {d '2024-01-31'} from t"), "select  <fn>,  <fn> from t");
    EXPECT_EQ(gScript.kinds, (std::vector<int32_t>{KA_ESC_FUNCTION, KA_ESC_DATE}));
    // A driver that routes clauses itself sees the framework's own too.
    gScript.ownDispatch = true;
    EXPECT_EQ(nativeSql(u"{native (t)}"), " <kind " + std::to_string(KA_ESC_NATIVE % 10) + ">");
}

TEST_F(ConnectionHooks, NativeSqlRewritesLiteralsOnlyThroughTheConnectionsHook)
{
    // The framework's own form changes nothing (the Hive form rewrites).
    EXPECT_EQ(nativeSql(u"select 'it''s' from t"), "select 'it''s' from t");
    gScript.upperLiterals = true;
    EXPECT_EQ(nativeSql(u"select 'it''s' from t"), "SELECT 'IT''S' FROM T");
}

// The conversion engine lies below the connection: the settings a statement
// hands it must still lead to the driver's own hook.
TEST_F(ConnectionHooks, TheConversionEngineAsksTheConnectionsConvertHook)
{
    katest::TestStatement stmt(conn);
    BaseConvertSettings settings;
    baseConvertSettingsOf(&stmt, &settings);
    gScript.convertAnswer = 1;
    EXPECT_EQ(baseConvertHook(settings, SQL_INTEGER), 1);
    gScript.convertAnswer = 0;
    EXPECT_EQ(baseConvertHook(settings, SQL_DOUBLE), 0);
    EXPECT_EQ(gScript.convertAsked, (std::vector<int16_t>{SQL_INTEGER, SQL_DOUBLE}));
}

TEST_F(ConnectionHooks, AResetForReuseStartsWithTheDriversResetHook)
{
    conn->autocommit = SQL_AUTOCOMMIT_OFF;
    gScript.resetAnswer = 1;
    {
        katest::DiagScope diags(conn);
        EXPECT_EQ(conn->resetForReuse(), 1);
        EXPECT_EQ(gScript.resetCalls, 1);
        // Refused before anything was reset.
        EXPECT_EQ(conn->autocommit, SQL_AUTOCOMMIT_OFF);
        ASSERT_EQ(diags.size(), 1u);
        EXPECT_EQ(katest::sqlstate(diags.at(0)), "HY000");
    }
    gScript.resetAnswer = 0;
    katest::DiagScope diags(conn);
    EXPECT_EQ(conn->resetForReuse(), 0);
    EXPECT_EQ(gScript.resetCalls, 2);
    EXPECT_EQ(conn->autocommit, SQL_AUTOCOMMIT_ON);
}

}  // namespace
