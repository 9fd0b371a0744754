#pragma once
// The window: created through the window library on the initial thread, which then stays in the
// library's event loop for the life of the process. Only window.cpp and present.cpp include the
// window library and OpenGL.

// Creates the window (with the title the program set before, or "Untitled"), registers the
// callbacks and enters the event loop. Returns only if the event loop ever does.
int window_main(int argc, char** argv);
