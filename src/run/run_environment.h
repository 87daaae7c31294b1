#ifndef STAMPLINE_RUN_RUN_ENVIRONMENT_H_
#define STAMPLINE_RUN_RUN_ENVIRONMENT_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/process.h"
#include "platform/stop.h"
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
  // derived from it and the request, so that two such runs give the same
  // file. None: the clock, local time and a random reference.
  std::optional<int64_t> sourceDateEpoch;
  // The time, for the progress line and for bringing the header up to date.
  std::function<std::chrono::steady_clock::time_point()> clock = std::chrono::steady_clock::now;
};

// The noise seed of a run: the fixed one, else the calendar clock's seconds
// (SOURCE_DATE_EPOCH's where given), taken modulo 2^32.
uint32_t noiseSeed(const RunEnvironment& environment);

}  // namespace stampline

#endif  // STAMPLINE_RUN_RUN_ENVIRONMENT_H_
