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

// Turns timecodes into biphase-mark LTC audio. All waveform shaping (level,
// noise, edge ramps) happens once in setup(); render() only picks and copies
// cell waves, so every frame is exactly as long as the run's frame schedule
// makes it and consecutive calls join into one continuous signal.
class LtcEncoder {
 public:
  // Only the frame word is valid until setup() has run.
  LtcEncoder() = default;

  // Takes the run's settings, lays out its frame schedule, seeds the noise
  // from the calendar clock and builds the cells for each frame length the
  // schedule has (one, or two where a frame is not a whole number of
  // samples). The caller guarantees sampleRate > 0, channels of 1 or 2, and
  // a rate of at most one frame per 80 samples. Any volume is accepted:
  // out-of-range sample values are clipped to +-32767. Always returns true.
  bool setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels, FrameRate rate,
             bool dropFrame, double volume, bool clean);
  // The same with an explicit noise seed, so a run can be reproduced.
  bool setup(const TimecodeWord& start, int32_t sampleRate, int32_t channels, FrameRate rate,
             bool dropFrame, double volume, bool clean, uint32_t noiseSeed);

  // Writes whole LTC frames, starting with the frame that holds sample frame
  // `position`, into `buffer` and returns the number of 16-bit values written.
  // Writes at most `maxValues` values (the buffer must have room for them);
  // a frame that does not fit is cut where the buffer ends. Called with a
  // frame start and maxValues = that frame's length times channels it writes
  // exactly that frame.
  //
  // With `update`, the caller guarantees that `buffer` holds, untouched,
  // what the previous call wrote into it. Frames that land where that call
  // put a frame of the same length starting at the same polarity are then
  // brought up to date in place: only the bytes of the frame whose cells
  // differ are copied (in a run, mostly the frame and second digits).
  [[nodiscard]] uint32_t render(int16_t* buffer, uint64_t position, uint32_t maxValues,
                               bool update = false);

  // From here on every frame carries `bits` as its user bits, with the
  // binary group flags that announce them; frames at 25 fps then follow the
  // EBU layout (the phase-correction bit is bit 59). A date moves on to the
  // next day where the labels pass midnight. Without this call the user
  // bits and flags stay 0 and every rate keeps the 30 fps layout.
  void setUserBits(const UserBits& bits);

  // The noise seed that setup() takes from the calendar clock.
  static uint32_t clockSeed();

  const FrameSchedule& schedule() const { return schedule_; }
  // The cells of frames `frameSamples` long, one of the schedule's lengths.
  const CellPlan& cellPlan(uint64_t frameSamples) const;
  int32_t rampSamples() const { return rampSamples_; }
  int32_t amplitude() const { return amplitude_; }
  int32_t level() const { return level_; }
  int32_t channels() const { return channels_; }
  TimecodeWord currentTc() const { return currentTc_; }
  const LtcFrame& frame() const { return frame_; }

 private:
  CellPlan& planFor(uint64_t frameSamples);

  LtcFrame frame_;
  TimecodeWord currentTc_ = 0;
  int32_t channels_ = 0;
  FrameSchedule schedule_;
  int32_t rampSamples_ = 0;
  int32_t amplitude_ = 0;
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
