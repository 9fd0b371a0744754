#pragma once
// The family's tests start from a fresh engine, fresh work strings and, for the file-system
// tests, an empty scratch folder that is the working directory while the test runs. Paths are
// relative to it, so the same tests run on Linux and on Windows (under Wine).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "runtime/os/detail.h"
#include "runtime/os/fs.h"
#include "runtime/strings/str.h"

namespace os_test {

namespace stdfs = std::filesystem;

// A permanent string holding `value`.
inline BasicString* text(const std::string& value) {
    BasicString* s = str_new(int32_t(value.size()), false);
    if (!value.empty()) std::memcpy(s->chars, value.data(), value.size());
    return s;
}

inline std::string contents(const BasicString* s) {
    return std::string(reinterpret_cast<const char*>(s->chars), size_t(s->length));
}

inline uint32_t error() {
    return run_state.error_code.load();
}

class OsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_state_reset();
        conv_memory_init();
        str_engine_reset();
        fs_reset();
        shell_reset();
        os_hosted_mode = 0;
    }
    void TearDown() override { os_hosted_mode = 0; }
};

class OsFolderTest : public OsTest {
  protected:
    void SetUp() override {
        OsTest::SetUp();
        static std::atomic<int> counter{0};
        folder_ =
            stdfs::temp_directory_path() /
            ("unveilo-os-" + std::to_string(stdfs::hash_value(stdfs::current_path()) % 100000) +
             "-" + std::to_string(counter++) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stdfs::remove_all(folder_);
        stdfs::create_directories(folder_);
        saved_ = stdfs::current_path();
        stdfs::current_path(folder_);
    }
    void TearDown() override {
        stdfs::current_path(saved_);
        std::error_code ignored;
        // Read-only files must become writable again before they can go (on Windows).
        for (auto& entry : stdfs::recursive_directory_iterator(folder_, ignored))
            stdfs::permissions(entry.path(), stdfs::perms::owner_write, stdfs::perm_options::add,
                               ignored);
        stdfs::remove_all(folder_, ignored);
        OsTest::TearDown();
    }

    static void make_file(const std::string& name, const std::string& data = "x") {
        std::ofstream(name, std::ios::binary) << data;
    }
    static void make_dir(const std::string& name) { stdfs::create_directories(name); }
    static bool exists(const std::string& name) { return stdfs::exists(name); }
    static void make_read_only(const std::string& name) {
        stdfs::permissions(name,
                           stdfs::perms::owner_write | stdfs::perms::group_write |
                               stdfs::perms::others_write,
                           stdfs::perm_options::remove);
    }

    stdfs::path folder_;
    stdfs::path saved_;
};

} // namespace os_test
