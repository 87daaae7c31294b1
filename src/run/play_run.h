#ifndef STAMPLINE_RUN_PLAY_RUN_H_
#define STAMPLINE_RUN_PLAY_RUN_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/card_sink.h"
#include "run/run_environment.h"
#include "run/signal.h"
#include "timecode/timecode.h"

namespace stampline {

// LTC played live to a sound card.
struct PlayRequest {
  LtcSignal signal;
  bool freeRun = false;    // from signal.start at once; else the time of day
  bool dateToday = false;  // the user bits hold the labels' day (and time zone)
  std::optional<uint64_t> frames;       // then the run ends; none: at a stop
  std::optional<int32_t> sampleRate;    // as given: must be the server's
  int32_t channels = 1;
  std::optional<int32_t> timecodeChannel;  // 1-based; none: every channel
  std::string name = "stampline";
  std::vector<std::string> connect;
  double downstreamDelay = 0;  // seconds the signal takes after the card
};

// The wall clock a live run follows: the system's and its local time; a
// test stands in with its own.
struct WallClock {
  std::function<int64_t()> now;
  std::function<int64_t(int64_t wallNanos)> utcOffset;
};
// The system's (the test hook STAMPLINE_CLOCK_SHIFT names a file whose
// number of nanoseconds, read again at every reading, is added to it, so
// that a test can step the clock without setting the system's).
WallClock systemWallClock();

// Once a second: the label playing, how far its first edge left from its
// instant (time of day only), the card's rate against the clock, the
// xruns so far and the output's latency.
struct PlayStatus {
  TimecodeWord label = 0;
  bool dropFrame = false;
  std::optional<double> offsetMicros;
  double ppm = 0;
  uint64_t xruns = 0;
  double latencySamples = 0;
  uint32_t sampleRate = 0;
  double longestCallbackMicros = 0;  // the card's real-time callback, so far
};

// What happens on the way.
struct PlayEvent {
  enum class Type { kJump, kClockStep, kXrun, kUnderrun, kBufferSize };
  Type type = Type::kJump;
  TimecodeWord label = 0;  // a jump's new label
  bool dropFrame = false;
  int64_t nanos = 0;       // a clock step's size
  uint64_t count = 0;      // xruns, or samples missing
  uint32_t period = 0;     // the new buffer size
};

class PlayListener {
 public:
  virtual ~PlayListener() = default;
  // Playing: the ports and those they were connected to.
  virtual void started(const std::vector<std::string>& ports, const std::vector<std::string>& connected,
                       uint32_t sampleRate, uint32_t period) = 0;
  virtual void status(const PlayStatus& status) = 0;
  virtual void event(const PlayEvent& event) = 0;
  // Before the run's last line.
  virtual void finished() = 0;
};

// Plays `request` to `card` until its frames are played or a stop; returns
// the exit status: 0 when done; 1 after a line on `out` when the card
// refused or went away, or its sample rate changed; 128 + signal after
// "Interrupted after N frames".
int runPlay(const PlayRequest& request, CardSink& card, PlayListener& listener, std::FILE* out,
            const RunEnvironment& environment, const WallClock& clock);

// The same on a JACK client of its own.
int runPlayOnJack(const PlayRequest& request, PlayListener& listener, std::FILE* out,
                  const RunEnvironment& environment);

}  // namespace stampline

#endif  // STAMPLINE_RUN_PLAY_RUN_H_
