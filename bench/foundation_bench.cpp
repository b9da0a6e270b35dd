// The foundation's hot paths: the word-wise memory helpers under every string
// operation, the text comparisons, searches and LIKE match, string growth,
// and posting and reading a diagnostic. Each benchmark reports heap
// allocations and lock waits per iteration next to its time.
#include <benchmark/benchmark.h>

#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "alloccount.h"
#include "../tests/support/u16.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kastr.h"
#include "foundation/kastring.h"
#include "foundation/kastringw.h"
#include "foundation/kathread.h"
#include "kadrivername.h"
#include "kamessages.h"
#include "platform/boscatalog.h"
#include "platform/boslib.h"

namespace {

// Room for the largest size plus the largest misalignment.
constexpr size_t kMaxBytes = 4096;
constexpr size_t kSlack = 64;

struct alignas(64) Area {
    char bytes[kMaxBytes + kSlack];
};

Area gSrc;
Area gDst;

void sizes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"bytes", "offset"});
    for (int64_t n : {8, 64, 1024, 4096})
        for (int64_t off : {0, 3})
            b->Args({n, off});
}

// ---- fast* ------------------------------------------------------------------

void FastStrlen(benchmark::State& state)
{
    size_t n = size_t(state.range(0));
    char* s = gSrc.bytes + state.range(1);
    std::memset(s, 'a', n);
    s[n] = '\0';
    kabench::Meter meter(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(fastStrlen(s));
    }
    meter.report();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(FastStrlen)->Apply(sizes);

void LibcStrlen(benchmark::State& state)
{
    size_t n = size_t(state.range(0));
    char* s = gSrc.bytes + state.range(1);
    std::memset(s, 'a', n);
    s[n] = '\0';
    for (auto _ : state) {
        benchmark::DoNotOptimize(s);
        benchmark::DoNotOptimize(std::strlen(s));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
    state.SetLabel("reference");
}
BENCHMARK(LibcStrlen)->Apply(sizes);

// Equal ranges, so that the whole length is compared; the offset misaligns
// one side only, the harder case for a word-wise compare.
void FastMemeq(benchmark::State& state)
{
    size_t n = size_t(state.range(0));
    char* a = gSrc.bytes;
    char* b = gDst.bytes + state.range(1);
    std::memset(a, 'q', n);
    std::memset(b, 'q', n);
    kabench::Meter meter(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(fastMemeq(a, b, n));
    }
    meter.report();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(FastMemeq)->Apply(sizes);

void FastMemzero(benchmark::State& state)
{
    size_t n = size_t(state.range(0));
    char* d = gDst.bytes + state.range(1);
    kabench::Meter meter(state);
    for (auto _ : state) {
        fastMemzero(d, n);
        benchmark::ClobberMemory();
    }
    meter.report();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(FastMemzero)->Apply(sizes);

void FastMemcpy8(benchmark::State& state)
{
    size_t n = size_t(state.range(0));
    const char* s = gSrc.bytes;
    char* d = gDst.bytes + state.range(1);
    std::memset(gSrc.bytes, 'c', n);
    kabench::Meter meter(state);
    for (auto _ : state) {
        fastMemcpy8(d, s, n);
        benchmark::ClobberMemory();
    }
    meter.report();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(FastMemcpy8)->Apply(sizes);

void LibcMemcpy(benchmark::State& state)
{
    size_t n = size_t(state.range(0));
    const char* s = gSrc.bytes;
    char* d = gDst.bytes + state.range(1);
    for (auto _ : state) {
        std::memcpy(d, s, n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
    state.SetLabel("reference");
}
BENCHMARK(LibcMemcpy)->Apply(sizes);

// ---- str* comparisons, searches and LIKE -------------------------------------

// A column name and a longer text such as a catalog filter or a statement
// fragment; the searched-for part sits near the end.
const char kName[] = "CUSTOMER_ORDER_LINE_ITEM_QUANTITY";
const char kNameLower[] = "customer_order_line_item_quantity";
const char kText[] = "select o.order_id, o.customer_id, l.quantity, l.unit_price from orders o "
                     "join order_lines l on l.order_id = o.order_id where o.status = 'OPEN'";
const char kPattern[] = "status";
const char kPatternUpper[] = "STATUS";

using katest::widen;

const uint16_t* units(const std::u16string& s)
{
    return katest::W(s.c_str());
}

template <typename F>
void runStr(benchmark::State& state, F&& op)
{
    kabench::Meter meter(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(op());
    meter.report();
}

void StrCompareN(benchmark::State& state)
{
    size_t n = sizeof kName - 1;
    runStr(state, [&] { return strCompareN(kName, n, kName, n); });
}
BENCHMARK(StrCompareN);

void StrEqualNoCase(benchmark::State& state)
{
    runStr(state, [] { return strEqualNoCase(kName, kNameLower); });
}
BENCHMARK(StrEqualNoCase);

void StrCompareNoCaseN(benchmark::State& state)
{
    size_t n = sizeof kName - 1;
    runStr(state, [&] { return strCompareNoCaseN(kName, n, kNameLower, n); });
}
BENCHMARK(StrCompareNoCaseN);

void StrEqualNoCaseW(benchmark::State& state)
{
    static const std::u16string a = widen(kName), b = widen(kNameLower);
    runStr(state, [] { return strEqualNoCaseW(units(a), units(b)); });
}
BENCHMARK(StrEqualNoCaseW);

void StrCompareNoCaseNNW(benchmark::State& state)
{
    static const std::u16string a = widen(kName), b = widen(kNameLower);
    runStr(state, [] { return strCompareNoCaseNNW(units(a), a.size(), units(b), b.size()); });
}
BENCHMARK(StrCompareNoCaseNNW);

void StrFindChar(benchmark::State& state)
{
    runStr(state, [] { return strFindChar(kText, '\'', KA_TEXT_UTF8); });
}
BENCHMARK(StrFindChar);

void StrFind(benchmark::State& state)
{
    int kind = int(state.range(0));
    runStr(state, [&] { return strFind(kText, kPattern, kind); });
    state.SetLabel(kind == KA_TEXT_UTF8 ? "UTF-8" : "locale");
}
BENCHMARK(StrFind)->ArgName("kind")->Arg(KA_TEXT_UTF8)->Arg(KA_TEXT_LOCALE);

void StrFindN(benchmark::State& state)
{
    runStr(state, [] { return strFindN(kText, sizeof kText - 1, kPattern, sizeof kPattern - 1, KA_TEXT_UTF8); });
}
BENCHMARK(StrFindN);

// Specified to copy both texts once per call: two allocations expected.
void StrFindNoCase(benchmark::State& state)
{
    runStr(state, [] { return strFindNoCase(kText, kPatternUpper, KA_TEXT_UTF8); });
}
BENCHMARK(StrFindNoCase);

void StrFindW(benchmark::State& state)
{
    static const std::u16string text = widen(kText), pattern = widen(kPattern);
    runStr(state, [] { return strFindW(units(text), units(pattern), pattern.size()); });
}
BENCHMARK(StrFindW);

void StrFindNoCaseNW(benchmark::State& state)
{
    static const std::u16string text = widen(kText), pattern = widen(kPatternUpper);
    runStr(state, [] { return strFindNoCaseNW(units(text), text.size(), units(pattern), pattern.size()); });
}
BENCHMARK(StrFindNoCaseNW);

// Catalog filters: a leading wildcard (the backtracking case), a prefix, and
// a one-character wildcard, case-sensitive and not.
struct LikeCase {
    const char* pattern;
    int caseSensitive;
};
const LikeCase kLikeCases[] = {
    {"%LINE%QUANTITY", 1},
    {"CUSTOMER\\_%", 1},
    {"customer_order_line_item_quantit_", 0},
    {"%x%", 0},
};

void StrLike(benchmark::State& state)
{
    const LikeCase& c = kLikeCases[state.range(0)];
    runStr(state, [&] { return strLike(kName, c.pattern, '%', '_', '\\', c.caseSensitive, 0, KA_TEXT_UTF8); });
    state.SetLabel(c.pattern);
}
BENCHMARK(StrLike)->ArgName("case")->DenseRange(0, 3);

void StrLikeNW(benchmark::State& state)
{
    const LikeCase& c = kLikeCases[state.range(0)];
    std::u16string value = widen(kName), pattern = widen(c.pattern);
    runStr(state, [&] {
        return strLikeNW(units(value), value.size(), units(pattern), pattern.size(), '%', '_', '\\', c.caseSensitive,
                         0);
    });
    state.SetLabel(c.pattern);
}
BENCHMARK(StrLikeNW)->ArgName("case")->DenseRange(0, 3);

// ---- KaString / KaStringW growth ---------------------------------------------

constexpr char kPiece[] = "0123456789";
constexpr size_t kPieceLen = sizeof kPiece - 1;
const uint16_t kPieceW[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0};

// Growth is exact, so every append past the capacity takes a new block: one
// allocation per append is the cost the strings promise here.
template <typename S, typename Unit>
void appendGrowing(benchmark::State& state, const Unit* piece)
{
    int64_t appends = state.range(0);
    kabench::Meter meter(state);
    for (auto _ : state) {
        S s;
        for (int64_t i = 0; i < appends; ++i) {
            if (s.append(piece, kPieceLen) != 0)
                state.SkipWithError("append failed");
        }
        benchmark::DoNotOptimize(s.data);
    }
    meter.report(double(appends));
    state.SetItemsProcessed(state.iterations() * appends);
}

// appends calls of add(s) into a string whose capacity (units) was made once
// beforehand.
template <typename S, typename Add>
void appendReserved(benchmark::State& state, int64_t appends, size_t capacity, Add add)
{
    S s;
    if (s.reserve(capacity) != 0) {
        state.SkipWithError("reserve failed");
        return;
    }
    kabench::Meter meter(state);
    for (auto _ : state) {
        s.len = 0;
        for (int64_t i = 0; i < appends; ++i) {
            if (add(s) != 0)
                state.SkipWithError("append failed");
        }
        benchmark::DoNotOptimize(s.data);
    }
    meter.report(double(appends));
    state.SetItemsProcessed(state.iterations() * appends);
}

template <typename S, typename Unit>
void appendPiecesReserved(benchmark::State& state, const Unit* piece)
{
    int64_t appends = state.range(0);
    appendReserved<S>(state, appends, size_t(appends) * kPieceLen + 1,
                      [piece](S& s) { return s.append(piece, kPieceLen); });
}

void KaStringAppendGrowing(benchmark::State& state)
{
    appendGrowing<KaString>(state, kPiece);
}
BENCHMARK(KaStringAppendGrowing)->ArgName("appends")->Arg(16)->Arg(256);

void KaStringAppendReserved(benchmark::State& state)
{
    appendPiecesReserved<KaString>(state, kPiece);
}
BENCHMARK(KaStringAppendReserved)->ArgName("appends")->Arg(16)->Arg(256);

void KaStringAppendChar(benchmark::State& state)
{
    constexpr int64_t kChars = 256;
    appendReserved<KaString>(state, kChars, kChars + 1, [](KaString& s) { return s.appendChar('x'); });
}
BENCHMARK(KaStringAppendChar);

void KaStringWAppendGrowing(benchmark::State& state)
{
    appendGrowing<KaStringW>(state, kPieceW);
}
BENCHMARK(KaStringWAppendGrowing)->ArgName("appends")->Arg(16)->Arg(256);

void KaStringWAppendReserved(benchmark::State& state)
{
    appendPiecesReserved<KaStringW>(state, kPieceW);
}
BENCHMARK(KaStringWAppendReserved)->ArgName("appends")->Arg(16)->Arg(256);

// Bytes widened one for one into reserved room.
void KaStringWAppendNarrow(benchmark::State& state)
{
    constexpr int64_t kAppends = 16;
    appendReserved<KaStringW>(state, kAppends, size_t(kAppends) * kPieceLen + 1,
                              [](KaStringW& s) { return s.appendNarrow(kPiece, kPieceLen); });
}
BENCHMARK(KaStringWAppendNarrow);

// Each request replaces the cached narrow copy: one new block per call.
void KaStringWToNarrow(benchmark::State& state)
{
    KaStringW s;
    std::u16string text = widen(kText);
    if (s.assign(units(text), text.size()) != 0) {
        state.SkipWithError("assign failed");
        return;
    }
    kabench::Meter meter(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.toNarrow(KA_TEXT_UTF8));
    meter.report();
}
BENCHMARK(KaStringWToNarrow);

// ---- Diagnostics -------------------------------------------------------------

// The build tree holds the message catalogue; the executable lives in
// <build>/bench.
std::string buildDir()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return ".";
    std::string path(exe, size_t(n));
    path = path.substr(0, path.rfind('/'));
    return path.substr(0, path.rfind('/'));
}

struct Catalogue {
    bool open = false;
    Catalogue()
    {
        bosInitInstallDir(buildDir().c_str());
        open = OpenStrings(KA_DRIVER_BASE_NAME, nullptr, nullptr, nullptr) == 0;
    }
};

const Catalogue& catalogue()
{
    static Catalogue c;
    return c;
}

// One warning with a parameter posted, its message and SQLSTATE read as an
// application's SQLGetDiagRec would, and the list cleared for the next call.
void ErrPostAndRead(benchmark::State& state)
{
    if (!catalogue().open)
        state.SetLabel("no catalogue: numbers only");
    KaErrorList list;
    KaErrorPushList(&list);
    uint16_t sqlstate[KA_SQLSTATE_LEN + 1];
    kabench::Meter meter(state);
    for (auto _ : state) {
        errPostWarning(MSG_UNUSED_CONNECTION_ATTRIBUTE)->addParamText("LogLevel");
        KaError* record = list.first();
        benchmark::DoNotOptimize(record->messageW());
        benchmark::DoNotOptimize(record->messageA());
        record->effectiveSqlstate(sqlstate);
        benchmark::DoNotOptimize(sqlstate);
        list.clear();
    }
    meter.report();
    KaErrorPopList();
}
BENCHMARK(ErrPostAndRead);

void ErrPost(benchmark::State& state)
{
    catalogue();
    KaErrorList list;
    KaErrorPushList(&list);
    kabench::Meter meter(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(errPost(MSG_CONVERSION_FAILED));
        list.clear();
    }
    meter.report();
    KaErrorPopList();
}
BENCHMARK(ErrPost);

// Reading an existing record again: the application asking twice.
void ErrRead(benchmark::State& state)
{
    catalogue();
    KaErrorList list;
    KaErrorPushList(&list);
    errPostWarning(MSG_UNUSED_CONNECTION_ATTRIBUTE)->addParamText("LogLevel");
    KaError* record = list.first();
    uint16_t sqlstate[KA_SQLSTATE_LEN + 1];
    kabench::Meter meter(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(record->messageW());
        benchmark::DoNotOptimize(record->messageA());
        record->effectiveSqlstate(sqlstate);
        benchmark::DoNotOptimize(sqlstate);
    }
    meter.report();
    list.clear();
    KaErrorPopList();
}
BENCHMARK(ErrRead);

// Posting with no current list hands back the parameter sink.
void ErrPostNoList(benchmark::State& state)
{
    kabench::Meter meter(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(errPost(MSG_CONVERSION_FAILED)->addParamText("x"));
    meter.report();
}
BENCHMARK(ErrPostNoList);

// The calling thread's error list, as every call into the driver and every
// posted diagnostic looks it up, with other threads registered before it
// (its record then lies at the end of the list).
void ThreadLookup(benchmark::State& state)
{
    const int others = int(state.range(0));
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    int registered = 0;
    std::vector<std::thread> holders;
    for (int i = 0; i < others; ++i) {
        holders.emplace_back([&] {
            threadAttach();
            std::unique_lock<std::mutex> lock(m);
            ++registered;
            cv.notify_all();
            cv.wait(lock, [&] { return done; });
            lock.unlock();
            threadDetach();
        });
    }
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return registered == others; });
    }
    KaErrorList list;
    KaErrorPushList(&list);
    kabench::Meter meter(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(KaErrorCurrentList());
    meter.report();
    KaErrorPopList();
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
    }
    cv.notify_all();
    for (auto& t : holders)
        t.join();
}
BENCHMARK(ThreadLookup)->ArgName("others")->Arg(0)->Arg(63);

// The counters' own zero: an empty loop must show no allocation and no lock.
void CounterBaseline(benchmark::State& state)
{
    kabench::Meter meter(state);
    for (auto _ : state)
        benchmark::ClobberMemory();
    meter.report();
}
BENCHMARK(CounterBaseline);

// And their sanity: one malloc, one new and one lock per iteration.
void CounterCheck(benchmark::State& state)
{
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    kabench::Meter meter(state);
    for (auto _ : state) {
        void* block = malloc(16);
        benchmark::DoNotOptimize(block);
        free(block);
        int* p = new int(1);
        benchmark::DoNotOptimize(p);
        delete p;
        pthread_mutex_lock(&mutex);
        pthread_mutex_unlock(&mutex);
    }
    meter.report();
    state.SetLabel("expect allocs=2 news=1 locks=1");
}
BENCHMARK(CounterCheck);

}  // namespace

BENCHMARK_MAIN();
