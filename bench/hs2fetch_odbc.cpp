// The ODBC side of the end-to-end fetch benchmark (bench/hs2fetch runs it):
// connects through the unixODBC driver manager, runs one query and fetches
// its rows either into bound column arrays or cell by cell with SQLGetData,
// then prints one line: mode, rows, seconds, rows/s and the process's peak
// resident set.
//
// Usage: hs2fetch_odbc bound|getdata CONNECTION-STRING QUERY [ROWS]
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>

#include "odbcclient.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr SQLULEN kRowArraySize = 1000;
// Wide enough for every column of bench.synthetic as text.
constexpr SQLLEN kCellBytes = 64;

bool ok(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    return benchodbc::ok("hs2fetch_odbc", rc, type, handle, what);
}

// Bound arrays: every column as text (the STRING column) or as its own C
// type where one fits, so the numbers are not paid for in formatting.
long long fetchBound(SQLHSTMT stmt, SQLSMALLINT columns, long long limit)
{
    if (!ok(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowArraySize), 0),
            SQL_HANDLE_STMT, stmt, "SQL_ATTR_ROW_ARRAY_SIZE"))
        return -1;
    SQLULEN fetched = 0;
    if (!ok(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, stmt,
            "SQL_ATTR_ROWS_FETCHED_PTR"))
        return -1;
    struct Column {
        SQLSMALLINT cType;
        SQLLEN width;
        std::vector<char> data;
        std::vector<SQLLEN> ind;
    };
    std::vector<Column> cols(static_cast<size_t>(columns));
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
        SQLSMALLINT sqlType = 0;
        if (!ok(SQLDescribeCol(stmt, c, nullptr, 0, nullptr, &sqlType, nullptr, nullptr, nullptr), SQL_HANDLE_STMT,
                stmt, "SQLDescribeCol"))
            return -1;
        Column& col = cols[size_t(c - 1)];
        switch (sqlType) {
        case SQL_BIGINT: col = {SQL_C_SBIGINT, 8, {}, {}}; break;
        case SQL_INTEGER: col = {SQL_C_SLONG, 4, {}, {}}; break;
        case SQL_DOUBLE: col = {SQL_C_DOUBLE, 8, {}, {}}; break;
        case SQL_BIT: col = {SQL_C_BIT, 1, {}, {}}; break;
        case SQL_TYPE_DATE: col = {SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT), {}, {}}; break;
        default: col = {SQL_C_CHAR, kCellBytes, {}, {}}; break;
        }
        col.data.resize(size_t(col.width) * kRowArraySize);
        col.ind.resize(kRowArraySize);
        if (!ok(SQLBindCol(stmt, SQLUSMALLINT(c), col.cType, col.data.data(), col.width, col.ind.data()),
                SQL_HANDLE_STMT, stmt, "SQLBindCol"))
            return -1;
    }
    long long rows = 0;
    long long check = 0;
    while (rows < limit) {
        SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        if (!ok(rc, SQL_HANDLE_STMT, stmt, "SQLFetch"))
            return -1;
        rows += (long long)fetched;
        // Touch the values so the fetch cannot be judged idle.
        check += cols[0].ind[0];
    }
    if (check == 0x7fffffffffffffffLL)
        fputc(' ', stderr);
    return rows;
}

long long fetchGetData(SQLHSTMT stmt, SQLSMALLINT columns, long long limit)
{
    char cell[kCellBytes];
    SQLLEN ind = 0;
    long long rows = 0;
    while (rows < limit) {
        SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        if (!ok(rc, SQL_HANDLE_STMT, stmt, "SQLFetch"))
            return -1;
        for (SQLSMALLINT c = 1; c <= columns; ++c)
            if (!ok(SQLGetData(stmt, SQLUSMALLINT(c), SQL_C_CHAR, cell, sizeof cell, &ind), SQL_HANDLE_STMT, stmt,
                    "SQLGetData"))
                return -1;
        ++rows;
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4 || (strcmp(argv[1], "bound") != 0 && strcmp(argv[1], "getdata") != 0)) {
        fprintf(stderr, "usage: hs2fetch_odbc bound|getdata CONNECTION-STRING QUERY [ROWS]\n");
        return 2;
    }
    const bool bound = strcmp(argv[1], "bound") == 0;
    const long long limit = argc > 4 ? atoll(argv[4]) : 1000000;

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) != SQL_SUCCESS)
        return 1;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_HANDLE_ENV, env, "SQLAllocHandle"))
        return 1;
    std::string conn = argv[2];
    if (!ok(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(conn.data()), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT),
            SQL_HANDLE_DBC, dbc, "SQLDriverConnect"))
        return 1;
    if (!ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_HANDLE_DBC, dbc, "SQLAllocHandle"))
        return 1;

    auto start = std::chrono::steady_clock::now();
    if (!ok(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(argv[3]), SQL_NTS), SQL_HANDLE_STMT, stmt, "SQLExecDirect"))
        return 1;
    SQLSMALLINT columns = 0;
    if (!ok(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt, "SQLNumResultCols"))
        return 1;
    long long rows = bound ? fetchBound(stmt, columns, limit) : fetchGetData(stmt, columns, limit);
    if (rows < 0)
        return 1;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    SQLCloseCursor(stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    printf("%-8s rows=%lld seconds=%.3f rows_per_s=%.0f peak_rss_mib=%.1f\n", argv[1], rows, seconds,
           seconds > 0 ? double(rows) / seconds : 0.0, double(usage.ru_maxrss) / 1024.0);
    return rows == limit ? 0 : 3;
}
