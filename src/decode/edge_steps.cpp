// The edge finder's second way: reversals as the steps of the signal.
//
// A polarity reversal is a step, and a linear channel keeps it a step of
// its own shape, wherever it moves the signal's crossings: a high-pass
// turns each into a spike that decays and rings past zero within a cell,
// an all-pass rotates the cells' phase, so that the signal swings across
// its middle in mid-cell. The measure of a step at a sample boundary is
// the mean of the few samples after it less the mean of as many before (a
// quarter of a half cell, to stand above the noise without blurring a
// step into the next); a reversal is a peak of that measure, the other way
// from the reversal before, that reaches half the size of recent ones and
// stands clear of the measure's size anywhere. Its place is the peak's,
// found between the boundaries by a parabola. After a cell or so without
// one, the size expected shrinks, so that a level that fell is followed
// within a frame.
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
constexpr double kWidthCells = 1000;
// Below this share of full scale the signal is silence.
constexpr double kSilence = 1.0 / 4096;

}  // namespace

// Sample `index` of the input, `v`: the step measure at the boundary whose
// window it completes, and a reversal where the one before was a peak.
void EdgeFinder::step(uint64_t index, double v) {
  recent_[recentSlot(seen_++)] = v;
  const auto width = static_cast<uint64_t>(std::clamp(window_ / kWidthCells, 1.0, 4.0));
  if (seen_ < 2 * width) return;
  const auto at = [this](uint64_t back) { return recent_[recentSlot(seen_ - 1 - back)]; };
  double after = 0;
  double before = 0;
  for (uint64_t k = 0; k < width; ++k) {
    after += at(k);
    before += at(width + k);
  }
  const double measure = (after - before) / static_cast<double>(width);
  stepMean_ += kFollowMean * (std::abs(measure) - stepMean_);
  // The boundary of the measure before lies between the samples `width`
  // and `width + 1` back from here.
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
  accept(static_cast<double>(index) - static_cast<double>(width) - 0.5 + offset, rising);
  stepTypical_ = stepTypical_ > 0 ? stepTypical_ + kFollowSteps * (size - stepTypical_) : size;
  sinceStep_ = 0;
}

template <typename T>
void EdgeFinder::scanSteps(const T* samples, size_t stride, size_t frames) {
  double highest = -INFINITY;
  double lowest = INFINITY;
  for (size_t i = 0; i < frames; ++i) {
    double v = static_cast<double>(samples[i * stride]);
    if (!std::isfinite(v)) v = 0;  // a dropout
    highest = std::max(highest, v);
    lowest = std::min(lowest, v);
    step(first_ + i, v);
  }
  if (frames > 0) {
    peak_ = std::max({peak_, std::abs(highest), std::abs(lowest)});
    silent_ = (highest - lowest) / 2 < kSilence * fullScale_;
  }
  first_ += frames;
  last_ = frames > 0 ? static_cast<double>(samples[(frames - 1) * stride]) : last_;
}

template void EdgeFinder::scanSteps(const int16_t*, size_t, size_t);
template void EdgeFinder::scanSteps(const int32_t*, size_t, size_t);
template void EdgeFinder::scanSteps(const float*, size_t, size_t);

}  // namespace stampline
