#ifndef STAMPLINE_RUN_SAMPLE_SINK_H_
#define STAMPLINE_RUN_SAMPLE_SINK_H_

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "platform/stop.h"

namespace stampline {

// Where a run's samples go: a WAV file or stream (WavSink), next a sound
// card. The sink is open; the run gives it whole frames, then finishes it,
// or cuts it back after a failure or a stop.
class SampleSink {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~SampleSink() = default;

  // Before the first block.
  virtual IoResult begin(StopFlag stop) = 0;
  // Whole frames of samples, as the output lays them out; `now` for what
  // the sink does from time to time.
  virtual IoResult append(std::span<const uint8_t> block, StopFlag stop, Clock::time_point now) = 0;
  // Every frame is in: the output completed. False when that failed.
  [[nodiscard]] virtual bool finish() = 0;
  // After a failure or a stop: what can be kept is kept; returns the bytes
  // of whole frames the output holds.
  virtual uint64_t cut() = 0;
  // Lets go of the output; false when what was written could not be kept.
  [[nodiscard]] virtual bool close() = 0;
  // Whether a failure was the reader of a stream going away: a run then
  // ends quietly, as stream tools do on SIGPIPE.
  virtual bool readerGone() const { return false; }
  // What to say when appending or finishing failed.
  virtual std::string failure() const = 0;
};

}  // namespace stampline

#endif  // STAMPLINE_RUN_SAMPLE_SINK_H_
