#ifndef STAMPLINE_TESTS_DEGRADED_H_
#define STAMPLINE_TESTS_DEGRADED_H_

// Degraded LTC with its truth: our encoder's signal played, spliced and
// degraded as a channel would (filters and a camera's input chain,
// clipping, crosstalk, level steps, speeds, shuttle and rocking, splices,
// dropouts, a change of rate, samples that are no number), and every frame
// that reached the output. The robustness tests read a few cases; the
// benchmark corpus (bench/corpus.sh) all of them at every rate.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "signal_ops.h"
#include "timecode/frame_rate.h"
#include "timecode/timecode.h"

namespace stampline::corpus {

constexpr int32_t kSampleRate = 48000;

// A frame of the truth: every one whose cells were played, whole or in
// part (a reader may still read a part's label where the cut spared its
// data), in output samples [start, end).
struct TruthFrame {
  size_t start;
  size_t end;
  TimecodeWord label;
  bool dropFrame;
  uint32_t userBits;
  bool forward;
  bool whole;
};

struct Degraded {
  Signal samples;  // peak 0.5 plus the encoder's noise, before degrading
  std::vector<TruthFrame> frames;
  // Where the timecode truly changes: a splice, a turn, a change of rate.
  std::vector<size_t> changes;
};

// The rates: "24", "25", "29.97df" and "30"; the cases by name.
std::vector<std::string> caseNames();
bool knownRate(const std::string& rate);
// `seconds` of case `name` at `rate` (both known).
Degraded degraded(const std::string& rate, const std::string& name, double seconds);

// How a reader's rows score against the truth: a row is right when a
// frame of the truth starts within half a frame of it (after the delay a
// codec adds: the median offset of the rows whose label the truth has;
// half the longest of the frame and its neighbours) or holds it, and has
// its label, drop-frame flag and user bits; wrong otherwise.
struct Row {
  int64_t sample;
  TimecodeWord label;
  bool dropFrame;
  uint32_t userBits;
};
struct Score {
  size_t right = 0;  // whole frames of the truth read right
  size_t wrong = 0;
};
Score score(const std::vector<TruthFrame>& truth, const std::vector<Row>& rows);
// Whether an event at `sample` has a true change within 1.5 frames of it.
bool nearChange(const Degraded& d, uint64_t sample);

}  // namespace stampline::corpus

#endif  // STAMPLINE_TESTS_DEGRADED_H_
