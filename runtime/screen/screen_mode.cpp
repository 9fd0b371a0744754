// The current screen: its pages built for a mode (text pages in the emulated video memory where
// they fit, as on the hardware), the page the program writes to and the one that is shown.
// Pages are replaced only under the screen lock while the display thread composes.
#include <algorithm>

#include "runtime/base/control.h"
#include "runtime/base/error.h"
#include "runtime/memory/conv.h"
#include "runtime/screen/detail.h"
#include "runtime/screen/image.h"

// The whole text video window from 0xB8000: 64 KB, of which an 80 x 25 screen uses eight
// 4 KB pages.
static constexpr uint32_t TEXT_MEMORY_BYTES = 65536;

// The default colours of the page's mode, a homed view, and the cursor back on the screen.
static void reset_page_defaults(ScreenImage& page) {
    if (const ModeDefaults* defaults = mode_defaults(page.mode)) {
        page.foreground = defaults->foreground;
        page.background = defaults->background;
        page.draw_colour = defaults->foreground;
    }
    home_view(page);
    if (page.cursor_y > image_rows(page)) page.cursor_y = 1;
}

void free_screen_pages() {
    ScreenState& st = screen_state;
    for (int32_t slot : st.page_table) {
        ScreenImage* page = image_record(slot);
        if (page == nullptr || !page->is_valid) continue;
        if (slot == st.screen_image_slot) {
            page->flags &= ~IMAGE_IS_PAGE; // the program's own image survives the screen
            continue;
        }
        image_free_arrays(*page);
        image_slot_release(slot);
    }
    st.page_table.clear();
    st.screen_image_slot = 0;
}

namespace {
struct TextSize {
    int32_t columns;
    int32_t rows;
    int32_t font;
};
} // namespace

static int32_t font_for_rows(int32_t rows) {
    return rows == 43 ? 14 : rows == 50 ? 8 : 16;
}

static TextSize choose_text_size() {
    const SizeRequest& request = screen_state.size_request;
    int32_t previous_columns = screen_state.text_columns;
    int32_t previous_rows = screen_state.text_rows;
    TextSize size{80, 25, 16};
    if (request.columns > 0 && request.rows > 0) {
        size = {request.columns, request.rows, font_for_rows(request.rows)};
        if (size.columns == 40) size.font += 1;
    } else if (request.columns > 0) {
        size = {request.columns, 25, 16};
        if (previous_rows == 43) size.rows = 43, size.font = 14;
        if (previous_rows == 50) size.rows = 50, size.font = 8;
        if (size.columns == 40) size.font += 1;
    } else if (request.rows > 0) {
        size = {previous_columns == 40 ? 40 : 80, request.rows, font_for_rows(request.rows)};
        if (size.columns == 40) size.font += 1;
    } else if (previous_rows == 50 || previous_rows == 43) {
        size = {previous_columns == 40 ? 40 : 80, previous_rows, previous_columns == 40 ? 9 : 8};
    } else if (previous_columns == 40 && previous_rows == 25) {
        size = {40, 25, 17};
    }
    if (request.font > 0) size.font = request.font;
    return size;
}

// Pages that fit into the 64 KB text window lie there, as on the hardware; the rest get arrays
// of their own. An 80 x 25 page takes a 4 KB stride and a 40 x 25 page 2 KB, as the BIOS lays
// them out.
static bool build_text_screen() {
    ScreenState& st = screen_state;
    TextSize size = choose_text_size();
    st.size_request = SizeRequest{};
    uint32_t page_bytes = uint32_t(size.columns) * uint32_t(size.rows) * 2;
    if (size.columns == 80 && size.rows == 25) page_bytes = 4096;
    if (size.columns == 40 && size.rows == 25) page_bytes = 2048;
    int32_t pages_in_memory =
        int32_t(std::min<uint32_t>(TEXT_SCREEN_PAGES, TEXT_MEMORY_BYTES / page_bytes));

    st.page_table.assign(TEXT_SCREEN_PAGES, 0);
    for (int32_t page = 0; page < TEXT_SCREEN_PAGES; ++page) {
        int32_t slot = page < pages_in_memory
                           ? image_new(conv_memory + TEXT_VIDEO_BASE + uint32_t(page) * page_bytes,
                                       size.columns, size.rows, 0)
                           : image_create(size.columns, size.rows, 0);
        if (slot == 0) return false;
        ScreenImage* record = image_record(slot);
        image_set_font(size.font, record);
        record->flags |= IMAGE_IS_PAGE;
        st.page_table[page] = slot;
    }
    for (uint32_t offset = 0; offset < TEXT_MEMORY_BYTES; offset += 2) {
        conv_store8(TEXT_VIDEO_BASE + offset, BLANK_CHARACTER);
        conv_store8(TEXT_VIDEO_BASE + offset + 1, BLANK_ATTRIBUTE);
    }
    st.text_columns = size.columns;
    st.text_rows = size.rows;
    return true;
}

static bool build_graphics_screen(const ModeDefaults& defaults) {
    ScreenState& st = screen_state;
    st.size_request = SizeRequest{};
    st.page_table.assign(size_t(defaults.screen_pages), 0);
    for (int32_t page = 0; page < defaults.screen_pages; ++page) {
        int32_t slot = image_create(defaults.screen_width, defaults.screen_height, defaults.mode);
        if (slot == 0) return false;
        image_record(slot)->flags |= IMAGE_IS_PAGE;
        st.page_table[page] = slot;
    }
    return true;
}

static void show_page(int32_t slot) {
    screen_state.display_page_slot = slot;
    screen_state.display_page.store(image_record(slot), std::memory_order_release);
}

void screen_startup() {
    ScreenState& st = screen_state;
    screen_reset();
    for (int i = 0; i < 256; ++i)
        st.default_palette_256[i] = DEFAULT_PALETTE_256[i] | PALETTE_OPAQUE;
    for (int i = 0; i < 64; ++i) st.ega_palette_64[i] = EGA_PALETTE_64[i] | PALETTE_OPAQUE;
    for (uint32_t reserved = 0; reserved < FIRST_IMAGE_SLOT; ++reserved)
        image_record(image_slot_take())->is_valid = 0;
    screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
    st.auto_screen = 1;
}

namespace {

// What a screen statement asks for, once checked.
struct ModeRequest {
    ScreenImage* image_screen = nullptr; // the program's own image as the screen, or null
    const ModeDefaults* defaults = nullptr;
    bool new_screen = false;
};

// Checks the statement's arguments against the screen they select from, before anything
// changes. False after raising the error.
bool mode_request_check(int32_t mode, int32_t active_page, int32_t display_page, int32_t flags,
                        ModeRequest& request) {
    const ScreenState& st = screen_state;
    bool mode_given = flags & SCREEN_MODE_GIVEN;
    bool active_given = flags & SCREEN_ACTIVE_PAGE_GIVEN;
    bool display_given = flags & SCREEN_DISPLAY_PAGE_GIVEN;

    if (mode_given && mode < 0) {
        int32_t ignored = 0;
        request.image_screen = image_resolve_handle(mode, &ignored);
        if (request.image_screen == nullptr) return false;
        // Another page of the current screen would be freed with the screen it is to replace.
        if ((request.image_screen->flags & IMAGE_IS_PAGE) && -mode != st.page_table[0]) {
            error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
            return false;
        }
    } else if (mode_given) {
        request.defaults = mode == 0 || (mode >= 1 && mode <= 13 && (mode < 3 || mode > 6))
                               ? mode_defaults(mode)
                               : nullptr;
        if (request.defaults == nullptr) {
            error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
            return false;
        }
    }
    if ((active_given && active_page < 0) || (display_given && display_page < 0)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return false;
    }

    bool have_screen = !st.page_table.empty();
    int32_t current_mode = have_screen ? int32_t(image_record(st.page_table[0])->mode) : -1;
    bool size_requested =
        st.size_request.columns != -1 || st.size_request.rows != -1 || st.size_request.font != -1;
    if (request.image_screen != nullptr) {
        request.new_screen = !have_screen || st.page_table[0] != -mode || size_requested;
    } else {
        if (request.defaults == nullptr)
            request.defaults = mode_defaults(have_screen ? current_mode : 0);
        request.new_screen = !have_screen || (mode_given && mode != current_mode) || size_requested;
    }

    int32_t page_count = !request.new_screen               ? int32_t(st.page_table.size())
                         : request.image_screen != nullptr ? 1
                                                           : request.defaults->screen_pages;
    if ((active_given && active_page >= page_count) ||
        (display_given && display_page >= page_count)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return false;
    }
    return true;
}

// Frees the current screen's pages and builds the requested one, writing and showing page 0.
void screen_rebuild(int32_t mode, const ModeRequest& request) {
    ScreenState& st = screen_state;
    st.display_page.store(nullptr, std::memory_order_release);
    st.display_page_slot = 0;
    free_screen_pages();
    bool built;
    if (request.image_screen != nullptr) {
        st.page_table.assign(1, -mode);
        st.screen_image_slot = -mode;
        request.image_screen->flags |= IMAGE_IS_PAGE;
        st.size_request = SizeRequest{};
        built = true;
    } else if (request.defaults->mode == 0) {
        built = build_text_screen();
    } else {
        built = build_graphics_screen(*request.defaults);
    }
    // Without pages nothing could be shown or printed; the run-time cannot go on.
    if (!built) error_critical(ERROR_CRITICAL_IMAGE_TABLE);
    st.write_page = st.read_page = image_page_ref(st.page_table[0]);
    show_page(st.page_table[0]);
    reset_figure_state(*st.write_page.image);
    st.active_page_number = 0;
}

// The write (active) and shown (display) pages the statement names, each with its defaults.
void pages_select(int32_t active_page, int32_t display_page, int32_t flags) {
    ScreenState& st = screen_state;
    if ((flags & SCREEN_ACTIVE_PAGE_GIVEN) && active_page != st.active_page_number) {
        ScreenImage* previous = st.write_page.image;
        st.write_page = st.read_page = image_page_ref(st.page_table[size_t(active_page)]);
        st.active_page_number = active_page;
        ScreenImage& page = *st.write_page.image;
        reset_page_defaults(page);
        if (!page.is_text && previous != nullptr) page.graphics = previous->graphics;
    }
    if ((flags & SCREEN_DISPLAY_PAGE_GIVEN) &&
        st.page_table[size_t(display_page)] != st.display_page_slot) {
        show_page(st.page_table[size_t(display_page)]);
        reset_page_defaults(*st.write_page.image);
    }
}

} // namespace

void screen_mode(int32_t mode, int32_t active_page, int32_t display_page, int32_t flags) {
    if (error_pending()) return;
    ModeRequest request;
    if (!mode_request_check(mode, active_page, display_page, flags, request)) return;
    if (!((flags & SCREEN_MODE_GIVEN) && mode == 0 && flags == SCREEN_MODE_GIVEN))
        screen_state.auto_screen = 0;

    bool locked = request.new_screen && display_auto.load(std::memory_order_relaxed) != 0 &&
                  display_thread_running.load(std::memory_order_relaxed) != 0;
    if (locked) screen_lock_acquire();
    if (request.new_screen) screen_rebuild(mode, request);
    pages_select(active_page, display_page, flags);
    if (locked) screen_lock_release();
}
