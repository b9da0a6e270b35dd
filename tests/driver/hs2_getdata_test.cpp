// Long values read with SQLGetData in small pieces through unixODBC against
// the bundled HiveServer2 test server, in both result layouts: on every row
// of the long-value table, text as narrow (UTF-8) and wide characters and
// bytes as binary (column-wise), the pieces put together equal the whole
// value the table was filled with, NULL stays NULL, and no piece writes
// past its buffer.
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

// Column c of the current row as cType, read in pieces into a buffer of
// `piece` bytes with guard bytes behind it. A character piece is taken up
// to its terminator, so a piece the driver ends early on a whole character
// is put together right; a binary piece is the buffer or the length left.
std::optional<std::string> readInPieces(SQLHSTMT s, SQLUSMALLINT c, SQLSMALLINT cType, size_t piece)
{
    std::string value;
    std::vector<char> buf(piece + 4, kGuard);
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
        if (cType == SQL_C_CHAR) {
            value.append(buf.data(), strnlen(buf.data(), piece));
        } else if (cType == SQL_C_WCHAR) {
            size_t units = 0;
            while (2 * units + 1 < piece && (buf[2 * units] != 0 || buf[2 * units + 1] != 0))
                ++units;
            value.append(buf.data(), 2 * units);
        } else {
            const bool more = ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > piece;
            value.append(buf.data(), more ? piece : static_cast<size_t>(ind));
        }
        if (rc == SQL_SUCCESS)
            return value;
    }
    ADD_FAILURE() << "the value did not end";
    return value;
}

class Hs2GetData : public katest::Hs2Suite<katest::DriverManagerStmtSuite>,
                   public ::testing::WithParamInterface<const char*> {
protected:
    static void SetUpTestSuite()
    {
        startHs2("hs2-getdata", {"--server", "hive-3.1"});
    }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement("DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;" +
                             GetParam());
    }
};

TEST_P(Hs2GetData, LongValuesReadInSmallPiecesEqualTheWholeValueOnEveryRow)
{
    const std::vector<Expected> rows = expectedRows();
    // Odd sizes, so that pieces end inside multi-byte characters and
    // surrogate pairs; the narrow and wide ones leave room for the
    // terminator and one character at least. Values beyond kSmallPieceLimit
    // bytes are read in pieces of about 4 KB, which keeps the run short.
    constexpr size_t kSmallPieceLimit = 80000;
    struct Case {
        const char* what;
        SQLUSMALLINT column;
        SQLSMALLINT cType;
        size_t piece;
        size_t bigPiece;
    } cases[] = {
        {"narrow text", 2, SQL_C_CHAR, 7, 4093},
        {"wide text", 2, SQL_C_WCHAR, 11, 4095},
        {"bytes", 3, SQL_C_BINARY, 13, 4097},
    };
    // The row-wise form carries every value as text, so binary values with
    // bytes above 0x7F do not travel in it: bytes are compared column-wise.
    const bool rowWise = std::string(GetParam()).find("CSP=4") != std::string::npos;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (rowWise && c.cType == SQL_C_BINARY)
            continue;
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, kQuery, SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        size_t row = 0;
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
            SCOPED_TRACE(row + 1);
            ASSERT_LT(row, rows.size());
            const Expected& want = rows[row];
            std::string whole;
            if (want.text.has_value())
                whole = c.cType == SQL_C_CHAR    ? utf8(*want.text)
                        : c.cType == SQL_C_WCHAR ? utf16(*want.text)
                                                 : *want.bytes;
            const size_t piece = whole.size() > kSmallPieceLimit ? c.bigPiece : c.piece;
            const std::optional<std::string> got = readInPieces(stmt, c.column, c.cType, piece);
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

INSTANTIATE_TEST_SUITE_P(Layouts, Hs2GetData, ::testing::Values("", "CSP=4;"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param[0] == 0 ? "columns" : "rows");
                         });

}  // namespace
