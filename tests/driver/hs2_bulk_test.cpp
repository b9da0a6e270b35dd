// The bulk exports as their callers use them: the driver loaded by unixODBC,
// its own connection handle taken from the driver manager, and
// ExportTableToFile, ValidateTableFromFile and LoadTableFromFile called
// against the bundled test server. The files are read back by Python
// (tests/driver/bulk_files_check.py) and checked for well-formedness with
// xmllint.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/hs2suite.h"
#include "support/textfile.h"

namespace {

using katest::diagText;
using katest::fileText;

using ExportFn = SQLRETURN (*)(SQLHDBC, const SQLCHAR*, const SQLCHAR*, SQLINTEGER, SQLBIGINT, SQLBIGINT,
                               const SQLCHAR*);
using ValidateFn = SQLRETURN (*)(SQLHDBC, const SQLCHAR*, const SQLCHAR*, SQLCHAR*, SQLINTEGER, SQLINTEGER*);
using LoadFn = SQLRETURN (*)(SQLHDBC, const SQLCHAR*, const SQLCHAR*, SQLBIGINT, SQLBIGINT, const SQLCHAR*,
                             const SQLCHAR*, const SQLCHAR*, SQLBIGINT, SQLBIGINT, SQLBIGINT);
using ExportWFn = SQLRETURN (*)(SQLHDBC, const SQLWCHAR*, const SQLWCHAR*, SQLBIGINT, SQLBIGINT, SQLBIGINT,
                                const SQLWCHAR*);
using ValidateWFn = SQLRETURN (*)(SQLHDBC, const SQLWCHAR*, const SQLWCHAR*, SQLWCHAR*, SQLINTEGER, SQLINTEGER*);
using DiagFn = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                             SQLSMALLINT*);

const SQLCHAR* text(const std::string& s)
{
    return reinterpret_cast<const SQLCHAR*>(s.c_str());
}

// ASCII text as UTF-16 units with a terminator.
std::u16string wide(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

const SQLWCHAR* wtext(const std::u16string& s)
{
    return reinterpret_cast<const SQLWCHAR*>(s.c_str());
}

bool exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Runs a command and returns its exit status and standard output.
int run(const std::string& command, std::string* out)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) != 0)
        out->append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Hs2Bulk : public katest::Hs2Suite<katest::DriverManagerSuite> {
protected:
    static void SetUpTestSuite() { startHs2("hs2-bulk", {"--server", "hive-3.1"}); }
    void SetUp() override
    {
        DriverManagerSuite::SetUp();
        ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(hs2String("LT=20")))) << diagText(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, SQL_DRIVER_HDBC, &driverDbc, sizeof driverDbc, nullptr));
        // The driver manager has loaded the driver: its bulk exports are
        // reached the way an application reaches them.
        library = dlopen(katest::driverLibrary().c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(nullptr, library) << dlerror();
        exportTable = reinterpret_cast<ExportFn>(dlsym(library, "ExportTableToFile"));
        validateTable = reinterpret_cast<ValidateFn>(dlsym(library, "ValidateTableFromFile"));
        loadTable = reinterpret_cast<LoadFn>(dlsym(library, "LoadTableFromFile"));
        bulkDiag = reinterpret_cast<DiagFn>(dlsym(library, "GetBulkDiagRec"));
        ASSERT_TRUE(exportTable && validateTable && loadTable && bulkDiag);
        dir = iniDir + "/files-" + std::to_string(++counter);
        ASSERT_EQ(0, system(("mkdir -p '" + dir + "'").c_str()));
    }
    void TearDown() override
    {
        SQLDisconnect(dbc);
        if (library != nullptr)
            dlclose(library);
        DriverManagerSuite::TearDown();
    }
    // Every diagnostic of the driver's connection handle.
    std::string diags()
    {
        std::string all;
        for (SQLSMALLINT i = 1;; ++i) {
            SQLCHAR state[6] = {};
            SQLCHAR message[1024] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(
                    bulkDiag(SQL_HANDLE_DBC, driverDbc, i, state, &native, message, sizeof message, &length)))
                break;
            all += std::string("[") + reinterpret_cast<char*>(state) + "] " + reinterpret_cast<char*>(message) + "\n";
        }
        return all;
    }
    // The table as the driver manager fetches it, for the Python reader to
    // compare the data file with: character values as UTF-8 text, binary
    // values as their bytes.
    void writeExpected(const std::string& table, const std::string& path)
    {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
        std::string query = "SELECT * FROM " + table;
        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, const_cast<SQLCHAR*>(text(query)), SQL_NTS))
            << diagText(SQL_HANDLE_STMT, stmt);
        SQLSMALLINT count = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &count));
        std::ofstream out(path, std::ios::binary);
        out << count << "\n";
        std::vector<SQLSMALLINT> types;
        for (SQLSMALLINT i = 1; i <= count; ++i) {
            SQLCHAR name[256] = {};
            SQLSMALLINT nameLength = 0;
            SQLSMALLINT type = 0;
            SQLULEN size = 0;
            SQLSMALLINT digits = 0;
            SQLSMALLINT nullable = 0;
            ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(stmt, SQLUSMALLINT(i), name, sizeof name, &nameLength, &type, &size,
                                                  &digits, &nullable));
            types.push_back(type);
            out << reinterpret_cast<char*>(name) << "\t" << type << "\n";
        }
        static const char kHex[] = "0123456789abcdef";
        while (SQLFetch(stmt) == SQL_SUCCESS) {
            for (SQLSMALLINT i = 1; i <= count; ++i) {
                bool binary = types[size_t(i - 1)] == SQL_BINARY || types[size_t(i - 1)] == SQL_VARBINARY ||
                              types[size_t(i - 1)] == SQL_LONGVARBINARY;
                std::string value;
                bool null = false;
                while (true) {
                    char piece[8192];
                    SQLLEN indicator = 0;
                    SQLRETURN rc = SQLGetData(stmt, SQLUSMALLINT(i), binary ? SQL_C_BINARY : SQL_C_CHAR, piece,
                                              sizeof piece, &indicator);
                    if (rc == SQL_NO_DATA)
                        break;
                    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, stmt);
                    if (indicator == SQL_NULL_DATA) {
                        null = true;
                        break;
                    }
                    size_t room = binary ? sizeof piece : sizeof piece - 1;
                    size_t n = indicator == SQL_NO_TOTAL || size_t(indicator) > room ? room : size_t(indicator);
                    value.append(piece, n);
                    if (rc == SQL_SUCCESS)
                        break;
                }
                if (null) {
                    out << "-\n";
                    continue;
                }
                for (unsigned char c : value)
                    out << kHex[c >> 4] << kHex[c & 15];
                out << "\n";
            }
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    void check(const std::string& table, const std::string& data)
    {
        std::string expected = dir + "/expected.txt";
        writeExpected(table, expected);
        std::string out;
        std::string script = katest::sourceRoot() + "/tests/driver/bulk_files_check.py";
        int status = run("/usr/bin/python3 '" + script + "' '" + data + "' '" + expected + "' 2>&1", &out);
        EXPECT_EQ(0, status) << out;
    }

    inline static int counter = 0;
    SQLHDBC driverDbc = nullptr;
    void* library = nullptr;
    ExportFn exportTable = nullptr;
    ValidateFn validateTable = nullptr;
    LoadFn loadTable = nullptr;
    DiagFn bulkDiag = nullptr;
    std::string dir;
};

TEST_F(Hs2Bulk, ExportWritesEveryTypeOfATableInTheDocumentedFormat)
{
    std::string data = dir + "/all.csv";
    std::string log = dir + "/export.log";
    SQLRETURN rc = exportTable(driverDbc, text("all_types"), text(data), 106, -1, -1, text(log));
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diags();
    std::string out;
    ASSERT_EQ(0, run("xmllint --noout '" + dir + "/all.xml' 2>&1", &out)) << out;
    // The data file against the rows the server holds, read back field by
    // field; the description against the result's columns.
    check("all_types", data);
    std::string logText = fileText(log);
    EXPECT_NE(std::string::npos, logText.find("Number of rows read:\t\t40\n")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Number of rows exported:\t40\n")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Number of failed rows:\t\t0\n")) << logText;
}

TEST_F(Hs2Bulk, AStatementExportsItsOpenResultWithAttribute1055)
{
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, const_cast<SQLCHAR*>(text("SELECT * FROM all_types")), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    // Version 1, UTF-8, no tolerances, a log beside the data file.
    int64_t description[5] = {1, 106, -1, -1, 1};
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, 1056, description, -140)) << diagText(SQL_HANDLE_STMT, stmt);
    // An upper-case extension gives way to the log's all the same.
    std::u16string data = wide(dir + "/out.CSV");
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttrW(stmt, 1055, const_cast<SQLWCHAR*>(wtext(data)), SQL_NTS))
        << diagText(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    std::string out;
    ASSERT_EQ(0, run("xmllint --noout '" + dir + "/out.xml' 2>&1", &out)) << out;
    check("all_types", dir + "/out.CSV");
    std::string logText = fileText(dir + "/out.log");
    EXPECT_NE(std::string::npos, logText.find("Number of rows exported:\t40\n")) << logText;

    // The result is read to its end: a second export finds no open result
    // only after the cursor is closed; the first file is never overwritten.
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(stmt, const_cast<SQLCHAR*>(text("SELECT * FROM all_types")), SQL_NTS));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, 1056, description, -140));
    std::string before = fileText(dir + "/out.CSV");
    EXPECT_EQ(SQL_ERROR, SQLSetStmtAttrW(stmt, 1055, const_cast<SQLWCHAR*>(wtext(data)), SQL_NTS));
    EXPECT_EQ(before, fileText(dir + "/out.CSV"));
    ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    std::u16string other = wide(dir + "/other.csv");
    EXPECT_EQ(SQL_ERROR, SQLSetStmtAttrW(stmt, 1055, const_cast<SQLWCHAR*>(wtext(other)), SQL_NTS));
    EXPECT_NE(std::string::npos, diagText(SQL_HANDLE_STMT, stmt).find("24000")) << diagText(SQL_HANDLE_STMT, stmt);
    EXPECT_FALSE(exists(dir + "/other.csv"));
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(Hs2Bulk, LongValuesGoToLobFilesBesideTheDataFile)
{
    std::string data = dir + "/long.dat";
    SQLRETURN rc = exportTable(driverDbc, text("long_values"), text(data), 106, -1, -1, nullptr);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diags();
    // Binary values of 32768 bytes and more are moved, each to its own file.
    EXPECT_TRUE(exists(dir + "/long_000001.lob"));
    EXPECT_TRUE(exists(dir + "/long_000004.lob"));
    EXPECT_FALSE(exists(dir + "/long_000005.lob"));
    check("long_values", data);
}

TEST_F(Hs2Bulk, AnExistingDataFileStopsTheExportBeforeAnythingIsWritten)
{
    std::string data = dir + "/kept.csv";
    std::ofstream(data) << "precious";
    std::ofstream(dir + "/kept.xml") << "<old/>";
    SQLRETURN rc = exportTable(driverDbc, text("people"), text(data), 106, -1, -1, nullptr);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_NE(std::string::npos, diags().find("already exists")) << diags();
    EXPECT_EQ("precious", fileText(data));
    EXPECT_EQ("<old/>", fileText(dir + "/kept.xml"));
    // A data file named like its description is refused.
    rc = exportTable(driverDbc, text("people"), text(dir + "/self.xml"), 106, -1, -1, nullptr);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_FALSE(exists(dir + "/self.xml"));
}

TEST_F(Hs2Bulk, AFailedExportLeavesNoFileBehind)
{
    std::string data = dir + "/missing.csv";
    SQLRETURN rc = exportTable(driverDbc, text("no_such_table"), text(data), 106, -1, -1, nullptr);
    EXPECT_EQ(SQL_ERROR, rc);
    std::string out;
    run("ls -A '" + dir + "'", &out);
    EXPECT_EQ("", out);
}

TEST_F(Hs2Bulk, TableNamesAreQuotedPartByPart)
{
    // Every part of the argument reaches the server as a name and nothing
    // else: text after a closing quote stays inside the name, so a hostile
    // argument names a table that does not exist.
    struct Case {
        const char* table;
        bool exports;
    };
    const Case cases[] = {
        {"default.people", true},
        {"`default`.`people`", true},
        {"\"default\".\"people\"", true},
        {"people; DROP TABLE people", false},
        {"`people` UNION ALL SELECT * FROM `people`", false},
        {"default.`people` UNION ALL SELECT * FROM people --", false},
        {"\"people\" UNION ALL SELECT * FROM people", false},
        {"\"a\\\".x\" UNION ALL SELECT * FROM people --", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string data = dir + "/q" + std::to_string(++n) + ".csv";
        std::string log = dir + "/q" + std::to_string(n) + ".log";
        SQLRETURN rc = exportTable(driverDbc, text(c.table), text(data), 106, -1, -1, text(log));
        if (c.exports) {
            EXPECT_TRUE(SQL_SUCCEEDED(rc)) << c.table << "\n" << diags();
            EXPECT_NE(std::string::npos, fileText(log).find("Number of rows exported:\t8\n")) << c.table;
        } else {
            EXPECT_EQ(SQL_ERROR, rc) << c.table;
            EXPECT_FALSE(exists(data)) << c.table;
        }
    }
}

TEST_F(Hs2Bulk, AnExportedDescriptionValidatesAgainstItsTable)
{
    std::string data = dir + "/people.csv";
    ASSERT_TRUE(SQL_SUCCEEDED(exportTable(driverDbc, text("people"), text(data), 106, -1, -1, nullptr))) << diags();
    SQLCHAR messages[4096] = {};
    SQLINTEGER count = -1;
    SQLRETURN rc =
        validateTable(driverDbc, text("people"), text(dir + "/people.xml"), messages, sizeof messages, &count);
    EXPECT_EQ(SQL_SUCCESS, rc) << diags() << messages;
    EXPECT_EQ(0, count);
    // Against another table every difference is a line.
    rc = validateTable(driverDbc, text("all_types"), text(dir + "/people.xml"), messages, sizeof messages, &count);
    EXPECT_EQ(SQL_ERROR, rc) << messages;
    EXPECT_GT(count, 0);
    std::string lines = reinterpret_cast<char*>(messages);
    EXPECT_NE(std::string::npos, lines.find("c_boolean")) << lines;
    EXPECT_NE(std::string::npos, diags().find("cannot take the described data")) << diags();
    // A buffer too small for the findings fails the call, lines that fit
    // stay.
    SQLCHAR small[120] = {};
    rc = validateTable(driverDbc, text("all_types"), text(dir + "/people.xml"), small, sizeof small, &count);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_NE(std::string::npos, diags().find("22001")) << diags();
    EXPECT_LT(strlen(reinterpret_cast<char*>(small)), sizeof small);
}

TEST_F(Hs2Bulk, EveryTypeExportedValidatesAgainstItsTableInEachCodePage)
{
    // Export then validation over every type of all_types, in UTF-8 and in
    // both UTF-16 byte orders: the driver's own reader takes each
    // description and finds nothing that differs from the table.
    struct Case {
        SQLINTEGER codePage;
        const char* name;
        const char* codepageAttribute;
    };
    const Case cases[] = {{106, "utf8", "UTF-8"}, {1014, "le", "UTF-16LE"}, {1013, "be", "UTF-16BE"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string data = dir + "/" + c.name + ".csv";
        std::string description = dir + "/" + c.name + ".xml";
        ASSERT_TRUE(SQL_SUCCEEDED(exportTable(driverDbc, text("all_types"), text(data), c.codePage, -1, -1, nullptr)))
            << diags();
        std::string out;
        EXPECT_EQ(0, run("xmllint --noout '" + description + "' 2>&1", &out)) << out;
        EXPECT_NE(std::string::npos, fileText(description).find(std::string("codepage=\"") + c.codepageAttribute))
            << fileText(description);
        SQLCHAR messages[4096] = {};
        SQLINTEGER count = -1;
        SQLRETURN rc =
            validateTable(driverDbc, text("all_types"), text(description), messages, sizeof messages, &count);
        EXPECT_EQ(SQL_SUCCESS, rc) << diags() << messages;
        EXPECT_EQ(0, count) << messages;
    }
    check("all_types", dir + "/utf8.csv");
    // The UTF-16 files hold the UTF-8 file's text, unit by unit in their
    // byte order behind their own byte-order mark; only the first comment
    // line, the time of the export, may differ.
    const char* compare = R"(
import sys
u8 = open(sys.argv[1], "rb").read()
for path, mark, codec in ((sys.argv[2], b"\xff\xfe", "utf-16-le"), (sys.argv[3], b"\xfe\xff", "utf-16-be")):
    raw = open(path, "rb").read()
    if raw[:2] != mark:
        sys.exit("%s: byte-order mark %r" % (path, raw[:2]))
    if raw[2:].decode(codec).split("\n", 1)[1] != u8[3:].decode("utf-8").split("\n", 1)[1]:
        sys.exit("%s: text differs from the UTF-8 export" % path)
)";
    std::ofstream(dir + "/compare.py") << compare;
    std::string out;
    EXPECT_EQ(0, run("/usr/bin/python3 '" + dir + "/compare.py' '" + dir + "/utf8.csv' '" + dir + "/le.csv' '" + dir +
                         "/be.csv' 2>&1",
                     &out))
        << out;
}

TEST_F(Hs2Bulk, ColumnNamesWithMarkupCharactersAreEscapedAndReadBack)
{
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    SQLRETURN rc =
        SQLExecDirect(stmt,
                      const_cast<SQLCHAR*>(text("CREATE TABLE markup_names AS SELECT id AS `a<b&c`, name AS `it's>` "
                                                "FROM people")),
                      SQL_NTS);
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);

    std::string data = dir + "/markup.csv";
    ASSERT_TRUE(SQL_SUCCEEDED(exportTable(driverDbc, text("markup_names"), text(data), 106, -1, -1, nullptr)))
        << diags();
    std::string description = fileText(dir + "/markup.xml");
    EXPECT_NE(std::string::npos, description.find("a&lt;b&amp;c")) << description;
    EXPECT_NE(std::string::npos, description.find("it&apos;s&gt;")) << description;
    std::string out;
    EXPECT_EQ(0, run("xmllint --noout '" + dir + "/markup.xml' 2>&1", &out)) << out;
    // Python reads the names back as the server gave them, and the driver's
    // own reader takes the description without a finding.
    check("markup_names", data);
    SQLCHAR messages[1024] = {};
    SQLINTEGER count = -1;
    EXPECT_EQ(SQL_SUCCESS, validateTable(driverDbc, text("markup_names"), text(dir + "/markup.xml"), messages,
                                         sizeof messages, &count))
        << diags() << messages;
    EXPECT_EQ(0, count) << messages;
}

TEST_F(Hs2Bulk, AUtf16ExportWritesSixteenBitUnits)
{
    std::string data = dir + "/wide.csv";
    ASSERT_TRUE(SQL_SUCCEEDED(exportTable(driverDbc, text("people"), text(data), 1014, -1, -1, nullptr))) << diags();
    std::string bytes = fileText(data);
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(std::string("\xFF\xFE/\0/\0 \0", 8), bytes.substr(0, 8));
    // Quotes, delimiters and values alike are units in little-endian order.
    EXPECT_NE(std::string::npos, bytes.find(std::string("\"\0A\0d\0a\0\"\0,\0", 12)));
    EXPECT_NE(std::string::npos, fileText(dir + "/wide.xml").find("codepage=\"UTF-16LE\""));
}

TEST_F(Hs2Bulk, ValidationRefusesBadArgumentsAndHostileDescriptions)
{
    SQLCHAR messages[256] = {};
    SQLINTEGER count = -1;
    EXPECT_EQ(SQL_ERROR, validateTable(driverDbc, text("people"), text(dir + "/x.xml"), messages, 0, &count));
    EXPECT_NE(std::string::npos, diags().find("22001")) << diags();
    std::string hostile = dir + "/hostile.xml";
    std::ofstream(hostile) << "<?xml version=\"1.0\"?><table codepage=\"UTF-8\"><row><column datatype=\"VARCHAR\" "
                              "length=\"99999999999999999999999\">a</column></row></table>";
    EXPECT_EQ(SQL_ERROR, validateTable(driverDbc, text("people"), text(hostile), messages, sizeof messages, &count));
    EXPECT_NE(std::string::npos, diags().find("out of range")) << diags();
    std::ofstream(hostile) << "<table codepage=\"UTF-8\"><row><column datatype=\"VARCHAR\">a";
    EXPECT_EQ(SQL_ERROR, validateTable(driverDbc, text("people"), text(hostile), messages, sizeof messages, &count));
    EXPECT_NE(std::string::npos, diags().find("HY000")) << diags();
}

TEST_F(Hs2Bulk, TolerancesStopTheExportAfterTheLastCompleteRowAndFailIt)
{
    // Characters ISO-8859-1 lacks are substituted with a warning each.
    SQLDisconnect(dbc);
    ASSERT_TRUE(SQL_SUCCEEDED(driverConnect(hs2String("LT=20;RCCE=2")))) << diagText(SQL_HANDLE_DBC, dbc);
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, SQL_DRIVER_HDBC, &driverDbc, sizeof driverDbc, nullptr));
    std::string data = dir + "/latin.csv";
    std::string log = dir + "/latin.log";
    EXPECT_EQ(SQL_ERROR, exportTable(driverDbc, text("all_types"), text(data), 4, -1, 0, text(log)));
    std::string all = diags();
    EXPECT_NE(std::string::npos, all.find("warning tolerance was exceeded")) << all;
    // The first row with such a character is the fourth: it is complete,
    // and nothing after it was written.
    std::string logText = fileText(log);
    EXPECT_NE(std::string::npos, logText.find("Row: 4; column: 11; warning: ")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Row: 4; column: 19; warning: ")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Number of rows exported:\t4\n")) << logText;
    std::string bytes = fileText(data);
    EXPECT_EQ(4 + 2, std::count(bytes.begin(), bytes.end(), '\n') - std::count(bytes.begin(), bytes.end(), '\r'))
        << bytes.substr(0, 400);
    // Without a tolerance the export runs through, with its warnings.
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO,
              exportTable(driverDbc, text("all_types"), text(dir + "/all.csv"), 4, -1, -1, nullptr));
}

TEST_F(Hs2Bulk, TheWideEntryPointsShareTheNarrowOnesWork)
{
    auto exportW = reinterpret_cast<ExportWFn>(dlsym(library, "ExportTableToFileW"));
    auto validateW = reinterpret_cast<ValidateWFn>(dlsym(library, "ValidateTableFromFileW"));
    ASSERT_TRUE(exportW && validateW);
    std::u16string data = wide(dir + "/w.csv");
    ASSERT_TRUE(SQL_SUCCEEDED(exportW(driverDbc, wtext(u"people"), wtext(data), 106, -1, -1, nullptr))) << diags();
    EXPECT_TRUE(exists(dir + "/w.xml"));
    SQLWCHAR messages[2048] = {};
    SQLINTEGER count = -1;
    SQLRETURN rc = validateW(driverDbc, wtext(u"all_types"), wtext(wide(dir + "/w.xml")), messages, 2048, &count);
    EXPECT_EQ(SQL_ERROR, rc);
    ASSERT_GT(count, 0);
    std::u16string lines(reinterpret_cast<const char16_t*>(messages));
    EXPECT_NE(std::u16string::npos, lines.find(u"c_boolean"));
    EXPECT_EQ(size_t(count), size_t(std::count(lines.begin(), lines.end(), u'\n')));
}

TEST_F(Hs2Bulk, LoadIsRefusedWithoutADiagnostic)
{
    SQLRETURN rc =
        loadTable(driverDbc, text("people"), text(dir + "/people.csv"), -1, -1, nullptr, nullptr, nullptr, 1, 10, 64);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ("", diags());
    EXPECT_EQ(SQL_INVALID_HANDLE,
              loadTable(nullptr, text("people"), text("x"), -1, -1, nullptr, nullptr, nullptr, 1, 10, 64));
}

}  // namespace
