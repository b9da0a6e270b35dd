// The Hive parameter literals, the quote fixer the execute hook runs over a
// statement's text, the parameter description and the transaction rules of
// the Hive connection; the round trip through the test server is in
// tests/driver/pyodbc_hs2_params_test.py.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>

#include "hive/dummyenv.h"
#include "hive/hiveconnection.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/basedesc.h"
#include "sql/basesql.h"
#include "support/diagscope.h"

namespace {

// ASCII test text as UTF-16.
std::u16string u16(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

std::string narrow(const uint16_t* text, size_t units)
{
    std::string out;
    for (size_t i = 0; i < units; ++i)
        out += text[i] < 0x80 ? char(text[i]) : '?';
    return out;
}

class HiveLiterals : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        BaseStatement* made = nullptr;
        ASSERT_EQ(0, conn.createStatement(&made));
        stmt = static_cast<HiveStatement*>(made);
    }
    void TearDown() override { delete stmt; }

    void prepare(const std::string& text, uint16_t markers)
    {
        std::u16string t = u16(text);
        BaseSqlStringW analysed(reinterpret_cast<const uint16_t*>(t.data()), int64_t(t.size()));
        ASSERT_EQ(0, analysed.makeOwned());
        ASSERT_EQ(0, stmt->prepareHook(&analysed));
        stmt->markerCount = markers;
        ASSERT_EQ(0, stmt->ensureDescriptorRecords(markers, 4));
    }
    void describe(uint16_t marker, int16_t cType, int16_t sqlType)
    {
        stmt->currentApd->record(marker)->conciseType = cType;
        BaseRecord* ipdRec = stmt->ipd->record(marker);
        ipdRec->conciseType = sqlType;
        ipdRec->columnSize = 100;
        ipdRec->length = 100;
    }
    // The statement text with one value of cType / sqlType in place of its
    // single marker, or "<failed>".
    std::string literal(int16_t cType, int16_t sqlType, const void* data, int64_t length)
    {
        prepare("SELECT ?", 1);
        describe(1, cType, sqlType);
        if (stmt->setParamValue(1, data, length, 0) != 0)
            return "<failed>";
        const uint16_t* text = nullptr;
        size_t units = 0;
        if (stmt->finishParamText(&text, &units) != 0 || text == nullptr)
            return "<failed>";
        return narrow(text, units).substr(7);
    }

    katest::ThreadScope thread;
    katest::DiagScope diags;
    DummyEnv env;
    HiveConnection conn{&env};
    HiveStatement* stmt = nullptr;
};

// Every character Hive's string literals unescape is written as an escape
// of its own, so that no value can end its literal or turn into another
// character; NUL is a unicode escape, so that digits after it cannot make
// an octal escape of it.
TEST_F(HiveLiterals, TextValuesEscapeEveryCharacterHiveUnescapes)
{
    struct Case {
        std::string value;
        std::string literal;
    } cases[] = {
        {"plain", "'plain'"},
        {"O'Brien", "'O\\'Brien'"},
        {"''", "'\\'\\''"},
        {"x\\", "'x\\\\'"},
        {"\\' OR 1=1 --", "'\\\\\\' OR 1=1 --'"},
        {std::string("a\0"
                     "12",
                     4),
         "'a\\u000012'"},
        {"\n\r\t\b\x1a", "'\\n\\r\\t\\b\\Z'"},
        {"\"`?", "'\"`?'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(literal(SQL_C_CHAR, SQL_VARCHAR, c.value.data(), int64_t(c.value.size())), c.literal) << c.value;
}

TEST_F(HiveLiterals, BinaryValuesReachHiveAsBytes)
{
    const uint8_t bytes[] = {0x00, 0x27, 0x5c, 0xff};
    EXPECT_EQ(literal(SQL_C_BINARY, SQL_VARBINARY, bytes, 4), "unhex('00275CFF')");
    EXPECT_EQ(literal(SQL_C_BINARY, SQL_LONGVARBINARY, bytes, 0), "unhex('')");
    // Bytes bound to a text column are its UTF-8 text.
    const char utf8[] = "caf\xc3\xa9'";
    EXPECT_EQ(literal(SQL_C_BINARY, SQL_VARCHAR, utf8, 6), "'caf?\\''");
}

// A value whose literal is longer than a statement string can be, by its
// length alone, is refused with the limit named before a byte of it is read
// (four bytes stand for every value here) or room is taken for it. What
// counts is the fewest bytes of its UTF-8 literal: UTF-8 text keeps its
// bytes, UTF-16 takes at least one a unit, other code pages one for at most
// four, bytes for a binary column two hexadecimal digits each.
TEST_F(HiveLiterals, AValueLongerThanAStatementCanHoldIsRefusedByItsLength)
{
    struct Case {
        const char* what;
        int16_t cType;
        int16_t sqlType;
        int64_t charCodePage;
        int64_t length;
    } cases[] = {
        {"UTF-8", SQL_C_CHAR, SQL_LONGVARCHAR, kCodePageUtf8, int64_t{1} << 31},
        {"Latin-1", SQL_C_CHAR, SQL_VARCHAR, kCodePageLatin1, (int64_t{1} << 33) + 4},
        {"UTF-16", SQL_C_WCHAR, SQL_WLONGVARCHAR, kCodePageUtf8, int64_t{1} << 32},
        {"hexadecimal digits", SQL_C_BINARY, SQL_VARBINARY, kCodePageUtf8, int64_t{1} << 30},
        {"bytes of UTF-8 text", SQL_C_BINARY, SQL_VARCHAR, kCodePageUtf8, int64_t{1} << 31},
    };
    const char four[4] = {'a', 'b', 'c', 'd'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stmt->charCodePage = c.charCodePage;
        const size_t before = diags.size();
        EXPECT_EQ("<failed>", literal(c.cType, c.sqlType, four, c.length));
        ASSERT_EQ(before + 1, diags.size());
        EXPECT_EQ("22001", katest::sqlstate(diags.at(before)));
        const std::string text = diags.text(before);
        EXPECT_NE(std::string::npos, text.find(std::to_string(c.length))) << text;
        EXPECT_NE(std::string::npos, text.find("2147483647")) << text;
    }
    // The same statement takes a value that fits.
    stmt->charCodePage = kCodePageUtf8;
    EXPECT_EQ("'abcd'", literal(SQL_C_CHAR, SQL_LONGVARCHAR, four, 4));
}

TEST_F(HiveLiterals, NumbersAreCheckedAndGuidsAndIntervalsNeverVanish)
{
    double half = 0.5;
    EXPECT_EQ(literal(SQL_C_DOUBLE, SQL_DOUBLE, &half, 8), " 0.5 ");
    // Text the application gives for a number cannot carry SQL along.
    const char hostile[] = "1 OR 1=1";
    EXPECT_EQ(literal(SQL_C_CHAR, SQL_INTEGER, hostile, 8), "<failed>");
    ASSERT_GE(diags.size(), 1u);
    SQLGUID guid = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    EXPECT_EQ(literal(SQL_C_GUID, SQL_GUID, &guid, sizeof guid), "'01020304-0506-0708-090A-0B0C0D0E0F10'");
    const char interval[] = "5";
    const size_t before = diags.size();
    EXPECT_EQ(literal(SQL_C_CHAR, SQL_INTERVAL_DAY, interval, 1), "<failed>");
    ASSERT_GT(diags.size(), before);
    EXPECT_EQ(diags.index(diags.size() - 1), MSG_SQLSTATE_OPTIONAL_FEATURE);
}

TEST_F(HiveLiterals, EveryParameterIsDescribedAsVarchar)
{
    prepare("SELECT ?, ?", 2);
    SQLSMALLINT type = 0, digits = -1, nullable = 0;
    uint64_t size = 0;
    ASSERT_EQ(0, stmt->describeParamHook(2, &type, &size, &digits, &nullable));
    EXPECT_EQ(type, SQL_VARCHAR);
    EXPECT_EQ(size, 999u);
    EXPECT_EQ(digits, 0);
    EXPECT_EQ(nullable, SQL_NULLABLE);
}

TEST(HiveQuoteFixer, DoubledApostrophesInsideLiteralsBecomeEscapes)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"SELECT 'O''Brien'", "SELECT 'O\\'Brien'"},
        {"SELECT '', ''''", "SELECT '', '\\''"},
        {"SELECT 'it\\'s', 'a''b'", "SELECT 'it\\'s', 'a\\'b'"},
        // A value ending in a backslash keeps the fixer in step.
        {"SELECT 'x\\\\', 'O''Brien'", "SELECT 'x\\\\', 'O\\'Brien'"},
        // Back quotes and double quotes are passed over, apostrophes in
        // them included.
        {"SELECT `a''b`, \"it's\", 'c''d'", "SELECT `a''b`, \"it's\", 'c\\'d'"},
        {"SELECT `a``b`, 'e''f'", "SELECT `a``b`, 'e\\'f'"},
        {"SELECT \"a\\\"'\", 'g''h'", "SELECT \"a\\\"'\", 'g\\'h'"},
        {"SELECT 'unterminated''", "SELECT 'unterminated\\'"},
    };
    for (const Case& c : cases) {
        std::u16string text = u16(c.in);
        HiveConnection::fixQuotedLiterals(reinterpret_cast<uint16_t*>(text.data()), text.size());
        EXPECT_EQ(narrow(reinterpret_cast<const uint16_t*>(text.data()), text.size()), c.out) << c.in;
        // Running it again changes nothing.
        std::u16string again = text;
        HiveConnection::fixQuotedLiterals(reinterpret_cast<uint16_t*>(again.data()), again.size());
        EXPECT_EQ(again, text) << c.in;
    }
}

TEST(HiveTransactions, TransactionModeDecidesWhatCommitAndRollbackDo)
{
    katest::ThreadScope thread;
    katest::DiagScope diags;
    DummyEnv env;
    HiveConnection conn{&env};
    conn.transactionMode = 0;
    EXPECT_EQ(1, conn.beginTranCheck());
    EXPECT_EQ(1, conn.autocommitChange(SQL_COMMIT));
    ASSERT_EQ(diags.size(), 2u);
    EXPECT_EQ(diags.index(0), MSG_SQLSTATE_OPTIONAL_FEATURE);
    conn.transactionMode = 1;
    EXPECT_EQ(0, conn.beginTranCheck());
    EXPECT_EQ(0, conn.autocommitChange(SQL_COMMIT));
    EXPECT_EQ(1, conn.autocommitChange(SQL_ROLLBACK));
    ASSERT_EQ(diags.size(), 3u);
    EXPECT_EQ(diags.index(2), MSG_SQLSTATE_INVALID_TRANSACTION_STATE);
}

}  // namespace
