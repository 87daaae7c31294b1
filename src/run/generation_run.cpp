#include "run/generation_run.h"

#include <memory>
#include <new>

#include "run/broadcast.h"
#include "run/output_run.h"
#include "synth/block_renderer.h"
#include "synth/ltc_encoder.h"
#include "timecode/frame_schedule.h"

namespace stampline {
namespace {

// The blocks of a run of LTC alone.
class RenderedBlocks final : public BlockSource {
 public:
  RenderedBlocks(LtcEncoder& encoder, uint64_t frames) : blocks_(encoder, frames, kRenderBlockBytes) {}
  bool done() const override { return blocks_.done(); }
  std::span<const uint8_t> next() override { return blocks_.next(); }
  uint64_t framesDone() const override { return blocks_.framesDone(); }
  TimecodeWord lastLabel() const override { return blocks_.lastLabel(); }

 private:
  BlockRenderer blocks_;
};

}  // namespace

bool openSink(WavSink& sink, const WavOutput& output, std::FILE* out, StopFlag stop, int& status) {
  const IoResult opened = sink.open(output, stop);
  if (opened == IoResult::kFailed) {
    std::fputs("Error opening file\n", out);
    status = 1;
  } else if (opened == IoResult::kStopped) {
    status = interrupted(out, 0, stop);
  }
  return opened == IoResult::kDone;
}

int runGeneration(const GenerationRequest& request, std::FILE* out, const RunEnvironment& environment) {
  // Everything a run holds is made before its file is created or
  // truncated, so that running out of memory loses nothing.
  const LtcSignal& signal = request.signal;
  OutputPlan plan(FrameSchedule(signal.rate, request.sampleRate, signal.start, signal.dropFrame));
  std::unique_ptr<LtcEncoder> encoder;
  std::unique_ptr<BlockSource> blocks;
  std::unique_ptr<WavSink> sink;
  try {
    plan.frames = request.frames;
    plan.layout.sampleRate = request.sampleRate;
    plan.layout.channels = request.channels;
    plan.layout.format = request.format;
    if (request.broadcastWave) {
      plan.layout.chunks = broadcastChunks(signal, plan.schedule, plan.layout,
                                           origination(request.identity, environment.sourceDateEpoch),
                                           ltcTrackNames(request.channels, request.timecodeChannel))
                               .both();
    }
    EncoderConfig config = encoderConfig(signal, request.format, environment);
    config.channels = request.channels;
    if (request.timecodeChannel) config.signalChannel = *request.timecodeChannel - 1;
    encoder = std::make_unique<LtcEncoder>(plan.schedule, config);
    blocks = std::make_unique<RenderedBlocks>(*encoder, plan.frames);
    sink = std::make_unique<WavSink>(plan.layout, plan.dataBytes(), environment.riffLimit,
                                     [&plan](uint64_t bytes) { return plan.wholeFrameBytes(bytes); });
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory\n", out);
    return 1;
  }
  int status = 0;
  if (!openSink(*sink, request.output, out, environment.stopSignal, status)) return status;
  return writeOutput(plan, *blocks, *sink, out, environment);
}

}  // namespace stampline
