// The statement as the source of a persisted result set: fills an
// XPstResultSource with the statement's own describe, fetch and get-data
// steps and runs xmlPersistResult. The driver library installs it as the
// statement framework's XML persister (baseSetXmlPersister), which is how
// statement attribute 1053 reaches this layer.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <cstdint>

class BaseStatement;

// Persists the open result set of stmt into path (UTF-16; length in units,
// negative: NUL-terminated) in mode. A static cursor is read from its first
// row and put back on the row it stood on; a forward-only cursor that has
// not fetched yet is read once to its end, where it then stands. 0, or 1
// after posting on the statement's list.
[[nodiscard]] int16_t xpstPersistStatement(BaseStatement* stmt, const uint16_t* path, int32_t length,
                                           int32_t mode) noexcept;

// The statement's own reading steps from inside one of its calls, without
// an entry step: a fetch as SQLFetchScroll with a rowset of one row that
// leaves the application's bound columns and status arrays alone, and a
// piece of a column as SQLGetData gives it. Used by the persistence and by
// the export of a statement's result set.
[[nodiscard]] SQLRETURN xpstStatementFetch(BaseStatement* stmt, SQLSMALLINT orientation, SQLLEN row) noexcept;
[[nodiscard]] SQLRETURN xpstStatementGetData(BaseStatement* stmt, SQLUSMALLINT column, SQLSMALLINT cType, void* buffer,
                                             SQLLEN capacity, SQLLEN* indicator) noexcept;
// After such reading: whatever it left of a column read is no SQLGetData
// state of the application's.
void xpstStatementReadDone(BaseStatement* stmt) noexcept;
