#include "synth/ltc_encoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <ctime>

namespace stampline {
namespace {

constexpr size_t kBitsPerFrame = 80;
constexpr auto kCellsPerFrame = static_cast<int32_t>(kBitsPerFrame);  // one cell per bit
// No more than half the cells of a frame are ever made one sample longer.
constexpr int kMaxLongCells = 40;
constexpr int64_t kMaxSample = 32767;
// Which bits of each frame byte can change: the low `variableBits` (the
// timecode field, and the drop-frame flag in byte 1 and the phase bit in
// byte 3); the rest always hold `fixed` (user bits and flags 0, the sync word).
struct ByteField {
  int variableBits;
  unsigned fixed;
};
constexpr std::array<ByteField, 10> kByteFields{{
    {4, 0}, {3, 0}, {4, 0}, {4, 0}, {4, 0}, {3, 0}, {4, 0}, {2, 0}, {0, 0xFC}, {0, 0xBF}}};
// Whether a byte holds an odd number of one bits, by table: this runs ten
// times a frame, and a portable popcount is a library call.
constexpr std::array<bool, 256> oddParityTable() {
  std::array<bool, 256> odd{};
  for (unsigned v = 0; v < 256; ++v) odd[v] = std::popcount(v) % 2 != 0;
  return odd;
}
constexpr std::array<bool, 256> kOddParity = oddParityTable();
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

uint32_t LtcEncoder::clockSeed() {
  // The calendar clock in seconds, taken modulo 2^32.
  return static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
}

bool LtcEncoder::setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels,
                       int32_t fps, bool dropFrame, double volume, bool clean) {
  return setup(start, sampleRate, channels, fps, dropFrame, volume, clean, clockSeed());
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
  samplesPerBit_ = samplesPerFrame_ / kCellsPerFrame;
  extraSamples_ = samplesPerFrame_ % kCellsPerFrame;
  const double riseSamples =
      static_cast<double>(int64_t{sampleRate} * kRiseTimeMicroseconds) * kMicrosecond;
  rampSamples_ = clean ? 0 : static_cast<int32_t>(riseSamples);
  amplitude_ = amplitudeFor(volume_);
  level_ = amplitude_;
  noise_.seed(noiseSeed);
  const bool built = buildCellTables();
  planCells();
  return built;
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

void LtcEncoder::planCells() {
  // The first extraSamples candidates in transmission order get a long cell,
  // at most kMaxLongCells; candidates are the bits whose byte index times
  // bit index is even (all of bytes 0, 2, 4, 6, 8; even bits of the others).
  int longCount = 0;
  for (size_t bit = 0; bit < kBitsPerFrame; ++bit) {
    const size_t k = bit / 8;
    const size_t b = bit % 8;
    const bool isLong =
        longCount < extraSamples_ && longCount < kMaxLongCells && (k * b) % 2 == 0;
    const auto cellFrames = static_cast<uint32_t>(samplesPerBit_ + (isLong ? 1 : 0));
    cellValues_[bit] = cellFrames * static_cast<uint32_t>(channels_);
    cellSlot_[bit] = isLong ? 4 : 0;
    if (isLong) ++longCount;
  }
  byteStart_[0] = 0;
  for (size_t k = 0; k < kBytesPerFrame; ++k) {
    byteStart_[k + 1] = byteStart_[k];
    for (size_t b = 0; b < 8; ++b) byteStart_[k + 1] += cellValues_[k * 8 + b];
  }
  frameValues_ = static_cast<uint32_t>(byteStart_[kBytesPerFrame]);

  const CellTables& t = tables_;
  const std::vector<int16_t>* inOrder[] = {&t.zeroHigh,     &t.zeroLow,      &t.oneHigh,
                                           &t.oneLow,       &t.zeroHighLong, &t.zeroLowLong,
                                           &t.oneHighLong,  &t.oneLowLong};
  slotValues_ = t.zeroHighLong.size();
  slots_.assign(slotValues_ * 8, 0);
  for (size_t i = 0; i < 8; ++i) {
    std::copy(inOrder[i]->begin(), inOrder[i]->end(),
              slots_.begin() + static_cast<std::ptrdiff_t>(i * slotValues_));
  }

  // Every value a frame byte can take, written from either polarity.
  size_t total = 0;
  for (size_t k = 0; k < kBytesPerFrame; ++k) {
    byteWaveStart_[k] = total;
    total += (size_t{2} << kByteFields[k].variableBits) * byteValues(k);
  }
  byteWaves_.assign(total, 0);
  for (TailWave& tail : tails_) {
    tail.key = kNoTail;
    tail.wave.assign(frameValues_ - byteStart_[kFirstTailByte], 0);
  }
  for (size_t k = 0; k < kBytesPerFrame; ++k) {
    for (unsigned v = 0; v < (1U << kByteFields[k].variableBits); ++v) {
      const unsigned value = kByteFields[k].fixed | v;
      for (const int32_t entryLevel : {1, -1}) {
        writeByteCells(byteWaves_.data() + byteWave(k, value, entryLevel), k, value, entryLevel);
      }
    }
  }
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

  int32_t signalLevel = level_;
  uint64_t written = 0;
  for (uint64_t f = 0; f < frameCount; ++f) {
    // The first frame's label is already in currentTc_ when the call starts
    // on a frame boundary.
    if (f > 0 || frameStart != position) {
      timecodeAt(frameStart, sampleRate_, fps_, currentTc_, startTc_, dropFrame_);
    }
    loadFrame(frame_, currentTc_, dropFrame_);
    setPhaseBit(frame_);
    if (written + frameValues_ <= maxValues) {
      signalLevel = writeWholeFrame(buffer + written, signalLevel);
      written += frameValues_;
    } else if (!writeCutFrame(buffer, written, maxValues, signalLevel)) {
      break;
    }
    frameStart += static_cast<uint64_t>(samplesPerFrame_);
  }
  level_ = signalLevel;
  return static_cast<uint32_t>(written);
}

size_t LtcEncoder::byteValues(size_t k) const { return byteStart_[k + 1] - byteStart_[k]; }

size_t LtcEncoder::byteWave(size_t k, unsigned value, int32_t entryLevel) const {
  const unsigned variable = value & ((1U << kByteFields[k].variableBits) - 1U);
  return byteWaveStart_[k] + (2 * variable + (entryLevel > 0 ? 0U : 1U)) * byteValues(k);
}

// A frame byte's cells depend only on its value and the level it starts
// from, so frames are copied a byte at a time from the waves written at
// set-up. `out` is where byte `begin` goes; returns the level after byte
// `end` - 1.
int32_t LtcEncoder::writeBytes(int16_t* out, size_t begin, size_t end, int32_t signalLevel) const {
  for (size_t k = begin; k < end; ++k) {
    const unsigned value = frame_.bytes[k];
    int16_t* at = out + (byteStart_[k] - byteStart_[begin]);
    if ((value >> kByteFields[k].variableBits) << kByteFields[k].variableBits !=
        kByteFields[k].fixed) {
      signalLevel = writeByteCells(at, k, value, signalLevel);
      continue;
    }
    std::memcpy(at, byteWaves_.data() + byteWave(k, value, signalLevel),
                byteValues(k) * sizeof(int16_t));
    // Eight cell starts and one mid-cell reversal per one bit.
    if (kOddParity[value]) signalLevel = -signalLevel;
  }
  return signalLevel;
}

// Bytes 2 to 9 (seconds, minutes, hours, flags and the sync word) change
// about once a second, so their waves are kept from the frames before: one
// slot for each entry level and parity of those bytes (the phase bit flips
// that parity from frame to frame). Bytes 0 and 1 are copied every time. A
// level of 0 (amplitude 0) gives silence and is not kept.
int32_t LtcEncoder::writeWholeFrame(int16_t* out, int32_t signalLevel) {
  signalLevel = writeBytes(out, 0, kFirstTailByte, signalLevel);
  int16_t* tailOut = out + byteStart_[kFirstTailByte];
  if (signalLevel == 0) return writeBytes(tailOut, kFirstTailByte, kBytesPerFrame, signalLevel);
  // Bytes 2-9 are eight bytes: one load gives the key, and folding it
  // gives their parity.
  static_assert(kBytesPerFrame - kFirstTailByte == sizeof(uint64_t));
  uint64_t key = 0;
  std::memcpy(&key, frame_.bytes.data() + kFirstTailByte, sizeof key);
  const uint64_t folded = key ^ key >> 32;
  const bool odd = kOddParity[(folded ^ folded >> 16 ^ folded >> 8 ^ folded >> 24) & 0xFFU];
  TailWave& tail = tails_[(signalLevel > 0 ? 0U : 1U) + (odd ? 2U : 0U)];
  if (tail.key != key) {
    tail.exitLevel = writeBytes(tail.wave.data(), kFirstTailByte, kBytesPerFrame, signalLevel);
    tail.key = key;
  }
  std::memcpy(tailOut, tail.wave.data(), tail.wave.size() * sizeof(int16_t));
  return tail.exitLevel;
}

// The table for frame bit `bit` holding `one`, given the level after the
// flip that starts its cell: a positive level takes the High table, zero or
// negative the Low one. Slot order: zeroHigh, zeroLow, oneHigh, oneLow, then
// the Long ones.
const int16_t* LtcEncoder::cellTable(size_t bit, bool one, int32_t signalLevel) const {
  const size_t slot = cellSlot_[bit] + (one ? 2U : 0U) + (signalLevel > 0 ? 0U : 1U);
  return slots_.data() + slot * slotValues_;
}

// The bit step for the eight cells of frame byte k holding `value`: the
// level flips at every cell start and again in the middle of a one-cell.
// Returns the level after the byte.
int32_t LtcEncoder::writeByteCells(int16_t* out, size_t k, unsigned value, int32_t signalLevel) const {
  for (size_t b = 0; b < 8; ++b) {
    const size_t bit = k * 8 + b;
    signalLevel = -signalLevel;
    const bool one = ((value >> b) & 1U) != 0;
    std::memcpy(out, cellTable(bit, one, signalLevel), cellValues_[bit] * sizeof(int16_t));
    out += cellValues_[bit];
    if (one) signalLevel = -signalLevel;
  }
  return signalLevel;
}

// The bit step cell by cell for a frame that does not fit: stops when
// `written` reaches `limit`, cutting the last cell to the room left. Returns
// false when the buffer is full.
bool LtcEncoder::writeCutFrame(int16_t* buffer, uint64_t& written, uint64_t limit,
                               int32_t& signalLevel) const {
  for (size_t bit = 0; bit < kBitsPerFrame; ++bit) {
    signalLevel = -signalLevel;
    if (written >= limit) return false;
    const uint64_t cellValues = std::min<uint64_t>(cellValues_[bit], limit - written);
    const bool one = frame_.bit(static_cast<int>(bit));
    std::memcpy(buffer + written, cellTable(bit, one, signalLevel),
                static_cast<size_t>(cellValues) * sizeof(int16_t));
    if (one) signalLevel = -signalLevel;
    written += cellValues;
  }
  return true;
}

}  // namespace stampline
