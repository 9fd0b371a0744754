#pragma once
// Everything a translated program uses, in one include: the statement frame and the entry steps,
// start-up with the window, the string engine, the screen statements and printing, key input, and
// the statements that steer the display. A translated program includes this header and nothing
// else of the run-time.
#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/core/frame.h"
#include "runtime/core/runtime.h"
#include "runtime/display/compose.h"
#include "runtime/display/latency.h"
#include "runtime/display/window.h"
#include "runtime/input/line_input.h"
#include "runtime/input/wait.h"
#include "runtime/os/drive.h"
#include "runtime/os/fs.h"
#include "runtime/os/shell.h"
#include "runtime/screen/image.h"
#include "runtime/screen/print.h"
#include "runtime/screen/title.h"
#include "runtime/strings/str.h"
