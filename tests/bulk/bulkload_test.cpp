// The table load body against the bundled test server, in process through
// the ODBC exports: a table exported with ExportTableToFile loads into an
// empty table of the same shape and reads back the same; refused records
// land in the discard file byte for byte and are counted in the log; the
// first-record, record-count, surplus-field and short-record rules; the
// names of the INSERT quoted; the error tolerance stopping the load.
#include "bulk/bulkload.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/bulkserver.h"

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
        int16_t rc = conn->loadTableFromFileBody(p(t), p(d), errorTolerance, -1, nullptr,
                                                 log != nullptr ? p(l) : nullptr, discard != nullptr ? p(x) : nullptr,
                                                 first, count, 0);
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
        ASSERT_TRUE(SQL_SUCCEEDED(exec(
            "INSERT INTO " + src +
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
        {"surplus fields are dropped", "1,\"a\",\"extra\",9\n2,\"b\",\"more\"\n3,\"c\"\n", 1, -1, 0,
         {"1|a", "2|b", "3|c"}, "more fields than the table has columns"},
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
    EXPECT_EQ(1, load("q_dst" + suffix + " VALUES (7,'x'); DROP TABLE q_src" + suffix + " --", data, -1, nullptr,
                      nullptr));
    EXPECT_EQ((std::vector<std::string>{"1|one"}), rows("SELECT * FROM q_src" + suffix));
    EXPECT_EQ((std::vector<std::string>{"1|a"}), rows("SELECT * FROM q_dst" + suffix));
}
