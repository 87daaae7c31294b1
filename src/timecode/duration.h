#ifndef STAMPLINE_TIMECODE_DURATION_H_
#define STAMPLINE_TIMECODE_DURATION_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "timecode/frame_rate.h"
#include "timecode/timecode.h"

namespace stampline {

// A decimal number as typed, digits with at most one point and at least one
// digit: mantissa / 10^scaleDigits. At most 9 digits before the point and
// 6 after, so that arithmetic on it cannot overflow. False for anything else.
bool parseDecimal(std::string_view text, uint64_t& mantissa, uint32_t& scaleDigits);

// A length of real time as typed: a decimal number and a unit, "90s", "10m",
// "1.5h".
struct TimeLength {
  uint64_t mantissa = 0;
  uint32_t scaleDigits = 0;
  uint32_t unitSeconds = 1;
};
bool parseTimeLength(std::string_view text, TimeLength& length);

// How many frames at `rate` it takes to cover `length`, rounded up; none
// when that is more than `mostFrames`. Integer arithmetic, exact.
std::optional<uint64_t> framesCovering(const TimeLength& length, const FrameRate& rate,
                                       uint64_t mostFrames);

// How many frames a run from label `start` holds up to label `end` (the
// label after its last frame), counting as the run does (`nominalFps`
// labels a second, drop-frame or not): across midnight when `end` comes
// before `start`, none when they are the same.
uint64_t framesUntil(TimecodeWord start, TimecodeWord end, uint32_t nominalFps, bool dropFrame);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_DURATION_H_
