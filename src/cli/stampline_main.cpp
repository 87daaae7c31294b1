#include "cli/stampline_main.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>
#include <new>

#include "cli/analysis_report.h"
#include "cli/options.h"
#include "cli/play_report.h"
#include "cli/run_requests.h"
#include "platform/process.h"
#include "run/analysis_run.h"
#include "run/generation_run.h"
#include "run/mix_run.h"

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

// The reports an analysis prints: the CSV's rows as they come (to a file,
// or to standard output, the text report then going to standard error),
// then the text report or the JSON document.
int analyze(const Settings& settings) {
  std::vector<AnalysisListener*> listeners;
  std::unique_ptr<CsvReport> csv;
  if (!settings.csvPath.empty()) {
    csv = std::make_unique<CsvReport>(settings.csvPath, stdout);
    listeners.push_back(csv.get());
  }
  JsonReport json(stdout);
  TextReport text(settings.csvPath == "-" ? stderr : stdout);
  listeners.push_back(settings.json ? static_cast<AnalysisListener*>(&json) : &text);
  return runAnalysis(analysisRequest(settings), listeners, stderr);
}

// Live output: text on the terminal and the messages, or JSON lines.
int play(const Settings& settings, std::FILE* messages) {
  const RunEnvironment environment = runEnvironment();
  TextPlayReport text(messages, environment.progress);
  JsonPlayReport json(stdout);
  PlayListener& listener = settings.json ? static_cast<PlayListener&>(json) : text;
  return runPlayOnJack(playRequest(settings), listener, settings.json ? stderr : messages, environment);
}

int run(int argc, char** argv, std::FILE* messages) {
  Settings settings;
  switch (scanOptions(argc, argv, settings, messages)) {
    case ScanResult::kRun:
      break;
    case ScanResult::kAnalyze:
      return analyze(settings);
    case ScanResult::kPlay:
      return play(settings, messages);
    case ScanResult::kFinished:
      return 0;
    case ScanResult::kRefused:
      return 1;
  }
  if (settings.mix) return runMix(mixRequest(settings), messages, runEnvironment());
  return runGeneration(generationRequest(settings), messages, runEnvironment());
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
