// Parsers of SHOW TABLES and DESCRIBE results for the Hive catalog listing.
#include "hive/hivecatalogparse.h"

namespace {

// Cells of a row the parsers read: name, type and comment, or key and value.
constexpr int32_t kCellsPerRow = 3;

bool isBlank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The cell without blank padding on either side; NULL becomes empty.
HiveCatalogCell trimmed(HiveCatalogCell c) noexcept
{
    if (c.data == nullptr || c.length < 0)
        return HiveCatalogCell{"", 0};
    while (c.length > 0 && isBlank(c.data[0])) {
        ++c.data;
        --c.length;
    }
    while (c.length > 0 && isBlank(c.data[c.length - 1]))
        --c.length;
    return c;
}

char lower(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the cell is the ASCII word, case-blind, whole.
bool isWord(const HiveCatalogCell& c, const char* word) noexcept
{
    int32_t i = 0;
    for (; i < c.length; ++i) {
        if (word[i] == 0 || lower(c.data[i]) != lower(word[i]))
            return false;
    }
    return word[i] == 0;
}

bool startsWith(const HiveCatalogCell& c, const char* word) noexcept
{
    int32_t i = 0;
    for (; word[i] != 0; ++i) {
        if (i >= c.length || lower(c.data[i]) != lower(word[i]))
            return false;
    }
    return true;
}

// A key without its trailing ":" and padding.
HiveCatalogCell keyOf(HiveCatalogCell c) noexcept
{
    c = trimmed(c);
    if (c.length > 0 && c.data[c.length - 1] == ':')
        --c.length;
    return trimmed(c);
}

const char* odbcTableType(const HiveCatalogCell& hiveType) noexcept
{
    if (isWord(hiveType, "VIRTUAL_VIEW") || isWord(hiveType, "VIEW"))
        return "VIEW";
    if (isWord(hiveType, "INDEX_TABLE"))
        return "SYSTEM TABLE";
    return "TABLE";
}

// Cell (row, column) of a result `columns` cells wide; NULL past its width.
HiveCatalogCell cell(const HiveCatalogCell* cells, int32_t columns, int32_t row, int32_t column) noexcept
{
    if (column >= columns)
        return HiveCatalogCell{};
    return cells[static_cast<int64_t>(row) * columns + column];
}

}  // namespace

int16_t hiveShowTablesLayout(const HiveCatalogCell* columnNames, int16_t count, HiveShowTablesLayout* layout) noexcept
{
    *layout = HiveShowTablesLayout{};
    for (int16_t i = 0; i < count; ++i) {
        const HiveCatalogCell name = trimmed(columnNames[i]);
        if (isWord(name, "tab_name") || isWord(name, "tableName") || isWord(name, "name"))
            layout->table = i;
        else if (isWord(name, "database") || isWord(name, "namespace") || isWord(name, "db_name"))
            layout->database = i;
        else if (isWord(name, "isTemporary"))
            layout->temporary = i;
    }
    if (layout->table < 0 && count == 1)
        layout->table = 0;
    return layout->table < 0 ? 1 : 0;
}

int32_t hiveDescribedColumns(const HiveCatalogCell* cells, int32_t rows, int32_t columns, int32_t* first) noexcept
{
    int32_t row = 0;
    *first = 0;
    if (columns <= 0)
        return 0;
    // Only the header itself: a column may be named "#a".
    if (rows > 0 && isWord(trimmed(cell(cells, columns, 0, 0)), "# col_name")) {
        ++row;
        // Hive 1.2 and 2.3 put a blank row under the header.
        if (row < rows && trimmed(cell(cells, columns, row, 0)).length == 0)
            ++row;
    }
    *first = row;
    int32_t n = 0;
    for (; row < rows; ++row, ++n) {
        // A section header is a "#" name without a type; a column named
        // "#a" has one.
        const HiveCatalogCell name = trimmed(cell(cells, columns, row, 0));
        if (name.length == 0 || (name.data[0] == '#' && trimmed(cell(cells, columns, row, 1)).length == 0))
            break;
    }
    return n;
}

void hiveDescribedColumn(const HiveCatalogCell* cells, int32_t columns, int32_t first, int32_t index,
                         HiveDescribedColumn* out) noexcept
{
    out->name = trimmed(cell(cells, columns, first + index, 0));
    out->type = trimmed(cell(cells, columns, first + index, 1));
    out->comment = trimmed(cell(cells, columns, first + index, 2));
}

void hiveTableDetails(const HiveCatalogCell* cells, int32_t rows, int32_t columns, HiveTableDetails* out) noexcept
{
    *out = HiveTableDetails{};
    out->remarks = HiveCatalogCell{"", 0};
    bool typeSeen = false;
    bool commentSeen = false;
    for (int32_t row = 0; row < rows; ++row) {
        // The row's non-empty cells; a TAB inside the first splits key and value.
        HiveCatalogCell items[kCellsPerRow];
        int32_t n = 0;
        for (int32_t c = 0; c < kCellsPerRow; ++c) {
            const HiveCatalogCell v = trimmed(cell(cells, columns, row, c));
            if (v.length > 0)
                items[n++] = v;
        }
        if (n == 0)
            continue;
        if (!out->found) {
            out->found = startsWith(items[0], "# Detailed Table Information");
            continue;
        }
        HiveCatalogCell key = items[0];
        HiveCatalogCell value{"", 0};
        for (int32_t i = 0; i < key.length; ++i) {
            if (key.data[i] == '\t') {
                value = trimmed(HiveCatalogCell{key.data + i + 1, key.length - i - 1});
                key.length = i;
                break;
            }
        }
        if (value.length == 0 && n > 1)
            value = items[1];
        key = keyOf(key);
        if (!typeSeen && (isWord(key, "Table Type") || isWord(key, "Type"))) {
            out->tableType = odbcTableType(value);
            typeSeen = true;
        } else if (!commentSeen && isWord(key, "comment")) {
            out->remarks = value;
            commentSeen = true;
        }
    }
}
