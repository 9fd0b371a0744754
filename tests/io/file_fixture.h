#pragma once
// Every file test starts from an empty file table and a fresh string engine, and works in a
// temporary folder of its own that is removed afterwards with whatever the test left open.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/io/detail.h"
#include "runtime/io/file.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"

class FileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_state_reset();
        conv_memory_init();
        str_engine_reset(StrLimits{});
        file_table_reset();
        std::random_device seed;
        dir_ = std::filesystem::temp_directory_path() /
               ("unveilo-io-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        file_table_reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string path(const std::string& leaf) const { return (dir_ / leaf).string(); }

    // Opens through the statement's entry point and returns the error it raised (0 for none),
    // clearing it so that the test can go on.
    static uint32_t open(const std::string& name, int32_t mode, int32_t number,
                         int32_t access = FILE_ACCESS_DEFAULT, int32_t lock = FILE_LOCK_DEFAULT,
                         int64_t length = 0, int32_t has_length = 0) {
        BasicString* s = str_new(int32_t(name.size()), true);
        if (!name.empty()) std::memcpy(s->chars, name.data(), name.size());
        file_open(s, mode, access, lock, number, length, has_length);
        return take_error();
    }
    static uint32_t take_error() {
        uint32_t code = run_state.error_code.load();
        run_state.error_code = 0;
        run_state.event_pending = 0;
        return code;
    }

    static void write_file(const std::string& p, const std::string& bytes) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string read_file(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static int32_t write(int32_t number, const std::string& bytes, int64_t pos = -1) {
        return file_write_bytes(file_record_index(number), pos, bytes.data(),
                                int64_t(bytes.size()));
    }
    // Reads `count` bytes; the result code goes to *result.
    static std::string read(int32_t number, int64_t count, int64_t pos = -1,
                            int32_t* result = nullptr) {
        std::string bytes(size_t(count), '\x55');
        int32_t r = file_read_bytes(file_record_index(number), pos, bytes.data(), count);
        if (result) *result = r;
        return bytes;
    }

    std::filesystem::path dir_;
};
