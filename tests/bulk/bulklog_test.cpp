// The bulk log: the exact bytes of the banner, the export start entry, the
// row diagnostics and the totals, appended to a real file.
#include "bulk/bulklog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/platformtest.h"

namespace {

class BulkLog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        path = dir.path() + "/bulk.log";
        // A log is appended to, never truncated.
        std::ofstream(path) << "earlier\n";
        fd = open(path.c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override { close(fd); }

    std::string logged() const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        std::string all = s.str();
        EXPECT_EQ(all.rfind("earlier\n", 0), 0u);
        return all.substr(8);
    }

    katest::TempDir dir{"bulklog"};
    std::string path;
    int fd = -1;
};

TEST_F(BulkLog, DateStampHasFixedWidthFields)
{
    struct Case {
        BosLocalTime t;
        const char* stamp;
    } cases[] = {
        {{8, 12, 2026, 22, 56, 13, 0}, "2026-12-08 22:56:13"},
        {{1, 1, 999, 0, 0, 0, 0}, "0999-01-01 00:00:00"},
        {{1, 1, 10000, 100, 5, 9, 0}, "****-01-01 **:05:09"},
    };
    for (const Case& c : cases) {
        char out[KA_BULK_DATE_STAMP_LEN + 1];
        bulkFormatDateStamp(c.t, out);
        EXPECT_STREQ(out, c.stamp);
    }
}

TEST_F(BulkLog, StartBannerIsOneLineWrittenAndReturned)
{
    for (int load : {1, 0}) {
        char buffer[KA_BULK_BANNER_SIZE];
        uint64_t length = 0;
        ASSERT_EQ(bulkLogStartBanner(fd, buffer, sizeof buffer, &length, load), 0);
        std::string banner(buffer, length);
        std::regex shape(std::string("/\\*-----") + (load ? "Load" : "Export") +
                         " Started: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d-{30}\\*/\n");
        EXPECT_TRUE(std::regex_match(banner, shape)) << banner;
    }
    std::string all = logged();
    EXPECT_EQ(all.size(), 73u + 75u);
    char small[20];
    uint64_t length = 0;
    EXPECT_EQ(bulkLogStartBanner(KA_BULK_NO_LOG, small, sizeof small, &length, 1), 1);
    EXPECT_EQ(logged(), all);
}

TEST_F(BulkLog, ExportOfTenRowsWithoutDiagnostics)
{
    ASSERT_EQ(bulkLogExportStart(fd), 0);
    ASSERT_EQ(bulkLogTotals(fd, 10, 10, 0), 0);
    std::regex shape("\n// \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"
                     "\nNumber of rows read:\t\t10\n"
                     "\nNumber of rows exported:\t10\n"
                     "\nNumber of failed rows:\t\t0\n");
    std::string all = logged();
    EXPECT_TRUE(std::regex_match(all, shape)) << all;
}

TEST_F(BulkLog, LoadTotalsCountTheFailedRows)
{
    ASSERT_EQ(bulkLogTotals(fd, 5, 3, 1), 0);
    EXPECT_EQ(logged(), "\nNumber of rows read:\t5\n\nNumber of rows loaded:\t3\n\nNumber of failed rows:\t2\n");
}

TEST_F(BulkLog, RowDiagnosticsFromTheFirstNewRecord)
{
    katest::ErrorScope scope;
    errPost(MSG_XML_NESTING_TOO_DEEP)->addParamUnsigned(1);  // before the operation began
    errPostWarning(MSG_XML_NESTING_TOO_DEEP)->addParamUnsigned(2)->setRowColumn(4, 2);
    errPost(MSG_XML_NESTING_TOO_DEEP)->addParamUnsigned(3);
    bulkLogRowErrors(fd, 1, scope.list);
    EXPECT_EQ(logged(), "Row: 4; column: 2; warning: The XML file nests its elements deeper than 2 levels.\n"
                        "Row: -1; column: -1; error: The XML file nests its elements deeper than 3 levels.\n");
}

TEST_F(BulkLog, OutOfMemoryMarkComesFirst)
{
    katest::ErrorScope scope;
    errPost(MSG_XML_NESTING_TOO_DEEP)->addParamUnsigned(3);
    scope.list.outOfMemoryMark = 1;
    bulkLogRowErrors(fd, 0, scope.list);
    std::string all = logged();
    EXPECT_EQ(all.rfind("*!*!*", 0), 0u) << all;
    EXPECT_NE(all.find("\nRow: -1; column: -1; error: "), std::string::npos) << all;
}

TEST_F(BulkLog, AFailedTotalsWriteIsReported)
{
    int readOnly = open(path.c_str(), O_RDONLY);
    ASSERT_GE(readOnly, 0);
    katest::ErrorScope scope;
    EXPECT_EQ(bulkLogTotals(readOnly, 1, 1, 0), 1);
    EXPECT_GE(scope.size(), 1u);
    close(readOnly);
    EXPECT_EQ(bulkLogTotals(KA_BULK_NO_LOG, 1, 1, 0), 0);
    bulkLogRowErrors(KA_BULK_NO_LOG, 0, scope.list);
    EXPECT_EQ(logged(), "");
}

}  // namespace
