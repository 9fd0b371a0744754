#include "runtime/screen/print.h"

#include <cstdio>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/platform/platform.h"
#include "runtime/screen/image.h"

PrintState print_state;

namespace {

constexpr uint32_t BELL_PAUSE_MS = 250; // the BIOS beep's length, kept as a pause without sound
constexpr int32_t TAB_STOP = 8;
constexpr int32_t PRINT_ZONE_WIDTH = 14;

ScreenImage& write_page() {
    return *screen_state.write_page.image;
}

// Attribute of a printed character: foreground bits 0-3, background bits 4-6, and foregrounds
// 16-31 set bit 7 (blink). Backgrounds above 7 spill into the blink bit, as they always have.
uint8_t print_attribute(const ScreenImage& page) {
    uint32_t foreground = page.foreground, background = page.background;
    return uint8_t((foreground & 15) + 8 * (2 * background + (foreground & 16)));
}

// Attribute of a blank cell; here the fill colour is cut to the three background bits.
uint8_t blank_attribute(uint32_t foreground, uint32_t fill) {
    return uint8_t((foreground & 15) | (fill & 7) << 4 | (foreground & 16) << 3);
}

uint32_t cell_offset(const ScreenImage& page, int32_t column, int32_t row) {
    return (uint32_t(row - 1) * page.width + uint32_t(column - 1)) * 2;
}

void blank_rows(ScreenImage& page, int32_t first, int32_t last, uint32_t fill) {
    if (!page.is_text) return; // pixel surfaces: glyph drawing is not part of this run-time
    uint8_t attribute = blank_attribute(page.foreground, fill);
    int32_t rows = page.height;
    if (first < 1) first = 1;
    if (last > rows) last = rows;
    for (int32_t row = first; row <= last; ++row) {
        uint32_t offset = cell_offset(page, 1, row);
        for (int32_t column = 0; column < page.width; ++column, offset += 2) {
            image_cell_store(page, offset, BLANK_CHARACTER);
            image_cell_store(page, offset + 1, attribute);
        }
    }
}

// Pixel rows [first, last] of a graphics surface in one colour (its low byte on palette
// surfaces, all four bytes on 32-bit ones).
void fill_pixel_rows(ScreenImage& page, int32_t first, int32_t last, uint32_t colour) {
    if (page.is_text || page.pixels.load() == nullptr) return;
    if (first < 0) first = 0;
    if (last >= page.height) last = page.height - 1;
    uint32_t bytes_per_pixel = page.bytes_per_pixel;
    uint32_t row_bytes = uint32_t(page.width) * bytes_per_pixel;
    for (uint32_t offset = uint32_t(first) * row_bytes; offset < uint32_t(last + 1) * row_bytes;
         offset += bytes_per_pixel)
        for (uint32_t byte = 0; byte < bytes_per_pixel; ++byte)
            image_cell_store(page, offset + byte, uint8_t(colour >> (8 * byte)));
}

// Rows view_top + 1 .. view_bottom move up one row; the bottom row of the view is blanked.
void scroll_view(ScreenImage& page) {
    if (!page.is_text) return;
    int32_t top = page.view_top, bottom = page.view_bottom;
    uint32_t row_bytes = uint32_t(page.width) * 2;
    uint32_t to = cell_offset(page, 1, top);
    uint32_t end = cell_offset(page, 1, bottom);
    for (; to < end; ++to) image_cell_store(page, to, image_cell_load(page, to + row_bytes));
    blank_rows(page, bottom, bottom, page.background);
}

void newline(ScreenImage& page) {
    int32_t row = page.cursor_y + 1;
    page.cursor_x = 1;
    if (row > page.view_bottom) {
        scroll_view(page);
        row = page.view_bottom;
    }
    page.cursor_y = int16_t(row);
}

// Writes one glyph at the cursor and advances. Returns true when it ended the line (wrapped).
bool put_glyph(ScreenImage& page, uint8_t glyph, bool last_byte, bool end_line) {
    int32_t columns = image_columns(page);
    int32_t column = page.cursor_x, row = page.cursor_y;
    if (page.is_text && column >= 1 && column <= page.width && row >= 1 && row <= page.height) {
        uint32_t offset = cell_offset(page, column, row);
        image_cell_store(page, offset, glyph);
        image_cell_store(page, offset + 1, print_attribute(page));
    }
    ++column;
    if (column <= columns) {
        page.cursor_x = int16_t(column);
        return false;
    }
    if (end_line || !last_byte) {
        newline(page);
        return true;
    }
    // Stay in the last column; the next non-empty print starts the new line, so that a line
    // that exactly fills the row does not leave an empty row behind it.
    page.cursor_x = int16_t(columns);
    page.pending_wrap = 1;
    return false;
}

bool is_control(uint8_t b) {
    switch (b) {
    case 7:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
    case 28:
    case 29:
    case 30:
    case 31: return true;
    default: return false;
    }
}

// Handles one control byte. Returns whether it wrapped the line (only a tab can).
bool put_control(ScreenImage& page, uint8_t b, bool last_byte, bool end_line) {
    int32_t columns = image_columns(page);
    int32_t x = page.cursor_x, y = page.cursor_y;
    int32_t top = page.view_top, bottom = page.view_bottom;
    switch (b) {
    case 7: platform_sleep_ms(BELL_PAUSE_MS); break;
    case 9: {
        // Spaces up to and including the next column that is a multiple of 8. A tab that stops
        // in the last column with the wrap pending ends there: on a width that is no multiple
        // of 8 it would otherwise rewrite that column for ever.
        bool wrapped = false;
        int32_t before;
        do {
            before = page.cursor_x;
            wrapped = put_glyph(page, ' ', last_byte, end_line);
        } while (before % TAB_STOP != 0 && page.pending_wrap == 0);
        return wrapped;
    }
    case 10:
    case 13: newline(page); break;
    case 11:
        page.cursor_x = 1;
        page.cursor_y = int16_t(top);
        break;
    case 12: screen_clear(0, 0, 0); break;
    case 28: // right; wraps to the next row but never scrolls
        if (y >= bottom && x == columns) break;
        if (x + 1 > columns) {
            page.cursor_x = 1;
            page.cursor_y = int16_t(y + 1);
        } else {
            page.cursor_x = int16_t(x + 1);
        }
        break;
    case 29: // left; wraps to the previous row, never above row 1
        if (x == 1 && (y == top || y > bottom || y == 1)) break;
        if (x - 1 == 0) {
            page.cursor_x = int16_t(columns);
            page.cursor_y = int16_t(y - 1);
        } else {
            page.cursor_x = int16_t(x - 1);
        }
        break;
    case 30:
        if (top < y && y <= bottom) page.cursor_y = int16_t(y - 1);
        break;
    case 31:
        if (top <= y && y < bottom) page.cursor_y = int16_t(y + 1);
        break;
    default: break;
    }
    return false;
}

void print_to_console(BasicString* s, int32_t end_line) {
    static const char ZERO[1] = {0};
    if (print_state.console_buffer == nullptr) print_state.console_buffer = str_new(0, false);
    str_set(print_state.console_buffer, str_add(s, str_new_literal(ZERO, 1)));
    std::fputs(reinterpret_cast<const char*>(print_state.console_buffer->chars), stdout);
    if (end_line) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

} // namespace

void print_reset() {
    print_state = PrintState{};
}

void print_string(BasicString* s, int32_t end_line) {
    if (error_pending()) return;
    ScreenImage& page = write_page();
    if (page.is_console) {
        print_to_console(s, end_line);
        return;
    }
    int32_t length = s->length;
    if (page.pending_wrap != 0) {
        if (length != 0) {
            page.pending_wrap = 0;
            newline(page);
        } else if (end_line) {
            page.pending_wrap = 0;
        }
    }
    bool glyphs_only = print_state.controls_as_glyphs || print_state.drawing_key_labels;
    bool wrapped = false;
    for (int32_t i = 0; i < length; ++i) {
        uint8_t b = s->chars[i];
        bool last_byte = i == length - 1;
        if (!glyphs_only && is_control(b)) {
            wrapped = put_control(page, b, last_byte, end_line);
        } else {
            wrapped = put_glyph(page, b, last_byte, end_line);
        }
    }
    if (end_line && !wrapped) newline(page);
}

void print_newline() {
    if (error_pending()) return;
    newline(write_page());
}

void print_fit(BasicString* s) {
    if (error_pending()) return;
    ScreenImage& page = write_page();
    if (page.pending_wrap != 0 || page.cursor_x == 1) return;
    if (int64_t(page.cursor_x) + s->length - 1 > image_columns(page)) newline(page);
}

void print_zone() {
    if (error_pending()) return;
    ScreenImage& page = write_page();
    if (page.pending_wrap != 0) {
        newline(page);
        page.pending_wrap = 0;
        return;
    }
    int32_t columns = image_columns(page);
    do {
        print_string(str_one_space, 0);
        // The console keeps no cursor, and an error raised meanwhile stops printing: either
        // would otherwise spin here.
        if (page.is_console || error_pending()) return;
        int32_t x = page.cursor_x;
        if (x == 1) return;
        if ((x - 1) % PRINT_ZONE_WIDTH == 0 && x <= columns - 13) return;
    } while (page.cursor_x < columns);
}

void screen_clear(int32_t type, int32_t fill, int32_t flags) {
    if (error_pending()) return;
    ScreenImage& page = write_page();
    uint32_t colour = page.background;
    if (flags & CLEAR_FILL_GIVEN) {
        if (page.bits_per_pixel != 32 && uint32_t(fill) > page.colour_mask) {
            error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
            return;
        }
        colour = uint32_t(fill);
    }
    bool type_given = flags & CLEAR_TYPE_GIVEN;
    if (type_given && (type < 0 || type > 2)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    page.cursor_x = 1;
    page.cursor_y = page.view_top;
    // A wrap left pending by a print into the last column would push the next print below the
    // home position.
    page.pending_wrap = 0;
    page.graphics.figure_angle = 0.0;
    page.graphics.figure_scale = 1.0;
    if (!page.is_text) {
        int32_t font_height = image_font_height(page.font);
        if (type_given && type == 2)
            fill_pixel_rows(page, (page.view_top - 1) * font_height,
                            page.view_bottom * font_height - 1, colour);
        else
            fill_pixel_rows(page, 0, page.height - 1, colour);
        return;
    }
    int32_t rows = page.height;
    if (!type_given) {
        blank_rows(page, page.view_top, page.view_bottom, colour);
        blank_rows(page, rows, rows, colour);
    } else if (type == 0) {
        blank_rows(page, 1, rows, colour);
    } else if (type == 2) {
        blank_rows(page, page.view_top, page.view_bottom, colour);
    }
    // The function-key label line is never switched on here, so there is nothing to redraw.
}

const StrSink screen_print_sink = {
    [](void*, BasicString* s, int32_t end_line) { print_string(s, end_line); },
    [](void*, BasicString* s) { print_fit(s); },
    [](void*) { print_zone(); },
    nullptr,
};
