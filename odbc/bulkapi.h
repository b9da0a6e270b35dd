// The driver's bulk exports beside the standard ODBC functions: the
// diagnostics of a connection in the application's code page, and the table
// export, validation and load. Applications reach them by dlsym; the tests
// call them directly.
#pragma once
#include <sql.h>
#include <sqlext.h>

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
