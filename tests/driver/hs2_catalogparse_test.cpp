// The readers of the catalog listing over the SHOW TABLES and DESCRIBE
// results the test server writes under each server identity, fetched through
// unixODBC and the driver, the statements built with quoted names.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hive/hivecatalogparse.h"
#include "hive/hivecatalogtext.h"
#include "support/drivermanager.h"
#include "support/hs2process.h"

namespace {

using katest::diagText;

using Cell = std::optional<std::string>;

// A whole result: its column names and its cells, row after row.
struct Fetched {
    std::vector<std::string> names;
    std::vector<Cell> cells;
    std::vector<HiveCatalogCell> view;
    int32_t rows = 0;

    void makeView()
    {
        for (const Cell& c : cells)
            view.push_back(c ? HiveCatalogCell{c->data(), static_cast<int32_t>(c->size())} : HiveCatalogCell{});
    }
};

std::string text(const HiveCatalogCell& c)
{
    return c.length < 0 ? "<null>" : std::string(c.data, static_cast<size_t>(c.length));
}

class Hs2CatalogParse : public katest::DriverManagerStmtSuite, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override
    {
        server = std::make_unique<katest::Hs2Process>(std::vector<std::string>{"--server", GetParam()});
        ASSERT_NE(0, server->port());
        writeIni("hs2-catalogparse",
                 "[VYspark28]\nDescription=Driver under test\nDriver=" + katest::driverLibrary() + "\n",
                 "[ODBC]\nIANAAppCodePage=106\n");
        DriverManagerStmtSuite::SetUp();
        const std::string in = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;LT=20;";
        connectWithStatement(in);
    }
    void TearDown() override
    {
        DriverManagerStmtSuite::TearDown();
        server.reset();
    }

    // Runs the UTF-16 statement and reads every cell as UTF-8 text.
    void run(const std::u16string& statement, Fetched* out)
    {
        SCOPED_TRACE(std::string(statement.begin(), statement.end()));
        ASSERT_TRUE(SQL_SUCCEEDED(
            SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(statement.c_str())), SQL_NTS)))
            << diagText(SQL_HANDLE_STMT, stmt);
        SQLSMALLINT columns = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &columns));
        for (SQLUSMALLINT c = 1; c <= columns; ++c) {
            SQLCHAR name[256] = {};
            SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            ASSERT_EQ(SQL_SUCCESS,
                      SQLDescribeCol(stmt, c, name, sizeof name, &length, &type, &size, &digits, &nullable));
            out->names.emplace_back(reinterpret_cast<char*>(name));
        }
        for (;;) {
            const SQLRETURN rc = SQLFetch(stmt);
            if (rc == SQL_NO_DATA)
                break;
            ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diagText(SQL_HANDLE_STMT, stmt);
            for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                std::vector<char> buf(8192);
                SQLLEN indicator = 0;
                ASSERT_EQ(SQL_SUCCESS, SQLGetData(stmt, c, SQL_C_CHAR, buf.data(), SQLLEN(buf.size()), &indicator))
                    << diagText(SQL_HANDLE_STMT, stmt);
                out->cells.push_back(indicator == SQL_NULL_DATA ? Cell{}
                                                                : Cell{std::string(buf.data(), size_t(indicator))});
            }
            ++out->rows;
        }
        ASSERT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
        out->makeView();
    }

    std::u16string describe(const char16_t* db, const char16_t* table, bool formatted)
    {
        const auto* d = reinterpret_cast<const uint16_t*>(db);
        const auto* t = reinterpret_cast<const uint16_t*>(table);
        std::u16string s(256, u'\0');
        const int32_t n =
            hiveDescribeText(d, t, formatted, false, false, true, reinterpret_cast<uint16_t*>(s.data()), 256);
        s.resize(size_t(n));
        return s;
    }

    std::unique_ptr<katest::Hs2Process> server;
};

TEST_P(Hs2CatalogParse, ShowTablesIsReadByItsColumns)
{
    std::u16string show(64, u'\0');
    const std::u16string db = u"sales";
    show.resize(size_t(hiveShowTablesText(reinterpret_cast<const uint16_t*>(db.c_str()),
                                          reinterpret_cast<uint16_t*>(show.data()), 64)));
    Fetched r;
    ASSERT_NO_FATAL_FAILURE(run(show, &r));
    std::vector<HiveCatalogCell> names;
    for (const std::string& n : r.names)
        names.push_back(HiveCatalogCell{n.data(), int32_t(n.size())});
    HiveShowTablesLayout layout;
    ASSERT_EQ(0, hiveShowTablesLayout(names.data(), int16_t(names.size()), &layout));
    std::vector<std::string> tables;
    for (int32_t row = 0; row < r.rows; ++row) {
        tables.push_back(text(r.view[size_t(row) * r.names.size() + size_t(layout.table)]));
        if (layout.database >= 0) {
            EXPECT_EQ(text(r.view[size_t(row) * r.names.size() + size_t(layout.database)]), "sales");
        }
    }
    EXPECT_EQ(tables, (std::vector<std::string>{"customers", "orders"}));
}

TEST_P(Hs2CatalogParse, DescribeGivesEveryColumnWithTypeAndComment)
{
    struct Case {
        const char16_t* db;
        const char16_t* table;
        std::vector<std::string> columns;
    };
    const Case cases[] = {
        {u"sales", u"customers", {"id|int|", "name|string|", "email|varchar(64)|contact address"}},
        {u"sales",
         u"orders",
         {"order_id|bigint|", "customer_id|int|", "amount|decimal(12,2)|", "ordered_at|timestamp|",
          "status|varchar(16)|", "dt|string|"}},
        {u"default", u"v_adults", {"id|int|", "name|string|", "age|int|"}},
    };
    for (const Case& c : cases) {
        Fetched r;
        ASSERT_NO_FATAL_FAILURE(run(describe(c.db, c.table, false), &r));
        ASSERT_EQ(r.names.size(), 3u);
        int32_t first = 0;
        const int32_t n = hiveDescribedColumns(r.view.data(), r.rows, 3, &first);
        std::vector<std::string> got;
        for (int32_t i = 0; i < n; ++i) {
            HiveDescribedColumn col;
            hiveDescribedColumn(r.view.data(), 3, first, i, &col);
            got.push_back(text(col.name) + "|" + text(col.type) + "|" + text(col.comment));
        }
        EXPECT_EQ(got, c.columns);
    }
}

TEST_P(Hs2CatalogParse, FormattedDescriptionGivesTypeAndComment)
{
    struct Case {
        const char16_t* db;
        const char16_t* table;
        const char* type;
        const char* remarks;
    };
    const Case cases[] = {
        {u"sales", u"orders", "TABLE", "orders by day"},
        {u"sales", u"customers", "TABLE", ""},
        {u"default", u"people", "TABLE", "demo people"},
        {u"default", u"v_adults", "VIEW", ""},
    };
    for (const Case& c : cases) {
        Fetched r;
        ASSERT_NO_FATAL_FAILURE(run(describe(c.db, c.table, true), &r));
        ASSERT_EQ(r.names.size(), 3u);
        HiveTableDetails details;
        hiveTableDetails(r.view.data(), r.rows, 3, &details);
        EXPECT_TRUE(details.found);
        EXPECT_STREQ(details.tableType, c.type);
        EXPECT_EQ(text(details.remarks), c.remarks);
    }
}

INSTANTIATE_TEST_SUITE_P(Identities, Hs2CatalogParse, ::testing::Values("hive-1.2", "hive-2.3", "hive-3.1", "spark-3"));

}  // namespace
