#ifndef STAMPLINE_SYNTH_CELL_PLAN_H_
#define STAMPLINE_SYNTH_CELL_PLAN_H_

#include <array>
#include <cfloat>
#include <cstddef>
#include <cstdint>
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

// The eight bit-cell waveforms, interleaved by channel like the output: the
// value of sample frame j for channel c is at j * channels + c. A cell starts
// High (positive) or Low (negative); a one-cell reverses at frame
// samplesPerBit / 2, also in the Long tables, which are one sample frame
// longer. Every Low table is the exact negation of its High twin.
struct CellTables {
  std::vector<int16_t> zeroHigh, zeroLow, oneHigh, oneLow;
  std::vector<int16_t> zeroHighLong, zeroLowLong, oneHighLong, oneLowLong;
};

// The noise added to one steady sample frame: `signedAmplitude` is the
// amplitude times the frame's alternating sign, `draw` a NoiseGenerator value
// 0 ... 32767, folded into the upper half of that range so that the noise is
// 2.5 to 5 percent of the amplitude.
int64_t cellNoise(int64_t signedAmplitude, int draw);

// How the frames of one length are cut into 80 bit cells, and the waveforms
// a frame is copied from. Cells are samplesPerBit sample frames long, and
// extraSamples of them one longer, so the frame has exactly its length.
//
// All shaping happens here, once: the eight cell tables (level, noise, edge
// ramps) and, from them, the cells of every value of the low four bits of
// frame bytes 0-7, from either polarity. Those four bits hold everything
// that changes from frame to frame (the timecode digits, the drop-frame and
// phase bits); the high four bits are user bits, which a run holds still,
// so the waves are built for the user bits of the frames being written.
class CellPlan {
 public:
  // The caller guarantees frameSamples >= 80, channels 1 or 2 and a ramp
  // shorter than half a cell. Noise is drawn from `noise` unless `clean`.
  CellPlan(uint32_t frameSamples, int32_t channels, int32_t amplitude, int32_t rampSamples,
           bool clean, NoiseGenerator& noise);

  uint32_t frameSamples() const { return frameSamples_; }
  uint32_t frameValues() const { return frameValues_; }
  int32_t samplesPerBit() const { return samplesPerBit_; }
  int32_t extraSamples() const { return extraSamples_; }
  const CellTables& tables() const { return tables_; }

  // Writes all of `frame`, its cells starting from `level` (flipped at every
  // cell start and in the middle of every one-cell); returns the level after
  // the frame. `out` has room for frameValues() values. When `previous` is
  // given, `out` already holds that frame, written by this plan from the
  // same level, and only the bytes whose waves differ are copied.
  int32_t writeFrame(int16_t* out, const LtcFrame& frame, int32_t level,
                     const LtcFrame* previous = nullptr);
  // The same cell by cell into `buffer` from `written` on, stopping where
  // `written` reaches `limit` (the last cell cut to the room left). False
  // when the buffer filled before the frame's end.
  [[nodiscard]] bool writeCutFrame(int16_t* buffer, uint64_t& written, uint64_t limit,
                                   const LtcFrame& frame, int32_t& level) const;

 private:
  static constexpr size_t kBytesPerFrame = 10;
  static constexpr size_t kWavedBytes = 8;  // bytes 0-7; 8 and 9 are the sync word

  void planCells();
  void buildByteWaves(const LtcFrame& userBits);
  size_t byteValues(size_t k) const { return byteStart_[k + 1] - byteStart_[k]; }
  size_t byteWave(size_t k, unsigned value, int32_t entryLevel) const;
  const int16_t* cellTable(size_t bit, bool one, int32_t level) const;
  int32_t writeByteCells(int16_t* out, size_t k, unsigned value, int32_t level) const;

  uint32_t frameSamples_;
  int32_t channels_;
  int32_t samplesPerBit_;
  int32_t extraSamples_;
  CellTables tables_;
  // Per frame bit: its cell's length in values and its first table slot
  // (0 short, 4 Long).
  std::array<uint32_t, 80> cellValues_{};
  std::array<uint8_t, 80> cellSlot_{};
  std::array<size_t, kBytesPerFrame + 1> byteStart_{};  // each byte's first value
  uint32_t frameValues_ = 0;
  // The eight tables in equal slots, in declaration order.
  size_t slotValues_ = 0;
  std::vector<int16_t> slots_;
  // The waves of each frame byte, by value and entry level, and the user
  // bits (high four bits of bytes 0-7, as they lie in memory) they were
  // built for.
  std::array<size_t, kBytesPerFrame> byteWaveStart_{};
  std::vector<int16_t> byteWaves_;
  uint64_t userBits_ = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_SYNTH_CELL_PLAN_H_
