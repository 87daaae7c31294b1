#include "platform/wall_clock.h"

#include <ctime>

namespace stampline {

int64_t wallClockNanos() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

int64_t utcOffsetNanos(int64_t wallNanos) {
  const auto seconds = static_cast<time_t>(wallNanos / 1'000'000'000);
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return 0;
  return int64_t{local.tm_gmtoff} * 1'000'000'000;
}

}  // namespace stampline
