// The driver's own exported functions beside the standard ODBC ones: the
// bulk diagnostics, table export, validation and load, the setup entry
// points and the information texts. Applications reach them by dlsym; the
// tests call them directly.
#pragma once
#include <sql.h>
#include <sqlext.h>

extern "C" {

SQLRETURN GetBulkDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                          SQLWCHAR* sqlstate, SQLINTEGER* native, SQLWCHAR* message,
                          SQLSMALLINT bufferLength, SQLSMALLINT* textLength);
SQLRETURN GetBulkDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT recNumber,
                         SQLCHAR* sqlstate, SQLINTEGER* native, SQLCHAR* message,
                         SQLSMALLINT bufferLength, SQLSMALLINT* textLength);
SQLRETURN ExportTableToFile(SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* file,
                            SQLINTEGER codePage, SQLBIGINT errorTolerance,
                            SQLBIGINT warningTolerance, const SQLCHAR* log);
SQLRETURN ExportTableToFileW(SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* file,
                             SQLBIGINT codePage, SQLBIGINT errorTolerance,
                             SQLBIGINT warningTolerance, const SQLWCHAR* log);
SQLRETURN ValidateTableFromFile(SQLHDBC handle, const SQLCHAR* table,
                                const SQLCHAR* description, SQLCHAR* messages,
                                SQLINTEGER bufferLength, SQLINTEGER* messageCount);
SQLRETURN ValidateTableFromFileW(SQLHDBC handle, const SQLWCHAR* table,
                                 const SQLWCHAR* description, SQLWCHAR* messages,
                                 SQLINTEGER bufferLength, SQLINTEGER* messageCount);
SQLRETURN LoadTableFromFile(SQLHDBC handle, const SQLCHAR* table, const SQLCHAR* dataFile,
                            SQLBIGINT errorTolerance, SQLBIGINT warningTolerance,
                            const SQLCHAR* description, const SQLCHAR* log,
                            const SQLCHAR* discard, SQLBIGINT firstRecord,
                            SQLBIGINT recordCount, SQLBIGINT readBufferKb);
SQLRETURN LoadTableFromFileW(SQLHDBC handle, const SQLWCHAR* table, const SQLWCHAR* dataFile,
                             SQLBIGINT errorTolerance, SQLBIGINT warningTolerance,
                             const SQLWCHAR* description, const SQLWCHAR* log,
                             const SQLWCHAR* discard, SQLBIGINT firstRecord,
                             SQLBIGINT recordCount, SQLBIGINT readBufferKb);
char* getConnectionErrors(void* connectionHandle);
BOOL ConfigDSN(HWND window, WORD request, LPCSTR driver, LPCSTR attributes);
BOOL ConfigFileDSN(HWND window, WORD request, LPCSTR driver, LPCSTR attributes,
                   LPCSTR fileDsn);
const char* getFileVersionString();
const char* getCompanyNameString();

}  // extern "C"
