#pragma once
// Every string test starts from a fresh engine over fresh emulated memory and ends by checking
// that the engine's lists are still consistent.
#include <gtest/gtest.h>

#include <string>

#include "runtime/base/run_state.h"
#include "runtime/core/startup.h"
#include "runtime/memory/conv.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"

class StrEngineTest : public ::testing::Test {
  protected:
    void SetUp() override { reset(StrLimits{}); }
    void TearDown() override {
        EXPECT_STREQ(str_check_invariants(), "");
        forget_startup_strings();
    }

    void reset(const StrLimits& limits) {
        run_state_reset();
        conv_memory_init();
        str_engine_reset(limits);
        forget_startup_strings();
    }
    // The start-up strings of an earlier test point at descriptors this engine may hand out
    // again; no test here runs start-up, so none may be left looking valid. (The engine's own
    // permanent strings are forgotten by str_engine_reset.)
    static void forget_startup_strings() {
        machine_code_message = nullptr;
        command_line = nullptr;
    }

    static std::string text(const BasicString* s) {
        return std::string(reinterpret_cast<const char*>(s->chars), size_t(s->length));
    }
    // A permanent heap string holding `value`.
    static BasicString* variable(const std::string& value) {
        BasicString* s = str_new(int32_t(value.size()), false);
        if (!value.empty()) std::memcpy(s->chars, value.data(), value.size());
        return s;
    }
    static BasicString* temporary(const std::string& value) {
        BasicString* s = str_new(int32_t(value.size()), true);
        if (!value.empty()) std::memcpy(s->chars, value.data(), value.size());
        return s;
    }
    static BasicString* literal(const char* value) { return str_new_cstring(value); }
    static bool released(const BasicString* s) {
        for (int32_t i = 0; i < str_engine.free_count; ++i)
            if (str_engine.free_descriptors[i] == s) return true;
        return false;
    }
    static uint32_t heap_offset(const BasicString* s) {
        return uint32_t(s->chars - str_engine.string_heap);
    }
};
