#pragma once
// Control words of the composer that only the display family and its tests use. The words that
// the program side shares with the composer are in runtime/base/control.h.
#include <atomic>
#include <cstdint>

#include "runtime/base/control.h"
#include "runtime/base/wake.h"

// Set to 1 at the end of every composition run; cleared by display_wait_frame.
extern std::atomic<int32_t> compose_done;
// Incremented by the display thread once per composition tick; bit 3 is the blink and cursor
// phase.
extern std::atomic<int32_t> compose_tick_count;
