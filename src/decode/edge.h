#ifndef STAMPLINE_DECODE_EDGE_H_
#define STAMPLINE_DECODE_EDGE_H_

#include <cmath>
#include <cstdint>

namespace stampline {

// A polarity reversal of one channel: where the signal crosses the level
// midway between its two states, in 1/kEdgeUnit sample frames from the
// start of the input (interpolated between the samples on either side),
// and which way. Whole numbers keep the decoder's steps from one reversal
// to the next in integer arithmetic. A position is rounded up, so that the
// first sample at or after it is that of the exact crossing.
struct Edge {
  int64_t position;
  bool rising;
};
constexpr int64_t kEdgeUnit = 256;
inline int64_t edgeUnits(double samples) { return static_cast<int64_t>(std::ceil(samples * kEdgeUnit)); }
inline double edgeSamples(int64_t units) { return static_cast<double>(units) / kEdgeUnit; }

}  // namespace stampline

#endif  // STAMPLINE_DECODE_EDGE_H_
