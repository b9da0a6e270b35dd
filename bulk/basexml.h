// Result-set persistence: an open result set written as an XML record set
// (statement attribute 1053, the persist mode of attribute 1054), the entry
// functions that drive the writer and the value store, and the C type each
// SQL type is read in. The statement framework reaches the body through
// XPstResultSource, which it fills with its own fetch and get-data
// operations, so that this layer needs nothing above it.
#pragma once
#include <cstdint>
#include <sql.h>
#include <sqlext.h>

#include "bulk/xpstcolumn.h"

class XPstTrelliwavePersist;
class XPstTempData;

// The persist modes of statement attribute 1054.
enum : int32_t { XPST_MODE_ONE_DOCUMENT = 1, XPST_MODE_SEPARATE_SCHEMA = 2 };
// Default and least piece length of the reads: StaticCursorLongColBuffLen.
constexpr int64_t XPST_DEFAULT_LONG_COLUMN_BUFFER = 4096;
constexpr int64_t XPST_LEAST_LONG_COLUMN_BUFFER = 1000;

// What the persistence needs of a statement with an open static cursor.
// Each operation runs on the statement's thread inside its attribute call;
// the statement's diagnostics list is the thread's current error list.
struct XPstResultSource {
    void* context;
    // Number of result columns (the bookmark not counted).
    uint16_t (*columnCount)(void* context) noexcept;
    // Column 1..n of the implementation row descriptor: concise SQL type,
    // length, precision and scale, nullable and the unsigned attribute;
    // name points at the record's NUL-terminated name (copied at once).
    // 0 success, 1 failure with a diagnostic posted.
    int (*describeColumn)(void* context, uint16_t column, XPstColumn* out) noexcept;
    // The row the cursor stands on as SQL_ATTR_ROW_NUMBER reports it; 0
    // before the first row or after the last.
    uint64_t (*rowNumber)(void* context) noexcept;
    // Moves the cursor by one row as SQLFetchScroll with a rowset of one
    // row and no bound columns would: SQL_FETCH_FIRST, SQL_FETCH_NEXT or
    // SQL_FETCH_ABSOLUTE (row 0 places it before the first row). Returns
    // SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA or SQL_ERROR.
    SQLRETURN (*fetch)(void* context, SQLSMALLINT orientation, SQLLEN row) noexcept;
    // Reads the next piece of a column of the current row as SQLGetData
    // does: SQL_SUCCESS_WITH_INFO while more of the value follows,
    // SQL_NO_DATA once it was read whole; the indicator is the length left,
    // SQL_NO_TOTAL or SQL_NULL_DATA. The first call after a fetch starts at
    // the beginning of the value. Character data as SQL_C_CHAR comes as
    // UTF-8.
    SQLRETURN(*getData)
    (void* context, SQLUSMALLINT column, SQLSMALLINT cType, void* buffer, SQLLEN capacity, SQLLEN* indicator) noexcept;
    // Optional: the result-set row total once the rows were counted.
    void (*setRowTotal)(void* context, uint64_t rows) noexcept;
    // Character columns are read as SQL_C_WCHAR (the connection's wide
    // character flag) and stored as UTF-8.
    int wideCharacters;
    // StaticCursorLongColBuffLen; values are read in pieces of 3 times it.
    int64_t longColumnBuffer;
};

// Persists the result set of the source into path (UTF-16; length in units,
// negative: NUL-terminated) in the persist mode. 0 success, 1 failure with
// the diagnostics posted; the cursor goes back to its row either way.
[[nodiscard]] int xmlPersistResult(const XPstResultSource& source, const uint16_t* path, int32_t length,
                                   int32_t mode) noexcept;

// The C type a column of the SQL type is read in; 0 when none.
SQLSMALLINT xmlCTypeForSqlType(int32_t sqlType, int isUnsigned) noexcept;
// One XPstColumn per result column, names copied into blocks of their own.
// 0 success; 1 failure with nothing kept.
[[nodiscard]] int xmlBuildColumnInfo(XPstColumn** out, uint16_t count, const XPstResultSource& source) noexcept;
void xmlFreeColumnInfo(XPstColumn* columns, uint16_t count) noexcept;

// Entry functions of the writer and the store: 0 success, 1 failure, 2 a
// call in the wrong writer state; a missing argument is error 1022.
void XPstClearErrors() noexcept;
[[nodiscard]] int XPstOpen(const uint16_t* path, uint32_t mode, XPstTrelliwavePersist** writer) noexcept;
[[nodiscard]] int XPstSetColumns(XPstTrelliwavePersist* writer, const XPstColumn* columns, uint32_t count) noexcept;
[[nodiscard]] int XPstWriteRows(XPstTrelliwavePersist* writer, XPstTempData* store, uint64_t rows) noexcept;
// Destroy the writer whatever they return.
[[nodiscard]] int XPstClose(XPstTrelliwavePersist* writer) noexcept;
int XPstAbort(XPstTrelliwavePersist* writer) noexcept;
[[nodiscard]] int XPstCreateTempData(XPstTempData** store) noexcept;
[[nodiscard]] int XPstTempDataAppend(XPstTempData* store, const void* bytes, int64_t length) noexcept;
[[nodiscard]] int XPstTempDataRead(XPstTempData* store, void** bytes, int64_t* length) noexcept;
int XPstTempDataFree(XPstTempData* store) noexcept;
void XPstFree(void* block) noexcept;

// A caller of the entry functions that has no error list of its own:
// XPstInit remembers the catalogue name for XPstLastErrorText and makes a new
// list the thread's current one (1 without memory); XPstTerm takes that list
// off again and destroys it (a list it did not make is left alone); 0.
[[nodiscard]] int XPstInit(const char* catalogue) noexcept;
int XPstTerm() noexcept;
// The message of the thread's most recent diagnostic, else the catalogue's
// "no error" text (at most 127 bytes, in a process-wide buffer).
const char* XPstLastErrorText() noexcept;
