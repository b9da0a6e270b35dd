// Framework diagnostics: posting by SQLSTATE index, the message prefix,
// SQLGetDiagRec/SQLGetDiagField on a list, the ODBC 2 SQLSTATEs, the dynamic
// function fields and the concatenation of all records.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "support/diagscope.h"
#include "support/guarded.h"

using katest::DiagScope;
using katest::narrow;
using katest::u16;
using katest::W;

static_assert(kBaseIdxTruncated == MSG_SQLSTATE_STRING_RIGHT_TRUNCATED &&
                  kBaseIdxGeneralError == KA_SQLSTATE_INDEX_GENERAL &&
                  kBaseIdxOutOfMemory == KA_SQLSTATE_INDEX_OUT_OF_MEMORY,
              "framework indexes");

namespace {

// A driver resource text's number (in the range the physical connection
// answers) and a server's native error code.
constexpr uint16_t kResourceText = 1234;
constexpr uint32_t kServerNative = 10011;
static_assert(baseIsResourceMessage(kResourceText));

// A driver's physical connection that names itself through its resources.
class FakeConnection : public BaseConnection {
public:
    explicit FakeConnection(BaseEnv* env, std::u16string driver = u"Spark", std::u16string product = u"SparkSQL")
        : BaseConnection(env), driver_(std::move(driver)), product_(std::move(product))
    {
        connectionFlags |= kBaseConnUnicodeDriver;
    }

    int32_t driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept override
    {
        std::u16string text = id == MSG_DRIVER_PRODUCT_NAME ? driver_
                              : id == MSG_DBMS_PRODUCT_NAME ? product_
                              : id == kResourceText         ? std::u16string(u"resource text 1234")
                                                            : std::u16string();
        int32_t n = static_cast<int32_t>(text.size());
        if (n > capacity - 1)
            n = capacity - 1;
        std::memcpy(out, text.data(), static_cast<size_t>(n) * 2);
        out[n] = 0;
        return n;
    }

private:
    std::u16string driver_;
    std::u16string product_;
};

std::string message(BaseErrorList& list, int16_t rec)
{
    uint16_t text[1024];
    int16_t len = 0;
    EXPECT_EQ(list.getDiagRec(rec, nullptr, nullptr, text, 1024, &len), SQL_SUCCESS);
    return narrow(u16(text));
}

std::string sqlstateOf(BaseErrorList& list, int16_t rec)
{
    uint16_t state[6] = {};
    EXPECT_EQ(list.getDiagRec(rec, state, nullptr, nullptr, 0, nullptr), SQL_SUCCESS);
    return narrow(u16(state));
}

class Diagnostics : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

}  // namespace

TEST_F(Diagnostics, PostedRecordsCarryIndexTextAndNative)
{
    DiagScope d;
    basePostError(kBaseIdxOutOfRange);
    basePostWarningMsg(kBaseIdxBadConnAttr, MSG_UNUSED_CONNECTION_ATTRIBUTE)->addParamText("FOO");
    ASSERT_EQ(d.size(), 2u);
    EXPECT_FALSE(d.warning(0));
    EXPECT_TRUE(d.warning(1));
    EXPECT_EQ(sqlstateOf(d.list, 1), "22003");
    EXPECT_EQ(sqlstateOf(d.list, 2), "01S00");
    EXPECT_EQ(d.text(0), "Numeric value out of range");
    EXPECT_EQ(d.text(1), "The connection string attribute FOO was not used");
    // Without user data the native error of a record with an SQLSTATE index is 0.
    int32_t native = -1;
    EXPECT_EQ(d.list.getDiagRec(2, nullptr, &native, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(native, 0);
}

TEST_F(Diagnostics, PrefixWithoutConnection)
{
    DiagScope d;
    basePostError(kBaseIdxGeneralError);
    EXPECT_EQ(message(d.list, 1), "[Mirrowen][ODBC ]General error");
    d.list.driverNameText = W(u"Spark driver");
    EXPECT_EQ(message(d.list, 1), "[Mirrowen][ODBC Spark driver]General error");
}

TEST_F(Diagnostics, PrefixNamesDriverAndForServerErrorsTheDbms)
{
    BaseEnv env(15);
    FakeConnection conn(&env);
    DiagScope d(&conn);
    basePostError(kBaseIdxGeneralError);                                             // a driver error
    basePostErrorTextW(kBaseIdxGeneralError, kServerNative, W(u"Table not found"));  // a server error
    basePostResourceError(kBaseIdxGeneralError, kResourceText);                      // a resource text
    EXPECT_EQ(message(d.list, 1), "[Mirrowen][ODBC Spark driver]General error");
    EXPECT_EQ(message(d.list, 2), "[Mirrowen][ODBC Spark driver][SparkSQL]Table not found");
    EXPECT_EQ(message(d.list, 3), "[Mirrowen][ODBC Spark driver]resource text 1234");
    int32_t native = 0;
    EXPECT_EQ(d.list.getDiagRec(2, nullptr, &native, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(native, int32_t(kServerNative));
    EXPECT_EQ(d.list.getDiagRec(3, nullptr, &native, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(native, kResourceText);

    // Once connected the DBMS name kept from SQL_DBMS_NAME is used.
    static const uint16_t dbms[] = {'H', 'i', 'v', 'e', 0};
    conn.dbmsName = static_cast<uint16_t*>(std::malloc(sizeof dbms));
    std::memcpy(conn.dbmsName, dbms, sizeof dbms);
    EXPECT_EQ(message(d.list, 2), "[Mirrowen][ODBC Spark driver][Hive]Table not found");
}

TEST_F(Diagnostics, DriverNameFallsBackWhenEmptyOrNumeric)
{
    BaseEnv env(15);
    for (const char16_t* name : {u"", u"2.8 build"}) {
        FakeConnection conn(&env, name, u"SparkSQL");
        DiagScope d(&conn);
        basePostError(kBaseIdxGeneralError);
        EXPECT_EQ(message(d.list, 1), "[Mirrowen][ODBC SparkSQL driver]General error");
    }
}

TEST_F(Diagnostics, MessageCutToBufferReportsFullLength)
{
    DiagScope d;
    d.list.driverNameText = W(u"X");
    basePostErrorTextW(kBaseIdxGeneralError, 0, W(u"a forty character message text.........."));
    const std::string full = "[Mirrowen][ODBC X]a forty character message text..........";
    katest::Guarded<uint16_t> buf(10);
    int16_t len = 0;
    EXPECT_EQ(d.list.getDiagRec(1, nullptr, nullptr, buf.data(), 10, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, static_cast<int16_t>(full.size()));
    EXPECT_EQ(narrow(u16(buf.data())), full.substr(0, 9));
    EXPECT_TRUE(buf.guardsIntact());
    // Without a buffer the length is still reported and nothing counts as cut.
    EXPECT_EQ(d.list.getDiagRec(1, nullptr, nullptr, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, static_cast<int16_t>(full.size()));
}

TEST_F(Diagnostics, WorkaroundBitKeepsCutMessagesQuiet)
{
    BaseEnv env(15);
    FakeConnection conn(&env);
    conn.workarounds = kBaseWaNoMessageTruncation;
    DiagScope d(&conn);
    basePostError(kBaseIdxGeneralError);
    uint16_t buf[8];
    int16_t len = 0;
    EXPECT_EQ(d.list.getDiagRec(1, nullptr, nullptr, buf, 8, &len), SQL_SUCCESS);
    EXPECT_EQ(narrow(u16(buf)), "[Mirrow");
}

TEST_F(Diagnostics, RecordNumbersOutsideTheList)
{
    DiagScope d;
    basePostError(kBaseIdxGeneralError);
    uint16_t state[6];
    EXPECT_EQ(d.list.getDiagRec(0, state, nullptr, nullptr, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(d.list.getDiagRec(-3, state, nullptr, nullptr, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(d.list.getDiagRec(2, state, nullptr, nullptr, 0, nullptr), SQL_NO_DATA);
    int32_t v = 0;
    EXPECT_EQ(d.list.getDiagField(-1, SQL_DIAG_NATIVE, &v, 0, nullptr), SQL_NO_DATA);
    EXPECT_EQ(d.list.getDiagField(2, SQL_DIAG_NATIVE, &v, 0, nullptr), SQL_NO_DATA);
    EXPECT_EQ(d.list.getDiagField(1, 999, &v, 0, nullptr), SQL_ERROR);
}

TEST_F(Diagnostics, RecordWithoutIndexReportsGeneralErrorAndItsMessageNumber)
{
    DiagScope d;
    errPost(MSG_VALUE_DOES_NOT_FIT);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(sqlstateOf(d.list, 1), "HY000");
    int32_t native = 0;
    EXPECT_EQ(d.list.getDiagRec(1, nullptr, &native, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(native, MSG_VALUE_DOES_NOT_FIT);
    int32_t field = -1;
    int16_t len = 0;
    EXPECT_EQ(d.list.getDiagField(1, SQL_DIAG_NATIVE, &field, 4, &len), SQL_SUCCESS);
    EXPECT_EQ(field, 0);
    EXPECT_EQ(len, 4);
}

TEST_F(Diagnostics, OutOfMemoryMarkIsRecordOne)
{
    DiagScope d;
    basePostError(kBaseIdxOutOfRange);
    basePostWarning(kBaseIdxTruncated);
    KaErrorPostOutOfMemory();
    int32_t number = 0;
    EXPECT_EQ(d.list.getDiagField(0, SQL_DIAG_NUMBER, &number, 4, nullptr), SQL_SUCCESS);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(sqlstateOf(d.list, 1), "HY001");
    EXPECT_EQ(message(d.list, 1), "[Mirrowen][ODBC ]Out Of Memory");
    EXPECT_EQ(sqlstateOf(d.list, 2), "22003");
    EXPECT_EQ(sqlstateOf(d.list, 3), "01004");
}

TEST_F(Diagnostics, RowAndColumnComeFromTheHandle)
{
    DiagScope d;
    int64_t row = 4;
    int16_t column = 2;
    d.list.currentRow = &row;
    d.list.currentColumn = &column;
    basePostError(kBaseIdxOutOfRange);
    d.list.currentRow = nullptr;
    d.list.currentColumn = nullptr;
    basePostError(kBaseIdxOutOfRange);
    SQLLEN rowNumber = 0;
    SQLINTEGER columnNumber = 0;
    int16_t len = 0;
    EXPECT_EQ(d.list.getDiagField(1, SQL_DIAG_ROW_NUMBER, &rowNumber, 8, &len), SQL_SUCCESS);
    EXPECT_EQ(rowNumber, 5);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(d.list.getDiagField(1, SQL_DIAG_COLUMN_NUMBER, &columnNumber, 4, &len), SQL_SUCCESS);
    EXPECT_EQ(columnNumber, 2);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(d.list.getDiagField(2, SQL_DIAG_ROW_NUMBER, &rowNumber, 8, nullptr), SQL_SUCCESS);
    EXPECT_EQ(rowNumber, -1);
}

TEST_F(Diagnostics, StringFieldsAndOrigins)
{
    BaseEnv env(15);
    FakeConnection conn(&env);
    DiagScope d(&conn);
    basePostError(kBaseIdxOutOfRange);
    basePostErrorTextW(kBaseIdxGeneralError, 0, W(u"no driver"))->setSqlstate("IM002");
    uint16_t buf[64];
    int16_t len = 0;
    auto field = [&](int16_t rec, int16_t id, int16_t size = sizeof buf) {
        std::memset(buf, 0, sizeof buf);
        SQLRETURN rc = d.list.getDiagField(rec, id, buf, size, &len);
        EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO);
        return narrow(u16(buf));
    };
    EXPECT_EQ(field(1, SQL_DIAG_SQLSTATE), "22003");
    EXPECT_EQ(len, 10);
    EXPECT_EQ(field(1, SQL_DIAG_CLASS_ORIGIN), "ISO 9075");
    EXPECT_EQ(field(2, SQL_DIAG_CLASS_ORIGIN), "ODBC 3.0");
    env.odbc2Mode = 1;
    EXPECT_EQ(field(2, SQL_DIAG_CLASS_ORIGIN), "ODBC 2.0");
    EXPECT_EQ(field(2, SQL_DIAG_SUBCLASS_ORIGIN), "ISO 9075");
    EXPECT_EQ(field(1, SQL_DIAG_CONNECTION_NAME), "Trelliwave ODBC Spark driver");
    EXPECT_EQ(field(1, SQL_DIAG_SERVER_NAME), "Default");
    ASSERT_EQ(conn.setDsnName(W(u"warehouse")), 0);
    EXPECT_EQ(field(1, SQL_DIAG_SERVER_NAME), "warehouse");
    EXPECT_EQ(len, 18);
    // A short buffer cuts the text and says so; the full length is reported.
    EXPECT_EQ(d.list.getDiagField(1, SQL_DIAG_SERVER_NAME, buf, 8, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(narrow(u16(buf)), "war");
    EXPECT_EQ(len, 18);
    EXPECT_EQ(field(1, SQL_DIAG_MESSAGE_TEXT), "[Mirrowen][ODBC Spark driver]Numeric value out of range");
    EXPECT_EQ(len, 2 * 55);
    EXPECT_EQ(d.list.getDiagField(1, SQL_DIAG_MESSAGE_TEXT, buf, 10, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(narrow(u16(buf)), "[Mir");
}

TEST_F(Diagnostics, HeaderFields)
{
    DiagScope d;
    d.list.rowCount = 12;
    d.list.cursorRowCount = 7;
    SQLLEN v = 0;
    int16_t len = 0;
    EXPECT_EQ(d.list.getDiagField(0, SQL_DIAG_ROW_COUNT, &v, 8, &len), SQL_SUCCESS);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(d.list.getDiagField(0, SQL_DIAG_CURSOR_ROW_COUNT, &v, 8, &len), SQL_SUCCESS);
    EXPECT_EQ(v, 7);
    SQLINTEGER n = -1;
    EXPECT_EQ(d.list.getDiagField(0, SQL_DIAG_NUMBER, &n, 4, &len), SQL_SUCCESS);
    EXPECT_EQ(n, 0);
    // Header fields are asked with record number 0; record fields are not.
    EXPECT_EQ(d.list.getDiagField(0, SQL_DIAG_SQLSTATE, &n, 4, &len), SQL_ERROR);
}

TEST_F(Diagnostics, DynamicFunction)
{
    struct Case {
        int32_t kind, sub;
        bool dynamic, call;
        const char* text;
        int32_t code;
    } cases[] = {
        {1, 1, false, false, "ALTER TABLE", SQL_DIAG_ALTER_TABLE},
        {2, 1, false, false, "CREATE TABLE", SQL_DIAG_CREATE_TABLE},
        {2, 2, false, false, "CREATE INDEX", SQL_DIAG_CREATE_INDEX},
        {2, 3, false, false, "CREATE VIEW", SQL_DIAG_CREATE_VIEW},
        {3, 0, true, false, "DYNAMIC DELETE CURSOR", SQL_DIAG_DYNAMIC_DELETE_CURSOR},
        {3, 0, false, false, "DELETE WHERE", SQL_DIAG_DELETE_WHERE},
        {4, 1, false, false, "DROP TABLE", SQL_DIAG_DROP_TABLE},
        {4, 2, false, false, "DROP INDEX", SQL_DIAG_DROP_INDEX},
        {4, 3, false, false, "DROP VIEW", SQL_DIAG_DROP_VIEW},
        {5, 0, false, false, "GRANT", SQL_DIAG_GRANT},
        {6, 0, false, false, "INSERT", SQL_DIAG_INSERT},
        {7, 0, false, false, "REVOKE", SQL_DIAG_REVOKE},
        {8, 0, false, false, "SELECT CURSOR", SQL_DIAG_SELECT_CURSOR},
        {9, 0, true, false, "DYNAMIC UPDATE CURSOR", SQL_DIAG_DYNAMIC_UPDATE_CURSOR},
        {9, 0, false, false, "UPDATE WHERE", SQL_DIAG_UPDATE_WHERE},
        {8, 0, false, true, "CALL", SQL_DIAG_CALL},
        {12, 0, false, false, "", 0},
        {1, 2, false, false, "", 0},
    };
    DiagScope d;
    for (const Case& c : cases) {
        d.list.setDynamicFunction(c.kind, c.sub, c.dynamic, c.call);
        uint16_t buf[32];
        int16_t len = 0;
        EXPECT_EQ(d.list.getDiagField(0, SQL_DIAG_DYNAMIC_FUNCTION, buf, sizeof buf, &len), SQL_SUCCESS);
        EXPECT_EQ(narrow(u16(buf)), c.text);
        SQLINTEGER code = 99;
        EXPECT_EQ(d.list.getDiagField(0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, &code, 4, &len), SQL_SUCCESS);
        EXPECT_EQ(code, c.code) << c.text;
    }
    d.list.clearDynamicFunction();
    EXPECT_EQ(d.list.dynamicFunctionCode, 0);
}

TEST_F(Diagnostics, Odbc2SqlstateMapping)
{
    struct Case {
        const char* in;
        uint16_t api;
        const char* out;
    } cases[] = {
        {"01S07", 0, "01004"},
        {"42000", 0, "37000"},
        {"07002", 0, "S1002"},
        {"07005", 0, "24000"},
        {"07008", 0, "S1000"},
        {"07009", SQL_API_SQLGETDATA, "S1002"},
        {"07009", SQL_API_SQLBINDCOL, "S1002"},
        {"07009", SQL_API_SQLCOLATTRIBUTE, "S1002"},
        {"07009", SQL_API_SQLFETCH, "S1002"},
        {"07009", SQL_API_SQLFETCHSCROLL, "S1002"},
        {"07009", SQL_API_SQLBINDPARAMETER, "S1093"},
        {"07009", SQL_API_SQLDESCRIBEPARAM, "S1093"},
        {"07009", SQL_API_SQLDESCRIBECOL, "07009"},
        {"22007", 0, "22008"},
        {"22018", 0, "22005"},
        {"HY007", 0, "S1010"},
        {"HY020", 0, "S1011"},
        {"HY018", 0, "70100"},
        {"HY024", 0, "S1009"},
        {"HY000", 0, "S1000"},
        {"HY090", 0, "S1090"},
        {"42S02", 0, "S0002"},
        {"42S22", 0, "S0022"},
        {"08S01", 0, "08S01"},
        {"01004", 0, "01004"},
        {"IM001", 0, "IM001"},
    };
    BaseErrorList list(nullptr);
    for (const Case& c : cases) {
        list.currentApiFunction = c.api;
        char narrowState[6];
        std::memcpy(narrowState, c.in, 6);
        list.mapSqlStateToOdbc2(narrowState);
        EXPECT_STREQ(narrowState, c.out) << c.in << " api " << c.api;
        uint16_t wide[6];
        for (int i = 0; i < 6; ++i)
            wide[i] = static_cast<uint16_t>(c.in[i]);
        list.mapSqlStateToOdbc2W(wide);
        EXPECT_EQ(narrow(u16(wide)), c.out);
    }
}

TEST_F(Diagnostics, ConcatenateMessages)
{
    DiagScope d;
    uint16_t* empty = d.list.concatenateMessages();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], 0);
    ramFree(empty);

    basePostError(kBaseIdxOutOfRange);
    basePostWarning(kBaseIdxTruncated);
    uint16_t* text = d.list.concatenateMessages();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(narrow(u16(text)), "[Mirrowen][ODBC ]Numeric value out of range\n"
                                 "[Mirrowen][ODBC ]String data, right truncated");
    ramFree(text);
    EXPECT_EQ(d.list.diagCount(), 0);
    EXPECT_EQ(d.list.errorCount, 0);
    EXPECT_EQ(d.list.warningCount, 0);
}

TEST_F(Diagnostics, ConcatenationKeepsRecordsAfterAQuietlyCutMessage)
{
    BaseEnv env(15);
    FakeConnection conn(&env);
    conn.workarounds = kBaseWaNoMessageTruncation;
    DiagScope d(&conn);
    // Longer than a 16-bit message length can describe.
    std::u16string huge(40000, u'x');
    errPostText(MSG_SQLSTATE_GENERAL_ERROR, reinterpret_cast<const uint16_t*>(huge.c_str()));
    basePostWarning(kBaseIdxTruncated);
    uint16_t* text = d.list.concatenateMessages();
    ASSERT_NE(text, nullptr);
    std::string all = narrow(u16(text));
    ramFree(text);
    const std::string tail = "\n[Mirrowen][ODBC Spark driver]String data, right truncated";
    ASSERT_GT(all.size(), tail.size());
    EXPECT_EQ(all.substr(all.size() - tail.size()), tail);
}

TEST_F(Diagnostics, SetLastSqlstateTakesTheCatalogueText)
{
    DiagScope d;
    errPost(MSG_VALUE_DOES_NOT_FIT);
    baseSetLastSqlstate(kBaseIdxDatetimeOverflow);
    EXPECT_EQ(sqlstateOf(d.list, 1), "22008");
}

TEST_F(Diagnostics, GetConnectionErrorsEmptiesTheHandleList)
{
    BaseEnv env(15);
    BaseStubConnection connHandle(&env);
    FakeConnection conn(&env);
    conn.handle = &connHandle;
    connHandle.current = &conn;
    connHandle.diagnostics.ownerData = &conn;
    KaErrorPushList(&connHandle.diagnostics);
    basePostError(kBaseIdxLinkFailure);
    basePostErrorTextW(kBaseIdxGeneralError, 42, W(u"server said no"));
    KaErrorPopList();
    char* text = getConnectionErrors(&connHandle);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "[Mirrowen][ODBC Spark driver]Communication link failure\n"
                       "[Mirrowen][ODBC Spark driver][SparkSQL]server said no");
    std::free(text);
    EXPECT_EQ(connHandle.diagnostics.diagCount(), 0);

    BaseStubConnection idle(&env);
    EXPECT_EQ(getConnectionErrors(&idle), nullptr);
    EXPECT_EQ(getConnectionErrors(nullptr), nullptr);
}

// A handle of another kind, smaller than a connection handle, is refused
// without being read past its end.
TEST_F(Diagnostics, GetConnectionErrorsRefusesOtherHandles)
{
    struct SmallHandle : KaObject {};
    auto* other = new SmallHandle();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(getConnectionErrors(other), nullptr);
    delete other;

    BaseEnv env(15);
    EXPECT_EQ(getConnectionErrors(&env), nullptr);
}

TEST_F(Diagnostics, PostingWithoutCurrentListGoesNowhere)
{
    KaError* sink = basePostError(kBaseIdxGeneralError);
    ASSERT_NE(sink, nullptr);
    EXPECT_TRUE(sink->isStatic());
    EXPECT_EQ(sink->addParamText("ignored"), sink);
}

TEST_F(Diagnostics, RecordsComeBackInOdbcOrderAfterTheCall)
{
    DiagScope d;
    int64_t row = 0;
    basePostError(kBaseIdxGeneralError)->setSqlstate("42000");
    basePostError(kBaseIdxLinkFailure);  // 08S01
    basePostWarning(kBaseIdxTruncated);  // 01004
    basePostWarning(kBaseIdxGeneralWarning)->setSqlstate("01S01");
    basePostError(kBaseIdxGeneralError)->setSqlstate("IM001");
    d.list.currentRow = &row;           // row 1
    basePostError(kBaseIdxOutOfRange);  // 22003, row 1
    d.list.currentRow = nullptr;
    basePostError(kBaseIdxOutOfRange);  // 22003, no row
    ASSERT_EQ(d.list.sort(), 0);
    std::vector<std::string> states;
    for (int16_t i = 1; i <= 7; ++i)
        states.push_back(sqlstateOf(d.list, i));
    EXPECT_EQ(states, (std::vector<std::string>{"08S01", "01S01", "42000", "22003", "22003", "IM001", "01004"}));
    SQLLEN rowNumber = 0;
    EXPECT_EQ(d.list.getDiagField(4, SQL_DIAG_ROW_NUMBER, &rowNumber, 8, nullptr), SQL_SUCCESS);
    EXPECT_EQ(rowNumber, -1);  // no row comes before row 1
    EXPECT_EQ(d.list.getDiagField(5, SQL_DIAG_ROW_NUMBER, &rowNumber, 8, nullptr), SQL_SUCCESS);
    EXPECT_EQ(rowNumber, 1);
}

TEST_F(Diagnostics, ShowErrorsPrintsAndEmptiesTheList)
{
    DiagScope d;
    basePostError(kBaseIdxOutOfRange);
    testing::internal::CaptureStdout();
    EXPECT_EQ(d.list.showErrors(nullptr), 2);
    std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find("ODBC driver diagnostics"), std::string::npos);
    EXPECT_NE(shown.find("[Mirrowen][ODBC ]Numeric value out of range"), std::string::npos);
    EXPECT_EQ(d.list.diagCount(), 0);
}
