// The image statements over handles: a handle >= 0 is a page number of the current screen, -n
// is image slot n. Program thread only.
#include <cstdlib>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/screen/detail.h"
#include "runtime/screen/image.h"

namespace {

// Byte copy with relaxed accesses: either image may be the page the composer is reading.
void copy_cells(ScreenImage& to, const ScreenImage& from, uint64_t bytes) {
    for (uint64_t i = 0; i < bytes; ++i)
        image_cell_store(to, uint32_t(i), image_cell_load(from, uint32_t(i)));
}

} // namespace

int32_t image_new_statement(int32_t width, int32_t height, int32_t mode, int32_t mode_given) {
    if (error_pending()) return 0;
    if (width <= 0 || height <= 0 || (mode_given && !image_mode_known(mode))) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return 0;
    }
    const ScreenImage& source = *screen_state.write_page.image;
    int32_t slot = image_create(width, height, mode_given ? mode : int32_t(source.mode));
    if (slot == 0) return -1;
    ScreenImage& image = *image_record(slot);
    if (!mode_given) {
        if (image.palette.load() != nullptr && source.palette.load() != nullptr)
            for (int32_t i = 0; i < 256; ++i)
                image.palette.load()[i] = image_palette_load(source, i);
        image_set_font(source.font, &image);
        image.foreground = source.foreground.load();
        image.background = source.background.load();
        image.draw_colour = source.foreground;
        image.transparent_colour = source.transparent_colour;
        image.alpha_disabled = source.alpha_disabled;
        image.print_mode = source.print_mode;
    }
    return -slot;
}

int32_t image_copy(int32_t handle, int32_t given) {
    if (error_pending()) return 0;
    ScreenImage* source = screen_state.write_page.image;
    if (given) {
        int32_t source_slot = 0;
        source = image_resolve_handle(handle, &source_slot);
        if (source == nullptr) return 0;
    }
    int32_t slot = image_slot_take();
    if (slot == 0) return -1;
    ScreenImage& copy = *image_record(slot);
    copy = *source;
    copy.lock_ref = nullptr;
    copy.lock_id = 0;
    copy.flags &= ~(IMAGE_IS_PAGE | IMAGE_OWNS_PIXELS | IMAGE_OWNS_PALETTE);
    copy.pixels = nullptr;
    copy.palette = nullptr;
    if (source->pixels.load() != nullptr) {
        uint64_t bytes = image_array_bytes(*source);
        auto* array = static_cast<uint8_t*>(image_allocate_bytes(bytes));
        if (array == nullptr) {
            image_slot_release(slot);
            return -1;
        }
        copy.pixels = array;
        copy.flags |= IMAGE_OWNS_PIXELS;
        copy_cells(copy, *source, bytes);
    }
    if (source->palette.load() != nullptr) {
        auto* palette = static_cast<uint32_t*>(std::malloc(256 * sizeof(uint32_t)));
        if (palette == nullptr) {
            image_free_arrays(copy);
            image_slot_release(slot);
            return -1;
        }
        for (int32_t i = 0; i < 256; ++i) palette[i] = image_palette_load(*source, i);
        copy.palette = palette;
        copy.flags |= IMAGE_OWNS_PALETTE;
    }
    return -slot;
}

void page_copy(int32_t from, int32_t to) {
    if (error_pending()) return;
    int32_t from_slot = 0, to_slot = 0;
    ScreenImage* source = image_resolve_handle(from, &from_slot);
    if (source == nullptr) return;
    ScreenImage* target = image_resolve_handle(to, &to_slot);
    if (target == nullptr || target == source) return;
    bool same_shape = source->bytes_per_pixel == target->bytes_per_pixel &&
                      source->width == target->width && source->height == target->height;
    if (!same_shape ||
        (source->bytes_per_pixel == 1 && target->colour_mask < source->colour_mask) ||
        source->pixels.load() == nullptr || target->pixels.load() == nullptr) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    copy_cells(*target, *source, image_array_bytes(*source));
}

void image_free(int32_t handle, int32_t given) {
    if (error_pending()) return;
    ScreenState& st = screen_state;
    if (given && handle >= 0) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    int32_t slot = st.write_page.slot;
    ScreenImage* image = st.write_page.image;
    if (given) {
        image = image_resolve_handle(handle, &slot);
        if (image == nullptr) return;
    }
    if (image->flags & IMAGE_IS_PAGE) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return;
    }
    if (st.write_page.slot == slot) st.write_page = image_page_ref(st.display_page_slot);
    if (st.read_page.slot == slot) st.read_page = image_page_ref(st.display_page_slot);
    image_free_arrays(*image);
    image_slot_release(slot);
}

void set_write_page(int32_t handle) {
    if (error_pending()) return;
    int32_t slot = 0;
    if (image_resolve_handle(handle, &slot) != nullptr)
        screen_state.write_page = image_page_ref(slot);
}

void set_read_page(int32_t handle) {
    if (error_pending()) return;
    int32_t slot = 0;
    if (image_resolve_handle(handle, &slot) != nullptr)
        screen_state.read_page = image_page_ref(slot);
}

int32_t get_write_page() {
    return -screen_state.write_page.slot;
}
int32_t get_read_page() {
    return -screen_state.read_page.slot;
}
int32_t get_display_page() {
    return -screen_state.display_page_slot;
}
