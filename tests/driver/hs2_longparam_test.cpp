// Long text parameters through unixODBC against the bundled HiveServer2 test
// server: values around 64 KB and of a megabyte, narrow and wide, bound whole
// and sent at execution in pieces, inserted into a STRING column and read
// back with SQLGetData byte for byte.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/hs2suite.h"

namespace {

using katest::diagText;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// How the value reaches the driver.
enum class Send { Bound, PiecesKnownLength, PiecesOpenLength };

struct LongCase {
    const char* name;
    size_t units;  // bytes of the narrow value, UTF-16 units of the wide one
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    Send send;
    SQLULEN columnSize = 0;  // 0: the value's own length in characters
};

// Cases print as their names, in test names and failures alike.
void PrintTo(const LongCase& c, std::ostream* os)
{
    *os << c.name;
}

// Text that a careless literal would break: apostrophes, backslashes, line
// ends, a NUL, and characters of two to four UTF-8 bytes, laid out so that
// every 64 KB boundary falls somewhere else inside the pattern.
const char* const kPattern[] = {
    "Hive ",      "'", "\\", "caf\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\n", "O''Brien", "\\'",
    "0123456789", "?", "\t", "--"};

// A UTF-8 value of exactly n bytes built from the pattern; the end is filled
// with ASCII so that no character is cut.
std::string narrowValue(size_t n)
{
    std::string v;
    v.reserve(n);
    for (size_t i = 0; v.size() < n; ++i) {
        const char* piece = kPattern[i % (sizeof kPattern / sizeof kPattern[0])];
        if (v.size() + std::strlen(piece) > n)
            piece = "x";
        v += piece;
        if (i % 997 == 0 && v.size() < n)
            v.push_back('\0');
    }
    return v;
}

// The same text as UTF-16 of exactly n units; a surrogate pair never
// straddles the end.
std::u16string wideValue(size_t n)
{
    const std::string narrow = narrowValue(n);
    std::u16string v;
    v.reserve(n);
    for (size_t i = 0; i < narrow.size() && v.size() < n;) {
        const auto b = static_cast<unsigned char>(narrow[i]);
        uint32_t cp = b;
        size_t width = 1;
        if (b >= 0xF0) {
            width = 4;
            cp = b & 0x07u;
        } else if (b >= 0xE0) {
            width = 3;
            cp = b & 0x0Fu;
        } else if (b >= 0xC0) {
            width = 2;
            cp = b & 0x1Fu;
        }
        for (size_t k = 1; k < width; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(narrow[i + k]) & 0x3Fu);
        i += width;
        if (cp > 0xFFFF) {
            if (v.size() + 2 > n) {
                v.push_back(u'x');
                continue;
            }
            cp -= 0x10000;
            v.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            v.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            v.push_back(static_cast<char16_t>(cp));
        }
    }
    v.resize(n, u'y');
    return v;
}

constexpr size_t kMegabyte = 1 << 20;
// Bytes of each SQLPutData piece: not a divisor of any case's size.
constexpr size_t kPieceBytes = 9973;
// Bytes asked for by each SQLGetData call on the way back.
constexpr SQLLEN kReadBytes = 30001;
constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardBytes = 16;

class Hs2LongParamSuite : public katest::Hs2Suite<katest::DriverManagerStmtSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-longparam", {"--server", "hive-3.1"}); }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement(hs2String());
    }
    std::string diags() { return diagText(SQL_HANDLE_STMT, stmt); }
    // The statement's diagnostics are 22001 with a text naming each number.
    void expectRightTruncationNaming(std::initializer_list<long long> numbers)
    {
        std::string state;
        const std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
        EXPECT_EQ("22001", state) << text;
        for (long long n : numbers)
            EXPECT_NE(std::string::npos, text.find(std::to_string(n))) << n << " in " << text;
    }

    // Column s of row id read back with SQLGetData in pieces of cType, each
    // piece's buffer fenced with guard bytes.
    std::vector<unsigned char> readBack(const std::string& table, int id, SQLSMALLINT cType)
    {
        const size_t unit = cType == SQL_C_WCHAR ? 2 : 1;
        std::vector<unsigned char> whole;
        const std::string query = "SELECT s FROM " + table + " WHERE id = " + std::to_string(id);
        EXPECT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(query.c_str()), SQL_NTS)) << diags();
        EXPECT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
        std::vector<unsigned char> buffer(kReadBytes + 2 * kGuardBytes);
        for (int calls = 0; calls < 1000; ++calls) {
            std::fill(buffer.begin(), buffer.end(), kGuard);
            unsigned char* target = buffer.data() + kGuardBytes;
            SQLLEN indicator = 0;
            const SQLRETURN rc = SQLGetData(stmt, 1, cType, target, kReadBytes, &indicator);
            if (rc == SQL_NO_DATA)
                break;
            EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diags();
            if (!SQL_SUCCEEDED(rc))
                break;
            EXPECT_NE(SQL_NULL_DATA, indicator);
            // A full buffer holds its terminator; the last piece fits whole.
            const size_t room = static_cast<size_t>(kReadBytes) - unit;
            size_t got = rc == SQL_SUCCESS_WITH_INFO ? room - room % unit : static_cast<size_t>(indicator);
            EXPECT_LE(got, room);
            got = std::min(got, room);
            whole.insert(whole.end(), target, target + got);
            for (size_t k = 0; k < kGuardBytes; ++k) {
                EXPECT_EQ(kGuard, buffer[k]) << "guard before the buffer";
                EXPECT_EQ(kGuard, buffer[kGuardBytes + kReadBytes + k]) << "guard after the buffer";
            }
            if (rc == SQL_SUCCESS)
                break;
        }
        SQLCloseCursor(stmt);
        return whole;
    }
};

class Hs2LongParam : public Hs2LongParamSuite, public ::testing::WithParamInterface<LongCase> {
protected:
    // A fresh table of its own for the case.
    std::string table() const { return std::string("long_") + GetParam().name; }

    // Inserts bytes (the C value, narrow or UTF-16) as row 1 the way the case says.
    void insert(const std::vector<unsigned char>& bytes)
    {
        const LongCase& c = GetParam();
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(("DROP TABLE IF EXISTS " + table()).c_str()), SQL_NTS))
            << diags();
        ASSERT_EQ(SQL_SUCCESS,
                  SQLExecDirect(stmt, sql(("CREATE TABLE " + table() + " (id int, s string)").c_str()), SQL_NTS))
            << diags();
        ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, sql(("INSERT INTO " + table() + " VALUES (1, ?)").c_str()), SQL_NTS))
            << diags();
        // The column size in characters, as an application states it.
        const SQLULEN columnSize = c.columnSize != 0 ? c.columnSize : c.units;
        SQLLEN length = static_cast<SQLLEN>(bytes.size());
        if (c.send == Send::Bound) {
            ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, c.cType, c.sqlType, columnSize, 0,
                                                    const_cast<unsigned char*>(bytes.data()), length, &length))
                << diags();
            ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << diags();
        } else {
            length = c.send == Send::PiecesKnownLength ? SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(bytes.size()))
                                                       : SQL_DATA_AT_EXEC;
            // The token the driver hands back names the parameter.
            auto* token = reinterpret_cast<SQLPOINTER>(intptr_t{1});
            ASSERT_EQ(SQL_SUCCESS,
                      SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, c.cType, c.sqlType, columnSize, 0, token, 0, &length))
                << diags();
            ASSERT_EQ(SQL_NEED_DATA, SQLExecute(stmt)) << diags();
            SQLPOINTER asked = nullptr;
            ASSERT_EQ(SQL_NEED_DATA, SQLParamData(stmt, &asked)) << diags();
            ASSERT_EQ(token, asked);
            // Wide pieces stay whole code units.
            const size_t piece = c.cType == SQL_C_WCHAR ? kPieceBytes + 1 : kPieceBytes;
            for (size_t at = 0; at < bytes.size(); at += piece) {
                const size_t n = std::min(piece, bytes.size() - at);
                ASSERT_EQ(SQL_SUCCESS,
                          SQLPutData(stmt, const_cast<unsigned char*>(bytes.data() + at), static_cast<SQLLEN>(n)))
                    << diags() << " at byte " << at;
            }
            ASSERT_EQ(SQL_SUCCESS, SQLParamData(stmt, &asked)) << diags();
        }
        ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
    }
};

// The C value of a case's text: UTF-8 bytes, or UTF-16 in the machine's order.
std::vector<unsigned char> valueBytes(SQLSMALLINT cType, size_t units)
{
    if (cType == SQL_C_WCHAR) {
        const std::u16string w = wideValue(units);
        std::vector<unsigned char> out(w.size() * 2);
        std::memcpy(out.data(), w.data(), out.size());
        return out;
    }
    const std::string n = narrowValue(units);
    return {n.begin(), n.end()};
}

void expectSameBytes(const std::vector<unsigned char>& sent, const std::vector<unsigned char>& back)
{
    ASSERT_EQ(sent.size(), back.size());
    const auto mismatch = std::mismatch(sent.begin(), sent.end(), back.begin());
    EXPECT_TRUE(mismatch.first == sent.end()) << "first difference at byte " << (mismatch.first - sent.begin());
}

TEST_P(Hs2LongParam, AValueInsertedReadsBackByteForByte)
{
    const std::vector<unsigned char> bytes = valueBytes(GetParam().cType, GetParam().units);
    ASSERT_NO_FATAL_FAILURE(insert(bytes));
    expectSameBytes(bytes, readBack(table(), 1, GetParam().cType));
}

// The same sizes as one parameter array, which the driver may gather into
// multi-row INSERT statements: every row reads back whole.
TEST_F(Hs2LongParamSuite, ARowArrayOfLongValuesReadsBackByteForByte)
{
    const size_t sizes[] = {65535, 65536, 70001};
    constexpr size_t kRows = sizeof sizes / sizeof sizes[0];
    const struct {
        SQLSMALLINT cType;
        SQLSMALLINT sqlType;
    } forms[] = {{SQL_C_CHAR, SQL_VARCHAR}, {SQL_C_WCHAR, SQL_WVARCHAR}};
    for (const auto& form : forms) {
        SCOPED_TRACE(form.cType);
        const std::string table = form.cType == SQL_C_WCHAR ? "long_array_wide" : "long_array_narrow";
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(("DROP TABLE IF EXISTS " + table).c_str()), SQL_NTS)) << diags();
        ASSERT_EQ(SQL_SUCCESS,
                  SQLExecDirect(stmt, sql(("CREATE TABLE " + table + " (id int, s string)").c_str()), SQL_NTS))
            << diags();
        std::vector<std::vector<unsigned char>> values;
        size_t width = 0;
        for (size_t units : sizes) {
            values.push_back(valueBytes(form.cType, units));
            width = std::max(width, values.back().size());
        }
        std::vector<unsigned char> cells(width * kRows);
        std::vector<SQLLEN> lengths(kRows);
        std::vector<SQLINTEGER> ids(kRows);
        for (size_t i = 0; i < kRows; ++i) {
            std::copy(values[i].begin(), values[i].end(), cells.begin() + static_cast<std::ptrdiff_t>(i * width));
            lengths[i] = static_cast<SQLLEN>(values[i].size());
            ids[i] = static_cast<SQLINTEGER>(i + 1);
        }
        std::vector<SQLUSMALLINT> statuses(kRows, 99);
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kRows), 0));
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, statuses.data(), 0));
        ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, sql(("INSERT INTO " + table + " VALUES (?, ?)").c_str()), SQL_NTS))
            << diags();
        ASSERT_EQ(SQL_SUCCESS,
                  SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, ids.data(), 0, nullptr));
        ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, form.cType, form.sqlType, sizes[kRows - 1], 0,
                                                cells.data(), static_cast<SQLLEN>(width), lengths.data()));
        ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << diags();
        EXPECT_EQ(std::vector<SQLUSMALLINT>(kRows, SQL_PARAM_SUCCESS), statuses);
        ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0));
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0));
        for (size_t i = 0; i < kRows; ++i) {
            SCOPED_TRACE(sizes[i]);
            expectSameBytes(values[i], readBack(table, static_cast<int>(i + 1), form.cType));
        }
    }
}

const LongCase kLongCases[] = {
    {"n65535_varchar", 65535, SQL_C_CHAR, SQL_VARCHAR, Send::Bound},
    {"n65536_varchar", 65536, SQL_C_CHAR, SQL_VARCHAR, Send::Bound},
    {"n70001_varchar", 70001, SQL_C_CHAR, SQL_VARCHAR, Send::Bound},
    {"n70001_longvarchar", 70001, SQL_C_CHAR, SQL_LONGVARCHAR, Send::Bound},
    // The size SQLDescribeParam reports: a column size counts characters
    // and does not cut what is bound whole.
    {"n70001_described_size", 70001, SQL_C_CHAR, SQL_VARCHAR, Send::Bound, 999},
    {"w70001_described_size", 70001, SQL_C_WCHAR, SQL_WVARCHAR, Send::Bound, 999},
    {"n70001_size_65535", 70001, SQL_C_CHAR, SQL_VARCHAR, Send::Bound, 65535},
    {"n1m_longvarchar", kMegabyte + 1, SQL_C_CHAR, SQL_LONGVARCHAR, Send::Bound},
    {"w65535_wvarchar", 65535, SQL_C_WCHAR, SQL_WVARCHAR, Send::Bound},
    {"w65536_wvarchar", 65536, SQL_C_WCHAR, SQL_WVARCHAR, Send::Bound},
    {"w70001_wvarchar", 70001, SQL_C_WCHAR, SQL_WVARCHAR, Send::Bound},
    {"w70001_wlongvarchar", 70001, SQL_C_WCHAR, SQL_WLONGVARCHAR, Send::Bound},
    {"w1m_wlongvarchar", kMegabyte + 1, SQL_C_WCHAR, SQL_WLONGVARCHAR, Send::Bound},
    {"n65536_pieces", 65536, SQL_C_CHAR, SQL_LONGVARCHAR, Send::PiecesKnownLength},
    {"n70001_pieces", 70001, SQL_C_CHAR, SQL_LONGVARCHAR, Send::PiecesKnownLength},
    {"n70001_pieces_open", 70001, SQL_C_CHAR, SQL_LONGVARCHAR, Send::PiecesOpenLength},
    {"n70001_varchar_pieces", 70001, SQL_C_CHAR, SQL_VARCHAR, Send::PiecesOpenLength},
    {"n1m_pieces", kMegabyte + 1, SQL_C_CHAR, SQL_LONGVARCHAR, Send::PiecesKnownLength},
    {"w65536_pieces", 65536, SQL_C_WCHAR, SQL_WLONGVARCHAR, Send::PiecesKnownLength},
    {"w70001_pieces", 70001, SQL_C_WCHAR, SQL_WLONGVARCHAR, Send::PiecesKnownLength},
    {"w70001_pieces_open", 70001, SQL_C_WCHAR, SQL_WLONGVARCHAR, Send::PiecesOpenLength},
    {"w1m_pieces", kMegabyte + 1, SQL_C_WCHAR, SQL_WLONGVARCHAR, Send::PiecesOpenLength},
};

INSTANTIATE_TEST_SUITE_P(Sizes, Hs2LongParam, ::testing::ValuesIn(kLongCases),
                         [](const ::testing::TestParamInfo<LongCase>& info) { return std::string(info.param.name); });

// A value whose literal cannot fit in the text of one statement, as its
// length says: refused with the limit named before a byte of it is read
// (the buffer is far shorter than the length, so a read would be caught),
// and the statement runs with a value that fits afterwards.
TEST_F(Hs2LongParamSuite, AValueLongerThanAStatementCanHoldIsRefusedNamingTheLimit)
{
    struct Case {
        const char* what;
        SQLSMALLINT cType;
        SQLSMALLINT sqlType;
        SQLULEN columnSize;
        SQLLEN length;
    };
    const Case cases[] = {
        {"UTF-8 text", SQL_C_CHAR, SQL_LONGVARCHAR, 0, SQLLEN{3} << 30},
        {"UTF-8 text, column size given", SQL_C_CHAR, SQL_VARCHAR, SQLULEN{3} << 30, SQLLEN{3} << 30},
        {"UTF-16 text", SQL_C_WCHAR, SQL_WLONGVARCHAR, 0, SQLLEN{5} << 30},
        {"bytes sent as hexadecimal digits", SQL_C_BINARY, SQL_LONGVARBINARY, 0, (SQLLEN{1} << 30) + 1},
    };
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("DROP TABLE IF EXISTS long_refused"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("CREATE TABLE long_refused (id int, s string, b binary)"), SQL_NTS))
        << diags();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool binary = c.cType == SQL_C_BINARY;
        ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt,
                                          sql(binary ? "INSERT INTO long_refused (id, b) VALUES (7, ?)"
                                                     : "INSERT INTO long_refused (id, s) VALUES (7, ?)"),
                                          SQL_NTS))
            << diags();
        // Four bytes, whole UTF-16 units and valid UTF-8 alike.
        std::vector<unsigned char> value(4, 'a');
        SQLLEN length = c.length;
        ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, c.cType, c.sqlType, c.columnSize, 0,
                                                value.data(), static_cast<SQLLEN>(value.size()), &length))
            << diags();
        ASSERT_EQ(SQL_ERROR, SQLExecute(stmt));
        expectRightTruncationNaming({2147483647, c.length});
        length = static_cast<SQLLEN>(value.size());
        ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << diags();
        ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
    }
    SQLLEN rows = 0;
    SQLINTEGER count = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT count(*) FROM long_refused WHERE id = 7"), SQL_NTS))
        << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &count, 0, &rows)) << diags();
    EXPECT_EQ(static_cast<SQLINTEGER>(sizeof cases / sizeof cases[0]), count);
}

// Data put in pieces beyond what the binding allows: the column size of a
// VARCHAR in characters (at most four bytes each), or the length announced
// with SQL_LEN_DATA_AT_EXEC. The piece that crosses it fails with the limit
// named; the pieces before it were taken.
TEST_F(Hs2LongParamSuite, PiecesBeyondTheBindingsLimitAreRefusedNamingTheLimit)
{
    struct Case {
        const char* what;
        SQLSMALLINT sqlType;
        SQLULEN columnSize;
        SQLLEN indicator;
        size_t limit;
    };
    const Case cases[] = {
        {"the described column size", SQL_VARCHAR, 999, SQL_DATA_AT_EXEC, 4 * 999},
        {"the announced length", SQL_LONGVARCHAR, 0, SQL_LEN_DATA_AT_EXEC(70001), 70001},
    };
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("DROP TABLE IF EXISTS long_pieces"), SQL_NTS)) << diags();
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("CREATE TABLE long_pieces (id int, s string)"), SQL_NTS)) << diags();
    const std::string value = narrowValue(70002);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, sql("INSERT INTO long_pieces VALUES (1, ?)"), SQL_NTS)) << diags();
        SQLLEN indicator = c.indicator;
        auto* token = reinterpret_cast<SQLPOINTER>(intptr_t{1});
        ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, c.sqlType, c.columnSize, 0, token,
                                                0, &indicator))
            << diags();
        ASSERT_EQ(SQL_NEED_DATA, SQLExecute(stmt)) << diags();
        SQLPOINTER asked = nullptr;
        ASSERT_EQ(SQL_NEED_DATA, SQLParamData(stmt, &asked)) << diags();
        size_t at = 0;
        SQLRETURN rc = SQL_SUCCESS;
        while (at < value.size() && rc == SQL_SUCCESS) {
            const size_t n = std::min(kPieceBytes, value.size() - at);
            rc = SQLPutData(stmt, const_cast<char*>(value.data() + at), static_cast<SQLLEN>(n));
            if (rc == SQL_SUCCESS)
                at += n;
        }
        ASSERT_EQ(SQL_ERROR, rc);
        // The failing piece is the one that would have gone past the limit.
        EXPECT_LE(at, c.limit);
        EXPECT_GT(at + kPieceBytes, c.limit);
        expectRightTruncationNaming({static_cast<long long>(c.limit)});
        ASSERT_TRUE(SQL_SUCCEEDED(SQLCancel(stmt))) << diags();
        ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
    }
}

}  // namespace
