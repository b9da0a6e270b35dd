// The connect, round-trip and soak benchmarks' ODBC client (bench/hs2load
// runs it): an application of the unixODBC driver manager.
//
// Usage: hs2load_odbc connect    CONNECTION-STRING COUNT
//        hs2load_odbc roundtrip  CONNECTION-STRING COUNT
//        hs2load_odbc soak       CONNECTION-STRING SECONDS THREADS CSV-FILE
// connect: COUNT connects and disconnects, one after the other.
// roundtrip: COUNT small queries on one connection, each executed and read.
// soak: THREADS threads run a mix of queries on their own connections,
// reconnecting every 50 queries, for SECONDS; every 10 seconds a CSV line
// (elapsed s, queries, queries/s, p50 and p99 of the small query in ms, RSS
// in KiB, open descriptors, failures) goes to CSV-FILE and to standard output.
// Each mode ends with a summary line.
#include <dirent.h>
#include <sql.h>
#include <sqlext.h>

#include "odbcclient.h"
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

SQLCHAR* text(const std::string& s)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

void printDiag(SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    benchodbc::printDiag("hs2load_odbc", type, handle, what);
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t at = std::min(v.size() - 1, size_t(p * double(v.size())));
    return v[at];
}

long rssKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int openDescriptors()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++n;
        closedir(d);
    }
    return n - 3;  // ".", ".." and the directory's own descriptor
}

struct Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
};

bool connect(SQLHENV env, const std::string& cs, SQLHDBC* dbc)
{
    if (SQLAllocHandle(SQL_HANDLE_DBC, env, dbc) != SQL_SUCCESS)
        return false;
    SQLRETURN rc = SQLDriverConnect(*dbc, nullptr, text(cs), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        printDiag(SQL_HANDLE_DBC, *dbc, "SQLDriverConnect");
        SQLFreeHandle(SQL_HANDLE_DBC, *dbc);
        *dbc = SQL_NULL_HDBC;
        return false;
    }
    return true;
}

void disconnect(SQLHDBC dbc)
{
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

// Executes and reads every row as text; the row count, or -1.
long long runQuery(SQLHSTMT stmt, const char* sql)
{
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, text(sql), SQL_NTS))) {
        printDiag(SQL_HANDLE_STMT, stmt, sql);
        SQLFreeStmt(stmt, SQL_CLOSE);
        return -1;
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    char cell[256];
    SQLLEN ind = 0;
    long long rows = 0;
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
        for (SQLSMALLINT c = 1; c <= columns; ++c)
            SQLGetData(stmt, SQLUSMALLINT(c), SQL_C_CHAR, cell, sizeof cell, &ind);
        ++rows;
    }
    if (rc != SQL_NO_DATA) {
        printDiag(SQL_HANDLE_STMT, stmt, sql);
        rows = -1;
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    return rows;
}

const char* kSmallQuery = "SELECT count(*) FROM people";
const char* kMix[] = {
    "SELECT count(*) FROM people",
    "SELECT * FROM bench.synthetic LIMIT 200",
    "SELECT * FROM all_types ORDER BY id",
    "SELECT id, name, joined, score FROM people ORDER BY id",
    "SELECT id, s, length(s) FROM long_values ORDER BY id",
};

int modeConnect(SQLHENV env, const std::string& cs, long count)
{
    std::vector<double> times;
    auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        auto t0 = Clock::now();
        SQLHDBC dbc;
        if (!connect(env, cs, &dbc))
            return 1;
        disconnect(dbc);
        times.push_back(ms(Clock::now() - t0));
    }
    double seconds = ms(Clock::now() - start) / 1000;
    printf("connect %ld in %.2f s: %.1f connects/s, p50 %.2f ms, p99 %.2f ms\n", count, seconds,
           double(count) / seconds, percentile(times, 0.5), percentile(times, 0.99));
    return 0;
}

int modeRoundTrip(SQLHENV env, const std::string& cs, long count)
{
    SQLHDBC dbc;
    if (!connect(env, cs, &dbc))
        return 1;
    SQLHSTMT stmt;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    std::vector<double> times;
    auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        auto t0 = Clock::now();
        if (runQuery(stmt, kSmallQuery) != 1)
            return 1;
        times.push_back(ms(Clock::now() - t0));
    }
    double seconds = ms(Clock::now() - start) / 1000;
    printf("roundtrip %ld in %.2f s: %.1f queries/s, p50 %.2f ms, p99 %.2f ms\n", count, seconds,
           double(count) / seconds, percentile(times, 0.5), percentile(times, 0.99));
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    disconnect(dbc);
    return 0;
}

int modeSoak(SQLHENV env, const std::string& cs, long seconds, int threads, const std::string& csv)
{
    std::atomic<bool> stop{false};
    std::atomic<long> queries{0};
    std::atomic<long> failures{0};
    std::mutex mutex;
    std::vector<double> small;  // latencies of the small query since the last sample
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            long i = t;
            while (!stop) {
                SQLHDBC dbc;
                if (!connect(env, cs, &dbc)) {
                    ++failures;
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    continue;
                }
                SQLHSTMT stmt;
                SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
                for (int q = 0; q < 50 && !stop; ++q, ++i) {
                    const char* sql = kMix[size_t(i) % (sizeof kMix / sizeof kMix[0])];
                    auto t0 = Clock::now();
                    if (runQuery(stmt, sql) < 0)
                        ++failures;
                    double took = ms(Clock::now() - t0);
                    ++queries;
                    if (sql == kSmallQuery) {
                        std::lock_guard<std::mutex> lock(mutex);
                        small.push_back(took);
                    }
                }
                SQLFreeHandle(SQL_HANDLE_STMT, stmt);
                disconnect(dbc);
            }
        });
    }
    FILE* out = fopen(csv.c_str(), "w");
    if (out == nullptr) {
        perror(csv.c_str());
        stop = true;
    } else {
        fprintf(out, "elapsed_s,queries,queries_per_s,small_p50_ms,small_p99_ms,rss_kib,open_fds,failures\n");
    }
    auto start = Clock::now();
    long last = 0;
    long firstRss = 0, lastRss = 0, maxRss = 0;
    int firstFds = 0, lastFds = 0;
    for (long elapsed = 10; out != nullptr && elapsed <= seconds; elapsed += 10) {
        std::this_thread::sleep_until(start + std::chrono::seconds(elapsed));
        std::vector<double> sample;
        {
            std::lock_guard<std::mutex> lock(mutex);
            sample.swap(small);
        }
        long done = queries.load();
        lastRss = rssKiB();
        lastFds = openDescriptors();
        if (firstRss == 0) {
            firstRss = lastRss;
            firstFds = lastFds;
        }
        maxRss = std::max(maxRss, lastRss);
        char line[256];
        snprintf(line, sizeof line, "%ld,%ld,%.1f,%.2f,%.2f,%ld,%d,%ld", elapsed, done, double(done - last) / 10.0,
                 percentile(sample, 0.5), percentile(sample, 0.99), lastRss, lastFds, failures.load());
        fprintf(out, "%s\n", line);
        fflush(out);
        printf("%s\n", line);
        fflush(stdout);
        last = done;
    }
    stop = true;
    for (std::thread& w : workers)
        w.join();
    if (out != nullptr)
        fclose(out);
    printf("soak %ld s, %d threads: %ld queries (%.1f/s), %ld failures; RSS %ld KiB at 10 s, %ld at the end, "
           "%ld at most; descriptors %d at 10 s, %d at the end\n",
           seconds, threads, queries.load(), double(queries.load()) / double(seconds), failures.load(), firstRss,
           lastRss, maxRss, firstFds, lastFds);
    return failures.load() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: hs2load_odbc connect|roundtrip CS COUNT | soak CS SECONDS THREADS CSV\n");
        return 2;
    }
    std::string mode = argv[1];
    std::string cs = argv[2];
    SQLHENV env;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    int rc = 2;
    if (mode == "connect")
        rc = modeConnect(env, cs, atol(argv[3]));
    else if (mode == "roundtrip")
        rc = modeRoundTrip(env, cs, atol(argv[3]));
    else if (mode == "soak" && argc == 6)
        rc = modeSoak(env, cs, atol(argv[3]), atoi(argv[4]), argv[5]);
    else
        fprintf(stderr, "hs2load_odbc: unknown mode or arguments\n");
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return rc;
}
