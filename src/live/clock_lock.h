#ifndef STAMPLINE_LIVE_CLOCK_LOCK_H_
#define STAMPLINE_LIVE_CLOCK_LOCK_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace stampline {

// The sound card's clock against the wall clock (CLOCK_REALTIME), from what
// JACK tells and paired readings; pure, so that tests can drive it with a
// simulated card and clock.
//
// JACK gives every cycle's first sample frame and when that cycle started
// on JACK's own microsecond clock; the cycle starts jitter by the wake-ups. A straight line through
// them, fitted by least squares with older cycles weighing less (a time
// constant of kCardSeconds), gives the card's frames against JACK's clock,
// to a small fraction of a sample. JACK's clock is not the wall clock: they
// differ in rate by NTP's frequency correction (a slew) and in steps (the
// clock set by hand, an NTP step). Paired readings of the two, taken close
// together, give the wall clock against JACK's: the latest pair's offset
// and the rate over the last second, so that a slew is followed within a
// pair's interval; a pair that lies far off the line through the ones
// before is a step, taken at once.
class ClockLock {
 public:
  explicit ClockLock(double sampleRate);

  // A cycle started with `firstFrame` (counted from the card's start in 64
  // bits) at `startMicros` on JACK's clock. Returns how many frames the
  // card's count moved against its clock (after an xrun), where it did;
  // the frames placed before then leave that much late.
  double cycle(uint64_t firstFrame, uint64_t startMicros);
  // JACK reported an xrun when its clock read `jackMicros`: a move of the
  // count is taken sooner.
  void xrun(uint64_t jackMicros);
  // JACK's clock read `jackMicros` when the wall clock read `wallNanos`.
  // Returns how far the wall clock stepped, in nanoseconds, where it moved
  // by kStepNanos or more against the pairs before; 0 otherwise.
  int64_t pair(uint64_t jackMicros, int64_t wallNanos);

  // Whether there are cycles and pairs enough to place frames.
  bool ready() const;
  // The card's sample frame (counted from its start, fractional) that falls
  // at `wallNanos` on the wall clock, and back.
  double frameAt(int64_t wallNanos) const;
  int64_t wallAt(double frame) const;
  // How fast the card runs against the wall clock, in parts per million.
  double ppm() const;

  static constexpr int64_t kStepNanos = 1'000'000;
  static constexpr double kCardSeconds = 4;
  // Cycles before the line is trusted; cycles off it in a row that start
  // it anew.
  static constexpr uint64_t kCyclesToLock = 8;
  static constexpr uint64_t kMisfitsToRestart = 16;
  // The count has moved where a cycle lies this far off the line (a
  // fraction of the shortest period; cycle times jitter far less).
  static constexpr double kMovedSeconds = 0.0005;
  static constexpr uint64_t kCyclesToMove = 4;
  static constexpr uint64_t kMoveMicros = 20'000;
  static constexpr uint64_t kUnreportedMoveMicros = 1'000'000;
  // An xrun reported counts for the cycles of this long after.
  static constexpr uint64_t kXrunMicros = 1'000'000;
  // After an xrun, JACK's cycle times settle for some seconds (its own time
  // filter starting again) and bend any line that takes them in as they
  // come. The card's crystal did not change: for kHoldMicros after an xrun
  // the line's memory is kQuickSeconds, to follow where the settling times
  // lie, and a line that had run kSteadyMicros keeps its slope, so that
  // their drift is not taken for the card's rate.
  static constexpr uint64_t kHoldMicros = 20'000'000;
  static constexpr double kQuickSeconds = 1;
  static constexpr uint64_t kSteadyMicros = 10'000'000;

 private:
  // A line y = y0 + b (x - x0) fitted by weighted least squares, its sums
  // kept about the newest point (so that they stay small over days).
  struct Fit {
    double x0 = 0, y0 = 0;
    double s0 = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    double heldSlope = 0;  // the slope where held, 0 where free
    void add(double x, double y, double keep);
    double slope() const;
    double at(double x) const;
  };
  // A pair of readings: JACK microseconds, wall nanoseconds.
  struct Pair {
    uint64_t jack;
    int64_t wall;
  };
  double jackAt(int64_t wallNanos) const;

  double sampleRate_;
  Fit card_;  // x: JACK microseconds, y: sample frames
  uint64_t cycles_ = 0;
  uint64_t misfits_ = 0;
  uint64_t movedCycles_ = 0;  // cycles in a row off the line by movedBy_ in all
  double movedBy_ = 0;
  uint64_t movingSince_ = 0;  // the first of them, on JACK's clock
  uint64_t lastFrame_ = 0;  // the last cycle's, taken or not
  uint64_t xrunUntil_ = 0;  // JACK's clock
  uint64_t lineSince_ = 0;  // the first cycle of the line, on JACK's clock
  uint64_t holdUntil_ = 0;  // the last xrun's hold ends
  uint64_t lastMicros_ = 0;
  // The pairs of the last second or so, newest at count_ - 1 (modulo).
  std::array<Pair, 64> pairs_{};
  size_t count_ = 0;
  double rate_ = 1000;  // wall nanoseconds a JACK microsecond
  double anchor_ = 0;   // the wall clock at the last pair's JACK reading, less its own
};

}  // namespace stampline

#endif  // STAMPLINE_LIVE_CLOCK_LOCK_H_
