#include "runtime/display/compose.h"

#include <cstring>
#include <utility>

#include "runtime/display/detail.h"
#include "runtime/display/font.h"
#include "runtime/display/latency.h"
#include "runtime/platform/platform.h"
#include "runtime/screen/image.h"

ComposeRing compose_ring;
ComposerState composer_state;

namespace {

// Consumed frames are freed from the oldest on, but the four newest always stay: a margin for a
// presenter that is slow to move on from the frame it loaded.
constexpr int32_t FRAMES_KEPT = 4;

int32_t ring_next(int32_t slot) {
    return slot == COMPOSE_RING_SLOTS ? 1 : slot + 1;
}
int32_t ring_back(int32_t slot, int32_t steps) {
    return (slot - 1 - steps % COMPOSE_RING_SLOTS + COMPOSE_RING_SLOTS) % COMPOSE_RING_SLOTS + 1;
}

bool among_newest(int32_t slot, int32_t newest) {
    for (int32_t i = 0; i < FRAMES_KEPT; ++i)
        if (slot == ring_back(newest, i)) return true;
    return false;
}

// The program thread asked for the screen lock: grant it and give it the processor, so that a
// page replacement is not held up by a whole composition tick.
void grant_screen_lock() {
    int32_t requested = 1;
    // Release: the grantee may change the pages once it sees 2, after every read of this run.
    if (screen_lock.compare_exchange_strong(requested, 2, std::memory_order_acq_rel))
        platform_sleep_ms(0);
}

// The end of every composition run, whether it composed or not: a pending screen lock is
// granted, a display_now request completed and compose_done set. `auto_at_start` is display_auto
// as loaded when the run began.
void finish_run(int32_t auto_at_start) {
    grant_screen_lock();
    // Only a run that began after display_now asked for one completes the request: a run
    // already under way when it was made may have read the page before the caller's last
    // change.
    if (auto_at_start == -1) {
        int32_t once = -1;
        display_auto.compare_exchange_strong(once, 0, std::memory_order_acq_rel);
    }
    compose_done.store(1, std::memory_order_release);
}

// Frees the buffers of consumed slots from the oldest on, keeping the newest few.
void free_consumed(int32_t newest) {
    int32_t oldest = compose_ring.ring_oldest.load(std::memory_order_relaxed);
    if (oldest == 0) return;
    while (!among_newest(oldest, newest) &&
           compose_ring.slots[oldest].consumed.load(std::memory_order_acquire)) {
        DisplayFrame& frame = compose_ring.slots[oldest];
        delete[] frame.pixels;
        frame.pixels = nullptr;
        composer_state.shows[size_t(oldest)].text = false;
        oldest = ring_next(oldest);
        // Relaxed: the presenter only uses it to bound the slots it marks consumed.
        compose_ring.ring_oldest.store(oldest, std::memory_order_relaxed);
    }
}

} // namespace

// A slot that still owns a buffer after ring_newest means the ring bookkeeping is broken: the
// process ends rather than lose a frame or write under the presenter.
int32_t compose_take_slot(int32_t width, int32_t height) {
    int32_t newest = compose_ring.ring_newest.load(std::memory_order_relaxed);
    int32_t next = ring_next(newest);
    DisplayFrame& frame = compose_ring.slots[next];
    if (frame.pixels != nullptr) platform_exit(DISPLAY_RING_OVERFLOW_EXIT);
    int32_t byte_size = width * height * 4;
    frame.width = width;
    frame.height = height;
    frame.byte_size = byte_size;
    frame.consumed.store(0, std::memory_order_relaxed);
    frame.presented.store(0, std::memory_order_relaxed);

    int32_t oldest = compose_ring.ring_oldest.load(std::memory_order_relaxed);
    if (oldest != 0 && oldest != newest) {
        DisplayFrame& old = compose_ring.slots[oldest];
        if (old.consumed.load(std::memory_order_acquire) && old.byte_size == byte_size) {
            frame.pixels = old.pixels;
            old.pixels = nullptr;
            // What the buffer shows goes with it.
            std::swap(composer_state.shows[size_t(next)], composer_state.shows[size_t(oldest)]);
            composer_state.shows[size_t(oldest)].text = false;
            compose_ring.ring_oldest.store(ring_next(oldest), std::memory_order_relaxed);
            return next;
        }
    }
    frame.pixels = new uint32_t[size_t(width) * size_t(height)];
    composer_state.shows[size_t(next)].text = false;
    return next;
}

void compose_publish(int32_t slot) {
    // The copies now match the frame about to be published.
    compose_previous_valid.store(1, std::memory_order_relaxed);
    compose_ring.ring_newest.store(slot, std::memory_order_release);
    latency_frame_published(slot);
    if (compose_ring.ring_oldest.load(std::memory_order_relaxed) == 0)
        compose_ring.ring_oldest.store(slot, std::memory_order_release);
}

void display_compose() {
    // Acquire: pairs with display_now / display_auto_on, which hand the composer state over.
    int32_t auto_at_start = display_auto.load(std::memory_order_acquire);
    latency_compose_begin();
    grant_screen_lock();
    if (window_hidden.load(std::memory_order_relaxed)) {
        // Nothing is shown, but a display_now waiting for this run must not wait for ever.
        if (auto_at_start == -1) {
            int32_t once = -1;
            display_auto.compare_exchange_strong(once, 0, std::memory_order_acq_rel);
        }
        compose_done.store(1, std::memory_order_release);
        return;
    }
    // Acquire: a page replaced under the lock is complete once the lock reads 0 again.
    ScreenImage* image =
        screen_lock.load(std::memory_order_acquire) == 0 ? screen_display_page() : nullptr;
    if (image == nullptr || image->pixels.load() == nullptr ||
        (image->is_text && image->palette.load() == nullptr)) {
        finish_run(auto_at_start);
        return;
    }
    TextPage page{image, image->width, image->height, image->font, 0, 0};
    int64_t frame_width = image->width;
    int64_t frame_height = image->height;
    if (image->is_text) {
        page.cell_width = font_cell_width(page.font);
        page.cell_height = font_cell_height(page.font);
        frame_width *= page.cell_width;
        frame_height *= page.cell_height;
    }
    // A loaded font (code 32 and up) has no built-in glyphs; an empty or absurd page has no frame.
    if ((image->is_text && page.cell_width == 0) || frame_width == 0 || frame_height == 0 ||
        frame_width * frame_height > INT32_MAX / 4) {
        finish_run(auto_at_start);
        return;
    }

    int32_t newest = compose_ring.ring_newest.load(std::memory_order_relaxed);
    free_consumed(newest);
    // Ring full: 64 frames wait for the presenter. Composing resumes once it has caught up.
    if (newest != 0 &&
        ring_next(newest) == compose_ring.ring_oldest.load(std::memory_order_relaxed)) {
        compose_done.store(1, std::memory_order_release);
        return;
    }
    if (image->is_text)
        compose_text(page, int32_t(frame_width), int32_t(frame_height));
    else
        compose_graphics(*image);
    finish_run(auto_at_start);
}

void display_tick() {
    if (display_auto.load(std::memory_order_acquire) != 0) display_compose();
    compose_tick_count.fetch_add(1, std::memory_order_relaxed);
}

// --- Presenter side --------------------------------------------------------------------------

namespace {

void mark_older_consumed(int32_t newest) {
    int32_t slot = compose_ring.ring_oldest.load(std::memory_order_acquire);
    if (slot == 0) return;
    for (int32_t n = 0; slot != newest && n < COMPOSE_RING_SLOTS; ++n, slot = ring_next(slot))
        compose_ring.slots[slot].consumed.store(1, std::memory_order_release);
}

} // namespace

const DisplayFrame* compose_ring_latest() {
    if (compose_ring.ring_oldest.load(std::memory_order_acquire) == 0) return nullptr;
    int32_t newest = compose_ring.ring_newest.load(std::memory_order_acquire);
    if (newest == 0) return nullptr;
    mark_older_consumed(newest);
    return &compose_ring.slots[newest];
}

void compose_ring_mark_presented(const DisplayFrame* frame) {
    if (frame != nullptr) frame->presented.store(1, std::memory_order_relaxed);
}

void compose_ring_consume_older() {
    int32_t newest = compose_ring.ring_newest.load(std::memory_order_acquire);
    if (newest != 0) mark_older_consumed(newest);
}

// --- Reset -------------------------------------------------------------------------------------

void display_reset() {
    for (DisplayFrame& frame : compose_ring.slots) {
        delete[] frame.pixels;
        frame.pixels = nullptr;
        frame.width = frame.height = frame.byte_size = 0;
        frame.consumed.store(0, std::memory_order_relaxed);
        frame.presented.store(0, std::memory_order_relaxed);
    }
    compose_ring.ring_oldest.store(0, std::memory_order_relaxed);
    compose_ring.ring_newest.store(0, std::memory_order_relaxed);

    ComposerState& state = composer_state;
    for (FrameShows& shows : state.shows) shows = FrameShows{};
    state.current.clear();
    state.palette.fill(0);
    state.cells_drawn = 0;
    state.pixel_copy.clear();
    state.pixel_current.clear();
    state.previous_bits = 0;
    state.clock_ms = nullptr;

    control_reset();
    compose_done.store(0, std::memory_order_relaxed);
    compose_tick_count.store(0, std::memory_order_relaxed);
}
