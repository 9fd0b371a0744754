#pragma once
// Run-time error numbers, their messages and the dialogs that report them. Every family raises its
// errors through this header; the numbers a family raises are named here and nowhere else.
#include <atomic>
#include <cstdint>

#include "runtime/base/run_state.h"

using ErrorCode = uint32_t;

// Errors recorded for the statement frame to report (the dialog offers to continue).
constexpr ErrorCode ERROR_ILLEGAL_FUNCTION_CALL = 5;
constexpr ErrorCode ERROR_OVERFLOW = 6;
constexpr ErrorCode ERROR_OUT_OF_MEMORY = 7;
constexpr ErrorCode ERROR_OUT_OF_STRING_SPACE = 14;
constexpr ErrorCode ERROR_BAD_FILE_NUMBER = 52; // bad file name or number
constexpr ErrorCode ERROR_FILE_NOT_FOUND = 53;
constexpr ErrorCode ERROR_BAD_FILE_MODE = 54;
constexpr ErrorCode ERROR_FILE_ALREADY_OPEN = 55;
constexpr ErrorCode ERROR_BAD_RECORD_NUMBER = 63;
constexpr ErrorCode ERROR_BAD_FILE_NAME = 64;
constexpr ErrorCode ERROR_DEVICE_UNAVAILABLE = 68;
constexpr ErrorCode ERROR_PERMISSION_DENIED = 70;
constexpr ErrorCode ERROR_PATH_FILE_ACCESS = 75;
constexpr ErrorCode ERROR_PATH_NOT_FOUND = 76;
constexpr ErrorCode ERROR_INVALID_HANDLE = 258;
constexpr ErrorCode ERROR_UNAVAILABLE_HOSTED = 262; // a statement the hosted edition refuses

// Critical errors: they end the process where they are raised. 502 to 518 all read "Out of
// memory" and are told apart by their number, one number per exhausted resource.
constexpr ErrorCode ERROR_DIVISION_BY_ZERO = 11;
constexpr ErrorCode ERROR_CRITICAL_STACK_SPACE = 256;     // the temporaries list cannot grow
constexpr ErrorCode ERROR_PATH_ILLEGAL_HOSTED = 263;      // a name the hosted edition refuses
constexpr ErrorCode ERROR_CRITICAL_IMAGE_TABLE = 502;     // the screen image table cannot grow
constexpr ErrorCode ERROR_CRITICAL_IMAGE_FREE_LIST = 503; // its list of free slots cannot grow
constexpr ErrorCode ERROR_CRITICAL_STRING_SCRATCH = 504;  // the engine's scratch buffer
constexpr ErrorCode ERROR_CRITICAL_BLOCK_SIZE = 505;      // a descriptor block or a memory block
                                                          // larger than its region can hold
constexpr ErrorCode ERROR_CRITICAL_BLOCK_NO_SPACE = 506;  // conventional memory is full
constexpr ErrorCode ERROR_CRITICAL_BLOCK_NO_RECORD = 507; // no block record left
constexpr ErrorCode ERROR_CRITICAL_FREE_STACK = 508;
constexpr ErrorCode ERROR_CRITICAL_SEGMENT_LIST = 509;
constexpr ErrorCode ERROR_CRITICAL_HEAP_LIST = 510;
constexpr ErrorCode ERROR_CRITICAL_TEMP_LIST = 511;
constexpr ErrorCode ERROR_CRITICAL_HEAP = 512;
constexpr ErrorCode ERROR_CRITICAL_SEGMENT_FULL = 513;
constexpr ErrorCode ERROR_CRITICAL_SEGMENT_ENTRY = 514;
constexpr ErrorCode ERROR_CRITICAL_FIXED_SEGMENT_ENTRY = 515;
constexpr ErrorCode ERROR_CRITICAL_SNAPSHOT_COPY = 516;  // the input statement's screen snapshot
constexpr ErrorCode ERROR_CRITICAL_SCRATCH_COPY = 517;   // and its scratch image
constexpr ErrorCode ERROR_CRITICAL_RECEIVE_BUFFER = 518; // a connection's receive buffer

// Records a run-time error for the statement frame to report. A critical code goes on to
// error_critical and does not return. The first error of a statement wins; 0 or a negative code
// records 5. Returns the pending code.
ErrorCode error_raise(int32_t code);

// Shows the box of a critical code and ends the process. Program thread (never a signal
// handler: the box and the exit are not async-signal-safe).
[[noreturn]] void error_critical(ErrorCode code);

// Shows the pending error (error_code) with its line (error_line). Returns only when the user
// chose to continue; otherwise the program thread parks or the process exits.
void error_report();

// The message of a recorded error code, or nullptr when the table has none.
const char* error_message(ErrorCode code);

// True for the codes that end the process where they are raised.
bool error_is_critical(int32_t code);

inline bool error_pending() {
    return run_state.error_code.load(std::memory_order_relaxed) != 0;
}
