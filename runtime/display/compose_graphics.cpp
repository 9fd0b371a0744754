// Graphics pages in the frame composer: pages of one byte a pixel (1, 2, 4 or 8 bits, looked up
// in the page's palette) and 32-bit pages (copied as they are). Both are compared whole with the
// copy of the last composed page, so an unchanged page costs one snapshot and no frame.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "runtime/display/detail.h"
#include "runtime/platform/platform.h"

namespace {

constexpr int32_t TRUE_COLOUR_BITS = 32;

bool one_byte_depth(int32_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8;
}

// The colours the pixel values 0 .. 2^bits - 1 show now. A mode-10 page takes its first four
// from the pair table in the blink phase of the clock; every other page from its palette.
void current_colours(const ScreenImage& image, int32_t colours, uint32_t* out) {
    for (int32_t i = 0; i < colours; ++i) out[i] = image_palette_load(image, i);
    if (image.mode != 10) return;
    ComposerState& state = composer_state;
    int32_t phase =
        mode10_phase(state.clock_ms != nullptr ? state.clock_ms() : platform_clock_ms());
    for (int32_t i = 0; i < 4 && i < colours; ++i) {
        uint32_t pair = image_palette_load(image, 4 + i);
        // A selector outside the table shows black rather than reading past it.
        out[i] = pair < uint32_t(MODE10_PAIRS) ? MODE10_PAIR_COLOURS[pair][phase] : MODE10_BLACK;
    }
}

// One snapshot of the page's pixel bytes: the comparison, the frame and the copy all see the same
// state even while the program thread keeps drawing.
void snapshot_bytes(const ScreenImage& image, size_t bytes, uint8_t* out) {
    for (size_t i = 0; i < bytes; ++i) out[i] = image_cell_load(image, uint32_t(i));
}

// The same for 32-bit pixels, a whole pixel per load where the array is aligned for it (it is
// whenever the run-time allocated it), byte by byte otherwise.
void snapshot_words(const ScreenImage& image, size_t pixels, uint8_t* out) {
    uint8_t* base = image.pixels.load();
    if (reinterpret_cast<uintptr_t>(base) % alignof(uint32_t) != 0) {
        snapshot_bytes(image, pixels * 4, out);
        return;
    }
    auto* words = reinterpret_cast<uint32_t*>(base);
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t pixel = std::atomic_ref<uint32_t>(words[i]).load(std::memory_order_relaxed);
        std::memcpy(out + i * 4, &pixel, 4);
    }
}

} // namespace

bool compose_graphics(const ScreenImage& image) {
    ComposerState& state = composer_state;
    int32_t width = image.width;
    int32_t height = image.height;
    int32_t bits = image.bits_per_pixel;
    int32_t bytes_per_pixel = image.bytes_per_pixel;
    bool true_colour = bits == TRUE_COLOUR_BITS && bytes_per_pixel == 4;
    if (!true_colour &&
        (bytes_per_pixel != 1 || !one_byte_depth(bits) || image.palette.load() == nullptr))
        return false;

    size_t pixels = size_t(width) * size_t(height);
    size_t bytes = pixels * size_t(bytes_per_pixel);
    // Relaxed: as in the text path, a clearing screen_lock_acquire is ordered before this run by
    // the acquire load of screen_lock at its start.
    bool valid = compose_previous_valid.load(std::memory_order_relaxed) != 0;
    int32_t newest = compose_ring.ring_newest.load(std::memory_order_relaxed);
    if (newest == 0 || compose_ring.slots[newest].pixels == nullptr ||
        compose_ring.slots[newest].width != width || compose_ring.slots[newest].height != height ||
        state.previous_bits != bits || state.pixel_copy.size() != bytes)
        valid = false;

    state.pixel_current.resize(bytes);
    uint8_t* current = state.pixel_current.data();
    if (true_colour)
        snapshot_words(image, pixels, current);
    else
        snapshot_bytes(image, bytes, current);
    bool changed = !valid || std::memcmp(current, state.pixel_copy.data(), bytes) != 0;

    int32_t colours = true_colour ? 0 : 1 << bits;
    uint32_t palette[256];
    if (!true_colour) {
        current_colours(image, colours, palette);
        changed |= std::memcmp(palette, state.palette.data(), size_t(colours) * 4) != 0;
    }
    // The 32-bit page is compared too: re-sending an identical frame every run would keep the
    // presenter drawing while nothing on the screen changes.
    if (!changed) return false;

    int32_t slot = compose_take_slot(width, height);
    uint32_t* out = compose_ring.slots[slot].pixels;
    if (true_colour) {
        std::memcpy(out, current, bytes);
    } else {
        std::memcpy(state.palette.data(), palette, size_t(colours) * 4);
        // A pixel byte with bits above the page's depth shows the colour of its low bits, as the
        // bit planes of the display adapter would; so every value shown is one the change test
        // compared.
        uint8_t mask = uint8_t(colours - 1);
        for (size_t i = 0; i < pixels; ++i) out[i] = palette[current[i] & mask];
    }
    state.pixel_copy.swap(state.pixel_current);
    state.previous_bits = bits;
    // The buffer no longer shows a text page: a text run that gets it draws every cell.
    state.shows[size_t(slot)].text = false;
    compose_publish(slot);
    return true;
}
