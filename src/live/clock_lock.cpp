#include "live/clock_lock.h"

#include <algorithm>
#include <cmath>

namespace stampline {
namespace {

// The rate is taken over pairs at least this far apart, and at most that
// (long enough for a pair's few microseconds to be some ppm, short enough
// to follow a slew).
constexpr uint64_t kRateFromMicros = 200'000;
constexpr uint64_t kRateUntilMicros = 600'000;
// Pairs averaged for where the wall clock stands.
constexpr size_t kPairsAveraged = 2;
// JACK's clock and the wall clock keep within this of one rate.
constexpr double kMostRateOff = 1e-3;

}  // namespace

void ClockLock::Fit::add(double x, double y, double keep) {
  // The sums about the new point, then older points weigh `keep` less.
  const double dx = x - x0;
  const double dy = y - y0;
  sxx += -2 * dx * sx + dx * dx * s0;
  sxy += -dx * sy - dy * sx + dx * dy * s0;
  sx -= dx * s0;
  sy -= dy * s0;
  s0 *= keep;
  sx *= keep;
  sy *= keep;
  sxx *= keep;
  sxy *= keep;
  s0 += 1;
  x0 = x;
  y0 = y;
}

double ClockLock::Fit::slope() const {
  if (heldSlope != 0) return heldSlope;
  const double d = s0 * sxx - sx * sx;
  return d > 0 ? (s0 * sxy - sx * sy) / d : 0;
}

double ClockLock::Fit::at(double x) const {
  const double b = slope();
  return y0 + (sy - b * sx) / s0 + b * (x - x0);
}

ClockLock::ClockLock(double sampleRate) : sampleRate_(sampleRate) {}

double ClockLock::cycle(uint64_t firstFrame, uint64_t startMicros) {
  // A cycle whose time does not move on, or that lies a second or more off
  // the card's line, is no cycle of this card (a server shutting down or
  // restarting reports such): left out, and after a run of them the line
  // starts anew.
  const double off = cycles_ >= kCyclesToLock
                         ? static_cast<double>(firstFrame) - card_.at(static_cast<double>(startMicros))
                         : 0;
  if (cycles_ > 0 && (startMicros <= lastMicros_ || std::abs(off) > sampleRate_)) {
    if (++misfits_ < kMisfitsToRestart) return 0;
    card_ = Fit{};
    cycles_ = 0;
  }
  misfits_ = 0;
  // A cycle off the line by half a period or more is left out: a late
  // wake-up on a busy machine. But an xrun may lose the card's samples of
  // a period or more that its count never sees: the count then stays off.
  // Confirmed by kCyclesToMove cycles in a row off alike for kMoveMicros
  // after an xrun was reported (for kUnreportedMoveMicros otherwise: cycle
  // times that wander off for a while come back), the line moves by their
  // mean (its slope kept).
  // (The period from any two cycles in a row, those left out too.)
  const double period = firstFrame > lastFrame_ ? static_cast<double>(firstFrame - lastFrame_) : 0;
  lastFrame_ = firstFrame;
  const double threshold = std::max(kMovedSeconds * sampleRate_, period / 2);
  double moved = 0;
  if (std::abs(off) > threshold) {
    if (movedCycles_ == 0 || std::abs(off - movedBy_ / static_cast<double>(movedCycles_)) > threshold / 2) {
      movedBy_ = 0;
      movedCycles_ = 0;
      movingSince_ = startMicros;
    }
    movedBy_ += off;
    const uint64_t confirm = startMicros <= xrunUntil_ ? kMoveMicros : kUnreportedMoveMicros;
    if (++movedCycles_ < kCyclesToMove || startMicros - movingSince_ < confirm) return 0;
    moved = movedBy_ / static_cast<double>(movedCycles_);
    card_.y0 += moved;
  }
  movedCycles_ = 0;
  if (cycles_ == 0) lineSince_ = startMicros;
  const bool holding = startMicros <= holdUntil_;
  if (!holding) card_.heldSlope = 0;
  const double memory = holding ? kQuickSeconds : kCardSeconds;
  const double keep = cycles_ == 0 ? 1 : std::exp(-static_cast<double>(startMicros - lastMicros_) / (memory * 1e6));
  card_.add(static_cast<double>(startMicros), static_cast<double>(firstFrame), keep);
  lastMicros_ = startMicros;
  ++cycles_;
  return moved;
}

void ClockLock::xrun(uint64_t jackMicros) {
  xrunUntil_ = jackMicros + kXrunMicros;
  holdUntil_ = jackMicros + kHoldMicros;
  if (card_.heldSlope == 0 && cycles_ >= kCyclesToLock && jackMicros >= lineSince_ + kSteadyMicros) {
    card_.heldSlope = card_.slope();
  }
}

int64_t ClockLock::pair(uint64_t jackMicros, int64_t wallNanos) {
  int64_t step = 0;
  if (count_ > 0) {
    const Pair& last = pairs_[(count_ - 1) % pairs_.size()];
    if (jackMicros <= last.jack) return 0;  // JACK's clock did not move on: no reading
    const double predicted =
        static_cast<double>(last.wall) + (static_cast<double>(jackMicros) - static_cast<double>(last.jack)) * rate_;
    const auto off = static_cast<int64_t>(std::llround(static_cast<double>(wallNanos) - predicted));
    if (off >= kStepNanos || off <= -kStepNanos) {
      step = off;
      count_ = 0;  // the pairs before measured another clock
    }
  }
  pairs_[count_ % pairs_.size()] = {jackMicros, wallNanos};
  ++count_;
  // Where the wall clock stood at this pair's JACK reading, from the last
  // few pairs at the rate (a pair is off by the time between its readings).
  const size_t averaged = std::min({count_, pairs_.size(), kPairsAveraged});
  double sum = 0;
  for (size_t back = 0; back < averaged; ++back) {
    const Pair& p = pairs_[(count_ - 1 - back) % pairs_.size()];
    sum += static_cast<double>(p.wall - wallNanos) + static_cast<double>(jackMicros - p.jack) * rate_;
  }
  anchor_ = sum / static_cast<double>(averaged);
  // The rate against the oldest pair kept that is far enough back.
  const size_t kept = std::min(count_, pairs_.size());
  for (size_t back = kept - 1; back > 0; --back) {
    const Pair& old = pairs_[(count_ - 1 - back) % pairs_.size()];
    const uint64_t apart = jackMicros - old.jack;
    if (apart > kRateUntilMicros) continue;
    if (apart < kRateFromMicros) break;
    const double rate = static_cast<double>(wallNanos - old.wall) / static_cast<double>(apart);
    rate_ = std::clamp(rate, 1000 * (1 - kMostRateOff), 1000 * (1 + kMostRateOff));
    break;
  }
  return step;
}

bool ClockLock::ready() const { return cycles_ >= kCyclesToLock && count_ > 0; }

double ClockLock::jackAt(int64_t wallNanos) const {
  const Pair& last = pairs_[(count_ - 1) % pairs_.size()];
  return static_cast<double>(last.jack) + (static_cast<double>(wallNanos - last.wall) - anchor_) / rate_;
}

double ClockLock::frameAt(int64_t wallNanos) const { return card_.at(jackAt(wallNanos)); }

int64_t ClockLock::wallAt(double frame) const {
  const Pair& last = pairs_[(count_ - 1) % pairs_.size()];
  const double b = card_.slope();
  const double jack = card_.x0 + (frame - card_.at(card_.x0)) / b;
  return last.wall + std::llround(anchor_ + (jack - static_cast<double>(last.jack)) * rate_);
}

double ClockLock::ppm() const {
  const double framesPerSecond = card_.slope() / rate_ * 1e9;
  return (framesPerSecond / sampleRate_ - 1) * 1e6;
}

}  // namespace stampline
