#ifndef STAMPLINE_RUN_GENERATION_RUN_H_
#define STAMPLINE_RUN_GENERATION_RUN_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "run/signal.h"
#include "run/run_environment.h"
#include "run/wav_sink.h"
#include "wav/sample_format.h"

namespace stampline {

// A file of LTC alone.
struct GenerationRequest {
  WavOutput output;
  LtcSignal signal;
  int32_t sampleRate = 44100;
  int32_t channels = 2;
  SampleFormat format = kPcm16;
  // The one channel (1-based) that carries the LTC, the others silent;
  // none: every channel.
  std::optional<int32_t> timecodeChannel;
  uint64_t frames = 1800;
  bool broadcastWave = false;  // bext and iXML chunks with the start's time stamp
  // What tells this file from others made at the same moment (the request
  // as text), for a reproducible Broadcast Wave reference.
  std::string identity;
};

// Writes the LTC WAV file that `request` (already validated) describes and
// returns the exit status: 0 when the file is complete and durable; 1, after
// "Out of memory", "Error opening file" or "Error writing file" on `out`,
// when it could not be made, created or written; 128 + signal after
// "Interrupted after N frames" when stopped early; 141, quietly, when the
// reader of standard output has gone.
int runGeneration(const GenerationRequest& request, std::FILE* out, const RunEnvironment& environment);

// Opens `sink` on `output`: false after "Error opening file" or "Interrupted
// after 0 frames" on `out`, with the exit status in `status`.
bool openSink(WavSink& sink, const WavOutput& output, std::FILE* out, StopFlag stop, int& status);

}  // namespace stampline

#endif  // STAMPLINE_RUN_GENERATION_RUN_H_
