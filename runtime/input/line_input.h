#pragma once
// The input statement: the user types one line after a prompt the caller has printed, and the
// comma-separated fields of that line are checked and stored into program variables while they
// are typed. A character that would make the field being typed invalid is taken back at once,
// so the screen always shows an acceptable line and nothing ever asks for the line again.
// Program thread only.
//
// How a translated statement calls it (the recovery program's drive-letter prompt):
//
//     print_string(prompt, 0);                                // the prompt, line not ended
//     input_set_variable(1, INPUT_TYPE_STRING, drive);       // BasicString* drive
//     input_values(1, 1);                                     // one variable, end the line
//     frame_statement(mark, 18);
//
// While the user thinks, the statement sleeps on the key layer's wake-up signal (a key press, or
// keys_wake_waiters after a stop request), looking on its own every WAIT_RECHECK_MS; with
// UNVEILO_LITERAL_SPIN=1 it polls every 10 ms instead, as the waits of wait.h do.
//
// The variable tables are process-wide and keep their entries until they are set again, so a
// statement sets every variable 1..count before each call.
#include <cstdint>
#include <string>

// --- Type words ---------------------------------------------------------------------------------
//
//   bit 30      string variable: the address is its BasicString (variable or fixed length)
//   bit 29      floating-point variable
//   bit 28      unsigned integer
//   bit 24      the variable is not cleared at the start, and integer results of 32 bits or
//               less are not stored
//   bit 9       with bit 30 on variable 1: whole-line mode (commas and quotes are ordinary)
//   bits 0-8    size in bits: 8, 16, 32 or 64 for integers; 32 (single), 64 (double) or 256
//               (the platform's long double, in a 32-byte variable) for floating point
constexpr uint32_t INPUT_TYPE_STRING = 0x40000000;
constexpr uint32_t INPUT_TYPE_FLOAT = 0x20000000;
constexpr uint32_t INPUT_TYPE_UNSIGNED = 0x10000000;
constexpr uint32_t INPUT_TYPE_NO_CLEAR = 0x1000000;
constexpr uint32_t INPUT_TYPE_WHOLE_LINE = 0x200;
constexpr uint32_t INPUT_TYPE_SIZE_MASK = 0x1FF;
constexpr uint32_t INPUT_TYPE_EXTENDED_BITS = 256;

// The longest line the user can type; further characters are ignored.
constexpr int32_t INPUT_LINE_MAX = 255;
// The highest variable index the tables take.
constexpr int32_t INPUT_VARIABLES_MAX = 4096;

// --- The statement ------------------------------------------------------------------------------

// Fills entry `index` (1-based) of the variable tables: the variable's type word and its address
// (a BasicString* for strings, else the first byte of a variable of size / 8 bytes, suitably
// aligned for its type). An index outside 1..INPUT_VARIABLES_MAX raises error 5.
void input_set_variable(int32_t index, uint32_t type_word, void* address);

// The input statement for variables 1..count. Returns after Enter, moving the cursor to the
// start of the next line when `end_line` is non-zero; returns at once on a stop request. Does
// nothing while an error is pending. A count below 1, or a variable in 1..count that has no
// address or an unknown type word, raises error 5 before anything is shown or cleared.
void input_values(int32_t count, int32_t end_line);

// Empties the variable tables. Start-up and tests.
void input_reset();

// --- The check, usable without a screen --------------------------------------------------------

// Splits `line` into fields for `count` variables. Returns the number of the last field (the one
// being typed) and its text in `field`, or 0 when the line cannot be split: a comma that would
// start field count + 1, or a character other than a comma after a closing quote. In whole-line
// mode the whole line is field 1.
int32_t input_split_line(const std::string& line, int32_t count, bool whole_line,
                         std::string& field);

// Checks one field against a variable of `type_word` and stores it there when it passes.
// Returns whether it passed; a refused field leaves the variable as it was.
bool input_check_field(uint32_t type_word, void* address, const std::string& field);

// The check run after every change of the line: split it for variables 1..count of the tables,
// then check and store the field being typed. Whole-line mode comes from variable 1's type word.
bool input_check_line(const std::string& line, int32_t count);

// Clears variables 1..count as the statement does at its start: a fixed-length string becomes
// spaces, a variable-length string empty, a number zero (unless bit 24 is set).
void input_clear_variables(int32_t count);

// False when the type word is none of the forms above.
bool input_type_known(uint32_t type_word);

// True when count >= 1 and variables 1..count all have an address and a known type word.
bool input_variables_valid(int32_t count);
