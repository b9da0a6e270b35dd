// The readers of the server's catalog results over arbitrary cells: the
// SHOW TABLES column choice, the column rows of DESCRIBE, the details of
// DESCRIBE FORMATTED, the column type texts of DESCRIBE and GetColumns, and
// the name matching of the listing. The first byte is the result's width in
// cells (0 to 7), the next three the COLUMN_SIZE and DECIMAL_DIGITS a
// GetColumns row carries; the rest are the cells, separated by 0x1F, a cell
// of the single byte 0x00 being NULL. Each cell lives in its own allocation
// of its exact size, so that any read past a cell or past the result is an
// overflow; every value the readers hand back must lie within the cells.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "catalog/catalognames.h"
#include "foundation/ram.h"
#include "fuzzfixture.h"
#include "hive/hivecatalog.h"
#include "hive/hivecatalogparse.h"

namespace {

constexpr uint8_t kSeparator = 0x1F;
constexpr int32_t kMaxWidth = 8;

struct Cells {
    std::vector<char*> owned;
    std::vector<HiveCatalogCell> cells;
    Cells() = default;
    Cells(const Cells&) = delete;
    Cells& operator=(const Cells&) = delete;
    ~Cells()
    {
        for (char* p : owned)
            std::free(p);
    }
    void add(const uint8_t* data, size_t length)
    {
        if (length == 1 && data[0] == 0) {
            cells.push_back(HiveCatalogCell{});
            return;
        }
        // At least one byte, so that an empty cell has an address of its own.
        char* p = static_cast<char*>(std::malloc(length != 0 ? length : 1));
        kafuzz::check(p != nullptr, "out of memory");
        if (length != 0)
            std::memcpy(p, data, length);
        owned.push_back(p);
        cells.push_back(HiveCatalogCell{p, static_cast<int32_t>(length)});
    }
};

// A value handed back lies within cell `c`, or is empty.
bool within(const HiveCatalogCell& v, const HiveCatalogCell& c)
{
    if (v.length == 0)
        return true;
    if (v.length < 0 || c.data == nullptr || c.length < 0)
        return false;
    return v.data >= c.data && v.data + v.length <= c.data + c.length;
}

bool withinAny(const HiveCatalogCell& v, const HiveCatalogCell* cells, size_t n)
{
    if (v.length == 0)
        return true;
    for (size_t i = 0; i < n; ++i)
        if (within(v, cells[i]))
            return true;
    return false;
}

// A NUL-terminated UTF-16 copy of a cell's bytes taken as little-endian
// units, cut at the first zero unit.
std::vector<uint16_t> unitsOfCell(const HiveCatalogCell& c)
{
    std::vector<uint16_t> units;
    for (int32_t i = 0; c.data != nullptr && i + 1 < c.length; i += 2) {
        const auto u =
            static_cast<uint16_t>(static_cast<uint8_t>(c.data[i]) | static_cast<uint8_t>(c.data[i + 1]) << 8);
        if (u == 0)
            break;
        units.push_back(u);
    }
    units.push_back(0);
    return units;
}

void checkMatching(const HiveCatalogCell& nameCell, const HiveCatalogCell& patternCell)
{
    const std::vector<uint16_t> name = unitsOfCell(nameCell);
    const std::vector<uint16_t> pattern = unitsOfCell(patternCell);
    for (const bool caseSensitive : {false, true}) {
        (void)catalogMatchName(name.data(), pattern.data(), u'\\', caseSensitive);
        (void)catalogMatchName(name.data(), pattern.data(), 0, caseSensitive);
    }
    const uint16_t any[] = {u'%', 0};
    kafuzz::check(catalogMatchName(name.data(), any, u'\\', true), "% does not match a name");
    // The name with every character escaped (a surrogate pair kept whole)
    // stands for itself alone.
    std::vector<uint16_t> exact;
    for (size_t i = 0; name[i] != 0; ++i) {
        exact.push_back(u'\\');
        exact.push_back(name[i]);
        if (name[i] >= 0xD800 && name[i] <= 0xDBFF && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF)
            exact.push_back(name[++i]);
    }
    exact.push_back(0);
    kafuzz::check(catalogMatchName(name.data(), exact.data(), u'\\', true), "an escaped name does not match itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kafuzz::DiagnosticScope scope;
    kafuzz::Input in(data, size);
    const int32_t width = in.byte() % kMaxWidth;
    const uint8_t sizeLow = in.byte();
    const uint8_t sizeHigh = in.byte();
    const auto columnSize = static_cast<int32_t>(static_cast<int16_t>(sizeLow | sizeHigh << 8));
    const auto digits = static_cast<int32_t>(static_cast<int8_t>(in.byte()));
    Cells all;
    const uint8_t* p = in.rest();
    const uint8_t* end = p + in.restSize();
    while (p <= end) {
        const auto* stop = static_cast<const uint8_t*>(std::memchr(p, kSeparator, static_cast<size_t>(end - p)));
        if (stop == nullptr)
            stop = end;
        all.add(p, static_cast<size_t>(stop - p));
        p = stop + 1;
    }
    // The result: whole rows of `width` cells, in an array of its exact size.
    const int32_t rows = width == 0 ? 0 : static_cast<int32_t>(all.cells.size()) / width;
    const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(width);
    auto* grid = static_cast<HiveCatalogCell*>(std::malloc(count != 0 ? count * sizeof(HiveCatalogCell) : 1));
    kafuzz::check(grid != nullptr, "out of memory");
    if (count != 0)
        std::memcpy(grid, all.cells.data(), count * sizeof(HiveCatalogCell));

    HiveShowTablesLayout layout;
    const auto names = static_cast<int16_t>(width < static_cast<int32_t>(all.cells.size()) ? width : all.cells.size());
    if (hiveShowTablesLayout(grid, rows > 0 ? names : 0, &layout) == 0) {
        kafuzz::check(layout.table >= 0 && layout.table < names, "table column out of range");
        kafuzz::check(layout.database < names && layout.temporary < names, "column out of range");
    }

    int32_t first = -1;
    const int32_t n = hiveDescribedColumns(grid, rows, width, &first);
    kafuzz::check(n >= 0 && first >= 0 && first + n <= (rows > 0 ? rows : 0), "column rows out of range");
    for (int32_t i = 0; i < n; ++i) {
        HiveDescribedColumn col;
        hiveDescribedColumn(grid, width, first, i, &col);
        const HiveCatalogCell* row = grid + static_cast<size_t>(first + i) * static_cast<size_t>(width);
        kafuzz::check(col.name.length > 0 && within(col.name, row[0]), "column name outside its cell");
        kafuzz::check(width < 2 ? col.type.length == 0 : within(col.type, row[1]), "type outside its cell");
        kafuzz::check(width < 3 ? col.comment.length == 0 : within(col.comment, row[2]), "comment outside its cell");
    }

    HiveTableDetails details;
    hiveTableDetails(grid, rows, width, &details);
    kafuzz::check(std::strcmp(details.tableType, "TABLE") == 0 || std::strcmp(details.tableType, "VIEW") == 0 ||
                      std::strcmp(details.tableType, "SYSTEM TABLE") == 0,
                  "table type not an ODBC one");
    kafuzz::check(withinAny(details.remarks, grid, count), "remarks outside the result");

    for (const HiveCatalogCell& c : all.cells) {
        const size_t length = c.length > 0 ? static_cast<size_t>(c.length) : 0;
        HiveColumnType type;
        hiveParseColumnType(c.data != nullptr ? c.data : "", length, &type);
        kafuzz::check(type.nameLength <= length && type.precision >= 0 && type.scale >= 0, "type text misread");
        HiveCatalogCell text;
        if (hiveGetColumnsTypeText(c, columnSize, digits, &text) == 0) {
            kafuzz::check(text.length >= 0 && static_cast<size_t>(text.length) <= length + 32, "type text overlong");
            ramFree(const_cast<char*>(text.data));
        }
    }
    if (all.cells.size() >= 2)
        checkMatching(all.cells[0], all.cells[1]);
    std::free(grid);
    return 0;
}
