// SQLBrowseConnect over the driver's attribute table, level by level, on the
// test connection with a scripted open: what each reply asks for, a changed
// earlier value, the password's level, a failed open and the completed
// string; and a driver whose hooks take 8-bit parsers.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/codepage.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseattrtable.h"
#include "odbc/baseconn.h"
#include "odbc/kavalueparser.h"
#include "support/guarded.h"
#include "support/iniconnection.h"
#include "support/testconnection.h"
#include "support/u16.h"

using katest::u16;
using katest::W;

namespace {

// Two levels: the server and the login first, a schema after the open.
constexpr BaseDriverAttr kBrowseAttrs[] = {
    {u"HostName", 1, kBaseAttrKindText, nullptr, nullptr, 0, u"HOST", 1, 0},
    {u"PortNumber", 2, kBaseAttrKindText, nullptr, nullptr, 0, u"PORT", 1, 0},
    {u"LogonID", 3, kBaseAttrKindText, nullptr, nullptr, 0, u"UID", 1, 0},
    {u"Database", 4, kBaseAttrKindList, u"a,b", nullptr, 0, u"DB", 1, 1},
    {u"Mode", 5, kBaseAttrKindText, nullptr, nullptr, 0, u"MODE", 1, 1},
    {u"Switch", 10, kBaseAttrKindList, u"0 - Off,1 - On", nullptr, 0, u"SW", 1, 1},
    {u"ExtendedOptions", 6, kBaseAttrKindText, nullptr, nullptr, 0, u"XO", 1, 1},
    {u"Schema", 7, kBaseAttrKindText, nullptr, nullptr, 0, u"SCH", 2, 0},
    {u"FetchSize", 8, kBaseAttrKindText, nullptr, nullptr, 0, u"", 2, 1},
    {u"Description", 9, kBaseAttrKindText, nullptr, nullptr, 0, u"", 0, 1},
};

// The reply to a browse that has nothing of the first level yet but the
// host, and the one after the open.
const std::u16string kFirstLevel =
    u"PORT:PortNumber=?;UID:LogonID=?;*DB:Database={a,b};*MODE:Mode={fast|safe};*SW:Switch={0 - Off,1 - On};"
    u"PWD:Password=?;";
const std::u16string kSecondLevel = u"SCH:Schema=?;*FetchSize=?;";

class BrowseConnection : public katest::TestConnection {
public:
    BrowseConnection(BaseEnv* env, katest::TestConnectionControl* control) noexcept : TestConnection(env, control)
    {
        driverAttrs = kBrowseAttrs;
        driverAttrCount = sizeof kBrowseAttrs / sizeof kBrowseAttrs[0];
        browsePasswordAsked = 1;
        browsePasswordRequired = 1;
        browsePasswordLevel = 1;
    }

    // The driver spells its own choices for one attribute.
    int16_t browseAttrHook(const uint16_t* shortKey, KaStringW& text, const BaseDriverAttr*, uint32_t) noexcept override
    {
        if (u16(shortKey) != u"MODE")
            return 0;
        return text.assign(katest::W(u"{fast|safe}")) == 0 ? 1 : -1;
    }
};

class Browse : public katest::IniConnectionTestOf<BrowseConnection> {
protected:
    void SetUp() override
    {
        // The default data source names the host only.
        setUpConnection("[ODBC Data Sources]\nDefault=TestDriver\n[Default]\nDriver=TestDriver\nHostName=dsnhost\n"
                        "[partial]\nDriver=TestDriver\nHostName=dsnhost\nPortNumber=4\n",
                        "[TestDriver]\nDriver=none\n");
    }

    int16_t browse(const std::u16string& in)
    {
        katest::Guarded<uint16_t> out(512);
        int16_t length = -1;
        int16_t rc = conn->browseConnect(W(in.c_str()), static_cast<int16_t>(in.size()), out.data(), 512, &length);
        EXPECT_TRUE(out.guardsIntact());
        outString = u16(out.data());
        EXPECT_EQ(length, static_cast<int16_t>(outString.size()));
        return rc;
    }

    struct Record {
        uint16_t state;
        bool warning;
        std::string text;
    };
    std::vector<Record> records()
    {
        std::vector<Record> seen;
        for (int64_t i = 1; i <= handle->diagnostics.diagCount(); ++i) {
            KaError* r = handle->diagnostics.getRecord(i);
            seen.push_back({r->sqlstateMsg, r->isWarning(), katest::narrow(u16(r->messageW()))});
        }
        return seen;
    }

    std::u16string outString;
};

// One call of a browse and what it must answer.
struct Step {
    std::u16string in;
    int16_t rc;
    std::u16string out;
};

struct BrowseCase {
    const char* name;
    std::vector<Step> steps;
    // What the opens were asked, host and port, in order.
    std::vector<std::u16string> opened;
};

TEST_F(Browse, EachCallAsksForWhatTheNextLevelStillNeeds)
{
    const BrowseCase cases[] = {
        // The data source gives the host; the rest of the first level is
        // asked, the required rows without "*".
        {"EmptyStringOnTheDefaultDataSource", {{u"", SQL_NEED_DATA, kFirstLevel}}, {}},
        {"NamedDataSourceGivesHostAndPort",
         {{u"DSN=partial", SQL_NEED_DATA,
           u"UID:LogonID=?;*DB:Database={a,b};*MODE:Mode={fast|safe};*SW:Switch={0 - Off,1 - On};PWD:Password=?;"}},
         {}},
        // Two calls give the first level, the open comes, then the second
        // level is asked and given.
        {"LevelByLevel",
         {{u"DRIVER=TestDriver;HOST=h", SQL_NEED_DATA, kFirstLevel},
          {u"PORT=2;UID=me;PWD={p;w}", SQL_NEED_DATA, kSecondLevel},
          {u"SCH=s", SQL_SUCCESS, u"DRIVER=TestDriver;HOST=h;PORT=2;UID=me;PWD={p;w};SCH=s;"}},
         {u"h:2", u"h:2"}},
        // An optional row given early is not asked again; one of the second
        // level given with the first is kept for it.
        {"LaterLevelGivenEarly",
         {{u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p;DB=a;SCH=s", SQL_SUCCESS,
           u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p;DB=a;SCH=s;"}},
         {u"h:1"}},
        // A value of the level already opened with, changed: a warning and
        // the same question again; the first value stays.
        {"ChangedEarlierValue",
         {{u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p", SQL_NEED_DATA, kSecondLevel},
          {u"host=other;SCH=s", SQL_NEED_DATA, kSecondLevel},
          {u"SCH=s", SQL_SUCCESS, u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p;SCH=s;"}},
         {u"h:1", u"h:1"}},
        // A list answered with one of its choices keeps the choice's value;
        // any other answer is kept as given.
        {"ListChoices",
         {{u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p;SW=1 - on;DB=c;SCH=s", SQL_SUCCESS,
           u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p;SW=1;DB=c;SCH=s;"}},
         {u"h:1"}},
        // Without the password nothing is opened.
        {"PasswordMissing",
         {{u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me", SQL_NEED_DATA,
           u"*DB:Database={a,b};*MODE:Mode={fast|safe};*SW:Switch={0 - Off,1 - On};PWD:Password=?;"}},
         {}},
    };
    for (const BrowseCase& c : cases) {
        SCOPED_TRACE(c.name);
        control.opens.clear();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(katest::narrow(c.steps[i].in));
            EXPECT_EQ(browse(c.steps[i].in), c.steps[i].rc);
            EXPECT_EQ(outString, c.steps[i].out);
            if (c.steps[i].rc == SQL_NEED_DATA) {
                EXPECT_EQ(outString.find(u"=p"), std::u16string::npos) << "a reply echoed a password";
            }
        }
        std::vector<std::u16string> opened;
        for (const auto& open : control.opens)
            opened.push_back(open.host + u":" + open.port);
        EXPECT_EQ(opened, c.opened);
        if (!c.opened.empty()) {
            EXPECT_EQ(control.opens.back().user, u"me");
        }
        (void)conn->disconnect();
    }
}

TEST_F(Browse, AChangedValueIsWarnedOfAsAnInvalidAttribute)
{
    ASSERT_EQ(browse(u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p"), SQL_NEED_DATA);
    ASSERT_EQ(browse(u"PORT=9"), SQL_NEED_DATA);
    std::vector<Record> seen = records();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].state, kBaseIdxBadConnAttr);
    EXPECT_TRUE(seen[0].warning);
    // An unchanged value is no change.
    ASSERT_EQ(browse(u"PORT=1;SCH=s"), SQL_SUCCESS);
    EXPECT_TRUE(records().empty());
    EXPECT_TRUE(conn->isConnected());
}

TEST_F(Browse, TheCompletedStringConnectsAgainWithTheSameValues)
{
    ASSERT_EQ(browse(u"DRIVER=TestDriver;HOST=h"), SQL_NEED_DATA);
    ASSERT_EQ(browse(u"PORT=2;UID={m;e};PWD={a}}b;c}"), SQL_NEED_DATA);
    ASSERT_EQ(browse(u"SCH=s"), SQL_SUCCESS);
    const std::u16string completed = outString;
    const katest::TestOpenRecord first = control.opens.back();
    EXPECT_EQ(first.password, u"a}b;c");
    EXPECT_EQ(first.user, u"m;e");
    ASSERT_EQ(conn->disconnect(), SQL_SUCCESS);
    EXPECT_EQ(conn->password.length, 0u);

    katest::Guarded<uint16_t> out(512);
    int16_t length = 0;
    // The driver reads no schema: that one attribute is reported unused.
    ASSERT_EQ(
        conn->driverConnect(nullptr, W(completed.c_str()), SQL_NTS, out.data(), 512, &length, SQL_DRIVER_NOPROMPT),
        SQL_SUCCESS_WITH_INFO);
    ASSERT_EQ(records().size(), 1u);
    EXPECT_NE(records()[0].text.find("SCH"), std::string::npos);
    const katest::TestOpenRecord again = control.opens.back();
    EXPECT_EQ(again.host, first.host);
    EXPECT_EQ(again.port, first.port);
    EXPECT_EQ(again.user, first.user);
    EXPECT_EQ(again.password, first.password);
    EXPECT_EQ(u16(out.data()), completed.substr(0, completed.size() - 1));
}

TEST_F(Browse, AFailedOpenKeepsItsDiagnosticsAsWarningsAndEndsTheBrowse)
{
    control.script = {{kBaseIdxGeneralError, 0, "login refused by the server"}};
    EXPECT_EQ(browse(u"DRIVER=TestDriver;HOST=h;PORT=1;UID=me;PWD=p"), SQL_ERROR);
    std::vector<Record> seen = records();
    ASSERT_FALSE(seen.empty());
    bool told = false;
    for (const Record& r : seen) {
        EXPECT_TRUE(r.warning) << r.state << " " << r.text;
        told = told || r.text.find("login refused by the server") != std::string::npos;
    }
    EXPECT_TRUE(told);
    EXPECT_FALSE(conn->isConnected());
    EXPECT_EQ(conn->browseParser, nullptr);
    EXPECT_EQ(conn->password.length, 0u);
    // The next call starts a new browse: nothing of the failed one is kept.
    EXPECT_EQ(browse(u"DRIVER=TestDriver;HOST=h"), SQL_NEED_DATA);
    EXPECT_EQ(outString, kFirstLevel);
}

TEST_F(Browse, ACutReplyStillNeedsData)
{
    ASSERT_EQ(conn->browseConnect(W(u"DRIVER=TestDriver;HOST=h"), SQL_NTS, nullptr, 0, nullptr), SQL_NEED_DATA);
    katest::Guarded<uint16_t> out(8);
    int16_t length = 0;
    EXPECT_EQ(conn->browseConnect(W(u"PORT=1"), SQL_NTS, out.data(), 8, &length), SQL_NEED_DATA);
    EXPECT_TRUE(out.guardsIntact());
    EXPECT_EQ(u16(out.data()), kFirstLevel.substr(kFirstLevel.find(u"UID"), 7));
    EXPECT_GT(length, 7);
    ASSERT_FALSE(records().empty());
    EXPECT_EQ(records().back().state, kBaseIdxTruncated);
}

// A driver whose hooks take 8-bit parsers: it reads its options, prompts
// and connects through them, and offers an 8-bit option source.
constexpr const char* kSource = "Zeta=z\xc3\xa9ta;PORT=77";

class NarrowConnection : public katest::TestConnection {
public:
    NarrowConnection(BaseEnv* env, katest::TestConnectionControl* control) noexcept
        : TestConnection(env, control), source_(kSource, std::strlen(kSource), KA_TEXT_UTF8, ';', nullptr, 0)
    {
        connectionFlags &= ~kBaseConnUnicodeDriver;
        source_.setQuoteChars(0, 0, 0);
        parsedSource_ = source_.parse() == 0;
    }

    int16_t readDriverOptions(KaValueParserW*, void*) noexcept override
    {
        ++wideCalls;
        return 0;
    }
    int16_t readDriverOptionsA(KaValueParser* parser, void*) noexcept override
    {
        reads.push_back(parser != nullptr ? narrowValue(parser, "HOST") + ":" + narrowValue(parser, "PORT") + ":" +
                                                narrowValue(parser, "EXTRA")
                                          : "-");
        return 0;
    }
    int16_t promptHookA(void*, uint16_t, int32_t* cancelled, KaValueParser* parser) noexcept override
    {
        if (cancelled != nullptr)
            *cancelled = 0;
        if (parser == nullptr)
            return 0;
        prompted = narrowValue(parser, "PWD");
        return parser->setValueCStr("DB", "fromprompt", nullptr) == 0 ? 0 : 1;
    }
    int16_t connectWithAttrsA(void* window, uint16_t completion, KaValueParser* parser) noexcept override
    {
        ++narrowConnects;
        return completeConnect();
    }
    int16_t openBrowsedA(KaValueParser* parser) noexcept override
    {
        browsedHost = narrowValue(parser, "HOST");
        return BaseConnection::openBrowsedA(parser);
    }
    KaValueParser* optionSourceHookA() noexcept override { return parsedSource_ ? &source_ : nullptr; }

    std::vector<std::string> reads;
    std::string prompted;
    std::string browsedHost;
    int narrowConnects = 0;
    int wideCalls = 0;

private:
    static std::string narrowValue(KaValueParser* parser, const char* key)
    {
        KaString* value = parser->getValueCStr(key);
        return value != nullptr && value->data != nullptr ? std::string(value->data, value->len) : "";
    }
    KaValueParser source_;
    bool parsedSource_ = false;
};

class Narrow : public katest::IniConnectionTestOf<NarrowConnection> {
protected:
    void SetUp() override { setUpConnection("", "[TestDriver]\nDriver=none\n"); }
};

TEST_F(Narrow, DriverConnectHandsTheHooksEightBitAttributesAndTakesBackWhatTheyDid)
{
    // The prompt comes before the options are read, in the code page in
    // force; the options then keep it.
    conn->appCodePage = kCodePageUtf8;
    katest::Guarded<uint16_t> out(512);
    int16_t length = 0;
    ASSERT_EQ(conn->driverConnect(
                  nullptr,
                  W(u"DRIVER=TestDriver;IANAAppCodePage=106;HOST=h;PORT=3;UID=me;PWD=s\u00e9;EXTRA=\u00e9t\u00e9"),
                  SQL_NTS, out.data(), 512, &length, SQL_DRIVER_COMPLETE),
              SQL_SUCCESS)
        << (handle->diagnostics.diagCount() > 0 ? katest::narrow(u16(handle->diagnostics.getRecord(1)->messageW()))
                                                : std::string());
    EXPECT_TRUE(out.guardsIntact());
    EXPECT_EQ(conn->wideCalls, 0);
    // The prompt saw the password in the application's code page; what it
    // added is in the completed string.
    EXPECT_EQ(conn->prompted, "s\xc3\xa9");
    ASSERT_FALSE(conn->reads.empty());
    EXPECT_EQ(conn->reads[0], "h:3:\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(conn->narrowConnects, 1);
    EXPECT_EQ(
        u16(out.data()),
        u"DRIVER=TestDriver;IANAAppCodePage=106;HOST=h;PORT=3;UID=me;PWD=s\u00e9;EXTRA=\u00e9t\u00e9;DB=fromprompt");
    // EXTRA was read by the 8-bit hook: no unused-attribute warning.
    EXPECT_EQ(handle->diagnostics.diagCount(), 0);
    EXPECT_TRUE(conn->isConnected());
}

TEST_F(Narrow, EachServerAttemptReadsTheDriversOptionsFromAFreshEightBitCopy)
{
    control.script = {{kBaseIdxUnableToConnect}};
    katest::Guarded<uint16_t> out(512);
    int16_t length = 0;
    ASSERT_EQ(conn->driverConnect(nullptr, W(u"DRIVER=TestDriver;HOST=a;PORT=1;UID=me;PWD=p;ASRV=(HOST=b:PORT=2)"),
                                  SQL_NTS, out.data(), 512, &length, SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(conn->reads, (std::vector<std::string>{"a:1:", "b:2:"}));
    EXPECT_EQ(conn->narrowConnects, 2);
    EXPECT_EQ(conn->wideCalls, 0);
    EXPECT_EQ(control.opens.size(), 2u);
}

TEST_F(Narrow, TheEightBitOptionSourceAnswersAfterTheFiles)
{
    conn->appCodePage = kCodePageUtf8;
    struct Case {
        const char16_t* shortKey;
        const char16_t* longKey;
        const char16_t* defaultValue;
        std::u16string value;
        int32_t source;
    };
    const Case cases[] = {
        {nullptr, u"Zeta", nullptr, u"z\u00e9ta", 6},
        {u"PORT", u"PortNumber", u"1", u"77", 6},
        {u"NONE", u"Nothing", u"dflt", u"dflt", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(katest::narrow(c.longKey));
        uint16_t* value = nullptr;
        int32_t source = -1;
        ASSERT_EQ(conn->getOptionValue(nullptr, W(c.shortKey), W(c.longKey), W(c.defaultValue), &value, &source, 0), 0);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(u16(value), c.value);
        EXPECT_EQ(source, c.source);
        ramFree(value);
    }
}

TEST_F(Narrow, ABrowseOpensThroughTheEightBitOpen)
{
    katest::Guarded<uint16_t> out(256);
    int16_t length = 0;
    ASSERT_EQ(conn->browseConnect(W(u"DRIVER=TestDriver;HOST=bh;PORT=5"), SQL_NTS, out.data(), 256, &length),
              SQL_SUCCESS);
    EXPECT_EQ(conn->browsedHost, "bh");
    EXPECT_EQ(conn->wideCalls, 0);
    EXPECT_TRUE(conn->isConnected());
    EXPECT_EQ(u16(out.data()), u"DRIVER=TestDriver;HOST=bh;PORT=5;");
}

}  // namespace
