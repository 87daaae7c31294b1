// The encoder under arbitrary sample and frame rates, volumes and start words,
// rendering at arbitrary positions with arbitrary limits into a buffer with
// guard zones: a call must never report more than it was allowed, never touch
// a value beyond the ones it reports, and never touch the guards; and a
// buffer brought up to date in place must hold what a fresh render writes.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "run/signal.h"
#include "synth/ltc_encoder.h"

namespace {

// Reads fuzz bytes little by little; past the end it reads zeros.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t take(size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) {
      value |= static_cast<uint64_t>(at_ < size_ ? data_[at_] : 0) << (8 * i);
      ++at_;
    }
    return value;
  }
  bool done() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr int16_t kGuard = 0x5A5A;
constexpr size_t kGuardValues = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint64_t choice = in.take(1);
  // Every rate, the highest (whose set-up costs most) less often.
  const int32_t rates[] = {16000, 22050, 44100, 48000, 44056, 32000, 47999, 96000,
                           16001, 22050, 44100, 48000, 88200, 24000, 192000, 384000};
  const stampline::FrameRate frameRates[] = {stampline::kRate23976, stampline::kRate24,
                                             stampline::kRate25, stampline::kRate2997,
                                             stampline::kRate30};
  const uint64_t more = in.take(1);
  const int32_t sampleRate = rates[choice & 15U];
  const stampline::FrameRate frameRate = frameRates[(choice >> 4) % 5];
  const int32_t channels = (more & 1U) != 0 ? 2 : 1;
  const bool dropFrame = (more & 2U) != 0;
  const bool clean = (more & 4U) != 0;
  double volume = 0;
  const uint64_t volumeBits = in.take(8);
  std::memcpy(&volume, &volumeBits, sizeof volume);
  const auto start = static_cast<stampline::TimecodeWord>(in.take(4));

  stampline::EncoderConfig config;
  config.volume = volume;
  config.clean = clean;
  config.noiseSeed = 7;
  config.channels = channels;
  config.coding = stampline::outputCoding(stampline::kPcm16);
  const stampline::FrameSchedule schedule(frameRate, sampleRate, start, dropFrame);
  stampline::LtcEncoder encoder(schedule, config);
  // A second encoder renders the same calls into a buffer nothing else
  // touches, updating it in place; it must always agree with the first.
  stampline::LtcEncoder updating(schedule, config);
  // Room for a bit over three of the run's longest frames.
  const auto mostValues =
      static_cast<uint32_t>(3 * encoder.schedule().longestFrame() * static_cast<uint64_t>(channels) + 77);
  std::vector<int16_t> kept(mostValues);

  std::vector<int16_t> buffer(kGuardValues + mostValues + kGuardValues);
  int16_t* const first = buffer.data() + kGuardValues;
  for (int call = 0; call < 8 && !in.done(); ++call) {
    // Positions mostly near frame starts, sometimes anywhere below 2^48.
    uint64_t position = in.take(6);
    if ((position & 1U) == 0) {
      position = encoder.schedule().frameStart((position >> 1) % 100000000);
    }
    const auto maxValues = static_cast<uint32_t>(in.take(2) % (mostValues + 1));
    std::fill(buffer.begin(), buffer.end(), kGuard);
    const uint32_t count = encoder.render(reinterpret_cast<uint8_t*>(first), position, maxValues);
    if (count > maxValues) std::abort();
    if (updating.render(reinterpret_cast<uint8_t*>(kept.data()), position, maxValues, true) != count ||
        !std::equal(first, first + count, kept.begin())) {
      std::abort();
    }
    for (size_t i = 0; i < kGuardValues; ++i) {
      if (buffer[i] != kGuard) std::abort();
    }
    for (size_t i = kGuardValues + count; i < buffer.size(); ++i) {
      if (buffer[i] != kGuard) std::abort();
    }
    // Whatever the volume, no sample exceeds full scale.
    for (uint32_t i = 0; i < count; ++i) {
      if (first[i] < -32767) std::abort();
    }
  }
  return 0;
}
