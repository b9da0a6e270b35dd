// Result-set persistence: a described result read through the statement's
// fetch and get-data operations (a scripted source here), values of any
// length read whole, character data read wide and stored as UTF-8, the
// cursor put back on its row, the documents of both modes read back with
// xmllint and Python, and the refusals that write nothing.
#include "bulk/basexml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "bulk/xpstpersist.h"
#include "convert/basecvt.h"
#include "kamessages.h"
#include "recordsetcheck.h"
#include "support/errorscope.h"
#include "support/platformtest.h"
#include "support/u16.h"

namespace {

using katest::Cell;
using katest::ColumnSpec;
using katest::fixed;
using katest::nullCell;
using katest::textCell;
using katest::W;

std::u16string utf16Of(const std::string& utf8)
{
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        auto b = uint8_t(utf8[i]);
        size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        for (size_t k = 1; k < n; ++k)
            c = (c << 6) | (uint8_t(utf8[i + k]) & 0x3F);
        i += n;
        if (c >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
    }
    return out;
}

// A static cursor over rows held in memory. Character values are kept as
// UTF-8 and handed out as UTF-16 when asked for SQL_C_WCHAR.
struct ScriptedResult {
    std::vector<ColumnSpec> columns;
    std::vector<std::vector<Cell>> rows;
    uint64_t position = 0;   // 0 before the first row, rows.size() + 1 after the last
    uint64_t failAtRow = 0;  // a fetch onto this row fails
    uint64_t rowTotal = ~uint64_t(0);
    int fetches = 0;
    std::vector<SQLSMALLINT> cTypesRead;
    std::vector<SQLLEN> capacities;  // of every read of a long value
    std::vector<size_t> offsets;     // of the current row's values, per column

    XPstResultSource source(int wide, int64_t longColumnBuffer = 1000)
    {
        return {this, &columnCount, &describe, &rowNumber, &fetch, &getData, &setRowTotal, wide, longColumnBuffer};
    }

    static ScriptedResult& self(void* context) { return *static_cast<ScriptedResult*>(context); }
    static uint16_t columnCount(void* context) noexcept { return uint16_t(self(context).columns.size()); }
    static int describe(void* context, uint16_t column, XPstColumn* out) noexcept
    {
        const ColumnSpec& c = self(context).columns[column - 1];
        *out = {W(c.name.c_str()), c.sqlType, c.size, c.precision, c.scale, c.nullable, c.isUnsigned};
        return 0;
    }
    static uint64_t rowNumber(void* context) noexcept
    {
        auto& r = self(context);
        return r.position <= r.rows.size() ? r.position : 0;
    }
    static SQLRETURN fetch(void* context, SQLSMALLINT orientation, SQLLEN row) noexcept
    {
        auto& r = self(context);
        ++r.fetches;
        uint64_t next = orientation == SQL_FETCH_FIRST  ? 1
                        : orientation == SQL_FETCH_NEXT ? r.position + 1
                                                        : uint64_t(row);
        if (next != 0 && next == r.failAtRow) {
            errPost(MSG_XPST_VALUE_NOT_READ);
            return SQL_ERROR;
        }
        r.offsets.assign(r.columns.size(), 0);
        if (next == 0 || next > r.rows.size()) {
            r.position = next == 0 ? 0 : r.rows.size() + 1;
            return SQL_NO_DATA;
        }
        r.position = next;
        return SQL_SUCCESS;
    }
    static SQLRETURN getData(void* context, SQLUSMALLINT column, SQLSMALLINT cType, void* buffer, SQLLEN capacity,
                             SQLLEN* indicator) noexcept
    {
        auto& r = self(context);
        r.cTypesRead.push_back(cType);
        if (cType == SQL_C_WCHAR || cType == SQL_C_CHAR || cType == SQL_C_BINARY)
            r.capacities.push_back(capacity);
        const Cell& cell = r.rows[r.position - 1][column - 1];
        size_t& offset = r.offsets[column - 1];
        if (cell.null) {
            *indicator = SQL_NULL_DATA;
            return SQL_SUCCESS;
        }
        std::string bytes = cell.bytes;
        size_t terminator = 0;
        if (cType == SQL_C_WCHAR) {
            std::u16string wide = utf16Of(cell.bytes);
            bytes.assign(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
            terminator = 2;
        } else if (cType == SQL_C_CHAR) {
            terminator = 1;
        } else if (cType != SQL_C_BINARY) {
            memcpy(buffer, bytes.data(), bytes.size());
            *indicator = SQLLEN(bytes.size());
            return SQL_SUCCESS;
        }
        if (offset > 0 && offset >= bytes.size())
            return SQL_NO_DATA;
        size_t left = bytes.size() - offset;
        size_t room = size_t(capacity) - terminator;
        if (cType == SQL_C_WCHAR)
            room &= ~size_t(1);
        size_t piece = std::min(left, room);
        memcpy(buffer, bytes.data() + offset, piece);
        memset(static_cast<char*>(buffer) + piece, 0, terminator);
        *indicator = SQLLEN(left);
        offset += piece == 0 ? 1 : piece;
        return piece < left ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    static void setRowTotal(void* context, uint64_t rows) noexcept { self(context).rowTotal = rows; }
};

class BaseXmlTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TempDir dir{"basexml"};

    std::vector<std::string> filesInDir()
    {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename() != "expected.json")
                out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    bool posted(uint16_t number)
    {
        for (size_t i = 0; i < errors.size(); ++i)
            if (errors.native(i) == number)
                return true;
        return false;
    }
    std::string check(const std::string& data, const ScriptedResult& r, const std::string& schema = "")
    {
        return katest::checkRecordSet(data, r.columns, r.rows, dir.path() + "/expected.json", schema);
    }
    static int persist(ScriptedResult& r, const std::string& target, int32_t mode, int wide = 1)
    {
        std::u16string path(target.begin(), target.end());
        return xmlPersistResult(r.source(wide), W(path.c_str()), -1, mode);
    }
};

ScriptedResult sample()
{
    ScriptedResult r;
    r.columns = {
        {u"id", SQL_INTEGER, 10, 0, 0, 0, 0, "id", "int"},
        {u"name", SQL_VARCHAR, 20, 0, 0, 1, 0, "name", "string|maxLength=20"},
        {u"code", SQL_CHAR, 4, 0, 0, 1, 0, "code", "string|length=4"},
        {u"price", SQL_DECIMAL, 12, 10, 2, 1, 0, "price", "decimal|precision=10|scale=2"},
        {u"ratio", SQL_DOUBLE, 15, 0, 0, 1, 0, "ratio", "double"},
        {u"born", SQL_TYPE_DATE, 10, 0, 0, 1, 0, "born", "date"},
        {u"blob", SQL_VARBINARY, 100, 0, 0, 1, 0, "blob", "binary|encoding=hex|maxLength=100"},
    };
    for (int32_t i = 1; i <= 7; ++i) {
        std::string name = "n\xC3\xA4me <" + std::to_string(i) + ">";
        r.rows.push_back({fixed<int32_t>(i, std::to_string(i)), i == 4 ? nullCell() : textCell(name, name),
                          textCell("\xE6\x97\xA5", "\xE6\x97\xA5   "), textCell("12.50", "12.50"),
                          fixed<double>(i / 4.0, std::to_string(i / 4.0), 'f'),
                          fixed<SQL_DATE_STRUCT>({int16_t(1990 + i), 2, 28}, std::to_string(1990 + i) + "-02-28"),
                          textCell(std::string(3, char(i)),
                                   "0" + std::to_string(i) + "0" + std::to_string(i) + "0" + std::to_string(i))});
    }
    return r;
}

TEST_F(BaseXmlTest, OneDocumentReadsBackAndTheCursorReturnsToItsRow)
{
    ScriptedResult r = sample();
    ASSERT_EQ(ScriptedResult::fetch(&r, SQL_FETCH_ABSOLUTE, 5), SQL_SUCCESS);
    std::string target = dir.path() + "/result.xml";
    ASSERT_EQ(persist(r, target, XPST_MODE_ONE_DOCUMENT), 0);
    EXPECT_EQ(check(target, r), "OK");
    EXPECT_EQ(r.position, 5u);
    EXPECT_EQ(r.rowTotal, 7u);
    EXPECT_EQ(filesInDir(), std::vector<std::string>{"result.xml"});
    // Character columns are read wide on a wide connection, numbers in their own C types.
    EXPECT_NE(std::find(r.cTypesRead.begin(), r.cTypesRead.end(), SQL_C_WCHAR), r.cTypesRead.end());
    EXPECT_EQ(std::find(r.cTypesRead.begin(), r.cTypesRead.end(), SQL_C_CHAR), r.cTypesRead.end());
    EXPECT_NE(std::find(r.cTypesRead.begin(), r.cTypesRead.end(), SQL_C_TYPE_DATE), r.cTypesRead.end());
}

TEST_F(BaseXmlTest, SeparateSchemaReadsBackOnANarrowConnection)
{
    ScriptedResult r = sample();
    std::string target = dir.path() + "/result.dat";
    ASSERT_EQ(persist(r, target, XPST_MODE_SEPARATE_SCHEMA, 0), 0);
    EXPECT_EQ(check(target, r, dir.path() + "/result.xsd"), "OK");
    EXPECT_EQ(r.position, 0u);  // it stood before the first row
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"result.dat", "result.xsd"}));
}

TEST_F(BaseXmlTest, ValuesLongerThanTheReadLengthAreReadWhole)
{
    ScriptedResult r;
    r.columns = {{u"text", SQL_WLONGVARCHAR, 0, 0, 0, 1, 0, "text", "string"},
                 {u"bytes", SQL_LONGVARBINARY, 0, 0, 0, 1, 0, "bytes", "binary|encoding=hex"}};
    // Far beyond three times the read buffer and the 16-bit length limit,
    // with characters of one to four UTF-8 bytes across the piece edges.
    std::string text;
    while (text.size() < 70000)
        text += "a\xC3\xA4\xE6\x97\xA5\xF0\x9F\x98\x80";
    std::string bytes(40000, '\0');
    std::string hex;
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = char(i * 31);
        char pair[3];
        snprintf(pair, sizeof pair, "%02X", unsigned(uint8_t(bytes[i])));
        hex += pair;
    }
    r.rows = {{textCell(text, text), textCell(bytes, hex)}, {textCell("", ""), textCell("", "")}};
    for (int wide : {1, 0}) {
        SCOPED_TRACE(wide);
        std::string target = dir.path() + "/long.xml";
        ASSERT_EQ(persist(r, target, XPST_MODE_ONE_DOCUMENT, wide), 0);
        EXPECT_EQ(check(target, r), "OK");
    }
}

// Long values are read in pieces of three times the connection's long
// column buffer, never below its least length; the value comes whole
// whatever the piece.
TEST_F(BaseXmlTest, TheLongColumnBufferSetsThePieceLength)
{
    struct Case {
        int64_t longColumnBuffer;
        SQLLEN piece;
    };
    const Case cases[] = {{1500, 4500}, {8192, 24576}, {999, 3000}, {0, 3 * XPST_DEFAULT_LONG_COLUMN_BUFFER}};
    const std::string text(30000, 't');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.longColumnBuffer);
        ScriptedResult r;
        r.columns = {{u"text", SQL_LONGVARCHAR, 0, 0, 0, 1, 0, "text", "string"}};
        r.rows = {{textCell(text, text)}};
        std::string target = dir.path() + "/piece.xml";
        std::u16string path(target.begin(), target.end());
        ASSERT_EQ(xmlPersistResult(r.source(0, c.longColumnBuffer), W(path.c_str()), -1, XPST_MODE_ONE_DOCUMENT), 0);
        EXPECT_EQ(check(target, r), "OK");
        ASSERT_FALSE(r.capacities.empty());
        for (SQLLEN capacity : r.capacities)
            EXPECT_EQ(capacity, c.piece);
    }
}

TEST_F(BaseXmlTest, NoRowsGiveCompleteDocuments)
{
    ScriptedResult r = sample();
    r.rows.clear();
    std::string target = dir.path() + "/none.xml";
    ASSERT_EQ(persist(r, target, XPST_MODE_SEPARATE_SCHEMA), 0);
    EXPECT_EQ(check(target, r, dir.path() + "/none.xsd"), "OK");
    EXPECT_EQ(r.rowTotal, 0u);
    EXPECT_EQ(r.position, 0u);
}

TEST_F(BaseXmlTest, AFailingFetchWritesNothingAndPutsTheCursorBack)
{
    ScriptedResult r = sample();
    r.failAtRow = 6;
    ASSERT_EQ(ScriptedResult::fetch(&r, SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS);
    std::string target = dir.path() + "/failed.xml";
    std::ofstream(target) << "earlier";
    EXPECT_EQ(persist(r, target, XPST_MODE_SEPARATE_SCHEMA), 1);
    EXPECT_EQ(katest::readFile(target), "earlier");
    EXPECT_EQ(filesInDir(), std::vector<std::string>{"failed.xml"});
    EXPECT_EQ(r.position, 2u);
    EXPECT_TRUE(posted(MSG_XPST_VALUE_NOT_READ));
}

TEST_F(BaseXmlTest, RefusalsWriteNothing)
{
    ScriptedResult r = sample();
    std::string target = dir.path() + "/x.xml";
    std::u16string path(target.begin(), target.end());

    // A zero-length path makes no file anywhere, the current directory included.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    EXPECT_EQ(xmlPersistResult(r.source(1), W(path.c_str()), 0, XPST_MODE_ONE_DOCUMENT), 1);
    EXPECT_EQ(xmlPersistResult(r.source(1), W(u""), -1, XPST_MODE_ONE_DOCUMENT), 1);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(posted(MSG_XPST_ARGUMENT_INVALID));
    EXPECT_EQ(r.fetches, 0);

    errors.list.clear();
    EXPECT_EQ(persist(r, target, 3), 1);
    EXPECT_TRUE(posted(MSG_XPST_PERSIST_MODE_INVALID));

    // A type without a schema form fails before any row is read.
    errors.list.clear();
    r.columns[1].sqlType = SQL_GUID;
    r.fetches = 0;
    EXPECT_EQ(persist(r, target, XPST_MODE_ONE_DOCUMENT), 1);
    EXPECT_TRUE(posted(MSG_XPST_TYPE_UNSUPPORTED));
    EXPECT_EQ(r.fetches, 1);  // only the return to the row

    // A counted path is taken by its length, not up to a terminator.
    r = sample();
    std::u16string longer = path + u"-ignored";
    EXPECT_EQ(xmlPersistResult(r.source(1), W(longer.c_str()), int32_t(path.size()), XPST_MODE_ONE_DOCUMENT), 0);
    EXPECT_EQ(filesInDir(), std::vector<std::string>{"x.xml"});
}

TEST_F(BaseXmlTest, CTypesOfTheSqlTypes)
{
    struct Case {
        int32_t sqlType;
        int isUnsigned;
        SQLSMALLINT cType;
    };
    const Case cases[] = {
        {SQL_CHAR, 0, SQL_C_CHAR},
        {SQL_NUMERIC, 0, SQL_C_CHAR},
        {SQL_DECIMAL, 0, SQL_C_CHAR},
        {SQL_VARCHAR, 0, SQL_C_CHAR},
        {SQL_LONGVARCHAR, 0, SQL_C_CHAR},
        {SQL_WCHAR, 0, SQL_C_CHAR},
        {SQL_WVARCHAR, 0, SQL_C_CHAR},
        {SQL_WLONGVARCHAR, 0, SQL_C_CHAR},
        {kBaseSqlLongVarGraphic, 0, SQL_C_CHAR},
        {SQL_INTEGER, 0, SQL_C_SLONG},
        {SQL_INTEGER, 1, SQL_C_ULONG},
        {SQL_SMALLINT, 0, SQL_C_SSHORT},
        {SQL_SMALLINT, 1, SQL_C_USHORT},
        {SQL_TINYINT, 0, SQL_C_STINYINT},
        {SQL_TINYINT, 1, SQL_C_UTINYINT},
        {SQL_BIGINT, 0, SQL_C_SBIGINT},
        {SQL_BIGINT, 1, SQL_C_UBIGINT},
        {SQL_FLOAT, 0, SQL_C_DOUBLE},
        {SQL_DOUBLE, 0, SQL_C_DOUBLE},
        {SQL_REAL, 0, SQL_C_FLOAT},
        {SQL_TYPE_DATE, 0, SQL_C_TYPE_DATE},
        {SQL_TYPE_TIME, 0, SQL_C_TYPE_TIME},
        {SQL_TYPE_TIMESTAMP, 0, SQL_C_TYPE_TIMESTAMP},
        {SQL_BIT, 0, SQL_C_BIT},
        {SQL_BINARY, 0, SQL_C_BINARY},
        {SQL_VARBINARY, 0, SQL_C_BINARY},
        {SQL_LONGVARBINARY, 0, SQL_C_BINARY},
        {SQL_GUID, 0, 0},
        {SQL_INTERVAL_DAY, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(xmlCTypeForSqlType(c.sqlType, c.isUnsigned), c.cType) << c.sqlType;
}

TEST_F(BaseXmlTest, EntryFunctionsRefuseMissingArguments)
{
    XPstTrelliwavePersist* writer = reinterpret_cast<XPstTrelliwavePersist*>(1);
    EXPECT_EQ(XPstOpen(nullptr, 1, &writer), XPST_FAILED);
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(XPstSetColumns(nullptr, nullptr, 0), XPST_FAILED);
    EXPECT_EQ(XPstWriteRows(nullptr, nullptr, 0), XPST_FAILED);
    EXPECT_EQ(XPstClose(nullptr), XPST_FAILED);
    EXPECT_EQ(XPstCreateTempData(nullptr), XPST_FAILED);
    EXPECT_EQ(XPstTempDataAppend(nullptr, "a", 1), XPST_FAILED);
    EXPECT_EQ(XPstTempDataFree(nullptr), XPST_FAILED);
    XPstTempData* store = nullptr;
    ASSERT_EQ(XPstCreateTempData(&store), XPST_OK);
    EXPECT_EQ(XPstTempDataAppend(store, nullptr, 3), XPST_FAILED);
    EXPECT_EQ(XPstTempDataAppend(store, nullptr, -1), XPST_OK);
    EXPECT_EQ(XPstTempDataFree(store), XPST_OK);
    for (size_t i = 0; i < errors.size(); ++i)
        EXPECT_EQ(errors.native(i), MSG_XPST_ARGUMENT_INVALID);
    XPstClearErrors();
    EXPECT_EQ(errors.size(), 0u);
}

}  // namespace
