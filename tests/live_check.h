#ifndef STAMPLINE_TESTS_LIVE_CHECK_H_
#define STAMPLINE_TESTS_LIVE_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "timecode/frame_rate.h"

namespace stampline::testing {

// How far each frame's first edge in a recording of live output lay from
// its label's instant on the wall clock (time of day, UTC), in samples:
// the recording's samples decoded by our reader, each mapped to the wall
// clock through lines fitted to the recorder's own cycle times and paired
// clock readings (tests/live_recorder.cpp), not through the player's.
struct EdgeOffsets {
  std::vector<double> offsets;  // one a frame, in order
  std::vector<uint32_t> labels;
  std::vector<uint32_t> everyLabel;  // of every frame read, those left out too
  double rms = 0;
  double p999 = 0;  // 99.9 % of the frames lie within this
  double largest = 0;
  uint32_t sampleRate = 0;
  size_t xruns = 0;  // reported by JACK or seen in the recorder's cycles (the ten seconds after each left out)
  // How far the server's own cycle times stray from the line they are
  // measured against, each averaged over the second about it (the
  // cycle-to-cycle jitter that any lock averages out left aside), over the
  // whole recording, in samples: no lock can place frames closer to the
  // line than the card's own times lie. A dummy server on a busy or
  // virtual machine, whose wake-ups come late by varying amounts, strays
  // by several samples; on a steady one by a small fraction of a sample.
  double wanderRms = 0;
  double wanderLargest = 0;
};
// `skipSeconds`: left out at the start; `aheadSeconds`: the frames were
// asked to leave that much early (--downstream-delay).
EdgeOffsets measureRecording(const std::string& samplesPath, const std::string& timesPath, FrameRate rate,
                             bool dropFrame, double skipSeconds, double aheadSeconds = 0);

}  // namespace stampline::testing

#endif  // STAMPLINE_TESTS_LIVE_CHECK_H_
