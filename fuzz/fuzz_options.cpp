// Option scanning under arbitrary command lines: the first byte chooses
// whether POSIXLY_CORRECT is set, the rest splits at NUL bytes into the
// argument vector. Whatever comes in, scanning must not crash, and a scan
// that lets the run go ahead must leave only values the run accepts: a
// sample rate of 16 to 384 kHz, 1 to 64 channels with the LTC on one of
// them (a mix counts its channels once it has read its input), a depth the
// writer writes, a rate LTC runs at, drop-frame only where it exists, an
// 11-character start.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_arguments.h"
#include "cli/options.h"
#include "timecode/label_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if ((data[0] & 1U) != 0) {
    setenv("POSIXLY_CORRECT", "1", 1);
  } else {
    unsetenv("POSIXLY_CORRECT");
  }
  std::vector<std::string> args = fuzzArguments(data, size);
  if (args.empty()) return 0;

  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  static std::FILE* sink = std::fopen("/dev/null", "w");
  stampline::Settings settings;
  if (stampline::scanOptions(static_cast<int>(args.size()), argv.data(), settings, sink) ==
      stampline::ScanResult::kRun) {
    const stampline::FrameRate& r = settings.frameRate;
    const bool knownRate = r == stampline::kRate23976 || r == stampline::kRate24 ||
                           r == stampline::kRate25 || r == stampline::kRate2997 ||
                           r == stampline::kRate30;
    const stampline::SampleFormat& f = settings.format;
    const bool knownDepth = f.floating ? f.bits == 32 : f.bits == 16 || f.bits == 24 || f.bits == 32;
    const bool ltcChannel = settings.mix || !settings.timecodeChannel ||
                            (*settings.timecodeChannel >= 1 && *settings.timecodeChannel <= settings.channels);
    const bool valid = settings.sampleRate >= 16000 && settings.sampleRate <= 384000 &&
                       settings.channels >= 1 && settings.channels <= 64 && ltcChannel && knownDepth && knownRate &&
                       settings.startText.size() == 11 &&
                       (!settings.dropFrame || settings.frameRate.nominal == 30);
    if (!valid) std::abort();
    (void)stampline::packTimecodeText(settings.startText);
  }
  return 0;
}
