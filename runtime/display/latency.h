#pragma once
// Key-to-screen latency probe. Off unless UNVEILO_LATENCY_LOG names a file; then one key at a
// time is followed from its key event (window thread) through the program's echo (program
// thread) and the composition that saw the echo (display thread) to the presentation of that
// frame (window thread), and the milliseconds are appended to the file, one line per key.
#include <cstdint>

// Window thread: a key went down.
void latency_key_event();
// Program thread: the program has finished drawing what the key caused.
void latency_echo_done();
// Composer: a run is about to read the page / has published the frame in `slot`.
void latency_compose_begin();
void latency_frame_published(int32_t slot);
// Presenter: the frame in `slot` has been put on the screen.
void latency_frame_presented(int32_t slot);
