#include "runtime/screen/image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "runtime/base/control.h"
#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "runtime/screen/detail.h"

ScreenState screen_state;

namespace {

constexpr uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue) {
    return red << 16 | green << 8 | blue;
}

// The CGA/EGA text colours as the VGA BIOS programs them for text modes.
constexpr uint32_t TEXT_COLOURS[16] = {
    rgb(0, 0, 0),     rgb(0, 0, 170),    rgb(0, 170, 0),    rgb(0, 170, 170),
    rgb(170, 0, 0),   rgb(170, 0, 170),  rgb(170, 85, 0),   rgb(170, 170, 170),
    rgb(85, 85, 85),  rgb(85, 85, 255),  rgb(85, 255, 85),  rgb(85, 255, 255),
    rgb(255, 85, 85), rgb(255, 85, 255), rgb(255, 255, 85), rgb(255, 255, 255),
};

constexpr uint8_t GREY_LEVELS[16] = {0,   20,  32,  45,  57,  69,  81,  97,
                                     113, 130, 146, 162, 182, 202, 227, 255};

// The VGA DAC holds 6-bit levels; round(v * 255 / 63). 63 is odd, so no value lies halfway.
constexpr uint32_t dac_level(uint32_t v) {
    return (v * 255 + 31) / 63;
}

// The VGA BIOS default colour ring (entries 32-247): three intensities (maximum DAC level 63, 28
// and 16), each at three saturations. Every group walks 24 hues from blue through magenta, red,
// yellow, green and cyan back towards blue, using five levels from the group's floor to its
// maximum.
constexpr uint8_t RING_LEVELS[9][5] = {
    {0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
    {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
    {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16},
};

constexpr std::array<uint32_t, 256> build_default_palette() {
    std::array<uint32_t, 256> palette{};
    for (int i = 0; i < 16; ++i) palette[i] = TEXT_COLOURS[i];
    for (int i = 0; i < 16; ++i)
        palette[16 + i] = rgb(GREY_LEVELS[i], GREY_LEVELS[i], GREY_LEVELS[i]);
    for (int group = 0; group < 9; ++group) {
        const uint8_t* level = RING_LEVELS[group];
        for (int hue = 0; hue < 24; ++hue) {
            int step = hue % 4;
            uint32_t low = level[0], high = level[4], up = level[step], down = level[4 - step];
            uint32_t r = 0, g = 0, b = 0;
            switch (hue / 4) {
            case 0: r = up, g = low, b = high; break;    // blue to magenta
            case 1: r = high, g = low, b = down; break;  // magenta to red
            case 2: r = high, g = up, b = low; break;    // red to yellow
            case 3: r = down, g = high, b = low; break;  // yellow to green
            case 4: r = low, g = high, b = up; break;    // green to cyan
            default: r = low, g = down, b = high; break; // cyan to blue
            }
            palette[32 + group * 24 + hue] = rgb(dac_level(r), dac_level(g), dac_level(b));
        }
    }
    return palette; // 248-255 stay black
}

// The 64 colours of the EGA: two bits per primary, bits 2/5 red, 1/4 green, 0/3 blue.
constexpr std::array<uint32_t, 64> build_ega_palette() {
    std::array<uint32_t, 64> palette{};
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t r = 170 * (i >> 2 & 1) + 85 * (i >> 5 & 1);
        uint32_t g = 170 * (i >> 1 & 1) + 85 * (i >> 4 & 1);
        uint32_t b = 170 * (i & 1) + 85 * (i >> 3 & 1);
        palette[i] = rgb(r, g, b);
    }
    return palette;
}

constexpr uint32_t OPAQUE = 0xFF000000u;
// The whole text video window from 0xB8000: 64 KB, of which an 80 x 25 screen uses eight
// 4 KB pages.
constexpr uint32_t TEXT_MEMORY_BYTES = 65536;

enum class PaletteFill { none, first16, all256, cga4, mono, ega16, pair_selectors };

struct ModeDefaults {
    int32_t mode;
    uint8_t bits_per_pixel;
    uint8_t bytes_per_pixel;
    int32_t font;
    uint32_t foreground;
    uint32_t background;
    PaletteFill palette;
    // Pixel size and page count of the classic graphics modes; 0 for text and memory images.
    int32_t screen_width;
    int32_t screen_height;
    int32_t screen_pages;
};

constexpr ModeDefaults MODES[] = {
    {0, 16, 2, 16, 7, 0, PaletteFill::first16, 0, 0, TEXT_SCREEN_PAGES},
    {1, 2, 1, 8, 3, 0, PaletteFill::cga4, 320, 200, 1},
    {2, 1, 1, 8, 1, 0, PaletteFill::mono, 640, 200, 1},
    {7, 4, 1, 8, 15, 0, PaletteFill::first16, 320, 200, 8},
    {8, 4, 1, 8, 15, 0, PaletteFill::first16, 640, 200, 4},
    {9, 4, 1, 14, 15, 0, PaletteFill::ega16, 640, 350, 2},
    {10, 2, 1, 14, 3, 0, PaletteFill::pair_selectors, 640, 350, 2},
    {11, 1, 1, 16, 1, 0, PaletteFill::mono, 640, 480, 1},
    {12, 4, 1, 16, 15, 0, PaletteFill::first16, 640, 480, 1},
    {13, 8, 1, 8, 15, 0, PaletteFill::all256, 320, 200, 1},
    {32, 32, 4, 16, 0xFFFFFFFFu, 0xFF000000u, PaletteFill::none, 0, 0, 0},
    {256, 8, 1, 16, 15, 0, PaletteFill::all256, 0, 0, 0},
};

const ModeDefaults* mode_defaults(int32_t mode) {
    for (const ModeDefaults& entry : MODES)
        if (entry.mode == mode) return &entry;
    return nullptr;
}

void fill_palette(uint32_t* palette, PaletteFill fill) {
    const uint32_t* source = screen_state.default_palette_256;
    switch (fill) {
    case PaletteFill::none: break;
    case PaletteFill::first16: std::memcpy(palette, source, 16 * sizeof(uint32_t)); break;
    case PaletteFill::all256: std::memcpy(palette, source, 256 * sizeof(uint32_t)); break;
    case PaletteFill::cga4:
        palette[0] = source[0], palette[1] = source[3], palette[2] = source[5];
        palette[3] = source[7];
        break;
    case PaletteFill::mono: // both transparent: the pixel bits are the colour
        palette[0] = 0x00000000u, palette[1] = 0x00FFFFFFu;
        break;
    case PaletteFill::ega16: {
        constexpr int ENTRIES[16] = {0, 1, 2, 3, 4, 5, 20, 7, 56, 57, 58, 59, 60, 61, 62, 63};
        for (int i = 0; i < 16; ++i) palette[i] = screen_state.ega_palette_64[ENTRIES[i]];
        break;
    }
    case PaletteFill::pair_selectors: // which colour pair each of entries 0-3 blinks between
        palette[4] = 0, palette[5] = 4, palette[6] = 6, palette[7] = 8;
        break;
    }
}

void reset_figure_state(ScreenImage& image) {
    image.graphics.figure_angle = 0.0;
    image.graphics.figure_scale = 1.0;
}

void home_view(ScreenImage& image) {
    image.view_top = 1;
    image.view_bottom = int16_t(std::max(1, image_rows(image) - 1));
}

// Adds one chunk of zeroed records. Chunks never move, so record pointers stay valid.
void grow_table() {
    ScreenImage* chunk = new (std::nothrow) ScreenImage[IMAGE_TABLE_GROWTH];
    if (chunk == nullptr) {
        error_critical(ERROR_CRITICAL_IMAGE_TABLE);
    }
    try {
        screen_state.chunks.emplace_back(chunk);
    } catch (const std::bad_alloc&) {
        delete[] chunk;
        error_critical(ERROR_CRITICAL_IMAGE_TABLE);
    }
}

int32_t table_capacity() {
    return int32_t(screen_state.chunks.size()) * IMAGE_TABLE_GROWTH;
}

// The default colours of the page's mode, a homed view, and the cursor back on the screen.
void reset_page_defaults(ScreenImage& page) {
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

struct TextSize {
    int32_t columns;
    int32_t rows;
    int32_t font;
};

int32_t font_for_rows(int32_t rows) {
    return rows == 43 ? 14 : rows == 50 ? 8 : 16;
}

TextSize choose_text_size() {
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
bool build_text_screen() {
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

bool build_graphics_screen(const ModeDefaults& defaults) {
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

void show_page(int32_t slot) {
    screen_state.display_page_slot = slot;
    screen_state.display_page.store(image_record(slot), std::memory_order_release);
}

// The one-time enlargement of the automatic screen by the cursor statement: an 80 x 50 screen
// with what the 80 x 25 one showed and its colours.
void enlarge_to_80x50() {
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

} // namespace

void image_free_arrays(ScreenImage& image) {
    if (image.flags & IMAGE_OWNS_PIXELS) std::free(image.pixels.load());
    if (image.flags & IMAGE_OWNS_PALETTE) std::free(image.palette.load());
    image.flags &= ~(IMAGE_OWNS_PIXELS | IMAGE_OWNS_PALETTE);
}

void* image_allocate_bytes(uint64_t bytes) {
    if (bytes == 0 || bytes > std::numeric_limits<size_t>::max()) return nullptr;
    return std::malloc(size_t(bytes));
}

PageRef image_page_ref(int32_t slot) {
    return PageRef{slot, image_record(slot)};
}

ScreenImage* image_resolve_handle(int32_t handle, int32_t* slot_out) {
    const ScreenState& st = screen_state;
    int32_t slot = 0;
    if (handle >= 0) {
        if (size_t(handle) >= st.page_table.size() || st.page_table[handle] == 0) {
            error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
            return nullptr;
        }
        slot = st.page_table[handle];
    } else {
        int64_t wide = -int64_t(handle);
        ScreenImage* record = wide < FIRST_IMAGE_SLOT || wide > std::numeric_limits<int32_t>::max()
                                  ? nullptr
                                  : image_record(int32_t(wide));
        if (record == nullptr || !record->is_valid) {
            error_raise(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        slot = int32_t(wide);
    }
    *slot_out = slot;
    return image_record(slot);
}

bool image_mode_known(int32_t mode) {
    return mode_defaults(mode) != nullptr;
}

extern const std::array<uint32_t, 256> DEFAULT_PALETTE_256 = build_default_palette();
extern const std::array<uint32_t, 64> EGA_PALETTE_64 = build_ega_palette();

int32_t image_font_height(int32_t font) {
    switch (font) {
    case 8:
    case 9: return 8;
    case 14:
    case 15: return 14;
    default: return 16;
    }
}

int32_t image_rows(const ScreenImage& image) {
    return image.is_text ? int32_t(image.height) : image.height / image_font_height(image.font);
}

int32_t image_columns(const ScreenImage& image) {
    if (image.is_text) return image.width;
    int32_t font = image.font;
    return image.width / (font == 9 || font == 15 || font == 17 ? 16 : 8);
}

ScreenImage* image_record(int32_t slot) {
    if (slot < 0 || slot >= table_capacity()) return nullptr;
    return &screen_state.chunks[size_t(slot / IMAGE_TABLE_GROWTH)][slot % IMAGE_TABLE_GROWTH];
}

void screen_reset() {
    ScreenState& st = screen_state;
    st.display_page.store(nullptr, std::memory_order_release);
    for (int32_t slot = 0; slot < st.slots_issued; ++slot) {
        ScreenImage* record = image_record(slot);
        if (record->is_valid) image_free_arrays(*record);
    }
    st.chunks.clear();
    st.slots_issued = 0;
    st.free_slots.clear();
    st.free_slots.shrink_to_fit();
    st.free_slots.reserve(IMAGE_TABLE_GROWTH);
    st.free_capacity = IMAGE_TABLE_GROWTH;
    grow_table();
    st.page_table.clear();
    st.display_page_slot = 0;
    st.write_page = PageRef{};
    st.read_page = PageRef{};
    st.active_page_number = 0;
    st.size_request = SizeRequest{};
    st.auto_screen = 0;
    st.text_columns = 0;
    st.text_rows = 0;
    st.screen_image_slot = 0;
}

void screen_startup() {
    ScreenState& st = screen_state;
    screen_reset();
    for (int i = 0; i < 256; ++i) st.default_palette_256[i] = DEFAULT_PALETTE_256[i] | OPAQUE;
    for (int i = 0; i < 64; ++i) st.ega_palette_64[i] = EGA_PALETTE_64[i] | OPAQUE;
    for (uint32_t reserved = 0; reserved < FIRST_IMAGE_SLOT; ++reserved)
        image_record(image_slot_take())->is_valid = 0;
    screen_mode(0, 0, 0, SCREEN_MODE_GIVEN);
    st.auto_screen = 1;
}

int32_t image_slot_take() {
    ScreenState& st = screen_state;
    int32_t slot;
    if (!st.free_slots.empty()) {
        slot = st.free_slots.back();
        st.free_slots.pop_back();
    } else {
        if (st.slots_issued == table_capacity()) {
            grow_table();
            if (st.slots_issued == table_capacity()) return 0; // only if the critical exit returns
        }
        slot = st.slots_issued++;
    }
    image_record(slot)->is_valid = 1;
    return slot;
}

int32_t image_slot_release(int32_t slot) {
    ScreenState& st = screen_state;
    if (slot < 0 || slot >= st.slots_issued) return 0;
    ScreenImage& record = *image_record(slot);
    if (!record.is_valid) return 0;
    if (int32_t(st.free_slots.size()) == st.free_capacity) {
        try {
            st.free_slots.reserve(size_t(st.free_capacity) + IMAGE_TABLE_GROWTH);
            st.free_capacity += IMAGE_TABLE_GROWTH;
        } catch (const std::bad_alloc&) {
            error_critical(ERROR_CRITICAL_IMAGE_FREE_LIST);
        }
    }
    // The memory-block facility that sets lock_id is not part of this run-time; zeroing the
    // record drops the reference.
    record = ScreenImage{};
    st.free_slots.push_back(slot);
    return 1;
}

int32_t image_new(uint8_t* data, int32_t width, int32_t height, int32_t mode) {
    const ModeDefaults* defaults = mode_defaults(mode);
    if (defaults == nullptr || width < 1 || height < 1 || width > 65535 || height > 65535) return 0;
    int32_t slot = image_slot_take();
    if (slot == 0) return 0;
    ScreenImage& image = *image_record(slot);
    image.pixels = data;
    image.width = uint16_t(width);
    image.height = uint16_t(height);
    image.mode = uint16_t(mode);
    image.is_text = mode == 0;
    image.bits_per_pixel = defaults->bits_per_pixel;
    image.bytes_per_pixel = defaults->bytes_per_pixel;
    image.colour_mask =
        defaults->bits_per_pixel > 31 ? 0xFFFFFFFFu : (1u << defaults->bits_per_pixel) - 1;
    image.font = defaults->font;
    image.foreground = defaults->foreground;
    image.background = defaults->background;
    image.draw_colour = defaults->foreground;
    image.cursor_x = 1;
    image.cursor_y = 1;
    home_view(image);
    image.cursor_visible = 0;
    if (mode == 0) {
        image.cursor_start = 4;
        image.cursor_end = 4;
    } else {
        GraphicsState& g = image.graphics;
        g.clip_left = 0;
        g.clip_top = 0;
        g.clip_right = width - 1;
        g.clip_bottom = height - 1;
        g.last_x = float(width / 2);
        g.last_y = float(height / 2);
        g.scale_x = 1.0f;
        g.scale_y = 1.0f;
    }
    reset_figure_state(image);
    image.transparent_colour = -1;
    image.print_mode = 3;
    if (mode != 32) { // true-colour surfaces carry their colours in the pixels
        auto* palette = static_cast<uint32_t*>(std::calloc(256, sizeof(uint32_t)));
        if (palette == nullptr) {
            image_slot_release(slot);
            return 0;
        }
        fill_palette(palette, defaults->palette);
        image.palette = palette;
        image.flags |= IMAGE_OWNS_PALETTE;
    }
    return slot;
}

int32_t image_create(int32_t width, int32_t height, int32_t mode) {
    int32_t slot = image_new(nullptr, width, height, mode);
    if (slot == 0) return 0;
    ScreenImage& image = *image_record(slot);
    uint64_t bytes = image_array_bytes(image);
    auto* array = static_cast<uint8_t*>(image_allocate_bytes(bytes));
    if (array == nullptr) {
        image_free_arrays(image);
        image_slot_release(slot);
        return 0;
    }
    if (image.is_text) {
        for (uint64_t i = 0; i < bytes; i += 2) {
            array[i] = BLANK_CHARACTER;
            array[i + 1] = BLANK_ATTRIBUTE;
        }
    } else {
        std::memset(array, 0, size_t(bytes));
    }
    image.pixels = array;
    image.flags |= IMAGE_OWNS_PIXELS;
    return slot;
}

int32_t image_set_font(int32_t font, ScreenImage* image) {
    image->font = font;
    image->cursor_x = 1;
    image->cursor_y = 1;
    home_view(*image);
    return 1;
}

void screen_mode(int32_t mode, int32_t active_page, int32_t display_page, int32_t flags) {
    if (error_pending()) return;
    ScreenState& st = screen_state;
    bool mode_given = flags & SCREEN_MODE_GIVEN;
    bool active_given = flags & SCREEN_ACTIVE_PAGE_GIVEN;
    bool display_given = flags & SCREEN_DISPLAY_PAGE_GIVEN;

    ScreenImage* image_screen = nullptr;
    const ModeDefaults* defaults = nullptr;
    if (mode_given && mode < 0) {
        int32_t ignored = 0;
        image_screen = image_resolve_handle(mode, &ignored);
        if (image_screen == nullptr) return;
        // Another page of the current screen would be freed with the screen it is to replace.
        if ((image_screen->flags & IMAGE_IS_PAGE) && -mode != st.page_table[0]) {
            error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
            return;
        }
    } else if (mode_given) {
        defaults = mode == 0 || (mode >= 1 && mode <= 13 && (mode < 3 || mode > 6))
                       ? mode_defaults(mode)
                       : nullptr;
        if (defaults == nullptr) {
            error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
            return;
        }
    }
    if ((active_given && active_page < 0) || (display_given && display_page < 0)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }

    bool have_screen = !st.page_table.empty();
    int32_t current_mode = have_screen ? int32_t(image_record(st.page_table[0])->mode) : -1;
    bool size_requested =
        st.size_request.columns != -1 || st.size_request.rows != -1 || st.size_request.font != -1;
    bool new_screen;
    if (image_screen != nullptr) {
        new_screen = !have_screen || st.page_table[0] != -mode || size_requested;
    } else {
        if (defaults == nullptr) defaults = mode_defaults(have_screen ? current_mode : 0);
        new_screen = !have_screen || (mode_given && mode != current_mode) || size_requested;
    }

    // Page numbers are checked against the screen they will select from, before anything changes.
    int32_t page_count = !new_screen               ? int32_t(st.page_table.size())
                         : image_screen != nullptr ? 1
                                                   : defaults->screen_pages;
    if ((active_given && active_page >= page_count) ||
        (display_given && display_page >= page_count)) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    if (!(mode_given && mode == 0 && flags == SCREEN_MODE_GIVEN)) st.auto_screen = 0;

    bool locked = new_screen && display_auto.load(std::memory_order_relaxed) != 0 &&
                  display_thread_running.load(std::memory_order_relaxed) != 0;
    if (locked) screen_lock_acquire();

    if (new_screen) {
        st.display_page.store(nullptr, std::memory_order_release);
        st.display_page_slot = 0;
        free_screen_pages();
        bool built;
        if (image_screen != nullptr) {
            st.page_table.assign(1, -mode);
            st.screen_image_slot = -mode;
            image_screen->flags |= IMAGE_IS_PAGE;
            st.size_request = SizeRequest{};
            built = true;
        } else if (defaults->mode == 0) {
            built = build_text_screen();
        } else {
            built = build_graphics_screen(*defaults);
        }
        if (!built) {
            // Without pages nothing could be shown or printed; the run-time cannot go on.
            error_critical(ERROR_CRITICAL_IMAGE_TABLE);
        }
        st.write_page = st.read_page = image_page_ref(st.page_table[0]);
        show_page(st.page_table[0]);
        reset_figure_state(*st.write_page.image);
        st.active_page_number = 0;
    }

    if (active_given && active_page != st.active_page_number) {
        ScreenImage* previous = st.write_page.image;
        st.write_page = st.read_page = image_page_ref(st.page_table[size_t(active_page)]);
        st.active_page_number = active_page;
        ScreenImage& page = *st.write_page.image;
        reset_page_defaults(page);
        if (!page.is_text && previous != nullptr) page.graphics = previous->graphics;
    }
    if (display_given && st.page_table[size_t(display_page)] != st.display_page_slot) {
        show_page(st.page_table[size_t(display_page)]);
        reset_page_defaults(*st.write_page.image);
    }

    if (locked) screen_lock_release();
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
        // Only rows below the screen can enlarge it, and only the automatic screen, once.
        if (row > rows && st.auto_screen && row <= 50) {
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
