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

uint32_t noiseSeed(const RunEnvironment& environment) {
  if (environment.noiseSeed) return *environment.noiseSeed;
  // The calendar clock in seconds, taken modulo 2^32.
  const int64_t seconds = environment.sourceDateEpoch.value_or(std::time(nullptr));
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds));
}

// Everything a run holds, made before its file is created or truncated, so
// that running out of memory loses nothing.
struct Run {
  explicit Run(const FrameSchedule& s) : schedule(s) {}
  FrameSchedule schedule;
  uint64_t frames = 0;
  WavLayout layout;
  std::unique_ptr<LtcEncoder> encoder;
  std::unique_ptr<BlockRenderer> blocks;
};

void prepare(Run& run, const Settings& settings, const RunEnvironment& environment) {
  run.frames = settings.durationFrames > 0 ? static_cast<uint64_t>(settings.durationFrames) : 0;
  run.layout.sampleRate = settings.sampleRate;
  run.layout.channels = settings.channels;
  run.layout.format = kPcm16;
  if (settings.broadcastWave) {
    run.layout.chunks = broadcastChunks(settings, run.schedule, run.layout.format,
                                        origination(settings, environment.sourceDateEpoch));
  }
  EncoderConfig config;
  config.volume = settings.volume;
  config.clean = settings.clean;
  config.noiseSeed = noiseSeed(environment);
  config.userBits = settings.userBits;
  config.channels = settings.channels;
  config.coding = outputCoding(run.layout.format);
  run.encoder = std::make_unique<LtcEncoder>(run.schedule, config);
  run.blocks = std::make_unique<BlockRenderer>(*run.encoder, run.frames, kBlockBytes);
}

// Writes the header and every block, until done, a failure or a stop.
IoResult writeBlocks(Run& run, WavWriter& wav, const RunEnvironment& environment) {
  const StopFlag stop = environment.stopSignal;
  const bool showProgress = run.schedule.frameStart(run.frames) >
                            static_cast<uint64_t>(kProgressMinSeconds) *
                                static_cast<uint64_t>(run.layout.sampleRate);
  ProgressLine progress(showProgress ? environment.progress : Terminal{}, run.frames,
                        run.schedule.frameStart(run.frames) * sampleFrameBytes(run.layout),
                        environment.clock);
  IoResult result = wav.begin(stop);
  BlockRenderer& blocks = *run.blocks;
  while (result == IoResult::kDone && !blocks.done()) {
    const std::span<const uint8_t> block = blocks.next();
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

int runGeneration(const Settings& settings, std::FILE* out, const RunEnvironment& environment) {
  const StopFlag stop = environment.stopSignal;
  Run run(FrameSchedule(settings.frameRate, settings.sampleRate,
                        packTimecodeText(settings.startText), settings.dropFrame));
  try {
    prepare(run, settings, environment);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory\n", out);
    return 1;
  }

  std::unique_ptr<OutputFile> file;
  const IoResult opened = openOutputFile(settings.outputPath, stop, file);
  if (opened == IoResult::kFailed) {
    std::fputs("Error opening file\n", out);
    return 1;
  }
  if (opened == IoResult::kStopped) {
    std::fputs("Interrupted after 0 frames\n", out);
    return 128 + stop->load();
  }

  const uint64_t frameBytes = sampleFrameBytes(run.layout);
  const auto wholeFrames = [&run, frameBytes](uint64_t dataBytes) {
    const uint64_t frames = run.schedule.completeFrames(dataBytes / frameBytes);
    return run.schedule.frameStart(frames) * frameBytes;
  };
  WavWriter wav(*file, run.layout, run.schedule.frameStart(run.frames) * frameBytes,
                environment.riffLimit, wholeFrames);
  IoResult result = writeBlocks(run, wav, environment);
  if (result == IoResult::kDone && !wav.finish()) result = IoResult::kFailed;
  uint64_t framesKept = run.frames;
  if (result != IoResult::kDone) framesKept = run.schedule.completeFrames(wav.cut() / frameBytes);
  const bool closed = file->close();
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

}  // namespace stampline
