// Decoding a column-wise FetchResults reply of 100,000 rows of mixed types
// (BIGINT, STRING, DOUBLE, INT, TIMESTAMP) from memory through the column
// readers, and handing every cell to the application's buffers as a bound
// fetch would. Throughput shows as rows ("items") and reply bytes per
// second; "allocs/item" counts heap allocations per row and must stay 0,
// and "locks" (per 100,000 rows) shows no lock taken per value, also when
// text is converted into another code page (argument 4, Latin-1).
#include <benchmark/benchmark.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "alloccount.h"
#include "convert/basestring.h"
#include "foundation/kaerror.h"
#include "hive/dummyenv.h"
#include "hive/hivecommunicator.h"
#include "hive/hiveconnection.h"
#include "hive/hivenetwrite.h"
#include "hive/hivereader.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "transport/basesocket.h"
#include "transport/kasock.h"

namespace {

constexpr uint32_t kRows = 100000;
constexpr uint32_t kBufferSize = 1 << 20;

// Thrift binary bytes, big-endian.
struct Bytes {
    std::string s;
    Bytes& i8(uint8_t v)
    {
        s.push_back(char(v));
        return *this;
    }
    Bytes& i16(int16_t v) { return i8(uint8_t(uint16_t(v) >> 8)).i8(uint8_t(v)); }
    Bytes& i32(int32_t v) { return i16(int16_t(uint32_t(v) >> 16)).i16(int16_t(v)); }
    Bytes& i64(int64_t v) { return i32(int32_t(uint64_t(v) >> 32)).i32(int32_t(v)); }
    Bytes& str(const std::string& v)
    {
        i32(int32_t(v.size()));
        s += v;
        return *this;
    }
    Bytes& field(uint8_t type, int16_t id) { return i8(type).i16(id); }
};

void nulls(Bytes& b, uint32_t rows)
{
    std::string bits((rows + 7) / 8, '\0');
    for (uint32_t r = 0; r < rows; r += 97)
        bits[r / 8] = char(uint8_t(bits[r / 8]) | 1 << (r % 8));
    b.field(HIVE_T_STRING, 2).str(bits).i8(0).i8(0);
}

std::string reply()
{
    Bytes b;
    b.i32(int32_t(0x80010002u)).str("FetchResults").i32(0).field(HIVE_T_STRUCT, 0);
    b.field(HIVE_T_STRUCT, 1).field(HIVE_T_I32, 1).i32(0).i8(0);
    b.field(HIVE_T_STRUCT, 3).field(HIVE_T_I64, 1).i64(0);
    b.field(HIVE_T_LIST, 2).i8(HIVE_T_STRUCT).i32(0);
    b.field(HIVE_T_LIST, 3).i8(HIVE_T_STRUCT).i32(5);
    b.field(HIVE_T_STRUCT, 5).field(HIVE_T_LIST, 1).i8(HIVE_T_I64).i32(kRows);
    for (uint32_t r = 0; r < kRows; ++r)
        b.i64(int64_t(r) * 1000003);
    nulls(b, kRows);
    b.field(HIVE_T_STRUCT, 7).field(HIVE_T_LIST, 1).i8(HIVE_T_STRING).i32(kRows);
    for (uint32_t r = 0; r < kRows; ++r)
        b.str("customer " + std::to_string(r) + (r % 3 ? " M\xC3\xBCller" : " order"));
    nulls(b, kRows);
    b.field(HIVE_T_STRUCT, 6).field(HIVE_T_LIST, 1).i8(HIVE_T_DOUBLE).i32(kRows);
    for (uint32_t r = 0; r < kRows; ++r) {
        double d = r * 0.25;
        uint64_t bits = 0;
        memcpy(&bits, &d, 8);
        b.i64(int64_t(bits));
    }
    nulls(b, kRows);
    b.field(HIVE_T_STRUCT, 4).field(HIVE_T_LIST, 1).i8(HIVE_T_I32).i32(kRows);
    for (uint32_t r = 0; r < kRows; ++r)
        b.i32(int32_t(r));
    nulls(b, kRows);
    b.field(HIVE_T_STRUCT, 7).field(HIVE_T_LIST, 1).i8(HIVE_T_STRING).i32(kRows);
    for (uint32_t r = 0; r < kRows; ++r)
        b.str("2024-02-29 12:34:56.123456789");
    nulls(b, kRows);
    b.i8(0).i8(0).i8(0);
    Bytes framed;
    framed.i32(int32_t(b.s.size()));
    return framed.s + b.s;
}

class MemoryWire : public BaseSocket {
public:
    MemoryWire() noexcept : BaseSocket(nullptr, nullptr) {}
    const std::string* bytes = nullptr;
    size_t at = 0;
    int write(const void*, size_t, int32_t) noexcept override { return KA_SOCK_OK; }
    int read(void* buffer, size_t capacity, size_t* received, int32_t) noexcept override
    {
        size_t n = bytes->size() - at < capacity ? bytes->size() - at : capacity;
        if (n == 0)
            return KA_SOCK_LOST;
        memcpy(buffer, bytes->data() + at, n);
        at += n;
        *received = n;
        return KA_SOCK_OK;
    }
};

void BM_ColumnWiseFetch(benchmark::State& st)
{
    KaErrorList diags;
    KaErrorPushList(&diags);
    const std::string bytes = reply();
    DummyEnv env;
    HiveConnection conn(&env);
    MemoryWire wire;
    wire.bytes = &bytes;
    if (conn.readBuffer.setCapacity(kBufferSize) || conn.readBuffer.attach(&conn, &wire)) {
        st.SkipWithError("no read buffer");
        return;
    }
    conn.readBuffer.chunkSize = kBufferSize;
    conn.readBuffer.framed = 1;
    HiveCommunicatorHS2 comm(nullptr, &conn);
    BaseEnv baseEnv(15);
    BaseConnection baseConn(&baseEnv);
    BaseStatement stmt(&baseConn);
    // UTF-8 text is copied as it came; Latin-1 converts the text cells that
    // are not plain ASCII (every third) through the column's converters.
    stmt.charCodePage = st.range(0);
    const uint8_t types[5] = {HIVE_TYPE_BIGINT, HIVE_TYPE_STRING, HIVE_TYPE_DOUBLE, HIVE_TYPE_INT, HIVE_TYPE_TIMESTAMP};
    if (stmt.createDescriptors() || stmt.ird->setRecordCount(5)) {
        st.SkipWithError("no statement");
        return;
    }
    HiveFetchState state;
    state.statement = &stmt;
    state.readBuffer = &conn.readBuffer;
    state.rowsPerFetch = kRows;
    comm.fetchState = &state;
    HiveColumnStorage storage[5];
    DataReader* readers[5] = {};
    for (int c = 0; c < 5; ++c) {
        storage[c].columnIndex = uint16_t(c);
        storage[c].typeCode = types[c];
        BaseIRDRecord* rec = stmt.ird->irdRecord(c + 1);
        rec->conciseType = SQL_VARCHAR;
        rec->length = 256;
        rec->setCodePage(kCodePageUtf8);
        if (storage[c].prepare(HIVE_RESULT_COLUMN_WISE, 1, kRows, 4 << 20) ||
            hiveMakeReader(&state, &storage[c], HIVE_RESULT_COLUMN_WISE, &readers[c])) {
            st.SkipWithError("no reader");
            return;
        }
    }
    int64_t big = 0;
    double dbl = 0;
    int32_t i32 = 0;
    char text[64];
    char stamp[64];
    int64_t lengths[5] = {};
    BaseOutString outBig(&big, int64_t(sizeof big), &lengths[0], nullptr);
    BaseOutString outText(text, int64_t(sizeof text), &lengths[1], nullptr);
    BaseOutString outDbl(&dbl, int64_t(sizeof dbl), &lengths[2], nullptr);
    BaseOutString outInt(&i32, int64_t(sizeof i32), &lengths[3], nullptr);
    BaseOutString outStamp(stamp, int64_t(sizeof stamp), &lengths[4], nullptr);
    int64_t checksum = 0;
    kabench::Meter meter(st);
    for (auto _ : st) {
        wire.at = 0;
        uint32_t rows = 0;
        int32_t more = 0;
        bool ok = comm.readFetchResultsReply(&rows, &more) == 0 && rows == kRows;
        for (int c = 0; ok && c < 5; ++c)
            ok = readers[c]->readValue() == 0;
        ok = ok && comm.endReply() == 0;
        for (uint32_t r = 1; ok && r <= rows; ++r) {
            state.currentRow = r;
            ok = readers[0]->getData(&outBig, SQL_C_SBIGINT) == 0 && readers[1]->getData(&outText, SQL_C_CHAR) == 0 &&
                 readers[2]->getData(&outDbl, SQL_C_DOUBLE) == 0 && readers[3]->getData(&outInt, SQL_C_SLONG) == 0 &&
                 readers[4]->getData(&outStamp, SQL_C_CHAR) == 0;
            checksum += big + i32 + lengths[1];
        }
        if (!ok || diags.recordCount() != 0) {
            st.SkipWithError("fetch failed");
            break;
        }
    }
    benchmark::DoNotOptimize(checksum);
    meter.report(double(kRows));
    st.SetItemsProcessed(int64_t(st.iterations()) * kRows);
    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(bytes.size()));
    for (DataReader* r : readers)
        delete r;
    diags.clear();
    KaErrorPopList();
}
BENCHMARK(BM_ColumnWiseFetch)->Arg(kCodePageUtf8)->Arg(kCodePageLatin1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
