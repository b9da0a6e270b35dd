// What the benchmarks' ODBC clients (bench/hs2*_odbc.cpp) share: printing a
// handle's diagnostics under the client's name, and checking a return code.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <cstdio>

namespace benchodbc {

inline void printDiag(const char* client, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    SQLCHAR state[6];
    SQLCHAR text[512];
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    for (SQLSMALLINT i = 1; SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &len) == SQL_SUCCESS; ++i)
        fprintf(stderr, "%s: %s: [%s] %s\n", client, what, state, text);
}

inline bool ok(const char* client, SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    if (SQL_SUCCEEDED(rc))
        return true;
    printDiag(client, type, handle, what);
    return false;
}

}  // namespace benchodbc
