// The image table: records in chunks that never move (a record pointer stays valid for the life
// of the table), slots taken from a free stack first, and the creation of text pages and
// graphics surfaces in them.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "runtime/base/error.h"
#include "runtime/screen/detail.h"
#include "runtime/screen/image.h"

ScreenState screen_state;

// Adds one chunk of zeroed records. Chunks never move, so record pointers stay valid.
static void grow_table() {
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

static int32_t table_capacity() {
    return int32_t(screen_state.chunks.size()) * IMAGE_TABLE_GROWTH;
}

void reset_figure_state(ScreenImage& image) {
    image.graphics.figure_angle = 0.0;
    image.graphics.figure_scale = 1.0;
}

void home_view(ScreenImage& image) {
    image.view_top = 1;
    image.view_bottom = int16_t(std::max(1, image_rows(image) - 1));
}

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

int32_t image_slot_take() {
    ScreenState& st = screen_state;
    int32_t slot;
    if (!st.free_slots.empty()) {
        slot = st.free_slots.back();
        st.free_slots.pop_back();
    } else {
        if (st.slots_issued == table_capacity()) {
            grow_table(); // grows by a chunk or ends the process
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
