#include "synth/ltc_encoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <ctime>

namespace stampline {
namespace {

constexpr int kBitsPerFrame = 80;
// No more than half the cells of a frame are ever made one sample longer.
constexpr int kMaxLongCells = 40;
constexpr int64_t kMaxSample = 32767;
// 1/32767 as the single-precision constant the noise scale is built on:
// exactly 2^-15 + 2^-30, not the double nearest 1/32767.
constexpr double kInverseFullScale = static_cast<double>(1.0F / 32767.0F);
static_assert(kInverseFullScale == 0x1p-15 + 0x1p-30);
constexpr double kNoiseFraction = 0.05;
// The edge ramp is as many whole samples as fit in the 25 microsecond rise
// time allowed for LTC transitions.
constexpr int32_t kRiseTimeMicroseconds = 25;
constexpr double kMicrosecond = 1e-6;

int16_t clipSample(int64_t value) {
  return static_cast<int16_t>(std::clamp(value, -kMaxSample, kMaxSample));
}

int32_t amplitudeFor(double volume) {
  const double scaled = volume * 32767.0;
  if (std::isnan(scaled)) return 0;
  // Clamped one short of INT32_MIN so that the level can always be negated.
  return static_cast<int32_t>(std::clamp(scaled, -2147483647.0, 2147483647.0));
}

// Sets sample frame `frame` of `table` to `value` on every channel.
void put(std::vector<int16_t>& table, int frame, int channels, int16_t value) {
  const auto first = static_cast<size_t>(frame) * static_cast<size_t>(channels);
  std::fill_n(table.begin() + static_cast<std::ptrdiff_t>(first), channels, value);
}

}  // namespace

int64_t cellNoise(int64_t signedAmplitude, int draw) {
  if (2 * draw < NoiseGenerator::kMax) draw += NoiseGenerator::kMax / 2;
  return static_cast<int64_t>((static_cast<double>(signedAmplitude) *
                               (static_cast<double>(draw) * kInverseFullScale)) *
                              kNoiseFraction);
}

bool LtcEncoder::setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels,
                       int32_t fps, bool dropFrame, double volume, bool clean) {
  // The seed is the clock taken modulo 2^32.
  const auto seed = static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
  return setup(start, sampleRate, channels, fps, dropFrame, volume, clean, seed);
}

bool LtcEncoder::setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels,
                       int32_t fps, bool dropFrame, double volume, bool clean,
                       uint32_t noiseSeed) {
  currentTc_ = 0;
  startTc_ = start;
  volume_ = volume;
  channels_ = channels;
  dropFrame_ = dropFrame;
  fps_ = fps;
  clean_ = clean;
  sampleRate_ = sampleRate;

  samplesPerFrame_ = sampleRate / fps;
  samplesPerBit_ = samplesPerFrame_ / kBitsPerFrame;
  extraSamples_ = samplesPerFrame_ % kBitsPerFrame;
  rampSamples_ = clean ? 0
                       : static_cast<int32_t>(
                             static_cast<double>(int64_t{sampleRate} * kRiseTimeMicroseconds) *
                             kMicrosecond);
  amplitude_ = amplitudeFor(volume_);
  level_ = amplitude_;
  noise_.seed(noiseSeed);
  return buildCellTables();
}

bool LtcEncoder::buildCellTables() {
  const int bitFrames = samplesPerBit_;
  const int ramp = rampSamples_;
  const int split = bitFrames / 2;
  const int steady = bitFrames - ramp;
  const int64_t a = amplitude_;
  const auto shortSize = static_cast<size_t>(bitFrames) * static_cast<size_t>(channels_);
  const auto longSize = static_cast<size_t>(bitFrames + 1) * static_cast<size_t>(channels_);

  CellTables& t = tables_;
  for (auto* table : {&t.zeroHigh, &t.zeroLow, &t.oneHigh, &t.oneLow}) table->assign(shortSize, 0);
  for (auto* table : {&t.zeroHighLong, &t.zeroLowLong, &t.oneHighLong, &t.oneLowLong}) {
    table->assign(longSize, 0);
  }

  // Steady part: the full level plus a little noise whose sign alternates
  // from one sample frame to the next.
  int64_t sign = 1;
  int16_t last = clipSample(a);
  for (int j = 0; j < steady; ++j) {
    int64_t noise = 0;
    if (!clean_) {
      noise = cellNoise(a * sign, noise_.next());
      sign = -sign;
    }
    const int16_t high = clipSample(a + noise);
    const auto low = static_cast<int16_t>(-high);
    const bool firstHalf = j < split;
    put(t.zeroHigh, j, channels_, high);
    put(t.zeroHighLong, j, channels_, high);
    put(t.zeroLow, j, channels_, low);
    put(t.zeroLowLong, j, channels_, low);
    put(t.oneHigh, j, channels_, firstHalf ? high : low);
    put(t.oneHighLong, j, channels_, firstHalf ? high : low);
    put(t.oneLow, j, channels_, firstHalf ? low : high);
    put(t.oneLowLong, j, channels_, firstHalf ? low : high);
    last = high;
  }

  if (ramp == 0) {
    // The extra frame of a Long cell repeats the last steady frame.
    put(t.zeroHighLong, bitFrames, channels_, last);
    put(t.oneLowLong, bitFrames, channels_, last);
    put(t.zeroLowLong, bitFrames, channels_, static_cast<int16_t>(-last));
    put(t.oneHighLong, bitFrames, channels_, static_cast<int16_t>(-last));
    return true;
  }

  // Edge ramp: the cell's last samples fall toward zero, keeping the sign of
  // its second half, and stop one step short of zero; the next cell starts at
  // full level after its polarity reversal.
  const auto rampValue = [a](int k, int divisor) {
    const double fallen = (static_cast<double>(k) * static_cast<double>(a)) / divisor;
    return clipSample(static_cast<int64_t>(static_cast<double>(a) - fallen));
  };
  for (int k = 1; k <= ramp; ++k) {
    const int16_t v = rampValue(k, ramp + 1);
    put(t.zeroHigh, steady + k - 1, channels_, v);
    put(t.oneLow, steady + k - 1, channels_, v);
    put(t.zeroLow, steady + k - 1, channels_, static_cast<int16_t>(-v));
    put(t.oneHigh, steady + k - 1, channels_, static_cast<int16_t>(-v));
  }
  for (int k = 1; k <= ramp + 1; ++k) {
    const int16_t w = rampValue(k, ramp + 2);
    put(t.zeroHighLong, steady + k - 1, channels_, w);
    put(t.oneLowLong, steady + k - 1, channels_, w);
    put(t.zeroLowLong, steady + k - 1, channels_, static_cast<int16_t>(-w));
    put(t.oneHighLong, steady + k - 1, channels_, static_cast<int16_t>(-w));
  }
  return true;
}

uint32_t LtcEncoder::render(int16_t* buffer, uint64_t position, uint32_t maxValues) {
  const uint64_t valuesPerFrame =
      static_cast<uint64_t>(channels_) * static_cast<uint64_t>(samplesPerFrame_);
  uint64_t frameCount = (uint64_t{maxValues} + valuesPerFrame - 1) / valuesPerFrame;
  if (frameCount == 0) frameCount = 1;

  // A position inside a frame starts the output at that frame's first sample.
  const int32_t offset =
      timecodeAt(position, sampleRate_, fps_, currentTc_, startTc_, dropFrame_);
  const uint64_t stepBack = std::min<uint64_t>(static_cast<uint64_t>(std::max(offset, 0)), position);
  uint64_t frameStart = position - stepBack;

  const CellTables& t = tables_;
  uint32_t written = 0;
  for (uint64_t f = 0; f < frameCount; ++f) {
    timecodeAt(frameStart, sampleRate_, fps_, currentTc_, startTc_, dropFrame_);
    loadFrame(frame_, currentTc_, dropFrame_);
    setPhaseBit(frame_);

    // The frame's extraSamples long cells go to the first candidates in
    // transmission order; candidates are the bits whose byte index times bit
    // index is even.
    int longCount = 0;
    for (int k = 0; k < 10; ++k) {
      const uint8_t byte = frame_.bytes[static_cast<size_t>(k)];
      for (int b = 0; b < 8; ++b) {
        level_ = -level_;
        const bool isLong = longCount < extraSamples_ && longCount < kMaxLongCells && (k * b) % 2 == 0;
        if (isLong) ++longCount;
        uint64_t cellValues = static_cast<uint64_t>(channels_) *
                              static_cast<uint64_t>(samplesPerBit_ + (isLong ? 1 : 0));
        if (written >= maxValues) return written;
        if (written + cellValues > maxValues) cellValues = maxValues - written;

        const bool one = ((byte >> b) & 1U) != 0;
        const bool high = level_ > 0;
        const std::vector<int16_t>& table =
            one ? (isLong ? (high ? t.oneHighLong : t.oneLowLong) : (high ? t.oneHigh : t.oneLow))
                : (isLong ? (high ? t.zeroHighLong : t.zeroLowLong)
                          : (high ? t.zeroHigh : t.zeroLow));
        std::memcpy(buffer + written, table.data(), cellValues * sizeof(int16_t));
        if (one) level_ = -level_;
        written += static_cast<uint32_t>(cellValues);
      }
    }
    frameStart += static_cast<uint64_t>(samplesPerFrame_);
  }
  return written;
}

}  // namespace stampline
