#include "synth/ltc_encoder.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace stampline {
namespace {

// The edge ramp is as many whole samples as fit in the 25 microsecond rise
// time allowed for LTC transitions.
constexpr int32_t kRiseTimeMicroseconds = 25;
constexpr double kMicrosecond = 1e-6;

int32_t amplitudeFor(double volume) {
  const double scaled = volume * 32767.0;
  if (std::isnan(scaled)) return 0;
  // Clamped one short of INT32_MIN so that the level can always be negated.
  return static_cast<int32_t>(std::clamp(scaled, -2147483647.0, 2147483647.0));
}

}  // namespace

uint32_t LtcEncoder::clockSeed() {
  // The calendar clock in seconds, taken modulo 2^32.
  return static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
}

bool LtcEncoder::setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels,
                       FrameRate rate, bool dropFrame, double volume, bool clean) {
  return setup(start, sampleRate, channels, rate, dropFrame, volume, clean, clockSeed());
}

bool LtcEncoder::setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels,
                       FrameRate rate, bool dropFrame, double volume, bool clean,
                       uint32_t noiseSeed) {
  currentTc_ = 0;
  channels_ = channels;
  schedule_ = FrameSchedule(rate, sampleRate, start, dropFrame);
  const double riseSamples =
      static_cast<double>(int64_t{sampleRate} * kRiseTimeMicroseconds) * kMicrosecond;
  rampSamples_ = clean ? 0 : static_cast<int32_t>(riseSamples);
  amplitude_ = amplitudeFor(volume);
  level_ = amplitude_;
  noise_.seed(noiseSeed);
  userBits_ = UserBits{};
  layout_ = kLayout30;
  plans_.clear();
  plans_.reserve(2);
  for (const uint64_t length : {schedule_.shortestFrame(), schedule_.longestFrame()}) {
    if (plans_.empty() || plans_.back().frameSamples() != length) {
      plans_.emplace_back(static_cast<uint32_t>(length), channels_, amplitude_, rampSamples_,
                          clean, noise_);
    }
  }
  return true;
}

void LtcEncoder::setUserBits(const UserBits& bits) {
  userBits_ = bits;
  const bool carried = bits.kind != UserBits::Kind::kNone;
  layout_ = carried && schedule_.rate().nominal == 25 ? kLayoutEbu : kLayout30;
  userBitsDay_ = 0;
  ::stampline::setUserBits(frame_, userBitsWord(bits, 0));
  setGroupFlags(frame_, layout_, groupFlags(bits));
}

const CellPlan& LtcEncoder::cellPlan(uint64_t frameSamples) const {
  return plans_.back().frameSamples() == frameSamples ? plans_.back() : plans_.front();
}

CellPlan& LtcEncoder::planFor(uint64_t frameSamples) {
  return plans_.back().frameSamples() == frameSamples ? plans_.back() : plans_.front();
}

uint32_t LtcEncoder::render(int16_t* buffer, uint64_t position, uint32_t maxValues,
                           bool update) {
  // A position inside a frame starts the output at that frame's first sample.
  uint64_t k = schedule_.frameAt(position).frame;
  uint64_t frameStart = schedule_.frameStart(k);
  int32_t signalLevel = level_;
  uint64_t written = 0;
  size_t slot = 0;
  // At least one frame is prepared, even for a buffer with no room at all.
  for (;; ++k, ++slot) {
    currentTc_ = schedule_.label(k) | (currentTc_ & 0xC0000000U);
    loadFrame(frame_, currentTc_, schedule_.dropFrame());
    if (userBits_.kind == UserBits::Kind::kDate) {
      // The frame's day: how many midnights its label lies after the start.
      const uint64_t day = (schedule_.startNumber() + k) /
                           labelsPerDay(schedule_.rate().nominal, schedule_.dropFrame());
      if (day != userBitsDay_) {
        ::stampline::setUserBits(frame_, userBitsWord(userBits_, day));
        userBitsDay_ = day;
      }
    }
    setPhaseBit(frame_, layout_.phaseBit);
    const uint64_t nextStart = schedule_.frameStart(k + 1);
    CellPlan& plan = planFor(nextStart - frameStart);
    frameStart = nextStart;
    if (written + plan.frameValues() > maxValues) {
      static_cast<void>(plan.writeCutFrame(buffer, written, maxValues, frame_, signalLevel));
      break;
    }
    const Rendered here{written, &plan, signalLevel, frame_};
    const bool same = update && slot < rendered_.size() && rendered_[slot].at == here.at &&
                      rendered_[slot].plan == here.plan && rendered_[slot].level == here.level;
    signalLevel =
        plan.writeFrame(buffer + written, frame_, signalLevel, same ? &rendered_[slot].frame : nullptr);
    if (slot < rendered_.size()) {
      rendered_[slot] = here;
    } else {
      rendered_.push_back(here);
    }
    written += plan.frameValues();
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
