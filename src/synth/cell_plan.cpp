#include "synth/cell_plan.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace stampline {
namespace {

constexpr size_t kBitsPerFrame = 80;
constexpr auto kCellsPerFrame = static_cast<int32_t>(kBitsPerFrame);  // one cell per bit
// Up to this many extra samples go to the first cells that may take one;
// more are spread evenly over the frame.
constexpr int32_t kMostFrontLongCells = 40;
// The waves of every frame byte take about 26 frames' worth of bytes; past
// this, frames are written cell by cell instead (many channels at a high
// rate, where cells are long and copying them one by one costs nothing).
constexpr size_t kMostWaveBytes = size_t{4} << 20;
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

// Sets sample frame `frame` of the High table and its Low twin.
void putPair(std::vector<double>& high, std::vector<double>& low, int frame, double value) {
  high[static_cast<size_t>(frame)] = value;
  low[static_cast<size_t>(frame)] = -value;
}

// The steady part of every cell: the full level plus a little noise whose
// sign alternates from one sample frame to the next, one draw a sample
// frame for all eight tables. A one-cell reverses at `split`. Returns the
// last steady value.
double shapeSteadyPart(CellTables& t, int steady, int split, const CellShape& shape,
                       NoiseGenerator& noiseSource) {
  const double a = shape.amplitude;
  const double fullScale = shape.coding.fullScale;
  double sign = 1;
  double last = std::clamp(a, -fullScale, fullScale);
  for (int j = 0; j < steady; ++j) {
    double noise = 0;
    if (!shape.clean) {
      noise = cellNoise(a * sign, noiseSource.next(), shape.coding.integral);
      sign = -sign;
    }
    const double high = std::clamp(a + noise, -fullScale, fullScale);
    const double oneFirst = j < split ? high : -high;
    putPair(t.zeroHigh, t.zeroLow, j, high);
    putPair(t.zeroHighLong, t.zeroLowLong, j, high);
    putPair(t.oneHigh, t.oneLow, j, oneFirst);
    putPair(t.oneHighLong, t.oneLowLong, j, oneFirst);
    last = high;
  }
  return last;
}

// The ends of the cells after the steady part. Without a ramp, the extra
// frame of a Long cell repeats the last steady one. With one, the cell's
// last samples fall toward zero, keeping the sign of its second half, and
// stop one step short of zero (R steps with divisor R + 1, R + 1 steps with
// divisor R + 2 in a Long cell); the next cell starts at full level after
// its polarity reversal.
void shapeCellEnds(CellTables& t, int bitFrames, int steady, double last, const CellShape& shape) {
  const int ramp = shape.rampSamples;
  if (ramp == 0) {
    putPair(t.zeroHighLong, t.zeroLowLong, bitFrames, last);
    putPair(t.oneLowLong, t.oneHighLong, bitFrames, last);
    return;
  }
  const double a = shape.amplitude;
  const double fullScale = shape.coding.fullScale;
  const auto rampValue = [&](int k, int divisor) {
    const double fallen = (static_cast<double>(k) * a) / divisor;
    return std::clamp(shape.coding.integral ? std::trunc(a - fallen) : a - fallen, -fullScale,
                      fullScale);
  };
  for (int k = 1; k <= ramp; ++k) {
    putPair(t.zeroHigh, t.zeroLow, steady + k - 1, rampValue(k, ramp + 1));
    putPair(t.oneLow, t.oneHigh, steady + k - 1, rampValue(k, ramp + 1));
  }
  for (int k = 1; k <= ramp + 1; ++k) {
    putPair(t.zeroHighLong, t.zeroLowLong, steady + k - 1, rampValue(k, ramp + 2));
    putPair(t.oneLowLong, t.oneHighLong, steady + k - 1, rampValue(k, ramp + 2));
  }
}

// The eight cell tables for cells of `bitFrames` sample frames (and one
// more for the Long ones). Whole-numbered samples are truncated toward zero
// at every step that makes one, and every value is clipped to full scale.
void buildCellTables(CellTables& t, int bitFrames, const CellShape& shape, NoiseGenerator& noise) {
  for (auto* table : {&t.zeroHigh, &t.zeroLow, &t.oneHigh, &t.oneLow}) {
    table->assign(static_cast<size_t>(bitFrames), 0);
  }
  for (auto* table : {&t.zeroHighLong, &t.zeroLowLong, &t.oneHighLong, &t.oneLowLong}) {
    table->assign(static_cast<size_t>(bitFrames) + 1, 0);
  }
  const int steady = bitFrames - shape.rampSamples;
  const double last = shapeSteadyPart(t, steady, bitFrames / 2, shape, noise);
  shapeCellEnds(t, bitFrames, steady, last, shape);
}

// The high four bits of bytes 0-7: one load and one mask, as the frame is
// checked before every copy.
uint64_t userBitsOf(const LtcFrame& frame) {
  uint64_t bytes = 0;
  std::memcpy(&bytes, frame.bytes.data(), sizeof bytes);
  return bytes & 0xF0F0F0F0F0F0F0F0ULL;
}

// The index of the last of bytes 0-7 in which the two frames differ, or -1
// when none does (bytes 8 and 9, the sync word, never differ).
ptrdiff_t lastDifferingByte(const LtcFrame& a, const LtcFrame& b) {
  uint64_t x = 0;
  uint64_t y = 0;
  std::memcpy(&x, a.bytes.data(), sizeof x);
  std::memcpy(&y, b.bytes.data(), sizeof y);
  if (x == y) return -1;
  // Byte k of the frame is the k-th byte in memory, whatever the machine.
  if constexpr (std::endian::native == std::endian::little) {
    return 7 - std::countl_zero(x ^ y) / 8;
  } else {
    return 7 - std::countr_zero(x ^ y) / 8;
  }
}

}  // namespace

double cellNoise(double signedAmplitude, int draw, bool integral) {
  if (2 * draw < NoiseGenerator::kMax) draw += NoiseGenerator::kMax / 2;
  const double noise =
      (signedAmplitude * (static_cast<double>(draw) * kInverseFullScale)) * kNoiseFraction;
  return integral ? std::trunc(noise) : noise;
}

CellPlan::CellPlan(uint32_t frameSamples, const CellShape& shape, NoiseGenerator& noise)
    : frameSamples_(frameSamples),
      samplesPerBit_(static_cast<int32_t>(frameSamples) / kCellsPerFrame),
      extraSamples_(static_cast<int32_t>(frameSamples) % kCellsPerFrame),
      valueBytes_(shape.coding.valueBytes),
      sampleFrameBytes_(static_cast<size_t>(shape.channels) * shape.coding.valueBytes) {
  buildCellTables(tables_, samplesPerBit_, shape, noise);
  planCells();
  frameValues_ = static_cast<uint32_t>(byteStart_[kBytesPerFrame] / valueBytes_);
  layOutSlots(shape);
  size_t total = 0;
  for (size_t k = 0; k < kBytesPerFrame; ++k) {
    byteWaveStart_[k] = total;
    total += (k < kWavedBytes ? 32U : 2U) * byteLength(k);
  }
  if (total <= kMostWaveBytes) {
    byteWaves_.assign(total, 0);
    buildByteWaves(LtcFrame{});
  }
}

void CellPlan::planCells() {
  // Up to 40 extra samples go to the first cells in transmission order whose
  // byte index times bit index is even (all of bytes 0, 2, 4, 6, 8; even
  // bits of the others), as frames at the long-standing rates have always
  // been cut. More than 40, which only frame lengths of other rates have,
  // are spread evenly over the 80 cells, so no stretch of the frame runs
  // slower than the rest.
  int32_t longCount = 0;
  for (size_t bit = 0; bit < kBitsPerFrame; ++bit) {
    const size_t k = bit / 8;
    const size_t b = bit % 8;
    bool isLong = false;
    if (extraSamples_ <= kMostFrontLongCells) {
      isLong = longCount < extraSamples_ && (k * b) % 2 == 0;
    } else {
      const auto spread = [this](size_t cells) {
        return cells * static_cast<size_t>(extraSamples_) / kBitsPerFrame;
      };
      isLong = spread(bit + 1) > spread(bit);
    }
    const size_t cellFrames = static_cast<size_t>(samplesPerBit_) + (isLong ? 1U : 0U);
    cellBytes_[bit] = static_cast<uint32_t>(cellFrames * sampleFrameBytes_);
    cellSlot_[bit] = isLong ? 4 : 0;
    if (isLong) ++longCount;
  }
  byteStart_[0] = 0;
  for (size_t k = 0; k < kBytesPerFrame; ++k) {
    byteStart_[k + 1] = byteStart_[k];
    for (size_t b = 0; b < 8; ++b) byteStart_[k + 1] += cellBytes_[k * 8 + b];
  }
}

// The eight tables as the output's bytes, every channel interleaved: the
// signal where it is carried, silence elsewhere.
void CellPlan::layOutSlots(const CellShape& shape) {
  const CellTables& t = tables_;
  const std::vector<double>* inOrder[] = {&t.zeroHigh,     &t.zeroLow,      &t.oneHigh,
                                          &t.oneLow,       &t.zeroHighLong, &t.zeroLowLong,
                                          &t.oneHighLong,  &t.oneLowLong};
  const auto channels = static_cast<size_t>(shape.channels);
  slotBytes_ = t.zeroHighLong.size() * sampleFrameBytes_;
  slots_.assign(slotBytes_ * 8, 0);
  std::vector<double> interleaved;
  for (size_t i = 0; i < 8; ++i) {
    interleaved.assign(inOrder[i]->size() * channels, 0.0);
    for (size_t j = 0; j < inOrder[i]->size(); ++j) {
      for (size_t c = 0; c < channels; ++c) {
        if (shape.signalChannel < 0 || c == static_cast<size_t>(shape.signalChannel)) {
          interleaved[j * channels + c] = (*inOrder[i])[j];
        }
      }
    }
    shape.coding.encode(interleaved.data(), interleaved.size(), slots_.data() + i * slotBytes_);
  }
}

// Every value of the low four bits of bytes 0-7 with the user bits of
// `userBits`, and the sync word, written from either polarity.
void CellPlan::buildByteWaves(const LtcFrame& userBits) {
  userBits_ = userBitsOf(userBits);
  for (size_t k = 0; k < kBytesPerFrame; ++k) {
    const unsigned high = k < kWavedBytes ? userBits.bytes[k] & 0xF0U : userBits.bytes[k];
    for (unsigned low = 0; low < (k < kWavedBytes ? 16U : 1U); ++low) {
      for (const int32_t entryLevel : {1, -1}) {
        writeByteCells(byteWaves_.data() + byteWave(k, high | low, entryLevel), k, high | low,
                       entryLevel);
      }
    }
  }
}

size_t CellPlan::byteWave(size_t k, unsigned value, int32_t entryLevel) const {
  const unsigned low = k < kWavedBytes ? value & 0xFU : 0U;
  return byteWaveStart_[k] + (2 * low + (entryLevel > 0 ? 0U : 1U)) * byteLength(k);
}

// A frame byte's cells depend only on its value and the level it starts
// from, so a frame is ten copies of the waves written in advance. A level of
// 0 (amplitude 0) takes the Low waves, which are silence like every table.
int32_t CellPlan::writeFrame(uint8_t* out, const LtcFrame& frame, int32_t level,
                             const LtcFrame* previous) {
  // New user bits (a date that moved on): waves for them from here on. A
  // byte's wave depends on its value alone, so what `previous` left stays
  // right wherever the value is the same.
  if (!byteWaves_.empty() && userBitsOf(frame) != userBits_) buildByteWaves(frame);
  if (previous == nullptr) {
    for (size_t k = 0; k < kBytesPerFrame; ++k) {
      level = writeByte(out + byteStart_[k], k, frame.bytes[k], level);
    }
    return level;
  }
  // A byte is rewritten where its value or the level it starts from
  // differs. Both frames hold an even number of ones and share the sync
  // word, so after the last byte that differs the levels agree again, and
  // the frame ends at the level it began with.
  const int32_t entry = level;
  const auto end = static_cast<size_t>(lastDifferingByte(frame, *previous) + 1);
  bool levelsDiffer = false;
  for (size_t k = 0; k < end; ++k) {
    const unsigned value = frame.bytes[k];
    const unsigned old = previous->bytes[k];
    if (value != old || levelsDiffer) writeByte(out + byteStart_[k], k, value, level);
    // Eight cell starts and one mid-cell reversal per one bit.
    if (kOddParity[value]) level = -level;
    levelsDiffer = levelsDiffer != (kOddParity[value] != kOddParity[old]);
  }
  return entry;
}

int32_t CellPlan::writeByte(uint8_t* out, size_t k, unsigned value, int32_t level) const {
  if (byteWaves_.empty()) return writeByteCells(out, k, value, level);
  std::memcpy(out, byteWaves_.data() + byteWave(k, value, level), byteLength(k));
  return kOddParity[value] ? -level : level;
}

// The table for frame bit `bit` holding `one`, given the level after the
// flip that starts its cell: a positive level takes the High table, zero or
// negative the Low one. Slot order: zeroHigh, zeroLow, oneHigh, oneLow, then
// the Long ones.
const uint8_t* CellPlan::cellTable(size_t bit, bool one, int32_t level) const {
  const size_t slot = cellSlot_[bit] + (one ? 2U : 0U) + (level > 0 ? 0U : 1U);
  return slots_.data() + slot * slotBytes_;
}

// The eight cells of frame byte k holding `value`: the level flips at every
// cell start and again in the middle of a one-cell. Returns the level after
// the byte.
int32_t CellPlan::writeByteCells(uint8_t* out, size_t k, unsigned value, int32_t level) const {
  for (size_t b = 0; b < 8; ++b) {
    const size_t bit = k * 8 + b;
    level = -level;
    const bool one = ((value >> b) & 1U) != 0;
    std::memcpy(out, cellTable(bit, one, level), cellBytes_[bit]);
    out += cellBytes_[bit];
    if (one) level = -level;
  }
  return level;
}

bool CellPlan::writeCutFrame(uint8_t* buffer, uint64_t& written, uint64_t limit,
                             const LtcFrame& frame, int32_t& level) const {
  for (size_t bit = 0; bit < kBitsPerFrame; ++bit) {
    level = -level;
    if (written >= limit) return false;
    const uint64_t cellValues =
        std::min<uint64_t>(cellBytes_[bit] / valueBytes_, limit - written);
    const bool one = frame.bit(static_cast<int>(bit));
    std::memcpy(buffer + written * valueBytes_, cellTable(bit, one, level),
                static_cast<size_t>(cellValues) * valueBytes_);
    if (one) level = -level;
    written += cellValues;
  }
  return true;
}

}  // namespace stampline
