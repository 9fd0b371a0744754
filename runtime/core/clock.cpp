#include "runtime/core/clock.h"

#include <chrono>
#include <ctime>

#include "runtime/core/runtime.h"

ClockBases clock_bases;

namespace {

constexpr int64_t DAY_MS = 86400000;
constexpr int64_t SECOND_MS = 1000;
constexpr double BIOS_TICKS_PER_MS = 0.0182; // the PC timer's 18.2 Hz

// Floor division, so that a reading before 1970 still finds the start of its second.
int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

int32_t clock_local_seconds_into_day(int64_t wall_seconds) {
    std::time_t t = std::time_t(wall_seconds);
    const std::tm* local = std::localtime(&t);
    if (local == nullptr) return -1;
    return local->tm_sec + local->tm_hour * 3600 + local->tm_min * 60;
}

ClockBases clock_bases_at(ClockReading reading, SecondsIntoDay seconds_into_day) {
    ClockBases bases;
    if (reading.wall_ms < 0) {
        // No calendar time: the clocks start now, the day at midnight.
        bases.clock_base_ms = reading.clock_ms;
        return bases;
    }
    int64_t next_second = floor_div(reading.wall_ms, SECOND_MS) + 1;
    bases.clock_base_ms = reading.clock_ms + (next_second * SECOND_MS - reading.wall_ms);
    int32_t seconds = seconds_into_day(next_second);
    bases.day_time_base_ms = seconds < 0 ? 0 : int64_t(seconds) * SECOND_MS;
    return bases;
}

int64_t clock_time_of_day_ms(const ClockBases& bases, int64_t now_ms) {
    // The base lies up to a second ahead of start-up: the first readings come before it.
    int64_t t = (now_ms - bases.clock_base_ms + bases.day_time_base_ms) % DAY_MS;
    return t < 0 ? t + DAY_MS : t;
}

uint32_t clock_bios_ticks(const ClockBases& bases, int64_t now_ms) {
    return uint32_t(double(clock_time_of_day_ms(bases, now_ms)) * BIOS_TICKS_PER_MS);
}

void clock_startup() {
    ClockReading reading;
    auto wall = std::chrono::system_clock::now().time_since_epoch();
    reading.clock_ms = clock_ms();
    reading.wall_ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall).count();
    clock_bases = clock_bases_at(reading, clock_local_seconds_into_day);
}
