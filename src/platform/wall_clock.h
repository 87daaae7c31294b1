#ifndef STAMPLINE_PLATFORM_WALL_CLOCK_H_
#define STAMPLINE_PLATFORM_WALL_CLOCK_H_

#include <cstdint>

namespace stampline {

// The system's wall clock (CLOCK_REALTIME): nanoseconds since 1970-01-01
// UTC, as set and slewed; and the local time's offset from UTC (as TZ
// gives it) at such a time, in nanoseconds, east positive.
int64_t wallClockNanos();
int64_t utcOffsetNanos(int64_t wallNanos);

}  // namespace stampline

#endif  // STAMPLINE_PLATFORM_WALL_CLOCK_H_
