#include "runtime/core/frame.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/core/error.h"
#include "runtime/core/startup.h"
#include "runtime/platform/platform.h"

namespace {

constexpr uint32_t PAUSE_POLL_MS = 10;
constexpr uint32_t PARK_SLEEP_MS = 16;

extern "C" void floating_point_signal(int) {
    error_raise(ERROR_DIVISION_BY_ZERO);
}

// Reads the chaining program's working directory from its state file: a discarded 32-bit value,
// the 32-bit length n, then n bytes. The records after it belong to the chaining facility and
// are skipped. A length outside 0..CHAIN_DIRECTORY_MAX or a file that ends early refuses the
// whole file: the length comes from disk and must not size a copy unchecked.
bool read_chain_directory(const char* file_name, std::string& directory) {
    std::FILE* file = std::fopen(file_name, "rb");
    if (!file) return false;
    int32_t header[2];
    bool ok = std::fread(header, sizeof header, 1, file) == 1;
    int32_t length = ok ? header[1] : -1;
    ok = ok && length >= 0 && length <= CHAIN_DIRECTORY_MAX;
    if (ok) {
        directory.assign(size_t(length), '\0');
        ok = length == 0 || std::fread(directory.data(), size_t(length), 1, file) == 1;
    }
    std::fclose(file);
    return ok;
}

} // namespace

void event_poll(uint32_t line) {
    // An exchange rather than a plain store: if it takes the 1 that another thread stored with
    // release after setting stop_requested, the acquire makes that stop request visible below;
    // if that store comes later, the flag stays set and the next statement polls again.
    run_state.event_pending.exchange(0, std::memory_order_acquire);

    for (;;) {
        if (run_state.stop_requested.load(std::memory_order_relaxed) != 0) program_park();
        if (run_state.pause_state.load(std::memory_order_relaxed) == 0) break;
        platform_sleep_ms(PAUSE_POLL_MS);
    }

    if (error_pending()) {
        run_state.error_line.store(line, std::memory_order_relaxed);
        error_report();
        return;
    }
    event_trap_dispatch();
}

// Key and timer traps are armed only by the dialect's ON KEY / ON TIMER statements, which this
// run-time does not offer; with no trap table there is nothing to walk.
void event_trap_dispatch() {}

void program_park() {
    // Release: the display thread, seeing this bit with acquire, may exit the process with
    // everything this thread stored before (the end request, the exit code) in view.
    run_state.parked_threads.fetch_or(1, std::memory_order_release);
    // A parked thread has nothing left to do, with or without a stop request: the display
    // thread ends the process. It touches no state from here on.
    for (;;) platform_sleep_ms(PARK_SLEEP_MS);
}

int32_t program_enter() {
    // The floating-point unit's precision is a per-thread setting, chosen once for the program
    // thread.
    static const bool precision_set = (platform_fpu_extended_precision(), true);
    (void)precision_set;
    std::signal(SIGFPE, floating_point_signal);
    int32_t mark = str_temp_mark();
    chain_input();
    return mark;
}

void chain_input() {
    BasicString* line = command_line;
    if (!line || line->length < CHAIN_SUFFIX_LENGTH) return;
    const char* chars = reinterpret_cast<const char*>(line->chars);
    int32_t length = line->length;
    if (std::memcmp(chars + length - 4, ".tmp", 4) != 0) return;
    if (std::memcmp(chars + length - CHAIN_SUFFIX_LENGTH, CHAIN_TAG, CHAIN_TAG_LENGTH) != 0 ||
        std::memcmp(chars + length - CHAIN_FILE_NAME_LENGTH, "chain", 5) != 0) {
        return;
    }

    std::string file_name(chars + length - CHAIN_FILE_NAME_LENGTH, CHAIN_FILE_NAME_LENGTH);
    std::string directory;
    if (read_chain_directory(file_name.c_str(), directory)) {
        std::remove(file_name.c_str());
        platform_chdir(directory.c_str());
    }
    // A refused state file still leaves a command line whose tail is no argument of the user's,
    // so the tag goes either way, with the space in front of it when there is one.
    int32_t kept = length - CHAIN_SUFFIX_LENGTH;
    if (kept > 0) --kept;
    // Through the engine rather than by editing the length: the assignment keeps the heap list
    // and the heap's used size in step with the string, as for any other shortened variable.
    str_set(line, str_left(line, kept));
}
