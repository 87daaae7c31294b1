// Arbitrary bytes as the input of --mix, read as a regular file or as a
// stream: its chunks carried (bext with the LTC's time stamp, iXML with an
// LTC track, the others before or after the data where they stood), its
// samples interleaved with the LTC and the whole file written to
// /dev/null. Nothing may crash, hang or throw, whatever the header claims;
// a run is at most a few frames long.
#include <cstdint>
#include <cstdio>
#include <string>

#include "run/mix_run.h"
#include "wav/input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) return 0;
  const std::unique_ptr<stampline::InputFile> input =
      stampline::memoryInput(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), (choice & 1U) != 0);
  stampline::MixRequest request;
  request.inputPath = "fuzz.wav";
  request.output.path = "/dev/null";
  request.frames = (choice >> 4) % 8;
  request.broadcastWave = (choice & 2U) != 0;
  if ((choice & 4U) != 0) request.timecodeChannel = 1;
  if ((choice & 8U) != 0) request.signal.rate = stampline::kRate2997;
  stampline::RunEnvironment environment;
  environment.noiseSeed = 1;
  stampline::mixInput(*input, request, sink, environment);
  return 0;
}
