// The edge finder's other ways: reversals as the steps of the signal, or
// rebuilt (edge_rebuilder.h).
//
// A polarity reversal is a step, and a linear channel keeps it a step of
// its own shape, wherever it moves the signal's crossings: a high-pass
// turns each into a spike that decays and rings past zero within a cell.
// The measure of a step at a sample boundary is the sample after it less
// the one before (a mean over more samples blurred the spikes a high-pass
// leaves, which last a sample or two); a reversal is a peak of that
// measure, the other way from the reversal before, that reaches half the
// size of recent ones and stands clear of the measure's size anywhere. Its
// place is the peak's, found between the boundaries by a parabola. After a
// cell or so without one, the size expected shrinks, so that a level that
// fell is followed within a frame.
#include <algorithm>
#include <cmath>

#include "decode/edge_finder.h"

namespace stampline {
namespace {

// A reversal's step reaches this share of recent ones', and this many
// times the measure's mean size over all boundaries.
constexpr double kStepShare = 0.5;
constexpr double kStepOverMean = 3;
// Recent reversals' size follows each new one by this share; the mean size
// follows each boundary by this one.
constexpr double kFollowSteps = 0.25;
constexpr double kFollowMean = 1.0 / 512;
// Past this many cells without a reversal, the size expected shrinks by
// this share a sample.
constexpr double kQuietCells = 3;
constexpr double kShrink = 0.98;
// Below this share of full scale the signal is silence.
constexpr double kSilence = 1.0 / 4096;

}  // namespace

// Sample `index` of the input, `v`: the step measure at the boundary whose
// window it completes, and a reversal where the one before was a peak.
void EdgeFinder::step(uint64_t index, double v) {
  // Before the input's first sample there was silence: a signal that
  // starts with a reversal steps there.
  if (seen_ == 0 && index == 0 && !joined_) recent_[recentSlot(seen_++)] = 0;
  recent_[recentSlot(seen_++)] = v;
  if (seen_ < 2) return;
  const double measure = v - recent_[recentSlot(seen_ - 2)];
  stepMean_ += kFollowMean * (std::abs(measure) - stepMean_);
  // The boundary of the measure before lies between the samples one and
  // two back from here.
  const double a = stepBefore_;
  const double b = stepLast_;
  const double c = measure;
  stepBefore_ = b;
  stepLast_ = c;
  ++sinceStep_;
  const double quiet = kQuietCells * std::max(window_, 8.0);
  if (static_cast<double>(sinceStep_) > quiet) stepTypical_ *= kShrink;
  const bool rising = b > 0;
  const double size = std::abs(b);
  const double enough = std::max(kStepShare * stepTypical_, kStepOverMean * stepMean_);
  if (size < enough || size < std::abs(a) || size <= std::abs(c) || state_ == (rising ? 1 : -1)) return;
  if (size < kSilence * fullScale_) return;
  const double curve = a - 2 * b + c;
  const double offset = curve != 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
  accept(static_cast<double>(index) - 1.5 + offset, rising);
  stepTypical_ = stepTypical_ > 0 ? stepTypical_ + kFollowSteps * (size - stepTypical_) : size;
  sinceStep_ = 0;
}

template <typename T>
void EdgeFinder::scanSteps(const T* samples, size_t stride, size_t frames) {
  for (size_t i = 0; i < frames; ++i) step(first_ + i, static_cast<double>(samples[i * stride]));
  measureLevel(samples, stride, frames);
}

template <typename T>
void EdgeFinder::scanRebuilt(const T* samples, size_t stride, size_t frames) {
  found_.items.clear();
  rebuilder_.scan(samples, stride, frames, found_.items);
  count_ = found_.items.size();
  reversals_ += count_;
  measureLevel(samples, stride, frames);
}

// The peak, and whether the samples are silence, for the ways that have
// no envelope.
template <typename T>
void EdgeFinder::measureLevel(const T* samples, size_t stride, size_t frames) {
  if (frames == 0) return;
  double highest = -HUGE_VAL;
  double lowest = HUGE_VAL;
  for (size_t i = 0; i < frames; ++i) {
    const auto v = static_cast<double>(samples[i * stride]);
    highest = std::max(highest, v);
    lowest = std::min(lowest, v);
  }
  peak_ = std::max({peak_, std::abs(highest), std::abs(lowest)});
  silent_ = (highest - lowest) / 2 < kSilence * fullScale_;
  first_ += frames;
  last_ = static_cast<double>(samples[(frames - 1) * stride]);
}

template void EdgeFinder::scanSteps(const int16_t*, size_t, size_t);
template void EdgeFinder::scanSteps(const int32_t*, size_t, size_t);
template void EdgeFinder::scanSteps(const float*, size_t, size_t);
template void EdgeFinder::scanRebuilt(const int16_t*, size_t, size_t);
template void EdgeFinder::scanRebuilt(const int32_t*, size_t, size_t);
template void EdgeFinder::scanRebuilt(const float*, size_t, size_t);

}  // namespace stampline
