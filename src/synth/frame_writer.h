#ifndef STAMPLINE_SYNTH_FRAME_WRITER_H_
#define STAMPLINE_SYNTH_FRAME_WRITER_H_

#include <cstdint>
#include <map>

#include "synth/cell_plan.h"
#include "synth/ltc_encoder.h"
#include "synth/noise_generator.h"
#include "timecode/frame_rate.h"
#include "timecode/ltc_frame.h"
#include "timecode/timecode.h"

namespace stampline {

// Writes LTC frames one at a time, each of any length (live output, whose
// frames the clock lengthens or shortens by a sample), from its label and
// user bits, shaped as the encoder shapes a file's: one channel of 32-bit
// float samples (native byte order). Cells are planned for each length the
// first time it comes (which allocates: not on a real-time thread).
class FrameWriter {
 public:
  // `config`: the level, noise and user bits (their kind sets the group
  // flags and the layout); one channel and float samples whatever it says.
  FrameWriter(FrameRate rate, bool dropFrame, int32_t sampleRate, const EncoderConfig& config);

  // Writes the frame of `label` with `userBits`, `length` samples (80 and
  // more), into `out`, its cells going on from where the last frame's
  // level left them.
  void write(float* out, TimecodeWord label, uint32_t userBits, uint32_t length);

 private:
  CellPlan& plan(uint32_t length);

  bool dropFrame_;
  FrameLayout layout_;
  unsigned groupFlags_;
  CellShape shape_;
  NoiseGenerator noise_;
  std::map<uint32_t, CellPlan> plans_;
  LtcFrame frame_;
  int32_t level_;
};

}  // namespace stampline

#endif  // STAMPLINE_SYNTH_FRAME_WRITER_H_
