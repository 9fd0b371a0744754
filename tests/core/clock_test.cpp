// The clock bases taken without waiting for the next wall-clock second, against a model of the
// start-up that waits for it: for the same clocks, both give the program the same time of day
// and the same BIOS tick count at every moment after the waiting start-up would have returned.
#include <gtest/gtest.h>

#include <ctime>

#include "runtime/core/clock.h"
#include "runtime/core/runtime.h"

namespace {

constexpr int64_t DAY_MS = 86400000;

int64_t floor_seconds(int64_t wall_ms) {
    return wall_ms >= 0 || wall_ms % 1000 == 0 ? wall_ms / 1000 : wall_ms / 1000 - 1;
}

// The calendar is UTC in the table below, so that it does not depend on the machine's zone.
int32_t utc_seconds_into_day(int64_t wall_seconds) {
    return int32_t(((wall_seconds % 86400) + 86400) % 86400);
}
int32_t no_local_time(int64_t) {
    return -1;
}

// The waiting start-up: read the calendar second, look again every millisecond until it
// changes, then take the process clock and the time of day of the new second. The wall clock
// runs with the process clock from the reading on.
ClockBases waited_bases(ClockReading reading, SecondsIntoDay seconds_into_day) {
    if (reading.wall_ms < 0) return ClockBases{reading.clock_ms, 0};
    auto wall_at = [&](int64_t clock) { return reading.wall_ms + (clock - reading.clock_ms); };
    int64_t clock = reading.clock_ms;
    int64_t first = floor_seconds(wall_at(clock));
    int64_t now = first;
    while (now == first) now = floor_seconds(wall_at(++clock));
    int32_t seconds = seconds_into_day(now);
    return ClockBases{clock, seconds < 0 ? 0 : int64_t(seconds) * 1000};
}

TEST(clock_bases_at, program_sees_what_the_waiting_start_up_would_give) {
    const int64_t day = 20'000; // days since 1970 of the readings below
    struct Case {
        const char* what;
        int64_t wall_ms;
        int64_t clock_ms;
        SecondsIntoDay seconds_into_day;
    };
    const Case cases[] = {
        {"on a whole second", day * DAY_MS + 3'600'000, 12, utc_seconds_into_day},
        {"1 ms into a second", day * DAY_MS + 3'600'001, 12, utc_seconds_into_day},
        {"half a second in", day * DAY_MS + 45'296'500, 123'456, utc_seconds_into_day},
        {"1 ms before the next second", day * DAY_MS + 45'296'999, 0, utc_seconds_into_day},
        {"the last second before midnight", (day + 1) * DAY_MS - 700, 5'000, utc_seconds_into_day},
        {"at midnight", (day + 1) * DAY_MS, 77, utc_seconds_into_day},
        {"no local time", day * DAY_MS + 250, 40, no_local_time},
        {"no wall clock", -1, 900, utc_seconds_into_day},
        {"local time of this machine", day * DAY_MS + 51'234'321, 3'210,
         clock_local_seconds_into_day},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClockReading reading{c.wall_ms, c.clock_ms};
        ClockBases waited = waited_bases(reading, c.seconds_into_day);
        ClockBases bases = clock_bases_at(reading, c.seconds_into_day);
        // From the moment the waiting start-up would have gone on, over more than two days.
        for (int64_t after = 0; after < 2 * DAY_MS + 5'000; after += after < 20'000 ? 7 : 999'983) {
            int64_t now = waited.clock_base_ms + after;
            ASSERT_EQ(clock_time_of_day_ms(bases, now), clock_time_of_day_ms(waited, now)) << after;
            ASSERT_EQ(clock_bios_ticks(bases, now), clock_bios_ticks(waited, now)) << after;
        }
        // Before it, in the part of a second the wait no longer costs, the time of day counts up
        // to the same value without a jump.
        int64_t expected = clock_time_of_day_ms(bases, waited.clock_base_ms);
        for (int64_t now = waited.clock_base_ms - 1; now >= c.clock_ms; --now) {
            expected = expected == 0 ? DAY_MS - 1 : expected - 1;
            ASSERT_EQ(clock_time_of_day_ms(bases, now), expected) << now;
        }
    }
}

TEST(clock_startup, time_of_day_is_the_local_time_now) {
    clock_startup();
    std::time_t now = std::time(nullptr);
    int64_t local_ms = int64_t(clock_local_seconds_into_day(int64_t(now))) * 1000;
    int64_t ours = clock_time_of_day_ms(clock_bases, clock_ms());
    int64_t off = (ours - local_ms + DAY_MS + DAY_MS / 2) % DAY_MS - DAY_MS / 2;
    // The calendar's whole second lags ours by up to a second; a slow machine adds a little.
    EXPECT_GE(off, -200);
    EXPECT_LT(off, 1200);
}

} // namespace
