#ifndef STAMPLINE_RUN_OUTPUT_RUN_H_
#define STAMPLINE_RUN_OUTPUT_RUN_H_

#include <cstdint>
#include <cstdio>

#include "run/block_source.h"
#include "run/run_environment.h"
#include "run/sample_sink.h"
#include "timecode/frame_schedule.h"
#include "wav/wav_header.h"

namespace stampline {

// What a run writes: its frames on the schedule (`frames` of them, or as
// many as the source gives when `lengthKnown` is false) as samples of
// `layout`.
struct OutputPlan {
  explicit OutputPlan(const FrameSchedule& s) : schedule(s) {}
  FrameSchedule schedule;
  uint64_t frames = 0;
  bool lengthKnown = true;
  WavLayout layout;
  // The bytes of the frames, and the most of whole frames in `bytes`.
  uint64_t dataBytes() const { return schedule.frameStart(frames) * sampleFrameBytes(layout); }
  uint64_t wholeFrameBytes(uint64_t bytes) const;
};

// The output's blocks: whole frames of about this many bytes, each one
// write. LTC alone is rendered straight into its block, which stays in the
// processor's cache between rendering and the system's copy (1 MiB
// measured slower). A mix's blocks are made on the second core by a
// read-ahead and leave this core's cache whatever their size (256 KiB
// measured the same, 0.86 s against 0.85 s an hour), so they are larger,
// for fewer hand-overs between the threads.
inline constexpr uint64_t kRenderBlockBytes = uint64_t{256} << 10;
inline constexpr uint64_t kMixBlockBytes = uint64_t{1} << 20;

// The exit status of a run that was stopped by signal N: 128 + N.
inline constexpr int kStoppedBase = 128;
// The status of a stream tool whose reader has gone (SIGPIPE): 128 + 13.
inline constexpr int kReaderGoneStatus = 141;

// Writes every block of `source` to `sink` (open) as `plan` says, with
// every rule of a run: a progress line on long runs, a stop or a failure
// leaving whole frames, and the messages on `out` and exit statuses: 0 when
// complete; 1 after the source's message or the sink's failure; 128 +
// signal after "Interrupted after N frames"; 141, quietly, when the reader
// of a stream has gone.
int writeOutput(const OutputPlan& plan, BlockSource& source, SampleSink& sink, std::FILE* out,
                const RunEnvironment& environment);

// "Interrupted after N frames", and the status of the stop.
int interrupted(std::FILE* out, uint64_t frames, StopFlag stop);

}  // namespace stampline

#endif  // STAMPLINE_RUN_OUTPUT_RUN_H_
