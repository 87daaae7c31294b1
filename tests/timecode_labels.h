#ifndef STAMPLINE_TESTS_TIMECODE_LABELS_H_
#define STAMPLINE_TESTS_TIMECODE_LABELS_H_

#include <cstdint>

#include "timecode/timecode.h"

namespace stampline::testing {

// A timecode label as four numbers, for counting from the label side.
struct Label {
  uint32_t h, m, s, f;
};

// The word's digits at face value (the frame tens have two bits).
inline Label labelOf(TimecodeWord w) {
  const auto digit = [w](int shift) { return (w >> shift) & 0xFU; };
  return {digit(0) + 10 * digit(4), digit(8) + 10 * digit(12), digit(16) + 10 * digit(20),
          digit(24) + 10 * ((w >> 28) & 0x3U)};
}

inline TimecodeWord wordOf(Label l) {
  return (l.h % 10) | (l.h / 10) << 4 | (l.m % 10) << 8 | (l.m / 10) << 12 | (l.s % 10) << 16 |
         (l.s / 10) << 20 | (l.f % 10) << 24 | (l.f / 10) << 28;
}

// Labels 00 and 01 of second 00 do not exist in drop-frame counting, except
// in every tenth minute.
inline bool skippedInDropFrame(Label l) { return l.s == 0 && l.f < 2 && l.m % 10 != 0; }

// The label after `l` at `fps` labels a second, skipping the labels
// drop-frame counting leaves out when `dropFrame` is set.
inline Label nextLabel(Label l, uint32_t fps, bool dropFrame) {
  if (++l.f == fps) {
    l.f = 0;
    if (++l.s == 60) {
      l.s = 0;
      if (++l.m == 60) {
        l.m = 0;
        l.h = (l.h + 1) % 24;
      }
    }
  }
  if (dropFrame && skippedInDropFrame(l)) l.f = 2;
  return l;
}

// The label after `l` in 30 fps drop-frame order, one step at a time.
inline Label nextDropFrameLabel(Label l) { return nextLabel(l, 30, true); }

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_TIMECODE_LABELS_H_
