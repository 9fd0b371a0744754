#pragma once
// Run-time error numbers, their messages and the two dialogs that report them.
#include <cstdint>

using ErrorCode = uint32_t;

constexpr ErrorCode ERROR_ILLEGAL_FUNCTION_CALL = 5;
constexpr ErrorCode ERROR_OVERFLOW = 6;
constexpr ErrorCode ERROR_DIVISION_BY_ZERO = 11;

// Records a run-time error for the statement frame to report. Critical codes show their box and
// end the process here. The first error of a statement wins; 0 or a negative code records 5.
// Returns the pending code.
ErrorCode error_raise(int32_t code);

// Shows the pending error (error_code) with its line (error_line). Returns only when the user
// chose to continue; otherwise the program thread parks or the process exits.
void error_report();

// The message of an error code, or nullptr when the table has none.
const char* error_message(ErrorCode code);

// True for the codes that end the process where they are raised.
bool error_is_critical(int32_t code);
