#ifndef STAMPLINE_SYNTH_CELL_PLAN_H_
#define STAMPLINE_SYNTH_CELL_PLAN_H_

#include <array>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "synth/noise_generator.h"
#include "timecode/ltc_frame.h"

// The sample values come from IEEE double arithmetic rounded after every
// operation, and a file's bytes from them. A build that keeps wider
// intermediates (the x87 unit of 32-bit x86, without SSE2 maths) would
// write other bytes at volumes on a rounding edge, so it is refused.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "Stampline needs double arithmetic rounded at every operation (FLT_EVAL_METHOD 0): on 32-bit x86 build with -msse2 -mfpmath=sse (set CMAKE_SYSTEM_PROCESSOR to i686)"
#endif

namespace stampline {

// How the encoder's sample values become the bytes of the output. The
// output's layer supplies it: the values' full scale, whether they are whole
// numbers (integer samples) or not (floating point), how many bytes one
// value takes, and the function that writes `count` values as those bytes.
// The encoder shapes values once, at set-up, has them written this way, and
// from then on only copies bytes, so every sample format and byte order
// renders alike.
struct SampleCoding {
  double fullScale = 32767.0;
  bool integral = true;
  size_t valueBytes = 2;
  std::function<void(const double* values, size_t count, uint8_t* out)> encode;
};

// The eight bit-cell waveforms of one channel, a value per sample frame. A
// cell starts High (positive) or Low (negative); a one-cell reverses at
// frame samplesPerBit / 2, also in the Long tables, which are one sample
// frame longer. Every Low table is the exact negation of its High twin.
struct CellTables {
  std::vector<double> zeroHigh, zeroLow, oneHigh, oneLow;
  std::vector<double> zeroHighLong, zeroLowLong, oneHighLong, oneLowLong;
};

// What shapes every cell of a run, whatever the frame's length.
struct CellShape {
  int32_t channels = 2;
  int32_t signalChannel = -1;  // the only channel carrying the signal (0-based), or -1: all
  double amplitude = 16383;    // a steady sample's level, in the coding's full scale
  int32_t rampSamples = 0;     // edge ramp, in sample frames; shorter than half a cell
  bool clean = false;          // no noise (and no ramp, which the caller sees to)
  SampleCoding coding;
};

// The noise added to one steady sample frame: `signedAmplitude` is the
// amplitude times the frame's alternating sign, `draw` a NoiseGenerator value
// 0 ... 32767, folded into the upper half of that range so that the noise is
// 2.5 to 5 percent of the amplitude. Whole samples keep the whole part.
double cellNoise(double signedAmplitude, int draw, bool integral);

// How the frames of one length are cut into 80 bit cells, and the bytes a
// frame is copied from. Cells are samplesPerBit sample frames long, and
// extraSamples of them one longer, so the frame has exactly its length.
//
// All shaping happens here, once: the eight cell tables (level, noise, edge
// ramps), laid out as the output's bytes for every channel (silence on the
// channels that carry no signal), and from them, where they fit in a few
// MiB, the cells of every value of the low four bits of frame bytes 0-7,
// from either polarity. Those four bits hold everything that changes from
// frame to frame (the timecode digits, the drop-frame and phase bits); the
// high four bits are user bits, which a run holds still, so the waves are
// built for the user bits of the frames being written.
class CellPlan {
 public:
  // The caller guarantees frameSamples >= 80 and 1 <= channels. Noise is
  // drawn from `noise` unless the shape is clean.
  CellPlan(uint32_t frameSamples, const CellShape& shape, NoiseGenerator& noise);

  uint32_t frameSamples() const { return frameSamples_; }
  uint32_t frameValues() const { return frameValues_; }
  size_t valueBytes() const { return valueBytes_; }
  int32_t samplesPerBit() const { return samplesPerBit_; }
  int32_t extraSamples() const { return extraSamples_; }
  const CellTables& tables() const { return tables_; }

  // Writes all of `frame`, its cells starting from `level` (flipped at every
  // cell start and in the middle of every one-cell); returns the level after
  // the frame. `out` has room for frameValues() values. When `previous` is
  // given, `out` already holds that frame, written by this plan from the
  // same level, and only the bytes whose cells differ are copied.
  int32_t writeFrame(uint8_t* out, const LtcFrame& frame, int32_t level,
                     const LtcFrame* previous = nullptr);
  // The same cell by cell into `buffer` from value `written` on, stopping
  // where `written` reaches `limit` (the last cell cut to the room left).
  // False when the buffer filled before the frame's end.
  [[nodiscard]] bool writeCutFrame(uint8_t* buffer, uint64_t& written, uint64_t limit,
                                   const LtcFrame& frame, int32_t& level) const;

 private:
  static constexpr size_t kBytesPerFrame = 10;
  static constexpr size_t kWavedBytes = 8;  // bytes 0-7; 8 and 9 are the sync word

  void planCells();
  void layOutSlots(const CellShape& shape);
  void buildByteWaves(const LtcFrame& userBits);
  size_t byteLength(size_t k) const { return byteStart_[k + 1] - byteStart_[k]; }
  size_t byteWave(size_t k, unsigned value, int32_t entryLevel) const;
  const uint8_t* cellTable(size_t bit, bool one, int32_t level) const;
  int32_t writeByteCells(uint8_t* out, size_t k, unsigned value, int32_t level) const;
  int32_t writeByte(uint8_t* out, size_t k, unsigned value, int32_t level) const;

  uint32_t frameSamples_;
  int32_t samplesPerBit_;
  int32_t extraSamples_;
  size_t valueBytes_;
  size_t sampleFrameBytes_;  // one value a channel
  CellTables tables_;
  // Per frame bit: its cell's length in bytes and its first table slot
  // (0 short, 4 Long).
  std::array<uint32_t, 80> cellBytes_{};
  std::array<uint8_t, 80> cellSlot_{};
  std::array<size_t, kBytesPerFrame + 1> byteStart_{};  // each frame byte's first output byte
  uint32_t frameValues_ = 0;
  // The eight tables as output bytes, in equal slots, in declaration order.
  size_t slotBytes_ = 0;
  std::vector<uint8_t> slots_;
  // The waves of each frame byte, by value and entry level (empty where
  // they would take too much memory: bytes are then written cell by cell),
  // and the user bits (high four bits of bytes 0-7, as they lie in memory)
  // they were built for.
  std::array<size_t, kBytesPerFrame> byteWaveStart_{};
  std::vector<uint8_t> byteWaves_;
  uint64_t userBits_ = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_SYNTH_CELL_PLAN_H_
