#pragma once
// Every screen test starts from the start-up screen: fresh run state, fresh emulated memory, a
// fresh string engine with the start-up strings, and the default 80 x 25 text screen.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/core/startup.h"
#include "runtime/memory/conv.h"
#include "runtime/screen/image.h"
#include "runtime/screen/print.h"
#include "runtime/screen/title.h"
#include "runtime/strings/str.h"

class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_state_reset();
        conv_memory_init();
        str_engine_reset();
        startup_strings(0, nullptr);
        print_reset();
        title_reset();
        screen_startup();
    }
    // Gives back every image's arrays, so that the leak checker sees only real leaks.
    void TearDown() override { screen_reset(); }

    static ScreenImage& page(int32_t number) {
        return *image_record(screen_state.page_table.at(size_t(number)));
    }
    static ScreenImage& writing() { return *screen_state.write_page.image; }

    // A permanent string holding `text`; freed by the next engine reset.
    static BasicString* text(const std::string& value) {
        BasicString* s = str_new(int32_t(value.size()), false);
        if (!value.empty()) std::memcpy(s->chars, value.data(), value.size());
        return s;
    }
    static void print(const std::string& value, bool end_line = false) {
        print_string(text(value), end_line ? 1 : 0);
    }

    // The characters of `row` (1-based) of the write page, columns first..last.
    static std::string row_text(int32_t row, int32_t first = 1, int32_t last = 80) {
        std::string out;
        for (int32_t column = first; column <= last; ++column)
            out.push_back(char(image_text_cell(writing(), column, row).character));
        return out;
    }
    static uint8_t attribute_at(int32_t column, int32_t row) {
        return image_text_cell(writing(), column, row).attribute;
    }
    static std::string blank_row() { return std::string(80, ' '); }
    static bool row_is_blank(int32_t row, uint8_t attribute = BLANK_ATTRIBUTE) {
        for (int32_t column = 1; column <= writing().width; ++column) {
            TextCell cell = image_text_cell(writing(), column, row);
            if (cell.character != BLANK_CHARACTER || cell.attribute != attribute) return false;
        }
        return true;
    }
    static void cursor_to(int32_t row, int32_t column) {
        cursor_set(row, column, 0, 0, 0, CURSOR_ROW_GIVEN | CURSOR_COLUMN_GIVEN);
    }
    static uint32_t error() { return run_state.error_code.load(); }
    static void clear_error() { run_state_reset(); }
};
