#include "run/output_run.h"

#include "run/progress.h"

namespace stampline {
namespace {

// A run shorter than this many seconds of audio shows no progress line.
constexpr int kProgressMinSeconds = 5;

// Writes the first part and every block, until done, a failure or a stop.
IoResult writeBlocks(const OutputPlan& plan, BlockSource& blocks, SampleSink& sink,
                     const RunEnvironment& environment) {
  const StopFlag stop = environment.stopSignal;
  const uint64_t samples = plan.schedule.frameStart(plan.frames);
  const bool showProgress =
      plan.lengthKnown &&
      samples > static_cast<uint64_t>(kProgressMinSeconds) * static_cast<uint64_t>(plan.layout.sampleRate);
  ProgressLine progress(showProgress ? environment.progress : Terminal{}, plan.frames,
                        samples * sampleFrameBytes(plan.layout), environment.clock);
  IoResult result = sink.begin(stop);
  while (result == IoResult::kDone && !blocks.done()) {
    const std::span<const uint8_t> block = blocks.next();
    if (block.empty()) {
      // Nothing more: the source failed, or its input stopped on a request.
      result = !blocks.failed().empty() ? IoResult::kFailed
               : stopRequested(stop)    ? IoResult::kStopped
                                        : IoResult::kDone;
      break;
    }
    progress.update(blocks.framesDone() - 1, blocks.lastLabel());
    result = sink.append(block, stop, environment.clock());
    // A stop that comes after the last frame changes nothing: the run is done.
    if (result == IoResult::kDone && !blocks.done() && stopRequested(stop)) {
      result = IoResult::kStopped;
    }
  }
  progress.finish();
  return result;
}

}  // namespace

uint64_t OutputPlan::wholeFrameBytes(uint64_t bytes) const {
  const uint64_t frameBytes = sampleFrameBytes(layout);
  return schedule.frameStart(schedule.completeFrames(bytes / frameBytes)) * frameBytes;
}

int interrupted(std::FILE* out, uint64_t frames, StopFlag stop) {
  std::fprintf(out, "Interrupted after %llu frames\n", static_cast<unsigned long long>(frames));
  return kStoppedBase + stop->load();
}

int writeOutput(const OutputPlan& plan, BlockSource& source, SampleSink& sink, std::FILE* out,
                const RunEnvironment& environment) {
  IoResult result = writeBlocks(plan, source, sink, environment);
  if (result == IoResult::kDone && !sink.finish()) result = IoResult::kFailed;
  uint64_t framesKept = source.framesDone();
  if (result != IoResult::kDone) {
    framesKept = plan.schedule.completeFrames(sink.cut() / sampleFrameBytes(plan.layout));
  }
  // A stream tool whose reader has gone ends quietly, as if by SIGPIPE.
  if (result == IoResult::kFailed && sink.readerGone()) return kReaderGoneStatus;
  const bool closed = sink.close();
  if (!source.failed().empty()) {
    std::fprintf(out, "%s\n", source.failed().c_str());
    return 1;
  }
  if (result == IoResult::kFailed || !closed) {
    std::fprintf(out, "%s\n", sink.failure().c_str());
    return 1;
  }
  if (result == IoResult::kStopped) return interrupted(out, framesKept, environment.stopSignal);
  return 0;
}

}  // namespace stampline
