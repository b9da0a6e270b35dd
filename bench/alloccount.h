// The allocation and lock counters of tests/support/alloccount.h shown as
// benchmark counters per iteration: "allocs", "news" and "locks", and
// "allocs/item" for loops in which one iteration handles many items.
//
// Include this header in exactly one source file of an executable.
#pragma once
#include <benchmark/benchmark.h>

#include "tests/support/alloccount.h"

namespace kabench {

// Take one before the benchmark loop and call report() after it. The
// counters are per iteration; perItem > 1 adds "allocs/item" for loops in
// which one iteration handles many items (records, tokens, appends).
class Meter {
public:
    explicit Meter(benchmark::State& state) noexcept : state_(state), start_(kacount::totals()) {}

    void report(double perItem = 0) noexcept
    {
        kacount::Totals end = kacount::totals();
        auto avg = benchmark::Counter::kAvgIterations;
        state_.counters["allocs"] = benchmark::Counter(double(end.allocs - start_.allocs), avg);
        state_.counters["news"] = benchmark::Counter(double(end.news - start_.news), avg);
        state_.counters["locks"] = benchmark::Counter(double(end.locks - start_.locks), avg);
        if (perItem > 1 && state_.iterations() > 0)
            state_.counters["allocs/item"] =
                double(end.allocs - start_.allocs) / (double(state_.iterations()) * perItem);
    }

private:
    benchmark::State& state_;
    kacount::Totals start_;
};

}  // namespace kabench
