#pragma once
// The screen family's internals shared by its files. Not for callers.
#include <cstdint>

#include "runtime/screen/image.h"

constexpr int32_t FIRST_IMAGE_SLOT = 2; // slots 0 and 1 are reserved at start-up

// True for the modes an image can be created in.
bool image_mode_known(int32_t mode);
// Frees the arrays an image owns; the record keeps its pointers until it is zeroed.
void image_free_arrays(ScreenImage& image);
// malloc for a size computed in 64 bits; null for 0 or for what the address space cannot hold.
void* image_allocate_bytes(uint64_t bytes);
PageRef image_page_ref(int32_t slot);
// The image a handle names, or null after raising the error: pages by number (error 5 when the
// screen has no such page), images by -slot (error 258 when the slot holds none).
ScreenImage* image_resolve_handle(int32_t handle, int32_t* slot_out);

// --- Modes and palettes (image_modes.cpp, image_palette.cpp) -----------------------------------

// Opaque alpha of a working palette entry.
constexpr uint32_t PALETTE_OPAQUE = 0xFF000000u;

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

// The defaults of a mode, or null for a mode no image can have.
const ModeDefaults* mode_defaults(int32_t mode);
// Fills an image's palette from the working tables of ScreenState.
void fill_palette(uint32_t* palette, PaletteFill fill);

// --- Image records (image_table.cpp) ----------------------------------------------------------

// Figure-drawing state back to no turn and scale 1.
void reset_figure_state(ScreenImage& image);
// The text view back to the whole image but its bottom row.
void home_view(ScreenImage& image);
