// The cost of the driver's own trace on a fetch loop: a row handed over per
// iteration with tracing off (no writer: one pointer test), and, for scale,
// with the memory ring and with rolling files on. Tracing off must match the
// loop without any trace test, with no allocations and no locks.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "alloccount.h"
#include "platform/katracing.h"

namespace {

// One fetched row's worth of work: its cells copied into the caller's buffer.
struct Row {
    char cells[256];
};

inline void fetchRow(const Row& row, char* out, size_t i)
{
    memcpy(out, row.cells, sizeof row.cells);
    out[0] = char(i);
    benchmark::DoNotOptimize(out);
}

inline void traceRow(KaTracing* writer, size_t i)
{
    if (kaTraceOn(writer)) {
        char line[64];
        int n = snprintf(line, sizeof line, "fetch row %zu\n", i);
        (void)writer->write(line, size_t(n));
    }
}

void FetchWithoutTrace(benchmark::State& state)
{
    Row row{};
    char out[sizeof row.cells];
    size_t i = 0;
    kabench::Meter meter(state);
    for (auto _ : state)
        fetchRow(row, out, i++);
    meter.report();
}
BENCHMARK(FetchWithoutTrace);

void FetchTracingOff(benchmark::State& state)
{
    Row row{};
    char out[sizeof row.cells];
    size_t i = 0;
    // Opaque to the optimiser, as the connection's writer pointer is.
    KaTracing* writer = nullptr;
    benchmark::DoNotOptimize(writer);
    kabench::Meter meter(state);
    for (auto _ : state) {
        traceRow(writer, i);
        fetchRow(row, out, i++);
    }
    meter.report();
}
BENCHMARK(FetchTracingOff);

void FetchTracingToMemory(benchmark::State& state)
{
    KaMemoryTracing writer;
    if (writer.configure("ODBCTraceMemBuffSize=1024") != 0) {
        state.SkipWithError("configure failed");
        return;
    }
    Row row{};
    char out[sizeof row.cells];
    size_t i = 0;
    kabench::Meter meter(state);
    for (auto _ : state) {
        traceRow(&writer, i);
        fetchRow(row, out, i++);
    }
    meter.report();
}
BENCHMARK(FetchTracingToMemory);

void FetchTracingToFiles(benchmark::State& state)
{
    char dir[] = "/tmp/katracebenchXXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no directory");
        return;
    }
    std::string options =
        std::string("TraceFile=") + dir + "/bench.log;ODBCTraceMaxFileSize=1024;ODBCTraceMaxNumFiles=2";
    {
        KaFileTracing writer;
        if (writer.configure(options.c_str()) != 0) {
            state.SkipWithError("configure failed");
            return;
        }
        Row row{};
        char out[sizeof row.cells];
        size_t i = 0;
        kabench::Meter meter(state);
        for (auto _ : state) {
            traceRow(&writer, i);
            fetchRow(row, out, i++);
        }
        meter.report();
    }
    std::string cleanup = std::string("rm -rf ") + dir;
    if (system(cleanup.c_str()) != 0)
        state.SkipWithError("cleanup failed");
}
BENCHMARK(FetchTracingToFiles);

}  // namespace

BENCHMARK_MAIN();
