// Number to text against the C library's "%.15g" on the same values: a pool of random doubles
// of every magnitude, one of short decimals (prices, counters), and singles.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/str.h"
#include "runtime/strings/str_from.h"

namespace {

constexpr size_t POOL = 4096;

std::vector<double> random_doubles() {
    std::mt19937_64 random(1);
    std::vector<double> values;
    while (values.size() < POOL) {
        const uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (std::isfinite(x)) values.push_back(x);
    }
    return values;
}

std::vector<double> short_decimals() {
    std::mt19937_64 random(2);
    std::vector<double> values;
    for (size_t i = 0; i < POOL; ++i) values.push_back(double(random() % 1000000) / 100.0);
    return values;
}

const std::vector<double> RANDOM_DOUBLES = random_doubles();
const std::vector<double> SHORT_DECIMALS = short_decimals();

void ours(benchmark::State& state, const std::vector<double>* values) {
    char text[STR_FROM_MAX_TEXT];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(str_format_double((*values)[i++ % POOL], text));
        benchmark::ClobberMemory();
    }
}

void ours_single(benchmark::State& state, const std::vector<double>* values) {
    char text[STR_FROM_MAX_TEXT];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(str_format_single(float((*values)[i++ % POOL]), text));
        benchmark::ClobberMemory();
    }
}

// The whole operation: a new temporary each time, freed by the statement's clean-up.
void ours_string(benchmark::State& state, const std::vector<double>* values) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    const int32_t mark = str_temp_mark();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(str_from_double((*values)[i++ % POOL])->chars);
        str_cleanup(mark, 0);
    }
}

void c_library(benchmark::State& state, const std::vector<double>* values) {
    char text[64];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(text, sizeof text, "%.15g", (*values)[i++ % POOL]));
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK_CAPTURE(ours, random_doubles, &RANDOM_DOUBLES);
BENCHMARK_CAPTURE(c_library, random_doubles, &RANDOM_DOUBLES);
BENCHMARK_CAPTURE(ours, short_decimals, &SHORT_DECIMALS);
BENCHMARK_CAPTURE(c_library, short_decimals, &SHORT_DECIMALS);
BENCHMARK_CAPTURE(ours_string, short_decimals, &SHORT_DECIMALS);
BENCHMARK_CAPTURE(ours_single, short_decimals, &SHORT_DECIMALS);

BENCHMARK_MAIN();
