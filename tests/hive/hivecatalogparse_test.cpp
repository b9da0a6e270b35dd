// The readers of SHOW TABLES and DESCRIBE results, over the shapes each
// server writes.
#include "hive/hivecatalogparse.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;
const Cell kNull = std::nullopt;

// Keeps the texts alive while the parser looks at them.
struct Result {
    std::vector<Row> rows;
    std::vector<HiveCatalogCell> cells;
    explicit Result(std::vector<Row> r) : rows(std::move(r))
    {
        for (const Row& row : rows) {
            for (const Cell& c : row) {
                cells.push_back(c ? HiveCatalogCell{c->data(), static_cast<int32_t>(c->size())} : HiveCatalogCell{});
            }
        }
        // Exactly the cells, so that a read past them is a heap overflow.
        cells.shrink_to_fit();
    }
    int32_t count() const { return static_cast<int32_t>(rows.size()); }
    // Cells per row: those of the first row, as a result's metadata gives them.
    int32_t width() const { return rows.empty() ? 3 : static_cast<int32_t>(rows[0].size()); }
};

std::string text(const HiveCatalogCell& c)
{
    return c.length < 0 ? "<null>" : std::string(c.data, static_cast<size_t>(c.length));
}

std::string pad(const std::string& s)
{
    return s.size() >= 20 ? s : s + std::string(20 - s.size(), ' ');
}

TEST(HiveShowTablesLayout, ChosenByColumnNamesNotVersion)
{
    struct Case {
        std::vector<std::string> names;
        int16_t status, database, table, temporary;
    };
    const Case cases[] = {
        {{"tab_name"}, 0, -1, 0, -1},
        {{"database", "tableName", "isTemporary"}, 0, 0, 1, 2},
        {{"namespace", "tableName", "isTemporary"}, 0, 0, 1, 2},
        {{"TAB_NAME   "}, 0, -1, 0, -1},
        {{"something"}, 0, -1, 0, -1},
        {{"a", "b"}, 1, -1, -1, -1},
    };
    for (const Case& c : cases) {
        std::vector<HiveCatalogCell> cells;
        for (const std::string& n : c.names)
            cells.push_back(HiveCatalogCell{n.data(), static_cast<int32_t>(n.size())});
        HiveShowTablesLayout layout;
        EXPECT_EQ(hiveShowTablesLayout(cells.data(), static_cast<int16_t>(cells.size()), &layout), c.status);
        EXPECT_EQ(layout.database, c.database);
        EXPECT_EQ(layout.table, c.table);
        EXPECT_EQ(layout.temporary, c.temporary);
    }
}

std::vector<std::string> columnsOf(const Result& r)
{
    int32_t first = -1;
    const int32_t n = hiveDescribedColumns(r.cells.data(), r.count(), r.width(), &first);
    std::vector<std::string> out;
    for (int32_t i = 0; i < n; ++i) {
        HiveDescribedColumn col;
        hiveDescribedColumn(r.cells.data(), r.width(), first, i, &col);
        out.push_back(text(col.name) + "|" + text(col.type) + "|" + text(col.comment));
    }
    return out;
}

TEST(HiveDescribedColumns, EveryShapeGivesTheSameColumns)
{
    const std::vector<std::string> want = {"id|int|", "größe|string|the size", "ds|string|"};
    const Row blank = {"", kNull, kNull};
    // Hive 1.2 and 2.3 FORMATTED: padded header and a blank row.
    const Result padded({{pad("# col_name"), pad("data_type"), pad("comment")},
                         blank,
                         {"id", "int", ""},
                         {"größe", "string", "the size"},
                         {"ds", "string", ""},
                         blank,
                         {"# Partition Information", kNull, kNull}});
    // Hive 3.1 FORMATTED: the header and the columns at once.
    const Result plainHeader({{"# col_name", "data_type", "comment"},
                              {"id", "int", ""},
                              {"größe", "string", "the size"},
                              {"ds", "string", ""},
                              blank,
                              {"# Detailed Table Information", kNull, kNull}});
    // Spark: no header, NULL comments, partition section without a blank row.
    const Result spark({{"id", "int", kNull},
                        {"größe", "string", "the size"},
                        {"ds", "string", kNull},
                        {"# Partition Information", "", ""},
                        {"# col_name", "data_type", "comment"},
                        {"ds", "string", kNull}});
    // Hive 4 over HiveServer2: headerless, blank padded.
    const Result hive4({{pad("id"), pad("int"), pad("")},
                        {pad("größe"), pad("string"), pad("the size")},
                        {pad("ds"), pad("string"), kNull},
                        blank});
    EXPECT_EQ(columnsOf(padded), want);
    EXPECT_EQ(columnsOf(plainHeader), want);
    EXPECT_EQ(columnsOf(spark), want);
    EXPECT_EQ(columnsOf(hive4), want);
    EXPECT_TRUE(columnsOf(Result({})).empty());
    EXPECT_TRUE(columnsOf(Result({{"# col_name", "data_type", "comment"}})).empty());
}

// A "#" name with a type is a column; with an empty or NULL type it is a
// section header that ends the list.
TEST(HiveDescribedColumns, HashNamesWithATypeAreColumns)
{
    const Row blank = {"", kNull, kNull};
    const std::vector<std::string> want = {"#a|int|", "b|int|", "#c|string|", "d|int|"};
    const Result plain({{"#a", "int", ""},
                        {"b", "int", ""},
                        {"#c", "string", ""},
                        {"d", "int", ""},
                        blank,
                        {"# Partition Information", kNull, kNull},
                        {"# col_name", "data_type", "comment"},
                        {"d", "int", ""}});
    const Result spark({{"#a", "int", kNull},
                        {"b", "int", ""},
                        {"#c", "string", ""},
                        {"d", "int", ""},
                        {"# Partition Information", "", ""},
                        {"# col_name", "data_type", "comment"},
                        {"d", "int", ""}});
    const Result formatted({{pad("# col_name"), pad("data_type"), pad("comment")},
                            blank,
                            {"#a", "int", ""},
                            {"b", "int", ""},
                            {"#c", "string", ""},
                            {"d", "int", ""},
                            blank,
                            {"# Detailed Table Information", kNull, kNull}});
    EXPECT_EQ(columnsOf(plain), want);
    EXPECT_EQ(columnsOf(spark), want);
    EXPECT_EQ(columnsOf(formatted), want);
    // A section header without any blank row before it.
    EXPECT_EQ(columnsOf(Result({{"#a", "int", ""}, {"# Section", "  ", ""}, {"b", "int", ""}})),
              (std::vector<std::string>{"#a|int|"}));
}

// The remarks point into `r`, which the caller keeps.
HiveTableDetails detailsOf(const Result& r)
{
    HiveTableDetails d;
    hiveTableDetails(r.cells.data(), r.count(), r.width(), &d);
    return d;
}

std::vector<Row> hiveDetails(const std::string& type, bool ownerType, const Cell& comment)
{
    auto kv = [](const std::string& k, const std::string& v) { return Row{pad(k), pad(v), kNull}; };
    std::vector<Row> rows = {{"# col_name", "data_type", "comment"},
                             {"id", "int", ""},
                             {"", kNull, kNull},
                             {"# Detailed Table Information", kNull, kNull},
                             kv("Database:", "default")};
    if (ownerType)
        rows.push_back(kv("OwnerType:", "USER"));
    rows.push_back(kv("Owner:", "hive"));
    rows.push_back(kv("Table Type:", type));
    rows.push_back({"Table Parameters:", kNull, kNull});
    if (comment)
        rows.push_back({"", pad("comment"), pad(*comment)});
    rows.push_back({"", pad("transient_lastDdlTime"), pad("1")});
    rows.push_back({"", kNull, kNull});
    rows.push_back({"# Storage Information", kNull, kNull});
    rows.push_back(kv("SerDe Library:", "null"));
    return rows;
}

TEST(HiveTableDetails, SeparatePaddedCellsAsHiveServer2SendsThem)
{
    struct Case {
        std::string hiveType;
        bool ownerType;
        const char* want;
    };
    const Case cases[] = {
        {"MANAGED_TABLE", false, "TABLE"}, {"VIRTUAL_VIEW", false, "VIEW"},        {"VIRTUAL_VIEW", true, "VIEW"},
        {"EXTERNAL_TABLE", true, "TABLE"}, {"INDEX_TABLE", false, "SYSTEM TABLE"}, {"MATERIALIZED_VIEW", true, "TABLE"},
    };
    for (const Case& c : cases) {
        const Result r(hiveDetails(c.hiveType, c.ownerType, std::string("ein Kommentar")));
        const HiveTableDetails d = detailsOf(r);
        EXPECT_TRUE(d.found);
        EXPECT_STREQ(d.tableType, c.want) << c.hiveType;
        // The comment after OwnerType: is still read.
        EXPECT_EQ(text(d.remarks), "ein Kommentar") << c.hiveType;
    }
    const Result plain(hiveDetails("MANAGED_TABLE", true, kNull));
    const HiveTableDetails none = detailsOf(plain);
    EXPECT_TRUE(none.found);
    EXPECT_EQ(text(none.remarks), "");
}

TEST(HiveTableDetails, TabSeparatedCellsAndSparkRows)
{
    const Result tabbedRows({{"# Detailed Table Information", kNull, kNull},
                             {"Owner:\thive", kNull, kNull},
                             {"Table Type:\tVIRTUAL_VIEW   ", kNull, kNull},
                             {"comment\tlong text", kNull, kNull}});
    const HiveTableDetails tabbed = detailsOf(tabbedRows);
    EXPECT_STREQ(tabbed.tableType, "VIEW");
    EXPECT_EQ(text(tabbed.remarks), "long text");
    const HiveTableDetails bare =
        detailsOf(Result({{"# Detailed Table Information", kNull, kNull}, {"Table Type:", kNull, kNull}}));
    EXPECT_STREQ(bare.tableType, "TABLE");
    const Result sparkRows({{"id", "int", kNull},
                            {"", "", ""},
                            {"# Detailed Table Information", "", ""},
                            {"Owner", "spark", ""},
                            {"Type", "VIEW", ""},
                            {"Comment", "a view", ""}});
    const HiveTableDetails spark = detailsOf(sparkRows);
    EXPECT_STREQ(spark.tableType, "VIEW");
    EXPECT_EQ(text(spark.remarks), "a view");
    // A comment longer than any fixed buffer stays whole.
    const std::string longComment(5000, 'c');
    const Result bigRows(hiveDetails("MANAGED_TABLE", false, longComment));
    const HiveTableDetails big = detailsOf(bigRows);
    EXPECT_EQ(text(big.remarks), longComment);
}

// A server may describe a table in fewer or more than three cells a row
// (Hive's JSON output format gives one): every cell read lies within the
// result, a missing one reads as NULL, and rows stay aligned.
TEST(HiveCatalogResultWidth, ResultsOfAnyWidthAreReadWithinTheirCells)
{
    const std::string json = R"({"columns":[{"name":"id","type":"int"}],"tableInfo":{"tableType":"VIRTUAL_VIEW"}})";
    const Result one({{json}});
    EXPECT_FALSE(detailsOf(one).found);
    EXPECT_EQ(columnsOf(one), (std::vector<std::string>{json + "||"}));
    const Result two({{"id", "int"},
                      {"", kNull},
                      {"# Detailed Table Information", kNull},
                      {"Table Type:", "VIRTUAL_VIEW"},
                      {"comment", "two cells"}});
    const HiveTableDetails twoDetails = detailsOf(two);
    EXPECT_STREQ(twoDetails.tableType, "VIEW");
    EXPECT_EQ(text(twoDetails.remarks), "two cells");
    EXPECT_EQ(columnsOf(two), (std::vector<std::string>{"id|int|"}));
    const Result four({{"# col_name", "data_type", "comment", "x"},
                       {"id", "int", "the id", "x"},
                       {"name", "string", kNull, "x"},
                       {"", kNull, kNull, kNull},
                       {"# Detailed Table Information", kNull, kNull, kNull},
                       {"Table Type:", "VIRTUAL_VIEW", kNull, kNull}});
    EXPECT_EQ(columnsOf(four), (std::vector<std::string>{"id|int|the id", "name|string|"}));
    EXPECT_STREQ(detailsOf(four).tableType, "VIEW");
    EXPECT_TRUE(columnsOf(Result({{}, {}})).empty());
}

TEST(HiveTableDetails, NoDetailsSectionFindsNothing)
{
    const HiveTableDetails d = detailsOf(Result({{"id", "int", ""}, {"Table Type:", "VIRTUAL_VIEW", kNull}}));
    EXPECT_FALSE(d.found);
    EXPECT_STREQ(d.tableType, "TABLE");
}

}  // namespace
