#pragma once
// The run-time's time of day and the emulated BIOS tick count, both counted from two bases that
// start-up takes once: the process clock and the local time of day at the same moment, a whole
// wall-clock second, so that the tick count and the time of day start in step.
#include <cstdint>

// One reading of the wall clock (milliseconds since 1970-01-01 UTC) and of the process clock
// (clock_ms) taken together. wall_ms is negative when the wall clock cannot be read.
struct ClockReading {
    int64_t wall_ms = 0;
    int64_t clock_ms = 0;
};

struct ClockBases {
    int64_t clock_base_ms = 0;    // process clock at the whole second
    int64_t day_time_base_ms = 0; // milliseconds since local midnight at that second, or 0
};

// Seconds since local midnight of a wall-clock second (seconds since 1970), -1 when the local
// time cannot be told.
using SecondsIntoDay = int32_t (*)(int64_t wall_seconds);
int32_t clock_local_seconds_into_day(int64_t wall_seconds);

// The bases as they would be had start-up waited for the wall clock's next whole second: the
// process clock then, and the local time of day of that second. No wait: the reading says how
// far off that second is.
ClockBases clock_bases_at(ClockReading reading, SecondsIntoDay seconds_into_day);

// Milliseconds since local midnight at process-clock time `now_ms`, 0 to 86 399 999.
int64_t clock_time_of_day_ms(const ClockBases& bases, int64_t now_ms);
// The BIOS tick count at `now_ms`: 18.2 ticks a second since midnight.
uint32_t clock_bios_ticks(const ClockBases& bases, int64_t now_ms);

// Start-up: reads both clocks once and sets the process-wide bases. Written before the other
// threads exist and never again, so their start orders it before every read.
void clock_startup();
extern ClockBases clock_bases;
