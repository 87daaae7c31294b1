// Measures a recording of live output made by live_recorder, for the
// benchmarks: each frame's first edge against its label's instant on the
// wall clock, as the live tests measure it.
//
// usage: live_measure SAMPLES.f32 TIMES.txt FPS DROP(0|1) SKIP_SECONDS [AHEAD_SECONDS [each]]
// prints: frames rms p99.9 largest (in samples), the labels out of turn,
// the xruns seen and the server's own wander (rms, largest); with `each`,
// every frame's label and offset before that
#include <cstdio>
#include <cstdlib>
#include <string>

#include "live_check.h"
#include "timecode/frame_rate.h"
#include "timecode/timecode.h"

int main(int argc, char** argv) {
  using namespace stampline;
  if (argc < 6) {
    std::fputs("usage: live_measure SAMPLES.f32 TIMES.txt FPS DROP SKIP [AHEAD]\n", stderr);
    return 2;
  }
  const std::string fps = argv[3];
  const FrameRate rate = fps == "23.976" ? kRate23976 : fps == "24" ? kRate24 : fps == "25" ? kRate25
                         : fps == "29.97" ? kRate2997 : kRate30;
  const bool drop = std::atoi(argv[4]) != 0;
  const testing::EdgeOffsets o = testing::measureRecording(argv[1], argv[2], rate, drop, std::atof(argv[5]),
                                                           argc > 6 ? std::atof(argv[6]) : 0.0);
  if (argc > 7 && std::string(argv[7]) == "each") {
    for (size_t i = 0; i < o.offsets.size(); ++i) std::printf("%08x %.3f\n", o.labels[i], o.offsets[i]);
  }
  // Labels that do not follow the one before: skipped or repeated.
  size_t outOfTurn = 0;
  for (size_t i = 1; i < o.labels.size(); ++i) {
    if (labelNumber(o.labels[i], rate.nominal, drop) != labelNumber(o.labels[i - 1], rate.nominal, drop) + 1) {
      ++outOfTurn;
    }
  }
  std::printf("frames %zu rms %.3f p99.9 %.3f largest %.3f out_of_turn %zu xruns %zu wander %.3f %.3f\n",
              o.offsets.size(), o.rms, o.p999, o.largest, outOfTurn, o.xruns, o.wanderRms, o.wanderLargest);
  return o.offsets.empty() ? 1 : 0;
}
