// A connection in process to the bundled test server, made through the ODBC
// exports with the bulk operations registered as the driver library does:
// for the tests of the bulk layer's bodies (the table load, the export read
// back through the record reader). Statements run through the exports;
// rows come back as UTF-8 text.
#pragma once
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bulk/bulkexport.h"
#include "odbc/bulkapi.h"
#include "support/exportfixture.h"
#include "support/hs2process.h"
#include "support/platformtest.h"

namespace katest {

// UTF-8 test text as UTF-16 (no pairs are needed here).
inline std::u16string u16of(const std::string& s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out += char16_t(b);
            i += 1;
        } else if (b < 0xE0) {
            out += char16_t((b & 0x1F) << 6 | (s[i + 1] & 0x3F));
            i += 2;
        } else {
            out += char16_t((b & 0x0F) << 12 | (s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F));
            i += 3;
        }
    }
    return out;
}

inline std::string utf8of(const char16_t* s)
{
    std::string out;
    for (; *s != 0; ++s) {
        char16_t c = *s;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

class BulkServer : public ExportFixture {
protected:
    static void SetUpTestSuite()
    {
        server = new Hs2Process({"--server", "hive-3.1"});
        bulkRegisterOperations();
    }
    static void TearDownTestSuite()
    {
        baseSetBulkOperations(nullptr);
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(0, server->port());
        ASSERT_FALSE(dir.path().empty());
        for (const char* name : {"ODBCINI", "ODBCINST", "ODBCSYSINI", "ODBCINSTINI", "ODBC_INI"})
            vars.unset(name);
        vars.set("ODBCINI", dir.path() + "/odbc.ini");
        vars.set("ODBCINST", dir.path() + "/odbcinst.ini");
        std::ofstream(dir.path() + "/odbc.ini") << "[ODBC]\n";
        std::ofstream(dir.path() + "/odbcinst.ini") << "[ODBC]\n";
        ExportFixture::SetUp();
        std::u16string in = u16of("HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20");
        SQLSMALLINT outLength = 0;
        ASSERT_TRUE(
            SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, W(in), SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT)))
            << diagOf(SQL_HANDLE_DBC, dbc).text;
        ++counter;
        suffix = std::to_string(counter);
    }

    // Runs text on a new statement; the return code.
    SQLRETURN exec(const std::string& text)
    {
        SQLHSTMT stmt = nullptr;
        EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        std::u16string wide = u16of(text);
        SQLRETURN rc = SQLExecDirectW(stmt, W(wide), SQL_NTS);
        if (!SQL_SUCCEEDED(rc))
            ADD_FAILURE() << text << ": " << diagOf(SQL_HANDLE_STMT, stmt).text;
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return rc;
    }

    // Every row of a query as text, fields separated by "|", nulls as "-".
    std::vector<std::string> rows(const std::string& query)
    {
        std::vector<std::string> out;
        SQLHSTMT stmt = nullptr;
        EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        std::u16string wide = u16of(query);
        EXPECT_TRUE(SQL_SUCCEEDED(SQLExecDirectW(stmt, W(wide), SQL_NTS))) << diagOf(SQL_HANDLE_STMT, stmt).text;
        SQLSMALLINT count = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &count));
        while (SQLFetch(stmt) == SQL_SUCCESS) {
            std::string row;
            for (SQLUSMALLINT j = 1; j <= SQLUSMALLINT(count); ++j) {
                char16_t value[512] = {};
                SQLLEN indicator = 0;
                EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, j, SQL_C_WCHAR, value, sizeof value, &indicator)));
                row += (j > 1 ? "|" : "") + (indicator == SQL_NULL_DATA ? std::string("-") : utf8of(value));
            }
            out.push_back(row);
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return out;
    }

    // Every diagnostic on the connection handle now.
    std::vector<Diag> diags()
    {
        std::vector<Diag> all;
        for (SQLSMALLINT i = 1;; ++i) {
            Diag d = diagOf(SQL_HANDLE_DBC, dbc, i);
            if (d.rc != SQL_SUCCESS)
                break;
            all.push_back(d);
        }
        return all;
    }

    // Exports table into path (UTF-8 unless said); the description lands
    // beside it.
    void exportTo(const std::string& table, const std::string& path, int64_t codePage = 106)
    {
        std::u16string t = u16of(table);
        std::u16string d = u16of(path);
        ASSERT_TRUE(SQL_SUCCEEDED(ExportTableToFileW(dbc, W(t), W(d), codePage, -1, -1, nullptr)))
            << diagOf(SQL_HANDLE_DBC, dbc).text;
    }

    inline static Hs2Process* server = nullptr;
    inline static int counter = 0;
    EnvScope vars;
    TempDir dir{"ka-bulkserver"};
    std::string suffix;
};

}  // namespace katest
