// Sequential file transfers through the byte level against the C library's fwrite and fread on
// the same sizes: blocks of a few sizes moved through a 16 MB file, wrapping to its start, so
// that the page cache holds it and the per-call cost of each path is what differs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/base/run_state.h"
#include "runtime/io/detail.h"
#include "runtime/io/file.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/str.h"

namespace {

constexpr int64_t FILE_BYTES = 16 << 20;

std::string bench_path(const char* leaf) {
    return (std::filesystem::temp_directory_path() / leaf).string();
}

void open_for_bench(const std::string& path, int32_t mode) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    file_table_reset();
    BasicString* name = str_new(int32_t(path.size()), true);
    std::memcpy(name->chars, path.data(), path.size());
    file_open(name, mode, 0, 0, 1, 0, 0);
}

void prepare(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<char> block(1 << 20, 'p');
    for (int64_t i = 0; i < FILE_BYTES; i += int64_t(block.size()))
        std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
}

void byte_level_write(benchmark::State& state) {
    const int64_t block = state.range(0);
    std::string path = bench_path("unveilo-bench-io-write.bin");
    open_for_bench(path, FILE_MODE_BINARY);
    int32_t record = file_record_index(1);
    std::vector<char> data(size_t(block), 'w');
    int64_t at = 0;
    for (auto _ : state) {
        if (file_write_bytes(record, at, data.data(), block) != FILE_RESULT_OK)
            state.SkipWithError("write failed");
        at = (at + block) % FILE_BYTES;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * block);
    file_table_reset();
    std::filesystem::remove(path);
}

void stdio_write(benchmark::State& state) {
    const int64_t block = state.range(0);
    std::string path = bench_path("unveilo-bench-io-fwrite.bin");
    std::FILE* f = std::fopen(path.c_str(), "w+b");
    std::vector<char> data(size_t(block), 'w');
    int64_t at = 0;
    for (auto _ : state) {
        if (std::fwrite(data.data(), 1, size_t(block), f) != size_t(block))
            state.SkipWithError("fwrite failed");
        at += block;
        if (at >= FILE_BYTES) {
            std::fseek(f, 0, SEEK_SET);
            at = 0;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * block);
    std::fclose(f);
    std::filesystem::remove(path);
}

void byte_level_read(benchmark::State& state) {
    const int64_t block = state.range(0);
    std::string path = bench_path("unveilo-bench-io-read.bin");
    prepare(path);
    open_for_bench(path, FILE_MODE_BINARY);
    int32_t record = file_record_index(1);
    std::vector<char> data(static_cast<size_t>(block));
    int64_t at = 0;
    for (auto _ : state) {
        if (file_read_bytes(record, at, data.data(), block) != FILE_RESULT_OK)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(data.data());
        at = (at + block) % FILE_BYTES;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * block);
    file_table_reset();
    std::filesystem::remove(path);
}

void stdio_read(benchmark::State& state) {
    const int64_t block = state.range(0);
    std::string path = bench_path("unveilo-bench-io-fread.bin");
    prepare(path);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::vector<char> data(static_cast<size_t>(block));
    int64_t at = 0;
    for (auto _ : state) {
        if (std::fread(data.data(), 1, size_t(block), f) != size_t(block))
            state.SkipWithError("fread failed");
        benchmark::DoNotOptimize(data.data());
        at += block;
        if (at >= FILE_BYTES) {
            std::fseek(f, 0, SEEK_SET);
            at = 0;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * block);
    std::fclose(f);
    std::filesystem::remove(path);
}

} // namespace

BENCHMARK(byte_level_write)->Arg(512)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(stdio_write)->Arg(512)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(byte_level_read)->Arg(512)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(stdio_read)->Arg(512)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK_MAIN();
