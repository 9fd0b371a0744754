#pragma once
// The program thread's reads of the keyboard: one key out of the BIOS keyboard buffer, the sleep
// statement, and the wait for a fresh key used by program end. Program thread only.
//
// The waits sleep on the key layer's wake-up signal (every key press, and keys_wake_waiters from
// the exit sequence) with a bounded timeout as a safety net, instead of polling. Setting the
// environment variable UNVEILO_LITERAL_SPIN=1 before the first wait selects plain polling
// (zero-length sleeps while waiting for a fresh key, 9 ms sleeps in the sleep statement), so that
// the idle cost of the two can be compared.
#include <cstdint>

#include "runtime/strings/str.h"

// A new temporary string: empty when no key waits (or an error is pending), the character of a
// plain key, or character 0 and the scan code of an extended key (0 and 72 for Up).
BasicString* inkey_read();

// The sleep statement: returns on the next key press (keys already buffered do not count and
// stay buffered), on a stop request, or after `seconds` when `has_seconds` is set and `seconds`
// is positive. Runs the event poll while it waits.
void sleep_seconds(int32_t seconds, int32_t has_seconds);

// The sleep statement without an argument.
void sleep_until_key();

// Discards the keys already buffered, switches automatic display on, and waits for one new key,
// which it consumes. Parks the program thread on a stop request. Temporaries created since
// `mark` are freed after every read.
void inkey_wait_new(int32_t mark);
