// Statement attributes that do work at the server, through unixODBC against
// the bundled HiveServer2 test server: a query that outlives its
// SQL_ATTR_QUERY_TIMEOUT ends with HYT00 and is cancelled at the server;
// attribute 1053 writes the open result set as an XML record set that
// Python's xml.etree reads back to the rows SQLFetch delivers; bookmarks on
// the forward-only result are its row numbers.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/hs2suite.h"
#include "support/textfile.h"

namespace {

using katest::diagText;

constexpr SQLINTEGER kPersistXml = 1053;
constexpr SQLINTEGER kPersistMode = 1054;

SQLCHAR* sql(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

std::string runCommand(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr)
        return "<popen failed>";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    if (pclose(p) != 0)
        out += "<failed>";
    return out;
}

// UTF-16 of an ASCII path, NUL-terminated.
std::vector<SQLWCHAR> wide(const std::string& text)
{
    std::vector<SQLWCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

// Prints the records of an XML record set as "name=value;..." lines (NULL
// columns are absent), whichever of the two layouts the file has.
constexpr const char* kReadRecords = R"(
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
ns = root.tag[:root.tag.index('}') + 1]
records = root.findall(ns + 'record')
if not records:
    records = root.find(ns + 'data').findall(ns + 'record')
for r in records:
    print(';'.join('%s=%s' % (v.tag[len(ns):], v.text or '') for v in r))
)";

class Hs2StmtAttr : public katest::Hs2Suite<katest::DriverManagerStmtSuite> {
protected:
    static void SetUpTestSuite()
    {
        // A poll is answered after at most 100 ms.
        startHs2("hs2-stmtattr", {"--long-polling-timeout", "100", "--verbose"}, true);
        script = iniDir + "/readrecords.py";
        std::ofstream(script) << kReadRecords;
    }
    void SetUp() override
    {
        DriverManagerStmtSuite::SetUp();
        connectWithStatement(hs2String("LT=20"));
    }

    // The rows of the open result as the reader script prints them.
    std::string fetchAll(SQLSMALLINT columns)
    {
        std::string out;
        std::vector<std::string> names;
        for (SQLSMALLINT c = 1; c <= columns; ++c) {
            SQLCHAR name[64] = {};
            SQLSMALLINT length = 0;
            EXPECT_EQ(SQL_SUCCESS, SQLColAttribute(stmt, c, SQL_DESC_NAME, name, sizeof name, &length, nullptr));
            names.emplace_back(reinterpret_cast<char*>(name));
        }
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
            std::string line;
            for (SQLSMALLINT c = 1; c <= columns; ++c) {
                SQLCHAR value[256] = {};
                SQLLEN indicator = 0;
                EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, c, SQL_C_CHAR, value, sizeof value, &indicator));
                if (indicator == SQL_NULL_DATA)
                    continue;
                if (!line.empty())
                    line += ";";
                line += names[c - 1] + "=" + reinterpret_cast<char*>(value);
            }
            out += line + "\n";
        }
        EXPECT_EQ(SQL_NO_DATA, rc) << diagText(SQL_HANDLE_STMT, stmt);
        return out;
    }

    std::string path(const std::string& name) const { return iniDir + "/" + name; }

    inline static std::string script;
};

TEST_F(Hs2StmtAttr, QueryOutlivingItsTimeoutEndsWithHYT00AndIsCancelledAtTheServer)
{
    // Every later operation of this session stays RUNNING for three seconds.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SET hs2server.fault.running=3000"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0))
        << diagText(SQL_HANDLE_STMT, stmt);
    SQLULEN timeout = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, &timeout, 0, nullptr));
    EXPECT_EQ(1u, timeout);
    const size_t cancelsBefore = katest::occurrences(katest::fileText(log), "CancelOperation");

    std::string state;
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(stmt, sql("SELECT id FROM people ORDER BY id"), SQL_NTS));
    const std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ("HYT00", state) << text;
    EXPECT_NE(std::string::npos, text.find("time-out of 1 seconds")) << text;
    EXPECT_EQ(cancelsBefore + 1, katest::occurrences(katest::fileText(log), "CancelOperation"))
        << katest::fileText(log);

    // A time-out the query stays within lets it run to its rows, on the
    // same statement and wire.
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(30), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id FROM people WHERE id < 3 ORDER BY id"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ("id=1\nid=2\n", fetchAll(1));
    EXPECT_EQ(cancelsBefore + 1, katest::occurrences(katest::fileText(log), "CancelOperation"));
}

TEST_F(Hs2StmtAttr, PersistedResultReadsBackToTheFetchedRowsInBothModes)
{
    const char* query = "SELECT id, name, city FROM people ORDER BY id";
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(query), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
    const std::string fetched = fetchAll(3);
    ASSERT_EQ(8u, katest::occurrences(fetched, "\n")) << fetched;
    EXPECT_NE(std::string::npos, fetched.find("id=3;name=Chloé;city=Paris")) << fetched;
    EXPECT_NE(std::string::npos, fetched.find("id=4;name=Dmitri\n")) << fetched;

    struct Case {
        SQLLEN mode;  // 0: left at its default
        const char* file;
        bool schemaFile;
    };
    for (const Case& c : {Case{0, "one.xml", false}, Case{2, "two.xml", true}}) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql(query), SQL_NTS)) << diagText(SQL_HANDLE_STMT, stmt);
        if (c.mode != 0) {
            ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, kPersistMode, reinterpret_cast<SQLPOINTER>(c.mode), 0))
                << diagText(SQL_HANDLE_STMT, stmt);
        }
        std::vector<SQLWCHAR> target = wide(path(c.file));
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttrW(stmt, kPersistXml, target.data(), SQL_NTS))
            << diagText(SQL_HANDLE_STMT, stmt);
        EXPECT_EQ(fetched, runCommand("/usr/bin/python3 " + script + " " + path(c.file)));
        const std::string schema = path(std::string(c.file).substr(0, 3) + ".xsd");
        EXPECT_EQ(c.schemaFile, access(schema.c_str(), F_OK) == 0);
        // The forward-only cursor was read to its end.
        EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
    }
}

TEST_F(Hs2StmtAttr, PersistingRefusesWhatItCannotWriteWhole)
{
    std::vector<SQLWCHAR> target = wide(path("refused.xml"));
    std::string state;
    // Nothing executed.
    EXPECT_EQ(SQL_ERROR, SQLSetStmtAttrW(stmt, kPersistXml, target.data(), SQL_NTS));
    diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ("24000", state);

    // A forward-only cursor that already delivered a row cannot give the
    // whole result any more.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id FROM people ORDER BY id"), SQL_NTS));
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    state.clear();
    EXPECT_EQ(SQL_ERROR, SQLSetStmtAttrW(stmt, kPersistXml, target.data(), SQL_NTS));
    const std::string text = diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ("HY000", state) << text;
    EXPECT_NE(std::string::npos, text.find("static cursor")) << text;
    EXPECT_NE(0, access(path("refused.xml").c_str(), F_OK));
    // The refusal cost the cursor nothing.
    SQLINTEGER id = 0;
    SQLLEN indicator = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &indicator));
    EXPECT_EQ(2, id);

    // The persist mode is set, not read.
    SQLLEN mode = 0;
    state.clear();
    EXPECT_EQ(SQL_ERROR, SQLGetStmtAttr(stmt, kPersistMode, &mode, 0, nullptr));
    diagText(SQL_HANDLE_STMT, stmt, &state);
    EXPECT_EQ("HYC00", state);
}

TEST_F(Hs2StmtAttr, ForwardOnlyBookmarksAreRowNumbers)
{
    ASSERT_EQ(SQL_SUCCESS,
              SQLSetStmtAttr(stmt, SQL_ATTR_USE_BOOKMARKS, reinterpret_cast<SQLPOINTER>(SQL_UB_VARIABLE), 0))
        << diagText(SQL_HANDLE_STMT, stmt);
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, sql("SELECT id FROM people WHERE id > 4 ORDER BY id"), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    std::vector<std::pair<SQLBIGINT, SQLINTEGER>> rows;
    while (SQLFetch(stmt) == SQL_SUCCESS) {
        SQLBIGINT bookmark = 0;
        SQLINTEGER id = 0;
        SQLLEN indicator = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 0, SQL_C_SBIGINT, &bookmark, 0, &indicator))
            << diagText(SQL_HANDLE_STMT, stmt);
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(stmt, 1, SQL_C_SLONG, &id, 0, &indicator));
        rows.emplace_back(bookmark, id);
    }
    EXPECT_EQ((std::vector<std::pair<SQLBIGINT, SQLINTEGER>>{{1, 5}, {2, 6}, {3, 7}, {4, 8}}), rows);
}

}  // namespace
