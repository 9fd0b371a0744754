#pragma once
// Screen images: text pages and graphics surfaces, the table that holds them, the current screen
// (its pages, the write, read and display page), the default palettes, and the statements that
// select pages, set the text view and place the cursor.
//
// Threads. The program thread is the only writer of images. The display thread (composer) reads
// the display page's record, cells and palette without a lock while the program thread prints:
// every field it reads is a Relaxed<> (a relaxed atomic that copies like a plain value), cells
// and palette entries are read and written through image_cell_load / image_cell_store and
// image_palette_load / image_palette_store (relaxed std::atomic_ref), and screen_display_page()
// loads the page pointer with acquire, pairing with the release store that publishes a page whose
// record was filled in before. Records never move (the table grows by whole chunks), so a record
// pointer stays valid for the life of the table; pages are only freed by screen_mode, and only
// while it holds the screen lock when the display thread runs.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/base/relaxed.h"

// One cell of a text page as the video hardware lays it out: the code page 437 character, then
//   attribute bits 0-3 foreground index, bits 4-6 background index, bit 7 blink.
struct TextCell {
    uint8_t character;
    uint8_t attribute;
};
static_assert(sizeof(TextCell) == 2);
static_assert(80 * 25 * sizeof(TextCell) == 4000);

constexpr uint8_t BLANK_CHARACTER = 0x20;
constexpr uint8_t BLANK_ATTRIBUTE = 0x07;

// ScreenImage::flags
constexpr uint32_t IMAGE_OWNS_PALETTE = 1u << 0;
constexpr uint32_t IMAGE_IS_PAGE = 1u << 1; // a page of the current screen
constexpr uint32_t IMAGE_OWNS_PIXELS = 1u << 2;

// State of the graphics statements; text pages use only the figure-drawing pair.
struct GraphicsState {
    int32_t clip_left = 0;
    int32_t clip_top = 0;
    int32_t clip_right = 0;
    int32_t clip_bottom = 0;
    float last_x = 0.0f; // last point referenced
    float last_y = 0.0f;
    int32_t window_mapping = 0; // 0: none
    float scale_x = 0.0f;
    float scale_y = 0.0f;
    float offset_x = 0.0f;
    float offset_y = 0.0f;
    double figure_angle = 0.0; // turn angle and scale of the figure-drawing statement
    double figure_scale = 0.0;
};

// A text page or a graphics surface. A zeroed record (ScreenImage{}) is a free slot.
// Relaxed fields: written by the program thread, read by the composer on the display thread.
// Plain fields: program thread only.
struct ScreenImage {
    void* lock_ref = nullptr; // memory-block lock referring to this image
    uint64_t lock_id = 0;
    Relaxed<uint8_t> is_valid;
    Relaxed<uint8_t> is_text;
    uint8_t is_console = 0;
    Relaxed<uint16_t> width;  // columns, or pixels
    Relaxed<uint16_t> height; // rows, or pixels
    Relaxed<uint8_t> bytes_per_pixel;
    Relaxed<uint8_t> bits_per_pixel;
    uint32_t colour_mask = 0;
    Relaxed<uint16_t> mode; // 0 text, 1, 2, 7-13, 32, 256
    // Palette index, or 0xAARRGGBB on 32-bit surfaces; for text 16-31 blink foreground 0-15.
    Relaxed<uint32_t> foreground;
    Relaxed<uint32_t> background;
    uint32_t draw_colour = 0;
    Relaxed<int32_t> font;
    int16_t view_top = 0; // text view rows, 1-based
    int16_t view_bottom = 0;
    Relaxed<int16_t> cursor_x; // 1-based
    Relaxed<int16_t> cursor_y;
    Relaxed<uint8_t> cursor_visible;
    Relaxed<uint8_t> cursor_start; // scan lines of the cursor shape
    Relaxed<uint8_t> cursor_end;
    // Cells row after row (character, attribute) or pixels. Pages 0-7 of a text screen point
    // into the emulated video memory at TEXT_VIDEO_BASE.
    Relaxed<uint8_t*> pixels;
    uint32_t flags = 0; // IMAGE_OWNS_PALETTE | IMAGE_IS_PAGE | IMAGE_OWNS_PIXELS
    // 256 colours 0xAARRGGBB; null on 32-bit surfaces. Entries through image_palette_load/store.
    Relaxed<uint32_t*> palette;
    int32_t transparent_colour = 0; // -1 none
    uint8_t alpha_disabled = 0;
    // 0; 1 after a print ended in the last column and left the cursor there; 2 when the cursor
    // statement ran without a position while it was 1 (the cursor is then drawn at the start of
    // the next row).
    Relaxed<uint8_t> pending_wrap;
    uint8_t print_mode = 0;
    GraphicsState graphics;
};

// --- Cross-thread access to cells and palette entries ------------------------------------------

// Byte `offset` of the image's cell or pixel array. For pages in the emulated video memory this
// is the same relaxed access as conv_load8 / conv_store8 on that address.
inline uint8_t image_cell_load(const ScreenImage& image, uint32_t offset) {
    return std::atomic_ref<uint8_t>(image.pixels.load()[offset]).load(std::memory_order_relaxed);
}
inline void image_cell_store(ScreenImage& image, uint32_t offset, uint8_t value) {
    std::atomic_ref<uint8_t>(image.pixels.load()[offset]).store(value, std::memory_order_relaxed);
}
// The cell at 1-based (column, row) of a text image.
inline TextCell image_text_cell(const ScreenImage& image, int32_t column, int32_t row) {
    uint32_t offset = (uint32_t(row - 1) * image.width + uint32_t(column - 1)) * 2;
    return TextCell{image_cell_load(image, offset), image_cell_load(image, offset + 1)};
}
inline uint32_t image_palette_load(const ScreenImage& image, int32_t index) {
    return std::atomic_ref<uint32_t>(image.palette.load()[index]).load(std::memory_order_relaxed);
}
inline void image_palette_store(ScreenImage& image, int32_t index, uint32_t colour) {
    std::atomic_ref<uint32_t>(image.palette.load()[index]).store(colour, std::memory_order_relaxed);
}

// Size in bytes of the image's cell or pixel array.
inline uint64_t image_array_bytes(const ScreenImage& image) {
    return uint64_t(image.width) * image.height * image.bytes_per_pixel;
}

// Cell height in pixels of a built-in font code (8, 14, 16 and the double-width 9, 15, 17);
// 16 for anything else.
int32_t image_font_height(int32_t font);
// Text rows of an image: its height for text, height / font height for graphics.
int32_t image_rows(const ScreenImage& image);
// Text columns of an image: its width for text, width / font cell width for graphics.
int32_t image_columns(const ScreenImage& image);

// --- Palettes -----------------------------------------------------------------------------------

// The run-time's default colours as constant data, 0x00RRGGBB; start-up copies them into the
// working tables of ScreenState with alpha 255.
extern const std::array<uint32_t, 256> DEFAULT_PALETTE_256;
extern const std::array<uint32_t, 64> EGA_PALETTE_64;

// --- The image table and the current screen ----------------------------------------------------

#if UNVEILO_STRESS
constexpr int32_t IMAGE_TABLE_GROWTH = 4; // slots per chunk and free-stack growth step
#else
constexpr int32_t IMAGE_TABLE_GROWTH = 4096;
#endif
constexpr int32_t TEXT_SCREEN_PAGES = 8;

struct PageRef {
    int32_t slot = 0;
    ScreenImage* image = nullptr;
};

struct SizeRequest {
    int32_t columns = -1; // -1: not requested
    int32_t rows = -1;
    int32_t font = -1;
};

// Everything below is program-thread state except display_page.
struct ScreenState {
    // The image table: chunks of IMAGE_TABLE_GROWTH records that never move once allocated, so
    // growing it cannot pull a record away from the composer.
    std::vector<std::unique_ptr<ScreenImage[]>> chunks;
    int32_t slots_issued = 0;        // slots below this have been handed out at least once
    std::vector<int32_t> free_slots; // stack of released slots
    int32_t free_capacity = 0;       // room of the stack; grows by IMAGE_TABLE_GROWTH

    std::vector<int32_t> page_table; // page number -> slot, 0 = no page
    // The page the composer shows. Stored with release by the program thread after the page's
    // record is complete; loaded with acquire by the composer (screen_display_page()).
    std::atomic<ScreenImage*> display_page{nullptr};
    int32_t display_page_slot = 0;
    PageRef write_page; // printing, clearing and the cursor statements
    PageRef read_page;  // reading statements; set together with write_page
    int32_t active_page_number = 0;
    SizeRequest size_request;
    // 1 while the screen is still the automatic start-up one (cursor_set may enlarge it once).
    int32_t auto_screen = 0;
    // The last text screen built, for mode 0 without a size request; 0 before the first.
    int32_t text_columns = 0;
    int32_t text_rows = 0;
    // Slot of a program image that serves as the screen (screen_mode with a negative mode); such
    // a screen's page is not freed when the screen is replaced. 0 when the pages are the screen's.
    int32_t screen_image_slot = 0;
    // Working copies of the default palettes, 0xAARRGGBB with alpha 255.
    uint32_t default_palette_256[256] = {};
    uint32_t ega_palette_64[64] = {};
};

extern ScreenState screen_state;

// The page the composer should show, or null before the first screen.
inline ScreenImage* screen_display_page() {
    return screen_state.display_page.load(std::memory_order_acquire);
}

// Empties the image table and the screen state and frees every image's owned arrays. For
// start-up and test fixtures only: nothing may be reading the screen meanwhile.
void screen_reset();
// Start-up: screen_reset, the working palettes, slots 0 and 1 reserved, the default 80 x 25
// text screen, then auto_screen. Needs the emulated memory (conv_memory_init).
void screen_startup();

// The record of a slot, or null when the slot is out of range.
ScreenImage* image_record(int32_t slot);

int32_t image_slot_take();
// 1 if released, 0 if the slot was not valid or out of range.
int32_t image_slot_release(int32_t slot);
// Slot of a new image over `data` (not owned), or 0 when width or height is outside 1..65535,
// the mode is unknown or the palette cannot be allocated.
int32_t image_new(uint8_t* data, int32_t width, int32_t height, int32_t mode);
// As image_new with a fresh array of its own (text cells blank 0x20 0x07, else zeroed).
int32_t image_create(int32_t width, int32_t height, int32_t mode);
// Sets the font code and homes the cursor and the view. Always 1.
int32_t image_set_font(int32_t font, ScreenImage* image);

// screen_mode flags
constexpr int32_t SCREEN_MODE_GIVEN = 1 << 0;
constexpr int32_t SCREEN_ACTIVE_PAGE_GIVEN = 1 << 2;
constexpr int32_t SCREEN_DISPLAY_PAGE_GIVEN = 1 << 3;
void screen_mode(int32_t mode, int32_t active_page, int32_t display_page, int32_t flags);

void view_print(int32_t top, int32_t bottom, int32_t given);

// cursor_set flags
constexpr int32_t CURSOR_ROW_GIVEN = 1 << 0;
constexpr int32_t CURSOR_COLUMN_GIVEN = 1 << 1;
constexpr int32_t CURSOR_VISIBLE_GIVEN = 1 << 2;
constexpr int32_t CURSOR_START_GIVEN = 1 << 3;
constexpr int32_t CURSOR_END_GIVEN = 1 << 4;
void cursor_set(int32_t row, int32_t column, int32_t visible, int32_t start, int32_t end,
                int32_t flags);

// Image statements over handles: a handle >= 0 is a page number of the current screen, -n is
// image slot n.
int32_t image_new_statement(int32_t width, int32_t height, int32_t mode, int32_t mode_given);
int32_t image_copy(int32_t handle, int32_t given);
void page_copy(int32_t from, int32_t to);
void image_free(int32_t handle, int32_t given);
void set_write_page(int32_t handle);
void set_read_page(int32_t handle);
int32_t get_write_page();
int32_t get_read_page();
int32_t get_display_page();
