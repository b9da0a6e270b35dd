// The table load body against the bundled test server, in process through
// the ODBC exports: a table exported with ExportTableToFile loads into an
// empty table of the same shape and reads back the same; refused records
// land in the discard file byte for byte and are counted in the log; the
// first-record, record-count, surplus-field and short-record rules; the
// names of the INSERT quoted; the error tolerance stopping the load; the
// batches (counted in the server's call log), the settings that send the
// records row by row, and a batch the server refuses.
#include "bulk/bulkload.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "support/bulkserver.h"
#include "support/textfile.h"

namespace {

using katest::readFile;
using katest::u16of;

class BulkLoad : public katest::BulkServer {
protected:
    // The body inside a connection call, as an entry point would run it.
    int16_t load(const std::string& table, const std::string& data, int64_t errorTolerance, const char* log,
                 const char* discard, int64_t first = 1, int64_t count = -1)
    {
        BaseConnection* conn = handleObject()->current;
        if (conn->enterApi(kBaseApiLoadTable) != 0) {
            (void)conn->leaveApi(SQL_ERROR);
            return -1;
        }
        std::u16string t = u16of(table);
        std::u16string d = u16of(data);
        std::u16string l = log != nullptr ? u16of(log) : u"";
        std::u16string x = discard != nullptr ? u16of(discard) : u"";
        auto p = [](const std::u16string& s) { return reinterpret_cast<const uint16_t*>(s.c_str()); };
        int16_t rc =
            conn->loadTableFromFileBody(p(t), p(d), errorTolerance, -1, nullptr, log != nullptr ? p(l) : nullptr,
                                        discard != nullptr ? p(x) : nullptr, first, count, 0);
        (void)conn->leaveApi(rc == 0 ? SQL_SUCCESS : SQL_ERROR);
        // Read now: the next call on the connection clears them.
        last = diags();
        return rc;
    }

    // The diagnostics the last load left.
    std::string diagText()
    {
        std::string all;
        for (const katest::Diag& d : last)
            all += d.state + " " + d.text + "\n";
        return all;
    }

    // A source table of every kind of value the load hands over, and an
    // empty one of the same shape.
    static constexpr const char* kShape = " (id INT, name STRING, code VARCHAR(12), amount DECIMAL(10,2), "
                                          "ratio DOUBLE, born DATE, seen TIMESTAMP, flag BOOLEAN, raw BINARY)";
    void makeTables(const std::string& src, const std::vector<std::string>& targets)
    {
        ASSERT_TRUE(SQL_SUCCEEDED(exec("CREATE TABLE " + src + kShape)));
        for (const std::string& t : targets)
            ASSERT_TRUE(SQL_SUCCEEDED(exec("CREATE TABLE " + t + kShape)));
        ASSERT_TRUE(SQL_SUCCEEDED(
            exec("INSERT INTO " + src +
                 " VALUES (1, 'plain', 'a', 1.25, 0.5, '2020-01-31', '2020-01-31 10:11:12', true, unhex('00FF41')), "
                 "(2, 'quote \"inside\", comma', 'b,c', -3.00, -1.5e10, '1999-12-31', '1999-12-31 23:59:59', false, "
                 "unhex('')), "
                 "(3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
                 "(4, '', '', 0, 0, '2000-02-29', '2000-02-29 00:00:00', true, unhex('4142')), "
                 "(5, 'line\nbreak and \xC3\xA9\xC3\x9F', 'x', 99999999.99, 1e-5, '1970-01-01', "
                 "'1970-01-01 00:00:01', false, unhex('0A0D2C22'))")));
    }

    // Two tables (id INT, name STRING): a source with one row whose export
    // gives the description, and the target; the data file then holds the
    // given records instead.
    void smallSet(const std::string& src, const std::string& target, const std::string& data,
                  const std::string& records)
    {
        ASSERT_TRUE(SQL_SUCCEEDED(exec("CREATE TABLE " + src + " (id INT, name STRING)")));
        ASSERT_TRUE(SQL_SUCCEEDED(exec("INSERT INTO " + src + " VALUES (1, 'one')")));
        ASSERT_TRUE(SQL_SUCCEEDED(exec("CREATE TABLE " + target + " (id INT, name STRING)")));
        exportTo(src, data);
        std::ofstream(data, std::ios::binary | std::ios::trunc) << "\xEF\xBB\xBF// hand-made\n" << records;
    }

    std::vector<katest::Diag> last;
};

TEST_F(BulkLoad, AnExportedTableLoadsIntoAnEmptyTableOfTheSameShape)
{
    const std::string src = "load_src" + suffix;
    const std::string dst = "load_dst" + suffix;
    makeTables(src, {dst + "106", dst + "1014", dst + "1013", dst + "4"});
    // The encodings the load takes text in: UTF-8, UTF-16 in both byte
    // orders and a single-byte code page.
    for (int64_t cp : {int64_t{106}, int64_t{1014}, int64_t{1013}, int64_t{4}}) {
        SCOPED_TRACE(cp);
        const std::string data = dir.path() + "/src" + std::to_string(cp) + ".csv";
        exportTo(src, data, cp);
        const std::string log = dir.path() + "/load" + std::to_string(cp) + ".log";
        const std::string discard = dir.path() + "/load" + std::to_string(cp) + ".bad";
        const std::string target = dst + std::to_string(cp);
        EXPECT_EQ(0, load(target, data, 0, log.c_str(), discard.c_str())) << diagText();
        std::vector<std::string> expected = rows("SELECT * FROM " + src + " ORDER BY id");
        ASSERT_EQ(5u, expected.size());
        EXPECT_NE(std::string::npos, expected[4].find("break and \xC3\xA9\xC3\x9F")) << expected[4];
        EXPECT_EQ(expected, rows("SELECT * FROM " + target + " ORDER BY id"));
        std::string logText = readFile(log);
        EXPECT_NE(std::string::npos, logText.find("Number of rows read:\t5\n")) << logText;
        EXPECT_NE(std::string::npos, logText.find("Number of rows loaded:\t5\n")) << logText;
        // Nothing was refused: the discard file holds its banner only.
        std::string bad = readFile(discard);
        EXPECT_EQ(std::string::npos, bad.find("plain")) << bad;
    }
}

}  // namespace

TEST_F(BulkLoad, RefusedRecordsGoToTheDiscardFileAndTheLogCountsThem)
{
    const std::string src = "bad_src" + suffix;
    const std::string dst = "bad_dst" + suffix;
    makeTables(src, {dst});
    const std::string data = dir.path() + "/bad.csv";
    exportTo(src, data);
    // A value that is no hexadecimal text is refused before the insert; a
    // date the driver cannot read fails the insert itself.
    const std::string badHex = "6,\"six\",\"c\",1.00,1,2001-01-01,2001-01-01 00:00:00,1,0x4G\n";
    const std::string badDate = "7,\"seven\",\"c\",1.00,1,not-a-date,2001-01-01 00:00:00,1,0x41\n";
    const std::string good = "8,\"eight\",\"c\",8.00,8,2008-08-08,2008-08-08 08:08:08,0,0x08\n";
    std::ofstream(data, std::ios::binary | std::ios::app) << badHex << badDate << good;
    const std::string log = dir.path() + "/bad.log";
    const std::string discard = dir.path() + "/bad.discard";
    ASSERT_EQ(0, load(dst, data, -1, log.c_str(), discard.c_str())) << diagText();
    std::vector<std::string> loaded = rows("SELECT id FROM " + dst + " ORDER BY id");
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "4", "5", "8"}), loaded);
    // The discard file: its banner, then the two records as they stood.
    std::string bad = readFile(discard);
    ASSERT_NE(std::string::npos, bad.find("Load Started")) << bad;
    EXPECT_EQ(badHex + badDate, bad.substr(bad.size() - badHex.size() - badDate.size())) << bad;
    std::string logText = readFile(log);
    EXPECT_NE(std::string::npos, logText.find("Number of rows read:\t8\n")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Number of rows loaded:\t6\n")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Number of failed rows:\t2\n")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Row: 6; column: 9;")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Row: 7;")) << logText;
    // Some rows loaded: the load succeeds with the refusals reported, the
    // last diagnostic saying that records were rejected.
    ASSERT_FALSE(last.empty());
    EXPECT_NE(std::string::npos, diagText().find("not a hexadecimal digit")) << diagText();
    EXPECT_NE(std::string::npos, last.back().text.find("Some records were rejected")) << diagText();
}

// Binary values are pairs of hexadecimal digits: a digit left without its
// partner refuses the record, as a bad digit does.
TEST_F(BulkLoad, AnOddNumberOfHexadecimalDigitsIsRefused)
{
    const std::string src = "odd_src" + suffix;
    const std::string dst = "odd_dst" + suffix;
    makeTables(src, {dst});
    const std::string data = dir.path() + "/odd.csv";
    exportTo(src, data);
    const std::string odd = "6,\"six\",\"c\",1.00,1,2001-01-01,2001-01-01 00:00:00,1,0x414\n";
    const std::string oddSplit = "7,\"seven\",\"c\",1.00,1,2001-01-01,2001-01-01 00:00:00,1,0x4\n";
    const std::string even = "8,\"eight\",\"c\",1.00,1,2001-01-01,2001-01-01 00:00:00,1,0x4142\n";
    std::ofstream(data, std::ios::binary | std::ios::app) << odd << oddSplit << even;
    const std::string discard = dir.path() + "/odd.discard";
    ASSERT_EQ(0, load(dst, data, -1, nullptr, discard.c_str())) << diagText();
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "4", "5", "8"}), rows("SELECT id FROM " + dst + " ORDER BY id"));
    EXPECT_EQ((std::vector<std::string>{"4142"}), rows("SELECT hex(raw) FROM " + dst + " WHERE id = 8"));
    const std::string bad = readFile(discard);
    EXPECT_EQ(odd + oddSplit, bad.substr(bad.size() - odd.size() - oddSplit.size())) << bad;
    EXPECT_NE(std::string::npos, diagText().find("not a hexadecimal digit")) << diagText();
}

TEST_F(BulkLoad, TheErrorToleranceStopsTheLoadAfterTheRecordThatExceedsIt)
{
    const std::string src = "tol_src" + suffix;
    const std::string dst = "tol_dst" + suffix;
    const std::string data = dir.path() + "/tol.csv";
    smallSet(src, dst, data, "1,\"a\"\n2,\"b\"\n");
    // Two fields in place of an INT: the insert of each fails.
    std::ofstream(data, std::ios::binary | std::ios::app) << "x1,\"c\"\n3,\"d\"\nx2,\"e\"\n4,\"f\"\n";
    const std::string log = dir.path() + "/tol.log";
    EXPECT_EQ(1, load(dst, data, 0, log.c_str(), nullptr)) << diagText();
    // Rows before the stop stay; nothing after the first refused record.
    EXPECT_EQ((std::vector<std::string>{"1", "2"}), rows("SELECT id FROM " + dst + " ORDER BY id"));
    std::string logText = readFile(log);
    EXPECT_NE(std::string::npos, logText.find("The error tolerance was exceeded")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Number of rows read:\t3\n")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Number of rows loaded:\t2\n")) << logText;
    EXPECT_NE(std::string::npos, diagText().find("The error tolerance was exceeded")) << diagText();
}

TEST_F(BulkLoad, RecordsAreCountedAndShapedByTheLoadsRules)
{
    struct Case {
        const char* name;
        std::string records;
        int64_t first;
        int64_t count;
        int16_t result;
        std::vector<std::string> rows;
        const char* diagnostic;  // a text among the diagnostics, or null
    };
    const Case cases[] = {
        {"a window of the records", "1,\"a\"\n2,\"b\"\n3,\"c\"\n4,\"d\"\n", 2, 2, 0, {"2|b", "3|c"}, nullptr},
        {"no records asked for", "1,\"a\"\n", 1, 0, 1, {}, nullptr},
        {"surplus fields are dropped",
         "1,\"a\",\"extra\",9\n2,\"b\",\"more\"\n3,\"c\"\n",
         1,
         -1,
         0,
         {"1|a", "2|b", "3|c"},
         "more fields than the table has columns"},
        {"a short record gets nulls", "1\n2,\"b\"\n3", 1, -1, 0, {"1|-", "2|b", "3|-"}, nullptr},
        {"the window runs past the end", "1,\"a\"\n2,\"b\"\n", 2, 10, 0, {"2|b"}, nullptr},
        {"an empty data file", "", 1, -1, 1, {}, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tag = suffix + "_" + std::to_string(++n);
        const std::string data = dir.path() + "/rules" + tag + ".csv";
        smallSet("rules_src" + tag, "rules_dst" + tag, data, c.records);
        EXPECT_EQ(c.result, load("rules_dst" + tag, data, -1, nullptr, nullptr, c.first, c.count)) << diagText();
        EXPECT_EQ(c.rows, rows("SELECT * FROM rules_dst" + tag + " ORDER BY id"));
        if (c.diagnostic != nullptr) {
            std::string all = diagText();
            EXPECT_NE(std::string::npos, all.find(c.diagnostic)) << all;
            // Once per load, however many records have surplus fields.
            EXPECT_EQ(all.find(c.diagnostic), all.rfind(c.diagnostic)) << all;
        }
    }
}

TEST_F(BulkLoad, TheNarrowFormTakesItsNamesInTheApplicationCodePage)
{
    const std::string data = dir.path() + "/narrow.csv";
    smallSet("n_src" + suffix, "n_dst" + suffix, data, "1,\"a\"\n2,\"b\"\n");
    const std::string log = dir.path() + "/narrow.log";
    BaseConnection* conn = handleObject()->current;
    ASSERT_EQ(0, conn->enterApi(kBaseApiLoadTable));
    int16_t rc = bulkLoadTableFromFileNarrow(conn, ("n_dst" + suffix).c_str(), data.c_str(), -1, -1, nullptr,
                                             log.c_str(), nullptr, 1, -1, 0);
    (void)conn->leaveApi(rc == 0 ? SQL_SUCCESS : SQL_ERROR);
    EXPECT_EQ(0, rc) << katest::diagOf(SQL_HANDLE_DBC, dbc).text;
    EXPECT_EQ((std::vector<std::string>{"1|a", "2|b"}), rows("SELECT * FROM n_dst" + suffix + " ORDER BY id"));
    EXPECT_NE(std::string::npos, readFile(log).find("Number of rows loaded:\t2\n"));
}

TEST_F(BulkLoad, TheInsertQuotesTheTableNamePartByPart)
{
    const std::string data = dir.path() + "/quoted.csv";
    smallSet("q_src" + suffix, "q_dst" + suffix, data, "1,\"a\"\n");
    // A qualified name loads into the table it names.
    EXPECT_EQ(0, load("default.q_dst" + suffix, data, -1, nullptr, nullptr)) << diagText();
    EXPECT_EQ((std::vector<std::string>{"1|a"}), rows("SELECT * FROM q_dst" + suffix));
    // SQL in a name stays part of the name: no table of that name, and the
    // statement it carries is never run.
    EXPECT_EQ(
        1, load("q_dst" + suffix + " VALUES (7,'x'); DROP TABLE q_src" + suffix + " --", data, -1, nullptr, nullptr));
    EXPECT_EQ((std::vector<std::string>{"1|one"}), rows("SELECT * FROM q_src" + suffix));
    EXPECT_EQ((std::vector<std::string>{"1|a"}), rows("SELECT * FROM q_dst" + suffix));
}

namespace {

// The load against a test server that logs every call, so that a test can
// count the INSERT statements a load sent and have the server refuse one.
class BulkLoadBatches : public BulkLoad {
protected:
    static void SetUpTestSuite()
    {
        logDir = new katest::TempDir("ka-loadbatch");
        callLog = logDir->path() + "/calls.log";
        server = new katest::Hs2Process({"--server", "hive-3.1", "--verbose"}, callLog);
        bulkRegisterOperations();
    }
    static void TearDownTestSuite()
    {
        BulkServer::TearDownTestSuite();
        delete logDir;
        logDir = nullptr;
    }

    // The load's settings of batch size and protocol.
    void settings(uint64_t batchSize, uint32_t protocol)
    {
        BaseConnection* conn = handleObject()->current;
        conn->bulkLoadBatchSize = batchSize;
        conn->bulkLoadProtocol = protocol;
    }

    size_t logSize() { return katest::fileText(callLog).size(); }
    // INSERT statements the server was sent since the log had size mark.
    size_t insertsSince(size_t mark)
    {
        return katest::occurrences(katest::fileText(callLog).substr(mark), "ExecuteStatement INSERT INTO");
    }

    // A data file of count records (id INT, name STRING, raw BINARY): ids
    // 1..count, names with a delimiter and non-ASCII text inside their
    // quotes, some nulls, binary values of a few bytes.
    std::string manyRecords(const std::string& src, int count, std::vector<std::string>* idNames)
    {
        EXPECT_TRUE(SQL_SUCCEEDED(exec("CREATE TABLE " + src + " (id INT, name STRING, raw BINARY)")));
        EXPECT_TRUE(SQL_SUCCEEDED(exec("INSERT INTO " + src + " VALUES (1, 'one', unhex('01'))")));
        const std::string data = dir.path() + "/" + src + ".csv";
        exportTo(src, data);
        std::string records;
        static const char kHex[] = "0123456789ABCDEF";
        for (int i = 1; i <= count; ++i) {
            std::string id = std::to_string(i);
            std::string name = "row " + id + ", caf\xC3\xA9";
            std::string hex = "0x";
            for (int b = 0; b < 1 + i % 4; ++b) {
                int byte = (i * 37 + b * 101) & 0xFF;
                hex += kHex[byte >> 4];
                hex += kHex[byte & 15];
            }
            if (i % 7 == 0) {
                records += id + ",," + hex + "\n";
                idNames->push_back(id + "|-");
            } else {
                records += id + ",\"" + name + "\"," + hex + "\n";
                idNames->push_back(id + "|" + name);
            }
        }
        std::ofstream(data, std::ios::binary | std::ios::trunc) << "\xEF\xBB\xBF// made here\n" << records;
        return data;
    }

    std::vector<std::string> idsOf(const std::string& table)
    {
        std::vector<std::string> out;
        for (const std::string& row : rows("SELECT id FROM " + table))
            out.push_back(row);
        std::sort(out.begin(), out.end(),
                  [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); });
        return out;
    }

    inline static katest::TempDir* logDir = nullptr;
    inline static std::string callLog;
};

TEST_F(BulkLoadBatches, ThousandsOfRecordsLoadInBatchesAsTheyLoadRowByRow)
{
    const int count = 2500;
    std::vector<std::string> idNames;
    const std::string data = manyRecords("many_src" + suffix, count, &idNames);
    const std::string batched = "many_batched" + suffix;
    const std::string single = "many_single" + suffix;
    for (const std::string& t : {batched, single})
        ASSERT_TRUE(SQL_SUCCEEDED(exec("CREATE TABLE " + t + " (id INT, name STRING, raw BINARY)")));
    const std::string log = dir.path() + "/many.log";
    settings(1024, 0);
    size_t mark = logSize();
    ASSERT_EQ(0, load(batched, data, 0, log.c_str(), nullptr)) << diagText();
    const size_t inserts = insertsSince(mark);
    EXPECT_GE(inserts, 3u);
    EXPECT_LE(inserts, size_t(count / 100)) << "the records went nearly one by one";
    std::string logText = readFile(log);
    EXPECT_NE(std::string::npos, logText.find("Number of rows read:\t2500\n")) << logText;
    EXPECT_NE(std::string::npos, logText.find("Number of rows loaded:\t2500\n")) << logText;
    EXPECT_EQ(idNames, rows("SELECT id, name FROM " + batched + " ORDER BY id"));
    // The same file row by row gives the same table, binary values too.
    settings(1, 0);
    mark = logSize();
    ASSERT_EQ(0, load(single, data, 0, nullptr, nullptr)) << diagText();
    EXPECT_EQ(size_t(count), insertsSince(mark));
    EXPECT_EQ(rows("SELECT * FROM " + single + " ORDER BY id"), rows("SELECT * FROM " + batched + " ORDER BY id"));
}

// Row by row each record that fails its insert is counted at once: the load
// stops right after the one that exceeds the tolerance.
TEST_F(BulkLoadBatches, RowByRowTheErrorToleranceStopsAtTheRecordThatExceedsIt)
{
    const std::string src = "rtol_src" + suffix;
    const std::string data = dir.path() + "/rtol.csv";
    struct Case {
        int64_t tolerance;
        std::vector<std::string> ids;
        const char* read;
    };
    const Case cases[] = {
        {0, {"1", "2", "3", "4", "5", "6"}, "Number of rows read:\t7\n"},
        {1, {"1", "2", "3", "4", "5", "6", "8"}, "Number of rows read:\t9\n"},
        {2, {"1", "2", "3", "4", "5", "6", "8", "10"}, "Number of rows read:\t10\n"},
    };
    std::vector<std::string> targets;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        targets.push_back("rtol_dst" + suffix + "_" + std::to_string(i));
    makeTables(src, targets);
    exportTo(src, data);
    auto record = [](int id, const char* date) {
        return std::to_string(id) + ",\"r\",\"c\",1.00,1," + date + ",2001-01-01 00:00:00,1,0x41\n";
    };
    std::ofstream(data, std::ios::binary | std::ios::app)
        << record(6, "2006-06-06") << record(7, "not-a-date") << record(8, "2008-08-08") << record(9, "not-a-date")
        << record(10, "2010-10-10");
    settings(1, 0);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.tolerance);
        const std::string log = dir.path() + "/rtol" + std::to_string(i) + ".log";
        EXPECT_EQ(c.tolerance < 2 ? 1 : 0, load(targets[i], data, c.tolerance, log.c_str(), nullptr)) << diagText();
        EXPECT_EQ(c.ids, rows("SELECT id FROM " + targets[i] + " ORDER BY id"));
        const std::string logText = readFile(log);
        EXPECT_NE(std::string::npos, logText.find(c.read)) << logText;
        EXPECT_EQ(c.tolerance < 2, logText.find("The error tolerance was exceeded") != std::string::npos) << logText;
    }
}

TEST_F(BulkLoadBatches, TheSettingsChooseBetweenBatchesAndRowByRow)
{
    struct Case {
        const char* name;
        uint64_t batchSize;
        uint32_t protocol;
        int64_t recordCount;
        size_t inserts;
        size_t rowsLoaded;
    };
    const Case cases[] = {
        {"batches of 16", 16, 0, -1, 3, 40},
        {"the records to load below the batch size", 1024, 0, 25, 1, 25},
        {"a batch size of 1", 1, 0, -1, 40, 40},
        {"the row protocol", 1024, 3, -1, 40, 40},
    };
    std::vector<std::string> idNames;
    const std::string data = manyRecords("set_src" + suffix, 40, &idNames);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = "set_dst" + suffix + "_" + std::to_string(++n);
        ASSERT_TRUE(SQL_SUCCEEDED(exec("CREATE TABLE " + target + " (id INT, name STRING, raw BINARY)")));
        settings(c.batchSize, c.protocol);
        const size_t mark = logSize();
        ASSERT_EQ(0, load(target, data, 0, nullptr, nullptr, 1, c.recordCount)) << diagText();
        EXPECT_EQ(c.inserts, insertsSince(mark));
        EXPECT_EQ(std::vector<std::string>(idNames.begin(), idNames.begin() + long(c.rowsLoaded)),
                  rows("SELECT id, name FROM " + target + " ORDER BY id"));
    }
}

TEST_F(BulkLoadBatches, ABatchTheServerRefusesGoesToTheDiscardFileWhole)
{
    std::vector<std::string> idNames;
    const std::string data = manyRecords("ref_src" + suffix, 30, &idNames);
    const std::string all = readFile(data);
    settings(10, 0);
    // This session's statements, found through one only it runs; the
    // server counts them to pick the one it refuses.
    const std::string marker = "SET ka.load.marker=" + suffix;
    ASSERT_TRUE(SQL_SUCCEEDED(exec(marker)));
    std::string text = katest::fileText(callLog);
    const size_t markerAt = text.find(" ExecuteStatement " + marker);
    ASSERT_NE(std::string::npos, markerAt);
    const size_t lineAt = text.rfind('\n', markerAt) + 1;
    const std::string peer = text.substr(lineAt, markerAt - lineAt);
    auto sessionStatements = [&](const std::string& in) {
        return katest::occurrences(in, peer + " ExecuteStatement ");
    };
    // The batch of records 11-20 sits between two others; that of 21-30
    // ends with the data file.
    for (int batch : {2, 3}) {
        SCOPED_TRACE(batch);
        const std::string tag = suffix + "_" + std::to_string(batch);
        const std::string probe = "ref_probe" + tag;
        const std::string target = "ref_dst" + tag;
        for (const std::string& t : {probe, target})
            ASSERT_TRUE(SQL_SUCCEEDED(exec("CREATE TABLE " + t + " (id INT, name STRING, raw BINARY)")));
        // A load of the same shape shows how many statements a load runs up
        // to the batch.
        size_t mark = logSize();
        ASSERT_EQ(0, load(probe, data, 0, nullptr, nullptr)) << diagText();
        text = katest::fileText(callLog).substr(mark);
        size_t at = std::string::npos;
        for (int k = 0; k < batch; ++k) {
            at = text.find("ExecuteStatement INSERT INTO", at == std::string::npos ? 0 : at + 1);
            ASSERT_NE(std::string::npos, at);
        }
        const size_t upToBatch = sessionStatements(text.substr(0, at + 1));
        // The SET below is one more statement of the session.
        const size_t refused = sessionStatements(katest::fileText(callLog)) + 1 + upToBatch;
        ASSERT_TRUE(SQL_SUCCEEDED(exec("SET hs2server.fault.refuse=ExecuteStatement:" + std::to_string(refused))));

        const std::string log = dir.path() + "/refused" + tag + ".log";
        const std::string discard = dir.path() + "/refused" + tag + ".bad";
        ASSERT_EQ(0, load(target, data, -1, log.c_str(), discard.c_str())) << diagText();
        // The other batches loaded; the refused one's ten records are in the
        // discard file as the data file has them.
        const int first = 10 * (batch - 1) + 1;
        std::vector<std::string> expected;
        for (int i = 1; i <= 30; ++i)
            if (i < first || i >= first + 10)
                expected.push_back(std::to_string(i));
        EXPECT_EQ(expected, idsOf(target));
        const size_t from = all.find("\n" + std::to_string(first) + ",") + 1;
        const size_t to = batch == 3 ? all.size() : all.find("\n" + std::to_string(first + 10) + ",") + 1;
        ASSERT_LT(from, to);
        std::string bad = readFile(discard);
        ASSERT_NE(std::string::npos, bad.find("Load Started")) << bad;
        ASSERT_GE(bad.size(), to - from);
        EXPECT_EQ(all.substr(from, to - from), bad.substr(bad.size() - (to - from))) << bad;
        std::string logText = readFile(log);
        EXPECT_NE(std::string::npos, logText.find("Number of rows read:\t30\n")) << logText;
        EXPECT_NE(std::string::npos, logText.find("Number of rows loaded:\t20\n")) << logText;
        EXPECT_NE(std::string::npos, logText.find("refused by the hs2server fault")) << logText;
        ASSERT_FALSE(last.empty());
        EXPECT_NE(std::string::npos, last.back().text.find("Some records were rejected")) << diagText();
    }
}

TEST_F(BulkLoadBatches, LongValuesGoInSmallerBatches)
{
    // Twelve records whose names are 3 MB each: a batch of all of them
    // would hold 36 MB of values, twice that as UTF-16.
    const std::string src = "long_src" + suffix;
    const std::string dst = "long_dst" + suffix;
    const std::string data = dir.path() + "/long.csv";
    smallSet(src, dst, data, "");
    std::string records;
    std::vector<std::string> expected;
    for (int i = 1; i <= 12; ++i) {
        const size_t length = (size_t{3} << 20) + size_t(i);
        const char letter = char('a' + i);
        records += std::to_string(i) + ",\"" + letter + std::string(length - 2, '.') + letter + "\"\n";
        expected.push_back(std::to_string(i) + "|" + std::to_string(length) + "|" + letter + "|" + letter);
    }
    std::ofstream(data, std::ios::binary | std::ios::app) << records;
    settings(1024, 0);
    const size_t mark = logSize();
    ASSERT_EQ(0, load(dst, data, 0, nullptr, nullptr)) << diagText();
    const size_t inserts = insertsSince(mark);
    EXPECT_GT(inserts, 1u);
    EXPECT_LT(inserts, 12u);
    EXPECT_EQ(expected, rows("SELECT id, length(name), substr(name, 1, 1), substr(name, length(name), 1) FROM " + dst +
                             " ORDER BY id"));
}

}  // namespace
