// The export read back: the files ExportTableToFile wrote, read by the
// driver's own bulk record reader, hold every value the server returns for
// the same table (SQLFetch and SQLGetData), LOB side files included, in each
// Unicode export code page. And the error tolerance: an export whose errors
// exceed it stops after the last complete row and fails, its log saying so.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <vector>

#include "bulk/bulkexport.h"
#include "bulk/bulkloadfile.h"
#include "foundation/codepage.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basestmt.h"
#include "support/bulkserver.h"
#include "support/connfixture.h"
#include "support/diagscope.h"
#include "support/teststatement.h"

namespace {

using katest::readFile;
using katest::u16of;

// Text of a field in the code page the reader names, as UTF-16 units.
// Data file text arrives in 16-bit units of the machine's order whatever
// the file's byte order; side files come as written.
std::u16string decode(const std::string& bytes, int64_t cp, bool fromLob)
{
    std::u16string out;
    if (cp == kCodePageUtf16LE || ((cp == kCodePageUtf16BE || cp == kCodePageUtf16) && !fromLob)) {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            out += char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8);
        return out;
    }
    if (cp == kCodePageUtf16BE) {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            out += char16_t(uint8_t(bytes[i]) << 8 | uint8_t(bytes[i + 1]));
        return out;
    }
    EXPECT_EQ(kCodePageUtf8, cp);
    for (size_t i = 0; i < bytes.size();) {
        auto b = uint8_t(bytes[i]);
        uint32_t c = 0;
        size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        for (size_t k = 1; k < n && i + k < bytes.size(); ++k)
            c = c << 6 | (uint8_t(bytes[i + k]) & 0x3F);
        i += n;
        if (c >= 0x10000) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

std::string unhex(const std::u16string& digits)
{
    auto value = [](char16_t u) { return u <= '9' ? u - '0' : (u | 0x20) - 'a' + 10; };
    std::string out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += char(value(digits[i]) << 4 | value(digits[i + 1]));
    return out;
}

bool isBinary(SQLSMALLINT type)
{
    return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

class ExportReadBack : public katest::BulkServer {
protected:
    // One whole field from the reader: its bytes, null flag, code page and
    // whether a side file held it. False at the end of the data.
    struct Field {
        std::string bytes;
        bool isNull = false;
        int64_t codePage = 0;
        bool fromLob = false;
    };
    bool next(BulkLoadFile& file, Field* f)
    {
        *f = Field{};
        int32_t continued = 0;
        bool first = true;
        do {
            const uint8_t* data = nullptr;
            uint64_t length = 0;
            int32_t isNull = 0;
            int64_t cp = 0;
            EXPECT_EQ(0, file.readRecord(&data, &length, &continued, &isNull, &cp)) << diag.text(0);
            if (data == nullptr)
                return false;
            if (first) {
                f->isNull = isNull != 0;
                f->codePage = cp;
                f->fromLob = file.lobFile >= 0;
                first = false;
            }
            f->bytes.append(reinterpret_cast<const char*>(data), size_t(length));
        } while (continued != 0);
        return true;
    }

    // The value the server returns for column j of the current row: UTF-16
    // text, or bytes as char16_t units for binary columns; nullopt-like
    // flag for NULL.
    std::u16string value(SQLHSTMT stmt, SQLUSMALLINT j, bool binary, bool* isNull)
    {
        std::u16string out;
        *isNull = false;
        while (true) {
            char buffer[8192];
            SQLLEN indicator = 0;
            SQLRETURN rc = SQLGetData(stmt, j, binary ? SQL_C_BINARY : SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
            if (rc == SQL_NO_DATA)
                break;
            EXPECT_TRUE(SQL_SUCCEEDED(rc)) << katest::diagOf(SQL_HANDLE_STMT, stmt).text;
            if (!SQL_SUCCEEDED(rc))
                break;
            if (indicator == SQL_NULL_DATA) {
                *isNull = true;
                break;
            }
            size_t room = binary ? sizeof buffer : sizeof buffer - 2;
            size_t n = indicator == SQL_NO_TOTAL || size_t(indicator) > room ? room : size_t(indicator);
            if (binary)
                for (size_t i = 0; i < n; ++i)
                    out += char16_t(uint8_t(buffer[i]));
            else
                out.append(reinterpret_cast<const char16_t*>(buffer), n / 2);
            if (rc == SQL_SUCCESS)
                break;
        }
        return out;
    }

    katest::DiagScope diag;
};

TEST_F(ExportReadBack, EveryFieldReadsBackAsTheServerReturnsIt)
{
    struct Case {
        const char* table;
        int64_t codePage;
        int64_t characterThreshold;
        int64_t binaryThreshold;
    };
    // Thresholds low enough that some values of each kind go to side files.
    const Case cases[] = {
        {"all_types", 106, 12, 4},
        {"all_types", 1014, 12, 4},
        {"all_types", 1013, 12, 4},
        {"long_values", 106, 1000, 1000},
        {"long_values", 1014, -1, 32768},
        // Long values inline, in pieces of the reader's chunks.
        {"long_values", 106, -1, -1},
        {"long_values", 1014, -1, -1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " " + std::to_string(c.codePage));
        BaseConnection* conn = handleObject()->current;
        conn->bulkCharacterThreshold = c.characterThreshold;
        conn->bulkBinaryThreshold = c.binaryThreshold;
        const std::string data = dir.path() + "/readback" + std::to_string(++n) + ".csv";
        exportTo(c.table, data, c.codePage);

        BulkLoadFile file;
        ASSERT_EQ(0, file.open(data.c_str(), nullptr, nullptr, nullptr, 0, BulkDelimiters{})) << diag.text(0);
        SQLHSTMT stmt = nullptr;
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        std::u16string query = u16of(std::string("SELECT * FROM ") + c.table);
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirectW(stmt, katest::W(query), SQL_NTS));
        SQLSMALLINT count = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &count));
        std::vector<SQLSMALLINT> types;
        for (SQLUSMALLINT j = 1; j <= SQLUSMALLINT(count); ++j) {
            SQLLEN type = 0;
            ASSERT_EQ(SQL_SUCCESS, SQLColAttributeW(stmt, j, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type));
            types.push_back(SQLSMALLINT(type));
        }
        size_t rowsSeen = 0;
        size_t lobFields = 0;
        Field f;
        while (SQLFetch(stmt) == SQL_SUCCESS) {
            ++rowsSeen;
            for (SQLUSMALLINT j = 1; j <= SQLUSMALLINT(count); ++j) {
                SCOPED_TRACE("row " + std::to_string(rowsSeen) + " column " + std::to_string(j));
                const SQLSMALLINT type = types[j - 1];
                bool isNull = false;
                std::u16string expected = value(stmt, j, isBinary(type), &isNull);
                ASSERT_TRUE(next(file, &f));
                EXPECT_EQ(isNull, f.isNull);
                if (isNull)
                    continue;
                lobFields += f.fromLob ? 1 : 0;
                // Fixed-length values leave their padding behind.
                if (type == SQL_CHAR || type == SQL_WCHAR)
                    expected.erase(expected.find_last_not_of(u' ') + 1);
                if (type == SQL_BINARY)
                    expected.erase(expected.find_last_not_of(u'\0') + 1);
                std::u16string got;
                if (isBinary(type) && f.fromLob) {
                    for (char b : f.bytes)
                        got += char16_t(uint8_t(b));
                } else if (isBinary(type)) {
                    for (char b : unhex(decode(f.bytes, f.codePage, false)))
                        got += char16_t(uint8_t(b));
                } else {
                    got = decode(f.bytes, f.codePage, f.fromLob);
                }
                EXPECT_TRUE(expected == got) << katest::utf8of((expected + u"|" + got).c_str());
            }
        }
        // The data file ends with the result.
        EXPECT_FALSE(next(file, &f));
        EXPECT_GT(rowsSeen, 5u);
        // Values went to side files exactly when a threshold asked for it.
        EXPECT_EQ(c.characterThreshold >= 0 || c.binaryThreshold >= 0, lobFields != 0);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        (void)file.closeFiles();
    }
}

// A statement whose fetch of chosen rows posts an error that does not fail
// the row, as a driver reporting a damaged row would.
class ErringStatement : public katest::TestStatement {
public:
    using TestStatement::TestStatement;
    std::vector<int64_t> erringRows;
    int16_t fetchRow(int16_t* noMoreRows) noexcept override
    {
        int16_t rc = TestStatement::fetchRow(noMoreRows);
        for (int64_t row : erringRows)
            if (*noMoreRows == 0 && cursor == row)
                basePostError(kBaseIdxGeneralError);
        return rc;
    }
};

class ExportTolerance : public katest::ConnectedFixture<katest::TestStmtEnv> {
protected:
    void SetUp() override
    {
        ConnectedFixture::SetUp();
        ASSERT_FALSE(dir.path().empty());
    }
    katest::TempDir dir{"ka-exporttolerance"};
};

TEST_F(ExportTolerance, ErrorsAboveTheToleranceStopTheExportAfterTheLastCompleteRow)
{
    struct Case {
        int64_t tolerance;
        std::vector<int64_t> erringRows;
        int16_t result;
        int64_t rowsWritten;
    };
    const Case cases[] = {
        {0, {2}, 1, 2},         // the row that brought the error is complete
        {1, {2, 4}, 1, 4},      // one error is tolerated, the second stops
        {2, {2, 4}, 0, 6},      // within the tolerance: the whole result
        {-1, {1, 2, 3}, 0, 6},  // unlimited
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.tolerance));
        katest::DiagScope diag;
        BaseStatement* made = nullptr;
        ASSERT_EQ(0, katest::makeStatement<ErringStatement>(&made, conn));
        auto* stmt = static_cast<ErringStatement*>(made);
        stmt->erringRows = c.erringRows;
        ASSERT_NE(SQL_ERROR, stmt->execDirect(reinterpret_cast<const uint16_t*>(u"select rows 6"), SQL_NTS));
        const std::string tag = std::to_string(++n);
        const std::u16string data = u16of(dir.path() + "/tol" + tag + ".csv");
        const std::u16string log = u16of(dir.path() + "/tol" + tag + ".log");
        EXPECT_EQ(c.result, bulkExportResultSet(stmt, reinterpret_cast<const uint16_t*>(data.c_str()), 106, c.tolerance,
                                                -1, reinterpret_cast<const uint16_t*>(log.c_str())));
        // The header's two comment lines, then the rows.
        std::string bytes = readFile(dir.path() + "/tol" + tag + ".csv");
        EXPECT_EQ(c.rowsWritten + 2, std::count(bytes.begin(), bytes.end(), '\n')) << bytes;
        std::string logText = readFile(dir.path() + "/tol" + tag + ".log");
        EXPECT_NE(std::string::npos, logText.find("Number of rows exported:\t" + std::to_string(c.rowsWritten) + "\n"))
            << logText;
        bool stopped = c.result != 0;
        EXPECT_EQ(stopped, logText.find("The error tolerance was exceeded") != std::string::npos) << logText;
        bool posted = false;
        for (size_t i = 0; i < diag.size(); ++i)
            posted = posted || diag.text(i).find("The error tolerance was exceeded") != std::string::npos;
        EXPECT_EQ(stopped, posted);
        (void)stmt->freeStmt(SQL_DROP);
    }
}

}  // namespace
