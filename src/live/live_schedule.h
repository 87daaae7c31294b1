#ifndef STAMPLINE_LIVE_LIVE_SCHEDULE_H_
#define STAMPLINE_LIVE_LIVE_SCHEDULE_H_

#include <cstdint>
#include <functional>
#include <optional>

#include "live/clock_lock.h"
#include "timecode/frame_rate.h"
#include "timecode/frame_schedule.h"
#include "timecode/timecode.h"

namespace stampline {

// One frame played live: its label, where it lies among the sound card's
// sample frames, and the day it belongs to.
struct LiveFrame {
  TimecodeWord label = 0;
  int64_t start = 0;  // its first sample frame on the card
  uint32_t length = 0;
  // Time of day: its label's day, in days since 1970-01-01; free run: the
  // midnights its label lies after the start label.
  int64_t day = 0;
  int64_t utcOffsetNanos = 0;   // the local time's offset its labels follow
  int64_t instantNanos = 0;     // when its first edge is to leave, on the wall clock (time of day)
  bool jumped = false;          // it starts a new count: the clock stepped
};

// Which frame plays where. Time of day: the frame whose label is L starts
// (leaves the output) at local midnight plus the start of L on the
// midnight-anchored grid (frame n at n x DEN/NUM seconds), earlier by
// `aheadNanos` (a delay after the card); the grid restarts at midnight,
// the day's last frame cut short; labels count n at the nominal rate, so
// that at 29.97 drop-frame the last 2.6 frames' labels start the next day
// early, and at 29.97 and 23.976 without it the labels fall behind the
// clock and jump back at midnight. Each boundary is the whole sample frame
// the clock lock places that instant at (less the output's latency),
// within a sample of the length the frame has on the card now: a smaller
// step of the clock is absorbed a sample a frame, one of half a frame or
// more is a jump to the right label at the next boundary.
//
// Free run (a start label): frames from that label at once, as long as a
// file's at the card's sample rate, the card's clock alone counting.
class LiveSchedule {
 public:
  struct Settings {
    FrameRate rate = kRate30;
    bool dropFrame = false;
    int32_t sampleRate = 48000;
    std::optional<TimecodeWord> start;  // free run from this label
    int64_t aheadNanos = 0;
  };
  // The local time's offset from UTC at a wall-clock time, in nanoseconds.
  using UtcOffset = std::function<int64_t(int64_t wallNanos)>;

  LiveSchedule(const Settings& settings, UtcOffset utcOffset);

  // The next frame; the first starts at or after card frame `from`. The
  // card's samples leave the output `latency` sample frames after their
  // own.
  LiveFrame next(const ClockLock& lock, double latency, int64_t from);
  // The card went past the frames (a stall), the lock started anew, or the
  // card's count moved (an xrun): the time of day is found again at the
  // next call's `from`, its first frame marked as a jump where labels were
  // lost (`jumped`; a jump already due stays due). A free run counts on
  // regardless.
  void relocate(bool jumped);
  // The wall clock stepped by `nanos`: where the time of day is found again
  // before the next boundary (an xrun at the same time), the labels jumped
  // all the same if the step was half a frame or more.
  void clockStepped(int64_t nanos);

 private:
  struct Slot {
    int64_t day;
    uint64_t n;  // frame of the day
  };
  static constexpr int64_t kDayNanos = 86'400'000'000'000;
  double frameNanos(uint64_t n) const;  // frame n's start after midnight
  // The frame whose time of day (at `offset` from UTC) holds `wallNanos`.
  Slot locate(int64_t wallNanos, int64_t offset) const;
  Slot following(Slot slot) const;
  // When a slot's first edge is to leave, on the wall clock; and the card
  // frame that puts it there.
  int64_t instant(Slot slot, int64_t offset) const;
  double idealStart(Slot slot, int64_t offset, const ClockLock& lock, double latency) const;
  LiveFrame freeRun(int64_t from);

  Settings settings_;
  UtcOffset utcOffset_;
  uint64_t labelsPerDay_;
  FrameSchedule freeSchedule_;
  bool started_ = false;
  Slot current_{};
  int64_t start_ = 0;
  int64_t offset_ = 0;  // the offset in use
  bool jumped_ = false;
  bool placed_ = false;   // a frame was placed since the start
  bool stepped_ = false;  // the clock stepped since the last frame placed
  uint64_t freeFrame_ = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_LIVE_LIVE_SCHEDULE_H_
