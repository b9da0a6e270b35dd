// The ODBC side of the catalog benchmark (bench/hs2catalog runs it):
// connects through the unixODBC driver manager, runs one catalog call and
// reads every row of its result with SQLGetData, then prints one line: the
// call, rows, seconds, rows/s, the process's CPU seconds (user + system) and
// its peak resident set. Each call runs in a process of its own, so the
// peak is that of one call.
//
// Usage: hs2catalog_odbc tables|columns|primarykeys|statistics CONNECTION-STRING [SCHEMA [TABLE]]
//   SCHEMA and TABLE: the call's schema and table names ("%" patterns for
//   tables and columns); absent, every schema and table.
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>

#include "odbcclient.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Wide enough for every catalog cell of the generated warehouse.
constexpr SQLLEN kCellBytes = 512;

bool ok(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    return benchodbc::ok("hs2catalog_odbc", rc, type, handle, what);
}

double cpuSeconds(const rusage& u)
{
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

SQLCHAR* arg(const char* s)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s));
}

SQLRETURN runCall(SQLHSTMT stmt, const std::string& call, const char* schema, const char* table)
{
    const SQLSMALLINT schemaLen = schema ? SQL_NTS : 0;
    const SQLSMALLINT tableLen = table ? SQL_NTS : 0;
    if (call == "tables")
        return SQLTables(stmt, nullptr, 0, arg(schema), schemaLen, arg(table), tableLen, nullptr, 0);
    if (call == "columns")
        return SQLColumns(stmt, nullptr, 0, arg(schema), schemaLen, arg(table), tableLen, nullptr, 0);
    if (call == "primarykeys")
        return SQLPrimaryKeys(stmt, nullptr, 0, arg(schema), schemaLen, arg(table), tableLen);
    if (call == "statistics")
        return SQLStatistics(stmt, nullptr, 0, arg(schema), schemaLen, arg(table), tableLen, SQL_INDEX_ALL, SQL_QUICK);
    fprintf(stderr, "hs2catalog_odbc: unknown call %s\n", call.c_str());
    return SQL_ERROR;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr,
                "usage: hs2catalog_odbc tables|columns|primarykeys|statistics CONNECTION-STRING [SCHEMA [TABLE]]\n");
        return 2;
    }
    const std::string call = argv[1];
    const char* schema = argc > 3 ? argv[3] : nullptr;
    const char* table = argc > 4 ? argv[4] : nullptr;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) != SQL_SUCCESS)
        return 1;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!ok(SQLDriverConnect(dbc, nullptr, arg(argv[2]), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
            SQL_HANDLE_DBC, dbc, "SQLDriverConnect"))
        return 1;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    if (!ok(runCall(stmt, call, schema, table), SQL_HANDLE_STMT, stmt, call.c_str()))
        return 1;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    long long rows = 0;
    char cell[kCellBytes];
    SQLLEN ind = 0;
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        if (!ok(rc, SQL_HANDLE_STMT, stmt, "SQLFetch"))
            return 1;
        for (SQLSMALLINT c = 1; c <= columns; ++c)
            if (!ok(SQLGetData(stmt, SQLUSMALLINT(c), SQL_C_CHAR, cell, sizeof cell, &ind), SQL_HANDLE_STMT, stmt,
                    "SQLGetData"))
                return 1;
        ++rows;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    printf("%-12s %10lld rows %8.2f s %10.0f rows/s %8.2f s CPU %8.1f MB peak RSS\n", call.c_str(), rows, seconds,
           seconds > 0 ? double(rows) / seconds : 0.0, cpuSeconds(after) - cpuSeconds(before),
           double(after.ru_maxrss) / 1024.0);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return 0;
}
