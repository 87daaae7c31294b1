#include "cli/generation_run.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <memory>
#include <new>

#include "cli/broadcast.h"
#include "cli/process.h"
#include "cli/progress.h"
#include "synth/ltc_encoder.h"
#include "wav/output_file.h"
#include "wav/wav_writer.h"

namespace stampline {
namespace {

// Samples are rendered straight into a block of whole frames of about this
// size, and each block goes to the system with one write: large enough that
// the per-call cost vanishes, small enough that the block stays in the
// processor's cache between rendering and the system's copy (1 MiB measured
// slower).
constexpr uint64_t kBlockBytes = uint64_t{256} << 10;
// Samples go out in the order the encoder renders them on little-endian
// machines, so each block can be rendered over the one before.
constexpr bool kRendersInPlace = std::endian::native == std::endian::little;
// A run shorter than this many seconds of audio shows no progress line.
constexpr int kProgressMinSeconds = 5;

struct AlignedDelete {
  void operator()(int16_t* p) const { ::operator delete[](p, std::align_val_t{4096}); }
};
using SampleBlock = std::unique_ptr<int16_t[], AlignedDelete>;

// What is known about a run before its file is touched.
struct RunPlan {
  FrameSchedule schedule;
  uint64_t frames = 0;
  uint64_t channels = 0;
  uint64_t sampleFrameBytes = 0;  // 2 bytes a channel
  uint64_t dataBytes = 0;         // of every frame
  uint64_t framesPerBlock = 0;
  uint64_t blockValues = 0;       // room for that many frames of the longer length
};

RunPlan planRun(const Settings& settings) {
  RunPlan plan;
  plan.schedule = FrameSchedule(settings.frameRate, settings.sampleRate,
                                packTimecodeText(settings.startText), settings.dropFrame);
  plan.frames = settings.durationFrames > 0 ? static_cast<uint64_t>(settings.durationFrames) : 0;
  plan.channels = static_cast<uint64_t>(settings.channels);
  plan.sampleFrameBytes = 2 * plan.channels;
  plan.dataBytes = plan.schedule.frameStart(plan.frames) * plan.sampleFrameBytes;
  const uint64_t longestFrameBytes = plan.schedule.longestFrame() * plan.sampleFrameBytes;
  plan.framesPerBlock = std::clamp<uint64_t>(kBlockBytes / longestFrameBytes, 1,
                                             std::max<uint64_t>(plan.frames, 1));
  // Blocks that hold whole periods of the frame lengths put every frame
  // where the block before had one of the same length, so the encoder can
  // bring the block up to date in place.
  const uint64_t period = plan.schedule.lengthPeriod();
  if (plan.framesPerBlock >= period) plan.framesPerBlock -= plan.framesPerBlock % period;
  plan.blockValues = plan.framesPerBlock * plan.schedule.longestFrame() * plan.channels;
  return plan;
}

// A whole decimal number from the environment, or `fallback`.
uint64_t environmentNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text < '0' || *text > '9') return fallback;
  return std::strtoull(text, nullptr, 10);
}

int writeFailed(std::FILE* out) {
  std::fputs("Error writing file\n", out);
  return 1;
}

}  // namespace

int runGeneration(const Settings& settings, std::FILE* out, const RunEnvironment& environment) {
  const RunPlan plan = planRun(settings);
  const StopFlag stop = environment.stopSignal;

  // Everything the run needs is allocated before the file is created or
  // truncated, so running out of memory loses nothing.
  std::unique_ptr<LtcEncoder> encoder;
  SampleBlock block;
  WavLayout layout;
  layout.sampleRate = settings.sampleRate;
  layout.channels = settings.channels;
  try {
    if (settings.broadcastWave) {
      layout.chunks = broadcastChunks(settings, plan.schedule,
                                      origination(settings, environment.sourceDateEpoch));
    }
    encoder = std::make_unique<LtcEncoder>();
    const uint32_t seed = environment.noiseSeed.value_or(
        environment.sourceDateEpoch ? static_cast<uint32_t>(*environment.sourceDateEpoch)
                                    : LtcEncoder::clockSeed());
    encoder->setup(packTimecodeText(settings.startText), settings.sampleRate, settings.channels,
                   settings.frameRate, settings.dropFrame, settings.volume, settings.clean, seed);
    encoder->setUserBits(settings.userBits);
    block.reset(new (std::align_val_t{4096}) int16_t[plan.blockValues]());
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory\n", out);
    return 1;
  }

  OutputFile file;
  const IoResult opened = file.open(settings.outputPath, stop);
  if (opened == IoResult::kFailed) {
    std::fputs("Error opening file\n", out);
    return 1;
  }
  if (opened == IoResult::kStopped) {
    std::fputs("Interrupted after 0 frames\n", out);
    return 128 + stop->load();
  }

  const auto wholeFrames = [&plan](uint64_t dataBytes) {
    const uint64_t frames = plan.schedule.completeFrames(dataBytes / plan.sampleFrameBytes);
    return plan.schedule.frameStart(frames) * plan.sampleFrameBytes;
  };
  WavWriter wav(file, layout, plan.dataBytes, environment.riffLimit, wholeFrames);

  const bool showProgress = plan.schedule.frameStart(plan.frames) >
                            static_cast<uint64_t>(kProgressMinSeconds) *
                                static_cast<uint64_t>(settings.sampleRate);
  ProgressLine progress(showProgress ? environment.progress : Terminal{}, plan.frames,
                        plan.dataBytes, environment.clock);

  IoResult result = wav.begin(stop);
  uint64_t framesDone = 0;
  while (result == IoResult::kDone && framesDone < plan.frames) {
    const uint64_t count = std::min(plan.framesPerBlock, plan.frames - framesDone);
    const uint64_t first = plan.schedule.frameStart(framesDone);
    const auto values =
        static_cast<uint32_t>((plan.schedule.frameStart(framesDone + count) - first) * plan.channels);
    // The block still holds the last one as rendered, unless its bytes had
    // to be swapped into little-endian order.
    if (encoder->render(block.get(), first, values, framesDone > 0 && kRendersInPlace) != values) {
      result = IoResult::kFailed;
      break;
    }
    progress.update(framesDone + count - 1, encoder->currentTc());
    samplesToLittleEndian(block.get(), values);
    result = wav.append(block.get(), size_t{values} * 2, stop, environment.clock());
    if (result != IoResult::kDone) break;
    framesDone += count;
    // A stop that comes after the last frame changes nothing: the run is done.
    if (framesDone < plan.frames && stopRequested(stop)) result = IoResult::kStopped;
  }
  progress.finish();

  if (result == IoResult::kDone && !wav.finish()) result = IoResult::kFailed;
  uint64_t framesKept = plan.frames;
  if (result != IoResult::kDone) {
    framesKept = plan.schedule.completeFrames(wav.cut() / plan.sampleFrameBytes);
  }
  const bool closed = file.close();
  if (result == IoResult::kFailed || !closed) return writeFailed(out);
  if (result == IoResult::kStopped) {
    std::fprintf(out, "Interrupted after %llu frames\n",
                 static_cast<unsigned long long>(framesKept));
    return 128 + stop->load();
  }
  return 0;
}

int stamplineMain(int argc, char** argv) {
  // Before anything is printed: messages go out as they are printed.
  prepareProcess();
  int status = 1;
  try {
    Settings settings;
    switch (scanOptions(argc, argv, settings, stdout)) {
      case ScanResult::kRun:
        break;
      case ScanResult::kFinished:
        return 0;
      case ScanResult::kRefused:
        return 1;
    }
    RunEnvironment environment;
    environment.stopSignal = installStopHandlers();
    environment.progress = standardErrorTerminal();
    // Test hooks: a fixed noise seed makes runs comparable byte for byte
    // across builds, and a small limit shows the RF64 header without
    // writing 4 GiB (a larger one than the sizes can hold is no limit).
    if (const uint64_t seed = environmentNumber("STAMPLINE_NOISE_SEED", 0); seed != 0) {
      environment.noiseSeed = static_cast<uint32_t>(seed & 0xFFFFFFFFU);
    }
    if (std::getenv("SOURCE_DATE_EPOCH") != nullptr) {
      const uint64_t epoch = environmentNumber("SOURCE_DATE_EPOCH", UINT64_MAX);
      if (epoch <= static_cast<uint64_t>(INT64_MAX)) {
        environment.sourceDateEpoch = static_cast<int64_t>(epoch);
      }
    }
    environment.riffLimit =
        std::min(environmentNumber("STAMPLINE_RIFF_LIMIT", kMaxRiffDataBytes), kMaxRiffDataBytes);
    status = runGeneration(settings, stdout, environment);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory\n", stdout);
  }
  std::fflush(stdout);
  runFinished();
  return status;
}

}  // namespace stampline
