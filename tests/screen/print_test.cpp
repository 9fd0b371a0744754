#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/base/error.h"
#include "screen/screen_fixture.h"

namespace {

using print_string_ = ScreenTest;
using print_controls = ScreenTest;
using print_newline_ = ScreenTest;
using print_fit_ = ScreenTest;
using print_zone_ = ScreenTest;
using screen_clear_ = ScreenTest;
using print_concurrency = ScreenTest;

// The full width of row `row` as label_rows writes it: a name on the left and a mark in the
// last column, so that a scroll that loses either end of a row shows.
std::string label(int32_t row) {
    std::string text = "row " + std::to_string(row);
    text += std::string(79 - text.size(), '.');
    return text + char('a' + row % 26);
}

// Fills rows first..last with their labels so that scrolling can be followed.
void label_rows(int32_t first, int32_t last) {
    for (int32_t row = first; row <= last; ++row) {
        cursor_set(row, 1, 0, 0, 0, CURSOR_ROW_GIVEN | CURSOR_COLUMN_GIVEN);
        std::string text = label(row);
        BasicString* s = str_new(int32_t(text.size()), false);
        std::memcpy(s->chars, text.data(), text.size());
        print_string(s, 0);
    }
}

TEST_F(print_string_, WritesCellsAtTheCursorInTheVideoMemory) {
    print("Hello");
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE + 0), 'H');
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE + 1), 0x07);
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE + 8), 'o');
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE + 10), 0x20);
    EXPECT_EQ(writing().cursor_x, 6);
    EXPECT_EQ(writing().cursor_y, 1);
    print(", world", true);
    EXPECT_EQ(row_text(1, 1, 12), "Hello, world");
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 2);
}

TEST_F(print_string_, LastColumnLeavesAPendingWrap) {
    print(std::string(79, 'a'));
    EXPECT_EQ(writing().cursor_x, 80);
    EXPECT_EQ(writing().pending_wrap, 0);
    print("b");
    EXPECT_EQ(writing().cursor_x, 80);
    EXPECT_EQ(writing().cursor_y, 1);
    EXPECT_EQ(writing().pending_wrap, 1);
    EXPECT_EQ(image_text_cell(writing(), 80, 1).character, 'b');
    print("c");
    EXPECT_EQ(writing().pending_wrap, 0);
    EXPECT_EQ(image_text_cell(writing(), 1, 2).character, 'c');
    EXPECT_EQ(writing().cursor_x, 2);
    EXPECT_EQ(writing().cursor_y, 2);
}

TEST_F(print_string_, FullLineThenEndOfLineTakesOneRow) {
    print(std::string(80, '*'));
    print_string(str_shared_empty, -1);
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 2);
    EXPECT_EQ(writing().pending_wrap, 0);
    print(std::string(80, '='), true);
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 3);
    EXPECT_TRUE(row_is_blank(3));
    // An empty print without end of line keeps the wrap pending.
    print(std::string(80, '-'));
    print("");
    EXPECT_EQ(writing().pending_wrap, 1);
    EXPECT_EQ(writing().cursor_y, 3);
}

TEST_F(print_string_, LongTextWraps) {
    std::string text;
    for (int i = 0; i < 85; ++i) text.push_back(char('A' + i % 26));
    print(text);
    EXPECT_EQ(row_text(1), text.substr(0, 80));
    EXPECT_EQ(row_text(2, 1, 5), text.substr(80));
    EXPECT_EQ(writing().cursor_x, 6);
    EXPECT_EQ(writing().cursor_y, 2);
}

TEST_F(print_string_, Attributes) {
    writing().foreground = 16 + 7;
    print("b");
    EXPECT_EQ(attribute_at(1, 1), 0x87);
    writing().foreground = 14;
    writing().background = 1;
    print("y");
    EXPECT_EQ(attribute_at(2, 1), 0x1E);
    writing().foreground = 7;
    writing().background = 9; // spills into the blink bit
    print("z");
    EXPECT_EQ(attribute_at(3, 1), 0x97);
}

TEST_F(print_string_, NothingWhileAnErrorIsPending) {
    error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
    print("lost", true);
    print_newline();
    print_zone();
    print_fit(text(std::string(90, 'x')));
    screen_clear(0, 0, 0);
    EXPECT_TRUE(row_is_blank(1));
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 1);
}

TEST_F(print_string_, GoesToTheWritePage) {
    set_write_page(1);
    print("page one");
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE + 4096), 'p');
    EXPECT_EQ(conv_load8(TEXT_VIDEO_BASE), 0x20);
    EXPECT_EQ(page(0).cursor_x, 1);
}

TEST_F(print_string_, ConsoleImageWritesToStandardOutput) {
    writing().is_console = 1;
    testing::internal::CaptureStdout();
    print(std::string("cut\0off", 7));
    print("line", true);
    print_zone(); // the console has no cursor to advance: one space, no endless loop
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "cutline\n ");
    EXPECT_TRUE(row_is_blank(1));
    EXPECT_EQ(print_state.console_buffer->length, 2);
}

TEST_F(print_controls, Tabs) {
    print("\t");
    EXPECT_EQ(writing().cursor_x, 9);
    EXPECT_EQ(row_text(1, 1, 9), "         ");
    cursor_to(2, 1);
    print("1234567\tX");
    EXPECT_EQ(row_text(2, 1, 9), "1234567 X");
    cursor_to(3, 1);
    print("12345678\t|");
    EXPECT_EQ(row_text(3, 1, 17), "12345678        |");
    cursor_to(4, 79);
    print("\t");
    EXPECT_EQ(writing().cursor_x, 80);
    EXPECT_EQ(writing().pending_wrap, 1);
    cursor_to(5, 79);
    print("\t", true);
    EXPECT_EQ(writing().cursor_y, 6);
    EXPECT_EQ(writing().cursor_x, 1);
}

TEST_F(print_controls, TabOnANarrowScreenStopsAtTheEdge) {
    screen_state.size_request = SizeRequest{30, 10, 16};
    screen_mode(0, 0, 0, 0);
    cursor_to(1, 30);
    print("\t");
    EXPECT_EQ(writing().cursor_x, 30);
    EXPECT_EQ(writing().pending_wrap, 1);
    cursor_to(2, 29);
    print("\tx");
    EXPECT_EQ(writing().cursor_y, 3);
    EXPECT_EQ(writing().cursor_x, 10);
    EXPECT_EQ(image_text_cell(writing(), 9, 3).character, 'x');
}

TEST_F(print_controls, LineBreaks) {
    print("a\rb\nc");
    EXPECT_EQ(row_text(1, 1, 2), "a ");
    EXPECT_EQ(row_text(2, 1, 2), "b ");
    EXPECT_EQ(row_text(3, 1, 2), "c ");
    print("d\r", true); // the byte and the end of line each start a line
    EXPECT_EQ(writing().cursor_y, 5);
    EXPECT_EQ(writing().cursor_x, 1);
}

TEST_F(print_controls, HomeAndClear) {
    view_print(3, 20, -1);
    print("first");
    cursor_to(10, 10);
    print("\x0b");
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 3);
    EXPECT_EQ(row_text(3, 1, 5), "first");
    print("\x0cZ");
    EXPECT_EQ(row_text(3, 1, 5), "Z    ");
    EXPECT_EQ(writing().cursor_x, 2);
    EXPECT_EQ(writing().cursor_y, 3);
}

TEST_F(print_controls, CursorMoves) {
    cursor_to(5, 80);
    print("\x1c"); // right from the last column: next row, first column
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 6);
    print("\x1d"); // left from the first column: previous row, last column
    EXPECT_EQ(writing().cursor_x, 80);
    EXPECT_EQ(writing().cursor_y, 5);
    print("\x1e\x1e");
    EXPECT_EQ(writing().cursor_y, 3);
    print("\x1f");
    EXPECT_EQ(writing().cursor_y, 4);
    EXPECT_TRUE(row_is_blank(4));
    EXPECT_TRUE(row_is_blank(5));

    cursor_to(24, 80);
    print("\x1c\x1f"); // the bottom of the view stops both
    EXPECT_EQ(writing().cursor_x, 80);
    EXPECT_EQ(writing().cursor_y, 24);
    cursor_to(1, 1);
    print("\x1d\x1e"); // and the top of the view
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 1);
    cursor_to(25, 1);
    print("\x1d\x1e\x1f");
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 25);
    print("\x1c");
    EXPECT_EQ(writing().cursor_x, 2);
}

TEST_F(print_controls, OtherLowBytesAreGlyphs) {
    print(std::string("\x00\x01\x08\x1b\x7f", 5));
    EXPECT_EQ(image_text_cell(writing(), 1, 1).character, 0x00);
    EXPECT_EQ(image_text_cell(writing(), 2, 1).character, 0x01);
    EXPECT_EQ(image_text_cell(writing(), 3, 1).character, 0x08);
    EXPECT_EQ(image_text_cell(writing(), 4, 1).character, 0x1b);
    EXPECT_EQ(image_text_cell(writing(), 5, 1).character, 0x7f);
    EXPECT_EQ(writing().cursor_x, 6);
    print_state.controls_as_glyphs = 1;
    print("\r\t");
    EXPECT_EQ(image_text_cell(writing(), 6, 1).character, '\r');
    EXPECT_EQ(image_text_cell(writing(), 7, 1).character, '\t');
    EXPECT_EQ(writing().cursor_y, 1);
}

TEST_F(print_controls, BellPausesAndDrawsNothing) {
    auto start = std::chrono::steady_clock::now();
    print("\x07");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(240));
    EXPECT_TRUE(row_is_blank(1));
    EXPECT_EQ(writing().cursor_x, 1);
}

TEST_F(print_newline_, ScrollsOnlyTheView) {
    label_rows(1, 24);
    cursor_to(25, 1);
    print("status");
    cursor_to(24, 10);
    writing().background = 2;
    print_string(str_shared_empty, -1);
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 24);
    for (int32_t row = 1; row <= 22; ++row) EXPECT_EQ(row_text(row), label(row + 1)) << row;
    EXPECT_EQ(row_text(23), label(24));
    EXPECT_TRUE(row_is_blank(24, 0x27));
    EXPECT_EQ(row_text(25, 1, 6), "status");
    EXPECT_EQ(attribute_at(1, 25), 0x07);
}

TEST_F(print_newline_, FromBelowTheViewReturnsToItsBottom) {
    label_rows(1, 24);
    cursor_to(25, 1);
    print_newline();
    EXPECT_EQ(writing().cursor_y, 24);
    EXPECT_EQ(row_text(1), label(2));
    EXPECT_TRUE(row_is_blank(24));
}

TEST_F(print_newline_, OneRowView) {
    label_rows(1, 10);
    view_print(5, 5, -1);
    print("only", true);
    EXPECT_EQ(writing().cursor_y, 5);
    EXPECT_TRUE(row_is_blank(5));
    EXPECT_EQ(row_text(4), label(4));
    EXPECT_EQ(row_text(6), label(6));
}

TEST_F(print_fit_, MovesOnlyWhenTheTextWouldNotFit) {
    cursor_to(3, 50);
    print_fit(text(std::string(31, 'f'))); // 50 + 31 - 1 = 80
    EXPECT_EQ(writing().cursor_y, 3);
    print_fit(text(std::string(32, 'f')));
    EXPECT_EQ(writing().cursor_y, 4);
    EXPECT_EQ(writing().cursor_x, 1);
    print_fit(text(std::string(200, 'f'))); // column 1: the text wraps while printing instead
    EXPECT_EQ(writing().cursor_y, 4);
    print(std::string(80, 'p'));
    print_fit(text("x")); // a pending wrap is left to the print
    EXPECT_EQ(writing().cursor_y, 4);
    EXPECT_EQ(writing().pending_wrap, 1);
}

TEST_F(print_zone_, AdvancesToTheNextZone) {
    print_zone();
    EXPECT_EQ(writing().cursor_x, 15);
    EXPECT_EQ(row_text(1, 1, 14), std::string(14, ' '));
    print("ab");
    print_zone();
    EXPECT_EQ(writing().cursor_x, 29);
    print_zone();
    EXPECT_EQ(writing().cursor_x, 43);
    print_zone();
    EXPECT_EQ(writing().cursor_x, 57);
    print("q");
    print_zone(); // no zone starts after 57: spaces up to the last column
    EXPECT_EQ(writing().cursor_x, 80);
    EXPECT_EQ(writing().cursor_y, 1);
    EXPECT_EQ(writing().pending_wrap, 0);
    print_zone();
    EXPECT_EQ(writing().cursor_x, 80);
    EXPECT_EQ(writing().pending_wrap, 1);
    print_zone(); // a pending wrap only ends the line
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 2);
    EXPECT_EQ(writing().pending_wrap, 0);
}

TEST_F(screen_clear_, ProgramClearBlanksViewAndLastRow) {
    label_rows(1, 24);
    cursor_to(25, 1);
    print("status");
    cursor_to(12, 12);
    screen_clear(0, 0, 0);
    for (int32_t row = 1; row <= 25; ++row) EXPECT_TRUE(row_is_blank(row)) << row;
    EXPECT_EQ(writing().cursor_x, 1);
    EXPECT_EQ(writing().cursor_y, 1);

    label_rows(1, 24);
    cursor_to(25, 1);
    print("status");
    view_print(5, 10, -1);
    screen_clear(0, 0, 0);
    EXPECT_EQ(row_text(4), label(4));
    for (int32_t row = 5; row <= 10; ++row) EXPECT_TRUE(row_is_blank(row)) << row;
    EXPECT_EQ(row_text(11), label(11));
    EXPECT_TRUE(row_is_blank(25));
    EXPECT_EQ(writing().cursor_y, 5);
}

TEST_F(screen_clear_, Types) {
    label_rows(1, 24);
    view_print(5, 10, -1);
    screen_clear(1, 0, CLEAR_TYPE_GIVEN);
    EXPECT_EQ(row_text(5), label(5)); // only homes the cursor
    EXPECT_EQ(writing().cursor_y, 5);
    screen_clear(2, 0, CLEAR_TYPE_GIVEN);
    EXPECT_TRUE(row_is_blank(5));
    EXPECT_EQ(row_text(11), label(11));
    screen_clear(0, 0, CLEAR_TYPE_GIVEN);
    for (int32_t row = 1; row <= 25; ++row) EXPECT_TRUE(row_is_blank(row)) << row;
    EXPECT_EQ(writing().cursor_y, 5);
}

TEST_F(screen_clear_, FillColour) {
    screen_clear(0, 1, CLEAR_FILL_GIVEN);
    EXPECT_TRUE(row_is_blank(1, 0x17));
    EXPECT_TRUE(row_is_blank(25, 0x17));
    screen_clear(0, 9, CLEAR_FILL_GIVEN); // cut to three bits
    EXPECT_TRUE(row_is_blank(1, 0x17));
    writing().foreground = 16 + 7;
    screen_clear(0, 0, 0);
    EXPECT_TRUE(row_is_blank(1, 0x87));
}

TEST_F(screen_clear_, BadArgumentsChangeNothing) {
    print("keep");
    screen_clear(0, 0x10000, CLEAR_FILL_GIVEN);
    EXPECT_EQ(error(), 5u);
    clear_error();
    screen_clear(0, -1, CLEAR_FILL_GIVEN);
    EXPECT_EQ(error(), 5u);
    clear_error();
    screen_clear(3, 0, CLEAR_TYPE_GIVEN);
    EXPECT_EQ(error(), 5u);
    clear_error();
    EXPECT_EQ(row_text(1, 1, 4), "keep");
    EXPECT_EQ(writing().cursor_x, 5);
}

TEST_F(screen_clear_, EndsAPendingWrap) {
    print(std::string(80, 'x'));
    screen_clear(0, 0, 0);
    print("home");
    EXPECT_EQ(row_text(1, 1, 4), "home");
}

// The composer reads the display page on its own thread while the program prints. Every cell it
// sees must be one the program wrote, and the cursor must stay on the screen.
TEST_F(print_concurrency, ReaderSeesConsistentCells) {
    std::atomic<bool> done{false};
    std::atomic<int> passes{0};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done.load(std::memory_order_acquire)) {
            ScreenImage* shown = screen_display_page();
            int32_t x = shown->cursor_x, y = shown->cursor_y;
            if (x < 1 || x > 80 || y < 1 || y > 25) bad.fetch_add(1);
            if (image_palette_load(*shown, 7) != 0xFFAAAAAAu) bad.fetch_add(1);
            for (uint32_t offset = 0; offset < 4000; offset += 2) {
                uint8_t c = image_cell_load(*shown, offset);
                uint8_t a = image_cell_load(*shown, offset + 1);
                if ((c != ' ' && (c < '0' || c > '9')) || a != 0x07) bad.fetch_add(1);
            }
            passes.fetch_add(1, std::memory_order_relaxed);
        }
    });
    // Keep printing until the reader has looked often enough to have met prints and scrolls.
    for (int line = 0; line < 300 || passes.load(std::memory_order_relaxed) < 50; ++line)
        print(std::string(size_t(1 + line % 79), char('0' + line % 10)), true);
    done.store(true, std::memory_order_release);
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(writing().cursor_y, 24);
}

} // namespace
