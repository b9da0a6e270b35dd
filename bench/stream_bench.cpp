// Byte streams at the cost per byte that long values and spooled replies
// pay: a 64 MiB value through a memory sink, through a temporary-file sink,
// and through a UTF-8 to UTF-16 streaming conversion. Throughput shows as
// bytes per second; "allocs/item" counts heap allocations per 1 MiB block
// and must stay 0: nothing is allocated per block once a stream is set up.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "alloccount.h"
#include "convert/datacvt.h"
#include "foundation/codepage.h"
#include "foundation/kaerror.h"
#include "platform/kastream.h"
#include "platform/katmpsink.h"

namespace {

constexpr uint64_t kValueBytes = uint64_t(64) << 20;
constexpr uint64_t kBlock = KA_STREAM_CHUNK_SIZE;
constexpr double kBlocks = double(kValueBytes / kBlock);

// Catches anything a benchmark posts, so that a failure shows as an error
// rather than passing silently.
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

// The value in 1 MiB blocks, as the pools build the chunked source.
KaMultiMemorySource* valueSource(const std::string& text)
{
    auto* src = new KaMultiMemorySource(kBlock);
    if (src == nullptr || src->open() || src->append(text.data(), text.size()) || src->rewind()) {
        delete src;
        return nullptr;
    }
    return src;
}

std::string binaryValue()
{
    std::string s(kValueBytes, '\0');
    for (uint64_t i = 0; i < kValueBytes; ++i)
        s[i] = char(i * 131 + (i >> 12));
    return s;
}

// Mostly ASCII with accented letters and CJK, as text columns carry.
std::string utf8Value()
{
    static const char piece[] = "Customer order 100234 f\xC3\xBCr M\xC3\xBCller, \xE6\x9D\xB1\xE4\xBA\xAC, status OK. ";
    std::string s;
    s.reserve(kValueBytes);
    while (s.size() + sizeof piece - 1 <= kValueBytes)
        s += piece;
    while (s.size() < kValueBytes)
        s += 'x';
    return s;
}

// Source to a memory sink over one 64 MiB buffer, through the byte form of
// the binary converter: block by block into the sink's window.
void MemorySink64MiB(benchmark::State& state)
{
    Diagnostics diags;
    std::vector<uint8_t> out(kValueBytes);
    KaMultiMemorySource* src = valueSource(binaryValue());
    auto* sink = new KaMemorySink;
    if (src == nullptr || sink == nullptr) {
        state.SkipWithError("no memory for the value");
        return;
    }
    KaBinaryConverter conv;
    sink->attach(out.data(), out.size());
    conv.setSourceSink(src, sink, KA_CVT_FORM_BYTES, 0);
    if (conv.open() != 0) {
        state.SkipWithError("the converter did not open");
        return;
    }
    kabench::Meter meter(state);
    for (auto _ : state) {
        if (conv.rewind() != 0 || conv.convert() != 0 || sink->position != kValueBytes) {
            state.SkipWithError("the value did not arrive whole");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    meter.report(kBlocks);
    if (!diags.clean())
        state.SkipWithError("the transfer posted diagnostics");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kValueBytes));
}
BENCHMARK(MemorySink64MiB)->Unit(benchmark::kMillisecond);

// 1 MiB writes into a temporary-file sink with a 1 MiB buffer: every block
// goes to the spill file; discard empties the file for the next round.
void TmpFileSink64MiB(benchmark::State& state)
{
    Diagnostics diags;
    std::string value = binaryValue();
    KaTmpFileSink sink(kBlock);
    if (sink.open() != 0) {
        state.SkipWithError("the sink did not open");
        return;
    }
    auto once = [&]() {
        for (uint64_t at = 0; at < kValueBytes; at += kBlock)
            if (sink.write(value.data() + at, kBlock, at + kBlock < kValueBytes) != 0)
                return false;
        return sink.total == kValueBytes && sink.discard() == 0;
    };
    // The first round makes the buffer and the spill file.
    if (!once()) {
        state.SkipWithError("the first round failed");
        return;
    }
    kabench::Meter meter(state);
    for (auto _ : state) {
        if (!once()) {
            state.SkipWithError("a round failed");
            break;
        }
    }
    meter.report(kBlocks);
    sink.release();
    if (!diags.clean())
        state.SkipWithError("the transfer posted diagnostics");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kValueBytes));
}
BENCHMARK(TmpFileSink64MiB)->Unit(benchmark::kMillisecond);

// UTF-8 to UTF-16LE, from 1 MiB blocks into a memory sink's one window.
void Utf8ToUtf16Streaming64MiB(benchmark::State& state)
{
    Diagnostics diags;
    std::string text = utf8Value();
    std::vector<uint8_t> out(2 * kValueBytes + 2);
    KaMultiMemorySource* src = valueSource(text);
    auto* sink = new KaMemorySink;
    if (src == nullptr || sink == nullptr) {
        state.SkipWithError("no memory for the value");
        return;
    }
    sink->attach(out.data(), out.size());
    KaCharConverter conv;
    if (conv.setCodePages(src, sink, kCodePageUtf8, kCodePageUtf16LE, 1) != 0) {
        state.SkipWithError("the converter did not open");
        return;
    }
    kabench::Meter meter(state);
    uint64_t produced = 0;
    for (auto _ : state) {
        if (conv.rewind() != 0 || conv.convert() != 0 || !conv.finished) {
            state.SkipWithError("the conversion failed");
            break;
        }
        produced = sink->position;
        benchmark::DoNotOptimize(out.data());
    }
    meter.report(kBlocks);
    if (produced < kValueBytes || !diags.clean())
        state.SkipWithError("the conversion fell short or posted diagnostics");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kValueBytes));
}
BENCHMARK(Utf8ToUtf16Streaming64MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
