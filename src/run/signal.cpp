#include "run/signal.h"

#include <ctime>

namespace stampline {

uint32_t noiseSeed(const RunEnvironment& environment) {
  if (environment.noiseSeed) return *environment.noiseSeed;
  const int64_t seconds = environment.sourceDateEpoch.value_or(std::time(nullptr));
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds));
}

SampleCoding outputCoding(SampleFormat format) {
  return {fullScale(format), !format.floating, bytesPerSample(format),
          [format](const double* values, size_t count, uint8_t* out) {
            encodeSamples(format, values, count, out);
          }};
}

EncoderConfig encoderConfig(const LtcSignal& signal, SampleFormat format, const RunEnvironment& environment) {
  EncoderConfig config;
  config.volume = signal.volume;
  config.clean = signal.clean;
  config.noiseSeed = noiseSeed(environment);
  config.userBits = signal.userBits;
  config.coding = outputCoding(format);
  return config;
}

}  // namespace stampline
