#pragma once
// The permanent strings that start-up creates before the program runs (besides the string
// engine's own, str_shared_empty and str_one_space).
#include "runtime/strings/str.h"

// What the machine-code emulation answers when asked to run code; the emulation is not part of
// this run-time.
extern BasicString* machine_code_message;
// The program's arguments joined by single spaces (empty when there are none).
extern BasicString* command_line;

// Number of entries in the process environment, counted once by start-up before the other
// threads exist (their start orders this plain store before any read) and never changed after.
extern int32_t environment_count;
// Counts the environment into environment_count and returns the count.
int32_t startup_count_environment();

// Creates the start-up strings in their fixed order (reserving the top of the data segment
// first) and the command-line string from argv[1..argc-1]. The string engine must be reset.
void startup_strings(int argc, const char* const* argv);
