#pragma once
// The operating-system services the runtime uses. Everything above this header is portable; each
// back end (win32/, posix/) implements the same functions in files of the same names.
#include <cstdint>
#include <string>

// Message box styles and answers, numbered as the Windows API numbers them so that callers and
// tests speak one vocabulary on every platform.
constexpr unsigned DIALOG_OK = 0x0;
constexpr unsigned DIALOG_YES_NO = 0x4;
constexpr unsigned DIALOG_SYSTEM_MODAL = 0x1000;
constexpr int DIALOG_ANSWER_NONE = 0; // the box could not be shown
constexpr int DIALOG_ANSWER_OK = 1;
constexpr int DIALOG_ANSWER_YES = 6;
constexpr int DIALOG_ANSWER_NO = 7;

// Shows a modal message box without an owner window and returns the button chosen.
// Setting UNVEILO_TEST_DIALOG_ANSWER (ok, yes or no) makes the box answer itself, so that tests
// can run the error paths unattended; the text and caption are then echoed to standard error
// as "[dialog] <caption>: <text>".
int platform_message_box(const char* text, const char* caption, unsigned style);

// Ends the process with the given status at once, after flushing the output streams.
[[noreturn]] void platform_exit(int status);

void platform_sleep_ms(uint32_t delay_ms);

// Milliseconds of a monotonic clock that starts near zero at process start.
int64_t platform_clock_ms();

// Full path of the running executable, empty when it cannot be found.
std::string platform_executable_path();

// Changes the working directory; false when the directory cannot be entered.
bool platform_chdir(const char* path);

// Sets (or, with a null value, removes) a variable of the process environment, so that a process
// started afterwards inherits it; false when the environment refuses it.
bool platform_setenv(const char* name, const char* value);

// Asks the floating-point unit for a 64-bit mantissa where the platform lets a program choose.
void platform_fpu_extended_precision();

// Division faults (SIGFPE). Returning from the signal would run the faulting division again, and
// the error box and the exit are not async-signal-safe; so the handler only jumps back into the
// innermost platform_run_guarded of the faulting thread, which returns true and lets its caller
// report the fault. A fault on a thread without a guard ends the process by the signal's default
// action.
void platform_division_trap_install();
// Runs body(context) on the calling thread under a division-fault guard. True when a division
// fault ended body; body's stack is then gone without its destructors having run.
bool platform_run_guarded(void (*body)(void*), void* context);

// Keyboard state for seeding the key layer at start-up and for its lock-key poll: the toggle
// state of the three lock keys and which of these keys are down now. 0 when the platform cannot
// tell (no X display on Linux).
constexpr uint32_t KEYBOARD_SCROLL_LOCK_ON = 1u << 0;
constexpr uint32_t KEYBOARD_CAPS_LOCK_ON = 1u << 1;
constexpr uint32_t KEYBOARD_NUM_LOCK_ON = 1u << 2;
constexpr uint32_t KEYBOARD_SCROLL_LOCK_DOWN = 1u << 3;
constexpr uint32_t KEYBOARD_LEFT_SHIFT_DOWN = 1u << 4;
constexpr uint32_t KEYBOARD_RIGHT_SHIFT_DOWN = 1u << 5;
constexpr uint32_t KEYBOARD_LEFT_CTRL_DOWN = 1u << 6;
constexpr uint32_t KEYBOARD_RIGHT_CTRL_DOWN = 1u << 7;
constexpr uint32_t KEYBOARD_LEFT_ALT_DOWN = 1u << 8;
constexpr uint32_t KEYBOARD_RIGHT_ALT_DOWN = 1u << 9;
// The held-key bits are filled in only when asked for: on X11 each answer is a round trip to the
// server, and the lock-key poll needs the toggles alone.
uint32_t platform_lock_key_state(bool with_held_keys);

// Attaches what the window library does not deliver to the window just created on the calling
// thread: on Windows the close box (kind 1, and the window is kept), Pause and Ctrl+Break (kind
// 2) reach `hook` from the window procedure, and the sizing frame is removed. Where the window
// library already reports the close box (X11, through its close callback) this does nothing.
using WindowEventHook = int32_t (*)(int32_t kind, int32_t a, int32_t b);
void platform_window_hooks_install(WindowEventHook hook);
