#ifndef STAMPLINE_SYNTH_LTC_ENCODER_H_
#define STAMPLINE_SYNTH_LTC_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "synth/cell_plan.h"
#include "synth/noise_generator.h"
#include "timecode/frame_schedule.h"
#include "timecode/ltc_frame.h"
#include "timecode/timecode.h"
#include "timecode/user_bits.h"

namespace stampline {

// Every channel carries the signal (EncoderConfig::signalChannel).
inline constexpr int32_t kEveryChannel = -1;

// How an encoder shapes its signal, given once when it is made.
struct EncoderConfig {
  double volume = 0.5;  // peak level, 1.0 full scale; any value (beyond 1 clips)
  bool clean = false;   // no noise and no edge ramps
  uint32_t noiseSeed = 1;
  UserBits userBits;    // what every frame's user bits carry
  int32_t channels = 2;
  // The channel (0-based) that alone carries the signal, the others silent;
  // or kEveryChannel.
  int32_t signalChannel = kEveryChannel;
  SampleCoding coding;  // how values become the output's bytes
};

// The shape of every cell an encoder makes at `sampleRate`: its level, and
// edge ramps as many whole samples as fit in LTC's 25 us rise time (none
// when clean).
CellShape cellShapeOf(int32_t sampleRate, const EncoderConfig& config);
// Where frames keep their phase bit and group flags: the EBU layout at 25
// fps with user bits, the other otherwise.
FrameLayout frameLayoutOf(FrameRate rate, const UserBits& userBits);

// Turns a run's frame schedule into biphase-mark LTC audio. All waveform
// shaping (level, noise, edge ramps, the layout of the output's bytes)
// happens once, when the encoder is made; render() only picks and copies
// bytes, so every frame is exactly as long as the schedule makes it and
// consecutive calls join into one continuous signal.
//
// Not copyable: what it keeps about its last render points into its own
// cell plans.
class LtcEncoder {
 public:
  // The caller guarantees 1 <= channels, signalChannel below channels, a
  // coding with an encode function, and a schedule of at most one frame per
  // 80 samples. Frames at 25 fps carrying user bits follow the EBU layout
  // (the phase-correction bit is bit 59).
  LtcEncoder(const FrameSchedule& schedule, const EncoderConfig& config);
  LtcEncoder(const LtcEncoder&) = delete;
  LtcEncoder& operator=(const LtcEncoder&) = delete;

  // Writes whole LTC frames, starting with the frame that holds sample frame
  // `position`, into `buffer` and returns the number of values written (a
  // value is one channel's sample; the buffer holds the output's bytes).
  // Writes at most `maxValues` values; a frame that does not fit is cut
  // where the buffer ends. Called with a frame start and maxValues = that
  // frame's length times channels it writes exactly that frame.
  //
  // With `update`, the caller guarantees that `buffer` holds, untouched,
  // what this encoder's previous call wrote into it. Frames that land where
  // that call put a frame of the same length starting at the same polarity
  // are then brought up to date in place: only the bytes of the frame whose
  // cells differ are copied (in a run, mostly the frame and second digits).
  [[nodiscard]] uint32_t render(uint8_t* buffer, uint64_t position, uint32_t maxValues,
                               bool update = false);

  const FrameSchedule& schedule() const { return schedule_; }
  int32_t channels() const { return channels_; }
  size_t valueBytes() const { return plans_.front().valueBytes(); }
  // The cells of frames `frameSamples` long, one of the schedule's lengths.
  const CellPlan& planFor(uint64_t frameSamples) const;
  int32_t rampSamples() const { return rampSamples_; }
  double amplitude() const { return amplitude_; }
  // The polarity of the signal where the last call left it: +1, -1, or 0
  // for silence.
  int32_t level() const { return level_; }
  TimecodeWord currentTc() const { return currentTc_; }
  const LtcFrame& frame() const { return frame_; }

 private:
  CellPlan& plan(uint64_t frameSamples);
  void prepareFrame(uint64_t k, TimecodeWord label);

  const FrameSchedule schedule_;
  const int32_t channels_;
  LtcFrame frame_;
  TimecodeWord currentTc_ = 0;
  int32_t rampSamples_ = 0;
  double amplitude_ = 0;
  // Sign of the last half-cell written: negated at every cell start and after
  // every one-cell's mid-point transition; carried from call to call.
  int32_t level_ = 0;
  NoiseGenerator noise_;
  // One plan per frame length, the shorter first.
  std::vector<CellPlan> plans_;
  UserBits userBits_;
  FrameLayout layout_ = kLayout30;
  uint64_t userBitsDay_ = 0;  // the day whose date the frame's user bits hold
  // What the last call left in its buffer, frame by frame.
  struct Rendered {
    uint64_t at;  // first value
    const CellPlan* plan;
    int32_t level;  // at the frame's start
    LtcFrame frame;
  };
  std::vector<Rendered> rendered_;
};

}  // namespace stampline

#endif  // STAMPLINE_SYNTH_LTC_ENCODER_H_
