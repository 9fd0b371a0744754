#pragma once
// The frame around every statement of the translated program and the main program's entry
// steps. The event poll that a frame runs when a flag asks for it is in runtime/base/event.h.
//
// A translated program reads its temporaries mark once from program_enter() and then wraps each
// statement in one of the frame_* forms below. Program thread only.
#include <atomic>
#include <cstdint>

#include "runtime/base/error.h"
#include "runtime/base/event.h"
#include "runtime/base/run_state.h"
#include "runtime/core/startup.h"
#include "runtime/screen/print.h"
#include "runtime/strings/str.h"

// The 20-character tag that a chaining program appends, followed by a 12-character state-file
// name "chainNNN.tmp", to the command line of the program it starts.
constexpr const char CHAIN_TAG[] = "(unique-tag:=/@*$+-)";
constexpr int32_t CHAIN_TAG_LENGTH = 20;
constexpr int32_t CHAIN_FILE_NAME_LENGTH = 12;
constexpr int32_t CHAIN_SUFFIX_LENGTH = CHAIN_TAG_LENGTH + CHAIN_FILE_NAME_LENGTH;
// The chaining program's working directory is read into a buffer of this size; a state file that
// claims a longer one is refused.
constexpr int32_t CHAIN_DIRECTORY_MAX = 4096;
static_assert(sizeof CHAIN_TAG - 1 == CHAIN_TAG_LENGTH);

// The END statement: closing prompt, then the end request and the park.
[[noreturn]] void program_end();

// The main program's entry steps before its first statement: extended floating-point precision,
// the division-fault trap, the temporaries mark (returned) and the chained-start check.
// Creating the program's own variables is left to the translated program, after this call.
int32_t program_enter();

// Runs `program` on the calling thread (the program thread) so that a division fault inside it
// ends in the "Division by zero" box and the exit here, on this thread, rather than in the
// signal handler. Returns when `program` does (only tests' programs do).
void program_run(void (*program)());

// A command line ending in the chain tag and a state-file name is a chained start: the working
// directory is taken from the state file and the tag is cut from the command line.
void chain_input();

// --- Statement frame forms ----------------------------------------------------------------------

// The only test a statement pays when nothing is flagged. Acquire pairs with the release stores
// of the threads that flag something, so that what they stored first (a stop request, an error)
// is seen by the poll.
inline bool frame_event_pending() {
    return run_state.event_pending.load(std::memory_order_acquire) != 0;
}

// After a plain statement of `line`.
inline void frame_statement(int32_t mark, uint32_t line) {
    str_cleanup(mark, 0);
    if (frame_event_pending()) event_poll(line);
}

// IF … THEN: returns whether to enter the THEN block. An error raised while the condition was
// evaluated enters it too, after the dialog if the user chose to continue.
inline bool frame_condition(int32_t mark, uint32_t line, int32_t value) {
    value = str_cleanup(mark, value);
    if (value == 0 && !error_pending()) return false;
    if (frame_event_pending()) event_poll(line);
    return true;
}

// DO: the loop head only polls.
inline void frame_loop_head(uint32_t line) {
    if (frame_event_pending()) event_poll(line);
}

// One item of a printing statement: its value is kept in a string of its own while it prints.
// Returns false once an error is pending; the statement's remaining items and its end of line
// are then skipped. The screen is the sink unless the statement names another.
inline bool frame_print_item(BasicString* value, const StrSink& sink = screen_print_sink) {
    BasicString* item = str_new(0, false);
    str_set(item, value);
    bool printing = !error_pending();
    if (printing) {
        sink.fit(sink.context, item);
        sink.put(sink.context, item, 0);
    }
    str_free(item);
    return printing;
}

// The end of a printing statement: the line ends unless the statement ended in a separator
// (`end_line` false) or an item failed; then clean-up and poll as for a plain statement.
inline void frame_print_end(int32_t mark, uint32_t line, bool end_line = true,
                            const StrSink& sink = screen_print_sink) {
    if (end_line && !error_pending()) sink.put(sink.context, str_shared_empty, 1);
    frame_statement(mark, line);
}

// END never returns, so the poll of its line comes first.
[[noreturn]] inline void frame_end(uint32_t line) {
    if (frame_event_pending()) event_poll(line);
    program_end();
}
