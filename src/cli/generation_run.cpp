#include "cli/generation_run.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <new>

#include "cli/broadcast.h"
#include "cli/output_coding.h"
#include "cli/progress.h"
#include "synth/block_renderer.h"
#include "synth/ltc_encoder.h"
#include "timecode/frame_schedule.h"
#include "timecode/label_text.h"
#include "wav/output_file.h"
#include "wav/sample_format.h"
#include "wav/wav_writer.h"

namespace stampline {
namespace {

// Samples are rendered straight into a block of whole frames of about this
// size, and each block goes to the system with one write: large enough that
// the per-call cost vanishes, small enough that the block stays in the
// processor's cache between rendering and the system's copy (1 MiB measured
// slower).
constexpr uint64_t kBlockBytes = uint64_t{256} << 10;
// A run shorter than this many seconds of audio shows no progress line.
constexpr int kProgressMinSeconds = 5;
// The status of a stream tool ended by SIGPIPE: 128 + 13.
constexpr int kReaderGoneStatus = 141;

uint32_t noiseSeed(const RunEnvironment& environment) {
  if (environment.noiseSeed) return *environment.noiseSeed;
  // The calendar clock in seconds, taken modulo 2^32.
  const int64_t seconds = environment.sourceDateEpoch.value_or(std::time(nullptr));
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds));
}

// The blocks of a run of LTC alone.
class RenderedBlocks final : public BlockSource {
 public:
  RenderedBlocks(LtcEncoder& encoder, uint64_t frames) : blocks_(encoder, frames, kBlockBytes) {}
  bool done() const override { return blocks_.done(); }
  std::span<const uint8_t> next() override { return blocks_.next(); }
  uint64_t framesDone() const override { return blocks_.framesDone(); }
  TimecodeWord lastLabel() const override { return blocks_.lastLabel(); }

 private:
  BlockRenderer blocks_;
};

// Writes the header and every block, until done, a failure or a stop.
IoResult writeBlocks(const OutputPlan& plan, BlockSource& blocks, WavWriter& wav,
                     const RunEnvironment& environment) {
  const StopFlag stop = environment.stopSignal;
  const uint64_t samples = plan.schedule.frameStart(plan.frames);
  const bool showProgress =
      plan.lengthKnown &&
      samples > static_cast<uint64_t>(kProgressMinSeconds) * static_cast<uint64_t>(plan.layout.sampleRate);
  ProgressLine progress(showProgress ? environment.progress : Terminal{}, plan.frames,
                        samples * sampleFrameBytes(plan.layout), environment.clock);
  IoResult result = wav.begin(stop);
  while (result == IoResult::kDone && !blocks.done()) {
    const std::span<const uint8_t> block = blocks.next();
    if (block.empty()) {
      result = blocks.failed().empty() ? IoResult::kDone : IoResult::kFailed;
      break;
    }
    progress.update(blocks.framesDone() - 1, blocks.lastLabel());
    result = wav.append(block.data(), block.size(), stop, environment.clock());
    // A stop that comes after the last frame changes nothing: the run is done.
    if (result == IoResult::kDone && !blocks.done() && stopRequested(stop)) {
      result = IoResult::kStopped;
    }
  }
  progress.finish();
  return result;
}

}  // namespace

int writeOutput(const Settings& settings, const OutputPlan& plan, BlockSource& source, std::FILE* out,
                const RunEnvironment& environment) {
  const StopFlag stop = environment.stopSignal;
  std::unique_ptr<OutputFile> file;
  const IoResult opened = settings.toStandardOutput ? openStandardOutput(file)
                                                    : openOutputFile(settings.outputPath, stop, file);
  if (opened == IoResult::kFailed) {
    std::fputs("Error opening file\n", out);
    return 1;
  }
  if (opened == IoResult::kStopped) {
    std::fputs("Interrupted after 0 frames\n", out);
    return 128 + stop->load();
  }

  const FrameSchedule& schedule = plan.schedule;
  const uint64_t frameBytes = sampleFrameBytes(plan.layout);
  const auto wholeFrames = [&schedule, frameBytes](uint64_t dataBytes) {
    const uint64_t frames = schedule.completeFrames(dataBytes / frameBytes);
    return schedule.frameStart(frames) * frameBytes;
  };
  const uint64_t planned = plan.lengthKnown ? schedule.frameStart(plan.frames) * frameBytes : kUnknownDataBytes;
  WavWriter wav(*file, plan.layout, planned, environment.riffLimit, wholeFrames);
  IoResult result = writeBlocks(plan, source, wav, environment);
  if (result == IoResult::kDone && !wav.finish()) result = IoResult::kFailed;
  uint64_t framesKept = source.framesDone();
  if (result != IoResult::kDone) framesKept = schedule.completeFrames(wav.cut() / frameBytes);
  // A stream tool whose reader has gone ends quietly, as if by SIGPIPE.
  if (result == IoResult::kFailed && settings.toStandardOutput && readerGone(file->lastError())) {
    return kReaderGoneStatus;
  }
  const bool closed = file->close();
  if (!source.failed().empty()) {
    std::fprintf(out, "%s\n", source.failed().c_str());
    return 1;
  }
  if (result == IoResult::kFailed || !closed) {
    std::fputs("Error writing file\n", out);
    return 1;
  }
  if (result == IoResult::kStopped) {
    std::fprintf(out, "Interrupted after %llu frames\n",
                 static_cast<unsigned long long>(framesKept));
    return 128 + stop->load();
  }
  return 0;
}

int runGeneration(const Settings& settings, std::FILE* out, const RunEnvironment& environment) {
  // Everything a run holds is made before its file is created or
  // truncated, so that running out of memory loses nothing.
  OutputPlan plan(FrameSchedule(settings.frameRate, settings.sampleRate,
                                packTimecodeText(settings.startText), settings.dropFrame));
  std::unique_ptr<LtcEncoder> encoder;
  std::unique_ptr<BlockSource> blocks;
  try {
    plan.frames = settings.durationFrames > 0 ? static_cast<uint64_t>(settings.durationFrames) : 0;
    plan.layout.sampleRate = settings.sampleRate;
    plan.layout.channels = settings.channels;
    plan.layout.format = settings.format;
    if (settings.broadcastWave) {
      plan.layout.chunks = broadcastChunks(settings, plan.schedule, plan.layout,
                                           origination(settings, environment.sourceDateEpoch),
                                           ltcTrackNames(settings));
    }
    EncoderConfig config = encoderConfig(settings, environment);
    config.channels = settings.channels;
    if (settings.timecodeChannel) config.signalChannel = *settings.timecodeChannel - 1;
    encoder = std::make_unique<LtcEncoder>(plan.schedule, config);
    blocks = std::make_unique<RenderedBlocks>(*encoder, plan.frames);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory\n", out);
    return 1;
  }
  return writeOutput(settings, plan, *blocks, out, environment);
}

EncoderConfig encoderConfig(const Settings& settings, const RunEnvironment& environment) {
  EncoderConfig config;
  config.volume = settings.volume;
  config.clean = settings.clean;
  config.noiseSeed = noiseSeed(environment);
  config.userBits = settings.userBits;
  config.coding = outputCoding(settings.format);
  return config;
}

}  // namespace stampline
