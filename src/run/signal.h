#ifndef STAMPLINE_RUN_SIGNAL_H_
#define STAMPLINE_RUN_SIGNAL_H_

#include <cstdint>

#include "run/run_environment.h"
#include "synth/ltc_encoder.h"
#include "timecode/frame_rate.h"
#include "timecode/timecode.h"
#include "timecode/user_bits.h"
#include "wav/sample_format.h"

namespace stampline {

// The LTC a run makes, whatever it goes to: its rate and counting, its first
// label, its level and shape, and what its user bits carry.
struct LtcSignal {
  FrameRate rate = kRate30;
  bool dropFrame = false;
  TimecodeWord start = 0x00000001;  // 01:00:00:00, digits as given
  double volume = 0.5;              // peak level, 1.0 full scale
  bool clean = false;               // no noise, no edge ramps
  UserBits userBits;
};

// The encoder's values written as samples of `format`: the format's full
// scale, and its bytes as the WAV layer lays them out.
SampleCoding outputCoding(SampleFormat format);

// The encoder's settings for `signal` as samples of `format` on one
// channel; the caller sets the channels.
EncoderConfig encoderConfig(const LtcSignal& signal, SampleFormat format, const RunEnvironment& environment);

}  // namespace stampline

#endif  // STAMPLINE_RUN_SIGNAL_H_
