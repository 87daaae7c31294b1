#include "cli/generation_run.h"

#include <unistd.h>

#include <memory>
#include <vector>

#include "cli/progress.h"
#include "synth/ltc_encoder.h"

namespace stampline {
namespace {

// A large stdio buffer turns the one write per frame into few system calls.
constexpr size_t kFileBufferBytes = size_t{1} << 20;
// A run shorter than this many seconds of audio shows no progress line.
constexpr int kProgressMinSeconds = 5;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void requestStop(int signalNumber) { gStopSignal = signalNumber; }

void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  // Restarted system calls keep a frame's write whole when a signal lands.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int writeFailed(std::FILE* out) {
  std::fputs("Error writing file\n", out);
  return 1;
}

}  // namespace

int runGeneration(const Settings& settings, std::FILE* out, const RunEnvironment& environment) {
  const auto fps = static_cast<int32_t>(settings.framesPerSecond);
  const auto samplesPerFrame =
      static_cast<int32_t>(static_cast<double>(settings.sampleRate) / settings.framesPerSecond);
  const uint64_t frames = settings.durationFrames > 0 ? static_cast<uint64_t>(settings.durationFrames) : 0;
  const uint64_t valuesPerFrame =
      static_cast<uint64_t>(samplesPerFrame) * static_cast<uint64_t>(settings.channels);
  // Known before the first byte, so the header can be chosen up front.
  const WavFormat format = wavFormatFor(frames * valuesPerFrame * 2, environment.riffLimit);

  // Owners are declared so that destruction releases the file first, then the
  // sample buffer, then the encoder; the stdio buffer outlives the file.
  std::unique_ptr<LtcEncoder> encoder;
  std::vector<int16_t> sampleBuffer;
  std::vector<char> fileBuffer(kFileBufferBytes);
  FilePtr file(std::fopen(settings.outputPath.c_str(), "wb"));
  if (!file) {
    std::fputs("Error opening file\n", out);
    return 1;
  }
  encoder = std::make_unique<LtcEncoder>();
  std::setvbuf(file.get(), fileBuffer.data(), _IOFBF, fileBuffer.size());

  const TimecodeWord start = packTimecodeText(settings.startText);
  const uint32_t seed =
      environment.noiseSeed != 0 ? environment.noiseSeed : LtcEncoder::clockSeed();
  encoder->setup(start, settings.sampleRate, settings.channels, fps, settings.dropFrame,
                 settings.volume, settings.clean, seed);

  const bool headerWritten = format == WavFormat::kRiff
                                 ? writeWavHeader(file.get(), settings.sampleRate, settings.channels)
                                 : writeRf64Header(file.get(), settings.sampleRate, settings.channels);
  if (!headerWritten) return writeFailed(out);

  sampleBuffer.resize(static_cast<size_t>(settings.sampleRate) * static_cast<size_t>(settings.channels));
  const bool showProgress = frames > static_cast<uint64_t>(kProgressMinSeconds) * static_cast<uint64_t>(fps);
  ProgressLine progress(showProgress ? environment.progress : nullptr, frames);

  uint64_t dataBytes = 0;
  uint64_t samplePosition = 0;
  uint64_t framesWritten = 0;
  int stopSignal = 0;
  while (framesWritten < frames) {
    const uint32_t count = encoder->render(sampleBuffer.data(), samplePosition,
                                           static_cast<uint32_t>(valuesPerFrame));
    progress.update(framesWritten, encoder->currentTc());
    if (!writeSamples(file.get(), sampleBuffer.data(), count)) {
      progress.finish();
      return writeFailed(out);
    }
    dataBytes += 2 * uint64_t{count};
    samplePosition += static_cast<uint64_t>(samplesPerFrame);
    ++framesWritten;
    if (environment.stopSignal != nullptr && *environment.stopSignal != 0) {
      stopSignal = *environment.stopSignal;
      break;
    }
  }
  progress.finish();

  const bool patched =
      format == WavFormat::kRiff
          ? patchWavSizes(file.get(), static_cast<uint32_t>(dataBytes))
          : patchRf64Sizes(file.get(), dataBytes,
                           dataBytes / (2 * static_cast<uint64_t>(settings.channels)));
  const bool closed = std::fclose(file.release()) == 0;
  if (!patched || !closed) return writeFailed(out);

  if (stopSignal != 0) {
    std::fprintf(out, "Interrupted after %llu frames\n",
                 static_cast<unsigned long long>(framesWritten));
    return 128 + stopSignal;
  }
  return 0;
}

int stamplineMain(int argc, char** argv) {
  Settings settings;
  if (!scanOptions(argc, argv, settings, stdout)) return 1;

  gStopSignal = 0;
  installStopHandlers();
  RunEnvironment environment;
  environment.stopSignal = &gStopSignal;
  environment.progress = isatty(STDERR_FILENO) != 0 ? stderr : nullptr;
  return runGeneration(settings, stdout, environment);
}

}  // namespace stampline
