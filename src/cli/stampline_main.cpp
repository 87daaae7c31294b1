#include "cli/stampline_main.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "cli/analysis_run.h"
#include "cli/generation_run.h"
#include "cli/mix_run.h"
#include "cli/options.h"
#include "platform/process.h"

namespace stampline {
namespace {

// A whole decimal number from the environment, or `fallback`.
uint64_t environmentNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text < '0' || *text > '9') return fallback;
  return std::strtoull(text, nullptr, 10);
}

// What a run takes from the process and its environment.
RunEnvironment runEnvironment() {
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
  return environment;
}

int analyze(const Settings& settings) {
  AnalysisRequest request;
  request.path = settings.analyzePath;
  request.channel = settings.timecodeChannel;
  if (settings.frameRateGiven) request.rate = settings.frameRate;
  request.json = settings.json;
  request.csvPath = settings.csvPath;
  return runAnalysis(request, stdout, stderr);
}

int run(int argc, char** argv, std::FILE* messages) {
  Settings settings;
  switch (scanOptions(argc, argv, settings, messages)) {
    case ScanResult::kRun:
      break;
    case ScanResult::kAnalyze:
      return analyze(settings);
    case ScanResult::kFinished:
      return 0;
    case ScanResult::kRefused:
      return 1;
  }
  if (settings.mix) return runMix(settings, messages, runEnvironment());
  return runGeneration(settings, messages, runEnvironment());
}

}  // namespace

int stamplineMain(int argc, char** argv) {
  // Before anything is printed: messages go out as they are printed.
  prepareProcess();
  int status = 1;
  std::FILE* messages = stdout;
  try {
    // A file streamed to standard output leaves the messages standard error.
    if (writesStandardOutput(argc, argv)) messages = stderr;
    status = run(argc, argv, messages);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory\n", messages);
  }
  std::fflush(stdout);
  runFinished();
  return status;
}

}  // namespace stampline
