#include "synth/ltc_encoder.h"

#include <algorithm>
#include <cmath>

namespace stampline {
namespace {

// The edge ramp is as many whole samples as fit in the 25 microsecond rise
// time allowed for LTC transitions.
constexpr int32_t kRiseTimeMicroseconds = 25;
constexpr double kMicrosecond = 1e-6;
// Any level is kept within the widest integer sample, so that it and its
// negation stay exact.
constexpr double kMostAmplitude = 2147483647.0;

double amplitudeFor(double volume, const SampleCoding& coding) {
  const double scaled = volume * coding.fullScale;
  if (std::isnan(scaled)) return 0;
  const double clamped = std::clamp(scaled, -kMostAmplitude, kMostAmplitude);
  return coding.integral ? std::trunc(clamped) : clamped;
}

}  // namespace

CellShape cellShapeOf(int32_t sampleRate, const EncoderConfig& config) {
  const double riseSamples = static_cast<double>(int64_t{sampleRate} * kRiseTimeMicroseconds) * kMicrosecond;
  return {config.channels, config.signalChannel, amplitudeFor(config.volume, config.coding),
          config.clean ? 0 : static_cast<int32_t>(riseSamples), config.clean, config.coding};
}

FrameLayout frameLayoutOf(FrameRate rate, const UserBits& userBits) {
  return userBits.kind != UserBits::Kind::kNone && rate.nominal == 25 ? kLayoutEbu : kLayout30;
}

LtcEncoder::LtcEncoder(const FrameSchedule& schedule, const EncoderConfig& config)
    : schedule_(schedule), channels_(config.channels), userBits_(config.userBits) {
  const CellShape shape = cellShapeOf(schedule_.sampleRate(), config);
  rampSamples_ = shape.rampSamples;
  amplitude_ = shape.amplitude;
  level_ = amplitude_ > 0 ? 1 : amplitude_ < 0 ? -1 : 0;
  noise_.seed(config.noiseSeed);
  plans_.reserve(2);
  for (const uint64_t length : {schedule_.shortestFrame(), schedule_.longestFrame()}) {
    if (plans_.empty() || plans_.back().frameSamples() != length) {
      plans_.emplace_back(static_cast<uint32_t>(length), shape, noise_);
    }
  }
  layout_ = frameLayoutOf(schedule_.rate(), userBits_);
  setUserBits(frame_, userBitsWord(userBits_, 0));
  setGroupFlags(frame_, layout_, groupFlags(userBits_));
}

const CellPlan& LtcEncoder::planFor(uint64_t frameSamples) const {
  return plans_.back().frameSamples() == frameSamples ? plans_.back() : plans_.front();
}

CellPlan& LtcEncoder::plan(uint64_t frameSamples) {
  return plans_.back().frameSamples() == frameSamples ? plans_.back() : plans_.front();
}

// Lays frame k's label, flags and user bits into the frame word.
void LtcEncoder::prepareFrame(uint64_t k, TimecodeWord label) {
  currentTc_ = label;
  loadFrame(frame_, currentTc_, schedule_.dropFrame());
  if (userBits_.kind == UserBits::Kind::kDate) {
    // The frame's day: how many midnights its label lies after the start.
    const uint64_t day = (schedule_.startNumber() + k) /
                         labelsPerDay(schedule_.rate().nominal, schedule_.dropFrame());
    if (day != userBitsDay_) {
      setUserBits(frame_, userBitsWord(userBits_, day));
      userBitsDay_ = day;
    }
  }
  setPhaseBit(frame_, layout_.phaseBit);
}

uint32_t LtcEncoder::render(uint8_t* buffer, uint64_t position, uint32_t maxValues, bool update) {
  // A position inside a frame starts the output at that frame's first sample.
  FrameSchedule::Walk walk(schedule_, schedule_.frameAt(position).frame);
  const size_t valueBytes = plans_.front().valueBytes();
  int32_t signalLevel = level_;
  uint64_t written = 0;
  size_t slot = 0;
  // At least one frame is prepared, even for a buffer with no room at all.
  for (;; walk.next(), ++slot) {
    prepareFrame(walk.frame(), walk.label());
    CellPlan& framePlan = plan(walk.length());
    if (written + framePlan.frameValues() > maxValues) {
      static_cast<void>(framePlan.writeCutFrame(buffer, written, maxValues, frame_, signalLevel));
      break;
    }
    const Rendered here{written, &framePlan, signalLevel, frame_};
    const bool same = update && slot < rendered_.size() && rendered_[slot].at == here.at &&
                      rendered_[slot].plan == here.plan && rendered_[slot].level == here.level;
    signalLevel = framePlan.writeFrame(buffer + written * valueBytes, frame_, signalLevel,
                                       same ? &rendered_[slot].frame : nullptr);
    if (slot < rendered_.size()) {
      rendered_[slot] = here;
    } else {
      rendered_.push_back(here);
    }
    written += framePlan.frameValues();
    if (written == maxValues) {
      ++slot;
      break;
    }
  }
  // A frame cut short is not kept: the next call writes that slot whole.
  rendered_.resize(std::min(rendered_.size(), slot));
  level_ = signalLevel;
  return static_cast<uint32_t>(written);
}

}  // namespace stampline
