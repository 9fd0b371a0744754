// The text view and the cursor statements: where printing happens on the write page, and the
// one-time enlargement of the automatic screen to 80 x 50 that a cursor row below it asks for.
#include "runtime/base/error.h"
#include "runtime/memory/conv.h"
#include "runtime/screen/detail.h"
#include "runtime/screen/image.h"

// The one-time enlargement of the automatic screen by the cursor statement: an 80 x 50 screen
// with what the 80 x 25 one showed and its colours.
static void enlarge_to_80x50() {
    ScreenState& st = screen_state;
    uint8_t kept[80 * 25 * 2];
    for (uint32_t i = 0; i < sizeof kept; ++i) kept[i] = conv_load8(TEXT_VIDEO_BASE + i);
    uint32_t foreground = st.write_page.image->foreground;
    uint32_t background = st.write_page.image->background;
    st.size_request = SizeRequest{80, 50, 8};
    screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
    if (error_pending()) return;
    for (uint32_t i = 0; i < sizeof kept; ++i) conv_store8(TEXT_VIDEO_BASE + i, kept[i]);
    ScreenImage& page = *st.write_page.image;
    page.foreground = foreground;
    page.background = background;
    page.draw_colour = foreground;
}

void view_print(int32_t top, int32_t bottom, int32_t given) {
    if (error_pending()) return;
    ScreenImage& page = *screen_state.write_page.image;
    int32_t rows = image_rows(page);
    if (given) {
        if (top < 1 || top > bottom || bottom > rows) {
            error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
            return;
        }
    } else {
        top = 1;
        bottom = rows;
    }
    page.view_top = int16_t(top);
    page.view_bottom = int16_t(bottom);
    page.cursor_y = int16_t(top);
    page.cursor_x = 1;
    page.pending_wrap = 0;
}

void cursor_set(int32_t row, int32_t column, int32_t visible, int32_t start, int32_t end,
                int32_t flags) {
    if (error_pending()) return;
    ScreenState& st = screen_state;
    ScreenImage* page = st.write_page.image;
    int32_t rows = image_rows(*page);
    int32_t columns = image_columns(*page);
    bool row_given = flags & CURSOR_ROW_GIVEN;
    bool column_given = flags & CURSOR_COLUMN_GIVEN;
    bool enlarge = false;
    bool ok = true;
    if (row_given && row < page->view_top) ok = false;
    if (ok && row_given && row > page->view_bottom && row != rows) {
        // A row below the view (narrowed or not) asks for a taller screen; only the automatic
        // screen grants it, once, and only up to its 50 rows.
        if (st.auto_screen && row <= 50) {
            enlarge = true;
            columns = 80;
        } else {
            ok = false;
        }
    }
    if (column_given && (column < 1 || column > columns)) ok = false;
    if ((flags & CURSOR_VISIBLE_GIVEN) && visible != 0 && visible != 1) ok = false;
    if ((flags & CURSOR_START_GIVEN) && (start < 0 || start > 31)) ok = false;
    if ((flags & CURSOR_END_GIVEN) && (end < 0 || end > 31)) ok = false;
    if (!ok) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    if (enlarge) {
        st.auto_screen = 0;
        enlarge_to_80x50();
        if (error_pending()) return;
        page = st.write_page.image;
    }

    if (row_given) page->cursor_y = int16_t(row);
    if (column_given) page->cursor_x = int16_t(column);
    if (row_given || column_given) {
        page->pending_wrap = 0;
    } else if (page->pending_wrap == 1) {
        page->pending_wrap = 2;
    }
    int32_t shape_flags = CURSOR_VISIBLE_GIVEN | CURSOR_START_GIVEN | CURSOR_END_GIVEN;
    if ((flags & shape_flags) == 0) return;
    if (flags & CURSOR_VISIBLE_GIVEN) page->cursor_visible = uint8_t(visible);
    if (flags & CURSOR_START_GIVEN) page->cursor_start = uint8_t(start);
    if (flags & CURSOR_END_GIVEN) page->cursor_end = uint8_t(end);
    if (page->flags & IMAGE_IS_PAGE) {
        for (int32_t slot : st.page_table) {
            ScreenImage* other = image_record(slot);
            other->cursor_visible = page->cursor_visible.load();
            other->cursor_start = page->cursor_start.load();
            other->cursor_end = page->cursor_end.load();
        }
    }
}
