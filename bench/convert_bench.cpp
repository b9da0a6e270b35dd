// The conversion of one fetched cell into the C type the application asks
// for, for the common pairs: the time of one iteration is the time of one
// value, with the heap allocations and lock waits it makes. Values go through
// the statement's column entry that fetch and SQLGetData use (which fills
// the conversion context), with the column described as the HiveServer2
// readers describe it (text in UTF-8), into buffers that are reused, as
// bound columns are.
#include <benchmark/benchmark.h>

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "alloccount.h"
#include "convert/basecvt.h"
#include "convert/basestring.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"

namespace {

// Room of the application buffers.
constexpr int64_t kBufferBytes = 512;

struct Fixture {
    BaseEnv env{15};
    BaseConnection conn{&env};
    BaseStatement stmt{&conn};
    BaseErrorList diagnostics{&conn};

    explicit Fixture(int16_t sqlType, int64_t size, int16_t scale, int64_t appCodePage = kCodePageUtf8)
    {
        conn.appCodePage = appCodePage;
        stmt.charCodePage = appCodePage;
        if (stmt.createDescriptors() != 0 || stmt.ird->setRecordCount(1) != 0)
            std::abort();
        BaseIRDRecord* rec = stmt.ird->irdRecord(1);
        rec->conciseType = sqlType;
        if (baseIsVarLengthType(sqlType))
            rec->length = static_cast<uint64_t>(size);
        else
            rec->precision = static_cast<int16_t>(size);
        rec->scale = scale;
        rec->setCodePage(kCodePageUtf8);
        KaErrorPushList(&diagnostics);
    }
    ~Fixture() { KaErrorPopList(); }
};

void run(benchmark::State& state, int16_t sqlType, int64_t size, int16_t scale, int16_t cType, const void* value,
         int64_t length, int32_t kind, int64_t appCodePage = kCodePageUtf8)
{
    Fixture f(sqlType, size, scale, appCodePage);
    alignas(8) unsigned char buffer[kBufferBytes];
    int64_t indicator = 0;
    kabench::Meter meter(state);
    for (auto _ : state) {
        BaseOutString out(buffer, kBufferBytes, &indicator, nullptr);
        f.stmt.resetLongData();
        if (f.stmt.convertColumnValue(1, cType, &out, value, length, kind) != 0) {
            state.SkipWithError("the conversion failed");
            break;
        }
        benchmark::DoNotOptimize(buffer);
        benchmark::DoNotOptimize(indicator);
    }
    meter.report();
    if (f.diagnostics.recordCount() != 0)
        state.SkipWithError("the conversion posted diagnostics");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("one value per iteration");
}

const int32_t kInteger = 1234567;
const double kDouble = 3.14159265358979;
const std::string kUtf8 = "Gr\xc3\xbc\xc3\x9f"
                          "e aus K\xc3\xb6ln, 2024 \xe2\x82\xac";
const std::string kTimestamp = "2024-03-05 17:45:12.123456789";
const std::string kDecimal = "-12345678901234.56789";

void IntegerToChar(benchmark::State& s)
{
    run(s, SQL_INTEGER, 10, 0, SQL_C_CHAR, &kInteger, 4, kBaseKindInteger);
}
void IntegerToSLong(benchmark::State& s)
{
    run(s, SQL_INTEGER, 10, 0, SQL_C_SLONG, &kInteger, 4, kBaseKindInteger);
}
void DoubleToDouble(benchmark::State& s)
{
    run(s, SQL_DOUBLE, 15, 0, SQL_C_DOUBLE, &kDouble, 8, kBaseKindDouble);
}
void DoubleToChar(benchmark::State& s)
{
    run(s, SQL_DOUBLE, 15, 0, SQL_C_CHAR, &kDouble, 8, kBaseKindDouble);
}
void Utf8ToChar(benchmark::State& s)
{
    run(s, SQL_VARCHAR, 255, 0, SQL_C_CHAR, kUtf8.data(), static_cast<int64_t>(kUtf8.size()), kBaseKindText);
}
void Utf8ToCharLatin1(benchmark::State& s)
{
    run(s, SQL_VARCHAR, 255, 0, SQL_C_CHAR, kUtf8.data(), static_cast<int64_t>(kUtf8.size()), kBaseKindText,
        kCodePageLatin1);
}
void Utf8ToWChar(benchmark::State& s)
{
    run(s, SQL_VARCHAR, 255, 0, SQL_C_WCHAR, kUtf8.data(), static_cast<int64_t>(kUtf8.size()), kBaseKindText);
}
void TimestampTextToTimestamp(benchmark::State& s)
{
    run(s, SQL_TYPE_TIMESTAMP, 29, 9, SQL_C_TYPE_TIMESTAMP, kTimestamp.data(), static_cast<int64_t>(kTimestamp.size()),
        kBaseKindText);
}
void DecimalTextToNumeric(benchmark::State& s)
{
    run(s, SQL_DECIMAL, 38, 5, SQL_C_NUMERIC, kDecimal.data(), static_cast<int64_t>(kDecimal.size()), kBaseKindText);
}

}  // namespace

BENCHMARK(IntegerToChar);
BENCHMARK(IntegerToSLong);
BENCHMARK(DoubleToDouble);
BENCHMARK(DoubleToChar);
BENCHMARK(Utf8ToChar);
BENCHMARK(Utf8ToCharLatin1);
BENCHMARK(Utf8ToWChar);
BENCHMARK(TimestampTextToTimestamp);
BENCHMARK(DecimalTextToNumeric);

BENCHMARK_MAIN();
