#pragma once
// The event poll that the statement frame runs when a flag asks for it, and the park that ends
// the program thread's part in the process. Program thread only.
#include <cstdint>

// Takes up whatever was flagged during the statement of `line`: holds while paused, parks on a
// stop request, reports a pending error, else runs the armed traps. Clears event_pending.
void event_poll(uint32_t line);

// Runs the handlers of armed key and timer traps that have fired.
void event_trap_dispatch();

// Parks the program thread for good; the display thread ends the process.
[[noreturn]] void program_park();

// Parks the program thread if the exit sequence has asked it to stop. For the waits on an answer
// from the display or window thread: those stop answering once the exit sequence has begun.
void program_park_on_stop();
