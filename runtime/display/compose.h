#pragma once
// The frame composer: turns the visible page (text or graphics) into 32-bit pixels and hands the
// frames to the presenter through a lock-free ring of 64 slots.
//
// Ring discipline (no mutex anywhere):
//   - the composer fills only the slot after ring_newest, then publishes it with one release
//     store of ring_newest;
//   - the presenter loads ring_newest with acquire, reads only that slot, and sets `consumed`
//     (release) on older slots once it no longer looks at them;
//   - the composer frees or recycles a buffer only after loading its `consumed` flag with
//     acquire, and never the newest slot.
// Composition runs on the display thread while display_auto is non-zero and on the program
// thread (display_now, display_wait_frame) while it is 0; the display_auto handshake makes the
// two exclusive, so ComposerState has one user at a time.
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "runtime/display/display.h"

constexpr int32_t COMPOSE_RING_SLOTS = 64;
// Exit status when the slot about to be filled still owns a buffer: the ring bookkeeping is
// broken and a frame would be lost or a buffer written under the presenter.
constexpr int DISPLAY_RING_OVERFLOW_EXIT = 9090;

struct DisplayFrame {
    // width * height pixels 0xAARRGGBB, top row first (in memory B, G, R, A: GL_BGRA). Owned by
    // the slot. The composer writes the pointer, the size and the pixels before publishing the
    // slot; the presenter reads them only while the slot is the newest it loaded.
    uint32_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t byte_size = 0;
    // Set by the presenter (release) when it will not read the slot again; loaded by the
    // composer (acquire) before it frees or recycles the buffer, cleared by it before publishing.
    mutable std::atomic<uint8_t> consumed{0};
    // Set by the presenter once it has drawn the frame; cleared by the composer before publishing.
    mutable std::atomic<uint8_t> presented{0};
};

struct ComposeRing {
    // Slots 1 to 64; slot 0 is never used, so that index 0 can mean "no frame yet".
    std::array<DisplayFrame, COMPOSE_RING_SLOTS + 1> slots;
    // Oldest slot that still owns a buffer, 0 until the first frame. Written by the composer;
    // read by the presenter for the range it marks consumed (acquire pairs with the release
    // store of the first frame, so a non-zero value implies a published ring_newest).
    std::atomic<int32_t> ring_oldest{0};
    // Slot of the most recent complete frame. Written by the composer with release after the
    // frame; loaded by the presenter with acquire before it reads the slot.
    std::atomic<int32_t> ring_newest{0};
};

extern ComposeRing compose_ring;

// --- Composition (display thread, or program thread while display_auto is 0) -----------------

// One composition run: a new frame in the ring when something visible changed, none otherwise.
// Also grants a pending screen lock and sets compose_done.
void display_compose();
// One composition tick of the display thread: display_compose() if display_auto is non-zero,
// then compose_tick_count + 1 (also while display_auto is 0, so that blinking keeps its pace).
void display_tick();

// --- Program thread ----------------------------------------------------------------------------

// The explicit display statement: shows the page now and leaves automatic display off.
void display_now();
// Turns automatic display back on.
void display_auto_on();
// Returns once a composition run has finished after the call (or has run on this thread).
void display_wait_frame();

// --- Presenter (window thread) -----------------------------------------------------------------

// The newest frame, or null before the first composition. Marks every older slot consumed. The
// frame stays readable until the next compose_ring_consume_older() that sees a newer one.
const DisplayFrame* compose_ring_latest();
// Records that `frame` (from compose_ring_latest) has been drawn; frame->presented then tells a
// later call that the same frame needs no drawing.
void compose_ring_mark_presented(const DisplayFrame* frame);
// After drawing: marks consumed every slot older than the current newest, so that the composer
// may recycle the frame just drawn as soon as a newer one exists.
void compose_ring_consume_older();

// --- Start-up and tests ------------------------------------------------------------------------

// What the pixels of one frame buffer show. Kept per ring slot and moved with the buffer when it
// is recycled into another slot, so that a recycled buffer, which still holds an older frame, is
// brought up to date by drawing only the cells that differ from what it shows. Every input of
// a text cell's pixels is here: the glyph source and cell size (font), the page geometry, the
// cell bytes, the palette, the blink phase and the cursor's cell and rows.
struct FrameShows {
    // True when the buffer holds a text frame described by the fields below; false for a new
    // buffer, a freed one and a graphics frame.
    bool text = false;
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t font = 0;
    std::vector<uint8_t> cells; // character, attribute per cell
    std::array<uint32_t, 256> palette{};
    int32_t blink_phase = 0;
    // The cursor as drawn: its 0-based cell and pixel rows, or cursor_drawn 0 for none.
    int32_t cursor_drawn = 0;
    int32_t cursor_column = -1;
    int32_t cursor_row = -1;
    int32_t cursor_first = 0;
    int32_t cursor_last = -1;
};

// What the composer remembers between runs (see display_compose). Used by one composing thread
// at a time. Whether the newest frame still shows the visible page's structure is
// compose_previous_valid (base/control.h).
struct ComposerState {
    // What each slot's buffer shows (index as compose_ring.slots).
    std::array<FrameShows, COMPOSE_RING_SLOTS + 1> shows;
    // Scratch snapshot of the page's cells for the run in progress.
    std::vector<uint8_t> current;
    // Graphics pages: the palette colours as last composed.
    std::array<uint32_t, 256> palette{};
    // Cells drawn by the last run that composed (for tests and the benchmark).
    int32_t cells_drawn = 0;
    // Graphics pages: the pixel array as last composed (one or four bytes a pixel), the scratch
    // snapshot of the run in progress, and the bits per pixel of the page the newest frame shows
    // (0 for a text page or none).
    std::vector<uint8_t> pixel_copy;
    std::vector<uint8_t> pixel_current;
    int32_t previous_bits = 0;
    // The millisecond clock whose bit 9 is the mode-10 blink phase; null means
    // platform_clock_ms. Tests set their own.
    int64_t (*clock_ms)() = nullptr;
};

extern ComposerState composer_state;

// Frees every frame buffer, empties the ring, forgets the composer's copies and puts the control
// words of display.h back to their start values. Nothing may be composing or presenting.
void display_reset();
