// The platform's hot paths: text conversion between code pages (the
// connection's converter set, the per-cell conversion through a converter
// pool, and the ICU routines beneath both), the sort engine in memory and
// through run files, and the SQL tokenizers over a typical SELECT. Each
// benchmark reports heap allocations and lock waits per iteration.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include <unicode/ucnv.h>

#include "alloccount.h"
#include "foundation/icucache.h"
#include "foundation/icuconv.h"
#include "convert/textcvt.h"
#include "foundation/kaerror.h"
#include "platform/sort.h"
#include "sql/bytescanner.h"
#include "sql/kascanne.h"

namespace {

// Catches anything a benchmark posts, so that a failing conversion shows as
// an error rather than passing silently.
struct Diagnostics {
    KaErrorList list;
    Diagnostics() { KaErrorPushList(&list); }
    ~Diagnostics()
    {
        list.clear();
        KaErrorPopList();
    }
    bool clean() { return list.recordCount() == 0; }
};

// ---- Texts -------------------------------------------------------------------

// A typical short character cell, all ASCII; the same length with accented
// letters from the third word on; and a long cell.
const std::string kAscii = "Order 100234 shipped to Springfield warehouse 7, status OK.";
const std::string kUtf8Mixed = "Bestellung f\xc3\xbcr M\xc3\xbcller, Stra\xc3\x9f"
                               "e 7, K\xc3\xb6ln: gepr\xc3\xbc"
                               "ft, \xc3\xa0 bient\xc3\xb4t.";

// Latin-1 bytes of kUtf8Mixed.
std::string latin1Of(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC0 && i + 1 < utf8.size()) {
            out.push_back(char(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F)));
            ++i;
        } else {
            out.push_back(char(c));
        }
    }
    return out;
}

std::string longCell()
{
    std::string s;
    while (s.size() + kAscii.size() <= 4000)
        s += kAscii;
    return s;
}

const std::string& text(int64_t which)
{
    static const std::string mixedLatin1 = latin1Of(kUtf8Mixed);
    static const std::string longText = longCell();
    static const std::string longLatin1 = longCell() + latin1Of(kUtf8Mixed);
    switch (which) {
    case 0: return kAscii;
    case 1: return kUtf8Mixed;
    case 2: return longText;
    case 3: return mixedLatin1;
    default: return longLatin1;
    }
}

const char* textLabel(int64_t which)
{
    static const char* const labels[] = {"ASCII", "UTF-8 accented", "4000 bytes ASCII", "Latin-1 accented",
                                         "4000 bytes, Latin-1 tail"};
    return labels[which];
}

constexpr size_t kOutBytes = 16384;
alignas(8) unsigned char gOut[kOutBytes];

// ---- KaCharConv: the connection's converter set -------------------------------

KaCharConv* charConv()
{
    static KaCharConv* conv = [] {
        KaCharConv* c = new KaCharConv;
        if (c != nullptr && c->init(31) != 0) {
            delete c;
            c = nullptr;
        }
        return c;
    }();
    return conv;
}

void CharConvUtf8ToUtf16(benchmark::State& state)
{
    const std::string& src = text(state.range(0));
    KaCharConv* conv = charConv();
    Diagnostics diags;
    int64_t length = 0;
    // The first call opens the converter; the loop measures the calls after.
    if (conv->toUnicode(reinterpret_cast<uint16_t*>(gOut), kOutBytes / 2, src.data(), int64_t(src.size()), &length,
                        kCodePageUtf8, 0) != 0) {
        state.SkipWithError("the conversion failed");
        return;
    }
    kabench::Meter meter(state);
    for (auto _ : state) {
        if (conv->toUnicode(reinterpret_cast<uint16_t*>(gOut), kOutBytes / 2, src.data(), int64_t(src.size()), &length,
                            kCodePageUtf8, 0) != 0) {
            state.SkipWithError("the conversion failed");
            break;
        }
        benchmark::DoNotOptimize(gOut);
    }
    meter.report();
    if (!diags.clean())
        state.SkipWithError("the conversion posted diagnostics");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
    state.SetLabel(textLabel(state.range(0)));
}
BENCHMARK(CharConvUtf8ToUtf16)->ArgName("text")->Arg(0)->Arg(1)->Arg(2);

void CharConvLatin1ToUtf8(benchmark::State& state)
{
    int64_t which = state.range(0);
    const std::string& src = text(which);
    KaCharConv* conv = charConv();
    Diagnostics diags;
    int64_t written = 0, consumed = 0;
    if (conv->convert(reinterpret_cast<char*>(gOut), kOutBytes, src.data(), int64_t(src.size()), &written, &consumed,
                      kCodePageLatin1, kCodePageUtf8) != 0) {
        state.SkipWithError("the conversion failed");
        return;
    }
    kabench::Meter meter(state);
    for (auto _ : state) {
        if (conv->convert(reinterpret_cast<char*>(gOut), kOutBytes, src.data(), int64_t(src.size()), &written,
                          &consumed, kCodePageLatin1, kCodePageUtf8) != 0) {
            state.SkipWithError("the conversion failed");
            break;
        }
        benchmark::DoNotOptimize(gOut);
    }
    meter.report();
    if (!diags.clean())
        state.SkipWithError("the conversion posted diagnostics");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
    state.SetLabel(textLabel(which));
}
BENCHMARK(CharConvLatin1ToUtf8)->ArgName("text")->Arg(0)->Arg(3)->Arg(2)->Arg(4);

// ---- One cell through a converter pool ----------------------------------------

void convertCell(benchmark::State& state, int64_t srcCp, int64_t dstCp)
{
    int64_t which = state.range(0);
    const std::string& src = text(which);
    KaIcuCache cache;
    Diagnostics diags;
    int64_t produced = 0;
    int32_t truncated = 0;
    // Fills the pool, as the first cell of a result set does.
    if (baseConvertTextToBuffer(srcCp, src.data(), int64_t(src.size()), dstCp, gOut, kOutBytes, 0, &produced,
                                &truncated, &cache) != 0) {
        state.SkipWithError("the conversion failed");
        return;
    }
    kabench::Meter meter(state);
    for (auto _ : state) {
        if (baseConvertTextToBuffer(srcCp, src.data(), int64_t(src.size()), dstCp, gOut, kOutBytes, 0, &produced,
                                    &truncated, &cache) != 0) {
            state.SkipWithError("the conversion failed");
            break;
        }
        benchmark::DoNotOptimize(gOut);
    }
    meter.report();
    if (!diags.clean())
        state.SkipWithError("the conversion posted diagnostics");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
    state.SetLabel(textLabel(which));
}

void CellUtf8ToUtf16(benchmark::State& state)
{
    convertCell(state, kCodePageUtf8, kCodePageUtf16LE);
}
BENCHMARK(CellUtf8ToUtf16)->ArgName("text")->Arg(0)->Arg(1)->Arg(2);

void CellLatin1ToUtf8(benchmark::State& state)
{
    convertCell(state, kCodePageLatin1, kCodePageUtf8);
}
BENCHMARK(CellLatin1ToUtf8)->ArgName("text")->Arg(0)->Arg(3)->Arg(2)->Arg(4);

// ---- The ICU routines beneath ------------------------------------------------

void IcuUtf8ToUtf16(benchmark::State& state)
{
    const std::string& src = text(state.range(0));
    size_t length = 0;
    kabench::Meter meter(state);
    for (auto _ : state) {
        if (utf8ToUtf16(reinterpret_cast<uint16_t*>(gOut), kOutBytes / 2, src.data(), int64_t(src.size()), &length,
                        0) != kConvDone) {
            state.SkipWithError("the conversion failed");
            break;
        }
        benchmark::DoNotOptimize(gOut);
    }
    meter.report();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
    state.SetLabel(textLabel(state.range(0)));
}
BENCHMARK(IcuUtf8ToUtf16)->ArgName("text")->Arg(0)->Arg(1)->Arg(2);

void IcuLatin1ToUtf8(benchmark::State& state)
{
    int64_t which = state.range(0);
    const std::string& src = text(which);
    UErrorCode status = U_ZERO_ERROR;
    UConverter* latin1 = ucnv_open("ISO-8859-1", &status);
    UConverter* utf8 = ucnv_open("UTF-8", &status);
    if (U_FAILURE(status)) {
        state.SkipWithError("ICU has no converter for ISO-8859-1 or UTF-8");
        return;
    }
    size_t written = 0, consumed = 0;
    kabench::Meter meter(state);
    for (auto _ : state) {
        if (convertCodePages(reinterpret_cast<char*>(gOut), kOutBytes, src.data(), src.size(), &written, &consumed,
                             latin1, utf8) != kConvDone) {
            state.SkipWithError("the conversion failed");
            break;
        }
        benchmark::DoNotOptimize(gOut);
    }
    meter.report();
    ucnv_close(latin1);
    ucnv_close(utf8);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
    state.SetLabel(textLabel(which));
}
BENCHMARK(IcuLatin1ToUtf8)->ArgName("text")->Arg(0)->Arg(3)->Arg(2)->Arg(4);

// ---- Sort ----------------------------------------------------------------------

// Deterministic keys: the same input on every run.
uint64_t nextKey(uint64_t& seed)
{
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return seed >> 11;
}

// One iteration: collect n records with an 8-byte key, sort, read them all
// back in order. 16-byte records stay in memory; 64-byte records beyond the
// 4 MB of buffers spill into runs that reading merges.
void sortRecords(benchmark::State& state, uint16_t recordSize)
{
    int64_t n = state.range(0);
    std::vector<unsigned char> record(recordSize, 0);
    Diagnostics diags;
    uint64_t spilled = 0;
    kabench::Meter meter(state);
    for (auto _ : state) {
        KaSort sort(recordSize);
        if (sort.addKey(0, 0, 8) != 0) {
            state.SkipWithError("the key was refused");
            break;
        }
        uint64_t seed = 42;
        for (int64_t i = 0; i < n; ++i) {
            uint64_t key = nextKey(seed);
            std::memcpy(record.data(), &key, sizeof key);
            if (sort.addRecord(record.data()) != 0) {
                state.SkipWithError("a record was refused");
                break;
            }
        }
        if (sort.finishInput() != 0) {
            state.SkipWithError("the sort failed");
            break;
        }
        int64_t read = 0;
        void* rec = nullptr;
        for (int rc = sort.first(&rec); rc == 0 && rec != nullptr; rc = sort.next(&rec))
            ++read;
        if (read != n) {
            state.SkipWithError("records were lost");
            break;
        }
        spilled = (sort.flags & KA_SORT_SPILLED) != 0 ? sort.runCount : 0;
    }
    meter.report(double(n));
    if (!diags.clean())
        state.SkipWithError("the sort posted diagnostics");
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["runs"] = double(spilled);
}

void SortInMemory(benchmark::State& state)
{
    sortRecords(state, 16);
}
BENCHMARK(SortInMemory)->ArgName("records")->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void SortExternal(benchmark::State& state)
{
    sortRecords(state, 64);
}
BENCHMARK(SortExternal)->ArgName("records")->Arg(200000)->Unit(benchmark::kMillisecond);

struct Item : KaObject {
    uint64_t value = 0;
    int16_t compare(const KaObject& other) const override
    {
        uint64_t o = static_cast<const Item&>(other).value;
        return int16_t((value > o) - (value < o));
    }
};

// The external sort on a caller's pointer array held in memory, ordered by
// the objects' compare (sorted arrays use the in-memory core directly). Each iteration restores the
// shuffled order first (a copy of n pointers).
void SortPointerArray(benchmark::State& state)
{
    int64_t n = state.range(0);
    size_t count = static_cast<size_t>(n);
    std::vector<Item> items(count);
    std::vector<KaObject*> shuffled(count), work(count);
    uint64_t seed = 7;
    for (int64_t i = 0; i < n; ++i) {
        items[size_t(i)].value = nextKey(seed);
        shuffled[size_t(i)] = &items[size_t(i)];
    }
    Diagnostics diags;
    kabench::Meter meter(state);
    for (auto _ : state) {
        std::memcpy(work.data(), shuffled.data(), size_t(n) * sizeof(KaObject*));
        KaSort sort(sizeof(void*));
        sort.attachPointerArray(uint64_t(n), work.data());
        if (sort.addKey(KA_SORT_KEY_OBJECT, 0, sizeof(void*)) != 0 || sort.finishInput() != 0) {
            state.SkipWithError("the sort failed");
            break;
        }
        benchmark::DoNotOptimize(work.data());
    }
    meter.report(double(n));
    if (!diags.clean())
        state.SkipWithError("the sort posted diagnostics");
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(SortPointerArray)->ArgName("objects")->Arg(16)->Arg(1000)->Unit(benchmark::kMicrosecond);

// ---- Tokenizers ------------------------------------------------------------------

const char kSelect[] = "SELECT c.customer_id, c.name, SUM(o.amount) AS total, COUNT(*) AS orders "
                       "FROM sales.customers c INNER JOIN sales.orders o ON o.customer_id = c.customer_id "
                       "WHERE o.order_date >= {d '2024-01-01'} AND c.region IN ('EU', 'US') AND c.name <> 'O''Brien' "
                       "GROUP BY c.customer_id, c.name HAVING SUM(o.amount) > 1000.50 ORDER BY total DESC LIMIT 100";

const char* modeLabel(int64_t mode)
{
    return mode == KA_SCAN_SQL_WORDS ? "SQL words" : mode == KA_SCAN_RUNS ? "runs" : "plain";
}

// Scans the statement once an iteration, token by token; setInput points
// the scanner at it.
template <typename Scanner, typename Token, typename SetInput>
void scanSelect(benchmark::State& state, SetInput setInput)
{
    int mode = int(state.range(0));
    Scanner scanner;
    Token token;
    int64_t tokens = 0;
    kabench::Meter meter(state);
    for (auto _ : state) {
        setInput(scanner);
        tokens = 0;
        do {
            scanner.nextToken(token, mode);
            ++tokens;
        } while (token.kind != KA_TOKEN_END);
        benchmark::DoNotOptimize(token.data);
    }
    meter.report(double(tokens));
    state.SetItemsProcessed(state.iterations() * tokens);
    state.counters["tokens"] = double(tokens);
    state.SetLabel(modeLabel(mode));
}

void ScanSelectW(benchmark::State& state)
{
    std::vector<uint16_t> sql;
    for (const char* p = kSelect; *p != '\0'; ++p)
        sql.push_back(static_cast<unsigned char>(*p));
    scanSelect<KaScannerW, KaTokenW>(state, [&](KaScannerW& scanner) { scanner.setInput(sql.data(), sql.size()); });
}
BENCHMARK(ScanSelectW)->ArgName("mode")->Arg(KA_SCAN_PLAIN)->Arg(KA_SCAN_SQL_WORDS);

void ScanSelectUtf8(benchmark::State& state)
{
    scanSelect<KaScanner, KaToken>(
        state, [](KaScanner& scanner) { scanner.setInput(kSelect, sizeof kSelect - 1, KA_TEXT_UTF8); });
}
BENCHMARK(ScanSelectUtf8)->ArgName("mode")->Arg(KA_SCAN_PLAIN)->Arg(KA_SCAN_SQL_WORDS);

}  // namespace

BENCHMARK_MAIN();
