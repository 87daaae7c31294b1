#include "timecode/frame_schedule.h"

#include <numeric>

namespace stampline {

FrameSchedule::FrameSchedule(FrameRate rate, int32_t sampleRate, TimecodeWord start,
                             bool dropFrame)
    : rate_(rate),
      sampleRate_(sampleRate),
      dropFrame_(dropFrame),
      samplesPerSecondTimesDen_(static_cast<uint64_t>(sampleRate) * rate.denominator),
      shortest_(samplesPerSecondTimesDen_ / rate.numerator),
      wholeFrames_(samplesPerSecondTimesDen_ % rate.numerator == 0),
      startNumber_(labelNumber(start, rate.nominal, dropFrame)),
      origin_(gridSample(startNumber_)) {}

uint64_t FrameSchedule::gridSample(uint64_t x) const {
  // Where every frame is a whole number of samples, a product will do.
  if (wholeFrames_) return x * shortest_;
  // x * a / b as (x / b) * a + (x % b) * a / b: the remainder's product stays
  // below b * a, under 2^44 for every rate and sample rate there is.
  const uint64_t b = rate_.numerator;
  return (x / b) * samplesPerSecondTimesDen_ + (x % b) * samplesPerSecondTimesDen_ / b;
}

uint64_t FrameSchedule::lengthPeriod() const {
  return rate_.numerator / std::gcd(samplesPerSecondTimesDen_, uint64_t{rate_.numerator});
}

uint64_t FrameSchedule::frameStart(uint64_t k) const {
  return gridSample(startNumber_ + k) - origin_;
}

FrameSchedule::Place FrameSchedule::frameAt(uint64_t position) const {
  // Frame m of the day holds grid sample P when floor(m * a / b) <= P, that
  // is m * a < (P + 1) * b: m = floor(((P + 1) * b - 1) / a), split as in
  // gridSample so that nothing overflows.
  const uint64_t a = samplesPerSecondTimesDen_;
  const uint64_t b = rate_.numerator;
  const uint64_t next = origin_ + position + 1;
  const uint64_t whole = next / a;
  const uint64_t rest = next % a;
  const uint64_t m = rest == 0 ? whole * b - 1 : whole * b + (rest * b - 1) / a;
  return {m - startNumber_, origin_ + position - gridSample(m)};
}

TimecodeWord FrameSchedule::label(uint64_t k) const {
  return labelOfNumber(startNumber_ + k, rate_.nominal, dropFrame_);
}

FrameSchedule::Walk::Walk(const FrameSchedule& schedule, uint64_t k)
    : frame_(k),
      numerator_(schedule.rate_.numerator),
      spare_(schedule.samplesPerSecondTimesDen_ % numerator_),
      shortest_(schedule.shortest_),
      // Frame m of the day is floor(m * a / b) samples from midnight, and
      // floor((r + a) / b) long where r = m * a mod b: the whole frames of
      // a, and one sample more where the remainder passes b.
      remainder_((schedule.startNumber_ + k) % numerator_ * spare_ % numerator_),
      length_(shortest_ + (remainder_ + spare_ >= numerator_ ? 1 : 0)),
      label_(schedule.label(k)),
      nominal_(schedule.rate_.nominal),
      dropFrame_(schedule.dropFrame_) {}

void FrameSchedule::Walk::next() {
  remainder_ += spare_;
  if (remainder_ >= numerator_) remainder_ -= numerator_;
  length_ = shortest_ + (remainder_ + spare_ >= numerator_ ? 1 : 0);
  label_ = nextLabel(label_, nominal_, dropFrame_);
  ++frame_;
}

int32_t timecodeAt(uint64_t position, const FrameSchedule& schedule, TimecodeWord& current) {
  const FrameSchedule::Place place = schedule.frameAt(position);
  current = schedule.label(place.frame) | (current & 0xC0000000U);
  return static_cast<int32_t>(place.offset);
}

}  // namespace stampline
