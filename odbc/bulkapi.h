// The driver's bulk exports beside the standard ODBC functions: the
// diagnostics of a connection in the application's code page, and the table
// export, validation and load. Applications reach them by dlsym; the tests
// call them directly.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <cstdint>

class BaseConnection;
class BaseStatement;

// The export and validation bodies live in the bulk layer above this one;
// the driver library registers them at load time. Each runs inside the
// connection's frame of the call that the exported entry point makes
// (runApi) and returns the call's SQLRETURN. Without a registration the
// connection's own operations answer.
struct BaseBulkOperations {
    int16_t (*exportTable)(BaseConnection* conn, const char* table, const uint16_t* tableW, const char* file,
                           const uint16_t* fileW, int64_t codePage, int64_t errorTolerance, int64_t warningTolerance,
                           const char* log, const uint16_t* logW) noexcept;
    int16_t (*validateTable)(BaseConnection* conn, const char* table, const uint16_t* tableW, const char* description,
                             const uint16_t* descriptionW, char* messages, uint16_t* messagesW, int32_t bufferLength,
                             int32_t* messageCount) noexcept;
    // The statement's export of its open result set (statement attribute
    // 1055), inside the statement's own call: 0, or 1 after posting.
    int16_t (*exportResultSet)(BaseStatement* stmt, const uint16_t* fileName, int64_t codePage, int64_t errorTolerance,
                               int64_t warningTolerance, const uint16_t* logName) noexcept;
    // The table load body (BaseConnection::loadTableFromFileBody).
    int16_t (*loadTableBody)(BaseConnection* conn, const uint16_t* table, const uint16_t* dataFile,
                             int64_t errorTolerance, int64_t warningTolerance, const uint16_t* description,
                             const uint16_t* log, const uint16_t* discard, int64_t firstRecord, int64_t recordCount,
                             int64_t readBufferKb) noexcept;
};
// ops must outlive every connection (a static table); null removes it.
void baseSetBulkOperations(const BaseBulkOperations* ops) noexcept;
// The statement's export through the registered operations; without them
// the not-capable diagnostic and 1.
[[nodiscard]] int16_t baseBulkExportResultSet(BaseStatement* stmt, const uint16_t* fileName, int64_t codePage,
                                              int64_t errorTolerance, int64_t warningTolerance,
                                              const uint16_t* logName) noexcept;

extern "C" {

SQLRETURN GetBulkDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber, SQLWCHAR* sqlstate,
                          SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT bufferLength, SQLSMALLINT* textLength);
SQLRETURN GetBulkDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber, SQLCHAR* sqlstate,
                         SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT bufferLength, SQLSMALLINT* textLength);
SQLRETURN ExportTableToFile(SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* file, SQLINTEGER codePage,
                            SQLBIGINT errorTolerance, SQLBIGINT warningTolerance, const SQLCHAR* log);
SQLRETURN ExportTableToFileW(SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* file, SQLBIGINT codePage,
                             SQLBIGINT errorTolerance, SQLBIGINT warningTolerance, const SQLWCHAR* log);
SQLRETURN ValidateTableFromFile(SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* description, SQLCHAR* messages,
                                SQLINTEGER bufferLength, SQLINTEGER* messageCount);
SQLRETURN ValidateTableFromFileW(SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* description, SQLWCHAR* messages,
                                 SQLINTEGER bufferLength, SQLINTEGER* messageCount);
SQLRETURN LoadTableFromFile(SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* dataFile, SQLBIGINT errorTolerance,
                            SQLBIGINT warningTolerance, const SQLCHAR* description, const SQLCHAR* log,
                            const SQLCHAR* discard, SQLBIGINT firstRecord, SQLBIGINT recordCount,
                            SQLBIGINT readBufferKb);
SQLRETURN LoadTableFromFileW(SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* dataFile, SQLBIGINT errorTolerance,
                             SQLBIGINT warningTolerance, const SQLWCHAR* description, const SQLWCHAR* log,
                             const SQLWCHAR* discard, SQLBIGINT firstRecord, SQLBIGINT recordCount,
                             SQLBIGINT readBufferKb);

}  // extern "C"
