#ifndef STAMPLINE_CLI_GENERATION_RUN_H_
#define STAMPLINE_CLI_GENERATION_RUN_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "cli/options.h"
#include "platform/process.h"
#include "platform/stop.h"
#include "synth/ltc_encoder.h"
#include "timecode/frame_schedule.h"
#include "wav/wav_header.h"

namespace stampline {

// What a run takes from its surroundings, so tests can stand in for them.
struct RunEnvironment {
  // Set (from a signal handler) to the number of the signal that asks the run
  // to stop; the run then finishes the block being written, completes the
  // file for the frames written and returns 128 + that number. Null: never.
  StopFlag stopSignal = nullptr;
  // Where the progress line of long runs goes (no stream: none).
  Terminal progress;
  // Sample data beyond this many bytes needs RF64 (a test hook).
  uint64_t riffLimit = kMaxRiffDataBytes;
  // Clock seconds that seed the noise; none: the calendar clock.
  std::optional<uint32_t> noiseSeed;
  // A fixed time for everything a run takes from the calendar clock (the
  // reproducible-builds convention SOURCE_DATE_EPOCH): the noise seed, and a
  // Broadcast Wave file's origination, shown in UTC, and its reference,
  // derived from it and the settings, so that two such runs give the same
  // file. None: the clock, local time and a random reference.
  std::optional<int64_t> sourceDateEpoch;
  // The time, for the progress line and for bringing the header up to date.
  std::function<std::chrono::steady_clock::time_point()> clock = std::chrono::steady_clock::now;
};

// Writes the LTC WAV file that `settings` (already validated) describe and
// returns the exit status: 0 when the file is complete and durable; 1, after
// "Out of memory", "Error opening file" or "Error writing file" on `out`,
// when it could not be made, created or written; 128 + signal after
// "Interrupted after N frames" when stopped early; 141, quietly, when the
// reader of standard output (--output=-) has gone.
int runGeneration(const Settings& settings, std::FILE* out, const RunEnvironment& environment);

// Where the blocks of a run's file come from: the output's bytes, whole
// frames at a time.
class BlockSource {
 public:
  virtual ~BlockSource() = default;
  virtual bool done() const = 0;
  // The next block, valid until the next call; empty when it could not be
  // made (failed() then says so).
  virtual std::span<const uint8_t> next() = 0;
  // Frames given so far, and the label of the last of them.
  virtual uint64_t framesDone() const = 0;
  virtual TimecodeWord lastLabel() const = 0;
  // A block could not be made: the message to print, else empty.
  virtual std::string failed() const { return {}; }
};

// What a run writes: its frames on the schedule (`frames` of them, or as
// many as the source gives when `lengthKnown` is false) as a file of
// `layout`.
struct OutputPlan {
  explicit OutputPlan(const FrameSchedule& s) : schedule(s) {}
  FrameSchedule schedule;
  uint64_t frames = 0;
  bool lengthKnown = true;
  WavLayout layout;
};

// Creates the file (or takes standard output) and writes `source` into it
// as `plan` says, with every rule of a run: the header kept true, a stop
// or a failure leaving whole frames, the messages and exit statuses of
// runGeneration.
int writeOutput(const Settings& settings, const OutputPlan& plan, BlockSource& source, std::FILE* out,
                const RunEnvironment& environment);

// The encoder's settings for a run's signal (level, noise, user bits, the
// output's sample format) on one channel; the caller sets the channels.
EncoderConfig encoderConfig(const Settings& settings, const RunEnvironment& environment);

}  // namespace stampline

#endif  // STAMPLINE_CLI_GENERATION_RUN_H_
