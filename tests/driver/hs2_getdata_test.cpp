// Long values read with SQLGetData in small pieces through unixODBC against
// the bundled HiveServer2 test server, in both result layouts, with the
// long-data cache and without it: on every row of the long-value table, text
// as narrow (UTF-8) and wide characters and bytes as binary (column-wise),
// the pieces put together equal the whole value the table was filled with,
// each cut piece fills its buffer and tells what is left, NULL stays NULL,
// and no piece writes past its buffer.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"
#include "support/hs2suite.h"

namespace {

using katest::diagText;

// The table's values, built here the way the server's fixture builds them:
// a pattern of 22 characters repeated to each length, bytes counting up, one
// row of characters outside the basic plane, and one row of NULLs.
const std::u32string kPattern = U"0123456789abcdefghij\u00e9\u20ac";
constexpr size_t kLengths[] = {0, 1, 127, 128, 255, 256, 1000, 4095, 4096, 65535, 65536, 1000000};
constexpr size_t kWideRowLength = 70000;

struct Expected {
    std::optional<std::u32string> text;
    std::optional<std::string> bytes;
};

std::vector<Expected> expectedRows()
{
    std::vector<Expected> rows;
    for (size_t length : kLengths) {
        std::u32string text;
        std::string bytes;
        for (size_t i = 0; i < length; ++i) {
            text.push_back(kPattern[i % kPattern.size()]);
            bytes.push_back(static_cast<char>(i % 256));
        }
        rows.push_back({text, bytes});
    }
    rows.push_back({std::u32string(kWideRowLength, U'\U0001F600'), std::string(kWideRowLength, '\0')});
    rows.push_back({std::nullopt, std::nullopt});
    return rows;
}

std::string utf8(const std::u32string& text)
{
    std::string out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// UTF-16LE bytes of the text.
std::string utf16(const std::u32string& text)
{
    std::string out;
    auto unit = [&out](uint32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (char32_t c : text) {
        if (c < 0x10000) {
            unit(c);
        } else {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

constexpr char kGuard = '\x5a';
SQLCHAR kQuery[] = "SELECT id, s, b FROM long_values ORDER BY id";
constexpr int kMaxPieces = 2000000;

// Bytes of the terminator and of one unit of cType in a buffer.
size_t terminatorOf(SQLSMALLINT cType)
{
    return cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? 2 : 0;
}

// Column c of the current row as cType, read in pieces into a buffer of
// `piece` bytes with guard bytes behind it. Applications take a cut piece as
// filling the buffer up to its terminator, to the last whole unit, and its
// length as what is left of the value: both are checked against `whole`.
std::optional<std::string> readInPieces(SQLHSTMT s, SQLUSMALLINT c, SQLSMALLINT cType, size_t piece,
                                        const std::string& whole)
{
    std::string value;
    std::vector<char> buf(piece + 4, kGuard);
    const size_t terminator = terminatorOf(cType);
    const size_t unit = cType == SQL_C_WCHAR ? 2 : 1;
    const size_t room = piece > terminator ? (piece - terminator) / unit * unit : 0;
    for (int n = 0; n < kMaxPieces; ++n) {
        SQLLEN ind = 0;
        const SQLRETURN rc = SQLGetData(s, c, cType, buf.data(), static_cast<SQLLEN>(piece), &ind);
        for (size_t g = piece; g < buf.size(); ++g)
            EXPECT_EQ(kGuard, buf[g]) << "past the buffer";
        if (rc == SQL_NO_DATA)
            return value;
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, s);
        if (!SQL_SUCCEEDED(rc))
            return "<failed>";
        if (ind == SQL_NULL_DATA)
            return std::nullopt;
        // The whole rest of the value, this piece included.
        EXPECT_EQ(static_cast<SQLLEN>(whole.size() - value.size()), ind) << "after " << value.size() << " bytes";
        const bool cut = rc == SQL_SUCCESS_WITH_INFO && ind != SQL_NO_TOTAL && static_cast<size_t>(ind) > room;
        const size_t got = cut ? room : static_cast<size_t>(ind);
        value.append(buf.data(), got);
        for (size_t t = 0; t < terminator; ++t)
            EXPECT_EQ(0, buf[got + t]) << "no terminator after the piece";
        if (!cut) {
            EXPECT_EQ(SQL_SUCCESS, rc) << diagText(SQL_HANDLE_STMT, s);
            return value;
        }
        std::string state;
        const std::string text = diagText(SQL_HANDLE_STMT, s, &state);
        EXPECT_EQ("01004", state);
        EXPECT_NE(std::string::npos, text.find("truncated (column " + std::to_string(c) + ")")) << text;
    }
    ADD_FAILURE() << "the value did not end";
    return value;
}

class Hs2GetData : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                   public ::testing::WithParamInterface<const char*> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-getdata", {"--server", "hive-3.1"}); }
    static void TearDownTestSuite()
    {
        httpServer.reset();
        Hs2Suite::TearDownTestSuite();
    }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        // The layouts over HTTP go to a second server, started on first need.
        const bool http = std::string(GetParam()).find("TransportMode=1") != std::string::npos;
        if (http && httpServer == nullptr) {
            httpServer = std::make_unique<katest::Hs2Process>(
                std::vector<std::string>{"--server", "hive-3.1", "--transport", "http"});
            ASSERT_NE(0, httpServer->port());
        }
        connectWithStatement("DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + (http ? httpServer : server)->portText() +
                             ";UID=u;PWD=p;LT=20;" + GetParam());
    }

    static inline std::unique_ptr<katest::Hs2Process> httpServer;
};

// The value of column c of a row as cType would deliver it whole.
std::string wholeValue(const Expected& want, SQLSMALLINT cType)
{
    if (!want.text.has_value())
        return {};
    return cType == SQL_C_CHAR ? utf8(*want.text) : cType == SQL_C_WCHAR ? utf16(*want.text) : *want.bytes;
}

bool rowWise(const char* param)
{
    return std::string(param).find("CSP=4") != std::string::npos;
}

TEST_P(Hs2GetData, LongValuesReadInSmallPiecesEqualTheWholeValueOnEveryRow)
{
    const std::vector<Expected> rows = expectedRows();
    // Odd sizes, so that pieces end inside multi-byte characters and
    // surrogate pairs; the narrow and wide ones leave room for the
    // terminator and one character at least. Every value, the megabyte one
    // too, in these pieces: each piece costs its own bytes only.
    struct Case {
        const char* what;
        SQLUSMALLINT column;
        SQLSMALLINT cType;
        size_t piece;
    } cases[] = {
        {"narrow text", 2, SQL_C_CHAR, 7},
        {"wide text", 2, SQL_C_WCHAR, 11},
        {"bytes", 3, SQL_C_BINARY, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The row-wise form carries every value as text, so binary values
        // with bytes above 0x7F do not travel in it: bytes are compared
        // column-wise.
        if (rowWise(GetParam()) && c.cType == SQL_C_BINARY)
            continue;
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, kQuery, SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        size_t row = 0;
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
            SCOPED_TRACE(row + 1);
            ASSERT_LT(row, rows.size());
            const Expected& want = rows[row];
            const std::string whole = wholeValue(want, c.cType);
            const std::optional<std::string> got = readInPieces(stmt, c.column, c.cType, c.piece, whole);
            ASSERT_EQ(want.text.has_value(), got.has_value());
            if (got.has_value()) {
                ASSERT_EQ(whole.size(), got->size());
                EXPECT_TRUE(whole == *got) << "the pieces differ from the value";
            }
            // The value is over: one more call says so.
            char after[8];
            SQLLEN ind = 0;
            EXPECT_EQ(SQL_NO_DATA, SQLGetData(stmt, c.column, c.cType, after, sizeof after, &ind));
            ++row;
        }
        EXPECT_EQ(SQL_NO_DATA, rc) << diagText(SQL_HANDLE_STMT, stmt);
        EXPECT_EQ(rows.size(), row);
        ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    }
}

TEST_P(Hs2GetData, ABufferWithoutRoomTellsTheWholeLengthAndTheValueFollowsWhole)
{
    // An application asks for the length first, then reads the value into a
    // buffer of that size: the first call takes nothing of the value.
    const std::vector<Expected> rows = expectedRows();
    for (SQLSMALLINT cType : {SQL_C_CHAR, SQL_C_WCHAR}) {
        SCOPED_TRACE(cType);
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, kQuery, SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        for (const Expected& want : rows) {
            ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diagText(SQL_HANDLE_STMT, stmt);
            const std::string whole = wholeValue(want, cType);
            char probe[4] = {kGuard, kGuard, kGuard, kGuard};
            SQLLEN ind = 0;
            const SQLRETURN first = SQLGetData(stmt, 2, cType, probe, 0, &ind);
            EXPECT_EQ(kGuard, probe[0]) << "a buffer of no bytes was written";
            if (!want.text.has_value()) {
                EXPECT_EQ(SQL_SUCCESS, first);
                EXPECT_EQ(SQL_NULL_DATA, ind);
                continue;
            }
            EXPECT_EQ(static_cast<SQLLEN>(whole.size()), ind);
            // An empty value with no room for its terminator may say either.
            if (whole.empty())
                continue;
            EXPECT_EQ(SQL_SUCCESS_WITH_INFO, first) << diagText(SQL_HANDLE_STMT, stmt);
            std::vector<char> buf(whole.size() + 2 + 4, kGuard);
            ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, cType, buf.data(), static_cast<SQLLEN>(whole.size() + 2), &ind))
                << diagText(SQL_HANDLE_STMT, stmt);
            ASSERT_EQ(static_cast<SQLLEN>(whole.size()), ind);
            EXPECT_TRUE(whole == std::string(buf.data(), whole.size()));
            EXPECT_EQ(kGuard, buf[whole.size() + 2]);
        }
        ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    }
}

// The same without the long-data cache.
class Hs2GetDataUncached : public Hs2GetData {};

TEST_P(Hs2GetDataUncached, AColumnReadAlreadyIsRefusedRowWise)
{
    // Without the cache row-wise values are read from the reply as they
    // come: a bound column, read at the fetch, cannot be read again, and
    // says why.
    char bound[16];
    SQLLEN boundInd = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLBindCol(stmt, 2, SQL_C_CHAR, bound, sizeof bound, &boundInd));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, kQuery, SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    for (int row = 0; row < 3; ++row)
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt))) << diagText(SQL_HANDLE_STMT, stmt);
    // The third row's text: 127 characters, 142 bytes in UTF-8.
    EXPECT_EQ(142, boundInd);
    EXPECT_EQ(std::string("0123456789abcde"), std::string(bound));
    char buf[256];
    SQLLEN ind = 0;
    std::string state;
    if (rowWise(GetParam())) {
        EXPECT_EQ(SQL_ERROR, SQLGetData(stmt, 2, SQL_C_CHAR, buf, sizeof buf, &ind));
        const std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
        EXPECT_EQ("07009", state);
        EXPECT_NE(std::string::npos, text.find("LongDataCacheSize")) << text;
    } else {
        // A column-wise block is held whole: its values read again.
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 2, SQL_C_CHAR, buf, sizeof buf, &ind))
            << diagText(SQL_HANDLE_STMT, stmt);
        EXPECT_EQ(142, ind);
    }
    // The columns after it are still there.
    EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 3, SQL_C_BINARY, buf, sizeof buf, &ind)) << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(127, ind);
    EXPECT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_UNBIND));
    EXPECT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
}

TEST_P(Hs2GetDataUncached, AnotherStatementBetweenTwoPiecesLeavesTheValueWhole)
{
    // Without the cache a row-wise value in pieces is read from the reply;
    // another statement on the connection takes the wire between two
    // pieces, and the rest of the value still follows in order (a
    // column-wise block is held whole either way).
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, kQuery, SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    for (int row = 0; row < 12; ++row)
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt))) << diagText(SQL_HANDLE_STMT, stmt);
    char buf[8];
    SQLLEN ind = 0;
    ASSERT_EQ(SQL_SUCCESS_WITH_INFO, SQLGetData(stmt, 2, SQL_C_CHAR, buf, sizeof buf, &ind));
    EXPECT_EQ(std::string("0123456"), std::string(buf));
    SQLHSTMT other = nullptr;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other));
    ASSERT_EQ(SQL_SUCCESS,
              SQLExecDirect(other, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT id FROM people")), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, other);
    EXPECT_EQ(SQL_SUCCESS, SQLFetch(other)) << diagText(SQL_HANDLE_STMT, other);
    SQLFreeHandle(SQL_HANDLE_STMT, other);
    // The rest in pieces bigger than what the driver had read ahead.
    const std::string whole = wholeValue(expectedRows()[11], SQL_C_CHAR);
    std::string rest;
    std::vector<char> piece(4097);
    SQLRETURN rc = SQL_SUCCESS_WITH_INFO;
    for (int n = 0; n < 1000 && rc == SQL_SUCCESS_WITH_INFO; ++n) {
        rc = SQLGetData(stmt, 2, SQL_C_CHAR, piece.data(), static_cast<SQLLEN>(piece.size()), &ind);
        if (SQL_SUCCEEDED(rc))
            rest += std::string(piece.data());
    }
    EXPECT_EQ(SQL_SUCCESS, rc) << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_TRUE(whole.substr(7) == rest) << "the value differs after the other statement";
    // The rows after it are read as they were.
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt))) << diagText(SQL_HANDLE_STMT, stmt);
    SQLINTEGER id = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &ind)) << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(13, id);
}

TEST_P(Hs2GetDataUncached, ALongColumnPassedOverLeavesTheColumnsAfterItInStep)
{
    // Reading forward, the binary column between the two asked for is
    // passed over without being read; the text after it is whole on every
    // row, whether the row's first column was asked for or not.
    SQLCHAR query[] = "SELECT id, b, s FROM long_values ORDER BY id";
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, query, SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    const std::vector<Expected> rows = expectedRows();
    for (size_t row = 0; row < rows.size(); ++row) {
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(stmt))) << "row " << row << ": " << diagText(SQL_HANDLE_STMT, stmt);
        SQLLEN ind = 0;
        if (row % 2 == 0) {
            SQLINTEGER id = 0;
            ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &ind)) << diagText(SQL_HANDLE_STMT, stmt);
            EXPECT_EQ(static_cast<SQLINTEGER>(row + 1), id);
        }
        const std::string whole = wholeValue(rows[row], SQL_C_CHAR);
        std::vector<char> buf(whole.size() + 1, kGuard);
        const SQLRETURN rc = SQLGetData(stmt, 3, SQL_C_CHAR, buf.data(), static_cast<SQLLEN>(buf.size()), &ind);
        ASSERT_EQ(SQL_SUCCESS, rc) << "row " << row << ": " << diagText(SQL_HANDLE_STMT, stmt);
        if (!rows[row].text.has_value()) {
            EXPECT_EQ(SQL_NULL_DATA, ind);
            continue;
        }
        ASSERT_EQ(static_cast<SQLLEN>(whole.size()), ind) << "row " << row;
        EXPECT_TRUE(whole == std::string(buf.data(), whole.size())) << "row " << row << " differs";
    }
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
}

// The result layouts, with the long-data cache and without it.
std::string layoutName(const ::testing::TestParamInfo<const char*>& info)
{
    const std::string p = info.param;
    return std::string(rowWise(info.param) ? "rows" : "columns") +
           (p.find("LDCS=-1") != std::string::npos ? "_uncached" : "");
}

INSTANTIATE_TEST_SUITE_P(Layouts, Hs2GetData, ::testing::Values("", "CSP=4;", "LDCS=-1;", "CSP=4;LDCS=-1;"),
                         layoutName);
INSTANTIATE_TEST_SUITE_P(Layouts, Hs2GetDataUncached, ::testing::Values("LDCS=-1;", "CSP=4;LDCS=-1;"), layoutName);
// Over HTTP another statement's request parks the rest of an HTTP response.
INSTANTIATE_TEST_SUITE_P(Http, Hs2GetDataUncached,
                         ::testing::Values("TransportMode=1;HTTPPath=cliservice;LDCS=-1;",
                                           "TransportMode=1;HTTPPath=cliservice;CSP=4;LDCS=-1;"),
                         layoutName);

}  // namespace
