#include "platform/wall_clock.h"

#include <chrono>
#include <ctime>

namespace stampline {

int64_t wallClockNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t utcOffsetNanos(int64_t wallNanos) {
  const __time64_t seconds = wallNanos / 1'000'000'000;
  tm local{};
  tm utc{};
  if (_localtime64_s(&local, &seconds) != 0 || _gmtime64_s(&utc, &seconds) != 0) return 0;
  utc.tm_isdst = local.tm_isdst;
  return static_cast<int64_t>(_mktime64(&local) - _mktime64(&utc)) * 1'000'000'000;
}

}  // namespace stampline
