// A statement-shaped string workload on the engine and the same work on std::string:
//   V$ = "literal" : V$ = V$ + "tail" : W$ = LEFT$(V$, 1)   (then the statement's clean-up)
// for short values (inside std::string's small-buffer) and 4 KB values.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/str.h"

namespace {

const std::string short_literal = "SHORTCUT"; // 8 bytes; with the tail 10 bytes
const std::string long_literal(4096, 'L');
const std::string tail = ":\\";

void engine_statements(benchmark::State& state, const std::string& literal) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    BasicString* v = str_new(0, false);
    BasicString* w = str_new(0, false);
    int32_t mark = str_temp_mark();
    const auto literal_length = int32_t(literal.size());
    const auto tail_length = int32_t(tail.size());
    for (auto _ : state) {
        str_set(v, str_new_literal(literal.data(), literal_length));
        str_cleanup(mark, 0);
        str_set(v, str_add(v, str_new_literal(tail.data(), tail_length)));
        str_cleanup(mark, 0);
        str_set(w, str_left(v, 1));
        str_cleanup(mark, 0);
        benchmark::DoNotOptimize(w->chars);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(literal.size()));
}

void std_statements(benchmark::State& state, const std::string& literal) {
    std::string v;
    std::string w;
    // The literals are C strings, as a translated program's are.
    const char* literal_text = literal.c_str();
    const char* tail_text = tail.c_str();
    for (auto _ : state) {
        v = literal_text;
        v = v + tail_text;
        w = v.substr(0, 1);
        benchmark::DoNotOptimize(w.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(literal.size()));
}

void BM_engine_short(benchmark::State& state) {
    engine_statements(state, short_literal);
}
void BM_std_string_short(benchmark::State& state) {
    std_statements(state, short_literal);
}
void BM_engine_long(benchmark::State& state) {
    engine_statements(state, long_literal);
}
void BM_std_string_long(benchmark::State& state) {
    std_statements(state, long_literal);
}

} // namespace

// STR_BENCH_ITERATIONS=N runs every benchmark for exactly N iterations instead of timing its own
// count: under callgrind, where time means nothing, two such runs give instructions per iteration
// (bench/strings_instructions.sh).
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const char* fixed = std::getenv("STR_BENCH_ITERATIONS");
    const struct {
        const char* name;
        void (*run)(benchmark::State&);
    } benchmarks[] = {{"BM_engine_short", BM_engine_short},
                      {"BM_std_string_short", BM_std_string_short},
                      {"BM_engine_long", BM_engine_long},
                      {"BM_std_string_long", BM_std_string_long}};
    for (const auto& b : benchmarks) {
        benchmark::internal::Benchmark* registered = benchmark::RegisterBenchmark(b.name, b.run);
        if (fixed) registered->Iterations(benchmark::IterationCount(std::atoll(fixed)));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
