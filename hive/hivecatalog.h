// The Hive statement's catalog listing: the rows its SQLTables and SQLColumns
// hooks produce from SHOW DATABASES, SHOW TABLES IN and DESCRIBE [FORMATTED]
// run on the statement itself, held until the framework has read them. Also
// the reading of a Hive column type text. Used by hive/hivecatalog.cpp and
// the statement (hive/hivestatement.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/kaarray.h"
#include "foundation/kaobject.h"
#include "foundation/kaowner.h"
#include "hive/hivecatalogparse.h"
#include "platform/katmpsink.h"

class HiveCommunicatorHS2;
class HiveStatement;

// Result columns a listing row carries at most (SQLColumns has 18).
constexpr uint16_t kHiveCatalogColumns = 18;

// One row of a listing: each result column a UTF-16 text, a number or NULL.
class HiveCatalogRow : public KaObject {
public:
    HiveCatalogRow() noexcept = default;
    ~HiveCatalogRow() override;

    // Takes the text (ramAlloc'd, may be null for NULL).
    void setText(uint16_t column, uint16_t* text) noexcept;
    void setNumber(uint16_t column, int32_t value) noexcept;

    uint16_t* text[kHiveCatalogColumns] = {};
    int32_t number[kHiveCatalogColumns] = {};
    bool isNumber[kHiveCatalogColumns] = {};
    // The texts belong to someone else (the listing's read buffer): the row
    // never frees them.
    bool borrowed = false;
};

// The rows of the current listing and where the framework's reading stands.
// A listing of a whole warehouse can hold millions of rows: each row added is
// written to a temporary stream (memory, spilling to a private file past its
// buffer) and read back one at a time into `row`, so the listing costs no
// memory per row while the framework keeps its own copy.
class HiveCatalogListing {
public:
    HiveCatalogListing() noexcept;
    ~HiveCatalogListing();
    HiveCatalogListing(const HiveCatalogListing&) = delete;
    HiveCatalogListing& operator=(const HiveCatalogListing&) = delete;

    // Drops the rows and ends the listing.
    void clear() noexcept;
    // Drops the rows added so far; the listing stays as it is.
    void dropRows() noexcept;
    // Writes the row to the listing (its texts are copied). 0, or 1.
    [[nodiscard]] int16_t add(const HiveCatalogRow& row) noexcept;
    // The same for a row of its own; the row goes whatever the outcome (it
    // may be null: memory ran out).
    [[nodiscard]] int16_t add(std::unique_ptr<HiveCatalogRow> row) noexcept;
    // Room for `units` UTF-16 units in `stage`, kept across rows so that a row
    // built there costs no allocation once the longest text has been seen:
    // it doubles as it grows. 0, or 1 with the stage untouched.
    [[nodiscard]] int16_t reserveStage(size_t units) noexcept;
    // Reads the next row into `row`. 0 with *end 1 past the last row, or 1.
    [[nodiscard]] int16_t next(int16_t* end) noexcept;
    // The row being read, or null.
    const HiveCatalogRow* current() const noexcept;

    // Rows added.
    size_t count = 0;
    // 1-based number of the row the framework reads; 0 before the first.
    size_t position = 0;
    // A hook filled the listing: the catalog reads are answered from it.
    bool active = false;
    // One of the listing's own queries runs: the statement's hooks read the
    // server's rows.
    bool internalQuery = false;
    // Applied to each row as it is read back (SQLStatistics turns listed
    // tables into table-statistics rows); null for none.
    void (*onRead)(HiveCatalogRow* row) noexcept = nullptr;
    // Where a hook converts the texts of the row it is about to add.
    RamPtr<uint16_t> stage;
    size_t stageCapacity = 0;

private:
    [[nodiscard]] int16_t readRow(int16_t* end) noexcept;

    std::unique_ptr<KaTmpFileSource> store;
    // The row read last; its texts point into textBuffer.
    HiveCatalogRow row;
    RamPtr<uint16_t> textBuffer;
    size_t textCapacity = 0;
    // The stream was turned from writing to reading.
    bool reading = false;
};

// What a Hive column type text says: the type code (HIVE_TYPE_*), the type
// name without its parameters, and the numbers in "(p)" or "(p,s)" (0 where
// absent). Complex types keep their whole text as the name.
struct HiveColumnType {
    uint8_t code = 0;
    const char* name = nullptr;
    size_t nameLength = 0;
    int32_t precision = 0;
    int32_t scale = 0;
};
void hiveParseColumnType(const char* text, size_t length, HiveColumnType* out) noexcept;

// The type text DESCRIBE gives for the type of a GetColumns row, into `out`
// (ramAlloc'd, the caller frees its data). Hive names a primitive type there
// in upper case without its parameters, which COLUMN_SIZE (`size`) and
// DECIMAL_DIGITS (`digits`) carry; a complex type keeps its whole text.
// 0, or 1 when memory ran out.
[[nodiscard]] int16_t hiveGetColumnsTypeText(const HiveCatalogCell& name, int32_t size, int32_t digits,
                                             HiveCatalogCell* out) noexcept;

// ---- The listing's steps, shared by the catalog functions' hooks ----------

// One cell of a metadata result, UTF-8, owned; length -1 is NULL.
class HiveMetadataCell : public KaObject {
public:
    HiveMetadataCell() noexcept = default;
    ~HiveMetadataCell() override;
    RamPtr<char> data;
    int32_t length = -1;
    // Bytes of data: a cell read again for each row keeps its block.
    size_t capacity = 0;
};

// A whole metadata result: its column names and its cells, row after row,
// every cell in its place (a NULL one too), each kept whole.
class HiveMetadataResult {
public:
    HiveMetadataResult() noexcept;
    ~HiveMetadataResult();
    HiveMetadataResult(const HiveMetadataResult&) = delete;
    HiveMetadataResult& operator=(const HiveMetadataResult&) = delete;

    int32_t rows() const noexcept;
    // The cells as the parsers (hive/hivecatalogparse.h) take them; 0, or 1.
    [[nodiscard]] int16_t makeViews() noexcept;
    // Cell (row, column), 0-based, once the views are made.
    const HiveCatalogCell& cell(int32_t row, int32_t column) const noexcept;

    uint16_t columns = 0;
    KaArray names;  // HiveMetadataCell
    KaArray cells;  // HiveMetadataCell
    RamPtr<HiveCatalogCell> view;
    RamPtr<HiveCatalogCell> nameView;
    // Entries the views hold room for: a result read row by row makes them
    // for every row in the same blocks.
    size_t viewCapacity = 0;
    size_t nameViewCapacity = 0;
};

// A protocol metadata call (GetColumns) that the statement's execute step
// sends in place of ExecuteStatement: its reply has the same shape.
class HiveMetadataCall {
public:
    // Writes and sends the request; 0, or 1 after the diagnostic.
    [[nodiscard]] virtual int send(HiveCommunicatorHS2* communicator) noexcept = 0;

protected:
    ~HiveMetadataCall() = default;
};

// Runs a SHOW or DESCRIBE text (UTF-16, NUL-terminated), or the metadata
// call when one is given, on the statement and keeps its whole result,
// views made. 0, or 1 with the server's diagnostics.
[[nodiscard]] int16_t hiveCatalogQuery(HiveStatement* s, const uint16_t* text, HiveMetadataResult* out,
                                       HiveMetadataCall* call = nullptr) noexcept;
// Takes one row of a query's result (`r` holds the names and that row, views
// made) and returns 0, or 1 to fail the query.
using HiveMetadataRowFn = int16_t (*)(void* context, const HiveMetadataResult& r) noexcept;
// The same, handing each row to `perRow` as it arrives and keeping none
// (`out` ends with the names and no cells), so that a result of any size
// costs the memory of one row.
[[nodiscard]] int16_t hiveCatalogQueryRows(HiveStatement* s, const uint16_t* text, HiveMetadataResult* out,
                                           HiveMetadataCall* call, HiveMetadataRowFn perRow, void* context) noexcept;
// Whether a link failure was posted since the mark: a listing's inner query
// that failed so fails the call, whatever else it would forgive.
bool hiveLinkFailedSince(const KaDiagMark& mark) noexcept;
