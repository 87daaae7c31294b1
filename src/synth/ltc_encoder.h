#ifndef STAMPLINE_SYNTH_LTC_ENCODER_H_
#define STAMPLINE_SYNTH_LTC_ENCODER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "synth/noise_generator.h"
#include "timecode/ltc_frame.h"
#include "timecode/timecode.h"

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

// Turns timecodes into biphase-mark LTC audio. All waveform shaping (level,
// noise, edge ramps) happens once in setup(); render() only picks and copies
// cell tables, so every frame is exactly samplesPerFrame() sample frames and
// consecutive calls join into one continuous signal.
class LtcEncoder {
 public:
  // Only the frame word is valid until setup() has run.
  LtcEncoder() = default;

  // Takes the run's settings, derives the timing constants, seeds the noise
  // from the calendar clock and builds the cell tables. The caller guarantees
  // sampleRate > 0, channels of 1 or 2, and fps > 0 with
  // sampleRate / fps >= 80 (the command line admits 22050, 44100 or 48000 Hz
  // at 25 or 30 fps). Any volume is accepted: out-of-range sample values are
  // clipped to +-32767. Always returns true.
  bool setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels, int32_t fps,
             bool dropFrame, double volume, bool clean);
  // The same with an explicit noise seed, so a run can be reproduced.
  bool setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels, int32_t fps,
             bool dropFrame, double volume, bool clean, uint32_t noiseSeed);

  // Writes whole LTC frames, starting with the frame that holds sample frame
  // `position`, into `buffer` and returns the number of 16-bit values written.
  // Writes at most `maxValues` values (the buffer must have room for them);
  // a frame that does not fit is cut where the buffer ends. Called with a
  // frame start and maxValues = samplesPerFrame() * channels it writes exactly
  // one frame.
  uint32_t render(int16_t* buffer, uint64_t position, uint32_t maxValues);

  // The noise seed that setup() takes from the calendar clock.
  static uint32_t clockSeed();

  int32_t samplesPerFrame() const { return samplesPerFrame_; }
  int32_t samplesPerBit() const { return samplesPerBit_; }
  int32_t extraSamples() const { return extraSamples_; }
  int32_t rampSamples() const { return rampSamples_; }
  int32_t amplitude() const { return amplitude_; }
  int32_t level() const { return level_; }
  int32_t channels() const { return channels_; }
  TimecodeWord currentTc() const { return currentTc_; }
  const LtcFrame& frame() const { return frame_; }
  const CellTables& tables() const { return tables_; }

 private:
  static constexpr size_t kBytesPerFrame = 10;

  bool buildCellTables();
  void planCells();
  size_t byteValues(size_t k) const;
  size_t byteWave(size_t k, unsigned value, int32_t entryLevel) const;
  int32_t writeWholeFrame(int16_t* out, int32_t signalLevel);
  int32_t writeBytes(int16_t* out, size_t begin, size_t end, int32_t signalLevel) const;
  const int16_t* cellTable(size_t bit, bool one, int32_t signalLevel) const;
  int32_t writeByteCells(int16_t* out, size_t k, unsigned value, int32_t signalLevel) const;
  [[nodiscard]] bool writeCutFrame(int16_t* buffer, uint64_t& written, uint64_t limit,
                                   int32_t& signalLevel) const;

  LtcFrame frame_;
  TimecodeWord currentTc_ = 0;
  TimecodeWord startTc_ = 0;
  bool clean_ = false;
  int32_t sampleRate_ = 0;
  int32_t channels_ = 0;
  int32_t fps_ = 0;
  bool dropFrame_ = false;
  double volume_ = 0.0;
  int32_t samplesPerFrame_ = 0;
  int32_t samplesPerBit_ = 0;
  int32_t rampSamples_ = 0;
  int32_t extraSamples_ = 0;
  int32_t amplitude_ = 0;
  // Sign of the last half-cell written: negated at every cell start and after
  // every one-cell's mid-point transition; carried from call to call.
  int32_t level_ = 0;
  NoiseGenerator noise_;
  CellTables tables_;

  // What render() works from, all fixed at set-up and built from the tables.
  // Which bits get a long cell is the same for every frame: per bit, its
  // length in values and its first slot (0 short, 4 Long).
  std::array<uint32_t, 80> cellValues_{};
  std::array<uint8_t, 80> cellSlot_{};
  std::array<size_t, kBytesPerFrame + 1> byteStart_{};  // each byte's first value
  uint32_t frameValues_ = 0;                              // values in a whole frame
  // The eight tables in equal slots, in declaration order.
  size_t slotValues_ = 0;
  std::vector<int16_t> slots_;
  // The cells of every value each frame byte can hold, started from a
  // positive and from a negative level: the frame's waveform a byte at a time.
  std::array<size_t, kBytesPerFrame> byteWaveStart_{};
  std::vector<int16_t> byteWaves_;
  // The waves of frame bytes 2-9 as last written, by entry level and parity.
  static constexpr size_t kFirstTailByte = 2;
  static constexpr uint64_t kNoTail = ~uint64_t{0};
  struct TailWave {
    uint64_t key = kNoTail;  // bytes 2-9 as they lie in memory
    int32_t exitLevel = 0;
    std::vector<int16_t> wave;
  };
  std::array<TailWave, 4> tails_;
};

}  // namespace stampline

#endif  // STAMPLINE_SYNTH_LTC_ENCODER_H_
