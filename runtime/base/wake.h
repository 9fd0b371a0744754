#pragma once
// The program thread's signal to the display thread: it is about to wait for input, so whatever
// it printed should be on the screen now rather than at the display thread's next tick.
#include <cstdint>

// Program thread.
void display_wake();
// Display thread: sleeps up to delay_ms; true when display_wake ended the sleep early.
bool display_idle_wait(uint32_t delay_ms);
